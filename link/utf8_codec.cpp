#include "link/utf8_codec.h"

#include <cstdint>

namespace nerova::link {
namespace {

constexpr char32_t kReplacement = 0xFFFD;
constexpr bool kWideIsUtf16 = sizeof(wchar_t) == 2;

bool IsSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDFFF; }

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

void AppendWide(std::wstring& out, char32_t c) {
  if (kWideIsUtf16 && c >= 0x10000) {
    c -= 0x10000;
    out += static_cast<wchar_t>(0xD800 + (c >> 10));
    out += static_cast<wchar_t>(0xDC00 + (c & 0x3FF));
  } else {
    out += static_cast<wchar_t>(c);
  }
}

// The range the second byte of a sequence must fall in, which rules out
// overlong forms, surrogates and values beyond U+10FFFF at the earliest byte.
struct LeadInfo {
  int length;  // 0: not a lead byte
  std::uint8_t secondLow;
  std::uint8_t secondHigh;
};

LeadInfo ClassifyLead(std::uint8_t b) {
  if (b >= 0xC2 && b <= 0xDF) return {2, 0x80, 0xBF};
  if (b == 0xE0) return {3, 0xA0, 0xBF};
  if (b == 0xED) return {3, 0x80, 0x9F};
  if (b >= 0xE1 && b <= 0xEF) return {3, 0x80, 0xBF};
  if (b == 0xF0) return {4, 0x90, 0xBF};
  if (b == 0xF4) return {4, 0x80, 0x8F};
  if (b >= 0xF1 && b <= 0xF3) return {4, 0x80, 0xBF};
  return {0, 0, 0};
}

}  // namespace

std::string EncodeUtf8(std::wstring_view text, Unencodable unencodable) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t c = static_cast<char32_t>(text[i]);
    if (kWideIsUtf16) c &= 0xFFFF;
    if (kWideIsUtf16 && c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size()) {
      const char32_t low = static_cast<char32_t>(text[i + 1]) & 0xFFFF;
      if (low >= 0xDC00 && low <= 0xDFFF) {
        AppendUtf8(out, 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00));
        ++i;
        continue;
      }
    }
    if (IsSurrogate(c) || c > 0x10FFFF) {
      if (unencodable == Unencodable::QuestionMark) {
        out += '?';
      } else {
        AppendUtf8(out, kReplacement);
      }
      continue;
    }
    AppendUtf8(out, c);
  }
  return out;
}

std::wstring DecodeUtf8(std::string_view bytes) {
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
    const LeadInfo info = ClassifyLead(lead);
    if (info.length == 0) {
      AppendWide(out, kReplacement);
      ++i;
      continue;
    }
    char32_t c = lead & (0xFF >> (info.length + 1));
    std::size_t taken = 1;
    bool complete = true;
    for (; taken < static_cast<std::size_t>(info.length); ++taken) {
      if (i + taken >= bytes.size()) {
        complete = false;
        break;
      }
      const auto b = static_cast<std::uint8_t>(bytes[i + taken]);
      const std::uint8_t low = taken == 1 ? info.secondLow : 0x80;
      const std::uint8_t high = taken == 1 ? info.secondHigh : 0xBF;
      if (b < low || b > high) {
        complete = false;
        break;
      }
      c = (c << 6) | (b & 0x3F);
    }
    // A broken sequence is replaced as far as it was well-formed; the byte
    // that broke it starts over.
    AppendWide(out, complete ? c : kReplacement);
    i += taken;
  }
  return out;
}

}  // namespace nerova::link
