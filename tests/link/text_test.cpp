#include <gtest/gtest.h>

#include <limits>

#include "link/utf8_codec.h"
#include "link/wide_number.h"

namespace nerova::link {
namespace {

// A wide string of code points, in UTF-16 where wchar_t has 16 bits.
std::wstring Wide(std::initializer_list<char32_t> codePoints) {
  std::wstring out;
  for (char32_t c : codePoints) {
    if (sizeof(wchar_t) == 2 && c >= 0x10000) {
      out += static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10));
      out += static_cast<wchar_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      out += static_cast<wchar_t>(c);
    }
  }
  return out;
}

TEST(Utf8Codec, RoundTripsEveryPlane) {
  const Utf8Codec codec;
  const std::wstring text = Wide({'A', 0xE9, 0x5BA2, 0x1F4F6, 0x10FFFF});
  const std::string bytes = codec.Encode(text);
  EXPECT_EQ(bytes, "A\xC3\xA9\xE5\xAE\xA2\xF0\x9F\x93\xB6\xF4\x8F\xBF\xBF");
  EXPECT_EQ(codec.Decode(bytes), text);
  EXPECT_EQ(codec.Encode(L""), "");
}

TEST(Utf8Codec, UnmappableCharactersBecomeQuestionMarks) {
  const Utf8Codec codec;
  std::wstring loneSurrogates;
  loneSurrogates += static_cast<wchar_t>(0xD800);
  loneSurrogates += L'x';
  loneSurrogates += static_cast<wchar_t>(0xDC00);
  EXPECT_EQ(codec.Encode(loneSurrogates), "?x?");
  if (sizeof(wchar_t) == 4) {
    std::wstring beyond(1, static_cast<wchar_t>(0x110000));
    EXPECT_EQ(codec.Encode(beyond), "?");
  }
}

TEST(Utf8Codec, IllFormedBytesDecodeToReplacementCharacters) {
  const Utf8Codec codec;
  const std::wstring r(1, static_cast<wchar_t>(0xFFFD));
  EXPECT_EQ(codec.Decode("\x80"), r);                          // stray continuation
  EXPECT_EQ(codec.Decode("\xC0\xAF"), r + r);                  // overlong
  EXPECT_EQ(codec.Decode("\xED\xA0\x80"), r + r + r);          // encoded surrogate
  EXPECT_EQ(codec.Decode("\xF4\x90\x80\x80"), r + r + r + r);  // beyond U+10FFFF
  EXPECT_EQ(codec.Decode("a\xE5\xAE"), L"a" + r);              // truncated at the end
  EXPECT_EQ(codec.Decode("\xE5\xAEz"), r + L"z");              // broken: the next byte starts over
  EXPECT_EQ(codec.Decode("\xFF\xFE"), r + r);
}

TEST(WideToInt, FollowsTheRuntimesRules) {
  EXPECT_EQ(WideToInt(L"35"), 35);
  EXPECT_EQ(WideToInt(L"-1"), -1);
  EXPECT_EQ(WideToInt(L"+7"), 7);
  EXPECT_EQ(WideToInt(L" \t\r\n\v\f42x"), 42);
  EXPECT_EQ(WideToInt(L""), 0);
  EXPECT_EQ(WideToInt(L"yes"), 0);
  EXPECT_EQ(WideToInt(L"- 5"), 0);
  EXPECT_EQ(WideToInt(L"1920x1080"), 1920);
  EXPECT_EQ(WideToInt(L"2147483647"), std::numeric_limits<std::int32_t>::max());
  EXPECT_EQ(WideToInt(L"-2147483648"), std::numeric_limits<std::int32_t>::min());
  EXPECT_EQ(WideToInt(L"99999999999999999999"), std::numeric_limits<std::int32_t>::max());
  EXPECT_EQ(WideToInt(L"-99999999999999999999"), std::numeric_limits<std::int32_t>::min());
}

}  // namespace
}  // namespace nerova::link
