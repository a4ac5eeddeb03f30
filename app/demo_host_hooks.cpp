#include "app/demo_host_hooks.h"

#include <windows.h>
#include <dbt.h>

#include <cstring>
#include <thread>
#include <vector>

#include "app/demo_stack.h"
#include "app/video_camera_class.h"

namespace nerova::app {
namespace {

// The interface name Windows would give the receiver's camera interface.
constexpr wchar_t kReceiverInterfaceName[] =
    L"\\\\?\\usb#vid_1d6b&pid_010c&mi_00#7&2f1c3a4b&0&0000#{e5323777-f976-4f5b-9b55-b94699c46e44}\\global";

// A DEV_BROADCAST_DEVICEINTERFACE_W with its name, as one block of bytes.
std::vector<unsigned char> InterfaceNotice() {
  const std::size_t nameBytes = sizeof kReceiverInterfaceName;
  const std::size_t size = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name) + nameBytes;
  std::vector<unsigned char> bytes(size);
  DEV_BROADCAST_DEVICEINTERFACE_W header{};
  header.dbcc_size = static_cast<DWORD>(size);
  header.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  header.dbcc_classguid = kVideoCameraCategory;
  std::memcpy(bytes.data(), &header, offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name));
  std::memcpy(bytes.data() + offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name), kReceiverInterfaceName,
              nameBytes);
  return bytes;
}

// The system sends device notices from a thread of its own and waits for
// the answer; so does this. The thread that changed the device (a settings
// thread in the middle of an exchange, or the host) never waits on the host.
void SendDeviceNotice(HWND host, WPARAM event) {
  std::thread([host, event] {
    std::vector<unsigned char> notice = InterfaceNotice();
    DWORD_PTR answer = 0;
    SendMessageTimeoutW(host, WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(notice.data()),
                        SMTO_NORMAL, 30000, &answer);
  }).detach();
}

}  // namespace

DemoHostHooks::DemoHostHooks()
    : m_unplugMessage(RegisterWindowMessageW(kDemoUnplugMessage)),
      m_replugMessage(RegisterWindowMessageW(kDemoReplugMessage)) {}

DemoHostHooks::~DemoHostHooks() { Detach(); }

void DemoHostHooks::Attach(HWND host) {
  DemoStack().SetPresenceListener([host](const sim::PresenceEvent& event) {
    SendDeviceNotice(host, event.change == sim::PresenceChange::Vanished ? DBT_DEVICEREMOVECOMPLETE
                                                                          : DBT_DEVICEARRIVAL);
  });
  m_attached = true;
}

void DemoHostHooks::Detach() {
  if (!m_attached) return;
  DemoStack().SetPresenceListener(nullptr);
  m_attached = false;
}

std::optional<LRESULT> DemoHostHooks::OnMessage(UINT message, WPARAM, LPARAM) {
  if (message == m_unplugMessage) {
    DemoReceiver().Unplug();
    return 0;
  }
  if (message == m_replugMessage) {
    DemoReceiver().Replug();
    return 0;
  }
  return std::nullopt;
}

std::unique_ptr<HostHooks> MakeHostHooks() { return std::make_unique<DemoHostHooks>(); }

}  // namespace nerova::app
