#include "link/linux/lock_file_locks.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <cerrno>

#include "link/linux/file_descriptor.h"

namespace nerova::link::linux_stack {
namespace {

// Sole owner of the lock file's descriptor; the flock goes with it.
class LockFile final : public ReceiverLock {
 public:
  explicit LockFile(FileDescriptor file) : m_file(std::move(file)) {}

  LinkStatus TryTake(bool& taken) override {
    taken = false;
    for (;;) {
      if (::flock(m_file.Get(), LOCK_EX | LOCK_NB) == 0) {
        taken = true;
        return LinkStatus::Success();
      }
      if (errno == EWOULDBLOCK) return LinkStatus::Success();
      if (errno != EINTR) return LinkStatus::Of(StatusKind::Failed, errno);
    }
  }

  void Release() override { ::flock(m_file.Get(), LOCK_UN); }

 private:
  FileDescriptor m_file;
};

// Opens the lock file, creating it when there is none. An existing file is
// opened without O_CREAT: in a sticky folder the kernel refuses O_CREAT on
// another user's file (fs.protected_regular) even where it exists.
int OpenLockFile(const std::string& path, FileDescriptor& out) {
  for (;;) {
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (file) {
      out = std::move(file);
      return 0;
    }
    if (errno != ENOENT) return errno;
    FileDescriptor created(::open(path.c_str(), O_RDONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644));
    if (!created) {
      // Another instance created it in between: open that one.
      if (errno == EEXIST) continue;
      return errno;
    }
    // The mode of creation is cut by the umask.
    ::fchmod(created.Get(), 0644);
    out = std::move(created);
    return 0;
  }
}

}  // namespace

std::string LockFileName(const std::wstring& key) {
  std::string name = "nerova-receiver-";
  for (wchar_t c : key) {
    const bool plain = (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') ||
                       c == L'.' || c == L'-';
    name += plain ? static_cast<char>(c) : '_';
  }
  return name + ".lock";
}

LinkStatus LockFileLocks::Open(const std::wstring& key, std::unique_ptr<ReceiverLock>& out) {
  out.reset();
  int error = ENOENT;
  for (const std::string& folder : m_folders) {
    FileDescriptor file;
    error = OpenLockFile(folder + "/" + LockFileName(key), file);
    if (error == 0) {
      out = std::make_unique<LockFile>(std::move(file));
      return LinkStatus::Success();
    }
  }
  return LinkStatus::Of(StatusKind::Failed, error);
}

}  // namespace nerova::link::linux_stack
