#pragma once
// The demo build's host hooks. The substitute's receiver vanishing or
// returning reaches the host as Windows reports a camera's removal or
// arrival: a WM_DEVICECHANGE with DBT_DEVICEREMOVECOMPLETE or
// DBT_DEVICEARRIVAL and a device-interface header of the video-camera class,
// sent from a thread of its own as the system sends it. Two registered
// messages, posted to the host by a test or by hand, unplug and plug in the
// receiver.
#include <memory>
#include <mutex>

#include "app/host_hooks.h"

namespace nerova::app {

inline constexpr wchar_t kDemoUnplugMessage[] = L"Nerova.Demo.Unplug";
inline constexpr wchar_t kDemoReplugMessage[] = L"Nerova.Demo.Replug";

class DemoHostHooks final : public HostHooks {
 public:
  DemoHostHooks();
  ~DemoHostHooks() override;

  void Attach(HWND host) override;
  void Detach() override;
  std::optional<LRESULT> OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  UINT m_unplugMessage;
  UINT m_replugMessage;
  bool m_attached = false;
};

}  // namespace nerova::app
