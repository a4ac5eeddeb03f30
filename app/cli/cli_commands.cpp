#include "app/cli/cli_commands.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "app/cli/exit_codes.h"
#include "app/cli/fleet_commands.h"
#include "app/cli/json_documents.h"
#include "app/cli/local_time.h"
#include "app/cli/receiver_apply.h"
#include "app/cli/receiver_choice.h"
#include "app/cli/receiver_messages.h"
#include "app/cli/settings_report.h"
#include "app/cli/wanted_values.h"
#include "link/receiver.h"
#include "settings/receiver_timing.h"
#include "settings/stored_settings.h"

namespace nerova::cli {
namespace {

// The watch's waits are cut into slices so that Ctrl+C ends it promptly.
constexpr std::uint32_t kWatchSliceMs = 100;

class CommandRun {
 public:
  CommandRun(const Options& options, Platform& platform) : m_options(options), m_platform(platform) {}

  int Run() {
    switch (m_options.command) {
      case Command::Help:
        Out(UsageText());
        return kExitOk;
      case Command::Version:
        Out(VersionText());
        return kExitOk;
      case Command::List:
        return List();
      case Command::Show:
        return Show();
      case Command::Apply:
      case Command::Provision:
        return Configure();
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

  // Says that no receiver is attached, or why the one plugged in cannot be
  // seen.
  void SayNoReceiver() {
    if (m_platform.unservedVideoFunctions) {
      for (const link::VideoInputName& name : m_platform.unservedVideoFunctions()) {
        if (!link::IsReceiver(name)) continue;
        Err(L"The receiver " + name.displayName + L" is plugged in, but no video driver serves it" +
            L" (on Linux: is the uvcvideo module loaded?).");
        return;
      }
    }
    Err(L"No receiver is attached.");
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
  std::optional<AttachedReceiver> Choose(int& exitCode) {
    const std::vector<AttachedReceiver> receivers = AttachedReceivers(m_platform.stack);
    if (receivers.empty()) {
      SayNoReceiver();
      exitCode = kExitNotFound;
      return std::nullopt;
    }
    const std::wstring& device = m_options.device;
    if (device.empty()) {
      if (receivers.size() == 1) return receivers[0];
      Err(L"Several receivers are attached; choose one with --device:");
      for (std::size_t i = 0; i < receivers.size(); ++i) Err(L"  " + ListLine(i, receivers[i], L""));
      exitCode = kExitUsage;
      return std::nullopt;
    }
    if (std::optional<AttachedReceiver> found = FindReceiver(receivers, device)) return found;
    Err(L"No receiver " + device + L" is attached: give its number, serial number, port or name as \"list\" shows them.");
    exitCode = kExitNotFound;
    return std::nullopt;
  }

  std::unique_ptr<ChosenReceiver> NewReceiver(const AttachedReceiver& receiver) {
    return std::make_unique<ChosenReceiver>(m_platform.stack, m_platform.pump, m_platform.codec, m_platform.locks,
                                            receiver.name, settings::kReceiverTurnWaitMs);
  }

  // The chosen receiver, answering; none after saying why, with the exit
  // status in `exitCode`.
  std::unique_ptr<ChosenReceiver> OpenReceiver(AttachedReceiver& chosen, int& exitCode) {
    const std::optional<AttachedReceiver> found = Choose(exitCode);
    if (!found) return nullptr;
    chosen = *found;
    std::unique_ptr<ChosenReceiver> receiver = NewReceiver(chosen);
    TakeProblem();  // one told while choosing was about another receiver
    if (receiver->Answers()) return receiver;
    switch (receiver->Settings().LastRefusal()) {
      case link::TurnOutcome::HeldElsewhere:
        Err(InUseMessage());
        exitCode = kExitNotFound;
        break;
      case link::TurnOutcome::Failed:
        Err(NotLockableMessage());
        exitCode = kExitNotFound;
        break;
      case link::TurnOutcome::NoReceiver:
      case link::TurnOutcome::Stopped:
      case link::TurnOutcome::Held:
        exitCode = NotAnswering(chosen.name, TakeProblem());
        break;
    }
    return nullptr;
  }

  static std::wstring ListLine(std::size_t index, const AttachedReceiver& receiver, const std::wstring& state) {
    std::wstring line = std::to_wstring(index + 1) + L"  " + SerialAndPort(receiver) + L"  " + receiver.name;
    return state.empty() ? line : line + L"  " + state;
  }

  // How one receiver of the list answers, with its firmware version when it
  // does; a problem the platform told is added to `problems`.
  ListEntry Inspect(const AttachedReceiver& attached, std::vector<std::wstring>& problems) {
    ListEntry entry{attached, {}, ListState::Ready};
    const std::unique_ptr<ChosenReceiver> receiver = NewReceiver(attached);
    TakeProblem();
    if (receiver->Answers()) {
      const link::ReceiverTurn turn(receiver->Settings(), link::TurnWait::Bounded);
      entry.firmwareVersion = receiver->Settings().ReadFirmwareVersion(turn);
      if (!receiver->Settings().LastReadAnswered()) entry.state = ListState::NotAnswering;
      return entry;
    }
    if (receiver->Settings().HeldElsewhere()) {
      entry.state = ListState::InUse;
    } else if (receiver->Settings().LastRefusal() == link::TurnOutcome::Failed) {
      entry.state = ListState::NotLockable;
    } else {
      const ReceiverProblem problem = TakeProblem();
      entry.state = problem.kind == ReceiverProblem::Kind::NotAccessible ? ListState::NotAccessible
                    : problem.kind == ReceiverProblem::Kind::ControlSize ? ListState::ControlSize
                                                                         : ListState::NotAnswering;
      if (problem.kind != ReceiverProblem::Kind::None) problems.push_back(ProblemMessage(problem));
    }
    return entry;
  }

  static std::wstring StateText(const ListEntry& entry) {
    switch (entry.state) {
      case ListState::Ready:
        return entry.firmwareVersion;
      case ListState::InUse:
        return L"(in use by another program)";
      case ListState::NotLockable:
        return L"(cannot be locked against other programs)";
      case ListState::NotAnswering:
        return L"(does not answer)";
      case ListState::NotAccessible:
        return L"(not accessible)";
      case ListState::ControlSize:
        break;
    }
    return L"(settings control of another size)";
  }

  // Nothing attached is an empty list, not a failure: a script that counts
  // receivers gets zero.
  int List() {
    const std::vector<AttachedReceiver> receivers = AttachedReceivers(m_platform.stack);
    if (receivers.empty()) SayNoReceiver();
    std::vector<std::wstring> problems;
    std::vector<ListEntry> entries;
    for (const AttachedReceiver& receiver : receivers) entries.push_back(Inspect(receiver, problems));
    if (m_options.json) {
      Out(ListJson(entries));
    } else {
      for (std::size_t i = 0; i < entries.size(); ++i) Out(ListLine(i, entries[i].receiver, StateText(entries[i])));
    }
    for (const std::wstring& problem : problems) Err(problem);
    return kExitOk;
  }

  int Show() {
    int exitCode = kExitOk;
    AttachedReceiver chosen;
    const std::unique_ptr<ChosenReceiver> receiver = OpenReceiver(chosen, exitCode);
    if (!receiver) return exitCode;
    // Read whole, with no other program's request in between.
    const link::ReceiverTurn turn(receiver->Settings(), link::TurnWait::Bounded);
    if (!turn.Held()) {
      Err(TurnRefusedMessage(turn.Outcome()));
      return kExitNotFound;
    }
    const settings::StoredSettings stored = settings::ReadStoredSettings(turn, receiver->Settings(), m_platform.pump);
    if (m_options.json) {
      Out(ShowJson(chosen, stored));
    } else {
      for (const std::wstring& line : SettingsLines(chosen, stored)) Out(line);
    }
    if (EveryValueRead(stored)) return kExitOk;
    Err(L"The receiver did not answer every read; what it did not answer is shown as unknown.");
    return kExitUnread;
  }

  // Whether show read every value. A long-press time or aging test answered
  // in another form is one the receiver's firmware does not have: shown as
  // unknown, and no failure.
  static bool EveryValueRead(const settings::StoredSettings& stored) {
    using settings::StoredValue;
    if (stored.unansweredReads != 0) return false;
    for (const StoredValue value : {StoredValue::FirmwareVersion, StoredValue::Url, StoredValue::WifiName,
                                    StoredValue::WifiPassword, StoredValue::Rssi, StoredValue::Resolution}) {
      if (!stored.Answered(value)) return false;
    }
    return true;
  }

  // apply and provision: the values are gathered and checked before any
  // receiver is looked for.
  int Configure() {
    const ValueSources sources{m_platform.readStandardInput, [this](const std::wstring& line) { Err(line); }};
    WantedValues wanted;
    if (const int status = GatherWantedValues(m_options.apply, sources, wanted); status != kExitOk) return status;
    if (const std::optional<std::wstring> refused = CheckWantedValues(wanted, m_platform.codec)) {
      Err(*refused);
      return kExitRefused;
    }
    if (m_options.command == Command::Provision) return Provision(m_options, m_platform, wanted);
    if (m_options.apply.all) return ApplyToAll(m_options, m_platform, wanted);
    return ApplyToOne(wanted);
  }

  int ApplyToOne(const WantedValues& wanted) {
    int exitCode = kExitOk;
    AttachedReceiver chosen;
    const std::unique_ptr<ChosenReceiver> receiver = OpenReceiver(chosen, exitCode);
    if (!receiver) return exitCode;
    const bool json = m_options.json;
    const ApplyContext context{m_platform.pump,
                               m_platform.interrupted,
                               m_options.apply.wait,
                               m_options.apply.timeoutSeconds,
                               [this](std::wstring_view line) { Err(std::wstring(line)); },
                               [this, json](std::wstring_view line) {
                                 if (json) {
                                   Err(std::wstring(line));
                                 } else {
                                   Out(std::wstring(line));
                                 }
                               }};
    const ApplyOutcome outcome = ApplyToReceiver(*receiver, wanted, context);
    if (json) Out(RecordJson(RecordOf(chosen, outcome), false));
    return outcome.status;
  }

  int Watch() {
    int exitCode = kExitOk;
    AttachedReceiver chosen;
    const std::unique_ptr<ChosenReceiver> opened = OpenReceiver(chosen, exitCode);
    if (!opened) return exitCode;
    ChosenReceiver& receiver = *opened;
    for (std::uint32_t readings = 0;;) {
      std::int32_t rssi = ReadSignal(receiver);
      // A receiver that went away and came back is found again once.
      if (rssi == link::kRssiFailed && receiver.Answers()) rssi = ReadSignal(receiver);
      if (rssi == link::kRssiFailed && receiver.Settings().HeldElsewhere()) {
        Err(InUseMessage());
        return kExitNotFound;
      }
      const std::wstring time = LocalTimeText(std::chrono::system_clock::now());
      Out(m_options.json ? WatchJson(time, rssi) : time + L"  RSSI " + SignalText(rssi));
      if (m_options.count && ++readings >= *m_options.count) return kExitOk;
      for (std::uint32_t waited = 0; waited < settings::kPollPeriodMs; waited += kWatchSliceMs) {
        if (Interrupted()) return kExitOk;
        m_platform.pump.PumpWait(kWatchSliceMs);
      }
    }
  }

  // One signal reading in a turn of its own; kRssiFailed when it was not
  // answered.
  static std::int32_t ReadSignal(ChosenReceiver& receiver) {
    const link::ReceiverTurn turn(receiver.Settings(), link::TurnWait::Bounded);
    const std::int32_t rssi = receiver.Settings().ReadRssi(turn);
    return receiver.Settings().LastReadAnswered() ? rssi : link::kRssiFailed;
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

int RunCommand(const Options& options, Platform& platform) {
  const int status = CommandRun(options, platform).Run();
  if (!platform.console.OutputLost()) return status;
  platform.console.Err(L"nerova-cli: the output could not be written.");
  return status == kExitOk ? kExitFailed : status;
}

}  // namespace nerova::cli
