#pragma once
// The kinds of the failures the kernel reports as errno values; the errno
// stays beside the kind.
#include "link/link_status.h"

namespace nerova::link::linux_stack {

// Failure of opening a video node or reading what sysfs says of it. ENOENT
// here means the node is gone: the device was unplugged after the list was
// made.
LinkStatus OpenStatus(int error);
// Failure of UVCIOC_CTRL_QUERY. ENOENT here means the driver knows no such
// unit or control.
LinkStatus QueryStatus(int error);
// Whether a failure has a kind of its own or is one the driver gives for a
// known reason; the others deserve a diagnostic line naming the errno.
bool IsKnownError(int error);

}  // namespace nerova::link::linux_stack
