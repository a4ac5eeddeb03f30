#include "sim/receiver_firmware.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <string_view>

namespace nerova::sim {
namespace {

constexpr std::size_t kPayloadSize = kCommandBlockSize - 1;
constexpr std::uint8_t kReboot = 0x64;

// A whole decimal number with an optional minus sign, nothing else.
bool ParseInt(std::string_view text, std::int32_t& value) {
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  return ec == std::errc() && ptr == end;
}

bool TakeValue(std::string_view text, std::string_view key, std::string_view& value) {
  if (text.substr(0, key.size()) != key) return false;
  value = text.substr(key.size());
  return true;
}

}  // namespace

bool ReceiverFirmware::Receive(const std::uint8_t* block, std::size_t length) {
  if (length == 0) return false;
  m_lastCommand = block[0];
  const char* payload = reinterpret_cast<const char*>(block + 1);
  const std::size_t room = std::min(length - 1, kPayloadSize);
  const std::string text(payload, std::find(payload, payload + room, '\0'));
  if (!text.empty()) Write(m_lastCommand, text);
  return m_lastCommand == kReboot;
}

void ReceiverFirmware::Write(std::uint8_t command, const std::string& text) {
  std::string_view value;
  std::int32_t number = 0;
  switch (command) {
    case 0x02:
      m_values.url = text;
      break;
    case 0x04:
      if (TakeValue(text, "wifiname=", value)) m_values.wifiName = std::string(value);
      break;
    case 0x05:
      if (TakeValue(text, "wifipassword=", value)) m_values.wifiPassword = std::string(value);
      break;
    case 0x06:
      if (TakeValue(text, "resolution=", value)) {
        const std::size_t x = value.find('x');
        std::int32_t width = 0;
        std::int32_t height = 0;
        if (x != std::string_view::npos && ParseInt(value.substr(0, x), width) &&
            ParseInt(value.substr(x + 1), height)) {
          m_values.width = width;
          m_values.height = height;
        }
      }
      break;
    case 0x0C:
      if (TakeValue(text, "agingtest=", value) && ParseInt(value, number))
        m_values.agingTest = number;
      break;
    case 0x0D:
      if (TakeValue(text, "longpresstime=", value) && ParseInt(value, number)) {
        m_values.longPressTime = number;
      }
      break;
    default:
      // Other codes take no text; the firmware ignores it.
      break;
  }
}

std::string ReceiverFirmware::AnswerPayload(std::uint8_t command,
                                            std::chrono::milliseconds now) const {
  switch (command) {
    case 0x00:
      return static_cast<char>(m_values.shortVersionNumber) + m_values.shortVersionText;
    case 0x02:
      return m_values.url;
    case 0x04:
      return "wifiname=" + m_values.wifiName;
    case 0x05:
      return "wifipassword=" + m_values.wifiPassword;
    case 0x06:
      return "resolution=" + std::to_string(m_values.width) + "x" + std::to_string(m_values.height);
    case 0x0C:
      return "agingtest=" + std::to_string(m_values.agingTest);
    case 0x0D:
      return "longpresstime=" + std::to_string(m_values.longPressTime);
    case 0x65: {
      const auto rssi = static_cast<std::uint32_t>(Rssi(now));
      std::string bytes(4, '\0');
      for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>(rssi >> (8 * i));
      return bytes;
    }
    case 0x66:
      return m_values.firmwareVersion;
    case 0x01:
    case 0x03:
    case 0x07:
    case 0x08:
    case 0x09:
    case 0x0A:
    case 0x0B:
    case 0x0E:
      return "reserved";
    default:
      return {};
  }
}

CommandBlock ReceiverFirmware::Answer(std::chrono::milliseconds now) const {
  std::string payload;
  if (const auto found = m_overrides.find(m_lastCommand); found != m_overrides.end()) {
    payload = found->second;
  } else {
    payload = AnswerPayload(m_lastCommand, now);
    if (m_lineEnd.count(m_lastCommand)) payload += "\r\n";
    if (m_unterminated.count(m_lastCommand) && payload.size() < kPayloadSize) {
      payload.append(kPayloadSize - payload.size(), ' ');
    }
  }
  CommandBlock block{};
  block[0] = m_lastCommand;
  std::memcpy(block.data() + 1, payload.data(), std::min(payload.size(), kPayloadSize));
  return block;
}

std::int32_t ReceiverFirmware::Rssi(std::chrono::milliseconds now) const {
  if (m_pinnedRssi) return *m_pinnedRssi;
  constexpr long long kHalfPeriodMs = 12000;
  constexpr long long kSpan = 36;
  const long long phase =
      (now.count() % (2 * kHalfPeriodMs) + 2 * kHalfPeriodMs) % (2 * kHalfPeriodMs);
  const long long down = phase < kHalfPeriodMs ? phase : 2 * kHalfPeriodMs - phase;
  return static_cast<std::int32_t>(-45 - kSpan * down / kHalfPeriodMs);
}

void ReceiverFirmware::SetAnswerLineEnd(std::uint8_t command, bool on) {
  if (on) {
    m_lineEnd.insert(command);
  } else {
    m_lineEnd.erase(command);
  }
}

void ReceiverFirmware::SetAnswerUnterminated(std::uint8_t command, bool on) {
  if (on) {
    m_unterminated.insert(command);
  } else {
    m_unterminated.erase(command);
  }
}

void ReceiverFirmware::OverrideAnswer(std::uint8_t command, std::string payload) {
  m_overrides[command] = std::move(payload);
}

void ReceiverFirmware::ClearAnswerFaults() {
  m_lineEnd.clear();
  m_unterminated.clear();
  m_overrides.clear();
}

}  // namespace nerova::sim
