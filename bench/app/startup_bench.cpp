// Starts a bare Win32 window and the settings program one after the other,
// the same way, against the virtual receiver, and prints how long each took
// to show a window, and the settings window to fill in with what the
// receiver holds, in milliseconds and against the bare window. It prints;
// it does not judge.
//   startup_bench [ROUNDS]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "resources/resource_ids.h"
#include "tests/sim/win/virtual_receiver_driver.h"

namespace {

using nerova::sim::virtual_receiver::testing::RunController;

constexpr DWORD kGiveUpMs = 60000;
constexpr wchar_t kWifiName[] = L"Bench-Cam-1";

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
  HWND found;
};

// A visible top-level window of the process.
HWND VisibleWindowOf(DWORD processId) {
  Search search{processId, nullptr};
  EnumWindows(
      [](HWND window, LPARAM data) -> BOOL {
        auto& s = *reinterpret_cast<Search*>(data);
        DWORD process = 0;
        GetWindowThreadProcessId(window, &process);
        if (process != s.processId || !IsWindowVisible(window)) return TRUE;
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
  while (!(window = VisibleWindowOf(process.dwProcessId)) && NowMs() - start < kGiveUpMs) Sleep(1);
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
  return 0;
}
