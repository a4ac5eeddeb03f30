// The program that ships and nerova-cli.exe at once on one virtual
// receiver, under Wine: the window reads the signal every 2 s while the
// command line reads and writes beside it. Each program's read is a request
// and, a pause later, its answer; the receiver keeps one last request for
// both, so neither may ask between the other's request and its answer.
#include <windows.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "link/receiver_lock.h"
#include "link/win/named_mutex_locks.h"
#include "resources/resource_ids.h"
#include "settings/apply_texts.h"
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

}  // namespace
}  // namespace nerova::app::testing
