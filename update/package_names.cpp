// Entry names: decoding, sanitising, and the test that keeps every entry
// inside the directory it is unpacked into.
#include <array>
#include <cstdint>
#include <cwchar>
#include <optional>

#include "update/package_rules.h"

namespace nerova::package {
namespace {

constexpr char32_t kReplacement = 0xFFFD;
constexpr bool kWideIsUtf16 = sizeof(wchar_t) == 2;

void AppendCodePoint(std::wstring& out, char32_t c) {
  if (kWideIsUtf16 && c >= 0x10000) {
    c -= 0x10000;
    out += static_cast<wchar_t>(0xD800 + (c >> 10));
    out += static_cast<wchar_t>(0xDC00 + (c & 0x3FF));
  } else {
    out += static_cast<wchar_t>(c);
  }
}

// Length of the sequence a lead byte starts and the range its second byte
// must lie in; the range rules out overlong forms, encoded surrogates and
// values beyond U+10FFFF.
struct Lead {
  int length = 0;
  std::uint8_t low = 0x80;
  std::uint8_t high = 0xBF;
};

Lead ClassifyLead(std::uint8_t b) {
  if (b >= 0xC2 && b <= 0xDF) return {2, 0x80, 0xBF};
  if (b == 0xE0) return {3, 0xA0, 0xBF};
  if (b == 0xED) return {3, 0x80, 0x9F};
  if (b >= 0xE1 && b <= 0xEF) return {3, 0x80, 0xBF};
  if (b == 0xF0) return {4, 0x90, 0xBF};
  if (b >= 0xF1 && b <= 0xF3) return {4, 0x80, 0xBF};
  if (b == 0xF4) return {4, 0x80, 0x8F};
  return {};
}

wchar_t AsciiUpper(wchar_t c) { return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - 32) : c; }

bool EqualsIgnoringAsciiCase(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
  }
  return true;
}

// Windows opens a device for these names in any directory, with or without
// an extension and trailing spaces ("nul.txt", "COM1 ").
bool IsDeviceName(std::wstring_view component) {
  std::wstring_view stem = component.substr(0, component.find(L'.'));
  while (!stem.empty() && stem.back() == L' ') stem.remove_suffix(1);
  static constexpr std::array<std::wstring_view, 7> kNames = {L"CON",    L"PRN",     L"AUX",   L"NUL",
                                                               L"CONIN$", L"CONOUT$", L"CLOCK$"};
  for (std::wstring_view name : kNames) {
    if (EqualsIgnoringAsciiCase(stem, name)) return true;
  }
  if (stem.size() == 4 &&
      (EqualsIgnoringAsciiCase(stem.substr(0, 3), L"COM") || EqualsIgnoringAsciiCase(stem.substr(0, 3), L"LPT"))) {
    const wchar_t digit = stem[3];
    // Superscript one, two and three count as digits there too.
    return (digit >= L'0' && digit <= L'9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3;
  }
  return false;
}

// Characters that Windows refuses in a name, besides the separators.
bool IsForbiddenCharacter(wchar_t c) {
  return c < 0x20 || c == L'<' || c == L'>' || c == L':' || c == L'"' || c == L'|' || c == L'?' || c == L'*';
}

// A component that Windows keeps exactly as written. Everything else is
// refused rather than repaired: the platform would rename it on the way
// (trailing dots and blanks are dropped), climb with it ("..", and Wine's
// path functions take any component that starts with ".." as a climb), open
// a device, a stream or a drive instead of a file, or fail on it.
bool IsKeptAsWritten(std::wstring_view component) {
  if (component.empty() || component == L"." || component.starts_with(L"..")) return false;
  if (component.back() == L'.' || component.back() == L' ') return false;
  for (wchar_t c : component) {
    if (IsForbiddenCharacter(c)) return false;
  }
  return !IsDeviceName(component);
}

}  // namespace

std::wstring DecodeUtf8(std::string_view bytes) {
  bytes = bytes.substr(0, bytes.find('\0'));
  std::wstring out;
  out.reserve(bytes.size());
  std::size_t i = 0;
  while (i < bytes.size()) {
    const auto lead = static_cast<std::uint8_t>(bytes[i]);
    if (lead < 0x80) {
      out += static_cast<wchar_t>(lead);
      ++i;
      continue;
    }
    const Lead info = ClassifyLead(lead);
    if (info.length == 0) {
      AppendCodePoint(out, kReplacement);
      ++i;
      continue;
    }
    char32_t c = lead & (0x7F >> info.length);
    std::size_t taken = 1;
    bool complete = true;
    for (; taken < static_cast<std::size_t>(info.length); ++taken) {
      if (i + taken >= bytes.size()) {
        complete = false;
        break;
      }
      const auto b = static_cast<std::uint8_t>(bytes[i + taken]);
      const std::uint8_t low = taken == 1 ? info.low : 0x80;
      const std::uint8_t high = taken == 1 ? info.high : 0xBF;
      if (b < low || b > high) {
        complete = false;
        break;
      }
      c = (c << 6) | (b & 0x3F);
    }
    // A broken sequence is replaced as far as it went; the byte that broke
    // it is read again as the start of the next one.
    AppendCodePoint(out, complete ? c : kReplacement);
    i += taken;
  }
  return out;
}

std::wstring SanitiseEntryName(std::wstring_view stored) {
  static constexpr std::array<std::wstring_view, 4> kClimbs = {L"\\..\\", L"\\../", L"/../", L"/..\\"};
  std::wstring name(stored);
  for (;;) {
    if (name.size() > 1 && name[1] == L':') {
      name.erase(0, 2);
      continue;
    }
    if (!name.empty() && (name[0] == L'\\' || name[0] == L'/')) {
      name.erase(0, 1);
      continue;
    }
    bool cut = false;
    for (std::wstring_view climb : kClimbs) {
      const std::size_t at = name.find(climb);
      if (at != std::wstring::npos) {
        name.erase(0, at + climb.size());
        cut = true;
        break;
      }
    }
    if (!cut) return name;
  }
}

bool IsSafeEntryName(std::wstring_view name) {
  // The separator that ends a directory entry's name leaves an empty last
  // component, and so does the empty name, which names the unpacking
  // directory itself; an empty component anywhere else is refused.
  std::size_t start = 0;
  for (std::size_t i = 0; i < name.size(); ++i) {
    if (!IsSeparator(name[i])) continue;
    if (!IsKeptAsWritten(name.substr(start, i - start))) return false;
    start = i + 1;
  }
  return start == name.size() || IsKeptAsWritten(name.substr(start));
}

std::optional<std::wstring> JoinBelow(std::wstring_view directory, std::wstring_view name) {
  std::wstring joined(directory);
  if (joined.empty() || !IsSeparator(joined.back())) joined += L'\\';
  for (wchar_t c : name) joined += c == L'/' ? L'\\' : c;
  if (Utf16Length(joined) > kMaxPathUnits) return std::nullopt;
  return joined;
}

std::size_t Utf16Length(std::wstring_view text) {
#if WCHAR_MAX > 0xFFFF
  std::size_t units = 0;
  for (wchar_t c : text) units += static_cast<char32_t>(c) >= 0x10000 ? 2 : 1;
  return units;
#else
  return text.size();
#endif
}

}  // namespace nerova::package
