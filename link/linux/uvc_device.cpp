#include "link/linux/uvc_device.h"

#include <fcntl.h>
#include <grp.h>
#include <linux/uvcvideo.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "link/linux/file_descriptor.h"

namespace nerova::link::linux_stack {
namespace {

class KernelUvcDevice final : public UvcDevice {
 public:
  explicit KernelUvcDevice(FileDescriptor fd) : m_fd(std::move(fd)) {}

  int Query(std::uint8_t unit, std::uint8_t selector, std::uint8_t query, std::uint16_t size,
            std::uint8_t* data) override {
    uvc_xu_control_query request{};
    request.unit = unit;
    request.selector = selector;
    request.query = query;
    request.size = size;
    request.data = data;
    for (;;) {
      if (::ioctl(m_fd.Get(), UVCIOC_CTRL_QUERY, &request) == 0) return 0;
      if (errno != EINTR) return errno;
    }
  }

 private:
  FileDescriptor m_fd;
};

}  // namespace

int KernelUvcDeviceOpener::Open(const std::string& path, std::unique_ptr<UvcDevice>& out) {
  out.reset();
  FileDescriptor fd;
  do {
    fd = FileDescriptor(::open(path.c_str(), O_RDWR | O_CLOEXEC));
  } while (!fd && errno == EINTR);
  if (!fd) return errno;
  out = std::make_unique<KernelUvcDevice>(std::move(fd));
  return 0;
}

std::string KernelUvcDeviceOpener::OwningGroup(const std::string& path) {
  struct stat status{};
  if (::stat(path.c_str(), &status) != 0) return {};
  long bufferSize = ::sysconf(_SC_GETGR_R_SIZE_MAX);
  if (bufferSize <= 0) bufferSize = 1024;
  std::vector<char> buffer(static_cast<std::size_t>(bufferSize));
  for (;;) {
    group entry{};
    group* found = nullptr;
    const int error = ::getgrgid_r(status.st_gid, &entry, buffer.data(), buffer.size(), &found);
    if (error == ERANGE) {
      buffer.resize(buffer.size() * 2);
      continue;
    }
    if (error != 0 || found == nullptr) return {};
    return found->gr_name;
  }
}

}  // namespace nerova::link::linux_stack
