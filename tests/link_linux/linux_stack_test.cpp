// The Linux capture stack under the receiver link: a sysfs tree in a
// temporary directory, the scripted device layer for the video nodes.
#include "link/linux/linux_capture_stack.h"

#include <gtest/gtest.h>

#include <array>
#include <cerrno>

#include "link/receiver_link.h"
#include "tests/link_linux/linux_fixtures.h"

namespace nerova::link::linux_stack {
namespace {

using testing::AddUsbVideoDevice;
using testing::Blob;
using testing::kSettingsUnitId;
using testing::QueryCall;
using testing::ScriptedUvcDevices;
using testing::TemporaryTree;
using testing::VideoDeviceDescriptors;

constexpr char kReceiverNode[] = "/dev/video3";
constexpr std::size_t kBlock = 60;

// A webcam (video0 and its metadata node video1), the receiver whose
// metadata node has the lower number (video2, capture node video3) and a
// video node of another driver (video4).
class LinuxStackTest : public ::testing::Test {
 protected:
  LinuxStackTest() {
    AddUsbVideoDevice(tree, "1-1", 0x046D, 0x0825, VideoDeviceDescriptors(0x046D, 0x0825, {testing::kWebcamUnit}),
                      {{0, 0}, {1, 1}});
    AddUsbVideoDevice(tree, "1-2", 0x1D6B, 0x010C,
                      VideoDeviceDescriptors(0x1D6B, 0x010C, {ProbeUnitGuid, SettingsUnitGuid}),
                      {{2, 1}, {3, 0}}, "uvcvideo", "NRV\xc3\x84" "20260001");
    AddUsbVideoDevice(tree, "1-4", 0x1D6B, 0x0104, VideoDeviceDescriptors(0x1D6B, 0x0104, {}),
                      {{4, 0}}, "snd-usb-audio");
    devices.AddControl(kReceiverNode, kSettingsUnitId, kSettingsControl, kBlock);
  }

  std::vector<VideoInputName> Names() {
    std::vector<VideoInputName> names;
    std::unique_ptr<VideoInputList> inputs;
    EXPECT_TRUE(stack.ListVideoInputs(inputs).Ok());
    for (std::unique_ptr<VideoInput> input; inputs && inputs->Next(input);) {
      VideoInputName name;
      EXPECT_TRUE(input->Name(name).Ok());
      EXPECT_TRUE(name.usb);
      names.push_back(std::move(name));
    }
    return names;
  }
  std::vector<std::wstring> DisplayNames() {
    std::vector<std::wstring> names;
    for (const VideoInputName& name : Names()) names.push_back(name.displayName);
    return names;
  }

  TemporaryTree tree;
  RootedFileSystem files{tree.Root().string()};
  ScriptedUvcDevices devices;
  LinuxCaptureStack stack{files, devices};
  ReceiverLink link{stack};
};

TEST_F(LinuxStackTest, ListsOneCaptureNodePerUvcInterfaceNamedAsWindowsShowsIt) {
  EXPECT_EQ(DisplayNames(), (std::vector<std::wstring>{
                                L"usb#vid_046d&pid_0825&mi_00#1-1",
                                L"usb#vid_1d6b&pid_010c&mi_00#1-2"}));
  // The serial number as the kernel keeps it (UTF-8, a line end), none for the webcam.
  const std::vector<VideoInputName> names = Names();
  ASSERT_EQ(names.size(), 2u);
  EXPECT_EQ(names[0].serial, L"");
  EXPECT_EQ(names[0].port, L"1-1");
  EXPECT_EQ(names[1].serial, L"NRV\u00c420260001");
  EXPECT_EQ(names[1].port, L"1-2");

  TemporaryTree empty;
  RootedFileSystem nothing(empty.Root().string());
  LinuxCaptureStack bare(nothing, devices);
  std::unique_ptr<VideoInputList> inputs;
  EXPECT_TRUE(bare.ListVideoInputs(inputs).Ok());
  std::unique_ptr<VideoInput> none;
  EXPECT_FALSE(inputs->Next(none));
}

TEST_F(LinuxStackTest, ExtensionUnitsAreFoundByTheirGuidInTheDescriptors) {
  DeviceRef device;
  ASSERT_TRUE(link.FindReceiverByUsbId(device).Ok());
  for (const UnitSearch search : {UnitSearch::ExtensionUnits, UnitSearch::EveryEntity}) {
    std::unique_ptr<ExtensionUnit> settings;
    ASSERT_TRUE(device->FindExtensionUnit(SettingsUnitGuid, search, settings).Ok());
    ASSERT_TRUE(settings);
    std::unique_ptr<ExtensionUnit> webcams;
    EXPECT_EQ(device->FindExtensionUnit(testing::kWebcamUnit, search, webcams).kind, StatusKind::NotFound);
    EXPECT_FALSE(webcams);
  }
  // Finding a unit asks the device nothing.
  EXPECT_TRUE(devices.state().calls.empty());

  // A request goes to the unit's id as the descriptors give it.
  std::unique_ptr<ExtensionUnit> settings;
  ASSERT_TRUE(device->FindExtensionUnit(SettingsUnitGuid, UnitSearch::ExtensionUnits, settings).Ok());
  std::array<std::uint8_t, 2> length{};
  std::uint32_t returned = 0;
  ASSERT_TRUE(settings->Query(kSettingsControl, UvcRequest::GetLen, length.data(), 2, returned).Ok());
  EXPECT_EQ(returned, 2u);
  EXPECT_EQ(devices.state().calls,
            (std::vector<QueryCall>{{kReceiverNode, kSettingsUnitId, 3, kUvcGetLen, 2, {}}}));
}

TEST_F(LinuxStackTest, FindsTheReceiverByUsbIdentityAndByProbeUnit) {
  DeviceRef byId;
  ASSERT_TRUE(link.FindReceiverByUsbId(byId).Ok());
  EXPECT_EQ(devices.state().opened, std::vector<std::string>{kReceiverNode});

  devices.state().opened.clear();
  DeviceRef byProbe;
  ASSERT_TRUE(link.FindReceiverByProbeUnit(byProbe).Ok());
  // The webcam is opened, asked and let go.
  EXPECT_EQ(devices.state().opened, (std::vector<std::string>{"/dev/video0", kReceiverNode}));
  EXPECT_EQ(devices.state().liveDevices, 2);
  byId.reset();
  byProbe.reset();
  EXPECT_EQ(devices.state().liveDevices, 0);
}

TEST_F(LinuxStackTest, SetCurAndGetCurCarryTheBlockThroughControl3) {
  Blob block(kBlock);
  for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<std::uint8_t>(i + 1);
  ASSERT_TRUE(link.SetCur(block.data(), kBlock, nullptr).Ok());
  std::array<std::uint8_t, kBlock> back{};
  ASSERT_TRUE(link.GetCur(back.data(), kBlock, nullptr).Ok());
  EXPECT_TRUE(std::equal(block.begin(), block.end(), back.begin()));

  EXPECT_EQ(devices.state().calls,
            (std::vector<QueryCall>{{kReceiverNode, kSettingsUnitId, 3, kUvcSetCur, kBlock, block},
                                    {kReceiverNode, kSettingsUnitId, 3, kUvcGetLen, 2, {}},
                                    {kReceiverNode, kSettingsUnitId, 3, kUvcGetCur, kBlock, {}}}));
  EXPECT_EQ(devices.state().liveDevices, 0);
}

TEST_F(LinuxStackTest, AShortControlIsReadWholeAndALongOneIsRefused) {
  devices.AddControl(kReceiverNode, kSettingsUnitId, kSettingsControl, 40);
  std::array<std::uint8_t, kBlock> buffer;
  buffer.fill(0xEE);
  ASSERT_TRUE(link.GetCur(buffer.data(), kBlock, nullptr).Ok());
  EXPECT_EQ(buffer[39], 0);
  EXPECT_EQ(buffer[40], 0xEE);  // beyond the control: untouched
  EXPECT_EQ(link.GetCur(buffer.data(), 32, nullptr).kind, StatusKind::WrongLength);
}

TEST_F(LinuxStackTest, DriverFailuresComeBackWithTheirKindAndErrno) {
  const Blob block(kBlock, 0x11);
  devices.state().queryErrors[kReceiverNode] = {EPIPE};
  EXPECT_EQ(link.SetCur(block.data(), kBlock, nullptr), LinkStatus::Of(StatusKind::Refused, EPIPE));

  // Unplugged while open, and gone before the open.
  devices.state().queryErrors[kReceiverNode] = {ENODEV};
  std::array<std::uint8_t, kBlock> buffer{};
  EXPECT_EQ(link.GetCur(buffer.data(), kBlock, nullptr), LinkStatus::Of(StatusKind::Gone, ENODEV));
  devices.state().openErrors[kReceiverNode] = ENOENT;
  EXPECT_EQ(link.SetCur(block.data(), kBlock, nullptr), LinkStatus::Of(StatusKind::Gone, ENOENT));
  EXPECT_EQ(stack.TakeProblem().kind, DeviceProblemKind::None);

  // An errno without a kind of its own is a failure, told in a message.
  devices.state().openErrors.clear();
  devices.state().queryErrors[kReceiverNode] = {EOVERFLOW};
  EXPECT_EQ(link.SetCur(block.data(), kBlock, nullptr), LinkStatus::Of(StatusKind::Failed, EOVERFLOW));
  ASSERT_FALSE(stack.Messages().empty());
  EXPECT_NE(stack.Messages().back().find("/dev/video3: SET_CUR of unit 4 control 3 failed"),
            std::string::npos);
}

TEST_F(LinuxStackTest, ARefusedOpenNamesTheNodeAndItsGroup) {
  devices.state().openErrors[kReceiverNode] = EACCES;
  devices.state().groups[kReceiverNode] = "video";
  DeviceRef device;
  EXPECT_EQ(link.FindReceiverByUsbId(device), LinkStatus::Of(StatusKind::AccessDenied, EACCES));
  const std::string advice = "/dev/video3 is not accessible: add yourself to the group 'video' and log in again";
  const DeviceProblem problem = stack.TakeProblem();
  EXPECT_EQ(problem.kind, DeviceProblemKind::NotAccessible);
  EXPECT_EQ(problem.message, advice);
  EXPECT_EQ(stack.TakeProblem().kind, DeviceProblemKind::None);  // told once

  // The probe search passes over the device and tells it again.
  EXPECT_EQ(link.FindReceiverByProbeUnit(device).kind, StatusKind::NotFound);
  EXPECT_EQ(stack.Messages(), std::vector<std::string>(2, advice));
  EXPECT_EQ(stack.TakeProblem().message, advice);

  // A node left to root needs a udev rule, not a group membership.
  devices.state().groups[kReceiverNode] = "root";
  EXPECT_EQ(link.FindReceiverByUsbId(device).kind, StatusKind::AccessDenied);
  EXPECT_NE(stack.TakeProblem().message.find("/dev/video3 is not accessible: it belongs to the group 'root'"),
            std::string::npos);
}

TEST(LinuxStackDevices, AReceiverWithoutSettingsUnitOrWithCutDescriptorsIsNoTarget) {
  TemporaryTree tree;
  const Blob whole = VideoDeviceDescriptors(0x1D6B, 0x010C, {ProbeUnitGuid, SettingsUnitGuid});
  // Cut inside the settings unit's descriptor (the last extension unit).
  const Blob cut(whole.begin(), whole.begin() + 18 + 9 + 8 + 9 + 13 + 18 + 12 + 27 + 10);
  AddUsbVideoDevice(tree, "1-1", 0x1D6B, 0x010C, VideoDeviceDescriptors(0x1D6B, 0x010C, {ProbeUnitGuid}),
                    {{0, 0}});
  AddUsbVideoDevice(tree, "1-2", 0x1D6B, 0x010C, cut, {{1, 0}});
  RootedFileSystem files(tree.Root().string());
  ScriptedUvcDevices devices;
  LinuxCaptureStack stack(files, devices);
  ReceiverLink link(stack);

  DeviceRef device;
  ASSERT_TRUE(link.FindReceiverByProbeUnit(device).Ok());  // the probe unit is there
  std::unique_ptr<ExtensionUnit> unit;
  EXPECT_EQ(device->FindExtensionUnit(SettingsUnitGuid, UnitSearch::ExtensionUnits, unit).kind,
            StatusKind::NotFound);
  EXPECT_FALSE(unit);

  const Blob block(kBlock, 0x22);
  EXPECT_EQ(link.SetCur(block.data(), kBlock, nullptr).kind, StatusKind::NotFound);
  EXPECT_EQ(link.SetCur(block.data(), kBlock, device).kind, StatusKind::NotFound);
  EXPECT_TRUE(devices.state().calls.empty());
}

TEST(KernelUvcDevices, OpenAndQueryReportTheKernelsErrno) {
  KernelUvcDeviceOpener opener;
  std::unique_ptr<UvcDevice> device;
  EXPECT_EQ(opener.Open("/nonexistent/video0", device), ENOENT);
  EXPECT_FALSE(device);
  EXPECT_EQ(opener.OwningGroup("/nonexistent/video0"), "");
  ASSERT_EQ(opener.Open("/dev/null", device), 0);
  std::array<std::uint8_t, 2> length{};
  EXPECT_EQ(device->Query(4, 3, kUvcGetLen, 2, length.data()), ENOTTY);
}

}  // namespace
}  // namespace nerova::link::linux_stack
