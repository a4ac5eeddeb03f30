#pragma once
// One run of a dialog's two-way transfer between its members and its
// controls. A dialog's DoDataExchange lists its fields once; the same list
// serves both directions. Towards the members, the first control whose
// content is refused stops the run: the user is told why in a message box,
// that control gets the focus, and the later fields are left alone.
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace nerova::ui {

class Dialog;
class Trackbar;
class Button;

class DataExchange {
 public:
  enum class Direction { kToControls, kToMembers };

  DataExchange(Dialog& dialog, Direction direction) : m_dialog(dialog), m_direction(direction) {}
  DataExchange(const DataExchange&) = delete;
  DataExchange& operator=(const DataExchange&) = delete;

  bool ToMembers() const { return m_direction == Direction::kToMembers; }
  bool Failed() const { return m_failed; }

  // An edit's text. With a limit (in UTF-16 units, at least 1): towards the
  // controls the edit accepts no more typing beyond it (text already longer
  // stays as it is); towards the members a longer text is refused.
  void Text(int id, std::wstring& member, std::optional<std::size_t> maxLength = std::nullopt);
  // A combo box's text. Towards the controls the item equal to the member
  // (whole, case-sensitive) is selected, or none when no item equals it;
  // towards the members the selected item's text (or the edit's text of a
  // combo with an edit field).
  void ComboText(int id, std::wstring& member);
  // A control's text as a decimal 32-bit integer; towards the members a text
  // that is not one is refused.
  void Number(int id, std::int32_t& member);
  // Binds the helper to the control (either direction).
  void Bind(int id, Trackbar& control);
  void Bind(int id, Button& control);

 private:
  HWND Control(int id) const;
  bool Skip() const { return m_failed; }
  void Refuse(HWND control, const std::wstring& message);

  Dialog& m_dialog;
  Direction m_direction;
  bool m_failed = false;
};

// The texts the layer shows when it refuses a control's content.
std::wstring TooLongMessage(std::size_t maxLength);
std::wstring NotANumberMessage();
// Decimal integer, optionally signed, blanks around it allowed; nullopt when
// the text is anything else or out of range.
std::optional<std::int32_t> ParseDecimal(const std::wstring& text);

}  // namespace nerova::ui
