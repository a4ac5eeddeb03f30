#include "widgets/fit_rule.h"

#include <cmath>
#include <limits>

namespace nerova::widgets {

namespace {

// a / b as a double, with the IEEE results for b == 0 spelled out.
double Ratio(double a, double b) {
  if (b != 0.0) return a / b;
  if (a > 0.0) return std::numeric_limits<double>::infinity();
  if (a < 0.0) return -std::numeric_limits<double>::infinity();
  return std::numeric_limits<double>::quiet_NaN();
}

// (side * pictureSide) as a 32-bit integer, wrapping like the machine does,
// then divided in double precision by otherPictureSide and truncated.
std::int32_t Scaled(std::int32_t side, std::uint32_t pictureSide, std::uint32_t otherPictureSide) {
  const auto product = static_cast<std::int32_t>(static_cast<std::int64_t>(side) * pictureSide);
  return static_cast<std::int32_t>(std::trunc(static_cast<double>(product) / otherPictureSide));
}

// (a - b) / 2, truncated toward zero, as the 32-bit value it fits in.
std::int32_t HalfDifference(std::int32_t a, std::int32_t b) {
  return static_cast<std::int32_t>((static_cast<std::int64_t>(a) - b) / 2);
}

}  // namespace

std::optional<PlacedRect> FitImage(std::uint32_t imageWidth, std::uint32_t imageHeight, const FitTarget& target) {
  if (imageWidth == 0 || imageHeight == 0) return std::nullopt;
  const double imageRatio = Ratio(imageWidth, imageHeight);
  const double targetRatio = Ratio(target.width, target.height);
  if (imageRatio >= targetRatio) {
    const std::int32_t height = Scaled(target.width, imageHeight, imageWidth);
    return PlacedRect{target.left, HalfDifference(target.height, height), target.width, height};
  }
  if (targetRatio > imageRatio) {
    const std::int32_t width = Scaled(target.height, imageWidth, imageHeight);
    return PlacedRect{HalfDifference(target.width, width), target.top, width, target.height};
  }
  return std::nullopt;  // a ratio is not a number
}

}  // namespace nerova::widgets
