#pragma once
// Programs on one computer take turns with a receiver. Each read is a
// SET_CUR of the command and, after a pause, a GET_CUR of the answer; the
// receiver keeps one "last command" for everyone, so another program's
// request between the two makes this one read the other's answer. A turn
// of the receiver (link/receiver_turn.h) therefore holds its lock, for each
// exchange and for a whole sequence (a load, an Apply). The locks are the
// platform's (a named mutex on Windows, a lock file on Linux), named by a
// key that every program derives alike from the receiver's name.
#include <memory>
#include <string>
#include <string_view>

#include "link/link_status.h"

namespace nerova::link {

// One receiver's lock as this program holds it, not taken when opened. Its
// owner uses it from one thread.
class ReceiverLock {
 public:
  virtual ~ReceiverLock() = default;
  // Takes the lock if no other program (or thread) has it, without waiting:
  // `taken` says whether this object holds it now.
  virtual LinkStatus TryTake(bool& taken) = 0;
  // Gives back a lock that TryTake took; the lock's end does the same.
  virtual void Release() = 0;
};

class ReceiverLocks {
 public:
  virtual ~ReceiverLocks() = default;
  // The lock of the receiver that `key` (ReceiverKey) names. A failure
  // leaves `out` null.
  virtual LinkStatus Open(const std::wstring& key, std::unique_ptr<ReceiverLock>& out) = 0;
};

// Every lock is free at once: for a program that has the receiver to itself
// (the receiver substitute behind it).
ReceiverLocks& FreeLocks();

// The key of the receiver whose video input is named `displayName`: from
// its USB identity on, up to the interface class that Windows appends,
// in lower case. A DirectShow name "@device:pnp:\\?\usb#vid_1d6b&pid_010c&
// mi_00#6&2a1b&0&0000#{65e8773d-...}\global" and the Linux name
// "usb#vid_1d6b&pid_010c&mi_00#1-1" both keep the part that names the
// device's instance on its USB port, which stays the same across its
// restart on that port.
std::wstring ReceiverKey(std::wstring_view displayName);

}  // namespace nerova::link
