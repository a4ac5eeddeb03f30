#include "link/receiver_settings.h"

#include <algorithm>
#include <cstring>
#include <regex>
#include <string_view>

#include "link/wide_number.h"

namespace nerova::link {
namespace {

// The pause between a read's request and its answer, in which the receiver
// prepares the answer block.
constexpr std::uint32_t kAnswerDelayMs = 100;
constexpr std::size_t kPayloadSize = kBlockSize - 1;
// How often a turn that waits looks whether the other program is done.
constexpr std::uint32_t kTurnRetryMs = 20;

// Marks the object busy for one exchange. Exchanges asked for meanwhile (from
// a handler that runs inside PumpWait) are refused before they touch the block.
class BusyScope {
 public:
  explicit BusyScope(bool& busy) : m_busy(busy) { m_busy = true; }
  ~BusyScope() { m_busy = false; }
  BusyScope(const BusyScope&) = delete;
  BusyScope& operator=(const BusyScope&) = delete;

 private:
  bool& m_busy;
};

// The answer patterns of the key=value reads, matched against the whole
// answer; `.` stops at a carriage return or line feed, so an answer with a
// line end does not match.
const std::regex* PatternFor(std::uint8_t command) {
  static const std::regex wifiName("wifiname=(.*?)", std::regex::ECMAScript);
  static const std::regex wifiPassword("wifipassword=(.*?)", std::regex::ECMAScript);
  static const std::regex resolution("resolution=(\\d+)x(\\d+)", std::regex::ECMAScript);
  static const std::regex agingTest("agingtest=(.*?)", std::regex::ECMAScript);
  static const std::regex longPressTime("longpresstime=(.*?)", std::regex::ECMAScript);
  switch (command) {
    case CMD_WIFI_NAME:
      return &wifiName;
    case CMD_WIFI_PASSWORD:
      return &wifiPassword;
    case CMD_RESOLUTION:
      return &resolution;
    case CMD_AGING_TEST:
      return &agingTest;
    case CMD_LONG_PRESS_TIME:
      return &longPressTime;
    default:
      return nullptr;
  }
}

// %s stops at the first null character.
std::wstring_view UpToNull(const std::wstring& text) {
  return std::wstring_view(text.data(), std::min(text.size(), text.find(L'\0')));
}

}  // namespace

ReceiverSettings::ReceiverSettings(ReceiverLink& link, MessagePump& pump, const TextCodec& codec,
                                   ReceiverLocks& locks, std::uint32_t turnWaitMs)
    : m_link(link), m_pump(pump), m_codec(codec), m_locks(locks), m_turnWaitMs(turnWaitMs) {}

TurnOutcome ReceiverSettings::TakeTurn(TurnWait wait) {
  const bool outermost = m_turnDepth == 0;
  if (outermost) {
    m_lastRefusal = TurnOutcome::Held;
  } else {
    // The outermost turn has waited already, for everything inside it.
    wait = TurnWait::None;
  }
  const TurnOutcome outcome = HoldReceiver(wait);
  if (outcome != TurnOutcome::Held) {
    if (outermost) m_lock.reset();
    m_lastRefusal = outcome;
    return outcome;
  }
  ++m_turnDepth;
  return TurnOutcome::Held;
}

TurnOutcome ReceiverSettings::HoldReceiver(TurnWait wait) {
  if (!m_pDevice) {
    DeviceRef found;
    std::wstring key;
    if (!m_link.FindReceiverByProbeUnit(found, key).Ok() || !found) return TurnOutcome::NoReceiver;
    m_pDevice = std::move(found);
    m_deviceKey = std::move(key);
  }
  if (m_lock && m_lockKey == m_deviceKey) return TurnOutcome::Held;
  // The outermost turn, or one inside it that found another receiver than
  // the one locked (the old one has gone meanwhile).
  std::unique_ptr<ReceiverLock> lock;
  const TurnOutcome outcome = WaitForLock(wait, lock);
  if (outcome != TurnOutcome::Held) return outcome;
  m_lock = std::move(lock);
  m_lockKey = m_deviceKey;
  return TurnOutcome::Held;
}

TurnOutcome ReceiverSettings::WaitForLock(TurnWait wait, std::unique_ptr<ReceiverLock>& lock) {
  if (!m_locks.Open(m_deviceKey, lock).Ok() || !lock) return TurnOutcome::Failed;
  // Counted in the pump's waits, each at least as long as asked for.
  for (std::uint32_t waited = 0;; waited += kTurnRetryMs) {
    bool taken = false;
    if (!lock->TryTake(taken).Ok()) return TurnOutcome::Failed;
    if (taken) return TurnOutcome::Held;
    if (wait == TurnWait::None || waited >= m_turnWaitMs) return TurnOutcome::HeldElsewhere;
    // A window that is closing, or replaced, waits no longer.
    if (m_link.StopRequested()) return TurnOutcome::Stopped;
    m_pump.PumpWait(kTurnRetryMs);
  }
}

void ReceiverSettings::EndTurn() {
  if (--m_turnDepth > 0) return;
  m_lock.reset();
  m_lockKey.clear();
}

bool ReceiverSettings::MayExchange(const ReceiverTurn& turn) const {
  return turn.Held() && turn.Of(*this) && m_turnDepth > 0 && m_pDevice && !m_bBusy;
}

bool ReceiverSettings::ReadExchange(const ReceiverTurn& turn, std::uint8_t command) {
  const bool answered = AskAndRead(turn, command);
  if (!answered) ++m_unansweredReads;
  m_lastReadAnswered = answered;
  return answered;
}

bool ReceiverSettings::AskAndRead(const ReceiverTurn& turn, std::uint8_t command) {
  if (!MayExchange(turn)) return false;
  BusyScope busy(m_bBusy);
  // Held for the exchange: a handler that runs in the pause may drop the
  // kept receiver.
  const DeviceRef device = m_pDevice;
  m_block.fill(0);
  m_block[0] = command;
  const LinkStatus set = m_link.SetCur(m_block.data(), kBlockSize, device);
  m_pump.PumpWait(kAnswerDelayMs);
  if (!set.Ok()) return false;
  return m_link.GetCur(m_block.data(), kBlockSize, device).Ok();
}

LinkStatus ReceiverSettings::ReadCurrentBlock(const ReceiverTurn& turn) {
  if (!MayExchange(turn)) return LinkStatus::Of(StatusKind::Busy);
  BusyScope busy(m_bBusy);
  return m_link.GetCur(m_block.data(), kBlockSize, m_pDevice);
}

std::string_view ReceiverSettings::AnswerText() const {
  // The text runs to the first zero byte; an answer that fills the whole
  // payload without one ends with the block.
  const char* payload = reinterpret_cast<const char*>(m_block.data() + 1);
  const auto end = std::find(payload, payload + kPayloadSize, '\0');
  return std::string_view(payload, static_cast<std::size_t>(end - payload));
}

std::wstring ReceiverSettings::ReadShortVersion(const ReceiverTurn& turn) {
  if (!ReadExchange(turn, CMD_SHORT_VERSION)) return {};
  // Offset 1 carries a small number; as a digit it starts the version text.
  m_block[1] = static_cast<std::uint8_t>(m_block[1] + 0x30);
  return L"V" + m_codec.Decode(AnswerText());
}

std::wstring ReceiverSettings::ReadFirmwareVersion(const ReceiverTurn& turn) {
  if (!ReadExchange(turn, CMD_FIRMWARE_VERSION)) return {};
  return L"V" + m_codec.Decode(AnswerText());
}

std::wstring ReceiverSettings::ReadText(const ReceiverTurn& turn, std::uint8_t command) {
  if (!ReadExchange(turn, command)) return {};
  return m_codec.Decode(AnswerText());
}

std::int32_t ReceiverSettings::ReadRssi(const ReceiverTurn& turn) {
  if (!ReadExchange(turn, CMD_RSSI)) return kRssiFailed;
  const std::uint32_t value =
      static_cast<std::uint32_t>(m_block[1]) | static_cast<std::uint32_t>(m_block[2]) << 8 |
      static_cast<std::uint32_t>(m_block[3]) << 16 | static_cast<std::uint32_t>(m_block[4]) << 24;
  return static_cast<std::int32_t>(value);
}

bool ReceiverSettings::MatchAnswer(const ReceiverTurn& turn, std::uint8_t command, std::size_t groups,
                                   AnswerGroups& values) {
  const std::regex* pattern = PatternFor(command);
  if (pattern == nullptr) return false;
  const std::wstring text = ReadText(turn, command);
  // Matched on the code page's bytes, as the receiver sent them.
  const std::string bytes = m_codec.Encode(text);
  std::smatch match;
  if (!std::regex_match(bytes, match, *pattern) || match.size() < groups + 1) {
    m_lastReadAnswered = false;
    return false;
  }
  for (std::size_t i = 0; i < groups; ++i) values[i] = m_codec.Decode(match[i + 1].str());
  return true;
}

std::wstring ReceiverSettings::ReadWifiName(const ReceiverTurn& turn) {
  AnswerGroups values;
  if (!MatchAnswer(turn, CMD_WIFI_NAME, 1, values)) return {};
  return values[0];
}

std::wstring ReceiverSettings::ReadWifiPassword(const ReceiverTurn& turn) {
  AnswerGroups values;
  if (!MatchAnswer(turn, CMD_WIFI_PASSWORD, 1, values)) return {};
  return values[0];
}

void ReceiverSettings::ReadResolution(const ReceiverTurn& turn, std::int32_t& width, std::int32_t& height) {
  width = 0;
  height = 0;
  AnswerGroups values;
  if (!MatchAnswer(turn, CMD_RESOLUTION, 2, values)) return;
  width = WideToInt(values[0]);
  height = WideToInt(values[1]);
}

bool ReceiverSettings::ReadAgingTest(const ReceiverTurn& turn) { return ReadAgingTestAnswer(turn).value_or(false); }

std::int32_t ReceiverSettings::ReadLongPressTime(const ReceiverTurn& turn) {
  return ReadLongPressTimeAnswer(turn).value_or(kLongPressTimeFailed);
}

std::optional<bool> ReceiverSettings::ReadAgingTestAnswer(const ReceiverTurn& turn) {
  AnswerGroups values;
  if (!MatchAnswer(turn, CMD_AGING_TEST, 1, values)) return std::nullopt;
  return WideToInt(values[0]) != 0;
}

std::optional<std::int32_t> ReceiverSettings::ReadLongPressTimeAnswer(const ReceiverTurn& turn) {
  AnswerGroups values;
  if (!MatchAnswer(turn, CMD_LONG_PRESS_TIME, 1, values)) return std::nullopt;
  return WideToInt(values[0]);
}

bool ReceiverSettings::WriteExchange(const ReceiverTurn& turn, std::uint8_t command, std::wstring_view text) {
  if (!MayExchange(turn)) return false;
  // A text that would fill the payload to its last byte, or beyond, is
  // refused whole rather than sent cut or without its terminator.
  const std::string bytes = m_codec.Encode(text);
  if (bytes.size() > kMaxTextBytes) return false;
  BusyScope busy(m_bBusy);
  m_block.fill(0);
  m_block[0] = command;
  std::memcpy(m_block.data() + 1, bytes.data(), bytes.size());
  return m_link.SetCur(m_block.data(), kBlockSize, m_pDevice).Ok();
}

bool ReceiverSettings::WriteUrl(const ReceiverTurn& turn, const std::wstring& url) {
  return WriteExchange(turn, CMD_URL, url);
}

bool ReceiverSettings::WriteWifiName(const ReceiverTurn& turn, const std::wstring& name) {
  return WriteExchange(turn, CMD_WIFI_NAME, L"wifiname=" + std::wstring(UpToNull(name)));
}

bool ReceiverSettings::WriteWifiPassword(const ReceiverTurn& turn, const std::wstring& password) {
  return WriteExchange(turn, CMD_WIFI_PASSWORD, L"wifipassword=" + std::wstring(UpToNull(password)));
}

bool ReceiverSettings::WriteResolution(const ReceiverTurn& turn, std::int32_t width, std::int32_t height) {
  return WriteExchange(turn, CMD_RESOLUTION,
                       L"resolution=" + std::to_wstring(width) + L"x" + std::to_wstring(height));
}

bool ReceiverSettings::WriteAgingTest(const ReceiverTurn& turn, bool enabled) {
  return WriteExchange(turn, CMD_AGING_TEST, enabled ? L"agingtest=1" : L"agingtest=0");
}

bool ReceiverSettings::WriteLongPressTime(const ReceiverTurn& turn, std::int32_t value) {
  return WriteExchange(turn, CMD_LONG_PRESS_TIME, L"longpresstime=" + std::to_wstring(value));
}

LinkStatus ReceiverSettings::RequestReboot(const ReceiverTurn& turn) {
  if (!MayExchange(turn)) return LinkStatus::Of(StatusKind::Busy);
  BusyScope busy(m_bBusy);
  m_block.fill(0);
  m_block[0] = CMD_REBOOT;
  const LinkStatus status = m_link.SetCur(m_block.data(), kBlockSize, m_pDevice);
  // The receiver restarts and comes back as a new device: the next version
  // read looks for it again. So too when the request failed, since a
  // receiver may restart before it acknowledges.
  ReleaseDevice();
  return status;
}

std::size_t ReceiverSettings::EncodedLength(const std::wstring& text) const {
  return m_codec.Encode(text).size();
}

bool ReceiverSettings::SurvivesEncoding(const std::wstring& text) const {
  return m_codec.Decode(m_codec.Encode(text)) == text;
}

}  // namespace nerova::link

namespace nerova::link {

ReceiverTurn::ReceiverTurn(ReceiverSettings& settings, TurnWait wait, TurnScope scope)
    : m_settings(settings), m_scope(scope), m_outcome(settings.TakeTurn(wait)) {
  if (Held() && m_scope == TurnScope::WholeSequence) m_settings.m_link.HoldWholeSequence(true);
}

ReceiverTurn::~ReceiverTurn() {
  if (!Held()) return;
  if (m_scope == TurnScope::WholeSequence) m_settings.m_link.HoldWholeSequence(false);
  m_settings.EndTurn();
}

void ReceiverTurn::ReserveLastExchange() {
  if (Held() && m_scope == TurnScope::WholeSequence) m_settings.m_link.ReserveLastExchange();
}

}  // namespace nerova::link
