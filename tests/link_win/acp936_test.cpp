// Run in a Wine prefix whose wineserver started under LC_ALL=zh_CN.UTF-8, so
// the process's ANSI code page is 936 (GBK), as on a Chinese Windows.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <vector>

#include "link/receiver_link.h"
#include "link/receiver_settings.h"
#include "link/win/pump_wait.h"
#include "link/win/code_page_codec.h"
#include "sim/sim_stack.h"

namespace nerova::link::win {
namespace {

std::string Bytes(std::initializer_list<unsigned char> b) { return std::string(b.begin(), b.end()); }

TEST(ChineseCodePage, ProcessRunsWithCodePage936) { EXPECT_EQ(GetACP(), 936u); }

TEST(ChineseCodePage, CodecEncodesAndDecodesGbk) {
  const CodePageCodec codec;
  const std::string gbk = Bytes({0xC8, 0xB7, 0xB6, 0xA8});
  EXPECT_EQ(codec.Encode(L"\u786E\u5B9A"), gbk);
  EXPECT_EQ(codec.Decode(gbk), L"\u786E\u5B9A");
}

// The receiver substitute stores what arrives as bytes, so it shows exactly
// what went over the wire.
TEST(ChineseCodePage, WifiNameTravelsAsEveryGbkByteAndReadsBack) {
  sim::SimStack stack;
  sim::Device receiver = stack.AddReceiver();
  ReceiverLink link(stack);
  WindowsPump pump;
  const CodePageCodec codec;
  ReceiverSettings settings(link, pump, codec);

  ASSERT_TRUE(settings.WriteWifiName(ReceiverTurn(settings, TurnWait::Bounded), L"\u786E\u5B9A"));
  const auto sets = stack.DataTransfers();
  ASSERT_EQ(sets.size(), 1u);
  std::vector<std::uint8_t> block(60, 0);
  const std::string text = "wifiname=" + Bytes({0xC8, 0xB7, 0xB6, 0xA8});
  block[0] = CMD_WIFI_NAME;
  std::copy(text.begin(), text.end(), block.begin() + 1);
  EXPECT_EQ(sets[0].bytes, block);
  EXPECT_EQ(receiver.Values().wifiName, Bytes({0xC8, 0xB7, 0xB6, 0xA8}));

  EXPECT_EQ(settings.ReadWifiName(ReceiverTurn(settings, TurnWait::Bounded)), L"\u786E\u5B9A");

  // A character GBK lacks (Hangul) goes as the code page's default, '?'.
  ASSERT_TRUE(settings.WriteWifiName(ReceiverTurn(settings, TurnWait::Bounded), L"\u786E\uAC00"));
  EXPECT_EQ(receiver.Values().wifiName, Bytes({0xC8, 0xB7, '?'}));
}

}  // namespace
}  // namespace nerova::link::win
