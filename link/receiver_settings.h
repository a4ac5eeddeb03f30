#pragma once
// Typed reads and writes of the receiver's settings over its 60-byte command
// block protocol. One object per settings window, used from that window's
// thread only.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "link/message_pump.h"
#include "link/receiver_link.h"
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
  ReceiverSettings(ReceiverLink& link, MessagePump& pump, const TextCodec& codec);
  ReceiverSettings(const ReceiverSettings&) = delete;
  ReceiverSettings& operator=(const ReceiverSettings&) = delete;

  std::wstring ReadShortVersion();
  std::wstring ReadFirmwareVersion();
  std::wstring ReadText(std::uint8_t command);
  std::wstring ReadWifiName();
  std::wstring ReadWifiPassword();
  void ReadResolution(std::int32_t& width, std::int32_t& height);
  std::int32_t ReadRssi();
  bool ReadAgingTest();
  std::int32_t ReadLongPressTime();
  // The same, with nothing when the receiver gave no answer of the key's
  // form: such a value is not known and is not written back.
  std::optional<bool> ReadAgingTestAnswer();
  std::optional<std::int32_t> ReadLongPressTimeAnswer();

  // A text whose encoding does not fit the payload with its terminator is
  // refused: false, nothing sent.
  bool WriteUrl(const std::wstring& url);
  bool WriteWifiName(const std::wstring& name);
  bool WriteWifiPassword(const std::wstring& password);
  bool WriteResolution(std::int32_t width, std::int32_t height);
  bool WriteAgingTest(bool enabled);
  bool WriteLongPressTime(std::int32_t value);
  LinkStatus RequestReboot();

  // How many bytes `text` takes on the wire (for the window's checks before
  // it writes anything).
  std::size_t EncodedLength(const std::wstring& text) const;
  // Whether `text` comes back unchanged from the wire's code page: a
  // character without a mapping would reach the receiver as "?" or as a
  // look-alike.
  bool SurvivesEncoding(const std::wstring& text) const;
  // True while a read waits for its answer; an exchange asked for meanwhile
  // fails at once with its failure value.
  bool IsBusy() const { return m_bBusy; }
  // Drops the cached receiver (the window's teardown, before COM goes).
  void ReleaseDevice() { m_pDevice.reset(); }
  VideoDevice* Device() const { return m_pDevice.get(); }

 private:
  using AnswerGroups = std::array<std::wstring, 2>;

  // SET of the command alone, the answer delay, GET into m_block. The version
  // reads find the receiver by its probe unit first when none is cached.
  bool ReadExchange(std::uint8_t command, bool probeFirst);
  // The answer's text: from offset 1 to the first zero byte or the block's end.
  std::string_view AnswerText() const;
  // Reads the command's key=value answer and takes the pattern's groups.
  bool MatchAnswer(std::uint8_t command, std::size_t groups, AnswerGroups& values);
  bool WriteExchange(std::uint8_t command, std::wstring_view text);

  ReceiverLink& m_link;
  MessagePump& m_pump;
  const TextCodec& m_codec;
  DeviceRef m_pDevice;
  std::array<std::uint8_t, kBlockSize> m_block{};
  bool m_bBusy = false;
};

}  // namespace nerova::link
