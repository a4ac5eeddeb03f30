// nerova-cli.exe, the program that ships, under Wine against the virtual
// receiver: found through the system device enumerator and talked to over
// DirectShow and Kernel Streaming, as on a Windows PC with the receiver.
#include <windows.h>

#include <gtest/gtest.h>

#include <cwchar>
#include <filesystem>
#include <fstream>
#include <future>
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

// The virtual receiver's names are ASCII.
std::string Narrow(const wchar_t* text) { return std::string(text, text + std::wcslen(text)); }

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

// The blocks with text and the restart among the transfers from `from` on,
// read straight from the receiver's log file (the controller's process
// takes longer to start than an Apply's pauses last).
std::vector<int> WrittenCodes(std::size_t from) {
  std::vector<int> codes;
  const auto log = sim::virtual_receiver::testing::ParseReceiverLog(sim::virtual_receiver::ReceiverLock().ReadLog());
  for (std::size_t i = from; i < log.size(); ++i) {
    const int code = static_cast<unsigned char>(log[i].bytes[0]);
    if (log[i].set && (log[i].bytes[1] != '\0' || code == 0x64)) codes.push_back(code);
  }
  return codes;
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

TEST_F(CliVirtualReceiverTest, UpdateOfAPackageThatIsNoZipSaysSo) {
  std::string output;
  EXPECT_EQ(RunCli(L"update \"" + std::wstring(kCli) + L"\"", output), 1) << output;
  EXPECT_TRUE(Holds(output, "Failed to Unzipp the Flashing Package.")) << output;
}

}  // namespace
}  // namespace nerova::cli::testing
