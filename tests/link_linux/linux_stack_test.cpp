// The Linux capture stack under the unchanged receiver link: a sysfs tree in
// a temporary directory, the scripted device layer for the video nodes.
#include "link/linux/linux_capture_stack.h"

#include <gtest/gtest.h>

#include <array>
#include <cerrno>

#include "link/ks_request.h"
#include "link/linux/errno_result.h"
#include "link/linux/uvc_topology.h"
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
                      {{2, 1}, {3, 0}});
    AddUsbVideoDevice(tree, "1-4", 0x1D6B, 0x0104, VideoDeviceDescriptors(0x1D6B, 0x0104, {}),
                      {{4, 0}}, "snd-usb-audio");
    devices.AddControl(kReceiverNode, kSettingsUnitId, kSettingsControl, kBlock);
  }

  std::vector<std::wstring> DisplayNames() {
    std::vector<std::wstring> names;
    std::unique_ptr<DeviceEnumeration> inputs;
    EXPECT_EQ(stack.EnumerateVideoInputs(inputs), kS_OK);
    for (std::unique_ptr<DeviceMoniker> m; inputs && inputs->Next(m) == kS_OK;) {
      std::wstring name;
      EXPECT_EQ(m->GetDisplayName(name), kS_OK);
      names.push_back(name);
    }
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

  TemporaryTree empty;
  RootedFileSystem nothing(empty.Root().string());
  LinuxCaptureStack bare(nothing, devices);
  std::unique_ptr<DeviceEnumeration> inputs;
  EXPECT_EQ(bare.EnumerateVideoInputs(inputs), kS_FALSE);
  EXPECT_FALSE(inputs);
}

TEST_F(LinuxStackTest, TopologyHasEveryUnitAndOnlyExtensionUnitsAnswer) {
  FilterRef filter;
  ASSERT_EQ(link.FindReceiverByUsbId(filter), kS_OK);
  std::unique_ptr<Topology> topology;
  ASSERT_EQ(filter->QueryTopology(topology), kS_OK);
  std::uint32_t count = 0;
  ASSERT_EQ(topology->GetNumNodes(count), kS_OK);
  ASSERT_EQ(count, 5u);
  const std::array<Guid, 5> expected{KSNODETYPE_VIDEO_CAMERA_TERMINAL, KSNODETYPE_VIDEO_PROCESSING,
                                     KSNODETYPE_DEV_SPECIFIC, KSNODETYPE_DEV_SPECIFIC,
                                     KSNODETYPE_VIDEO_STREAMING};
  for (std::uint32_t node = 0; node < count; ++node) {
    Guid type;
    ASSERT_EQ(topology->GetNodeType(node, type), kS_OK);
    EXPECT_EQ(type, expected[node]) << node;
  }
  Guid type;
  EXPECT_EQ(topology->GetNodeType(count, type), kE_INVALIDARG);

  std::unique_ptr<NodeControl> control;
  ASSERT_EQ(topology->CreateNodeControl(3, control), kS_OK);
  std::array<std::uint8_t, 32> answer{};
  std::uint32_t got = 0;
  const KsNodeRequest info = NodeGetRequest(SettingsUnitGuid, kUnitInfoProperty, 3);
  EXPECT_EQ(control->KsProperty(info.data(), 32, nullptr, 0, got), kMoreData);
  EXPECT_EQ(got, 23u);  // the descriptor from its GUID on
  ASSERT_EQ(control->KsProperty(info.data(), 32, answer.data(), 32, got), kS_OK);
  EXPECT_EQ(got, 23u);
  EXPECT_TRUE(std::equal(SettingsUnitGuid.bytes.begin(), SettingsUnitGuid.bytes.end(), answer.begin()));

  // The processing unit, and the settings unit asked for another unit's set.
  const KsNodeRequest processing = NodeGetRequest(SettingsUnitGuid, kUnitInfoProperty, 1);
  EXPECT_EQ(control->KsProperty(processing.data(), 32, answer.data(), 32, got), kSetNotFound);
  const KsNodeRequest wrongSet = NodeGetRequest(ProbeUnitGuid, kSettingsControl, 3);
  EXPECT_EQ(control->KsProperty(wrongSet.data(), 32, answer.data(), 32, got), kSetNotFound);
  EXPECT_TRUE(devices.state().calls.empty());
}

TEST_F(LinuxStackTest, FindsTheReceiverByUsbIdentityAndByProbeUnit) {
  FilterRef byId;
  ASSERT_EQ(link.FindReceiverByUsbId(byId), kS_OK);
  EXPECT_EQ(devices.state().opened, std::vector<std::string>{kReceiverNode});

  devices.state().opened.clear();
  FilterRef byProbe;
  ASSERT_EQ(link.FindReceiverByProbeUnit(byProbe), kS_OK);
  // The webcam is opened, asked and let go.
  EXPECT_EQ(devices.state().opened, (std::vector<std::string>{"/dev/video0", kReceiverNode}));
  EXPECT_EQ(devices.state().liveDevices, 2);
  byId.Reset();
  byProbe.Reset();
  EXPECT_EQ(devices.state().liveDevices, 0);
}

TEST_F(LinuxStackTest, SetCurAndGetCurCarryTheBlockThroughControl3) {
  Blob block(kBlock);
  for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<std::uint8_t>(i + 1);
  ASSERT_EQ(link.SetCur(block.data(), kBlock, nullptr), kS_OK);
  std::array<std::uint8_t, kBlock> back{};
  ASSERT_EQ(link.GetCur(back.data(), kBlock, nullptr), kS_OK);
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
  ASSERT_EQ(link.GetCur(buffer.data(), kBlock, nullptr), kS_OK);
  EXPECT_EQ(buffer[39], 0);
  EXPECT_EQ(buffer[40], 0xEE);  // beyond the control: untouched
  EXPECT_EQ(link.GetCur(buffer.data(), 32, nullptr), kMoreData);
}

TEST_F(LinuxStackTest, DriverFailuresComeBackAsWindowsReportsThem) {
  const Blob block(kBlock, 0x11);
  devices.state().queryErrors[kReceiverNode] = {EPIPE};
  EXPECT_EQ(link.SetCur(block.data(), kBlock, nullptr), kGenFailure);

  // Unplugged while open, and gone before the open.
  devices.state().queryErrors[kReceiverNode] = {ENODEV};
  std::array<std::uint8_t, kBlock> buffer{};
  EXPECT_EQ(link.GetCur(buffer.data(), kBlock, nullptr), kDeviceNotConnected);
  devices.state().openErrors[kReceiverNode] = ENOENT;
  EXPECT_EQ(link.SetCur(block.data(), kBlock, nullptr), kDeviceNotConnected);
  EXPECT_EQ(stack.TakeProblem().kind, DeviceProblemKind::None);

  // An errno without a translation is E_FAIL, told in a message.
  devices.state().openErrors.clear();
  devices.state().queryErrors[kReceiverNode] = {EOVERFLOW};
  EXPECT_EQ(link.SetCur(block.data(), kBlock, nullptr), kE_FAIL);
  ASSERT_FALSE(stack.Messages().empty());
  EXPECT_NE(stack.Messages().back().find("/dev/video3: SET_CUR of unit 4 control 3 failed"),
            std::string::npos);
}

TEST_F(LinuxStackTest, ARefusedOpenNamesTheNodeAndItsGroup) {
  devices.state().openErrors[kReceiverNode] = EACCES;
  devices.state().groups[kReceiverNode] = "video";
  FilterRef filter;
  EXPECT_EQ(link.FindReceiverByUsbId(filter), kAccessDenied);
  const std::string advice = "/dev/video3 is not accessible: add yourself to the group 'video' and log in again";
  const DeviceProblem problem = stack.TakeProblem();
  EXPECT_EQ(problem.kind, DeviceProblemKind::NotAccessible);
  EXPECT_EQ(problem.message, advice);
  EXPECT_EQ(stack.TakeProblem().kind, DeviceProblemKind::None);  // told once

  // The probe search passes over the device and tells it again.
  EXPECT_EQ(link.FindReceiverByProbeUnit(filter), kE_FAIL);
  EXPECT_EQ(stack.Messages(), std::vector<std::string>(2, advice));
  EXPECT_EQ(stack.TakeProblem().message, advice);

  // A node left to root needs a udev rule, not a group membership.
  devices.state().groups[kReceiverNode] = "root";
  EXPECT_EQ(link.FindReceiverByUsbId(filter), kAccessDenied);
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

  FilterRef filter;
  ASSERT_EQ(link.FindReceiverByProbeUnit(filter), kS_OK);  // the probe unit is there
  std::unique_ptr<Topology> topology;
  ASSERT_EQ(filter->QueryTopology(topology), kS_OK);
  std::uint32_t count = 0;
  topology->GetNumNodes(count);
  EXPECT_EQ(count, 4u);  // camera, processing, probe, output terminal

  const Blob block(kBlock, 0x22);
  EXPECT_EQ(link.SetCur(block.data(), kBlock, nullptr), kE_FAIL);
  EXPECT_EQ(link.SetCur(block.data(), kBlock, filter.Get()), kE_FAIL);
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
