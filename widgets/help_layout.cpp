#include "widgets/help_layout.h"

#include "resources/resource_ids.h"

namespace nerova::widgets {

namespace {

// Wraps like 32-bit machine arithmetic instead of overflowing.
std::int32_t Wrap(std::int64_t value) { return static_cast<std::int32_t>(value); }

}  // namespace

std::vector<int> HelpTargets() { return {IDC_MODEL, IDC_WIFI_NAME, IDC_WIFI_PASSWORD, IDC_APPLY}; }

std::wstring HelpText(int controlId, const std::wstring& mode) {
  switch (controlId) {
    case IDC_MODEL:
      return mode == kAutoMode ? L"1. Select device model" : L"1. Enter the URL manually";
    case IDC_WIFI_NAME:
      return L"2. Fill in SSID (can find it on the bottom of the camera device)";
    case IDC_WIFI_PASSWORD:
      // "lf" (lower-case L) is how the instruction has always read.
      return L"3. lf it is not default password, re-enter it";
    case IDC_APPLY:
      return L"Click and wait until restart the device";
    default:
      return {};
  }
}

std::vector<HelpItem> BuildHelpItems(const std::wstring& mode, const ControlRectLookup& controlRect) {
  std::vector<HelpItem> items;
  for (int id : HelpTargets()) {
    std::optional<HelpRect> rc = controlRect ? controlRect(id) : std::nullopt;
    if (!rc) continue;
    if (id == IDC_APPLY) {
      const auto half = Wrap((static_cast<std::int64_t>(rc->right) - rc->left) / 2);
      rc->left = Wrap(static_cast<std::int64_t>(rc->left) + half);
      rc->right = Wrap(static_cast<std::int64_t>(rc->right) + half);
    }
    items.push_back({*rc, HelpText(id, mode)});
  }
  return items;
}

MarkDrawing LayoutMark(const HelpRect& rc) {
  return MarkDrawing{rc.left,
                     rc.top,
                     kArrowWidth,
                     Wrap(static_cast<std::int64_t>(rc.bottom) - rc.top),
                     Wrap(static_cast<std::int64_t>(rc.left) + kArrowWidth),
                     rc.top};
}

}  // namespace nerova::widgets
