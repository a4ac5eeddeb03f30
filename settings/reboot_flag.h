#pragma once
// Set by the settings window right before it tells the receiver to restart;
// the tray host clears it at the next device removal, which that restart
// causes, instead of replacing the settings window. The window clears it
// itself when its first probe after the restart finds that no removal came:
// the receiver never left, and the next unplugging is a real one. The two
// run on different threads.
#include <atomic>

namespace nerova {

inline std::atomic<bool> g_bRebootExpected{false};

}  // namespace nerova
