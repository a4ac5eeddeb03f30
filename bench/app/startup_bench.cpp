// Starts a bare Win32 window and the settings program one after the other,
// the same way, against the virtual receiver, and prints how long each took
// to show a window, and the settings window to fill in with what the
// receiver holds, in milliseconds and against the bare window. Then how
// long the tray's Exit takes to end the program: idle, right after a burst
// of removal notices, and while another program holds the receiver. It
// prints; it does not judge.
//   startup_bench [ROUNDS]
#include <windows.h>
#include <dbt.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "link/receiver_lock.h"
#include "link/win/named_mutex_locks.h"
#include "resources/resource_ids.h"
#include "sim/virtual/shared_receiver.h"
#include "tests/sim/win/virtual_receiver_driver.h"

namespace {

using nerova::sim::virtual_receiver::testing::RunController;

constexpr DWORD kGiveUpMs = 60000;
constexpr wchar_t kWifiName[] = L"Bench-Cam-1";
constexpr wchar_t kSettingsCaption[] = L"Nerova Wireless Receiver Setting V1.1";

double NowMs() {
  static const LONGLONG frequency = [] {
    LARGE_INTEGER value{};
    QueryPerformanceFrequency(&value);
    return value.QuadPart;
  }();
  LARGE_INTEGER now{};
  QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart) * 1000.0 / static_cast<double>(frequency);
}

struct Search {
  DWORD processId;
  const wchar_t* caption;
  HWND found;
};

// A visible top-level window of the process, with `caption` if given (the
// settings program's host window shows for a moment before it hides).
HWND VisibleWindowOf(DWORD processId, const wchar_t* caption) {
  Search search{processId, caption, nullptr};
  EnumWindows(
      [](HWND window, LPARAM data) -> BOOL {
        auto& s = *reinterpret_cast<Search*>(data);
        DWORD process = 0;
        GetWindowThreadProcessId(window, &process);
        if (process != s.processId || !IsWindowVisible(window)) return TRUE;
        wchar_t text[128] = {};
        GetWindowTextW(window, text, 128);
        if (s.caption && lstrcmpW(text, s.caption) != 0) return TRUE;
        s.found = window;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

std::wstring TextOf(HWND control) {
  wchar_t text[128] = {};
  DWORD_PTR copied = 0;
  SendMessageTimeoutW(control, WM_GETTEXT, 128, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 1000, &copied);
  return text;
}

struct Times {
  double visibleMs = -1;
  double populatedMs = -1;
};

// Starts `program`, waits for its window (and, when `populated`, for the
// Wi-Fi name the receiver holds with Apply enabled), then closes it.
Times Measure(const wchar_t* program, bool populated) {
  std::wstring command = std::wstring(L"\"") + program + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  Times times;
  const double start = NowMs();
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    return times;
  }
  HWND window = nullptr;
  const wchar_t* caption = populated ? kSettingsCaption : nullptr;
  while (!(window = VisibleWindowOf(process.dwProcessId, caption)) && NowMs() - start < kGiveUpMs) Sleep(1);
  if (window) times.visibleMs = NowMs() - start;
  while (window && populated && NowMs() - start < kGiveUpMs) {
    const HWND apply = GetDlgItem(window, IDC_APPLY);
    if (TextOf(GetDlgItem(window, IDC_WIFI_NAME)) == kWifiName && apply && IsWindowEnabled(apply)) {
      times.populatedMs = NowMs() - start;
      break;
    }
    Sleep(1);
  }
  // Closing the window ends either program.
  if (window) PostMessageW(window, WM_CLOSE, 0, 0);
  if (WaitForSingleObject(process.hProcess, 10000) != WAIT_OBJECT_0) TerminateProcess(process.hProcess, 1);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return times;
}

// The host window: the hidden dialog of the process's first thread.
HWND HostOf(const PROCESS_INFORMATION& process) {
  struct HostSearch {
    DWORD threadId;
    HWND found;
  } search{process.dwThreadId, nullptr};
  EnumThreadWindows(
      process.dwThreadId,
      [](HWND window, LPARAM data) -> BOOL {
        wchar_t className[16] = {};
        GetClassNameW(window, className, 16);
        if (lstrcmpW(className, L"#32770") != 0) return TRUE;
        reinterpret_cast<HostSearch*>(data)->found = window;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

enum class ExitState { Idle, AfterRemovals, HeldElsewhere };

// Starts the program, waits for it to fill in, brings it into `state` and
// chooses Exit: the time until the process has ended, or -1.
double ExitTime(ExitState state) {
  std::wstring command = std::wstring(L"\"") + NEROVA_SHIPPED_PROGRAM + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    return -1;
  }
  const double start = NowMs();
  HWND window = nullptr;
  while (NowMs() - start < kGiveUpMs) {
    window = VisibleWindowOf(process.dwProcessId, kSettingsCaption);
    if (window && TextOf(GetDlgItem(window, IDC_WIFI_NAME)) == kWifiName) break;
    Sleep(5);
  }
  const HWND host = HostOf(process);
  HANDLE mutex = nullptr;
  if (state == ExitState::AfterRemovals && host) {
    DEV_BROADCAST_PORT_W port{};
    port.dbcp_size = sizeof port;
    port.dbcp_devicetype = DBT_DEVTYP_PORT;
    lstrcpyW(port.dbcp_name, L"COM7");
    for (int i = 0; i < 10; ++i) {
      DWORD_PTR answer = 0;
      SendMessageTimeoutW(host, WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, reinterpret_cast<LPARAM>(&port),
                          SMTO_NORMAL, 5000, &answer);
    }
  }
  if (state == ExitState::HeldElsewhere) {
    mutex = CreateMutexW(
        nullptr, FALSE,
        nerova::link::win::MutexName(nerova::link::ReceiverKey(nerova::sim::virtual_receiver::kInstanceName)).c_str());
    if (mutex) WaitForSingleObject(mutex, 10000);
    // A signal reading comes and is skipped.
    Sleep(2500);
  }
  double ended = -1;
  if (host) {
    const double exitStart = NowMs();
    PostMessageW(host, WM_COMMAND, ID_TRAY_EXIT, 0);
    if (WaitForSingleObject(process.hProcess, 10000) == WAIT_OBJECT_0) ended = NowMs() - exitStart;
  }
  if (mutex) {
    ReleaseMutex(mutex);
    CloseHandle(mutex);
  }
  if (WaitForSingleObject(process.hProcess, 0) != WAIT_OBJECT_0) TerminateProcess(process.hProcess, 1);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return ended;
}

double Median(std::vector<double> values) {
  if (values.empty()) return -1;
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const int rounds = argc > 1 ? std::max(1, _wtoi(argv[1])) : 5;
  if (RunController(L"install") != 0 || RunController(L"reset") != 0 ||
      RunController(std::wstring(L"set wifiname ") + kWifiName) != 0) {
    std::fprintf(stderr, "the virtual receiver could not be set up\n");
    return 1;
  }
  std::vector<double> bare, visible, populated;
  // A first start of each warms Wine's caches; it is not counted.
  Measure(NEROVA_BARE_WINDOW, false);
  Measure(NEROVA_SHIPPED_PROGRAM, true);
  for (int round = 0; round < rounds; ++round) {
    const Times b = Measure(NEROVA_BARE_WINDOW, false);
    const Times s = Measure(NEROVA_SHIPPED_PROGRAM, true);
    if (b.visibleMs >= 0) bare.push_back(b.visibleMs);
    if (s.visibleMs >= 0) visible.push_back(s.visibleMs);
    if (s.populatedMs >= 0) populated.push_back(s.populatedMs);
    std::printf("round %d: bare window visible %.0f ms; settings window visible %.0f ms, filled in %.0f ms\n",
                round + 1, b.visibleMs, s.visibleMs, s.populatedMs);
  }
  const double bareMs = Median(bare);
  const double visibleMs = Median(visible);
  const double populatedMs = Median(populated);
  std::printf("median of %d: bare window %.0f ms; settings window visible %.0f ms (%+.0f ms, %.2fx), "
              "filled in %.0f ms (%.2fx)\n",
              rounds, bareMs, visibleMs, visibleMs - bareMs, visibleMs / bareMs, populatedMs, populatedMs / bareMs);

  const struct {
    ExitState state;
    const char* what;
  } exits[] = {{ExitState::Idle, "idle"},
               {ExitState::AfterRemovals, "right after 10 removal notices"},
               {ExitState::HeldElsewhere, "while another program holds the receiver"}};
  for (const auto& exit : exits) {
    std::vector<double> times;
    for (int round = 0; round < rounds; ++round) {
      const double ms = ExitTime(exit.state);
      if (ms >= 0) times.push_back(ms);
    }
    std::printf("Exit %s: median %.0f ms of %zu\n", exit.what, Median(times), times.size());
  }
  return 0;
}
