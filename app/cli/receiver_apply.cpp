#include "app/cli/receiver_apply.h"

#include <cstdint>

#include "app/cli/exit_codes.h"
#include "app/cli/receiver_messages.h"
#include "app/cli/settings_report.h"
#include "app/cli/uninterruptible.h"
#include "link/receiver_turn.h"
#include "settings/apply_check.h"
#include "settings/apply_sequence.h"
#include "settings/apply_texts.h"
#include "settings/camera_model.h"
#include "settings/long_press.h"
#include "settings/stored_settings.h"

namespace nerova::cli {
namespace {

// How often a restarting receiver is asked whether it is back.
constexpr std::uint32_t kRestartProbeMs = 1000;
// A receiver told to restart leaves within moments; one that still answers
// after this long has restarted between two probes.
constexpr std::uint32_t kLeaveLimitMs = 10000;

std::wstring HexResult(std::int32_t code) {
  static constexpr wchar_t kHex[] = L"0123456789ABCDEF";
  std::wstring text = L"0x";
  const auto value = static_cast<std::uint32_t>(code);
  for (int shift = 28; shift >= 0; shift -= 4) text += kHex[(value >> shift) & 0xF];
  return text;
}

// NeverLeft: still answering after kLeaveLimitMs, as one that restarted
// between two probes does, or one that did not restart at all.
enum class ReturnWait { Back, NeverLeft, TimedOut, Interrupted };

class ReceiverApply {
 public:
  ReceiverApply(ChosenReceiver& receiver, const WantedValues& wanted, const ApplyContext& context)
      : m_receiver(receiver), m_wanted(wanted), m_context(context) {}

  ApplyOutcome Run() {
    link::LinkStatus restart = link::LinkStatus::Success();
    if (Write(restart) != kExitOk) return m_outcome;
    if (restart.Ok()) {
      Success(std::wstring(settings::kApplySucceeded));
    } else {
      // A receiver may reset before it acknowledges the command: whether it
      // restarted shows only in its leaving.
      const std::wstring unacknowledged =
          L"The configuration is written, but the receiver did not acknowledge the restart command (" +
          HexResult(restart.code) + L")";
      if (!m_context.wait) {
        return Fail(kExitWriteFailed,
                    unacknowledged + L"; unless it restarted anyway, it takes effect at the receiver's next start.");
      }
      Say(unacknowledged + L"; watching whether it restarts anyway.");
    }
    if (!m_context.wait) return m_outcome;
    ConfirmReturn(restart.Ok());
    return m_outcome;
  }

 private:
  void Say(const std::wstring& line) {
    m_outcome.message = line;
    if (m_context.progress) m_context.progress(line);
  }
  void Success(const std::wstring& line) {
    m_outcome.message = line;
    if (m_context.success) m_context.success(line);
  }
  ApplyOutcome Fail(int status, const std::wstring& line) {
    Say(line);
    m_outcome.status = status;
    return m_outcome;
  }
  bool Interrupted() const { return m_context.interrupted && m_context.interrupted(); }

  // What is asked for, the rest as the receiver holds it; none, after
  // saying why, when a text it did not give was not given either.
  std::optional<settings::Configuration> Requested(const settings::StoredSettings& current) {
    using settings::StoredValue;
    settings::Configuration configuration;
    if (m_wanted.model) {
      configuration.url = settings::UrlToWrite(settings::kModeAuto, *m_wanted.model, L"");
    } else if (m_wanted.url) {
      configuration.url = *m_wanted.url;
    } else if (current.Answered(StoredValue::Url)) {
      configuration.url = current.url;
    } else {
      Fail(kExitRefused, L"The receiver's stream URL could not be read; give it with --model or --url.");
      return std::nullopt;
    }
    if (!m_wanted.ssid && !current.Answered(StoredValue::WifiName)) {
      Fail(kExitRefused, L"The receiver's Wi-Fi name could not be read; give it with --ssid.");
      return std::nullopt;
    }
    if (!m_wanted.password && !current.Answered(StoredValue::WifiPassword)) {
      Fail(kExitRefused, L"The receiver's Wi-Fi password could not be read; give it with --password.");
      return std::nullopt;
    }
    configuration.wifiName = m_wanted.ssid.value_or(current.wifiName);
    configuration.wifiPassword = m_wanted.password.value_or(current.wifiPassword);
    configuration.longPressTime = m_wanted.longPressTime;
    if (!configuration.longPressTime && current.Answered(StoredValue::LongPressTime)) {
      configuration.longPressTime = settings::ClampLongPress(current.longPressTime);
    }
    configuration.agingTest = m_wanted.agingTest;
    if (!configuration.agingTest && current.Answered(StoredValue::AgingTest)) {
      configuration.agingTest = current.agingTest;
    }
    return configuration;
  }

  // Names each value that goes unwritten because the receiver did not give it.
  void SayLeftAlone(const settings::Configuration& configuration) {
    if (!configuration.longPressTime) {
      Say(L"The receiver's long-press time could not be read; it is left as the receiver holds it.");
    }
    if (!configuration.agingTest) {
      Say(L"The receiver's aging test could not be read; it is left as the receiver holds it.");
    }
  }

  // From the read of what the receiver holds to the restart, with no other
  // program's request in between: one that read meanwhile would get an
  // answer of this sequence's, one that wrote would be overwritten.
  // `restart` is the restart command's own status.
  int Write(link::LinkStatus& restart) {
    const link::ReceiverTurn turn(m_receiver.Settings(), link::TurnWait::Bounded);
    if (!turn.Held()) return Fail(kExitNotFound, TurnRefusedMessage(turn.Outcome())).status;
    const settings::StoredSettings current =
        settings::ReadStoredSettings(turn, m_receiver.Settings(), m_context.pump);
    if (current.Answered(settings::StoredValue::FirmwareVersion)) m_outcome.firmwareVersion = current.firmwareVersion;
    std::optional<settings::Configuration> configuration = Requested(current);
    if (!configuration) return m_outcome.status;
    // Everything is checked before anything is written.
    if (const std::optional<std::wstring> refused =
            settings::CheckConfiguration(*configuration, m_receiver.Settings())) {
      return Fail(kExitRefused, *refused).status;
    }
    SayLeftAlone(*configuration);
    // Begun before the last look at an interrupt (uninterruptible.h).
    const ConfigurationGoingOut goingOut;
    if (Interrupted()) return Fail(kExitInterrupted, L"Stopped; nothing was written.").status;
    // Ctrl+C does not cut the sequence: it is looked at again only once
    // the restart has gone out.
    m_outcome.written = *configuration;
    settings::ApplySequence sequence(m_receiver.Settings(), m_context.pump);
    if (!sequence.Write(*configuration)) return Fail(kExitWriteFailed, std::wstring(settings::kApplyFailed)).status;
    restart = sequence.Restart();
    return kExitOk;
  }

  // Waits for the restarted receiver and reads it back. One that did not
  // acknowledge the restart must be seen to leave.
  void ConfirmReturn(bool restartAcknowledged) {
    Say(L"Waiting for the receiver to come back...");
    switch (WaitForReturn()) {
      case ReturnWait::Back:
        break;
      case ReturnWait::NeverLeft:
        if (restartAcknowledged) break;
        Fail(kExitWriteFailed, L"It did not restart; the configuration takes effect at the receiver's next start.");
        return;
      case ReturnWait::TimedOut:
        Fail(kExitNoReturn, L"The receiver did not come back within " + std::to_wstring(m_context.timeoutSeconds) +
                                L" s of its restart.");
        return;
      case ReturnWait::Interrupted:
        Fail(kExitSentUnconfirmed,
             L"Stopped waiting: the new configuration was sent whole with the restart, and was not read back.");
        return;
    }
    const link::ReceiverTurn turn(m_receiver.Settings(), link::TurnWait::Bounded);
    if (!turn.Held()) {
      Fail(kExitNotFound, TurnRefusedMessage(turn.Outcome()));
      return;
    }
    const settings::StoredSettings after = settings::ReadStoredSettings(turn, m_receiver.Settings(), m_context.pump);
    if (!ConfirmHeld(after)) return;
    Success(L"The receiver is back and holds the new configuration.");
  }

  // First until the receiver has left, then until it answers again.
  ReturnWait WaitForReturn() {
    bool left = false;
    for (std::uint32_t waited = 0; !left; waited += kRestartProbeMs) {
      if (waited >= kLeaveLimitMs) return ReturnWait::NeverLeft;
      if (Interrupted()) return ReturnWait::Interrupted;
      m_context.pump.PumpWait(kRestartProbeMs);
      left = !m_receiver.Answers();
    }
    const std::uint64_t limit = std::uint64_t{m_context.timeoutSeconds} * 1000;
    for (std::uint64_t waited = 0; !m_receiver.Answers(); waited += kRestartProbeMs) {
      if (waited >= limit) return ReturnWait::TimedOut;
      if (Interrupted()) return ReturnWait::Interrupted;
      m_context.pump.PumpWait(kRestartProbeMs);
    }
    return ReturnWait::Back;
  }

  // False after naming every value the receiver does not hold as written.
  // The long-press time and the aging test are compared only when asked
  // for: the receiver's older firmware has neither.
  bool ConfirmHeld(const settings::StoredSettings& held) {
    const settings::Configuration& wanted = *m_outcome.written;
    bool same = true;
    auto compare = [&](std::wstring_view label, const std::wstring& want, const std::wstring& got) {
      if (want == got) return;
      Fail(kExitWriteFailed, L"The receiver holds " + std::wstring(label) + L" \"" + got + L"\", not \"" + want + L"\".");
      same = false;
    };
    compare(L"the stream URL", wanted.url, held.url);
    compare(L"the Wi-Fi name", wanted.wifiName, held.wifiName);
    compare(L"the Wi-Fi password", wanted.wifiPassword, held.wifiPassword);
    if (m_wanted.longPressTime) {
      compare(L"the long-press time", LongPressTimeText(*wanted.longPressTime), LongPressTimeText(held.longPressTime));
    }
    if (m_wanted.agingTest) {
      compare(L"the aging test", *wanted.agingTest ? L"on" : L"off", held.agingTest ? L"on" : L"off");
    }
    return same;
  }

  ChosenReceiver& m_receiver;
  const WantedValues& m_wanted;
  const ApplyContext& m_context;
  ApplyOutcome m_outcome;
};

}  // namespace

ApplyOutcome ApplyToReceiver(ChosenReceiver& receiver, const WantedValues& wanted, const ApplyContext& context) {
  return ReceiverApply(receiver, wanted, context).Run();
}

}  // namespace nerova::cli
