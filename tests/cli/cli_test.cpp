// nerova-cli's commands against the receiver substitute: what they print,
// what reaches the receiver and in which order, and the exit status of
// each way a command can end.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/cli/cli_commands.h"
#include "app/cli/exit_codes.h"
#include "link/receiver_settings.h"
#include "link/utf8_codec.h"
#include "sim/pumps.h"
#include "sim/sim_stack.h"

namespace nerova::cli {
namespace {

using std::chrono::milliseconds;

class RecordingConsole final : public Console {
 public:
  void Out(std::wstring_view line) override { out += std::wstring(line) + L"\n"; }
  void Err(std::wstring_view line) override { err += std::wstring(line) + L"\n"; }
  std::wstring out;
  std::wstring err;
};

// Runs what a test scheduled once the clock has reached its time, after the
// wait that got it there.
class ScheduledPump final : public link::MessagePump {
 public:
  explicit ScheduledPump(sim::ManualClock& clock) : m_clock(clock), m_pump(clock) {}
  void At(milliseconds time, std::function<void()> action) { m_events.push_back({time, std::move(action)}); }
  void PumpWait(std::uint32_t ms) override {
    m_pump.PumpWait(ms);
    for (auto& event : m_events) {
      if (event.action && m_clock.Now() >= event.time) std::exchange(event.action, nullptr)();
    }
  }

 private:
  struct Event {
    milliseconds time;
    std::function<void()> action;
  };
  sim::ManualClock& m_clock;
  sim::FakePump m_pump;
  std::vector<Event> m_events;
};

class CliTest : public ::testing::Test {
 protected:
  int Run(const std::vector<std::wstring>& arguments, std::function<bool()> interrupted = nullptr) {
    const ParsedArguments parsed = ParseArguments(arguments);
    if (!parsed.options) {
      console.err += parsed.error;
      return kExitUsage;
    }
    Platform platform{stack, pump, codec, console, std::move(interrupted), nullptr, nullptr, nullptr};
    return RunCommand(*parsed.options, platform);
  }

  // The command codes of the SETs since the last clear, and their times.
  std::vector<sim::TransferRecord> Sets() const {
    std::vector<sim::TransferRecord> sets;
    for (const auto& t : stack.DataTransfers()) {
      if (t.kind == sim::TransferKind::Set && !t.bytes.empty()) sets.push_back(t);
    }
    return sets;
  }
  // The SETs that carry text (writes), not the read requests.
  std::vector<sim::TransferRecord> Writes() const {
    std::vector<sim::TransferRecord> writes;
    for (const auto& t : Sets()) {
      if (t.bytes.size() > 1 && (t.bytes[1] != 0 || t.bytes[0] == link::CMD_REBOOT)) writes.push_back(t);
    }
    return writes;
  }

  std::shared_ptr<sim::ManualClock> clock = std::make_shared<sim::ManualClock>();
  sim::SimStack stack{clock};
  ScheduledPump pump{*clock};
  link::Utf8Codec codec;
  RecordingConsole console;
};

TEST_F(CliTest, ShowAndListPrintWhatTheReceiverHolds) {
  stack.AddCamera();
  sim::Device receiver = stack.AddReceiver();
  receiver.PinRssi(-52);

  ASSERT_EQ(Run({L"list"}), kExitOk) << console.err;
  EXPECT_EQ(console.out, L"1  " + sim::ReceiverDescription().displayName + L"  V2.4.7\n");

  console.out.clear();
  ASSERT_EQ(Run({L"show"}), kExitOk) << console.err;
  for (const wchar_t* line :
       {L"Mode             Auto\n", L"Camera model     RC300W\n", L"Stream URL       rtsp://192.168.1.200/video1.sdp\n",
        L"Wi-Fi name       TAVI_5G_3F7A21\n", L"Wi-Fi password   97531864\n", L"Resolution       1920 x 1080\n",
        L"Long-press time  3.0 s\n", L"Aging test       off\n", L"Firmware         V2.4.7\n",
        L"RSSI             -52 (good)\n"}) {
    EXPECT_NE(console.out.find(line), std::wstring::npos) << "missing: " << std::wstring(line).c_str();
  }

  sim::ReceiverValues values = receiver.Values();
  values.url = "rtsp://10.0.0.9/\"live\"";
  receiver.SetValues(values);
  console.out.clear();
  ASSERT_EQ(Run({L"show", L"--json"}), kExitOk) << console.err;
  EXPECT_EQ(console.out,
            L"{\"mode\":\"Manual\",\"model\":null,\"url\":\"rtsp://10.0.0.9/\\\"live\\\"\",\"wifiName\":"
            L"\"TAVI_5G_3F7A21\",\"wifiPassword\":\"97531864\",\"resolution\":{\"width\":1920,\"height\":1080},"
            L"\"longPressTime\":30,\"agingTest\":false,\"firmwareVersion\":\"V2.4.7\",\"rssi\":-52,"
            L"\"signalLevel\":\"good\"}\n");
}

TEST_F(CliTest, ApplyWritesInOrderRestartsAndConfirmsWhatCameBack) {
  sim::Device receiver = stack.AddReceiver();
  receiver.SetRebootTime(milliseconds(20000));
  stack.ClearTransfers();

  ASSERT_EQ(Run({L"apply", L"--model", L"RD700/RC60H5", L"--ssid", L"  TAVI-77  ", L"--aging", L"on"}), kExitOk)
      << console.err;

  const std::vector<sim::TransferRecord> writes = Writes();
  std::vector<std::uint8_t> codes;
  for (const auto& w : writes) codes.push_back(w.bytes[0]);
  EXPECT_EQ(codes, (std::vector<std::uint8_t>{link::CMD_URL, link::CMD_WIFI_NAME, link::CMD_WIFI_PASSWORD,
                                              link::CMD_LONG_PRESS_TIME, link::CMD_AGING_TEST, link::CMD_REBOOT}));
  for (std::size_t i = 1; i < writes.size(); ++i) {
    EXPECT_GE(writes[i].time - writes[i - 1].time, milliseconds(150)) << "write " << i;
  }
  // The model's URL, the trimmed name, and what was not given as it was.
  const sim::ReceiverValues held = receiver.Values();
  EXPECT_EQ(held.url, "rtsp://192.168.1.100/video0");
  EXPECT_EQ(held.wifiName, "TAVI-77");
  EXPECT_EQ(held.wifiPassword, "97531864");
  EXPECT_EQ(held.longPressTime, 30);
  EXPECT_EQ(held.agingTest, 1);
  // It waited through the restart and read the settings again afterwards.
  EXPECT_GE(clock->Now() - writes.back().time, milliseconds(20000));
  EXPECT_EQ(Writes().size(), writes.size());
  EXPECT_NE(console.out.find(L"holds the new configuration"), std::wstring::npos) << console.out;
}

TEST_F(CliTest, ApplyLeavesAloneWhatCouldNotBeReadAndWritesWhatIsAskedFor) {
  sim::Device receiver = stack.AddReceiver();
  sim::ReceiverValues values = receiver.Values();
  values.longPressTime = 50;
  values.agingTest = 1;
  receiver.SetValues(values);
  receiver.RefuseGets(link::CMD_LONG_PRESS_TIME);
  receiver.RefuseGets(link::CMD_AGING_TEST);
  stack.ClearTransfers();

  ASSERT_EQ(Run({L"apply", L"--model", L"RC300W", L"--ssid", L"TAVI-1", L"--password", L"12345678"}), kExitOk)
      << console.err;
  std::vector<std::uint8_t> codes;
  for (const auto& w : Writes()) codes.push_back(w.bytes[0]);
  EXPECT_EQ(codes, (std::vector<std::uint8_t>{link::CMD_URL, link::CMD_WIFI_NAME, link::CMD_WIFI_PASSWORD,
                                              link::CMD_REBOOT}));
  EXPECT_EQ(receiver.Values().longPressTime, 50);
  EXPECT_EQ(receiver.Values().agingTest, 1);
  EXPECT_NE(console.err.find(L"long-press time could not be read; it is left as the receiver holds it"),
            std::wstring::npos)
      << console.err;
  EXPECT_NE(console.err.find(L"aging test could not be read; it is left"), std::wstring::npos) << console.err;

  // Asked for, it is written, and read back once the receiver answers it.
  receiver.ClearFaults();
  receiver.RefuseGets(link::CMD_AGING_TEST);
  console.err.clear();
  ASSERT_EQ(Run({L"apply", L"--model", L"RC300W", L"--ssid", L"TAVI-1", L"--password", L"12345678", L"--long-press",
                 L"80"}),
            kExitOk)
      << console.err;
  EXPECT_EQ(receiver.Values().longPressTime, 80);
  EXPECT_EQ(receiver.Values().agingTest, 1);
  EXPECT_EQ(console.err.find(L"long-press time could not be read"), std::wstring::npos) << console.err;
}

TEST_F(CliTest, RefusedInputWritesNothing) {
  sim::Device receiver = stack.AddReceiver();
  const struct {
    std::vector<std::wstring> arguments;
    const wchar_t* message;
  } cases[] = {
      {{L"apply", L"--model", L"RC300"}, L"There is no camera model RC300; the models are RC300W, RD700/RC60H5."},
      {{L"apply", L"--url", L"rtsp://x", L"--long-press", L"201"}, L"from 20 to 200 tenths"},
      {{L"apply", L"--url", L"   "}, L"Url should not be empty"},
      {{L"apply", L"--model", L"RC300W", L"--ssid", std::wstring(50, L'n')}, L"Wifi Name is too long"},
      // A Wi-Fi network name takes at most 32 bytes: these 20 characters are 33.
      {{L"apply", L"--model", L"RC300W", L"--ssid", L"Caf\u00e9-" + std::wstring(12, L'\u00e8') + L"-5G"},
       L"Wifi Name is too long: it takes at most 32 bytes"},
      // Held to what the window's edits take, though the block has room.
      {{L"apply", L"--url", L"rtsp://" + std::wstring(48, L'u')}, L"Url is too long: it takes at most 54 characters"},
      {{L"apply", L"--model", L"RC300W", L"--password", std::wstring(25, L'p')}, L"Password is too long"},
  };
  stack.ClearTransfers();
  for (const auto& c : cases) {
    console.err.clear();
    EXPECT_EQ(Run(c.arguments), kExitRefused) << console.err;
    EXPECT_NE(console.err.find(c.message), std::wstring::npos) << console.err;
  }
  // A value not given that the receiver does not tell cannot be kept.
  receiver.RefuseGets(link::CMD_WIFI_PASSWORD);
  console.err.clear();
  EXPECT_EQ(Run({L"apply", L"--model", L"RC300W"}), kExitRefused);
  EXPECT_NE(console.err.find(L"give it with --password"), std::wstring::npos) << console.err;
  EXPECT_TRUE(Writes().empty());
  EXPECT_EQ(receiver.Values().url, sim::ReceiverValues().url);

  // 32 bytes go through whole.
  receiver.ClearFaults();
  const std::wstring longest = L"Caf\u00e9-" + std::wstring(11, L'\u00e8') + L"-5G!";
  ASSERT_EQ(Run({L"apply", L"--model", L"RC300W", L"--ssid", longest}), kExitOk) << console.err;
  EXPECT_EQ(receiver.Values().wifiName, codec.Encode(longest));
}

TEST_F(CliTest, EachFailureHasItsExitStatus) {
  EXPECT_EQ(Run({L"show"}), kExitNotFound);
  EXPECT_EQ(Run({L"apply"}), kExitUsage);
  EXPECT_EQ(Run({L"show", L"--ssid", L"x"}), kExitUsage);

  sim::Device first = stack.AddReceiver();
  sim::Device second = stack.AddDevice(sim::ReceiverDescription(1));
  // Two receivers: the command must say which.
  EXPECT_EQ(Run({L"apply", L"--url", L"rtsp://a"}), kExitUsage);
  EXPECT_EQ(Run({L"show", L"--device", L"3"}), kExitNotFound);

  // A refused write ends the Apply without a restart.
  second.RefuseSets(link::CMD_URL);
  stack.ClearTransfers();
  console.err.clear();
  EXPECT_EQ(Run({L"apply", L"--device", L"2", L"--url", L"rtsp://a"}), kExitWriteFailed);
  EXPECT_NE(console.err.find(L"Failed to set up the configuration"), std::wstring::npos) << console.err;
  for (const auto& w : Writes()) {
    EXPECT_EQ(w.device, second.Index());
    EXPECT_NE(w.bytes[0], link::CMD_REBOOT);
  }
  second.ClearFaults();

  // A receiver that comes back holding something else.
  second.OverrideAnswer(link::CMD_WIFI_PASSWORD, "wifipassword=00000000");
  console.err.clear();
  EXPECT_EQ(Run({L"apply", L"--device", L"2", L"--url", L"rtsp://a", L"--password", L"12345678"}),
            kExitWriteFailed);
  EXPECT_NE(console.err.find(L"The receiver holds the Wi-Fi password \"00000000\", not \"12345678\"."),
            std::wstring::npos)
      << console.err;

  // A restart command that fails: a receiver that reset before it
  // acknowledged is seen to leave and is read back; one that stays is not
  // taken for restarted.
  second.SetRestartUnacknowledged(true);
  console.err.clear();
  console.out.clear();
  EXPECT_EQ(Run({L"apply", L"--device", L"2", L"--url", L"rtsp://d"}), kExitOk) << console.err;
  EXPECT_NE(console.err.find(L"did not acknowledge the restart command"), std::wstring::npos) << console.err;
  EXPECT_NE(console.out.find(L"holds the new configuration"), std::wstring::npos) << console.out;
  second.SetRestartUnacknowledged(false);
  second.RefuseSets(link::CMD_REBOOT);
  console.err.clear();
  EXPECT_EQ(Run({L"apply", L"--device", L"2", L"--url", L"rtsp://e"}), kExitWriteFailed);
  EXPECT_NE(console.err.find(L"It did not restart"), std::wstring::npos) << console.err;
  EXPECT_EQ(Run({L"apply", L"--device", L"2", L"--url", L"rtsp://f", L"--no-wait"}), kExitWriteFailed);
  second.ClearFaults();

  // Ctrl+C once the first write is out: the rest and the restart still go
  // out, and the status says the configuration was not read back.
  stack.ClearTransfers();
  console.err.clear();
  second.ClearFaults();
  EXPECT_EQ(Run({L"apply", L"--device", L"2", L"--url", L"rtsp://c"}, [&] { return !Writes().empty(); }),
            kExitSentUnconfirmed);
  ASSERT_EQ(Writes().size(), 6u);
  EXPECT_EQ(Writes().back().bytes[0], link::CMD_REBOOT);
  EXPECT_NE(console.err.find(L"was sent whole with the restart, and was not read back"), std::wstring::npos)
      << console.err;

  // One that stays away longer than the time allowed.
  first.SetRebootTime(milliseconds(60000));
  EXPECT_EQ(Run({L"apply", L"--device", L"1", L"--url", L"rtsp://b", L"--timeout", L"30"}), kExitNoReturn);
  EXPECT_EQ(first.Values().url, "rtsp://b");
}

TEST_F(CliTest, WatchKeepsReadingThroughAnUnplugUntilInterrupted) {
  sim::Device receiver = stack.AddReceiver();
  receiver.PinRssi(-70);
  pump.At(milliseconds(1000), [&] { receiver.Unplug(); });
  pump.At(milliseconds(3000), [&] { receiver.Replug(); });
  EXPECT_EQ(Run({L"watch"}, [&] { return clock->Now() >= milliseconds(6500); }), kExitOk);
  EXPECT_EQ(console.out,
            L"RSSI -70 (fair)\nRSSI none (the receiver did not answer)\nRSSI -70 (fair)\nRSSI -70 (fair)\n");
  EXPECT_LT(clock->Now(), milliseconds(6700));
}

}  // namespace
}  // namespace nerova::cli
