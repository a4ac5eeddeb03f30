#pragma once
// The receivers' locks on Linux, among nerova-cli's own instances: an
// exclusive flock on a file per receiver, in /run/lock, or in /tmp where
// that is missing or not writable. Every user who may use the receiver
// must be able to lock the file, so it is created readable by everyone
// (a shared flock needs no more than a descriptor open for reading).
#include <string>
#include <vector>

#include "link/receiver_lock.h"

namespace nerova::link::linux_stack {

class LockFileLocks final : public ReceiverLocks {
 public:
  // The folders to try, in order.
  explicit LockFileLocks(std::vector<std::string> folders = {"/run/lock", "/tmp"}) : m_folders(std::move(folders)) {}

  LinkStatus Open(const std::wstring& key, std::unique_ptr<ReceiverLock>& out) override;

 private:
  std::vector<std::string> m_folders;
};

// The lock file's name for a receiver key: the key with every character
// that is not a letter, digit, dot or dash as "_".
std::string LockFileName(const std::wstring& key);

}  // namespace nerova::link::linux_stack
