#pragma once
// Where a picture goes inside a target rectangle: scaled to the target's
// full width or full height, whichever keeps the whole picture visible, with
// its aspect ratio kept, and centred along the other axis.
#include <cstdint>
#include <optional>

namespace nerova::widgets {

struct PlacedRect {
  std::int32_t x = 0;
  std::int32_t y = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;
  bool operator==(const PlacedRect&) const = default;
};

struct FitTarget {
  std::int32_t left = 0;
  std::int32_t top = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;
};

// Nothing for a picture of zero width or height (one that failed to load
// reads as 0 x 0) and for a 0 x 0 target. The ratios are compared as doubles;
// a picture at least as wide, relative to its height, as the target fills
// the width, otherwise the height. The scaled side is the 32-bit product of
// the target side and the picture side, divided in double precision by the
// other picture side and truncated toward zero. The centring offset is
// measured from the target's origin, not added to its left or top (the
// targets are client rectangles, whose origin is 0, 0).
std::optional<PlacedRect> FitImage(std::uint32_t imageWidth, std::uint32_t imageHeight, const FitTarget& target);

}  // namespace nerova::widgets
