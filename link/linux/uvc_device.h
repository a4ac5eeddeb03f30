#pragma once
// The device layer: video nodes opened read-write, and the uvcvideo
// extension-unit query (UVCIOC_CTRL_QUERY) on them. Failures come back as
// the errno the kernel gave, untranslated.
#include <cstdint>
#include <memory>
#include <string>

namespace nerova::link::linux_stack {

// Request codes of the queries in use (linux/usb/video.h).
constexpr std::uint8_t kUvcSetCur = 0x01;
constexpr std::uint8_t kUvcGetCur = 0x81;
constexpr std::uint8_t kUvcGetLen = 0x85;

// One open video node.
class UvcDevice {
 public:
  virtual ~UvcDevice() = default;
  // One query of control `selector` of extension unit `unit`. `data` holds
  // `size` bytes: sent by SET_CUR, filled by GET_CUR and GET_LEN. 0 or errno.
  virtual int Query(std::uint8_t unit, std::uint8_t selector, std::uint8_t query,
                    std::uint16_t size, std::uint8_t* data) = 0;
};

class UvcDeviceOpener {
 public:
  virtual ~UvcDeviceOpener() = default;
  // Opens `path` (e.g. "/dev/video0") for reading and writing. 0 or errno.
  virtual int Open(const std::string& path, std::unique_ptr<UvcDevice>& out) = 0;
  // The name of the group owning `path`, empty when it cannot be told (for
  // the advice after a refused open).
  virtual std::string OwningGroup(const std::string& path) = 0;
};

// The kernel's devices.
class KernelUvcDeviceOpener final : public UvcDeviceOpener {
 public:
  int Open(const std::string& path, std::unique_ptr<UvcDevice>& out) override;
  std::string OwningGroup(const std::string& path) override;
};

}  // namespace nerova::link::linux_stack
