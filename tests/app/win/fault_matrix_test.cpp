// The program that ships against a receiver that misbehaves: every fault the
// virtual receiver knows, switched on at start-up, during a load, during an
// Apply and while the window idles, each with the result it must have. One
// program start per fault: its cells run one after the other, each starting
// from a loaded window, and Exit through the tray ends it.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "resources/resource_ids.h"
#include "settings/apply_texts.h"
#include "settings/camera_model.h"
#include "sim/receiver_firmware.h"
#include "sim/virtual/device_presence.h"
#include "sim/virtual/shared_receiver.h"
#include "tests/app/win/shipped_program.h"
#include "tests/sim/win/virtual_receiver_fixture.h"
#include "tests/ui/win_test_support.h"

namespace nerova::app::testing {
namespace {

using sim::virtual_receiver::ReceiverLock;
using sim::virtual_receiver::ReceiverRecord;

constexpr DWORD kLongWaitMs = 60000;
// Once a fault ends (cleared, plugged back, or the receiver back by itself),
// the one settings window shows the receiver loaded within this time: a
// restart (2 s here), the arrival notice or the next probe (2 s), a load.
constexpr DWORD kBackWithinMs = 30000;
constexpr DWORD kExitWithinMs = 5000;
constexpr std::uint8_t kRestartCode = 0x64;
constexpr std::uint8_t kFirmwareCode = 0x66;
// What the receiver holds apart from the Wi-Fi names the test gives it: its
// factory state, which maps to the first camera model in Auto mode.
const sim::ReceiverValues kFactory;

constexpr std::wstring_view kNoBox{};

struct Row {
  const char* fault;
  // Switched by unplug and plug rather than fault NAME and fault clear.
  bool unplug;
  // Fires once and ends by itself: the receiver comes back after its restart.
  bool endsByItself;
  // Only answers are spoilt: the receiver is there throughout and a load
  // under the fault shows what it could read. A loaded window re-reads
  // nothing (Refresh only probes), so once the fault ends the receiver is
  // read whole when it comes anew: unplugged and plugged back here.
  bool spoilsAnswers;
  // Nothing can be read while the fault is on: the first load cannot end.
  bool readsFail;
  // The box each cell shows, if any: at start-up, during a load, while idle,
  // and during an Apply (the fault switched on as its first block is logged).
  std::wstring_view startUpBox, loadBox, idleBox, applyBox;
  // Why the cells come out so.
  const char* why;
};

// clang-format off
const Row kMatrix[] = {
  {"unplug", true, false, false, true, kNoBox, kNoBox, kNoBox, kNoBox,
   "A removal replaces the window, once its Apply has ended; a window being replaced shows "
   "no more boxes (the write that found no device ends the Apply silently), and the window "
   "that takes over shows what the receiver holds once it is back"},
  {"refuse-set", false, false, false, true, kNoBox, kNoBox, kNoBox, settings::kApplyFailed,
   "Every read starts with a SET, so nothing loads; the Apply's second block is refused"},
  {"refuse-get", false, false, false, true, kNoBox, kNoBox, kNoBox, settings::kApplySucceeded,
   "Nothing loads; an Apply only writes, so it goes out whole with its restart"},
  {"crlf", false, false, true, false, kNoBox, kNoBox, kNoBox, settings::kApplySucceeded,
   "Keyed answers with a line end do not match and read as unknown; the RSSI is unspoilt; "
   "an Apply reads nothing, so it shares the plain result"},
  {"no-terminator", false, false, true, false, kNoBox, kNoBox, kNoBox, settings::kApplySucceeded,
   "Texts run to the end of the block, blanks and all; an Apply reads nothing, so it "
   "shares the plain result"},
  {"restart-unacknowledged", false, false, false, false, kNoBox, kNoBox, kNoBox, settings::kApplySucceeded,
   "Only the restart command fails, so the other cells are plain; a failed restart is not "
   "reported, the receiver restarts anyway and the same window loads it again"},
  {"vanish-mid-read", false, true, false, true, kNoBox, kNoBox, kNoBox, settings::kApplySucceeded,
   "The receiver leaves as if unplugged and comes back alone; an Apply only writes, and "
   "the first read after its restart makes the receiver leave once more"},
};
// clang-format on

std::wstring Wide(std::string_view text) { return std::wstring(text.begin(), text.end()); }

// The program's texts are ASCII: narrowed, they print readably.
std::string Narrow(std::wstring_view text) {
  std::string narrow;
  for (wchar_t c : text) narrow += c < 0x80 ? static_cast<char>(c) : '?';
  return narrow;
}

void PrintTo(const Row& row, std::ostream* out) { *out << row.fault; }

// The receiver's record and log, read straight from its files: the moments
// below are too short for the controller's process to start in.
ReceiverRecord Record() {
  ReceiverLock lock;
  return lock.Load();
}

std::vector<LoggedTransfer> LogSince(std::size_t from) {
  std::vector<LoggedTransfer> log = ParseReceiverLog(ReceiverLock().ReadLog());
  log.erase(log.begin(), log.begin() + static_cast<std::ptrdiff_t>(std::min(from, log.size())));
  return log;
}

std::size_t LogMark() { return LogSince(0).size(); }

std::uint8_t CodeOf(const LoggedTransfer& t) { return t.bytes.empty() ? 0 : static_cast<std::uint8_t>(t.bytes[0]); }

std::string PayloadText(const LoggedTransfer& t) {
  const std::string text = t.bytes.substr(1);
  return text.substr(0, text.find('\0'));
}

// The writes among the transfers: blocks with text, and the restart.
std::vector<LoggedTransfer> Writes(const std::vector<LoggedTransfer>& log) {
  std::vector<LoggedTransfer> writes;
  for (const LoggedTransfer& t : log) {
    if (t.set && (!PayloadText(t).empty() || CodeOf(t) == kRestartCode)) writes.push_back(t);
  }
  return writes;
}

std::wstring OnCommand(const Row& row) { return row.unplug ? L"unplug" : L"fault " + Wide(row.fault); }

// Switches the fault on or off at once, as the controller does.
void SwitchNow(const Row& row, bool on) {
  {
    ReceiverLock lock;
    ASSERT_TRUE(lock.Held());
    ReceiverRecord record = lock.Load();
    if (row.unplug) {
      if (on && record.plugged) ++record.generation;
      record.plugged = !on;
      if (!on) record.absentUntilMs = 0;
    } else if (on) {
      record.faults.insert(row.fault);
    } else {
      record.faults.erase(row.fault);
    }
    ASSERT_TRUE(lock.Save(record));
  }
  sim::virtual_receiver::SyncListing(sim::virtual_receiver::kReceiverDevice);
}

// A receiver that leaves unasked (unplugged, or gone in the middle of a
// read) takes the settings window `window` with it: the host replaces it on
// the removal notice. Until then that window may still show itself loaded.
void WaitForTheWindowToGo(HWND window) {
  if (window) {
    ASSERT_TRUE(test::WaitUntil([&] { return !IsWindow(window); }, kLongWaitMs));
  }
}

// Waits until the fault has met the program: a transfer under it, or, for a
// fault that takes the receiver away, the one-shot fault fired and `window`
// (if any was there) gone.
void WaitForTheFaultToBite(const Row& row, std::size_t mark, HWND window) {
  if (row.endsByItself) {
    ASSERT_TRUE(test::WaitUntil([&] { return !Record().Has(row.fault); }, kLongWaitMs));
  }
  if (row.unplug || row.endsByItself) {
    WaitForTheWindowToGo(window);
    return;
  }
  ASSERT_TRUE(test::WaitUntil([&] { return !LogSince(mark).empty(); }, kLongWaitMs));
}

// Clears the fault or plugs the receiver back in, through the controller or
// `now`; a one-shot fault is waited for instead, and the settings window
// `window` that it then takes away.
void EndFault(const Row& row, HWND window = nullptr, bool now = false) {
  if (row.endsByItself) {
    ASSERT_TRUE(test::WaitUntil([&] { return !Record().Has(row.fault); }, kLongWaitMs));
    WaitForTheWindowToGo(window);
    return;
  }
  if (now) {
    SwitchNow(row, false);
    return;
  }
  ASSERT_EQ(RunController(row.unplug ? L"plug" : L"fault clear"), 0);
}

// Loaded: the window shows what the receiver holds and its controls work.
bool ShowsLoaded(HWND window, const std::wstring& wifiName) {
  return ControlText(window, IDC_WIFI_NAME) == wifiName &&
         ControlText(window, IDC_WIFI_PASSWORD) == Wide(kFactory.wifiPassword) &&
         ControlText(window, IDC_MODE) == settings::kModeAuto &&
         ControlText(window, IDC_FIRMWARE_VERSION) == L"V" + Wide(kFactory.firmwareVersion) &&
         ControlEnabled(window, IDC_APPLY) && ControlEnabled(window, IDC_WIFI_NAME);
}

// What the settings windows show, for a failure's message.
std::string Describe(const ShippedProgram& program) {
  std::string text = std::to_string(program.SettingsWindows().size()) + " settings window(s)";
  for (HWND window : program.SettingsWindows()) {
    text += "; Wi-Fi name \"" + Narrow(ControlText(window, IDC_WIFI_NAME)) + "\", password \"" +
            Narrow(ControlText(window, IDC_WIFI_PASSWORD)) + "\", mode " + Narrow(ControlText(window, IDC_MODE)) +
            ", firmware " + Narrow(ControlText(window, IDC_FIRMWARE_VERSION)) + ", Apply " +
            (ControlEnabled(window, IDC_APPLY) ? "enabled" : "disabled");
  }
  std::wstring box;
  if (program.Box(&box)) text += "; box \"" + Narrow(box) + "\"";
  return text;
}

std::string BoxText(const ShippedProgram& program) {
  std::wstring text;
  return program.Box(&text) ? Narrow(text) : std::string();
}

// The receiver unplugged and plugged back: the window that takes over
// reads it anew.
void Replug() {
  EXPECT_EQ(RunController(L"unplug"), 0);
  EXPECT_EQ(RunController(L"plug"), 0);
}

// The one settings window, once it shows the receiver loaded with one of
// `names`; null if that does not come within `timeoutMs`.
HWND WaitForLoaded(const ShippedProgram& program, const std::vector<std::wstring>& names, DWORD timeoutMs) {
  HWND found = nullptr;
  test::WaitUntil(
      [&] {
        const std::vector<HWND> windows = program.SettingsWindows();
        found = nullptr;
        if (windows.size() != 1) return false;
        for (const std::wstring& name : names) {
          if (ShowsLoaded(windows[0], name)) found = windows[0];
        }
        return found != nullptr;
      },
      timeoutMs);
  return found;
}

class FaultMatrixTest : public sim::virtual_receiver::testing::VirtualReceiverTest,
                        public ::testing::WithParamInterface<Row> {
 protected:
  void SetUp() override {
    VirtualReceiverTest::SetUp();
    ASSERT_EQ(RunController(L"set restarttime 2000"), 0);
  }

  std::wstring HeldName() const { return Wide(Record().values.wifiName); }

  // The end of every cell: the fault ends, and the window is back and
  // loaded in time, alone, with no box, and nothing was written.
  HWND Recover(const ShippedProgram& program, const Row& row, std::size_t cellStart, const char* cell,
               bool endNow = false) {
    EndFault(row, nullptr, endNow);
    if (row.spoilsAnswers) Replug();
    const HWND window = WaitForLoaded(program, {HeldName()}, kBackWithinMs);
    EXPECT_NE(window, nullptr) << cell << ": " << Describe(program);
    EXPECT_EQ(BoxText(program), "") << cell;
    EXPECT_TRUE(Writes(LogSince(cellStart)).empty()) << cell;
    return window;
  }

  HWND StartUp(const ShippedProgram& program, const Row& row) {
    const std::size_t start = LogMark();
    const HWND first = program.WaitForSettingsWindow();
    EXPECT_NE(first, nullptr);
    // Whether the first window is replaced or finds the receiver again
    // itself, it is not loaded before the fault ends.
    WaitForTheFaultToBite(row, start, nullptr);
    if (row.readsFail) {
      EXPECT_FALSE(ControlEnabled(first, IDC_WIFI_NAME)) << "start-up";
      EXPECT_FALSE(ControlEnabled(first, IDC_APPLY)) << "start-up";
    }
    if (row.spoilsAnswers) {
      EXPECT_TRUE(test::WaitUntil([&] { return ControlEnabled(first, IDC_APPLY); }, kLongWaitMs))
          << "start-up: " << Describe(program);
    }
    EXPECT_EQ(BoxText(program), Narrow(row.startUpBox)) << "start-up";
    return Recover(program, row, start, "start-up");
  }

  // A load (of the window that takes over after an unplug and plug), and
  // the fault switched on once its first answer after the presence probe,
  // the firmware version, is in, and off again as soon as it has met the
  // load, so that the rest of the load goes through.
  HWND DuringALoad(const ShippedProgram& program, const Row& row) {
    const std::size_t start = LogMark();
    Replug();
    EXPECT_TRUE(test::WaitUntil(
        [&] {
          const std::vector<LoggedTransfer> log = LogSince(start);
          return std::any_of(log.begin(), log.end(),
                             [](const LoggedTransfer& t) { return !t.set && CodeOf(t) == kFirmwareCode; });
        },
        kLongWaitMs));
    const std::size_t switched = LogMark();
    const std::vector<HWND> loading = program.SettingsWindows();
    SwitchNow(row, true);
    WaitForTheFaultToBite(row, switched, loading.size() == 1 ? loading[0] : nullptr);
    EXPECT_EQ(BoxText(program), Narrow(row.loadBox)) << "load";
    return Recover(program, row, start, "load", true);
  }

  HWND WhileIdle(const ShippedProgram& program, HWND window, const Row& row) {
    const std::size_t start = LogMark();
    EXPECT_EQ(RunController(OnCommand(row)), 0);
    WaitForTheFaultToBite(row, start, window);
    // A receiver that stops answering is dropped: the window (or the one
    // that replaced it) shows none until it answers again.
    if (row.readsFail) {
      EXPECT_TRUE(test::WaitUntil(
          [&] {
            const std::vector<HWND> windows = program.SettingsWindows();
            return windows.size() == 1 && !ControlEnabled(windows[0], IDC_APPLY);
          },
          kLongWaitMs))
          << "idle: " << Describe(program);
    }
    EXPECT_EQ(BoxText(program), Narrow(row.idleBox)) << "idle";
    return Recover(program, row, start, "idle");
  }

  // A new Wi-Fi name applied, and the fault switched on as the first block
  // is logged. The blocks that went out are a prefix of the Apply's order,
  // each once with its own values (whole, with the restart, when it
  // succeeded); the receiver holds the old name or the new one.
  HWND DuringApply(const ShippedProgram& program, HWND window, const Row& row) {
    const std::string oldName = Record().values.wifiName;
    const std::string asked = "Yard-3";
    const std::vector<std::string> order = {kFactory.url, "wifiname=" + asked,
                                            "wifipassword=" + kFactory.wifiPassword,
                                            "longpresstime=" + std::to_string(kFactory.longPressTime),
                                            "agingtest=" + std::to_string(kFactory.agingTest)};
    SetControlText(window, IDC_WIFI_NAME, Wide(asked));
    const std::size_t start = LogMark();
    Click(window, IDC_APPLY);
    EXPECT_TRUE(test::WaitUntil([&] { return !Writes(LogSince(start)).empty(); }, kLongWaitMs));
    SwitchNow(row, true);
    // The Apply ends with its box, or, without one, with its window replaced.
    HWND box = nullptr;
    EXPECT_TRUE(test::WaitUntil([&] { return (box = program.Box()) != nullptr || !IsWindow(window); }, kLongWaitMs))
        << "apply: " << Describe(program);
    EXPECT_EQ(BoxText(program), Narrow(row.applyBox)) << "apply";
    if (box) Dismiss(box);
    const bool succeeded = row.applyBox == settings::kApplySucceeded;
    if (succeeded) {
      // The restart goes out once the box is closed.
      EXPECT_TRUE(test::WaitUntil(
          [&] {
            const std::vector<LoggedTransfer> writes = Writes(LogSince(start));
            return !writes.empty() && CodeOf(writes.back()) == kRestartCode;
          },
          kLongWaitMs))
          << "apply";
    }
    // The receiver back from its restart may take this window with it too.
    EndFault(row, succeeded ? window : nullptr);
    if (row.spoilsAnswers) Replug();
    const std::vector<std::wstring> shown =
        succeeded ? std::vector<std::wstring>{Wide(asked)} : std::vector<std::wstring>{Wide(oldName), Wide(asked)};
    const HWND back = WaitForLoaded(program, shown, kBackWithinMs);
    EXPECT_NE(back, nullptr) << "apply: " << Describe(program);
    EXPECT_EQ(BoxText(program), "") << "apply";

    const std::vector<LoggedTransfer> writes = Writes(LogSince(start));
    EXPECT_LE(writes.size(), order.size() + 1) << "apply";
    for (std::size_t i = 0; i < writes.size() && i < order.size(); ++i) {
      EXPECT_EQ(PayloadText(writes[i]), order[i]) << "apply, block " << i;
    }
    if (succeeded) {
      EXPECT_EQ(writes.size(), order.size() + 1) << "apply";
      EXPECT_TRUE(!writes.empty() && CodeOf(writes.back()) == kRestartCode) << "apply";
    } else {
      EXPECT_LT(writes.size(), order.size()) << "apply";
    }
    const sim::ReceiverValues held = Record().values;
    if (succeeded) {
      EXPECT_EQ(held.wifiName, asked) << "apply";
    } else {
      EXPECT_TRUE(held.wifiName == oldName || held.wifiName == asked) << held.wifiName;
    }
    EXPECT_EQ(held.url, kFactory.url) << "apply";
    EXPECT_EQ(held.wifiPassword, kFactory.wifiPassword) << "apply";
    EXPECT_EQ(held.longPressTime, kFactory.longPressTime) << "apply";
    EXPECT_EQ(held.agingTest, kFactory.agingTest) << "apply";
    return back;
  }
};

TEST_P(FaultMatrixTest, EachMomentEndsAsTheTableSays) {
  const Row& row = GetParam();
  SCOPED_TRACE(row.why);
  ASSERT_EQ(RunController(OnCommand(row)), 0);
  ShippedProgram program;
  ASSERT_TRUE(program.Started());

  HWND window = StartUp(program, row);
  ASSERT_NE(window, nullptr);
  window = DuringALoad(program, row);
  ASSERT_NE(window, nullptr);
  window = WhileIdle(program, window, row);
  ASSERT_NE(window, nullptr);
  window = DuringApply(program, window, row);
  ASSERT_NE(window, nullptr);

  const DWORD start = GetTickCount();
  ASSERT_TRUE(program.ChooseTrayExit());
  EXPECT_TRUE(program.WaitForEnd(10000));
  EXPECT_LT(GetTickCount() - start, kExitWithinMs);
}

std::string RowName(const ::testing::TestParamInfo<Row>& info) {
  std::string name;
  for (const char* c = info.param.fault; *c; ++c) name += *c == '-' ? '_' : *c;
  return name;
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultMatrixTest, ::testing::ValuesIn(kMatrix), RowName);

}  // namespace
}  // namespace nerova::app::testing
