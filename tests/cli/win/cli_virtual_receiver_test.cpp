// nerova-cli.exe, the program that ships, under Wine against the virtual
// receiver: found through the system device enumerator and talked to over
// DirectShow and Kernel Streaming, as on a Windows PC with the receiver.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cwchar>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "sim/virtual/shared_receiver.h"
#include "tests/sim/win/virtual_receiver_fixture.h"
#include "tests/ui/win_test_support.h"

namespace nerova::cli::testing {
namespace {

using sim::virtual_receiver::testing::ReceiverLog;
using sim::virtual_receiver::testing::ReceiverState;
using sim::virtual_receiver::testing::RunController;
using sim::virtual_receiver::testing::RunProgram;

constexpr wchar_t kCli[] = NEROVA_CLI_PROGRAM;
// Where the second receiver's `show --json` goes for the schema check that
// runs after this test.
constexpr wchar_t kShowDocument[] = NEROVA_SHOW_DOCUMENT;

int RunCli(const std::wstring& arguments, std::string& output) {
  return RunProgram(std::wstring(L"\"") + kCli + L"\" " + arguments, output);
}

bool Holds(const std::string& output, const std::string& text) { return output.find(text) != std::string::npos; }

// The first line of `text` that holds `part`; empty when none does.
std::string LineWith(const std::string& text, const std::string& part) {
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    if (Holds(line, part)) return line;
  }
  return {};
}

bool WriteText(const std::filesystem::path& path, const std::string& text) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << text;
  file.close();
  return static_cast<bool>(file);
}

std::string ReadText(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

std::size_t LineCount(const std::string& text) { return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')); }

// The virtual receiver's names are ASCII.
std::string Narrow(const wchar_t* text) { return std::string(text, text + std::wcslen(text)); }

// The receiver's transfers, read straight from its log file (the
// controller's process takes longer to start than an Apply's pauses last).
std::vector<sim::virtual_receiver::testing::LoggedTransfer> LogOf(
    const sim::virtual_receiver::VirtualReceiver& receiver = sim::virtual_receiver::kReceiverDevice) {
  return sim::virtual_receiver::testing::ParseReceiverLog(sim::virtual_receiver::ReceiverLock(receiver).ReadLog());
}

// The blocks with text and the restart among the receiver's transfers from
// `from` on.
std::vector<int> WrittenCodes(std::size_t from,
                              const sim::virtual_receiver::VirtualReceiver& receiver = sim::virtual_receiver::kReceiverDevice) {
  std::vector<int> codes;
  const auto log = LogOf(receiver);
  for (std::size_t i = from; i < log.size(); ++i) {
    const int code = static_cast<unsigned char>(log[i].bytes[0]);
    if (log[i].set && (log[i].bytes[1] != '\0' || code == 0x64)) codes.push_back(code);
  }
  return codes;
}

using CliVirtualReceiverTest = sim::virtual_receiver::testing::VirtualReceiverTest;

TEST_F(CliVirtualReceiverTest, ListAndShowPrintWhatTheReceiverHolds) {
  std::string output;
  ASSERT_EQ(RunCli(L"list", output), 0) << output;
  EXPECT_TRUE(Holds(output, "1  ")) << output;
  EXPECT_TRUE(Holds(output, "vid_1d6b&pid_010c")) << output;

  ASSERT_EQ(RunCli(L"show --json", output), 0) << output;
  const sim::ReceiverValues held = ReceiverState().values;
  EXPECT_TRUE(Holds(output, "\"url\":\"" + held.url + "\"")) << output;
  EXPECT_TRUE(Holds(output, "\"wifiName\":\"Site-Cam-7\"")) << output;
  EXPECT_TRUE(Holds(output, "\"wifiPassword\":\"" + held.wifiPassword + "\"")) << output;
  EXPECT_TRUE(Holds(output, "\"firmwareVersion\":\"V" + held.firmwareVersion + "\"")) << output;

  ASSERT_EQ(RunController(L"unplug"), 0);
  EXPECT_EQ(RunCli(L"show", output), 3) << output;
  EXPECT_TRUE(Holds(output, "No receiver is attached.")) << output;
}

TEST_F(CliVirtualReceiverTest, TwoReceiversAreKnownByTheirSerialNumbersAndPorts) {
  using sim::virtual_receiver::kReceiverDevice;
  using sim::virtual_receiver::kSecondReceiverDevice;
  ASSERT_EQ(RunController(L"fault second-receiver"), 0);
  const std::string serial1 = Narrow(kReceiverDevice.serial);
  const std::string port1 = Narrow(kReceiverDevice.locationPath);
  const std::string serial2 = Narrow(kSecondReceiverDevice.serial);
  const std::string port2 = Narrow(kSecondReceiverDevice.locationPath);

  // Numbered in the order of their ports.
  std::string output;
  ASSERT_EQ(RunCli(L"list", output), 0) << output;
  EXPECT_TRUE(Holds(output, "1  " + serial1 + "  " + port1 + "  ")) << output;
  EXPECT_TRUE(Holds(output, "2  " + serial2 + "  " + port2 + "  ")) << output;

  ASSERT_EQ(RunCli(L"list --json", output), 0) << output;
  EXPECT_TRUE(Holds(output, "\"serial\":\"" + serial1 + "\",\"port\":\"" + port1 + "\"")) << output;
  EXPECT_TRUE(Holds(output, "\"serial\":\"" + serial2 + "\",\"port\":\"" + port2 + "\"")) << output;

  // A document left by an earlier run must not pass for this one's.
  const std::filesystem::path document(kShowDocument);
  std::error_code notThere;
  std::filesystem::remove(document, notThere);
  ASSERT_FALSE(std::filesystem::exists(document));
  ASSERT_EQ(RunCli(L"--device " + std::wstring(kSecondReceiverDevice.serial) + L" show --json", output), 0) << output;
  EXPECT_TRUE(Holds(output, Narrow(kSecondReceiverDevice.instanceName) + "\",\"serial\":\"" + serial2 +
                                "\",\"port\":\"" + port2 + "\"},"))
      << output;
  std::ofstream written(document, std::ios::binary);
  written << output;
  written.close();
  ASSERT_TRUE(written) << "could not write " << document;

  ASSERT_EQ(RunCli(L"--device \"" + std::wstring(kReceiverDevice.locationPath) + L"\" show --json", output), 0) << output;
  EXPECT_TRUE(Holds(output, Narrow(kReceiverDevice.instanceName) + "\",\"serial\":\"" + serial1 + "\",\"port\":\"" +
                                port1 + "\"},"))
      << output;
}

TEST_F(CliVirtualReceiverTest, ApplyRoundTripsThroughTheRestart) {
  const std::size_t before = ReceiverLog().size();
  std::string output;
  ASSERT_EQ(RunCli(L"apply --model RD700/RC60H5 --ssid \"TAVI-Yard 2\" --password 24681357", output), 0) << output;
  EXPECT_TRUE(Holds(output, "The setup was successful and the device is now rebooting")) << output;
  EXPECT_TRUE(Holds(output, "holds the new configuration")) << output;

  const sim::virtual_receiver::testing::ShownReceiver state = ReceiverState();
  EXPECT_TRUE(state.present);
  EXPECT_EQ(state.values.url, "rtsp://192.168.1.100/video0");
  EXPECT_EQ(state.values.wifiName, "TAVI-Yard 2");
  EXPECT_EQ(state.values.wifiPassword, "24681357");

  // The writes in order, the restart, and reads again once it was back.
  std::vector<int> codes;
  const auto log = ReceiverLog();
  std::size_t restartAt = 0;
  for (std::size_t i = before; i < log.size(); ++i) {
    const auto& t = log[i];
    const int code = static_cast<unsigned char>(t.bytes[0]);
    if (t.set && (t.bytes[1] != '\0' || code == 0x64)) codes.push_back(code);
    if (t.set && code == 0x64) restartAt = i;
  }
  EXPECT_EQ(codes, (std::vector<int>{0x02, 0x04, 0x05, 0x0D, 0x0C, 0x64}));
  ASSERT_GT(restartAt, 0u);
  EXPECT_GT(log.size(), restartAt + 1) << "nothing was read after the restart";
}

TEST_F(CliVirtualReceiverTest, ALogoffDuringApplyIsAnsweredOnceTheConfigurationIsOut) {
  // Windows asks a console program's windows whether the session may end;
  // once WM_ENDSESSION is answered it may end the process at any moment.
  const std::size_t before = ReceiverLog().size();
  auto apply = std::async(std::launch::async, [] {
    std::string output;
    const int status = RunCli(L"apply --ssid Yard-5 --model RC300W --no-wait", output);
    return std::make_pair(status, output);
  });
  HWND window = nullptr;
  ASSERT_TRUE(test::WaitUntil([&] { return (window = FindWindowW(L"NerovaCliSessionEnd", nullptr)) != nullptr; }, 60000));
  ASSERT_TRUE(test::WaitUntil([&] { return !WrittenCodes(before).empty(); }, 60000));
  ASSERT_LT(WrittenCodes(before).size(), 6u) << "the session ended after the configuration was out";
  SendMessageW(window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF);
  DWORD_PTR answer = 0;
  SendMessageTimeoutW(window, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF, SMTO_NORMAL, 30000, &answer);
  EXPECT_EQ(WrittenCodes(before), (std::vector<int>{0x02, 0x04, 0x05, 0x0D, 0x0C, 0x64}))
      << "answered before the configuration was out";
  ASSERT_EQ(apply.wait_for(std::chrono::seconds(60)), std::future_status::ready);
  const auto [status, output] = apply.get();
  EXPECT_EQ(status, 0) << output;
}

TEST_F(CliVirtualReceiverTest, TwoReceiversAreConfiguredEachOnItsOwnAndAllAtOnce) {
  using sim::virtual_receiver::kReceiverDevice;
  using sim::virtual_receiver::kSecondReceiverDevice;
  using sim::virtual_receiver::testing::ShownReceiver;
  AttachSecondReceiver();
  ASSERT_EQ(RunController(kSecondReceiverDevice, L"set url rtsp://10.0.0.9/live"), 0);
  ASSERT_EQ(RunController(kSecondReceiverDevice, L"set wifipassword 13572468"), 0);
  ASSERT_EQ(RunController(kSecondReceiverDevice, L"set longpresstime 40"), 0);
  const std::wstring serial1 = kReceiverDevice.serial;
  const std::wstring serial2 = kSecondReceiverDevice.serial;
  const std::string serial1Json = "\"serial\":\"" + Narrow(kReceiverDevice.serial) + "\"";
  const std::string serial2Json = "\"serial\":\"" + Narrow(kSecondReceiverDevice.serial) + "\"";
  const std::filesystem::path folder = std::filesystem::temp_directory_path() / "nerova-cli-two-receivers";
  std::error_code notThere;
  std::filesystem::remove_all(folder, notThere);
  ASSERT_TRUE(std::filesystem::create_directories(folder));
  const auto quoted = [](const std::filesystem::path& path) { return L"\"" + path.wstring() + L"\""; };

  // The first's configuration, saved, makes the second hold the same; the
  // first is not written to.
  const ShownReceiver first = ReceiverState(kReceiverDevice);
  const ShownReceiver secondBefore = ReceiverState(kSecondReceiverDevice);
  ASSERT_NE(secondBefore.values.url, first.values.url);
  ASSERT_NE(secondBefore.values.wifiName, first.values.wifiName);
  ASSERT_NE(secondBefore.values.wifiPassword, first.values.wifiPassword);
  ASSERT_NE(secondBefore.values.longPressTime, first.values.longPressTime);
  std::string output;
  ASSERT_EQ(RunCli(L"--device " + serial1 + L" show --json", output), 0) << output;
  ASSERT_TRUE(WriteText(folder / "site.json", output));
  const std::size_t firstMark = LogOf().size();
  // Through standard input, a pipe as a shell makes it: `type site.json | nerova-cli ... --from -`.
  ASSERT_EQ(RunProgram(L"cmd /c \"type " + quoted(folder / "site.json") + L" | \"" + std::wstring(kCli) +
                           L"\" --device " + serial2 + L" apply --from -\"",
                       output),
            0)
      << output;
  const ShownReceiver second = ReceiverState(kSecondReceiverDevice);
  EXPECT_TRUE(second.present);
  EXPECT_EQ(second.values.url, first.values.url);
  EXPECT_EQ(second.values.wifiName, first.values.wifiName);
  EXPECT_EQ(second.values.wifiPassword, first.values.wifiPassword);
  EXPECT_EQ(second.values.longPressTime, first.values.longPressTime);
  EXPECT_EQ(second.values.agingTest, first.values.agingTest);
  const ShownReceiver firstAfter = ReceiverState(kReceiverDevice);
  EXPECT_TRUE(firstAfter.present);
  EXPECT_EQ(firstAfter.values.url, first.values.url);
  EXPECT_EQ(firstAfter.values.wifiName, first.values.wifiName);
  EXPECT_EQ(firstAfter.values.wifiPassword, first.values.wifiPassword);
  EXPECT_EQ(firstAfter.values.longPressTime, first.values.longPressTime);
  EXPECT_EQ(WrittenCodes(firstMark), std::vector<int>()) << "the first receiver was written to";

  // Both at once, the password from a file.
  ASSERT_TRUE(WriteText(folder / "password.txt", "fleet-pass-42\r\n"));
  ASSERT_EQ(RunCli(L"apply --all --json --ssid FLEET --password-file " + quoted(folder / "password.txt"), output), 0)
      << output;
  EXPECT_TRUE(Holds(LineWith(output, serial1Json), "\"result\":\"done\"")) << output;
  EXPECT_TRUE(Holds(LineWith(output, serial2Json), "\"result\":\"done\"")) << output;
  for (const auto* receiver : {&kReceiverDevice, &kSecondReceiverDevice}) {
    const ShownReceiver state = ReceiverState(*receiver);
    EXPECT_TRUE(state.present) << Narrow(receiver->serial);
    EXPECT_EQ(state.values.wifiName, "FLEET") << Narrow(receiver->serial);
    EXPECT_EQ(state.values.wifiPassword, "fleet-pass-42") << Narrow(receiver->serial);
  }

  // Provisioning from a table: the first receiver attached at the start, the
  // second plugged in while the first is under way; a logoff ends the run.
  ASSERT_EQ(RunController(kSecondReceiverDevice, L"unplug"), 0);
  ASSERT_TRUE(WriteText(folder / "cameras.csv", "serial,ssid,password\r\n" + Narrow(kReceiverDevice.serial) +
                                                    ",Cam-North,north-pass-1\r\n" +
                                                    Narrow(kSecondReceiverDevice.serial) + ",Cam-South,south-pass-2\r\n"));
  const std::filesystem::path records = folder / "site.jsonl";
  const std::size_t provisionMark = LogOf().size();
  auto provision = std::async(std::launch::async, [&] {
    std::string printed;
    const int status =
        RunCli(L"provision --table " + quoted(folder / "cameras.csv") + L" --record " + quoted(records), printed);
    return std::make_pair(status, printed);
  });
  HWND window = nullptr;
  ASSERT_TRUE(test::WaitUntil([&] { return (window = FindWindowW(L"NerovaCliSessionEnd", nullptr)) != nullptr; }, 60000));
  ASSERT_TRUE(test::WaitUntil([&] { return !WrittenCodes(provisionMark).empty(); }, 60000));
  ASSERT_EQ(RunController(kSecondReceiverDevice, L"plug"), 0);
  ASSERT_TRUE(test::WaitUntil([&] { return LineCount(ReadText(records)) >= 2; }, 120000)) << ReadText(records);
  SendMessageW(window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF);
  DWORD_PTR answer = 0;
  SendMessageTimeoutW(window, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF, SMTO_NORMAL, 30000, &answer);
  ASSERT_EQ(provision.wait_for(std::chrono::seconds(60)), std::future_status::ready);
  const auto [status, printed] = provision.get();
  EXPECT_EQ(status, 0) << printed;
  EXPECT_TRUE(Holds(printed, "Provisioned: 2 done, 0 failed, 0 skipped.")) << printed;
  const std::string recorded = ReadText(records);
  EXPECT_EQ(LineCount(recorded), 2u) << recorded;
  EXPECT_TRUE(Holds(LineWith(recorded, serial1Json), "\"result\":\"done\"")) << recorded;
  EXPECT_TRUE(Holds(LineWith(recorded, serial2Json), "\"result\":\"done\"")) << recorded;
  for (const char* password : {"north-pass-1", "south-pass-2", "wifiPassword"}) {
    EXPECT_FALSE(Holds(recorded, password)) << "a password in the records: " << recorded;
  }
  const ShownReceiver north = ReceiverState(kReceiverDevice);
  const ShownReceiver south = ReceiverState(kSecondReceiverDevice);
  EXPECT_EQ(north.values.wifiName, "Cam-North");
  EXPECT_EQ(north.values.wifiPassword, "north-pass-1");
  EXPECT_EQ(south.values.wifiName, "Cam-South");
  EXPECT_EQ(south.values.wifiPassword, "south-pass-2");
  std::filesystem::remove_all(folder, notThere);
}

TEST_F(CliVirtualReceiverTest, UpdateOfAPackageThatIsNoZipSaysSo) {
  std::string output;
  EXPECT_EQ(RunCli(L"update \"" + std::wstring(kCli) + L"\"", output), 1) << output;
  EXPECT_TRUE(Holds(output, "Failed to Unzipp the Flashing Package.")) << output;
}

}  // namespace
}  // namespace nerova::cli::testing
