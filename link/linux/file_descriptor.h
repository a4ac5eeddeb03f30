#pragma once
// Sole owner of a POSIX file descriptor: closed when the owner goes.
#include <unistd.h>

#include <utility>

namespace nerova::link::linux_stack {

class FileDescriptor {
 public:
  FileDescriptor() = default;
  explicit FileDescriptor(int fd) : m_fd(fd) {}
  FileDescriptor(FileDescriptor&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
  FileDescriptor& operator=(FileDescriptor&& other) noexcept {
    if (this != &other) {
      Reset();
      m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() { Reset(); }

  int Get() const { return m_fd; }
  explicit operator bool() const { return m_fd >= 0; }
  void Reset() {
    // close() is not retried on EINTR: on Linux the descriptor is gone either way.
    if (int fd = std::exchange(m_fd, -1); fd >= 0) ::close(fd);
  }

 private:
  int m_fd = -1;
};

}  // namespace nerova::link::linux_stack
