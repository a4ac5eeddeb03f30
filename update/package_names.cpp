// Entry names: decoding, sanitising, and the test that keeps every entry
// inside the directory it is unpacked into.
#include <array>
#include <cstdint>
#include <cwchar>
#include <optional>

#include "link/utf8_codec.h"
#include "update/package_rules.h"

namespace nerova::package {
namespace {

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

// Drops every "." component with the separator after it: "./fw/a.bin" names
// fw/a.bin, and "./" alone the unpacking directory itself.
void DropCurrentDirectoryComponents(std::wstring& name) {
  std::size_t start = 0;
  while (start < name.size()) {
    const std::size_t end = name.find_first_of(L"\\/", start);
    const std::size_t length = (end == std::wstring::npos ? name.size() : end) - start;
    if (length == 1 && name[start] == L'.') {
      name.erase(start, end == std::wstring::npos ? 1 : 2);
      continue;
    }
    if (end == std::wstring::npos) return;
    start = end + 1;
  }
}

}  // namespace

std::wstring DecodeUtf8(std::string_view bytes) { return link::DecodeUtf8(bytes.substr(0, bytes.find('\0'))); }

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
    if (!cut) break;
  }
  // Last, so that "./../x" loses its climb as "/../x" does, and what is left
  // of "\\.\C:\x" keeps its drive for the safety test to refuse.
  DropCurrentDirectoryComponents(name);
  return name;
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
