#include "widgets/help_layout.h"

#include <gtest/gtest.h>

#include <map>

#include "resources/resource_ids.h"

namespace nerova::widgets {
namespace {

const std::map<int, HelpRect> kControls = {
    {IDC_MODEL, {300, 160, 436, 178}},
    {IDC_WIFI_NAME, {300, 190, 518, 208}},
    {IDC_WIFI_PASSWORD, {300, 221, 518, 239}},
    {IDC_APPLY, {252, 292, 345, 314}},
};

ControlRectLookup LookupIn(const std::map<int, HelpRect>& controls) {
  return [&controls](int id) -> std::optional<HelpRect> {
    auto it = controls.find(id);
    if (it == controls.end()) return std::nullopt;
    return it->second;
  };
}

TEST(HelpLayout, AutoModeAsksForTheModelAndTheOtherTextsNeverChange) {
  const std::vector<HelpItem> items = BuildHelpItems(L"Auto", LookupIn(kControls));
  ASSERT_EQ(items.size(), 4u);
  EXPECT_EQ(items[0].text, L"1. Select device model");
  EXPECT_EQ(items[1].text, L"2. Fill in SSID (can find it on the bottom of the camera device)");
  EXPECT_EQ(items[2].text, L"3. lf it is not default password, re-enter it");
  EXPECT_EQ(items[3].text, L"Click and wait until restart the device");
}

TEST(HelpLayout, EveryOtherModeAsksForTheUrlWithTheSameOtherTexts) {
  const std::vector<HelpItem> automatic = BuildHelpItems(L"Auto", LookupIn(kControls));
  for (const wchar_t* mode : {L"Manual", L"auto", L"Auto ", L"", L"AUTO"}) {
    const std::vector<HelpItem> items = BuildHelpItems(mode, LookupIn(kControls));
    ASSERT_EQ(items.size(), 4u) << mode;
    EXPECT_EQ(items[0].text, L"1. Enter the URL manually") << mode;
    for (std::size_t i = 1; i < 4; ++i) EXPECT_EQ(items[i], automatic[i]) << mode;
  }
}

TEST(HelpLayout, MarksFollowTheirControlsAndOnlyApplyMovesByHalfItsWidth) {
  const std::vector<HelpItem> items = BuildHelpItems(L"Manual", LookupIn(kControls));
  ASSERT_EQ(items.size(), 4u);
  // In manual mode too the first mark takes the model list's rectangle.
  EXPECT_EQ(items[0].rc, kControls.at(IDC_MODEL));
  EXPECT_EQ(items[1].rc, kControls.at(IDC_WIFI_NAME));
  EXPECT_EQ(items[2].rc, kControls.at(IDC_WIFI_PASSWORD));
  // 93 pixels wide: half is 46.
  EXPECT_EQ(items[3].rc, (HelpRect{298, 292, 391, 314}));
}

TEST(HelpLayout, ApplyShiftTruncatesTowardZero) {
  auto shifted = [](HelpRect apply) {
    std::map<int, HelpRect> controls = {{IDC_APPLY, apply}};
    const std::vector<HelpItem> items = BuildHelpItems(L"Auto", LookupIn(controls));
    return items.at(0).rc;
  };
  EXPECT_EQ(shifted({-100, 0, -7, 20}), (HelpRect{-54, 0, 39, 20}));
  // A rectangle with right left of left: (5 - 10) / 2 = -2.
  EXPECT_EQ(shifted({10, 0, 5, 20}), (HelpRect{8, 0, 3, 20}));
  EXPECT_EQ(shifted({0, 0, 1, 20}), (HelpRect{0, 0, 1, 20}));
}

TEST(HelpLayout, MissingControlsGetNoMarkAndTheOrderStays) {
  std::map<int, HelpRect> controls = kControls;
  controls.erase(IDC_MODEL);
  controls.erase(IDC_WIFI_PASSWORD);
  const std::vector<HelpItem> items = BuildHelpItems(L"Auto", LookupIn(controls));
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0].text, L"2. Fill in SSID (can find it on the bottom of the camera device)");
  EXPECT_EQ(items[1].text, L"Click and wait until restart the device");
  EXPECT_TRUE(BuildHelpItems(L"Auto", LookupIn({})).empty());
  EXPECT_TRUE(BuildHelpItems(L"Auto", nullptr).empty());
}

TEST(HelpLayout, TargetsAreTheFourControlsInOrder) {
  EXPECT_EQ(HelpTargets(), (std::vector<int>{IDC_MODEL, IDC_WIFI_NAME, IDC_WIFI_PASSWORD, IDC_APPLY}));
  EXPECT_TRUE(HelpText(IDC_URL, L"Auto").empty());
}

TEST(HelpLayout, ArrowIsFiftyWideAndAsHighAsTheMarkWithTheTextBesideIt) {
  EXPECT_EQ(LayoutMark({300, 160, 436, 180}), (MarkDrawing{300, 160, 50, 20, 350, 160}));
  EXPECT_EQ(LayoutMark({-20, -5, 10, 40}), (MarkDrawing{-20, -5, 50, 45, 30, -5}));
}

}  // namespace
}  // namespace nerova::widgets
