// Run in a Wine prefix whose wineserver started under LC_ALL=zh_CN.UTF-8, so
// the process's ANSI code page is 936 (GBK), as on a Chinese Windows.
#include <gtest/gtest.h>

#include <windows.h>

#include "link/win/thread_acp_codec.h"

namespace nerova::link::win {
namespace {

std::string Bytes(std::initializer_list<unsigned char> b) { return std::string(b.begin(), b.end()); }

TEST(ChineseCodePage, ProcessRunsWithCodePage936) { EXPECT_EQ(GetACP(), 936u); }

TEST(ChineseCodePage, CodecEncodesAndDecodesGbk) {
  const ThreadAcpCodec codec;
  const std::string gbk = Bytes({0xC8, 0xB7, 0xB6, 0xA8});
  EXPECT_EQ(codec.Encode(L"\u786E\u5B9A"), gbk);
  EXPECT_EQ(codec.Decode(gbk), L"\u786E\u5B9A");
}

}  // namespace
}  // namespace nerova::link::win
