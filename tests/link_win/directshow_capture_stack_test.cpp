// The DirectShow capture stack over COM stand-ins: which calls it makes, with
// which arguments, what it passes through, and that every reference it takes
// is given back.
#include <gtest/gtest.h>

#include <cstring>

#include "link/win/directshow_capture_stack.h"
#include "tests/link_win/com_apartment.h"
#include "tests/link_win/fake_com.h"

namespace nerova::link::win {
namespace {

using testing::ComLedger;
using testing::FakeDevEnum;
using testing::FakeDevice;
using testing::FakeEnumMoniker;
using testing::TaskMemoryWatch;
using testing::ComApartment;

const Guid kCameraTerminal = Guid::FromFields(0xDFF229E1, 0xF70F, 0x11D0,
                                              {0xB9, 0x17, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96});

std::array<std::uint8_t, 32> NodeRequest(const Guid& set, std::uint32_t id, std::uint32_t flags,
                                         std::uint32_t node) {
  std::array<std::uint8_t, 32> r{};
  std::memcpy(r.data(), set.bytes.data(), 16);
  std::memcpy(r.data() + 16, &id, 4);
  std::memcpy(r.data() + 20, &flags, 4);
  std::memcpy(r.data() + 24, &node, 4);
  return r;
}

class DirectShowStackTest : public ::testing::Test {
 protected:
  FakeDevice& AddDevice(const std::string& name, const std::wstring& displayName) {
    return system.AddDevice(name, displayName);
  }

  ComApartment apartment;
  testing::FakeSystem system;
  ComLedger& ledger = system.ledger;
  FakeEnumMoniker& monikers = system.monikers;
  FakeDevEnum& devEnum = system.devEnum;
  std::vector<std::unique_ptr<FakeDevice>>& devices = system.devices;
  DirectShowCaptureStack stack{
      [this](ICreateDevEnum** out) { return system.Create(out); },
      [this](const wchar_t* text) { system.debugLines.emplace_back(text); }};
};

TEST_F(DirectShowStackTest, EnumeratesTheVideoInputCategoryAndHoldsOnlyTheEnumeration) {
  AddDevice("cam", L"@device:pnp:\\\\?\\usb#vid_1d6b&pid_010c");
  std::unique_ptr<DeviceEnumeration> enumeration;
  ASSERT_EQ(stack.EnumerateVideoInputs(enumeration), S_OK);
  ASSERT_TRUE(enumeration);
  EXPECT_EQ(system.creations, 1);
  ASSERT_EQ(devEnum.categories.size(), 1u);
  EXPECT_EQ(FromWinGuid(devEnum.categories[0]), CLSID_VideoInputDeviceCategory);
  EXPECT_EQ(devEnum.flags[0], 0u);
  // The device enumerator is not kept; the moniker enumeration is.
  EXPECT_EQ(devEnum.Refs(), 1);
  EXPECT_EQ(monikers.Refs(), 2);
  enumeration.reset();
  EXPECT_EQ(ledger.Unbalanced(), "");
}

TEST_F(DirectShowStackTest, EnumerationFailuresComeBackAsTheyCame) {
  std::unique_ptr<DeviceEnumeration> enumeration;
  system.createResult = REGDB_E_CLASSNOTREG;
  EXPECT_EQ(stack.EnumerateVideoInputs(enumeration), REGDB_E_CLASSNOTREG);
  EXPECT_FALSE(enumeration);

  system.createResult = S_OK;
  devEnum.result = E_ACCESSDENIED;
  EXPECT_EQ(stack.EnumerateVideoInputs(enumeration), E_ACCESSDENIED);
  EXPECT_FALSE(enumeration);

  // An empty category: S_FALSE and no enumerator.
  devEnum.result = S_FALSE;
  EXPECT_EQ(stack.EnumerateVideoInputs(enumeration), S_FALSE);
  EXPECT_FALSE(enumeration);
  EXPECT_EQ(ledger.Unbalanced(), "");
}

TEST_F(DirectShowStackTest, TakesMonikersOneAtATimeUntilTheEnumerationEnds) {
  AddDevice("a", L"first");
  AddDevice("b", L"second");
  std::unique_ptr<DeviceEnumeration> enumeration;
  ASSERT_EQ(stack.EnumerateVideoInputs(enumeration), S_OK);
  std::unique_ptr<DeviceMoniker> moniker;
  std::wstring name;
  ASSERT_EQ(enumeration->Next(moniker), S_OK);
  ASSERT_EQ(moniker->GetDisplayName(name), S_OK);
  EXPECT_EQ(name, L"first");
  EXPECT_EQ(devices[0]->moniker.Refs(), 2);
  ASSERT_EQ(enumeration->Next(moniker), S_OK);
  EXPECT_EQ(devices[0]->moniker.Refs(), 1);  // the previous moniker was let go
  ASSERT_EQ(moniker->GetDisplayName(name), S_OK);
  EXPECT_EQ(name, L"second");
  EXPECT_EQ(enumeration->Next(moniker), S_FALSE);
  EXPECT_FALSE(moniker);
  EXPECT_EQ(monikers.asked, (std::vector<ULONG>{1, 1, 1}));
  enumeration.reset();
  EXPECT_EQ(ledger.Unbalanced(), "");
}

TEST_F(DirectShowStackTest, EnumerationErrorEndsWithoutMoniker) {
  monikers.endResult = E_UNEXPECTED;
  std::unique_ptr<DeviceEnumeration> enumeration;
  ASSERT_EQ(stack.EnumerateVideoInputs(enumeration), S_OK);
  std::unique_ptr<DeviceMoniker> moniker;
  EXPECT_EQ(enumeration->Next(moniker), E_UNEXPECTED);
  EXPECT_FALSE(moniker);
}

TEST_F(DirectShowStackTest, DisplayNameIsCopiedAndFreedThroughTheTaskAllocator) {
  FakeDevice& device = AddDevice("cam", L"@device:pnp:\\\\?\\usb#vid_1d6b&pid_010c&mi_00");
  TaskMemoryWatch spy;
  ASSERT_TRUE(spy.Active());
  std::wstring name;
  {
    std::unique_ptr<DeviceEnumeration> enumeration;
    ASSERT_EQ(stack.EnumerateVideoInputs(enumeration), S_OK);
    std::unique_ptr<DeviceMoniker> moniker;
    ASSERT_EQ(enumeration->Next(moniker), S_OK);
    ASSERT_EQ(moniker->GetDisplayName(name), S_OK);
  }
  EXPECT_EQ(name, L"@device:pnp:\\\\?\\usb#vid_1d6b&pid_010c&mi_00");
  EXPECT_FALSE(device.moniker.contextOrLeftGiven);
  ASSERT_EQ(device.moniker.namesHandedOut.size(), 1u);
  EXPECT_TRUE(spy.WasFreed(device.moniker.namesHandedOut[0]));
  EXPECT_EQ(ledger.Unbalanced(), "");
}

TEST_F(DirectShowStackTest, DisplayNameFailureIsReturnedWithAnEmptyName) {
  AddDevice("cam", L"unused").moniker.displayNameResult = E_OUTOFMEMORY;
  std::unique_ptr<DeviceEnumeration> enumeration;
  ASSERT_EQ(stack.EnumerateVideoInputs(enumeration), S_OK);
  std::unique_ptr<DeviceMoniker> moniker;
  ASSERT_EQ(enumeration->Next(moniker), S_OK);
  std::wstring name = L"stale";
  EXPECT_EQ(moniker->GetDisplayName(name), E_OUTOFMEMORY);
  EXPECT_EQ(name, L"");
}

TEST_F(DirectShowStackTest, BoundFilterCarriesOneComReferencePerHolder) {
  FakeDevice& device = AddDevice("cam", L"cam");
  {
    std::unique_ptr<DeviceEnumeration> enumeration;
    ASSERT_EQ(stack.EnumerateVideoInputs(enumeration), S_OK);
    std::unique_ptr<DeviceMoniker> moniker;
    ASSERT_EQ(enumeration->Next(moniker), S_OK);
    FilterRef filter;
    ASSERT_EQ(moniker->BindToFilter(filter), S_OK);
    ASSERT_TRUE(filter);
    ASSERT_EQ(device.moniker.boundFor.size(), 1u);
    EXPECT_EQ(FromWinGuid(device.moniker.boundFor[0]), IID_IBaseFilter);
    EXPECT_FALSE(device.moniker.contextOrLeftGiven);
    moniker.reset();
    enumeration.reset();
    EXPECT_EQ(device.filter.Refs(), 2);
    {
      FilterRef second = FilterRef::Share(filter.Get());
      EXPECT_EQ(device.filter.Refs(), 3);
    }
    EXPECT_EQ(device.filter.Refs(), 2);
    // The filter outlives the enumeration that found it.
    std::unique_ptr<Topology> topology;
    EXPECT_EQ(filter->QueryTopology(topology), S_OK);
  }
  EXPECT_EQ(ledger.Unbalanced(), "");
}

TEST_F(DirectShowStackTest, BindFailureIsReturnedWithoutFilter) {
  AddDevice("cam", L"cam").moniker.bindResult = E_ACCESSDENIED;
  std::unique_ptr<DeviceEnumeration> enumeration;
  ASSERT_EQ(stack.EnumerateVideoInputs(enumeration), S_OK);
  std::unique_ptr<DeviceMoniker> moniker;
  ASSERT_EQ(enumeration->Next(moniker), S_OK);
  FilterRef filter;
  EXPECT_EQ(moniker->BindToFilter(filter), E_ACCESSDENIED);
  EXPECT_FALSE(filter);
  moniker.reset();
  enumeration.reset();
  EXPECT_EQ(ledger.Unbalanced(), "");
}

class DirectShowTopologyTest : public DirectShowStackTest {
 protected:
  void SetUp() override {
    device = &AddDevice("cam", L"cam");
    device->AddOrdinaryNode(ledger, "terminal", kCameraTerminal);
    settings = &device->AddUnit(ledger, "settings", SettingsUnitGuid, 60);
    device->AddUnopenableNode(KSNODETYPE_DEV_SPECIFIC, E_ACCESSDENIED);
    std::unique_ptr<DeviceEnumeration> enumeration;
    ASSERT_EQ(stack.EnumerateVideoInputs(enumeration), S_OK);
    std::unique_ptr<DeviceMoniker> moniker;
    ASSERT_EQ(enumeration->Next(moniker), S_OK);
    ASSERT_EQ(moniker->BindToFilter(filter), S_OK);
  }

  FakeDevice* device = nullptr;
  testing::FakeControl* settings = nullptr;
  FilterRef filter;
};

TEST_F(DirectShowTopologyTest, ListsNodesWithTheirTypesAndOpensControlsForIKsControl) {
  std::unique_ptr<Topology> topology;
  ASSERT_EQ(filter->QueryTopology(topology), S_OK);
  std::uint32_t count = 0;
  ASSERT_EQ(topology->GetNumNodes(count), S_OK);
  EXPECT_EQ(count, 3u);
  Guid type;
  ASSERT_EQ(topology->GetNodeType(0, type), S_OK);
  EXPECT_EQ(type, kCameraTerminal);
  ASSERT_EQ(topology->GetNodeType(1, type), S_OK);
  EXPECT_EQ(type, KSNODETYPE_DEV_SPECIFIC);
  EXPECT_EQ(topology->GetNodeType(7, type), E_INVALIDARG);

  std::unique_ptr<NodeControl> control;
  ASSERT_EQ(topology->CreateNodeControl(1, control), S_OK);
  EXPECT_EQ(settings->Refs(), 2);
  control.reset();
  EXPECT_EQ(topology->CreateNodeControl(2, control), E_ACCESSDENIED);
  EXPECT_FALSE(control);
  ASSERT_EQ(device->topology.createdFor.size(), 2u);
  EXPECT_EQ(FromWinGuid(device->topology.createdFor[0]), IID_IKsControl);
  EXPECT_EQ(FromWinGuid(device->topology.createdFor[1]), IID_IKsControl);

  topology.reset();
  filter.Reset();
  EXPECT_EQ(ledger.Unbalanced(), "");
}

TEST_F(DirectShowStackTest, FilterWithoutTopologyGivesTheQueryResult) {
  testing::FakeFilter bare(ledger, "bare", nullptr);
  testing::FakeMoniker moniker(ledger, "bare.moniker", L"bare", &bare);
  monikers.monikers = {&moniker};
  {
    std::unique_ptr<DeviceEnumeration> enumeration;
    ASSERT_EQ(stack.EnumerateVideoInputs(enumeration), S_OK);
    std::unique_ptr<DeviceMoniker> found;
    ASSERT_EQ(enumeration->Next(found), S_OK);
    FilterRef filter;
    ASSERT_EQ(found->BindToFilter(filter), S_OK);
    std::unique_ptr<Topology> topology;
    EXPECT_EQ(filter->QueryTopology(topology), E_NOINTERFACE);
    EXPECT_FALSE(topology);
  }
  EXPECT_EQ(ledger.Unbalanced(), "");
}

TEST_F(DirectShowTopologyTest, KsPropertyPassesRequestDataAndByteCountsThrough) {
  std::unique_ptr<Topology> topology;
  ASSERT_EQ(filter->QueryTopology(topology), S_OK);
  std::unique_ptr<NodeControl> control;
  ASSERT_EQ(topology->CreateNodeControl(1, control), S_OK);

  // Write, then the size query and the read of GET_CUR.
  const auto set = NodeRequest(SettingsUnitGuid, 3, 0x10000002, 1);
  std::vector<std::uint8_t> block(60);
  for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<std::uint8_t>(i + 1);
  std::uint32_t returned = 99;
  EXPECT_EQ(control->KsProperty(set.data(), 32, block.data(), 60, returned), S_OK);
  EXPECT_EQ(returned, 0u);

  const auto get = NodeRequest(SettingsUnitGuid, 3, 0x10000001, 1);
  EXPECT_EQ(control->KsProperty(get.data(), 32, nullptr, 0, returned),
            HRESULT_FROM_WIN32(ERROR_MORE_DATA));
  EXPECT_EQ(returned, 60u);
  std::vector<std::uint8_t> answer(60);
  EXPECT_EQ(control->KsProperty(get.data(), 32, answer.data(), 60, returned), S_OK);
  EXPECT_EQ(returned, 60u);
  EXPECT_EQ(answer, block);

  ASSERT_EQ(settings->calls.size(), 3u);
  const auto& write = settings->calls[0];
  EXPECT_EQ(write.property, std::vector<std::uint8_t>(set.begin(), set.end()));
  EXPECT_EQ(write.propertyLength, 32u);
  EXPECT_EQ(write.dataIn, block);
  EXPECT_TRUE(settings->calls[1].dataNull);
  EXPECT_EQ(settings->calls[1].dataLength, 0u);
  EXPECT_EQ(settings->calls[1].property, std::vector<std::uint8_t>(get.begin(), get.end()));
  EXPECT_EQ(settings->calls[2].dataLength, 60u);

  control.reset();
  topology.reset();
  filter.Reset();
  EXPECT_EQ(ledger.Unbalanced(), "");
}

TEST_F(DirectShowTopologyTest, KsPropertyRefusesARequestLongerThanANodeRequest) {
  std::unique_ptr<Topology> topology;
  ASSERT_EQ(filter->QueryTopology(topology), S_OK);
  std::unique_ptr<NodeControl> control;
  ASSERT_EQ(topology->CreateNodeControl(1, control), S_OK);
  std::array<std::uint8_t, 40> longer{};
  std::uint32_t returned = 5;
  EXPECT_EQ(control->KsProperty(longer.data(), 40, nullptr, 0, returned), E_INVALIDARG);
  EXPECT_EQ(returned, 0u);
  EXPECT_TRUE(settings->calls.empty());
}

// Wine's own device enumerator, on a machine without video devices.
TEST(DirectShowSystemEnumerator, EmptyVideoCategoryGivesSFalseAndNoEnumeration) {
  ComApartment apartment;
  DirectShowCaptureStack stack;
  std::unique_ptr<DeviceEnumeration> enumeration;
  EXPECT_EQ(stack.EnumerateVideoInputs(enumeration), S_FALSE);
  EXPECT_FALSE(enumeration);
}

}  // namespace
}  // namespace nerova::link::win
