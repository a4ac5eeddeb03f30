// The code-page codec follows the calling thread's ANSI code page, asks for
// sizes first and never cuts.
#include <gtest/gtest.h>

#include <windows.h>

#include "link/win/code_page_codec.h"

namespace nerova::link::win {
namespace {

// Runs a test body with the thread's locale set, and puts the old one back.
class ThreadLocale {
 public:
  explicit ThreadLocale(LANGID language)
      : m_old(GetThreadLocale()), m_ok(SetThreadLocale(MAKELCID(language, SORT_DEFAULT))) {}
  ~ThreadLocale() { SetThreadLocale(m_old); }
  ThreadLocale(const ThreadLocale&) = delete;
  ThreadLocale& operator=(const ThreadLocale&) = delete;
  bool ok() const { return m_ok; }

 private:
  LCID m_old;
  bool m_ok;
};

const LANGID kEnglishUs = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
const LANGID kChineseSimplified = MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED);

std::string Bytes(std::initializer_list<unsigned char> b) { return std::string(b.begin(), b.end()); }

TEST(CodePageCodec, WesternThreadLocaleGivesSingleBytesAndTheDefaultCharacter) {
  ThreadLocale locale(kEnglishUs);
  ASSERT_TRUE(locale.ok());
  const CodePageCodec codec;
  EXPECT_EQ(codec.Encode(L"caf\u00E9"), Bytes({'c', 'a', 'f', 0xE9}));
  EXPECT_EQ(codec.Decode(Bytes({'c', 'a', 'f', 0xE9})), L"caf\u00E9");
  // No mapping in code page 1252: each character becomes its default, '?'.
  EXPECT_EQ(codec.Encode(L"\u786E\u5B9A."), "??.");
}

TEST(CodePageCodec, ChineseThreadLocaleGivesGbkBytesWhateverTheProcessCodePage) {
  ThreadLocale locale(kChineseSimplified);
  ASSERT_TRUE(locale.ok());
  const CodePageCodec codec;
  const std::string gbk = Bytes({0xC8, 0xB7, 0xB6, 0xA8});
  EXPECT_EQ(codec.Encode(L"\u786E\u5B9A"), gbk);
  EXPECT_EQ(codec.Decode(gbk), L"\u786E\u5B9A");
  EXPECT_EQ(codec.Encode(L"net-\u786E"), "net-" + Bytes({0xC8, 0xB7}));
}

TEST(CodePageCodec, EmptyNulAndLongTextsConvertWhole) {
  ThreadLocale locale(kChineseSimplified);
  ASSERT_TRUE(locale.ok());
  const CodePageCodec codec;
  EXPECT_EQ(codec.Encode(L""), "");
  EXPECT_EQ(codec.Decode(""), L"");
  // Lengths are explicit: a zero inside the text is converted, not an end.
  EXPECT_EQ(codec.Encode(std::wstring(L"a\0b", 3)), std::string("a\0b", 3));
  EXPECT_EQ(codec.Decode(std::string("a\0b", 3)), std::wstring(L"a\0b", 3));

  std::wstring longText;
  for (int i = 0; i < 5000; ++i) longText += L"\u786E\u5B9A";
  const std::string encoded = codec.Encode(longText);
  EXPECT_EQ(encoded.size(), 20000u);
  EXPECT_EQ(codec.Decode(encoded), longText);
}

TEST(CodePageCodec, InvalidBytesDecodeToSomethingRatherThanNothing) {
  ThreadLocale locale(kChineseSimplified);
  ASSERT_TRUE(locale.ok());
  const CodePageCodec codec;
  // A lead byte without its trail byte at the end of the text.
  const std::wstring text = codec.Decode(Bytes({'o', 'k', 0xC8}));
  ASSERT_GE(text.size(), 3u);
  EXPECT_EQ(text.substr(0, 2), L"ok");
}

}  // namespace
}  // namespace nerova::link::win
