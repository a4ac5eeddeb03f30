#pragma once
// The receivers' locks on Windows: one named mutex per receiver in the
// session's namespace (Local\), which the settings window and nerova-cli
// open alike. A mutex whose owner ended without giving it back is taken
// over (WAIT_ABANDONED): that program's exchange ended with it.
#include "link/receiver_lock.h"

namespace nerova::link::win {

class NamedMutexLocks final : public ReceiverLocks {
 public:
  LinkStatus Open(const std::wstring& key, std::unique_ptr<ReceiverLock>& out) override;
};

// The mutex's name for a receiver key: backslashes, which the object
// namespace would take for a directory, become slashes.
std::wstring MutexName(const std::wstring& key);

}  // namespace nerova::link::win
