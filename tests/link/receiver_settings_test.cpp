#include "link/receiver_settings.h"

#include <gtest/gtest.h>

#include <memory>

#include "link/utf8_codec.h"
#include "sim/gbk_subset_codec.h"
#include "sim/pumps.h"
#include "sim/sim_stack.h"

namespace nerova::link {
namespace {

using namespace std::chrono_literals;
using sim::TransferKind;
using sim::TransferRecord;

std::vector<std::uint8_t> Block(std::uint8_t code, const std::string& text = {}) {
  std::vector<std::uint8_t> block(60, 0);
  block[0] = code;
  std::copy(text.begin(), text.end(), block.begin() + 1);
  return block;
}

class Settings : public ::testing::Test {
 protected:
  std::shared_ptr<sim::ManualClock> clock = std::make_shared<sim::ManualClock>();
  sim::SimStack stack{clock};
  sim::Device receiver = stack.AddReceiver();
  ReceiverLink link{stack};
  sim::FakePump pump{*clock};
  Utf8Codec utf8;
  std::unique_ptr<ReceiverSettings> settings = std::make_unique<ReceiverSettings>(link, pump, utf8);

  std::vector<TransferRecord> Wire() const { return stack.DataTransfers(); }
  // A turn of the receiver for one read or write.
  ReceiverTurn Turn() { return ReceiverTurn(*settings, TurnWait::Bounded); }
};

TEST_F(Settings, ReadsTheFactorySettings) {
  receiver.PinRssi(-63);
  EXPECT_EQ(settings->ReadShortVersion(Turn()), L"V1.1");
  EXPECT_EQ(settings->ReadFirmwareVersion(Turn()), L"V2.4.7");
  EXPECT_EQ(settings->ReadText(Turn(), CMD_URL), L"rtsp://192.168.1.200/video1.sdp");
  EXPECT_EQ(settings->ReadWifiName(Turn()), L"TAVI_5G_3F7A21");
  EXPECT_EQ(settings->ReadWifiPassword(Turn()), L"97531864");
  std::int32_t width = -1, height = -1;
  settings->ReadResolution(Turn(), width, height);
  EXPECT_EQ(width, 1920);
  EXPECT_EQ(height, 1080);
  EXPECT_FALSE(settings->ReadAgingTest(Turn()));
  EXPECT_EQ(settings->ReadLongPressTime(Turn()), 30);
  EXPECT_EQ(settings->ReadRssi(Turn()), -63);
}

TEST_F(Settings, AReadIsASetOfTheBareCodeAndAGetAtLeast100msLater) {
  settings->ReadText(Turn(), CMD_WIFI_NAME);
  settings->ReadRssi(Turn());
  const auto wire = Wire();
  ASSERT_EQ(wire.size(), 4u);
  EXPECT_EQ(wire[0].kind, TransferKind::Set);
  EXPECT_EQ(wire[0].bytes, Block(CMD_WIFI_NAME));
  EXPECT_EQ(wire[1].kind, TransferKind::Get);
  EXPECT_GE(wire[1].time - wire[0].time, 100ms);
  EXPECT_EQ(wire[2].bytes, Block(CMD_RSSI));
  EXPECT_EQ(wire[3].kind, TransferKind::Get);
  EXPECT_GE(wire[3].time - wire[2].time, 100ms);
  EXPECT_EQ(pump.Waits(), (std::vector<std::uint32_t>{100, 100}));
}

TEST_F(Settings, ARefusedSetStillWaitsAndSkipsTheGet) {
  receiver.RefuseSets(CMD_RSSI);
  EXPECT_EQ(settings->ReadRssi(Turn()), kRssiFailed);
  EXPECT_EQ(pump.Waits(), std::vector<std::uint32_t>{100});
  for (const TransferRecord& r : Wire()) EXPECT_EQ(r.kind, TransferKind::Set);

  receiver.ClearFaults();
  receiver.RefuseGets(CMD_RSSI);
  EXPECT_EQ(settings->ReadRssi(Turn()), kRssiFailed);
  receiver.RefuseNextGets(2);
  EXPECT_EQ(settings->ReadText(Turn(), CMD_URL), L"");
  EXPECT_EQ(settings->ReadShortVersion(Turn()), L"");
  EXPECT_EQ(settings->ReadShortVersion(Turn()), L"V1.1");
  receiver.RefuseNextSets(1);
  EXPECT_EQ(settings->ReadFirmwareVersion(Turn()), L"");
}

TEST_F(Settings, FailedReadsGiveTheirFailureValues) {
  receiver.Unplug();
  EXPECT_EQ(settings->ReadShortVersion(Turn()), L"");
  EXPECT_EQ(settings->ReadFirmwareVersion(Turn()), L"");
  EXPECT_EQ(settings->ReadText(Turn(), CMD_URL), L"");
  EXPECT_EQ(settings->ReadWifiName(Turn()), L"");
  EXPECT_EQ(settings->ReadWifiPassword(Turn()), L"");
  std::int32_t width = 5, height = 5;
  settings->ReadResolution(Turn(), width, height);
  EXPECT_EQ(width, 0);
  EXPECT_EQ(height, 0);
  EXPECT_FALSE(settings->ReadAgingTest(Turn()));
  EXPECT_EQ(settings->ReadLongPressTime(Turn()), kLongPressTimeFailed);
  EXPECT_EQ(settings->ReadRssi(Turn()), kRssiFailed);
  EXPECT_FALSE(settings->WriteUrl(Turn(), L"rtsp://x"));
  EXPECT_FALSE(settings->RequestReboot(Turn()).Ok());
  EXPECT_TRUE(Wire().empty());
}

TEST_F(Settings, ShortVersionAndRssiAnswers) {
  receiver.OverrideAnswer(CMD_SHORT_VERSION, std::string("\x01", 1));
  EXPECT_EQ(settings->ReadShortVersion(Turn()), L"V1");
  // Whatever the number, a successful exchange gives a non-empty result.
  receiver.OverrideAnswer(CMD_SHORT_VERSION, std::string("\xD0", 1));
  EXPECT_EQ(settings->ReadShortVersion(Turn()), L"V");
  receiver.OverrideAnswer(CMD_SHORT_VERSION, "");
  EXPECT_EQ(settings->ReadShortVersion(Turn()), L"V0");

  receiver.OverrideAnswer(CMD_RSSI, "\xC4\xFF\xFF\xFF");
  EXPECT_EQ(settings->ReadRssi(Turn()), -60);
  receiver.OverrideAnswer(CMD_RSSI, std::string("\x03\x01\x00\x00", 4));
  EXPECT_EQ(settings->ReadRssi(Turn()), 259);
  receiver.OverrideAnswer(CMD_RSSI, std::string("\x00\x00\x00\x80", 4));
  EXPECT_EQ(settings->ReadRssi(Turn()), std::numeric_limits<std::int32_t>::min());
}

TEST_F(Settings, PatternReadsMatchTheWholeAnswer) {
  std::int32_t width = 0, height = 0;
  receiver.OverrideAnswer(CMD_RESOLUTION, "resolution=1280x720");
  settings->ReadResolution(Turn(), width, height);
  EXPECT_EQ(width, 1280);
  EXPECT_EQ(height, 720);
  for (const char* bad : {"resolution=1920X1080", "resolution=1920x1080\r\n", "resolution=1920x",
                          " resolution=1920x1080"}) {
    receiver.OverrideAnswer(CMD_RESOLUTION, bad);
    settings->ReadResolution(Turn(), width, height);
    EXPECT_EQ(width, 0) << bad;
    EXPECT_EQ(height, 0) << bad;
  }

  receiver.OverrideAnswer(CMD_WIFI_NAME, "wifiname=");
  EXPECT_EQ(settings->ReadWifiName(Turn()), L"");
  receiver.OverrideAnswer(CMD_WIFI_NAME, "xwifiname=abc");
  EXPECT_EQ(settings->ReadWifiName(Turn()), L"");
  receiver.OverrideAnswer(CMD_WIFI_NAME, "wifiname=a=b c");
  EXPECT_EQ(settings->ReadWifiName(Turn()), L"a=b c");
  receiver.OverrideAnswer(CMD_WIFI_NAME, "wifiname=abc\n");
  EXPECT_EQ(settings->ReadWifiName(Turn()), L"");
  receiver.OverrideAnswer(CMD_WIFI_PASSWORD, "wifipassword=p\rq");
  EXPECT_EQ(settings->ReadWifiPassword(Turn()), L"");
  receiver.OverrideAnswer(CMD_WIFI_PASSWORD, "wifipassword=s3cret!");
  EXPECT_EQ(settings->ReadWifiPassword(Turn()), L"s3cret!");
}

TEST_F(Settings, NumberAnswersConvertLikeTheRuntime) {
  receiver.OverrideAnswer(CMD_LONG_PRESS_TIME, "longpresstime=35");
  EXPECT_EQ(settings->ReadLongPressTime(Turn()), 35);
  receiver.OverrideAnswer(CMD_LONG_PRESS_TIME, "longpresstime");
  EXPECT_EQ(settings->ReadLongPressTime(Turn()), kLongPressTimeFailed);
  receiver.OverrideAnswer(CMD_LONG_PRESS_TIME, "longpresstime=");
  EXPECT_EQ(settings->ReadLongPressTime(Turn()), 0);
  receiver.OverrideAnswer(CMD_LONG_PRESS_TIME, "longpresstime= -12s");
  EXPECT_EQ(settings->ReadLongPressTime(Turn()), -12);

  const std::pair<const char*, bool> aging[] = {{"agingtest=0", false}, {"agingtest=1", true},
                                                {"agingtest=-1", true}, {"agingtest=yes", false},
                                                {"agingtest", false},   {"agingtest=1\r\n", false}};
  for (const auto& [answer, expected] : aging) {
    receiver.OverrideAnswer(CMD_AGING_TEST, answer);
    EXPECT_EQ(settings->ReadAgingTest(Turn()), expected) << answer;
  }
}

TEST_F(Settings, LineEndsFromTheReceiverSpoilTheKeyedReadsOnly) {
  receiver.SetAnswerLineEnd(CMD_WIFI_NAME, true);
  receiver.SetAnswerLineEnd(CMD_URL, true);
  EXPECT_EQ(settings->ReadWifiName(Turn()), L"");
  EXPECT_EQ(settings->ReadText(Turn(), CMD_URL), L"rtsp://192.168.1.200/video1.sdp\r\n");
}

TEST_F(Settings, AnAnswerWithoutZeroByteEndsWithTheBlock) {
  const std::string full(59, 'u');
  receiver.OverrideAnswer(CMD_URL, full);
  EXPECT_EQ(settings->ReadText(Turn(), CMD_URL), std::wstring(59, L'u'));
  receiver.SetAnswerUnterminated(CMD_WIFI_NAME, true);
  const std::wstring name = settings->ReadWifiName(Turn());
  EXPECT_EQ(name, L"TAVI_5G_3F7A21" + std::wstring(59 - 9 - 14, L' '));
}

TEST_F(Settings, WritesSendTheTextAndAZeroTail) {
  EXPECT_TRUE(settings->WriteResolution(Turn(), 1280, 720));
  EXPECT_TRUE(settings->WriteAgingTest(Turn(), true));
  EXPECT_TRUE(settings->WriteAgingTest(Turn(), false));
  EXPECT_TRUE(settings->WriteLongPressTime(Turn(), -5));
  EXPECT_TRUE(settings->WriteUrl(Turn(), L"rtsp://192.168.1.100/video0"));
  EXPECT_TRUE(settings->WriteWifiName(Turn(), L"Cam"));
  EXPECT_TRUE(settings->WriteWifiPassword(Turn(), L"pw"));
  const auto wire = Wire();
  ASSERT_EQ(wire.size(), 7u);
  EXPECT_EQ(wire[0].bytes, Block(0x06, "resolution=1280x720"));
  EXPECT_EQ(wire[1].bytes, Block(0x0C, "agingtest=1"));
  EXPECT_EQ(wire[2].bytes, Block(0x0C, "agingtest=0"));
  EXPECT_EQ(wire[3].bytes, Block(0x0D, "longpresstime=-5"));
  EXPECT_EQ(wire[4].bytes, Block(0x02, "rtsp://192.168.1.100/video0"));
  EXPECT_EQ(wire[5].bytes, Block(0x04, "wifiname=Cam"));
  EXPECT_EQ(wire[6].bytes, Block(0x05, "wifipassword=pw"));
  for (const TransferRecord& r : wire) EXPECT_EQ(r.kind, TransferKind::Set);
  EXPECT_TRUE(pump.Waits().empty());

  const sim::ReceiverValues stored = receiver.Values();
  EXPECT_EQ(stored.width, 1280);
  EXPECT_EQ(stored.height, 720);
  EXPECT_EQ(stored.url, "rtsp://192.168.1.100/video0");
  EXPECT_EQ(stored.wifiName, "Cam");
  EXPECT_EQ(stored.wifiPassword, "pw");
  EXPECT_EQ(stored.longPressTime, -5);
  EXPECT_EQ(stored.agingTest, 0);
}

TEST_F(Settings, ARefusedWriteIsFalse) {
  receiver.RefuseSets(CMD_WIFI_NAME);
  EXPECT_FALSE(settings->WriteWifiName(Turn(), L"x"));
  EXPECT_TRUE(settings->WriteWifiPassword(Turn(), L"x"));
  EXPECT_EQ(receiver.Values().wifiName, "TAVI_5G_3F7A21");
}

TEST_F(Settings, TextsThatDoNotFitWithTheirZeroByteAreRefusedUnsent) {
  // 58 bytes leave the zero byte at offset 59; 59 would leave none.
  EXPECT_TRUE(settings->WriteWifiPassword(Turn(), std::wstring(45, L'p')));
  ASSERT_EQ(Wire().size(), 1u);
  EXPECT_EQ(Wire()[0].bytes, Block(0x05, "wifipassword=" + std::string(45, 'p')));
  EXPECT_EQ(Wire()[0].bytes[59], 0);
  stack.ClearTransfers();

  EXPECT_FALSE(settings->WriteWifiPassword(Turn(), std::wstring(46, L'p')));
  EXPECT_FALSE(settings->WriteUrl(Turn(), std::wstring(59, L'u')));
  EXPECT_FALSE(settings->WriteWifiName(Turn(), std::wstring(200, L'n')));
  // 25 characters, 50 bytes in UTF-8 behind the key: too long on the wire.
  EXPECT_FALSE(settings->WriteWifiName(Turn(), std::wstring(25, static_cast<wchar_t>(0x00E9))));
  EXPECT_TRUE(Wire().empty());
  EXPECT_EQ(receiver.Values().wifiPassword, std::string(45, 'p'));

  EXPECT_TRUE(settings->WriteUrl(Turn(), std::wstring(58, L'u')));
  EXPECT_EQ(settings->EncodedLength(std::wstring(58, L'u')), 58u);
  EXPECT_EQ(settings->EncodedLength(L"wifiname=" + std::wstring(3, static_cast<wchar_t>(0x5BA2))),
            18u);
}

TEST_F(Settings, MultiByteNamesTravelWithEveryByte) {
  sim::GbkSubsetCodec gbk;
  ReceiverSettings chinese(link, pump, gbk);
  const std::wstring name = {static_cast<wchar_t>(0x5BA2),
                             static_cast<wchar_t>(0x5385),
                             static_cast<wchar_t>(0x7F51),
                             static_cast<wchar_t>(0x7EDC),
                             L'5',
                             L'G'};
  ASSERT_TRUE(chinese.WriteWifiName(ReceiverTurn(chinese, TurnWait::Bounded), name));
  EXPECT_EQ(Wire().back().bytes, Block(0x04,
                                       "wifiname=\xBF\xCD\xCC\xFC\xCD\xF8\xC2\xE7"
                                       "5G"));
  EXPECT_EQ(receiver.Values().wifiName,
            "\xBF\xCD\xCC\xFC\xCD\xF8\xC2\xE7"
            "5G");
  EXPECT_EQ(chinese.ReadWifiName(ReceiverTurn(chinese, TurnWait::Bounded)), name);

  ASSERT_TRUE(settings->WriteWifiName(Turn(), name));
  EXPECT_EQ(receiver.Values().wifiName,
            "\xE5\xAE\xA2\xE5\x8E\x85\xE7\xBD\x91\xE7\xBB\x9C"
            "5G");
  EXPECT_EQ(settings->ReadWifiName(Turn()), name);

  // Characters the code page lacks go as its default character.
  ASSERT_TRUE(chinese.WriteWifiName(ReceiverTurn(chinese, TurnWait::Bounded), L"\u00E9t\u00E9"));
  EXPECT_EQ(receiver.Values().wifiName, "?t?");
}

TEST_F(Settings, ATurnFindsTheReceiverByItsProbeUnitAndKeepsIt) {
  // Every read runs on a found receiver, whose turn it holds.
  EXPECT_EQ(settings->ReadText(Turn(), CMD_URL), L"rtsp://192.168.1.200/video1.sdp");
  ASSERT_NE(settings->Device(), nullptr);
  EXPECT_EQ(stack.OpenDevices(), 1);
  ASSERT_EQ(settings->ReadShortVersion(Turn()), L"V1.1");
  EXPECT_EQ(stack.OpenDevices(), 1);
  // With the filter kept, exchanges no longer need the name.
  receiver.SetDisplayNameResult(sim::kGenFailure);
  EXPECT_EQ(settings->ReadText(Turn(), CMD_URL), L"rtsp://192.168.1.200/video1.sdp");
  EXPECT_EQ(settings->ReadFirmwareVersion(Turn()), L"V2.4.7");
  EXPECT_EQ(stack.OpenDevices(), 1);

  settings.reset();
  EXPECT_EQ(stack.OpenDevices(), 0);
}

TEST_F(Settings, AFailedProbeMakesNoExchange) {
  stack.SetEnumerateResult(sim::kClassNotRegistered);
  EXPECT_EQ(settings->ReadShortVersion(Turn()), L"");
  EXPECT_EQ(settings->Device(), nullptr);
  EXPECT_TRUE(stack.Transfers().empty());
  EXPECT_TRUE(pump.Waits().empty());
}

TEST_F(Settings, RebootDropsTheReceiverAndTheNextVersionReadProbesAgain) {
  ASSERT_EQ(settings->ReadShortVersion(Turn()), L"V1.1");
  ASSERT_TRUE(settings->WriteWifiName(Turn(), L"Garage"));
  EXPECT_TRUE(settings->RequestReboot(Turn()).Ok());
  EXPECT_EQ(Wire().back().bytes, Block(CMD_REBOOT));
  EXPECT_EQ(settings->Device(), nullptr);
  EXPECT_EQ(stack.OpenDevices(), 0);

  // Restarting: not there.
  EXPECT_EQ(settings->ReadShortVersion(Turn()), L"");
  stack.ClearTransfers();
  clock->Advance(6s);
  ASSERT_EQ(settings->ReadShortVersion(Turn()), L"V1.1");
  EXPECT_NE(settings->Device(), nullptr);
  // It was found by asking the nodes for the probe unit.
  const auto log = stack.Transfers();
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.front().kind, TransferKind::UnitInfo);
  EXPECT_EQ(log.front().set, ProbeUnitGuid);
  EXPECT_EQ(settings->ReadWifiName(Turn()), L"Garage");
}

TEST_F(Settings, ARefusedRebootKeepsNoReceiver) {
  ASSERT_EQ(settings->ReadShortVersion(Turn()), L"V1.1");
  receiver.RefuseSets(CMD_REBOOT, sim::kGenFailure);
  EXPECT_EQ(settings->RequestReboot(Turn()), sim::kGenFailure);
  // It may restart all the same: the next version read finds it afresh.
  EXPECT_EQ(settings->Device(), nullptr);
  EXPECT_TRUE(receiver.IsPresent());
}

TEST_F(Settings, AKeptFilterStaysEvenWhenTheReceiverComesBack) {
  ASSERT_EQ(settings->ReadShortVersion(Turn()), L"V1.1");
  receiver.Unplug();
  receiver.Replug();
  // The old filter belongs to the device that went away.
  EXPECT_EQ(settings->ReadShortVersion(Turn()), L"");
  EXPECT_EQ(settings->ReadRssi(Turn()), kRssiFailed);
  settings->ReleaseDevice();
  EXPECT_EQ(settings->ReadShortVersion(Turn()), L"V1.1");
}

TEST_F(Settings, AnExchangeStartedDuringAWaitIsRefusedWithoutTouchingTheWire) {
  receiver.PinRssi(-48);
  ASSERT_EQ(settings->ReadShortVersion(Turn()), L"V1.1");
  stack.ClearTransfers();
  bool ran = false;
  pump.DuringNextWait([&] {
    ran = true;
    EXPECT_TRUE(settings->IsBusy());
    EXPECT_EQ(settings->ReadText(Turn(), CMD_URL), L"");
    EXPECT_EQ(settings->ReadShortVersion(Turn()), L"");
    EXPECT_EQ(settings->ReadFirmwareVersion(Turn()), L"");
    EXPECT_EQ(settings->ReadWifiName(Turn()), L"");
    std::int32_t width = 1, height = 1;
    settings->ReadResolution(Turn(), width, height);
    EXPECT_EQ(width, 0);
    EXPECT_EQ(settings->ReadLongPressTime(Turn()), kLongPressTimeFailed);
    EXPECT_EQ(settings->ReadRssi(Turn()), kRssiFailed);
    EXPECT_FALSE(settings->WriteUrl(Turn(), L"rtsp://inner"));
    EXPECT_FALSE(settings->WriteAgingTest(Turn(), true));
    EXPECT_EQ(settings->RequestReboot(Turn()).kind, StatusKind::Busy);
  });
  EXPECT_EQ(settings->ReadRssi(Turn()), -48);
  EXPECT_TRUE(ran);
  EXPECT_FALSE(settings->IsBusy());
  const auto wire = Wire();
  ASSERT_EQ(wire.size(), 2u);
  EXPECT_EQ(wire[0].bytes, Block(CMD_RSSI));
  EXPECT_EQ(wire[1].kind, TransferKind::Get);
  EXPECT_EQ(pump.Waits().size(), 2u);  // none of the inner calls waited
  EXPECT_NE(settings->Device(), nullptr);
  EXPECT_EQ(receiver.Values().url, "rtsp://192.168.1.200/video1.sdp");
}

TEST_F(Settings, ControlLengthsOtherThan60) {
  receiver.SetControlLength(64);
  EXPECT_EQ(settings->ReadText(Turn(), CMD_URL), L"");
  // A shorter control answers fewer bytes; the rest of the block stays zero.
  receiver.SetControlLength(32);
  EXPECT_EQ(settings->ReadText(Turn(), CMD_URL), L"rtsp://192.168.1.200/video1.sdp");
  receiver.PinRssi(-70);
  EXPECT_EQ(settings->ReadRssi(Turn()), -70);
  EXPECT_EQ(Wire().back().bytes.size(), 32u);
}

TEST_F(Settings, TheFirstListedReceiverAnswers) {
  sim::DeviceDescription second = sim::ReceiverDescription(1);
  second.values.url = "rtsp://192.168.1.100/video0";
  stack.AddDevice(second);
  EXPECT_EQ(settings->ReadText(Turn(), CMD_URL), L"rtsp://192.168.1.200/video1.sdp");
  EXPECT_EQ(settings->ReadShortVersion(Turn()), L"V1.1");
  receiver.Unplug();
  // The kept filter is the first receiver's.
  EXPECT_EQ(settings->ReadText(Turn(), CMD_URL), L"");
}

TEST_F(Settings, TheUnusedCodesAnswerText) {
  for (std::uint8_t code = 1; code <= 14; ++code) {
    const std::wstring text = settings->ReadText(Turn(), code);
    if (code == 1 || code == 3 || (code >= 7 && code <= 11) || code == 14) {
      EXPECT_FALSE(text.empty()) << int(code);
    }
  }
  EXPECT_EQ(Wire().size(), 28u);
}

// Locks as another program sees them: which receivers were locked, and
// whether somebody else has one now.
class WatchedLocks final : public ReceiverLocks {
 public:
  LinkStatus Open(const std::wstring& key, std::unique_ptr<ReceiverLock>& out) override {
    opened.push_back(key);
    out = std::make_unique<Lock>(*this);
    return LinkStatus::Success();
  }
  std::vector<std::wstring> opened;
  bool heldElsewhere = false;
  int held = 0;

 private:
  class Lock final : public ReceiverLock {
   public:
    explicit Lock(WatchedLocks& locks) : m_locks(locks) {}
    ~Lock() override { Release(); }
    LinkStatus TryTake(bool& taken) override {
      taken = !m_locks.heldElsewhere;
      if (taken && !m_taken) ++m_locks.held;
      m_taken = m_taken || taken;
      return LinkStatus::Success();
    }
    void Release() override {
      if (m_taken) --m_locks.held;
      m_taken = false;
    }

   private:
    WatchedLocks& m_locks;
    bool m_taken = false;
  };
};

TEST_F(Settings, EveryExchangeHoldsTheReceiversLockAndATurnWaitsOnce) {
  WatchedLocks locks;
  ReceiverSettings locked(link, pump, utf8, locks, 6000);
  receiver.PinRssi(-48);
  // A reading that failed drops the kept receiver; the next read finds it
  // again and locks it before anything reaches the wire.
  {
    const ReceiverTurn turn(locked, TurnWait::Bounded);
    ASSERT_TRUE(turn.Held());
    EXPECT_EQ(locks.held, 1);
    EXPECT_EQ(locked.ReadRssi(turn), -48);
  }
  EXPECT_EQ(locks.held, 0);
  locked.ReleaseDevice();
  pump.DuringNextWait([&] { EXPECT_EQ(locks.held, 1) << "a read between SET and GET without the lock"; });
  EXPECT_EQ(locked.ReadWifiPassword(ReceiverTurn(locked, TurnWait::Bounded)), L"97531864");
  ASSERT_EQ(locks.opened.size(), 2u);
  EXPECT_EQ(locks.opened[1], locks.opened[0]);
  EXPECT_EQ(locks.opened[0].rfind(L"usb#vid_1d6b&pid_010c", 0), 0u) << std::string(locks.opened[0].begin(), locks.opened[0].end());

  // Held elsewhere: the outermost turn waits its 6 s once; turns inside a
  // refused one are not taken, and nothing reaches the wire.
  locks.heldElsewhere = true;
  stack.ClearTransfers();
  const auto waitsBefore = pump.Waits().size();
  {
    const ReceiverTurn turn(locked, TurnWait::Bounded);
    EXPECT_EQ(turn.Outcome(), TurnOutcome::HeldElsewhere);
    EXPECT_EQ(locked.ReadText(turn, CMD_URL), L"");
    EXPECT_FALSE(locked.WriteUrl(turn, L"rtsp://x"));
  }
  std::uint32_t waited = 0;
  for (auto i = waitsBefore; i < pump.Waits().size(); ++i) waited += pump.Waits()[i];
  EXPECT_GE(waited, 6000u);
  EXPECT_LT(waited, 6100u);
  EXPECT_TRUE(Wire().empty());
  // No receiver at all: no turn, no lock, no exchange.
  locks.heldElsewhere = false;
  locked.ReleaseDevice();
  receiver.Unplug();
  const ReceiverTurn none(locked, TurnWait::Bounded);
  EXPECT_EQ(none.Outcome(), TurnOutcome::NoReceiver);
  EXPECT_EQ(locks.held, 0);
}

}  // namespace
}  // namespace nerova::link
