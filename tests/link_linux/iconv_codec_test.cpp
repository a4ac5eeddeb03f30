// The receiver's texts in the Windows code pages, through glibc's iconv.
#include "link/linux/iconv_codec.h"

#include <gtest/gtest.h>

#include <memory>

namespace nerova::link::linux_stack {
namespace {

const std::wstring kReplacement(1, L'\uFFFD');

std::unique_ptr<IconvCodec> Codec(std::uint32_t codePage) {
  std::unique_ptr<IconvCodec> codec = IconvCodec::ForCodePage(codePage);
  if (!codec) ADD_FAILURE() << "code page " << codePage << " did not open";
  return codec;
}

TEST(IconvCodec, RoundTripsTextInEachCodePageTheLocalesMapTo) {
  struct Case {
    std::uint32_t codePage;
    std::wstring text;
    std::string bytes;
  };
  const Case cases[] = {
      {936, L"\u6D4B\u8BD5\u6444\u50CF\u5934", "\xB2\xE2\xCA\xD4\xC9\xE3\xCF\xF1\xCD\xB7"},  // 测试摄像头
      {950, L"\u7121\u7DDA\u63A5\u6536\u5668", "\xB5\x4C\xBD\x75\xB1\xB5\xA6\xAC\xBE\xB9"},  // 無線接收器
      {932, L"\u53D7\u4FE1\u6A5F\u30C6\u30B9\u30C8", "\x8E\xF3\x90\x4D\x8B\x40\x83\x65\x83\x58\x83\x67"},
      {949, L"\uC218\uC2E0\uAE30", "\xBC\xF6\xBD\xC5\xB1\xE2"},  // 수신기
      {1252, L"caf\u00E9", "caf\xE9"},
      {65001, L"caf\u00E9 \u6444", "caf\xC3\xA9 \xE6\x91\x84"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.codePage);
    const std::unique_ptr<IconvCodec> codec = Codec(c.codePage);
    ASSERT_TRUE(codec);
    EXPECT_EQ(codec->CodePage(), c.codePage);
    EXPECT_EQ(codec->Encode(c.text), c.bytes);
    EXPECT_EQ(codec->Decode(c.bytes), c.text);
    EXPECT_EQ(codec->Encode(L""), "");
    EXPECT_EQ(codec->Decode(""), L"");
  }

  // Far longer than the first guess at the output's size, in both directions.
  const std::unique_ptr<IconvCodec> chinese = Codec(936);
  ASSERT_TRUE(chinese);
  std::wstring longText;
  for (int i = 0; i < 3000; ++i) longText += L"\u6444a";
  const std::string longBytes = chinese->Encode(longText);
  EXPECT_EQ(longBytes.size(), 3u * 3000);
  EXPECT_EQ(chinese->Decode(longBytes), longText);
}

TEST(IconvCodec, CharactersWithoutAMappingBecomeQuestionMarksInPlace) {
  const std::unique_ptr<IconvCodec> western = Codec(1252);
  ASSERT_TRUE(western);
  EXPECT_EQ(western->Encode(L"\u65E5"), "?");  // 日
  EXPECT_EQ(western->Encode(L"a\u65E5\u672Cb\u00E9"), "a??b\xE9");
  // A lone surrogate is no character at all.
  EXPECT_EQ(western->Encode(std::wstring{L'x', static_cast<wchar_t>(0xD800), L'y'}), "x?y");

  const std::unique_ptr<IconvCodec> chinese = Codec(936);
  ASSERT_TRUE(chinese);
  EXPECT_EQ(chinese->Encode(L"\u6444\uC218\u6444"), "\xC9\xE3?\xC9\xE3");  // Hangul is not in 936
}

TEST(IconvCodec, InvalidBytesDecodeToReplacementCharactersAndDecodingGoesOn) {
  const std::unique_ptr<IconvCodec> western = Codec(1252);
  ASSERT_TRUE(western);
  EXPECT_EQ(western->Decode("a\x81z"), L"a" + kReplacement + L"z");  // 0x81 is unassigned in 1252

  const std::unique_ptr<IconvCodec> chinese = Codec(936);
  ASSERT_TRUE(chinese);
  // A lead byte followed by a byte that cannot trail it: only the lead is lost.
  EXPECT_EQ(chinese->Decode("\x81\x20x"), kReplacement + L" x");
  EXPECT_EQ(chinese->Decode("\xFF\xC9\xE3"), kReplacement + L"\u6444");
  // A lead byte cut off at the end.
  EXPECT_EQ(chinese->Decode("a\xC9"), L"a" + kReplacement);
  EXPECT_EQ(chinese->Decode("\xC9\xE3"), L"\u6444");

  const std::unique_ptr<IconvCodec> utf8 = Codec(65001);
  ASSERT_TRUE(utf8);
  EXPECT_EQ(utf8->Decode("\xFFok"), kReplacement + L"ok");
}

TEST(IconvCodec, CodePagesWithoutAConversionAreRefused) {
  EXPECT_EQ(IconvCodec::ForCodePage(0), nullptr);
  EXPECT_EQ(IconvCodec::ForCodePage(12345), nullptr);
  EXPECT_EQ(IconvCodec::ForCodePage(1200), nullptr);  // UTF-16: never an ANSI code page
}

}  // namespace
}  // namespace nerova::link::linux_stack
