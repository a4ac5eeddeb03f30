// Reads every setting from the receiver substitute through the receiver link
// and its command protocol, the way the settings window will, and prints
// them. A developer's look at the link until the window exists.
#include <cstdio>
#include <memory>
#include <string>

#include "link/receiver_link.h"
#include "link/receiver_settings.h"
#include "link/utf8_codec.h"
#include "sim/clock.h"
#include "sim/sim_stack.h"

#ifdef _WIN32
#include <windows.h>

#include "link/win/pump_wait.h"
#include "link/win/thread_acp_codec.h"
#else
#include "sim/pumps.h"
#endif

namespace {

using nerova::link::ReceiverSettings;

void Print(const std::wstring& line) {
  // UTF-8 on every platform: Wine passes the bytes through to the terminal.
  static const nerova::link::Utf8Codec utf8;
  const std::string bytes = utf8.Encode(line + L"\n");
  std::fwrite(bytes.data(), 1, bytes.size(), stdout);
}

void PrintValue(const wchar_t* label, const std::wstring& value) {
  std::wstring line = label;
  line.resize(20, L' ');
  Print(line + value);
}

int Run() {
  nerova::sim::SimStack stack(std::make_shared<nerova::sim::SteadyClock>());
  stack.AddReceiver();
  nerova::link::ReceiverLink link(stack);
#ifdef _WIN32
  SetConsoleOutputCP(CP_UTF8);
  nerova::link::win::WindowsPump pump;
  nerova::link::win::ThreadAcpCodec codec;
#else
  nerova::sim::SleepingPump pump;
  nerova::link::Utf8Codec codec;
#endif
  ReceiverSettings settings(link, pump, codec);

  Print(L"Nerova Wireless Receiver Setting V1.1: settings of the receiver substitute");
  // The short version doubles as the presence test.
  const std::wstring shortVersion = settings.ReadShortVersion();
  if (shortVersion.empty()) {
    Print(L"No receiver answered.");
    return 1;
  }
  PrintValue(L"Version", shortVersion);
  PrintValue(L"Firmware version", settings.ReadFirmwareVersion());
  PrintValue(L"Stream URL", settings.ReadText(nerova::link::CMD_URL));
  PrintValue(L"Wi-Fi name", settings.ReadWifiName());
  PrintValue(L"Wi-Fi password", settings.ReadWifiPassword());
  std::int32_t width = 0;
  std::int32_t height = 0;
  settings.ReadResolution(width, height);
  PrintValue(L"Resolution", std::to_wstring(width) + L" x " + std::to_wstring(height));
  PrintValue(L"Aging test", settings.ReadAgingTest() ? L"on" : L"off");
  PrintValue(L"Long-press time", std::to_wstring(settings.ReadLongPressTime()));
  PrintValue(L"RSSI", std::to_wstring(settings.ReadRssi()));
  std::fflush(stdout);
  return 0;
}

}  // namespace

int main() { return Run(); }
