#include "sim/gbk_subset_codec.h"

#include <cstdint>

namespace nerova::sim {
namespace {

struct Mapping {
  char16_t character;
  std::uint8_t lead;
  std::uint8_t trail;
};

// Taken from code page 936.
//   确定取消中文网络密码名称设置接收器无线摄像头客厅卧室办公楼层一二三
constexpr Mapping kTable[] = {
    {0x786E, 0xC8, 0xB7}, {0x5B9A, 0xB6, 0xA8}, {0x53D6, 0xC8, 0xA1}, {0x6D88, 0xCF, 0xFB},
    {0x4E2D, 0xD6, 0xD0}, {0x6587, 0xCE, 0xC4}, {0x7F51, 0xCD, 0xF8}, {0x7EDC, 0xC2, 0xE7},
    {0x5BC6, 0xC3, 0xDC}, {0x7801, 0xC2, 0xEB}, {0x540D, 0xC3, 0xFB}, {0x79F0, 0xB3, 0xC6},
    {0x8BBE, 0xC9, 0xE8}, {0x7F6E, 0xD6, 0xC3}, {0x63A5, 0xBD, 0xD3}, {0x6536, 0xCA, 0xD5},
    {0x5668, 0xC6, 0xF7}, {0x65E0, 0xCE, 0xDE}, {0x7EBF, 0xCF, 0xDF}, {0x6444, 0xC9, 0xE3},
    {0x50CF, 0xCF, 0xF1}, {0x5934, 0xCD, 0xB7}, {0x5BA2, 0xBF, 0xCD}, {0x5385, 0xCC, 0xFC},
    {0x5367, 0xCE, 0xD4}, {0x5BA4, 0xCA, 0xD2}, {0x529E, 0xB0, 0xEC}, {0x516C, 0xB9, 0xAB},
    {0x697C, 0xC2, 0xA5}, {0x5C42, 0xB2, 0xE3}, {0x4E00, 0xD2, 0xBB}, {0x4E8C, 0xB6, 0xFE},
    {0x4E09, 0xC8, 0xFD},
};

bool IsLead(std::uint8_t b) { return b >= 0x81 && b <= 0xFE; }
bool IsTrail(std::uint8_t b) { return (b >= 0x40 && b <= 0x7E) || (b >= 0x80 && b <= 0xFE); }

}  // namespace

std::string GbkSubsetCodec::Encode(std::wstring_view text) const {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<std::uint32_t>(text[i]);
    if (c < 0x80) {
      out += static_cast<char>(c);
      continue;
    }
    // A surrogate pair is one character without a mapping.
    if (sizeof(wchar_t) == 2 && c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size()) {
      const auto low = static_cast<std::uint32_t>(text[i + 1]);
      if (low >= 0xDC00 && low <= 0xDFFF) ++i;
    }
    const Mapping* found = nullptr;
    for (const Mapping& m : kTable) {
      if (m.character == c) found = &m;
    }
    if (found == nullptr) {
      out += '?';
      continue;
    }
    out += static_cast<char>(found->lead);
    out += static_cast<char>(found->trail);
  }
  return out;
}

std::wstring GbkSubsetCodec::Decode(std::string_view bytes) const {
  std::wstring out;
  std::size_t i = 0;
  while (i < bytes.size()) {
    const auto b = static_cast<std::uint8_t>(bytes[i]);
    if (b < 0x80) {
      out += static_cast<wchar_t>(b);
      ++i;
      continue;
    }
    if (!IsLead(b) || i + 1 >= bytes.size() || !IsTrail(static_cast<std::uint8_t>(bytes[i + 1]))) {
      out += L'?';
      ++i;
      continue;
    }
    const auto trail = static_cast<std::uint8_t>(bytes[i + 1]);
    wchar_t decoded = L'?';
    for (const Mapping& m : kTable) {
      if (m.lead == b && m.trail == trail) decoded = static_cast<wchar_t>(m.character);
    }
    out += decoded;
    i += 2;
  }
  return out;
}

}  // namespace nerova::sim
