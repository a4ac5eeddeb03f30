#pragma once
// What the Linux stack's tests stand on: a sysfs tree laid out in a temporary
// directory as the kernel lays it out for USB video devices, the descriptor
// blobs of a UVC 1.1 receiver and of a webcam, and a scripted device layer
// that answers UVCIOC_CTRL_QUERY with the driver's rules and error codes and
// records every query.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cerrno>
#include <cstdio>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "link/guid.h"
#include "link/linux/uvc_device.h"

namespace nerova::link::linux_stack::testing {

namespace fs = std::filesystem;
using Blob = std::vector<std::uint8_t>;

// A temporary directory, removed with everything in it when the owner goes.
class TemporaryTree {
 public:
  TemporaryTree() {
    std::string pattern = (fs::temp_directory_path() / "nerova-sysfs-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    m_root = pattern;
  }
  TemporaryTree(const TemporaryTree&) = delete;
  TemporaryTree& operator=(const TemporaryTree&) = delete;
  ~TemporaryTree() {
    std::error_code ignoredBecauseTeardown;
    fs::remove_all(m_root, ignoredBecauseTeardown);
  }

  const fs::path& Root() const { return m_root; }
  void Write(const std::string& path, const std::string& content) const {
    fs::create_directories((m_root / path.substr(1)).parent_path());
    std::ofstream(m_root / path.substr(1), std::ios::binary) << content;
  }
  void Write(const std::string& path, const Blob& content) const {
    Write(path, std::string(content.begin(), content.end()));
  }
  // A relative link, as sysfs makes them, so that it stays inside the tree.
  void Link(const std::string& path, const std::string& target) const {
    const fs::path at = m_root / path.substr(1);
    fs::create_directories(at.parent_path());
    fs::create_directories(m_root / target.substr(1));
    fs::create_symlink(fs::path(target).lexically_relative(fs::path(path).parent_path()), at);
  }

 private:
  fs::path m_root;
};

inline constexpr Guid kWebcamUnit = Guid::FromFields(
    0x63610682, 0x5070, 0x49AB, {0xB8, 0xCC, 0xB3, 0x85, 0x5E, 0x8D, 0x22, 0x1D});

// Unit ids of the blobs below.
constexpr std::uint8_t kCameraTerminalId = 1;
constexpr std::uint8_t kProcessingUnitId = 2;
constexpr std::uint8_t kProbeUnitId = 3;
constexpr std::uint8_t kSettingsUnitId = 4;
constexpr std::uint8_t kOutputTerminalId = 5;

inline void Append(Blob& blob, std::initializer_list<std::uint8_t> bytes) {
  blob.insert(blob.end(), bytes);
}

inline Blob ExtensionUnit(std::uint8_t id, const Guid& code, std::uint8_t source) {
  Blob d{27, 0x24, 0x06, id};
  d.insert(d.end(), code.bytes.begin(), code.bytes.end());
  Append(d, {8, 1, source, 2, 0xFF, 0x00, 0});  // controls, one pin, 2-byte bitmap, no string
  return d;
}

// A USB 2.0 device with one configuration: an interface association, the
// VideoControl interface 0 (camera terminal, processing unit, the given
// extension units in a chain, streaming output terminal, interrupt endpoint)
// and VideoStreaming interface 1 with an MJPEG format.
inline Blob VideoDeviceDescriptors(std::uint16_t vendor, std::uint16_t product,
                                   const std::vector<Guid>& extensionUnits) {
  Blob vc;
  Append(vc, {13, 0x24, 0x01, 0x10, 0x01, 0, 0, 0x80, 0x8D, 0x5B, 0x00, 1, 1});  // header, UVC 1.1
  Append(vc, {18, 0x24, 0x02, kCameraTerminalId, 0x01, 0x02, 0, 0, 0, 0, 0, 0, 0, 0, 3, 0, 0, 0});
  Append(vc, {12, 0x24, 0x05, kProcessingUnitId, kCameraTerminalId, 0, 0, 2, 0x7F, 0x17, 0, 0});
  std::uint8_t source = kProcessingUnitId;
  std::uint8_t id = kProbeUnitId;
  for (const Guid& unit : extensionUnits) {
    const Blob xu = ExtensionUnit(id, unit, source);
    vc.insert(vc.end(), xu.begin(), xu.end());
    source = id++;
  }
  Append(vc, {9, 0x24, 0x03, kOutputTerminalId, 0x01, 0x01, 0, source, 0});
  vc[5] = static_cast<std::uint8_t>(vc.size());
  vc[6] = static_cast<std::uint8_t>(vc.size() >> 8);

  Blob d{18, 0x01, 0x00, 0x02, 0xEF, 0x02, 0x01, 64,
         static_cast<std::uint8_t>(vendor), static_cast<std::uint8_t>(vendor >> 8),
         static_cast<std::uint8_t>(product), static_cast<std::uint8_t>(product >> 8),
         0x00, 0x01, 1, 2, 0, 1};
  const std::size_t configuration = d.size();
  Append(d, {9, 0x02, 0, 0, 2, 1, 0, 0x80, 250});
  Append(d, {8, 0x0B, 0, 2, 0x0E, 0x03, 0x00, 0});                // interface association
  Append(d, {9, 0x04, 0, 0, 1, 0x0E, 0x01, 0x00, 0});             // VideoControl
  d.insert(d.end(), vc.begin(), vc.end());
  Append(d, {7, 0x05, 0x83, 0x03, 0x10, 0x00, 6});                // interrupt endpoint
  Append(d, {5, 0x25, 0x03, 0x10, 0x00});
  Append(d, {9, 0x04, 1, 0, 1, 0x0E, 0x02, 0x00, 0});             // VideoStreaming
  Append(d, {14, 0x24, 0x01, 1, 0x4B, 0x00, 0x81, 0, kOutputTerminalId, 0, 0, 0, 1, 0});
  Append(d, {11, 0x24, 0x06, 1, 1, 0x01, 1, 0, 0, 0, 0});         // MJPEG format: also subtype 6
  Append(d, {7, 0x05, 0x81, 0x02, 0x00, 0x02, 0});
  const std::size_t total = d.size() - configuration;
  d[configuration + 2] = static_cast<std::uint8_t>(total);
  d[configuration + 3] = static_cast<std::uint8_t>(total >> 8);
  return d;
}

struct VideoNodeLayout {
  unsigned number;  // N of /dev/videoN
  unsigned index;   // 0: capture node, 1: metadata node
};

// A USB video device at `port` of bus 1 whose interface 0 is bound to
// `driver`, with its video4linux nodes and, unless empty, a serial number.
inline void AddUsbVideoDevice(const TemporaryTree& tree, const std::string& port,
                              std::uint16_t vendor, std::uint16_t product, const Blob& descriptors,
                              const std::vector<VideoNodeLayout>& nodes,
                              const std::string& driver = "uvcvideo", const std::string& serial = "") {
  auto hex = [](unsigned value, int digits) {
    char text[8];
    std::snprintf(text, sizeof text, "%0*x", digits, value);
    return std::string(text);
  };
  const std::string device = "/sys/devices/pci0000:00/0000:00:14.0/usb1/" + port;
  const std::string interface = device + "/" + port + ":1.0";
  tree.Write(device + "/idVendor", hex(vendor, 4) + "\n");
  tree.Write(device + "/idProduct", hex(product, 4) + "\n");
  tree.Write(device + "/descriptors", descriptors);
  if (!serial.empty()) tree.Write(device + "/serial", serial + "\n");
  tree.Write(interface + "/bInterfaceNumber", "00\n");
  tree.Link(interface + "/driver", "/sys/bus/usb/drivers/" + driver);
  for (const VideoNodeLayout& node : nodes) {
    const std::string name = "video" + std::to_string(node.number);
    const std::string own = interface + "/video4linux/" + name;
    tree.Write(own + "/index", std::to_string(node.index) + "\n");
    tree.Link(own + "/device", interface);
    tree.Link("/sys/class/video4linux/" + name, own);
  }
}

struct QueryCall {
  std::string node;
  std::uint8_t unit;
  std::uint8_t selector;
  std::uint8_t query;
  std::uint16_t size;
  Blob sent;  // SET_CUR data
  friend bool operator==(const QueryCall&, const QueryCall&) = default;
};

// The device layer of the tests. Controls exist where a test puts them; the
// rest of a node's units and selectors answer ENOENT, as uvcvideo does.
class ScriptedUvcDevices final : public UvcDeviceOpener {
 public:
  struct Control {
    Blob value;  // its length is the control's length
  };
  struct State {
    std::map<std::string, int> openErrors;
    std::map<std::string, std::string> groups;
    std::map<std::tuple<std::string, std::uint8_t, std::uint8_t>, Control> controls;
    // The error the next queries of a node fail with, in order.
    std::map<std::string, std::vector<int>> queryErrors;
    std::vector<std::string> opened;
    std::vector<QueryCall> calls;
    int liveDevices = 0;
  };

  ScriptedUvcDevices() = default;
  ScriptedUvcDevices(const ScriptedUvcDevices&) = delete;
  ScriptedUvcDevices& operator=(const ScriptedUvcDevices&) = delete;

  void AddControl(const std::string& node, std::uint8_t unit, std::uint8_t selector,
                  std::size_t length) {
    m_state->controls[{node, unit, selector}].value.assign(length, 0);
  }
  State& state() { return *m_state; }

  int Open(const std::string& path, std::unique_ptr<UvcDevice>& out) override {
    out.reset();
    if (auto it = m_state->openErrors.find(path); it != m_state->openErrors.end()) return it->second;
    m_state->opened.push_back(path);
    out = std::make_unique<Device>(m_state, path);
    return 0;
  }
  std::string OwningGroup(const std::string& path) override {
    auto it = m_state->groups.find(path);
    return it == m_state->groups.end() ? std::string() : it->second;
  }

 private:
  class Device final : public UvcDevice {
   public:
    Device(std::shared_ptr<State> state, std::string node)
        : m_state(std::move(state)), m_node(std::move(node)) {
      ++m_state->liveDevices;
    }
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;
    ~Device() override { --m_state->liveDevices; }

    int Query(std::uint8_t unit, std::uint8_t selector, std::uint8_t query, std::uint16_t size,
              std::uint8_t* data) override {
      QueryCall call{m_node, unit, selector, query, size, {}};
      if (query == kUvcSetCur) call.sent.assign(data, data + size);
      m_state->calls.push_back(call);

      if (std::vector<int>& errors = m_state->queryErrors[m_node]; !errors.empty()) {
        const int error = errors.front();
        errors.erase(errors.begin());
        return error;
      }
      auto it = m_state->controls.find({m_node, unit, selector});
      if (it == m_state->controls.end()) return ENOENT;
      Blob& value = it->second.value;
      switch (query) {
        case kUvcGetLen:
          if (size != 2) return ENOBUFS;
          data[0] = static_cast<std::uint8_t>(value.size());
          data[1] = static_cast<std::uint8_t>(value.size() >> 8);
          return 0;
        case kUvcGetCur:
          if (size != value.size()) return ENOBUFS;
          std::copy(value.begin(), value.end(), data);
          return 0;
        case kUvcSetCur:
          if (size != value.size()) return ENOBUFS;
          value.assign(data, data + size);
          return 0;
        default:
          return EINVAL;
      }
    }

   private:
    std::shared_ptr<State> m_state;
    std::string m_node;
  };

  std::shared_ptr<State> m_state = std::make_shared<State>();
};

}  // namespace nerova::link::linux_stack::testing
