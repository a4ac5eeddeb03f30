// nerova-cli's commands against the receiver substitute: what they print,
// what reaches the receiver and in which order, and the exit status of
// each way a command can end.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <functional>
#include <memory>
#include <regex>
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

// `text` as a JSON string holds it, without the quotes.
std::wstring JsonEscaped(const std::wstring& text) {
  std::wstring escaped;
  for (wchar_t c : text) {
    if (c == L'\\' || c == L'"') escaped += L'\\';
    escaped += c;
  }
  return escaped;
}

class RecordingConsole final : public Console {
 public:
  void Out(std::wstring_view line) override { out += std::wstring(line) + L"\n"; }
  void Err(std::wstring_view line) override { err += std::wstring(line) + L"\n"; }
  bool OutputLost() const override { return false; }
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
    // Each receiver's thread waits on the same clock with a wait of its own.
    Platform platform{stack,
                      pump,
                      codec,
                      console,
                      std::move(interrupted),
                      nullptr,
                      nullptr,
                      nullptr,
                      link::FreeLocks(),
                      [this] { return std::make_unique<ClockWorker>(*clock); },
                      [this](std::size_t) { return standardInput; },
                      nullptr};
    return RunCommand(*parsed.options, platform);
  }

  class ClockWorker final : public WorkerThread {
   public:
    explicit ClockWorker(sim::ManualClock& clock) : m_pump(clock) {}
    link::MessagePump& Pump() override { return m_pump; }

   private:
    sim::FakePump m_pump;
  };

  // A file of its own in the temporary directory, removed with the test.
  std::wstring TemporaryFile(const std::string& name, const std::string& content = {}) {
    const std::filesystem::path path = m_directory / name;
    std::ofstream(path, std::ios::binary) << content;
    return codec.Decode(path.string());
  }
  std::vector<std::string> FileLines(const std::wstring& path) const {
    std::ifstream file(codec.Encode(path));
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);) lines.push_back(line);
    return lines;
  }
  void TearDown() override { std::filesystem::remove_all(m_directory); }

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
  std::optional<std::string> standardInput;

 private:
  std::filesystem::path m_directory = [] {
    const std::filesystem::path directory =
        std::filesystem::temp_directory_path() /
        ("nerova-cli-test-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
         ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(directory);
    return directory;
  }();
};

TEST_F(CliTest, ShowAndListPrintWhatTheReceiverHolds) {
  stack.AddCamera();
  sim::Device receiver = stack.AddReceiver();
  receiver.PinRssi(-52);

  ASSERT_EQ(Run({L"list"}), kExitOk) << console.err;
  EXPECT_EQ(console.out, L"1  NRV20260001  1-1  " + sim::ReceiverDescription().displayName + L"  V2.4.7\n");

  console.out.clear();
  ASSERT_EQ(Run({L"list", L"--json"}), kExitOk) << console.err;
  EXPECT_EQ(console.out, L"{\"format\":1,\"receivers\":[{\"number\":1,\"name\":\"" +
                             JsonEscaped(sim::ReceiverDescription().displayName) +
                             L"\",\"serial\":\"NRV20260001\",\"port\":\"1-1\",\"firmwareVersion\":\"V2.4.7\","
                             L"\"state\":\"ready\"}]}\n");

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
            L"{\"format\":1,\"receiver\":{\"name\":\"" + JsonEscaped(sim::ReceiverDescription().displayName) +
                L"\",\"serial\":\"NRV20260001\",\"port\":\"1-1\"},\"mode\":\"Manual\",\"model\":null,\"url\":"
                L"\"rtsp://10.0.0.9/\\\"live\\\"\",\"wifiName\":\"TAVI_5G_3F7A21\",\"wifiPassword\":\"97531864\","
                L"\"resolution\":{\"width\":1920,\"height\":1080},\"longPressTime\":30,\"agingTest\":false,"
                L"\"firmwareVersion\":\"V2.4.7\",\"rssi\":-52,\"signalLevel\":\"good\"}\n");
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
  // Refused alike with no receiver attached: values are judged first.
  for (const auto& c : cases) {
    console.err.clear();
    EXPECT_EQ(Run(c.arguments), kExitRefused) << console.err;
    EXPECT_NE(console.err.find(c.message), std::wstring::npos) << console.err;
  }
  sim::Device receiver = stack.AddReceiver();
  stack.ClearTransfers();
  for (const auto& c : cases) EXPECT_EQ(Run(c.arguments), kExitRefused);
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
  EXPECT_EQ(Run({L"apply", L"--model", L"RC300W", L"--url", L"rtsp://a"}), kExitUsage);
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
  // Each line starts with the local time and its offset from UTC.
  const std::wregex time(L"\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d[+-]\\d\\d:\\d\\d  ");
  EXPECT_TRUE(std::regex_search(console.out, time, std::regex_constants::match_continuous)) << console.out;
  EXPECT_EQ(std::regex_replace(console.out, time, L""),
            L"RSSI -70 (fair)\nRSSI none (the receiver did not answer)\nRSSI -70 (fair)\nRSSI -70 (fair)\n");
  EXPECT_LT(clock->Now(), milliseconds(6700));
}

TEST_F(CliTest, ShowNeverReportsAValueItDidNotRead) {
  sim::Device receiver = stack.AddReceiver();
  // A key the firmware does not have is answered in another form: unknown,
  // and no failure.
  receiver.OverrideAnswer(link::CMD_LONG_PRESS_TIME, "garbage");
  EXPECT_EQ(Run({L"show", L"--json"}), kExitOk) << console.err;
  EXPECT_NE(console.out.find(L"\"longPressTime\":null,\"agingTest\":false"), std::wstring::npos) << console.out;

  // A read the receiver does not answer at all.
  receiver.RefuseGets(link::CMD_WIFI_NAME);
  console.out.clear();
  EXPECT_EQ(Run({L"show", L"--json"}), kExitUnread);
  EXPECT_NE(console.out.find(L"\"wifiName\":null,\"wifiPassword\":\"97531864\""), std::wstring::npos) << console.out;
  EXPECT_NE(console.out.find(L"\"longPressTime\":null,\"agingTest\":false"), std::wstring::npos) << console.out;
  console.out.clear();
  EXPECT_EQ(Run({L"show"}), kExitUnread);
  EXPECT_NE(console.out.find(L"Wi-Fi name       unknown\n"), std::wstring::npos) << console.out;
  EXPECT_NE(console.out.find(L"Long-press time  unknown\n"), std::wstring::npos) << console.out;
  EXPECT_NE(console.err.find(L"did not answer every read"), std::wstring::npos) << console.err;
}

TEST_F(CliTest, AConfigurationSavedFromOneReceiverAppliesToAnother) {
  sim::Device first = stack.AddReceiver();
  sim::Device second = stack.AddDevice(sim::ReceiverDescription(1));
  sim::ReceiverValues site = first.Values();
  site.url = "rtsp://10.1.1.5/cam";
  site.wifiName = "SITE-CAM-7";
  site.wifiPassword = "pw123456";
  site.longPressTime = 45;
  site.agingTest = 1;
  first.SetValues(site);

  ASSERT_EQ(Run({L"--device", L"NRV20260001", L"show", L"--json"}), kExitOk) << console.err;
  const std::wstring saved = TemporaryFile("site.json", codec.Encode(console.out));
  ASSERT_EQ(Run({L"--device", L"NRV20260002", L"apply", L"--from", saved}), kExitOk) << console.err;
  sim::ReceiverValues copied = second.Values();
  EXPECT_EQ(copied.url, site.url);
  EXPECT_EQ(copied.wifiName, site.wifiName);
  EXPECT_EQ(copied.wifiPassword, site.wifiPassword);
  EXPECT_EQ(copied.longPressTime, 45);
  EXPECT_EQ(copied.agingTest, 1);

  // One value alone, the receiver named by its port; the password from a
  // file, or from standard input with the configuration given there.
  ASSERT_EQ(Run({L"--device", L"1-2", L"apply", L"--ssid", L"SITE-CAM-8"}), kExitOk) << console.err;
  EXPECT_EQ(second.Values().wifiName, "SITE-CAM-8");
  EXPECT_EQ(second.Values().url, site.url);
  const std::wstring password = TemporaryFile("password", "secret99\r\nnot this\n");
  ASSERT_EQ(Run({L"--device", L"2", L"apply", L"--password-file", password}), kExitOk) << console.err;
  EXPECT_EQ(second.Values().wifiPassword, "secret99");
  standardInput = R"({"format":1,"model":"RC300W","url":"ignored","wifiName":"FROM-STDIN","future":[1,2]})";
  ASSERT_EQ(Run({L"--device", L"2", L"apply", L"--from", L"-", L"--ssid", L"OVERRIDDEN"}), kExitOk) << console.err;
  EXPECT_EQ(second.Values().url, sim::ReceiverValues().url);
  EXPECT_EQ(second.Values().wifiName, "OVERRIDDEN");

  // A file that is not a configuration, or of a newer format: nothing is written.
  stack.ClearTransfers();
  // Nested deeper than any configuration, as a hostile file would be.
  const std::string deep = "{\"x\":" + std::string(100000, '[') + std::string(100000, ']') + "}";
  for (const std::string& text :
       {std::string("{\"wifiName\":5}"), std::string("[1,2]"), std::string("{\"format\":2,\"wifiName\":\"x\"}"),
        std::string("{\"wifiName\":"), deep}) {
    standardInput = text;
    console.err.clear();
    EXPECT_EQ(Run({L"--device", L"2", L"apply", L"--from", L"-"}), kExitUsage) << text.substr(0, 40);
    EXPECT_NE(console.err.find(L"is not a configuration"), std::wstring::npos) << console.err;
  }
  EXPECT_TRUE(Writes().empty());
}

TEST_F(CliTest, ApplyAllConfiguresEveryReceiverAndEndsWithTheWorstStatus) {
  sim::Device first = stack.AddReceiver();
  sim::Device second = stack.AddDevice(sim::ReceiverDescription(1));
  sim::Device third = stack.AddDevice(sim::ReceiverDescription(2));
  third.RefuseSets(link::CMD_URL);

  EXPECT_EQ(Run({L"apply", L"--all", L"--json", L"--model", L"RD700/RC60H5", L"--ssid", L"FLEET"}), kExitWriteFailed)
      << console.err;
  for (const sim::Device* done : {&first, &second}) {
    EXPECT_EQ(done->Values().wifiName, "FLEET");
    EXPECT_NE(done->Values().url, sim::ReceiverValues().url);
  }
  EXPECT_EQ(third.Values().wifiName, sim::ReceiverValues().wifiName);
  std::vector<std::wstring> records;
  for (std::size_t at = 0, end; (end = console.out.find(L'\n', at)) != std::wstring::npos; at = end + 1) {
    records.push_back(console.out.substr(at, end - at));
  }
  ASSERT_EQ(records.size(), 3u) << console.out;
  for (const wchar_t* serial : {L"NRV20260001", L"NRV20260002", L"NRV20260003"}) {
    const auto record = std::find_if(records.begin(), records.end(), [&](const std::wstring& r) {
      return r.find(L"\"serial\":\"" + std::wstring(serial) + L"\"") != std::wstring::npos;
    });
    ASSERT_NE(record, records.end()) << serial;
    const bool failed = std::wstring(serial) == L"NRV20260003";
    EXPECT_NE(record->find(failed ? L"\"result\":\"failed\",\"status\":5" : L"\"result\":\"done\",\"status\":0"),
              std::wstring::npos)
        << *record;
    EXPECT_EQ(record->find(L"wifiPassword"), std::wstring::npos) << *record;
  }
}

TEST_F(CliTest, ProvisionConfiguresEachReceiverOnceAsItIsPluggedInAndRecordsIt) {
  sim::Device first = stack.AddReceiver();
  sim::Device unlisted = stack.AddDevice(sim::ReceiverDescription(2));
  std::optional<sim::Device> second;
  pump.At(milliseconds(30000), [&] { second = stack.AddDevice(sim::ReceiverDescription(1)); });
  const std::wstring table =
      TemporaryFile("table.csv", "serial,ssid,password\r\nNRV20260001,CAM-A,pass-aaaa\r\n\"NRV20260002\",CAM-B,\r\n");
  const std::wstring record = TemporaryFile("records.jsonl");

  EXPECT_EQ(Run({L"provision", L"--model", L"RC300W", L"--table", table, L"--record", record},
                [&] { return FileLines(record).size() >= 3; }),
            kExitOk)
      << console.err;
  ASSERT_TRUE(second.has_value());
  EXPECT_EQ(first.Values().wifiName, "CAM-A");
  EXPECT_EQ(first.Values().wifiPassword, "pass-aaaa");
  EXPECT_EQ(second->Values().wifiName, "CAM-B");
  // An empty cell keeps what the receiver holds.
  EXPECT_EQ(second->Values().wifiPassword, sim::ReceiverValues().wifiPassword);
  EXPECT_EQ(unlisted.Values().wifiName, sim::ReceiverValues().wifiName);
  // Its own restart does not make a receiver new: each one is restarted once.
  std::size_t restarts = 0;
  for (const auto& write : Writes()) restarts += write.bytes[0] == link::CMD_REBOOT;
  EXPECT_EQ(restarts, 2u);

  const std::vector<std::string> lines = FileLines(record);
  ASSERT_EQ(lines.size(), 3u);
  const std::regex done(R"(^\{"format":1,"time":"[^"]+","serial":"NRV2026000[12]","port":"1-[12]",.*)"
                        R"("firmwareVersion":"V2.4.7","written":\{"url":"[^"]+","wifiName":"CAM-[AB]",)"
                        R"("longPressTime":30,"agingTest":false\},"result":"done","status":0,.*\}$)");
  EXPECT_TRUE(std::regex_match(lines[0], std::regex(R"(.*"serial":"NRV20260003".*"result":"skipped".*)")))
      << lines[0];
  EXPECT_TRUE(std::regex_match(lines[1], done)) << lines[1];
  EXPECT_TRUE(std::regex_match(lines[2], done)) << lines[2];
  EXPECT_NE((lines[1] + lines[2]).find("NRV20260001"), std::string::npos);
  EXPECT_NE((lines[1] + lines[2]).find("NRV20260002"), std::string::npos);
  EXPECT_NE(console.err.find(L"Provisioned: 2 done, 0 failed, 1 skipped."), std::wstring::npos) << console.err;
}

}  // namespace
}  // namespace nerova::cli