#include "link/linux/file_system.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <filesystem>
#include <system_error>

#include "link/linux/file_descriptor.h"

namespace nerova::link::linux_stack {
namespace fs = std::filesystem;

RootedFileSystem::RootedFileSystem(std::string root) : m_root(std::move(root)) {
  while (!m_root.empty() && m_root.back() == '/') m_root.pop_back();
}

std::string RootedFileSystem::Host(const std::string& path) const { return m_root + path; }

int RootedFileSystem::ReadFile(const std::string& path, std::string& content) const {
  content.clear();
  FileDescriptor fd(::open(Host(path).c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) return errno;
  // sysfs reports a nominal size, so the file is read until its end instead.
  std::array<char, 4096> chunk;
  for (;;) {
    const ssize_t got = ::read(fd.Get(), chunk.data(), chunk.size());
    if (got == 0) return 0;
    if (got < 0) {
      if (errno == EINTR) continue;
      const int error = errno;
      content.clear();
      return error;
    }
    content.append(chunk.data(), static_cast<std::size_t>(got));
  }
}

int RootedFileSystem::ListDirectory(const std::string& path,
                                    std::vector<std::string>& names) const {
  names.clear();
  std::error_code ec;
  fs::directory_iterator it(Host(path), ec);
  for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
    names.push_back(it->path().filename().string());
  }
  if (ec) {
    names.clear();
    return ec.value();
  }
  std::sort(names.begin(), names.end());
  return 0;
}

int RootedFileSystem::ResolvePath(const std::string& path, std::string& resolved) const {
  resolved.clear();
  std::error_code ec;
  const fs::path root = fs::canonical(m_root.empty() ? "/" : m_root, ec);
  if (ec) return ec.value();
  const fs::path target = fs::canonical(Host(path), ec);
  if (ec) return ec.value();
  const fs::path inside = target.lexically_relative(root);
  if (inside.empty() || *inside.begin() == "..") return EXDEV;
  resolved = inside == "." ? "/" : "/" + inside.string();
  return 0;
}

}  // namespace nerova::link::linux_stack
