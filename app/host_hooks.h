#pragma once
// What a build may add to the tray host: the demo build lets the receiver
// substitute send the host the device notices Windows would send, and takes
// test commands to unplug and plug in its receiver. The real program adds
// nothing.
#include <windows.h>

#include <memory>
#include <optional>

namespace nerova::app {

class HostHooks {
 public:
  virtual ~HostHooks() = default;
  // The host window exists / is going away (its thread calls both).
  virtual void Attach(HWND host) = 0;
  virtual void Detach() = 0;
  // A private or registered message the host does not know. A value: the
  // message's result.
  virtual std::optional<LRESULT> OnMessage(UINT message, WPARAM wParam, LPARAM lParam) = 0;
};

// The build's own hooks, or null (one definition per executable).
std::unique_ptr<HostHooks> MakeHostHooks();

}  // namespace nerova::app
