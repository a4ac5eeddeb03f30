#include "ui/data_exchange.h"

#include <cwctype>
#include <vector>

#include "ui/controls.h"
#include "ui/dialog.h"
#include "ui/message_box.h"

namespace nerova::ui {

namespace {

std::wstring WindowText(HWND control) {
  const int length = GetWindowTextLengthW(control);
  if (length <= 0) return {};
  std::vector<wchar_t> buffer(static_cast<std::size_t>(length) + 1);
  const int copied = GetWindowTextW(control, buffer.data(), static_cast<int>(buffer.size()));
  return std::wstring(buffer.data(), copied > 0 ? static_cast<std::size_t>(copied) : 0);
}

bool IsDropDownList(HWND combo) {
  return (GetWindowLongPtrW(combo, GWL_STYLE) & 0x3) == CBS_DROPDOWNLIST;
}

std::wstring ComboItemText(HWND combo, LRESULT index) {
  const LRESULT length = SendMessageW(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
  if (length == CB_ERR || length <= 0) return {};
  std::vector<wchar_t> buffer(static_cast<std::size_t>(length) + 1);
  const LRESULT copied =
      SendMessageW(combo, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(buffer.data()));
  if (copied == CB_ERR || copied < 0) return {};
  return std::wstring(buffer.data(), static_cast<std::size_t>(copied));
}

}  // namespace

std::wstring TooLongMessage(std::size_t maxLength) {
  return L"This field holds at most " + std::to_wstring(maxLength) + L" characters. Please shorten the text.";
}

std::wstring NotANumberMessage() { return L"This field holds a whole number only."; }

std::optional<std::int32_t> ParseDecimal(const std::wstring& text) {
  std::size_t i = 0;
  const std::size_t n = text.size();
  while (i < n && std::iswspace(text[i])) ++i;
  bool negative = false;
  if (i < n && (text[i] == L'-' || text[i] == L'+')) negative = text[i++] == L'-';
  const std::size_t digitsStart = i;
  std::int64_t value = 0;
  while (i < n && text[i] >= L'0' && text[i] <= L'9') {
    value = value * 10 + (text[i] - L'0');
    if (value > 2147483648LL) return std::nullopt;
    ++i;
  }
  if (i == digitsStart) return std::nullopt;
  while (i < n && std::iswspace(text[i])) ++i;
  if (i != n) return std::nullopt;
  if (negative) value = -value;
  if (value > 2147483647LL) return std::nullopt;
  return static_cast<std::int32_t>(value);
}

HWND DataExchange::Control(int id) const { return m_dialog.Item(id); }

void DataExchange::Refuse(HWND control, const std::wstring& message) {
  m_failed = true;
  ShowMessage(m_dialog.Handle(), message, MB_OK | MB_ICONEXCLAMATION);
  if (control) {
    SetFocus(control);
    SendMessageW(control, EM_SETSEL, 0, -1);
  }
}

void DataExchange::Text(int id, std::wstring& member, std::optional<std::size_t> maxLength) {
  if (Skip()) return;
  HWND control = Control(id);
  if (!control) return;
  if (!ToMembers()) {
    SetWindowTextW(control, member.c_str());
    if (maxLength && *maxLength > 0) SendMessageW(control, EM_LIMITTEXT, *maxLength, 0);
    return;
  }
  std::wstring text = WindowText(control);
  if (maxLength && text.size() > *maxLength) {
    Refuse(control, TooLongMessage(*maxLength));
    return;
  }
  member = std::move(text);
}

void DataExchange::ComboText(int id, std::wstring& member) {
  if (Skip()) return;
  HWND combo = Control(id);
  if (!combo) return;
  if (!ToMembers()) {
    const LRESULT count = SendMessageW(combo, CB_GETCOUNT, 0, 0);
    LRESULT match = CB_ERR;
    for (LRESULT i = 0; i < count && match == CB_ERR; ++i) {
      if (ComboItemText(combo, i) == member) match = i;
    }
    SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(match), 0);
    if (match == CB_ERR && !IsDropDownList(combo)) SetWindowTextW(combo, member.c_str());
    return;
  }
  if (IsDropDownList(combo)) {
    const LRESULT selected = SendMessageW(combo, CB_GETCURSEL, 0, 0);
    member = selected == CB_ERR ? std::wstring() : ComboItemText(combo, selected);
  } else {
    member = WindowText(combo);
  }
}

void DataExchange::Number(int id, std::int32_t& member) {
  if (Skip()) return;
  HWND control = Control(id);
  if (!control) return;
  if (!ToMembers()) {
    SetWindowTextW(control, std::to_wstring(member).c_str());
    return;
  }
  const std::optional<std::int32_t> value = ParseDecimal(WindowText(control));
  if (!value) {
    Refuse(control, NotANumberMessage());
    return;
  }
  member = *value;
}

void DataExchange::Bind(int id, Trackbar& control) { control.Attach(Control(id)); }
void DataExchange::Bind(int id, Button& control) { control.Attach(Control(id)); }

}  // namespace nerova::ui
