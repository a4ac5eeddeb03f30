#pragma once
// The marks of the help overlay: which controls of the settings window get
// one, with which instruction, where, and where the arrow and the text of a
// mark are drawn. Pure, so that it is tested without a screen.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace nerova::widgets {

struct HelpRect {
  std::int32_t left = 0;
  std::int32_t top = 0;
  std::int32_t right = 0;
  std::int32_t bottom = 0;
  bool operator==(const HelpRect&) const = default;
};

struct HelpItem {
  HelpRect rc;        // screen coordinates
  std::wstring text;  // the instruction
  bool operator==(const HelpItem&) const = default;
};

// The mode text for which the first mark asks for the camera model.
inline constexpr wchar_t kAutoMode[] = L"Auto";

// The controls that get a mark, in order: camera model list, Wi-Fi name,
// Wi-Fi password, Apply.
std::vector<int> HelpTargets();

// The instruction for a target control; only the first depends on the mode
// (compared exactly with "Auto"). Empty for a control that is no target.
std::wstring HelpText(int controlId, const std::wstring& mode);

// The client rectangle of a control of the settings window in screen
// coordinates, or nothing when the window lacks the control.
using ControlRectLookup = std::function<std::optional<HelpRect>(int controlId)>;

// The marks in order; a missing control gets none. The Apply mark moves right
// by half the button's width, truncated toward zero.
std::vector<HelpItem> BuildHelpItems(const std::wstring& mode, const ControlRectLookup& controlRect);

// Where one mark's pieces go: the arrow stretched into a box 50 pixels wide
// and as high as the mark, at the mark's top left; the text 50 pixels right
// of the mark's left edge, at its top.
struct MarkDrawing {
  std::int32_t arrowX = 0;
  std::int32_t arrowY = 0;
  std::int32_t arrowWidth = 0;
  std::int32_t arrowHeight = 0;
  std::int32_t textX = 0;
  std::int32_t textY = 0;
  bool operator==(const MarkDrawing&) const = default;
};
inline constexpr std::int32_t kArrowWidth = 50;

MarkDrawing LayoutMark(const HelpRect& rc);

}  // namespace nerova::widgets
