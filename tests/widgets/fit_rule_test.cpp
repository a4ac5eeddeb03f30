#include "widgets/fit_rule.h"

#include <gtest/gtest.h>

namespace nerova::widgets {
namespace {

TEST(FitRule, PictureWithoutSizeYieldsNothing) {
  EXPECT_FALSE(FitImage(0, 0, {0, 0, 30, 30}));
  EXPECT_FALSE(FitImage(0, 48, {0, 0, 30, 30}));
  EXPECT_FALSE(FitImage(48, 0, {0, 0, 30, 30}));
}

TEST(FitRule, EmptyTargetYieldsNothing) { EXPECT_FALSE(FitImage(48, 48, {0, 0, 0, 0})); }

TEST(FitRule, SquarePictureInATallFrameFillsTheWidthAndIsCentredVertically) {
  // A 19 x 19 dialog-unit frame is taller than wide in pixels.
  EXPECT_EQ(FitImage(48, 48, {0, 0, 29, 31}), (PlacedRect{0, 1, 29, 29}));
}

TEST(FitRule, SquarePictureInAWideFrameFillsTheHeightAndIsCentredHorizontally) {
  EXPECT_EQ(FitImage(48, 48, {0, 0, 31, 28}), (PlacedRect{1, 0, 28, 28}));
}

TEST(FitRule, EqualRatiosFillTheTargetExactlyThroughTheWidthBranch) {
  EXPECT_EQ(FitImage(100, 50, {0, 0, 200, 100}), (PlacedRect{0, 0, 200, 100}));
  EXPECT_EQ(FitImage(48, 48, {0, 0, 29, 29}), (PlacedRect{0, 0, 29, 29}));
}

TEST(FitRule, LogoIntoItsFrameTruncatesTheScaledHeight) {
  // 80 * 418 / 1276 = 26.2; (32 - 26) / 2 = 3.
  EXPECT_EQ(FitImage(1276, 418, {0, 0, 80, 32}), (PlacedRect{0, 3, 80, 26}));
  // A frame wider than the logo's ratio: 32 * 1276 / 418 = 97.7 -> 97,
  // (100 - 97) / 2 = 1.
  EXPECT_EQ(FitImage(1276, 418, {0, 0, 100, 32}), (PlacedRect{1, 0, 97, 32}));
}

TEST(FitRule, CentringOffsetsAreMeasuredFromTheTargetOriginNotAddedToIt) {
  // Height branch: x is (width - drawn) / 2 alone, y is the target's top.
  EXPECT_EQ(FitImage(48, 48, {10, 20, 31, 28}), (PlacedRect{1, 20, 28, 28}));
  // Width branch: x is the target's left, y is (height - drawn) / 2 alone.
  EXPECT_EQ(FitImage(48, 48, {10, 20, 29, 31}), (PlacedRect{10, 1, 29, 29}));
}

TEST(FitRule, QuotientsAndOffsetsTruncateTowardZero) {
  // Odd remainder: (30 - 27) / 2 = 1.
  EXPECT_EQ(FitImage(10, 9, {0, 0, 30, 30}), (PlacedRect{0, 1, 30, 27}));
  // Negative quotient: -7 * 2 / 4 = -3.5 -> -3 (not -4); offset
  // (-6 - -3) / 2 = -1.5 -> -1 (not -2).
  EXPECT_EQ(FitImage(4, 2, {0, 0, -7, -6}), (PlacedRect{0, -1, -7, -3}));
}

TEST(FitRule, ZeroHighTargetStillPlacesAnEmptyPicture) {
  // The target ratio is infinite: the height branch with nothing to draw.
  EXPECT_EQ(FitImage(48, 48, {0, 0, 50, 0}), (PlacedRect{25, 0, 0, 0}));
}

TEST(FitRule, ZeroWideTargetStillPlacesAnEmptyPicture) {
  EXPECT_EQ(FitImage(48, 48, {0, 0, 0, 50}), (PlacedRect{0, 25, 0, 0}));
}

TEST(FitRule, ProductIsTakenAsA32BitInteger) {
  // 70000 * 70000 wraps to 605032704 in 32 bits; / 70000 = 8643.3.
  EXPECT_EQ(FitImage(70000, 70000, {0, 0, 70000, 70000}), (PlacedRect{0, 30678, 70000, 8643}));
}

}  // namespace
}  // namespace nerova::widgets
