#pragma once
// The read-only view of the file system the enumeration needs (sysfs), rooted
// at a directory so that tests can lay out a tree of their own. Every path
// given and returned is absolute as seen from the root ("/sys/...").
// Operations return 0 or the errno that stopped them.
#include <string>
#include <vector>

namespace nerova::link::linux_stack {

class FileSystemView {
 public:
  virtual ~FileSystemView() = default;
  // The whole content of a file, however long.
  virtual int ReadFile(const std::string& path, std::string& content) const = 0;
  // The names in a directory, sorted, without "." and "..".
  virtual int ListDirectory(const std::string& path, std::vector<std::string>& names) const = 0;
  // The path with every symbolic link resolved. A link leading out of the
  // root fails with EXDEV.
  virtual int ResolvePath(const std::string& path, std::string& resolved) const = 0;
};

// The real file system below `root` ("/" for the system's own).
class RootedFileSystem final : public FileSystemView {
 public:
  explicit RootedFileSystem(std::string root = "/");
  int ReadFile(const std::string& path, std::string& content) const override;
  int ListDirectory(const std::string& path, std::vector<std::string>& names) const override;
  int ResolvePath(const std::string& path, std::string& resolved) const override;

 private:
  std::string Host(const std::string& path) const;
  std::string m_root;  // without a trailing slash; empty for "/"
};

}  // namespace nerova::link::linux_stack
