// The program that ships and nerova-cli.exe at once on one virtual
// receiver, under Wine: the window reads the signal every 2 s while the
// command line reads and writes beside it. Each program's read is a request
// and, a pause later, its answer; the receiver keeps one last request for
// both, so neither may ask between the other's request and its answer.
#include <windows.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "link/receiver_lock.h"
#include "link/win/named_mutex_locks.h"
#include "resources/resource_ids.h"
#include "settings/apply_texts.h"
#include "settings/window_status.h"
#include "sim/virtual/shared_receiver.h"
#include "tests/app/win/shipped_program.h"
#include "tests/sim/win/virtual_receiver_fixture.h"
#include "tests/ui/win_test_support.h"
#include "ui/handles.h"

namespace nerova::app::testing {
namespace {

constexpr DWORD kLongWaitMs = 60000;
constexpr wchar_t kCli[] = NEROVA_CLI_PROGRAM;

int RunCli(const std::wstring& arguments, std::string& output) {
  return RunProgram(std::wstring(L"\"") + kCli + L"\" " + arguments, output);
}

// What `show --json` says of the settings, without the signal, which moves.
std::string SettingsPart(const std::string& json) { return json.substr(0, json.find(",\"rssi\":")); }

HWND LoadedWindow(const ShippedProgram& program, const std::wstring& wifiName) {
  const std::vector<HWND> windows = program.SettingsWindows();
  if (windows.size() != 1) return nullptr;
  const HWND window = windows[0];
  const bool loaded = ControlText(window, IDC_WIFI_NAME) == wifiName && ControlEnabled(window, IDC_APPLY);
  return loaded ? window : nullptr;
}

using TwoProgramsTest = VirtualReceiverTest;

TEST_F(TwoProgramsTest, ShowBesideTheOpenWindowReadsEverySettingRight) {
  std::string reference;
  ASSERT_EQ(RunCli(L"show --json", reference), 0) << reference;
  ASSERT_NE(reference.find("\"wifiPassword\":\"97531864\""), std::string::npos) << reference;

  ShippedProgram program;
  ASSERT_TRUE(program.Started());
  ASSERT_TRUE(test::WaitUntil([&] { return LoadedWindow(program, L"Site-Cam-7") != nullptr; }, kLongWaitMs));
  constexpr int kRuns = 10;
  int wrong = 0;
  for (int run = 0; run < kRuns; ++run) {
    std::string output;
    EXPECT_EQ(RunCli(L"show --json", output), 0) << output;
    if (SettingsPart(output) != SettingsPart(reference)) {
      ++wrong;
      ADD_FAILURE() << "run " << run << ": " << output;
    }
  }
  EXPECT_EQ(wrong, 0) << "of " << kRuns;
  // The window went on reading beside it.
  EXPECT_NE(LoadedWindow(program, L"Site-Cam-7"), nullptr);
  EXPECT_EQ(program.Box(), nullptr);
}

TEST_F(TwoProgramsTest, ApplyBesideTheOpenWindowWritesWhatWasAskedAndKeepsTheRest) {
  // Values apply does not name are written back as read: a read that got
  // the window's answer would write that instead.
  ASSERT_EQ(RunController(L"set longpresstime 50"), 0);
  ASSERT_EQ(RunController(L"set agingtest 1"), 0);
  ASSERT_EQ(RunController(L"set restarttime 1000"), 0);
  ShippedProgram program;
  ASSERT_TRUE(program.Started());
  ASSERT_TRUE(test::WaitUntil([&] { return LoadedWindow(program, L"Site-Cam-7") != nullptr; }, kLongWaitMs));

  for (int run = 1; run <= 3; ++run) {
    const std::string ssid = "Yard-" + std::to_string(run);
    const std::string password = "pass-word-" + std::to_string(run);
    const std::wstring wideSsid(ssid.begin(), ssid.end());
    std::string output;
    EXPECT_EQ(RunCli(L"apply --model RC300W --ssid " + wideSsid + L" --password " +
                         std::wstring(password.begin(), password.end()),
                     output),
              0)
        << output;
    const ShownReceiver held = ReceiverState();
    EXPECT_EQ(held.values.wifiName, ssid) << output;
    EXPECT_EQ(held.values.wifiPassword, password) << output;
    EXPECT_EQ(held.values.longPressTime, 50) << output;
    EXPECT_EQ(held.values.agingTest, 1) << output;
    // The window (replaced when the receiver left) reads it again.
    EXPECT_TRUE(test::WaitUntil([&] { return LoadedWindow(program, wideSsid) != nullptr; }, kLongWaitMs)) << run;
  }
  EXPECT_EQ(program.Box(), nullptr);
}

// The virtual receiver's lock, taken by the test as a third program would.
class HeldByTheTest {
 public:
  HeldByTheTest()
      : m_mutex(CreateMutexW(nullptr, FALSE,
                             link::win::MutexName(link::ReceiverKey(sim::virtual_receiver::kInstanceName)).c_str())),
        m_held(m_mutex != nullptr && WaitForSingleObject(m_mutex, 20000) == WAIT_OBJECT_0) {}
  ~HeldByTheTest() { Release(); }
  HeldByTheTest(const HeldByTheTest&) = delete;
  HeldByTheTest& operator=(const HeldByTheTest&) = delete;

  bool Held() const { return m_held; }
  void Release() {
    if (m_held) ReleaseMutex(m_mutex);
    m_held = false;
    if (m_mutex) CloseHandle(m_mutex);
    m_mutex = nullptr;
  }

 private:
  HANDLE m_mutex;
  bool m_held;
};

TEST_F(TwoProgramsTest, AProgramThatEndedHoldingTheReceiverLeavesItFree) {
  // A thread takes the lock and ends without giving it back, as a program
  // killed in the middle of a read does; the handle stays open here, so the
  // mutex lives on, abandoned.
  const HANDLE mutex = CreateMutexW(
      nullptr, FALSE, link::win::MutexName(link::ReceiverKey(sim::virtual_receiver::kInstanceName)).c_str());
  ASSERT_NE(mutex, nullptr);
  DWORD taken = WAIT_FAILED;
  std::thread([&] { taken = WaitForSingleObject(mutex, 20000); }).join();
  EXPECT_EQ(taken, WAIT_OBJECT_0);
  std::string output;
  const DWORD start = GetTickCount();
  EXPECT_EQ(RunCli(L"show", output), 0) << output;
  EXPECT_LT(GetTickCount() - start, 6000u) << output;
  CloseHandle(mutex);
}

std::string Ascii(std::wstring_view text) {
  std::string ascii;
  for (wchar_t c : text) ascii += static_cast<char>(c);
  return ascii;
}

TEST_F(TwoProgramsTest, ALockThatGrantsOnlyATurnsRightsIsTakenAlike) {
  // Another program of the user created the lock, owned by another account
  // (as an elevated program's objects belong to the Administrators, whom a
  // token at medium integrity holds for deny only), granting everyone, the
  // user among them, just the rights a turn needs: to wait for the mutex
  // and to give it back.
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(L"O:SYD:(A;;0x00100001;;;WD)", SDDL_REVISION_1,
                                                                   &descriptor, nullptr));
  const ui::LocalMemory ownedDescriptor(descriptor);
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
  const std::wstring name = link::win::MutexName(link::ReceiverKey(sim::virtual_receiver::kInstanceName));
  const ui::KernelHandle lock(CreateMutexW(&attributes, FALSE, name.c_str()));
  ASSERT_TRUE(lock);
  // Asked for every right, as a plain CreateMutexW does, it is refused.
  const ui::KernelHandle everyRight(CreateMutexW(nullptr, FALSE, name.c_str()));
  ASSERT_FALSE(everyRight);
  ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));

  std::string output;
  EXPECT_EQ(RunCli(L"show", output), 0) << output;
  // Held by the test, the command line waits for it and says so.
  ASSERT_EQ(WaitForSingleObject(lock.Get(), 20000), WAIT_OBJECT_0);
  EXPECT_EQ(RunCli(L"show", output), 3) << output;
  EXPECT_NE(output.find(Ascii(settings::kReceiverInUse)), std::string::npos) << output;
  ReleaseMutex(lock.Get());
}

TEST_F(TwoProgramsTest, AReceiverHeldElsewhereSkipsThePollAndIsSaidToBeInUse) {
  ShippedProgram program;
  ASSERT_TRUE(program.Started());
  HWND window = nullptr;
  ASSERT_TRUE(test::WaitUntil([&] { return (window = LoadedWindow(program, L"Site-Cam-7")) != nullptr; },
                              kLongWaitMs));
  HeldByTheTest heldByTest;
  ASSERT_TRUE(heldByTest.Held());
  const std::size_t before = ReceiverLog().size();

  // The signal poll skips its readings: nothing reaches the receiver in
  // three of its periods.
  EXPECT_FALSE(test::WaitUntil([&] { return ReceiverLog().size() > before; }, 6500));

  // The command line waits, then says so.
  std::string output;
  const DWORD cliStart = GetTickCount();
  EXPECT_EQ(RunCli(L"show", output), 3) << output;
  EXPECT_GE(GetTickCount() - cliStart, 6000u);
  EXPECT_NE(output.find(Ascii(settings::kReceiverInUse)), std::string::npos) << output;

  // Apply waits with the window answering, then says so and writes nothing.
  Click(window, IDC_APPLY);
  DWORD_PTR answer = 0;
  EXPECT_NE(SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, 2000, &answer), 0);
  std::wstring text;
  const HWND box = program.WaitForBox(&text);
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(text, settings::kReceiverInUse);
  Dismiss(box);
  EXPECT_EQ(ReceiverLog().size(), before);

  // Free again, the window reads the signal again.
  heldByTest.Release();
  EXPECT_TRUE(test::WaitUntil([&] { return ReceiverLog().size() > before; }, kLongWaitMs));
  EXPECT_NE(LoadedWindow(program, L"Site-Cam-7"), nullptr);

  // Exit during an Apply's wait for the receiver ends the program at once
  // (the wait goes on pumping the window's messages): not once the wait has
  // run out, nor after the host's grace for a window that does not close
  // (2 s).
  HeldByTheTest again;
  ASSERT_TRUE(again.Held());
  const std::size_t heldFrom = ReceiverLog().size();
  Click(window, IDC_APPLY);
  EXPECT_NE(SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, 2000, &answer), 0);
  const DWORD exitStart = GetTickCount();
  ASSERT_TRUE(program.ChooseTrayExit());
  EXPECT_TRUE(program.WaitForEnd(10000));
  EXPECT_LT(GetTickCount() - exitStart, 1500u);
  EXPECT_EQ(ReceiverLog().size(), heldFrom) << "the window wrote while the receiver was held elsewhere";
}

// Reads of the receiver, in its log: a SET of a code alone and, 100 ms
// later, the GET that answers it. Another request within that pause would
// have made the reader take another's answer. (A read cut by an unplugging
// has no GET, and the next request comes long after.)
int InterleavedReads(const std::vector<LoggedTransfer>& log) {
  int interleaved = 0;
  const LoggedTransfer* asked = nullptr;
  for (const LoggedTransfer& t : log) {
    const bool request = t.set && t.bytes.find_first_not_of('\0', 1) == std::string::npos;
    if (request && asked && t.timeMs - asked->timeMs < 100) ++interleaved;
    asked = request ? &t : nullptr;
  }
  return interleaved;
}

// The signal lines of `nerova-cli watch`: each reads as the receiver's
// number in dBm or as no signal at all, never as another read's answer.
std::vector<std::string> ImplausibleSignals(const std::string& output) {
  std::vector<std::string> wrong;
  std::size_t at = 0;
  while ((at = output.find("RSSI ", at)) != std::string::npos) {
    const std::size_t end = output.find_first_of("\r\n", at);
    const std::string line = output.substr(at, end - at);
    at = end;
    const std::size_t digits = line.find_first_of("-0123456789");
    if (digits == std::string::npos) continue;
    const long long value = std::stoll(line.substr(digits));
    if (value < -200 || value > 0) wrong.push_back(line);
  }
  return wrong;
}

// nerova-cli run in the background, its output going to a file that the
// test reads while it runs.
class BackgroundCli {
 public:
  explicit BackgroundCli(const std::wstring& arguments) {
    wchar_t folder[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, folder);
    GetTempFileNameW(folder, L"cli", 0, m_path);
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    const HANDLE file = CreateFileW(m_path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = file;
    startup.hStdError = file;
    std::wstring command = std::wstring(L"\"") + kCli + L"\" " + arguments;
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &m_process)) {
      m_process = {};
    }
    CloseHandle(file);
  }
  ~BackgroundCli() {
    if (m_process.hProcess) {
      if (WaitForSingleObject(m_process.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(m_process.hProcess, 1);
      CloseHandle(m_process.hThread);
      CloseHandle(m_process.hProcess);
    }
    DeleteFileW(m_path);
  }
  BackgroundCli(const BackgroundCli&) = delete;
  BackgroundCli& operator=(const BackgroundCli&) = delete;

  std::string Output() const {
    const HANDLE file = CreateFileW(m_path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return {};
    std::string text;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) text.append(buffer, got);
    CloseHandle(file);
    return text;
  }
  // The exit status once it has ended within `timeoutMs`, else -1.
  int Wait(DWORD timeoutMs) const {
    if (!m_process.hProcess || WaitForSingleObject(m_process.hProcess, timeoutMs) != WAIT_OBJECT_0) return -1;
    DWORD code = 0;
    GetExitCodeProcess(m_process.hProcess, &code);
    return static_cast<int>(code);
  }

 private:
  wchar_t m_path[MAX_PATH] = {};
  PROCESS_INFORMATION m_process{};
};

TEST_F(TwoProgramsTest, WatchBesideTheWindowAcrossUnplugsReadsOnlyItsOwnAnswers) {
  ShippedProgram program;
  ASSERT_TRUE(program.Started());
  ASSERT_TRUE(test::WaitUntil([&] { return LoadedWindow(program, L"Site-Cam-7") != nullptr; }, kLongWaitMs));
  const std::size_t before = ReceiverLog().size();
  BackgroundCli watch(L"watch --count 14");
  ASSERT_TRUE(test::WaitUntil([&] { return watch.Output().find("RSSI") != std::string::npos; }, kLongWaitMs));
  // Each plugging in brings a new window that reads the receiver whole
  // while the watch goes on reading beside it.
  for (int cycle = 0; cycle < 3; ++cycle) {
    ASSERT_EQ(RunController(L"unplug"), 0);
    ASSERT_EQ(RunController(L"plug"), 0);
    ASSERT_TRUE(test::WaitUntil([&] { return LoadedWindow(program, L"Site-Cam-7") != nullptr; }, kLongWaitMs))
        << "cycle " << cycle;
    const HWND window = LoadedWindow(program, L"Site-Cam-7");
    EXPECT_EQ(ControlText(window, IDC_WIFI_PASSWORD), L"97531864") << "cycle " << cycle;
    EXPECT_EQ(ControlText(window, IDC_FIRMWARE_VERSION).rfind(L"V", 0), 0u) << "cycle " << cycle;
  }
  const int status = watch.Wait(90000);
  const std::string output = watch.Output();
  EXPECT_EQ(status, 0) << output;
  EXPECT_EQ(ImplausibleSignals(output), std::vector<std::string>{}) << output;
  // Each reading starts with the local time and its offset from UTC.
  const std::regex timed(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d  RSSI .*\r?)");
  int timedReadings = 0;
  std::istringstream lines(output);
  for (std::string line; std::getline(lines, line);) timedReadings += std::regex_match(line, timed);
  EXPECT_EQ(timedReadings, 14) << output;
  std::vector<LoggedTransfer> log = ReceiverLog();
  log.erase(log.begin(), log.begin() + static_cast<std::ptrdiff_t>(std::min(before, log.size())));
  EXPECT_EQ(InterleavedReads(log), 0);
  EXPECT_EQ(program.Box(), nullptr);
}

TEST_F(TwoProgramsTest, AWindowStartedWhileTheReceiverIsHeldShowsAtOnceAndSaysWhy) {
  HeldByTheTest heldByTest;
  ASSERT_TRUE(heldByTest.Held());
  const DWORD start = GetTickCount();
  ShippedProgram program;
  ASSERT_TRUE(program.Started());
  const HWND window = program.WaitForSettingsWindow();
  ASSERT_NE(window, nullptr);
  // Shown before its first load has waited out its turn (6 s).
  EXPECT_LT(GetTickCount() - start, 5000u);
  EXPECT_FALSE(ControlEnabled(window, IDC_APPLY));
  EXPECT_TRUE(test::WaitUntil(
      [&] { return ControlText(window, IDC_STATUS) == settings::StatusText(settings::WindowStatus::InUse); },
      kLongWaitMs))
      << Ascii(ControlText(window, IDC_STATUS));
  EXPECT_EQ(program.Box(), nullptr);
  heldByTest.Release();
  EXPECT_TRUE(test::WaitUntil([&] { return LoadedWindow(program, L"Site-Cam-7") != nullptr; }, kLongWaitMs));
  EXPECT_EQ(ControlText(window, IDC_STATUS), L"");
}

TEST_F(TwoProgramsTest, ABoxLeftOpenKeepsNobodyWaitingAndTheSignalGoesOnUnderTheHelp) {
  ShippedProgram program;
  ASSERT_TRUE(program.Started());
  HWND window = nullptr;
  ASSERT_TRUE(test::WaitUntil([&] { return (window = LoadedWindow(program, L"Site-Cam-7")) != nullptr; },
                              kLongWaitMs));
  // A refusal: its box stays open while the command line reads.
  SetControlText(window, IDC_WIFI_NAME, L"");
  Click(window, IDC_APPLY);
  std::wstring text;
  const HWND box = program.WaitForBox(&text);
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(text, settings::kWifiNameEmpty);
  std::string output;
  const DWORD cliStart = GetTickCount();
  EXPECT_EQ(RunCli(L"show", output), 0) << output;
  EXPECT_LT(GetTickCount() - cliStart, 5000u) << output;
  Dismiss(box);
  ASSERT_TRUE(test::WaitUntil([&] { return !IsWindow(box); }, kLongWaitMs));

  // The help overlay: the window's signal reading goes on underneath.
  Click(window, IDC_HELP_BUTTON);
  HWND overlay = nullptr;
  ASSERT_TRUE(test::WaitUntil(
      [&] {
        for (HWND shown : program.TopLevelWindows()) {
          if (shown != window && shown != program.Host() && shown != program.Box() && IsWindowVisible(shown)) {
            overlay = shown;
          }
        }
        return overlay != nullptr;
      },
      kLongWaitMs));
  const std::size_t before = ReceiverLog().size();
  EXPECT_TRUE(test::WaitUntil([&] { return ReceiverLog().size() > before; }, 10000));
  EXPECT_TRUE(IsWindowVisible(overlay));
  SendMessageW(overlay, WM_LBUTTONDOWN, MK_LBUTTON, 0);
  EXPECT_TRUE(test::WaitUntil([&] { return !IsWindow(overlay) || !IsWindowVisible(overlay); }, kLongWaitMs));
}

TEST_F(TwoProgramsTest, ALockThatCannotBeHadIsSaid) {
  // An object of another kind under the lock's name: no mutex can be made
  // or opened by it.
  const HANDLE squatter = CreateEventW(
      nullptr, TRUE, FALSE, link::win::MutexName(link::ReceiverKey(sim::virtual_receiver::kInstanceName)).c_str());
  ASSERT_NE(squatter, nullptr);
  std::string output;
  EXPECT_EQ(RunCli(L"show", output), 3) << output;
  EXPECT_NE(output.find("could not be locked"), std::string::npos) << output;
  ShippedProgram program;
  ASSERT_TRUE(program.Started());
  const HWND window = program.WaitForSettingsWindow();
  ASSERT_NE(window, nullptr);
  EXPECT_TRUE(test::WaitUntil(
      [&] { return ControlText(window, IDC_STATUS) == settings::StatusText(settings::WindowStatus::NotLockable); },
      kLongWaitMs))
      << Ascii(ControlText(window, IDC_STATUS));
  EXPECT_FALSE(ControlEnabled(window, IDC_APPLY));
  CloseHandle(squatter);
  EXPECT_TRUE(test::WaitUntil([&] { return LoadedWindow(program, L"Site-Cam-7") != nullptr; }, kLongWaitMs));
}

TEST_F(TwoProgramsTest, ARestartThatDidNotHappenIsSaid) {
  ASSERT_EQ(RunController(L"fault restart-refused"), 0);
  ShippedProgram program;
  ASSERT_TRUE(program.Started());
  HWND window = nullptr;
  ASSERT_TRUE(test::WaitUntil([&] { return (window = LoadedWindow(program, L"Site-Cam-7")) != nullptr; },
                              kLongWaitMs));
  SetControlText(window, IDC_WIFI_NAME, L"Yard-9");
  Click(window, IDC_APPLY);
  std::wstring text;
  const HWND box = program.WaitForBox(&text);
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(text, settings::kApplySucceeded);
  Dismiss(box);
  EXPECT_TRUE(test::WaitUntil(
      [&] { return ControlText(window, IDC_STATUS) == settings::StatusText(settings::WindowStatus::Restarting); },
      kLongWaitMs));
  // Its first probe, 10 s on, finds it never left.
  EXPECT_TRUE(test::WaitUntil(
      [&] {
        return ControlText(window, IDC_STATUS) == settings::StatusText(settings::WindowStatus::DidNotRestart);
      },
      kLongWaitMs))
      << Ascii(ControlText(window, IDC_STATUS));
  // Unplugged and plugged back, it takes what it holds; the new window says
  // nothing more.
  ASSERT_EQ(RunController(L"fault clear"), 0);
  ASSERT_EQ(RunController(L"unplug"), 0);
  ASSERT_EQ(RunController(L"plug"), 0);
  EXPECT_TRUE(test::WaitUntil(
      [&] {
        const HWND loaded = LoadedWindow(program, L"Yard-9");
        return loaded != nullptr && loaded != window && ControlText(loaded, IDC_STATUS).empty();
      },
      kLongWaitMs));
}

}  // namespace
}  // namespace nerova::app::testing
