#include <gtest/gtest.h>

#include <chrono>

#include "sim/gbk_subset_codec.h"
#include "link/sleeping_pump.h"
#include "sim/pumps.h"
#include "sim/receiver_firmware.h"

namespace nerova::sim {
namespace {

using namespace std::chrono_literals;

TEST(GbkSubsetCodec, EncodesAndDecodesTheTable) {
  const GbkSubsetCodec codec;
  const std::wstring text = {
      static_cast<wchar_t>(0x786E), static_cast<wchar_t>(0x5B9A), L'-',
      static_cast<wchar_t>(0x53D6), static_cast<wchar_t>(0x6D88), static_cast<wchar_t>(0x4E2D),
      static_cast<wchar_t>(0x6587)};
  const std::string bytes = codec.Encode(text);
  EXPECT_EQ(bytes, "\xC8\xB7\xB6\xA8-\xC8\xA1\xCF\xFB\xD6\xD0\xCE\xC4");
  EXPECT_EQ(codec.Decode(bytes), text);
}

TEST(GbkSubsetCodec, UnknownCharactersAndBrokenPairsBecomeQuestionMarks) {
  const GbkSubsetCodec codec;
  std::wstring unmapped = L"a";
  unmapped += static_cast<wchar_t>(0x00E9);
  if (sizeof(wchar_t) == 2) {
    unmapped += static_cast<wchar_t>(0xD83D);  // one character in two units
    unmapped += static_cast<wchar_t>(0xDCF6);
  } else {
    unmapped += static_cast<wchar_t>(0x1F4F6);
  }
  EXPECT_EQ(codec.Encode(unmapped), "a??");

  EXPECT_EQ(codec.Decode("\xB0\xA1"), L"?");  // a real pair outside the table
  EXPECT_EQ(codec.Decode("ab\xC8"), L"ab?");  // lead byte at the end
  EXPECT_EQ(codec.Decode("\xC8"
                         "A"),
            L"?");  // 0x41 trails: an unknown pair
  EXPECT_EQ(codec.Decode("\xC8\x0A"
                         "z"),
            L"?\nz");  // a line feed cannot trail
  EXPECT_EQ(codec.Decode("\x80\xFF"), L"??");
}

TEST(FakePump, MovesTheClockAndRunsTheHandlerOnce) {
  ManualClock clock;
  FakePump pump(clock);
  int runs = 0;
  pump.DuringNextWait([&] {
    ++runs;
    EXPECT_EQ(clock.Now(), 0ms);  // inside the wait, before the time is up
  });
  pump.PumpWait(100);
  pump.PumpWait(0);
  pump.PumpWait(10);
  EXPECT_EQ(runs, 1);
  EXPECT_EQ(clock.Now(), 110ms);
  EXPECT_EQ(pump.Waits(), (std::vector<std::uint32_t>{100, 0, 10}));
}

TEST(SleepingPump, WaitsAtLeastTheTimeAskedFor) {
  link::SleepingPump pump;
  const auto start = std::chrono::steady_clock::now();
  pump.PumpWait(100);
  EXPECT_GE(std::chrono::steady_clock::now() - start, 100ms);
  pump.PumpWait(0);
}

TEST(ReceiverFirmware, WritesNeedTheirKeyAndAWellFormedValue) {
  ReceiverFirmware firmware;
  auto send = [&](std::uint8_t code, const std::string& text) {
    CommandBlock block{};
    block[0] = code;
    std::copy(text.begin(), text.end(), block.begin() + 1);
    firmware.Receive(block.data(), block.size());
  };
  send(0x06, "resolution=1280x720");
  send(0x06, "resolution=800x");
  send(0x0D, "longpresstime=abc");
  send(0x0D, "longpresstime=45");
  send(0x04, "name=x");
  send(0x0C, "agingtest=1");
  const ReceiverValues& v = firmware.Values();
  EXPECT_EQ(v.width, 1280);
  EXPECT_EQ(v.height, 720);
  EXPECT_EQ(v.longPressTime, 45);
  EXPECT_EQ(v.wifiName, "TAVI_5G_3F7A21");
  EXPECT_EQ(v.agingTest, 1);

  // The answer goes with the last command, whatever came before it.
  send(0x0C, "");
  const CommandBlock answer = firmware.Answer(0ms);
  EXPECT_EQ(answer[0], 0x0C);
  EXPECT_STREQ(reinterpret_cast<const char*>(answer.data() + 1), "agingtest=1");

  // A stored text too long for one block is answered cut at the block's end.
  ReceiverValues long_;
  long_.wifiPassword = std::string(60, 'p');
  firmware.SetValues(long_);
  send(0x05, "");
  const CommandBlock cut = firmware.Answer(0ms);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(cut.data() + 1), 59),
            "wifipassword=" + std::string(46, 'p'));
}

}  // namespace
}  // namespace nerova::sim
