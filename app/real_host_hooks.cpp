// The real program's host has nothing added: Windows sends its device
// notices.
#include "app/host_hooks.h"

namespace nerova::app {

std::unique_ptr<HostHooks> MakeHostHooks() { return nullptr; }

}  // namespace nerova::app
