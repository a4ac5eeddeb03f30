#pragma once
// The command protocol of the simulated receiver: what it stores, how it
// takes a command block sent with SET_CUR and what it answers to GET_CUR.
// Pure state, no locking; the simulated stack serialises access.
#include <array>
#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>

namespace nerova::sim {

constexpr std::size_t kCommandBlockSize = 60;
using CommandBlock = std::array<std::uint8_t, kCommandBlockSize>;

// Camera addresses and their default stream URLs.
inline constexpr char kCameraAUrl[] = "rtsp://192.168.1.200/video1.sdp";  // RC300W
inline constexpr char kCameraBUrl[] = "rtsp://192.168.1.100/video0";      // RD700/RC60H5

// The stored settings, as bytes in the receiver's code page. The defaults
// are the receiver's factory state.
struct ReceiverValues {
  std::string url = kCameraAUrl;
  std::string wifiName = "TAVI_5G_3F7A21";
  std::string wifiPassword = "97531864";
  std::int32_t width = 1920;
  std::int32_t height = 1080;
  std::int32_t agingTest = 0;
  std::int32_t longPressTime = 30;
  std::string firmwareVersion = "2.4.7";
  std::uint8_t shortVersionNumber = 1;
  std::string shortVersionText = ".1";
};

class ReceiverFirmware {
 public:
  explicit ReceiverFirmware(ReceiverValues values = {}) : m_values(std::move(values)) {}

  // A command block as sent with SET_CUR (the control's bytes). A block with
  // text after the code writes the setting; a block with the code alone asks
  // for the answer that the next GET_CUR returns. True when the block asks
  // the receiver to restart.
  bool Receive(const std::uint8_t* block, std::size_t length);
  // The answer to the last command received, at time `now`.
  CommandBlock Answer(std::chrono::milliseconds now) const;
  std::uint8_t LastCommand() const { return m_lastCommand; }
  // Picks up where a receiver kept elsewhere left off (the virtual receiver
  // keeps its state between processes): the command the next GET answers.
  void SetLastCommand(std::uint8_t command) { m_lastCommand = command; }

  const ReceiverValues& Values() const { return m_values; }
  void SetValues(ReceiverValues values) { m_values = std::move(values); }

  // The signal strength wanders between -45 and -81 and back every 24 s
  // unless pinned to one value.
  std::int32_t Rssi(std::chrono::milliseconds now) const;
  void PinRssi(std::optional<std::int32_t> value) { m_pinnedRssi = value; }

  // Answer faults, per command code.
  void SetAnswerLineEnd(std::uint8_t command, bool on);  // text followed by "\r\n"
  void SetAnswerUnterminated(std::uint8_t command,
                             bool on);  // payload padded with spaces, no zero byte
  void OverrideAnswer(std::uint8_t command, std::string payload);  // exactly these payload bytes
  void ClearAnswerFaults();

 private:
  std::string AnswerPayload(std::uint8_t command, std::chrono::milliseconds now) const;
  void Write(std::uint8_t command, const std::string& text);

  ReceiverValues m_values;
  std::uint8_t m_lastCommand = 0;
  std::optional<std::int32_t> m_pinnedRssi;
  std::set<std::uint8_t> m_lineEnd;
  std::set<std::uint8_t> m_unterminated;
  std::map<std::uint8_t, std::string> m_overrides;
};

}  // namespace nerova::sim
