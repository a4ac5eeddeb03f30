#include "app/cli/cli_commands.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "app/cli/exit_codes.h"
#include "app/cli/receiver_choice.h"
#include "app/cli/settings_report.h"
#include "app/cli/uninterruptible.h"
#include "link/receiver.h"
#include "settings/apply_check.h"
#include "settings/apply_sequence.h"
#include "settings/apply_texts.h"
#include "settings/camera_model.h"
#include "settings/long_press.h"
#include "settings/receiver_timing.h"
#include "settings/stored_settings.h"

namespace nerova::cli {
namespace {

// How often a restarting receiver is asked whether it is back.
constexpr std::uint32_t kRestartProbeMs = 1000;
// A receiver told to restart leaves within moments; one that still answers
// after this long has restarted between two probes.
constexpr std::uint32_t kLeaveLimitMs = 10000;
// The watch's waits are cut into slices so that Ctrl+C ends it promptly.
constexpr std::uint32_t kWatchSliceMs = 100;

std::wstring HexResult(std::int32_t code) {
  static constexpr wchar_t kHex[] = L"0123456789ABCDEF";
  std::wstring text = L"0x";
  const auto value = static_cast<std::uint32_t>(code);
  for (int shift = 28; shift >= 0; shift -= 4) text += kHex[(value >> shift) & 0xF];
  return text;
}

bool IsNumber(std::wstring_view text) {
  if (text.empty() || text.size() > 6) return false;
  for (wchar_t c : text) {
    if (c < L'0' || c > L'9') return false;
  }
  return true;
}

// One chosen receiver: the category narrowed to it, and the receiver over
// that.
class Receiver {
 public:
  Receiver(Platform& platform, const std::wstring& name)
      : m_stack(platform.stack, name),
        m_receiver(m_stack, platform.pump, platform.codec, link::OpenGate(), platform.locks,
                   settings::kReceiverTurnWaitMs) {}

  link::ReceiverLink& Link() { return m_receiver.Link(); }
  link::ReceiverSettings& Settings() { return m_receiver.Settings(); }
  // Whether it answers now. A command line runs long enough for a receiver
  // to leave and come back, so it is found afresh each time.
  bool Answers() { return m_receiver.AnswersFoundAfresh(); }

 private:
  ChosenReceiverStack m_stack;
  link::Receiver m_receiver;
};

// NeverLeft: still answering after kLeaveLimitMs, as one that restarted
// between two probes does, or one that did not restart at all.
enum class ReturnWait { Back, NeverLeft, TimedOut, Interrupted };

class CommandRun {
 public:
  CommandRun(const Options& options, Platform& platform) : m_options(options), m_platform(platform) {}

  int Run() {
    switch (m_options.command) {
      case Command::Help:
        m_platform.console.Out(UsageText());
        return kExitOk;
      case Command::Version:
        m_platform.console.Out(VersionText());
        return kExitOk;
      case Command::List:
        return List();
      case Command::Show:
        return Show();
      case Command::Apply:
        return Apply();
      case Command::Watch:
        return Watch();
      case Command::Update:
        return Update();
    }
    return kExitUsage;
  }

 private:
  void Out(const std::wstring& line) { m_platform.console.Out(line); }
  void Err(const std::wstring& line) { m_platform.console.Err(line); }

  ReceiverProblem TakeProblem() {
    return m_platform.takeReceiverProblem ? m_platform.takeReceiverProblem() : ReceiverProblem{};
  }

  // What stands in the way of a receiver that did not answer, for the user.
  static std::wstring ProblemMessage(const ReceiverProblem& problem) {
    if (problem.kind == ReceiverProblem::Kind::ControlSize) {
      return L"The receiver's settings control has another size than this tool speaks: " + problem.message;
    }
    return problem.message;
  }

  int NoReceiver() {
    if (m_platform.unservedVideoFunctions) {
      for (const link::VideoInputName& name : m_platform.unservedVideoFunctions()) {
        if (!link::IsReceiver(name)) continue;
        Err(L"The receiver " + name.displayName + L" is plugged in, but no video driver serves it" +
            L" (on Linux: is the uvcvideo module loaded?).");
        return kExitNotFound;
      }
    }
    Err(L"No receiver is attached.");
    return kExitNotFound;
  }

  // The problem the platform told while the receiver was asked, or that it
  // does not answer.
  int NotAnswering(const std::wstring& name, const ReceiverProblem& problem) {
    Err(problem.kind == ReceiverProblem::Kind::None ? L"The receiver " + name + L" does not answer."
                                                    : ProblemMessage(problem));
    return kExitNotFound;
  }

  // The receiver the command is for; none after saying why, with the exit
  // status in `exitCode`.
  std::optional<std::wstring> Choose(int& exitCode) {
    const std::vector<std::wstring> names = AttachedReceivers(m_platform.stack);
    if (names.empty()) {
      exitCode = NoReceiver();
      return std::nullopt;
    }
    const std::wstring& device = m_options.device;
    if (device.empty()) {
      if (names.size() == 1) return names[0];
      Err(L"Several receivers are attached; choose one with --device:");
      for (std::size_t i = 0; i < names.size(); ++i) Err(L"  " + std::to_wstring(i + 1) + L"  " + names[i]);
      exitCode = kExitUsage;
      return std::nullopt;
    }
    if (IsNumber(device)) {
      const std::size_t number = std::stoul(device);
      if (number >= 1 && number <= names.size()) return names[number - 1];
      Err(L"There is no receiver " + device + L": " + std::to_wstring(names.size()) + L" attached.");
      exitCode = kExitNotFound;
      return std::nullopt;
    }
    for (const std::wstring& name : names) {
      if (name == device) return name;
    }
    Err(L"No receiver named " + device + L" is attached.");
    exitCode = kExitNotFound;
    return std::nullopt;
  }

  // The chosen receiver, answering; none after saying why, with the exit
  // status in `exitCode`.
  std::unique_ptr<Receiver> OpenReceiver(int& exitCode) {
    const std::optional<std::wstring> name = Choose(exitCode);
    if (!name) return nullptr;
    auto receiver = std::make_unique<Receiver>(m_platform, *name);
    TakeProblem();  // one told while choosing was about another receiver
    if (receiver->Answers()) return receiver;
    switch (receiver->Settings().LastRefusal()) {
      case link::TurnOutcome::HeldElsewhere:
        exitCode = InUse();
        break;
      case link::TurnOutcome::Failed:
        exitCode = NotLockable();
        break;
      case link::TurnOutcome::NoReceiver:
      case link::TurnOutcome::Stopped:
      case link::TurnOutcome::Held:
        exitCode = NotAnswering(*name, TakeProblem());
        break;
    }
    return nullptr;
  }

  int NotLockable() {
    Err(L"The receiver could not be locked against other programs.");
    return kExitNotFound;
  }

  // Another program kept the receiver past the wait.
  int InUse() {
    Err(std::wstring(settings::kReceiverInUse) + L" (waited " +
        std::to_wstring(settings::kReceiverTurnWaitMs / 1000) + L" s).");
    return kExitNotFound;
  }

  int List() {
    const std::vector<std::wstring> names = AttachedReceivers(m_platform.stack);
    if (names.empty()) return NoReceiver();
    std::vector<std::wstring> problems;
    for (std::size_t i = 0; i < names.size(); ++i) {
      Receiver receiver(m_platform, names[i]);
      TakeProblem();
      std::wstring state;
      if (receiver.Answers()) {
        const link::ReceiverTurn turn(receiver.Settings(), link::TurnWait::Bounded);
        state = receiver.Settings().ReadFirmwareVersion(turn);
      } else if (receiver.Settings().HeldElsewhere()) {
        state = L"(in use by another program)";
      } else if (receiver.Settings().LastRefusal() == link::TurnOutcome::Failed) {
        state = L"(cannot be locked against other programs)";
      } else {
        const ReceiverProblem problem = TakeProblem();
        switch (problem.kind) {
          case ReceiverProblem::Kind::None:
            state = L"(does not answer)";
            break;
          case ReceiverProblem::Kind::NotAccessible:
            state = L"(not accessible)";
            break;
          case ReceiverProblem::Kind::ControlSize:
            state = L"(settings control of another size)";
            break;
        }
        if (problem.kind != ReceiverProblem::Kind::None) problems.push_back(ProblemMessage(problem));
      }
      Out(std::to_wstring(i + 1) + L"  " + names[i] + L"  " + state);
    }
    for (const std::wstring& problem : problems) Err(problem);
    return kExitOk;
  }

  int Show() {
    int exitCode = kExitOk;
    const std::unique_ptr<Receiver> receiver = OpenReceiver(exitCode);
    if (!receiver) return exitCode;
    // Read whole, with no other program's request in between.
    const link::ReceiverTurn turn(receiver->Settings(), link::TurnWait::Bounded);
    if (!turn.Held()) return TurnRefused(turn);
    const settings::StoredSettings stored =
        settings::ReadStoredSettings(turn, receiver->Settings(), m_platform.pump);
    if (m_options.json) {
      Out(SettingsJson(stored));
    } else {
      for (const std::wstring& line : SettingsLines(stored)) Out(line);
    }
    return kExitOk;
  }

  int TurnRefused(const link::ReceiverTurn& turn) {
    switch (turn.Outcome()) {
      case link::TurnOutcome::HeldElsewhere:
        return InUse();
      case link::TurnOutcome::Failed:
        return NotLockable();
      default:
        Err(L"The receiver has gone.");
        return kExitNotFound;
    }
  }

  // The values of the command line that need no receiver to be judged.
  int CheckApplyOptions() {
    const ApplyOptions& apply = m_options.apply;
    if (apply.model && !settings::FindCameraModel(*apply.model)) {
      Err(L"There is no camera model " + *apply.model + L"; the models are " + CameraModelNames() + L".");
      return kExitRefused;
    }
    if (apply.longPressTime &&
        (*apply.longPressTime < settings::kLongPressMin || *apply.longPressTime > settings::kLongPressMax)) {
      Err(L"The long-press time is from " + std::to_wstring(settings::kLongPressMin) + L" to " +
          std::to_wstring(settings::kLongPressMax) + L" tenths of a second.");
      return kExitRefused;
    }
    return kExitOk;
  }

  // What the command line asks for, the rest as the receiver holds it.
  settings::Configuration Requested(const settings::StoredSettings& current) const {
    const ApplyOptions& apply = m_options.apply;
    settings::Configuration configuration;
    configuration.url = apply.model ? settings::UrlToWrite(settings::kModeAuto, *apply.model, L"")
                                    : settings::UrlToWrite(settings::kModeManual, L"", *apply.url);
    configuration.wifiName = apply.ssid.value_or(current.wifiName);
    configuration.wifiPassword = apply.password.value_or(current.wifiPassword);
    configuration.longPressTime = apply.longPressTime;
    if (!configuration.longPressTime && current.longPressTimeAnswered) {
      configuration.longPressTime = settings::ClampLongPress(current.longPressTime);
    }
    configuration.agingTest = apply.agingTest;
    if (!configuration.agingTest && current.agingTestAnswered) configuration.agingTest = current.agingTest;
    return configuration;
  }

  // Names each value that goes unwritten because the receiver did not give it.
  void SayLeftAlone(const settings::Configuration& configuration) {
    if (!configuration.longPressTime) {
      Err(L"The receiver's long-press time could not be read; it is left as the receiver holds it.");
    }
    if (!configuration.agingTest) {
      Err(L"The receiver's aging test could not be read; it is left as the receiver holds it.");
    }
  }

  int Apply() {
    if (const int refused = CheckApplyOptions(); refused != kExitOk) return refused;
    int exitCode = kExitOk;
    const std::unique_ptr<Receiver> opened = OpenReceiver(exitCode);
    if (!opened) return exitCode;
    Receiver& receiver = *opened;
    settings::Configuration configuration;
    link::LinkStatus restart = link::LinkStatus::Success();
    if (const int written = WriteConfiguration(receiver, configuration, restart); written != kExitOk) return written;
    if (restart.Ok()) {
      Out(std::wstring(settings::kApplySucceeded));
    } else {
      // A receiver may reset before it acknowledges the command: whether it
      // restarted shows only in its leaving.
      const std::wstring unacknowledged =
          L"The configuration is written, but the receiver did not acknowledge the restart command (" +
          HexResult(restart.code) + L")";
      if (!m_options.apply.wait) {
        Err(unacknowledged + L"; unless it restarted anyway, it takes effect at the receiver's next start.");
        return kExitWriteFailed;
      }
      Err(unacknowledged + L"; watching whether it restarts anyway.");
    }
    if (!m_options.apply.wait) return kExitOk;
    return ConfirmReturn(receiver, configuration, restart.Ok());
  }

  // From the read of what the receiver holds to the restart, with no other
  // program's request in between: one that read meanwhile would get an
  // answer of this sequence's, one that wrote would be overwritten.
  // `restart` is the restart command's own status.
  int WriteConfiguration(Receiver& receiver, settings::Configuration& configuration, link::LinkStatus& restart) {
    const link::ReceiverTurn turn(receiver.Settings(), link::TurnWait::Bounded);
    if (!turn.Held()) return TurnRefused(turn);
    const settings::StoredSettings current = settings::ReadStoredSettings(turn, receiver.Settings(), m_platform.pump);
    // A text the receiver did not give cannot be kept: the user gives it.
    if (!m_options.apply.ssid && current.wifiName.empty()) {
      Err(L"The receiver's Wi-Fi name could not be read; give it with --ssid.");
      return kExitRefused;
    }
    if (!m_options.apply.password && current.wifiPassword.empty()) {
      Err(L"The receiver's Wi-Fi password could not be read; give it with --password.");
      return kExitRefused;
    }
    configuration = Requested(current);
    // Everything is checked before anything is written.
    if (const std::optional<std::wstring> refused = settings::CheckConfiguration(configuration, receiver.Settings())) {
      Err(*refused);
      return kExitRefused;
    }
    SayLeftAlone(configuration);
    // Begun before the last look at an interrupt (uninterruptible.h).
    const ConfigurationGoingOut goingOut;
    if (Interrupted()) {
      Err(L"Stopped; nothing was written.");
      return kExitInterrupted;
    }
    // Ctrl+C does not cut the sequence: it is looked at again only once
    // the restart has gone out.
    settings::ApplySequence sequence(receiver.Settings(), m_platform.pump);
    if (!sequence.Write(configuration)) {
      Err(std::wstring(settings::kApplyFailed));
      return kExitWriteFailed;
    }
    restart = sequence.Restart();
    return kExitOk;
  }

  // Waits for the restarted receiver and reads it back. One that did not
  // acknowledge the restart must be seen to leave.
  int ConfirmReturn(Receiver& receiver, const settings::Configuration& configuration, bool restartAcknowledged) {
    Err(L"Waiting for the receiver to come back...");
    switch (WaitForReturn(receiver)) {
      case ReturnWait::Back:
        break;
      case ReturnWait::NeverLeft:
        if (restartAcknowledged) break;
        Err(L"It did not restart; the configuration takes effect at the receiver's next start.");
        return kExitWriteFailed;
      case ReturnWait::TimedOut:
        Err(L"The receiver did not come back within " + std::to_wstring(m_options.apply.timeoutSeconds) +
            L" s of its restart.");
        return kExitNoReturn;
      case ReturnWait::Interrupted:
        Err(L"Stopped waiting: the new configuration was sent whole with the restart, and was not read back.");
        return kExitSentUnconfirmed;
    }
    const link::ReceiverTurn turn(receiver.Settings(), link::TurnWait::Bounded);
    if (!turn.Held()) return TurnRefused(turn);
    const settings::StoredSettings after = settings::ReadStoredSettings(turn, receiver.Settings(), m_platform.pump);
    if (!ConfirmHeld(configuration, after)) return kExitWriteFailed;
    Out(L"The receiver is back and holds the new configuration.");
    return kExitOk;
  }

  // First until the receiver has left, then until it answers again.
  ReturnWait WaitForReturn(Receiver& receiver) {
    bool left = false;
    for (std::uint32_t waited = 0; !left; waited += kRestartProbeMs) {
      if (waited >= kLeaveLimitMs) return ReturnWait::NeverLeft;
      if (Interrupted()) return ReturnWait::Interrupted;
      m_platform.pump.PumpWait(kRestartProbeMs);
      left = !receiver.Answers();
    }
    const std::uint64_t limit = std::uint64_t{m_options.apply.timeoutSeconds} * 1000;
    for (std::uint64_t waited = 0; !receiver.Answers(); waited += kRestartProbeMs) {
      if (waited >= limit) return ReturnWait::TimedOut;
      if (Interrupted()) return ReturnWait::Interrupted;
      m_platform.pump.PumpWait(kRestartProbeMs);
    }
    return ReturnWait::Back;
  }

  // False after naming every value the receiver does not hold as written.
  // The long-press time and the aging test are compared only when asked
  // for: the receiver's older firmware has neither.
  bool ConfirmHeld(const settings::Configuration& wanted, const settings::StoredSettings& held) {
    bool same = true;
    auto compare = [&](std::wstring_view label, const std::wstring& want, const std::wstring& got) {
      if (want == got) return;
      Err(L"The receiver holds " + std::wstring(label) + L" \"" + got + L"\", not \"" + want + L"\".");
      same = false;
    };
    compare(L"the stream URL", wanted.url, held.url);
    compare(L"the Wi-Fi name", wanted.wifiName, held.wifiName);
    compare(L"the Wi-Fi password", wanted.wifiPassword, held.wifiPassword);
    if (m_options.apply.longPressTime) {
      compare(L"the long-press time", LongPressTimeText(*wanted.longPressTime), LongPressTimeText(held.longPressTime));
    }
    if (m_options.apply.agingTest) {
      compare(L"the aging test", *wanted.agingTest ? L"on" : L"off", held.agingTest ? L"on" : L"off");
    }
    return same;
  }

  int Watch() {
    int exitCode = kExitOk;
    const std::unique_ptr<Receiver> opened = OpenReceiver(exitCode);
    if (!opened) return exitCode;
    Receiver& receiver = *opened;
    for (std::uint32_t readings = 0;;) {
      std::int32_t rssi = ReadSignal(receiver);
      // A receiver that went away and came back is found again once.
      if (rssi == link::kRssiFailed && receiver.Answers()) rssi = ReadSignal(receiver);
      if (rssi == link::kRssiFailed && receiver.Settings().HeldElsewhere()) return InUse();
      Out(L"RSSI " + SignalText(rssi));
      if (m_options.count && ++readings >= *m_options.count) return kExitOk;
      for (std::uint32_t waited = 0; waited < settings::kPollPeriodMs; waited += kWatchSliceMs) {
        if (Interrupted()) return kExitOk;
        m_platform.pump.PumpWait(kWatchSliceMs);
      }
    }
  }

  // One signal reading in a turn of its own.
  static std::int32_t ReadSignal(Receiver& receiver) {
    const link::ReceiverTurn turn(receiver.Settings(), link::TurnWait::Bounded);
    return receiver.Settings().ReadRssi(turn);
  }

  int Update() {
    if (!m_platform.updateFirmware) {
      Err(L"update is available in the Windows version of nerova-cli only.");
      return kExitUsage;
    }
    return m_platform.updateFirmware(m_options.package);
  }

  bool Interrupted() const { return m_platform.interrupted && m_platform.interrupted(); }

  const Options& m_options;
  Platform& m_platform;
};

}  // namespace

int RunCommand(const Options& options, Platform& platform) { return CommandRun(options, platform).Run(); }

}  // namespace nerova::cli
