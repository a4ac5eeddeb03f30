#pragma once
// Typed reads and writes of the receiver's settings over its 60-byte command
// block protocol. One object per settings window (or command), used from
// one thread only. Each read and write runs in a turn of the receiver
// (link/receiver_turn.h) and fails with its failure value, touching
// nothing, when the turn is not held.
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "link/message_pump.h"
#include "link/receiver_link.h"
#include "link/receiver_lock.h"
#include "link/receiver_turn.h"
#include "link/text_codec.h"

namespace nerova::link {

enum ReceiverCommand : std::uint8_t {
  CMD_SHORT_VERSION = 0x00,
  CMD_URL = 0x02,
  CMD_WIFI_NAME = 0x04,
  CMD_WIFI_PASSWORD = 0x05,
  CMD_RESOLUTION = 0x06,
  CMD_AGING_TEST = 0x0C,
  CMD_LONG_PRESS_TIME = 0x0D,
  CMD_REBOOT = 0x64,
  CMD_RSSI = 0x65,
  CMD_FIRMWARE_VERSION = 0x66,
};

constexpr std::size_t kBlockSize = 60;
// A written text must leave a zero byte after it in the 59-byte payload.
constexpr std::size_t kMaxTextBytes = 58;
// Failure values of the reads.
constexpr std::int32_t kRssiFailed = -10000;
constexpr std::int32_t kLongPressTimeFailed = 24;

class ReceiverSettings {
 public:
  // `locks` keep this program's exchanges with a receiver apart from other
  // programs'; a turn waits for them up to `turnWaitMs`.
  ReceiverSettings(ReceiverLink& link, MessagePump& pump, const TextCodec& codec,
                   ReceiverLocks& locks = FreeLocks(), std::uint32_t turnWaitMs = 0);
  ReceiverSettings(const ReceiverSettings&) = delete;
  ReceiverSettings& operator=(const ReceiverSettings&) = delete;

  std::wstring ReadShortVersion(const ReceiverTurn& turn);
  std::wstring ReadFirmwareVersion(const ReceiverTurn& turn);
  std::wstring ReadText(const ReceiverTurn& turn, std::uint8_t command);
  std::wstring ReadWifiName(const ReceiverTurn& turn);
  std::wstring ReadWifiPassword(const ReceiverTurn& turn);
  void ReadResolution(const ReceiverTurn& turn, std::int32_t& width, std::int32_t& height);
  std::int32_t ReadRssi(const ReceiverTurn& turn);
  bool ReadAgingTest(const ReceiverTurn& turn);
  std::int32_t ReadLongPressTime(const ReceiverTurn& turn);
  // The same, with nothing when the receiver gave no answer of the key's
  // form: such a value is not known and is not written back.
  std::optional<bool> ReadAgingTestAnswer(const ReceiverTurn& turn);
  std::optional<std::int32_t> ReadLongPressTimeAnswer(const ReceiverTurn& turn);
  // One GET_CUR of whatever block the receiver holds now, without asking
  // first (a diagnostic).
  LinkStatus ReadCurrentBlock(const ReceiverTurn& turn);

  // A text whose encoding does not fit the payload with its terminator is
  // refused: false, nothing sent.
  bool WriteUrl(const ReceiverTurn& turn, const std::wstring& url);
  bool WriteWifiName(const ReceiverTurn& turn, const std::wstring& name);
  bool WriteWifiPassword(const ReceiverTurn& turn, const std::wstring& password);
  bool WriteResolution(const ReceiverTurn& turn, std::int32_t width, std::int32_t height);
  bool WriteAgingTest(const ReceiverTurn& turn, bool enabled);
  bool WriteLongPressTime(const ReceiverTurn& turn, std::int32_t value);
  LinkStatus RequestReboot(const ReceiverTurn& turn);

  // How many bytes `text` takes on the wire (for the window's checks before
  // it writes anything).
  std::size_t EncodedLength(const std::wstring& text) const;
  // Whether `text` comes back unchanged from the wire's code page: a
  // character without a mapping would reach the receiver as "?" or as a
  // look-alike.
  bool SurvivesEncoding(const std::wstring& text) const;
  // The code page of the wire.
  const TextCodec& Codec() const { return m_codec; }
  // True while an exchange is under way (a read waits for its answer); an
  // exchange asked for meanwhile fails at once with its failure value.
  bool IsBusy() const { return m_bBusy; }
  // Drops the cached receiver (the window's teardown, before COM goes).
  void ReleaseDevice() {
    m_pDevice.reset();
    m_deviceKey.clear();
  }
  VideoDevice* Device() const { return m_pDevice.get(); }
  // How many reads so far got no answer at all (a transfer failed, the
  // receiver was busy or kept by another program), as opposed to an answer
  // of the wrong form: a sequence of reads compares it before and after.
  unsigned UnansweredReads() const { return m_unansweredReads; }
  // Whether the latest read got an answer of its key's form: one that got
  // none, or another form, gave its failure value, not the receiver's.
  bool LastReadAnswered() const { return m_lastReadAnswered; }

  // Why the latest outermost turn, or one inside it, was refused (Held when
  // none was): the exchanges it was for failed for that, not for the
  // receiver.
  TurnOutcome LastRefusal() const { return m_lastRefusal; }
  bool HeldElsewhere() const { return m_lastRefusal == TurnOutcome::HeldElsewhere; }

 private:
  friend class ReceiverTurn;
  TurnOutcome TakeTurn(TurnWait wait);
  // Finds the receiver when none is kept and holds its lock.
  TurnOutcome HoldReceiver(TurnWait wait);
  TurnOutcome WaitForLock(TurnWait wait, std::unique_ptr<ReceiverLock>& lock);
  void EndTurn();
  // Whether an exchange may go out in `turn` now.
  bool MayExchange(const ReceiverTurn& turn) const;

  using AnswerGroups = std::array<std::wstring, 2>;

  // SET of the command alone, the answer delay, GET into m_block.
  bool ReadExchange(const ReceiverTurn& turn, std::uint8_t command);
  bool AskAndRead(const ReceiverTurn& turn, std::uint8_t command);
  // The answer's text: from offset 1 to the first zero byte or the block's end.
  std::string_view AnswerText() const;
  // Reads the command's key=value answer and takes the pattern's groups.
  bool MatchAnswer(const ReceiverTurn& turn, std::uint8_t command, std::size_t groups, AnswerGroups& values);
  bool WriteExchange(const ReceiverTurn& turn, std::uint8_t command, std::wstring_view text);

  ReceiverLink& m_link;
  MessagePump& m_pump;
  const TextCodec& m_codec;
  ReceiverLocks& m_locks;
  const std::uint32_t m_turnWaitMs;
  DeviceRef m_pDevice;
  // ReceiverKey of the kept receiver.
  std::wstring m_deviceKey;
  // The lock of the turn under way, the key it is for, and how deeply turns
  // nest in it.
  std::unique_ptr<ReceiverLock> m_lock;
  std::wstring m_lockKey;
  int m_turnDepth = 0;
  TurnOutcome m_lastRefusal = TurnOutcome::Held;
  std::array<std::uint8_t, kBlockSize> m_block{};
  bool m_bBusy = false;
  unsigned m_unansweredReads = 0;
  bool m_lastReadAnswered = false;
};

}  // namespace nerova::link
