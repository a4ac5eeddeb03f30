#pragma once
// The receivers' locks on Windows: one named mutex per receiver and user,
// which the settings window and nerova-cli open alike, in every session of
// the user (a remote desktop, an SSH login) and at every integrity level (a
// nerova-cli run from an elevated prompt beside the window). A mutex whose
// owner ended without giving it back is taken over (WAIT_ABANDONED): that
// program's exchange ended with it.
#include "link/receiver_lock.h"

namespace nerova::link::win {

class NamedMutexLocks final : public ReceiverLocks {
 public:
  LinkStatus Open(const std::wstring& key, std::unique_ptr<ReceiverLock>& out) override;
};

// The mutex's name for a receiver key, in the namespace all sessions share
// (Global\) and with the user's SID in it, so that each user has a name of
// their own; backslashes in the key, which the object namespace would take
// for a directory, become slashes. Empty when the process token's user
// cannot be read.
std::wstring MutexName(const std::wstring& key);

}  // namespace nerova::link::win
