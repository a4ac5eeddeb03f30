// The DirectShow capture stack over COM stand-ins: which calls it makes, with
// which arguments, what it passes through, and that every reference it takes
// is given back.
#include <gtest/gtest.h>

#include <cstring>

#include "link/win/directshow_capture_stack.h"
#include "link/win/win_guid.h"
#include "tests/link_win/com_apartment.h"
#include "tests/link_win/fake_com.h"

namespace nerova::link::win {
namespace {

using testing::ComApartment;
using testing::ComLedger;
using testing::FakeDevEnum;
using testing::FakeDevice;
using testing::FakeEnumMoniker;
using testing::TaskMemoryWatch;

const Guid kCameraTerminal = Guid::FromFields(0xDFF229E1, 0xF70F, 0x11D0,
                                              {0xB9, 0x17, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96});

class DirectShowStackTest : public ::testing::Test {
 protected:
  FakeDevice& AddDevice(const std::string& name, const std::wstring& displayName) {
    return system.AddDevice(name, displayName);
  }
  std::unique_ptr<VideoInput> FirstInput(std::unique_ptr<VideoInputList>& list) {
    EXPECT_TRUE(stack.ListVideoInputs(list).Ok());
    std::unique_ptr<VideoInput> input;
    EXPECT_TRUE(list && list->Next(input));
    return input;
  }

  ComApartment apartment;
  testing::FakeSystem system;
  ComLedger& ledger = system.ledger;
  FakeEnumMoniker& monikers = system.monikers;
  FakeDevEnum& devEnum = system.devEnum;
  std::vector<std::unique_ptr<FakeDevice>>& devices = system.devices;
  DirectShowCaptureStack stack{[this](ICreateDevEnum** out) { return system.Create(out); },
                               [this](const wchar_t* text) { system.debugLines.emplace_back(text); }};
};

TEST_F(DirectShowStackTest, ListsTheVideoInputCategoryAndHoldsOnlyTheEnumeration) {
  AddDevice("cam", L"@device:pnp:\\\\?\\usb#vid_1d6b&pid_010c");
  std::unique_ptr<VideoInputList> list;
  ASSERT_TRUE(stack.ListVideoInputs(list).Ok());
  ASSERT_TRUE(list);
  EXPECT_EQ(system.creations, 1);
  ASSERT_EQ(devEnum.categories.size(), 1u);
  EXPECT_EQ(FromWinGuid(devEnum.categories[0]), CLSID_VideoInputDeviceCategory);
  EXPECT_EQ(devEnum.flags[0], 0u);
  // The device enumerator is not kept; the moniker enumeration is.
  EXPECT_EQ(devEnum.Refs(), 1);
  EXPECT_EQ(monikers.Refs(), 2);
  list.reset();
  EXPECT_EQ(ledger.Unbalanced(), "");
}

TEST_F(DirectShowStackTest, ListingFailuresComeBackAsTheyCame) {
  std::unique_ptr<VideoInputList> list;
  system.createResult = REGDB_E_CLASSNOTREG;
  EXPECT_EQ(stack.ListVideoInputs(list), LinkStatus::Of(StatusKind::Failed, REGDB_E_CLASSNOTREG));
  EXPECT_FALSE(list);

  system.createResult = S_OK;
  devEnum.result = E_ACCESSDENIED;
  EXPECT_EQ(stack.ListVideoInputs(list), LinkStatus::Of(StatusKind::AccessDenied, E_ACCESSDENIED));
  EXPECT_FALSE(list);

  // An empty category: S_FALSE and no enumerator, which is no failure.
  devEnum.result = S_FALSE;
  EXPECT_TRUE(stack.ListVideoInputs(list).Ok());
  EXPECT_FALSE(list);
  EXPECT_EQ(ledger.Unbalanced(), "");
}

TEST_F(DirectShowStackTest, TakesMonikersOneAtATimeUntilTheEnumerationEnds) {
  AddDevice("a", L"first");
  AddDevice("b", L"second");
  std::unique_ptr<VideoInputList> list;
  std::unique_ptr<VideoInput> input = FirstInput(list);
  VideoInputName name;
  ASSERT_TRUE(input->Name(name).Ok());
  EXPECT_EQ(name.displayName, L"first");
  EXPECT_FALSE(name.usb);
  EXPECT_EQ(devices[0]->moniker.Refs(), 2);
  ASSERT_TRUE(list->Next(input));
  EXPECT_EQ(devices[0]->moniker.Refs(), 1);  // the previous moniker was let go
  ASSERT_TRUE(input->Name(name).Ok());
  EXPECT_EQ(name.displayName, L"second");
  EXPECT_FALSE(list->Next(input));
  EXPECT_FALSE(input);
  EXPECT_EQ(monikers.asked, (std::vector<ULONG>{1, 1, 1}));

  // An enumeration error ends the list too.
  monikers.endResult = E_UNEXPECTED;
  EXPECT_FALSE(list->Next(input));
  list.reset();
  EXPECT_EQ(ledger.Unbalanced(), "");
}

TEST_F(DirectShowStackTest, DisplayNameIsCopiedAndFreedThroughTheTaskAllocator) {
  FakeDevice& device = AddDevice("cam", L"@device:pnp:\\\\?\\usb#vid_1d6b&pid_010c&mi_00");
  AddDevice("nameless", L"unused").moniker.displayNameResult = E_OUTOFMEMORY;
  TaskMemoryWatch spy;
  ASSERT_TRUE(spy.Active());
  VideoInputName name;
  {
    std::unique_ptr<VideoInputList> list;
    std::unique_ptr<VideoInput> input = FirstInput(list);
    ASSERT_TRUE(input->Name(name).Ok());
    ASSERT_TRUE(list->Next(input));
    VideoInputName failed{L"stale", std::nullopt, L"stale", L"stale"};
    EXPECT_EQ(input->Name(failed), LinkStatus::Of(StatusKind::Failed, E_OUTOFMEMORY));
    EXPECT_EQ(failed.displayName, L"");
    EXPECT_EQ(failed.serial, L"");
    EXPECT_EQ(failed.port, L"");
  }
  EXPECT_EQ(name.displayName, L"@device:pnp:\\\\?\\usb#vid_1d6b&pid_010c&mi_00");
  EXPECT_EQ(name.usb, (UsbIdentity{0x1D6B, 0x010C}));
  EXPECT_FALSE(device.moniker.contextOrLeftGiven);
  ASSERT_EQ(device.moniker.namesHandedOut.size(), 1u);
  EXPECT_TRUE(spy.WasFreed(device.moniker.namesHandedOut[0]));
  EXPECT_EQ(ledger.Unbalanced(), "");
}

TEST(UsbIdentityInName, TheLowerCaseIdentityTextCountsAnywhereInTheWholeName) {
  EXPECT_EQ(UsbIdentityInName(L"@device:pnp:\\\\?\\usb#x#vid_1d6b&pid_010c"), (UsbIdentity{0x1D6B, 0x010C}));
  EXPECT_EQ(UsbIdentityInName(L"usb#" + std::wstring(300, L'x') + L"vid_046d&pid_0825"),
            (UsbIdentity{0x046D, 0x0825}));
  // Upper case and a cut identity do not count.
  EXPECT_FALSE(UsbIdentityInName(L"@device:pnp:\\\\?\\USB#VID_1D6B&PID_010C&MI_00"));
  EXPECT_FALSE(UsbIdentityInName(L"@device:pnp:\\\\?\\usb#vid_1d6b&pid_010"));
  EXPECT_EQ(UsbIdentityInName(L"vid_xyz#vid_1d6b&pid_010c"), (UsbIdentity{0x1D6B, 0x010C}));
}

TEST_F(DirectShowStackTest, AnOpenedDeviceCarriesOneComReferenceAndBindFailuresComeBack) {
  FakeDevice& device = AddDevice("cam", L"cam");
  AddDevice("refusing", L"refusing").moniker.bindResult = E_ACCESSDENIED;
  {
    std::unique_ptr<VideoInputList> list;
    std::unique_ptr<VideoInput> input = FirstInput(list);
    DeviceRef opened;
    ASSERT_TRUE(input->Open(opened).Ok());
    ASSERT_TRUE(opened);
    ASSERT_EQ(device.moniker.boundFor.size(), 1u);
    EXPECT_EQ(FromWinGuid(device.moniker.boundFor[0]), IID_IBaseFilter);
    EXPECT_FALSE(device.moniker.contextOrLeftGiven);

    ASSERT_TRUE(list->Next(input));
    DeviceRef refused;
    EXPECT_EQ(input->Open(refused), LinkStatus::Of(StatusKind::AccessDenied, E_ACCESSDENIED));
    EXPECT_FALSE(refused);
    input.reset();
    list.reset();
    // The device outlives the list that found it; copies share its reference.
    DeviceRef second = opened;
    EXPECT_EQ(device.filter.Refs(), 2);
  }
  EXPECT_EQ(ledger.Unbalanced(), "");
}

class DirectShowUnitTest : public DirectShowStackTest {
 protected:
  void SetUp() override {
    device = &AddDevice("cam", L"cam");
    device->AddOrdinaryNode(ledger, "terminal", kCameraTerminal);
    settings = &device->AddUnit(ledger, "settings", SettingsUnitGuid, 60);
    device->AddUnopenableNode(KSNODETYPE_DEV_SPECIFIC, E_ACCESSDENIED);
    std::unique_ptr<VideoInputList> list;
    ASSERT_TRUE(FirstInput(list)->Open(opened).Ok());
  }

  FakeDevice* device = nullptr;
  testing::FakeControl* settings = nullptr;
  DeviceRef opened;
};

TEST_F(DirectShowUnitTest, QueriesBecomeKsNodeRequestsOfTheUnitsNode) {
  std::unique_ptr<ExtensionUnit> unit;
  ASSERT_TRUE(opened->FindExtensionUnit(SettingsUnitGuid, UnitSearch::ExtensionUnits, unit).Ok());
  EXPECT_EQ(settings->Refs(), 2);  // the unit keeps its node's control
  ASSERT_EQ(device->topology.createdFor.size(), 1u);
  EXPECT_EQ(FromWinGuid(device->topology.createdFor[0]), IID_IKsControl);

  std::vector<std::uint8_t> block(60);
  for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<std::uint8_t>(i + 1);
  std::uint32_t returned = 99;
  ASSERT_TRUE(unit->Query(3, UvcRequest::SetCur, block.data(), 60, returned).Ok());
  EXPECT_EQ(returned, 60u);
  std::uint8_t length[2] = {};
  ASSERT_TRUE(unit->Query(3, UvcRequest::GetLen, length, 2, returned).Ok());
  EXPECT_EQ(length[0] | length[1] << 8, 60);
  std::vector<std::uint8_t> answer(60);
  ASSERT_TRUE(unit->Query(3, UvcRequest::GetCur, answer.data(), 60, returned).Ok());
  EXPECT_EQ(returned, 60u);
  EXPECT_EQ(answer, block);

  // The unit-information query, then SET, GET without a buffer, GET.
  ASSERT_EQ(settings->calls.size(), 4u);
  const KsNodeRequest set = NodeSetRequest(SettingsUnitGuid, 3, 1);
  EXPECT_EQ(settings->calls[1].property, std::vector<std::uint8_t>(set.begin(), set.end()));
  EXPECT_EQ(settings->calls[1].propertyLength, 32u);
  EXPECT_EQ(settings->calls[1].dataIn, block);
  const KsNodeRequest get = NodeGetRequest(SettingsUnitGuid, 3, 1);
  EXPECT_TRUE(settings->calls[2].dataNull);
  EXPECT_EQ(settings->calls[2].dataLength, 0u);
  EXPECT_EQ(settings->calls[2].property, std::vector<std::uint8_t>(get.begin(), get.end()));
  EXPECT_EQ(settings->calls[3].dataLength, 60u);

  // A refusal goes on to the next extension unit's node, which will not
  // open: that ends the walk with its result.
  settings->setResult = HRESULT_FROM_WIN32(ERROR_GEN_FAILURE);
  EXPECT_EQ(unit->Query(3, UvcRequest::SetCur, block.data(), 60, returned),
            LinkStatus::Of(StatusKind::AccessDenied, E_ACCESSDENIED));

  unit.reset();
  opened.reset();
  EXPECT_EQ(ledger.Unbalanced(), "");
}

TEST_F(DirectShowUnitTest, AnUnopenableExtensionUnitEndsTheSearchOrRulesOutTheDevice) {
  std::unique_ptr<ExtensionUnit> unit;
  EXPECT_EQ(opened->FindExtensionUnit(ProbeUnitGuid, UnitSearch::ExtensionUnits, unit),
            LinkStatus::Of(StatusKind::AccessDenied, E_ACCESSDENIED));
  EXPECT_FALSE(unit);
  EXPECT_EQ(opened->FindExtensionUnit(ProbeUnitGuid, UnitSearch::EveryEntity, unit).kind, StatusKind::NotFound);
  EXPECT_FALSE(unit);
  opened.reset();
  EXPECT_EQ(ledger.Unbalanced(), "");
}

TEST_F(DirectShowStackTest, ADeviceWithoutTopologyGivesTheQueryResult) {
  testing::FakeFilter bare(ledger, "bare", nullptr);
  testing::FakeMoniker moniker(ledger, "bare.moniker", L"bare", &bare);
  monikers.monikers = {&moniker};
  {
    std::unique_ptr<VideoInputList> list;
    DeviceRef opened;
    ASSERT_TRUE(FirstInput(list)->Open(opened).Ok());
    std::unique_ptr<ExtensionUnit> unit;
    EXPECT_EQ(opened->FindExtensionUnit(SettingsUnitGuid, UnitSearch::ExtensionUnits, unit),
              LinkStatus::Of(StatusKind::Unsupported, E_NOINTERFACE));
    EXPECT_FALSE(unit);
  }
  EXPECT_EQ(ledger.Unbalanced(), "");
}

// Wine's own device enumerator, on a machine without video devices.
TEST(DirectShowSystemEnumerator, AnEmptyVideoCategoryIsAnEmptyList) {
  ComApartment apartment;
  DirectShowCaptureStack stack;
  std::unique_ptr<VideoInputList> list;
  EXPECT_TRUE(stack.ListVideoInputs(list).Ok());
  EXPECT_FALSE(list);
}

}  // namespace
}  // namespace nerova::link::win
