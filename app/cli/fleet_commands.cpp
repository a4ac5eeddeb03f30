#include "app/cli/fleet_commands.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <list>
#include <mutex>
#include <set>
#include <thread>

#include "app/cli/exit_codes.h"
#include "app/cli/local_time.h"
#include "app/cli/receiver_messages.h"
#include "app/cli/text_files.h"
#include "app/cli/typed_lines.h"
#include "app/cli/wanted_values.h"
#include "link/utf8_codec.h"
#include "settings/apply_check.h"
#include "settings/apply_texts.h"
#include "settings/receiver_timing.h"

namespace nerova::cli {
namespace {

// How often the main thread looks for finished receivers and, in
// provision, for receivers plugged in.
constexpr std::uint32_t kLookMs = 100;
constexpr std::uint32_t kFindPeriodMs = 1000;

// The console shared by the receivers' threads and the main thread.
class SharedConsole {
 public:
  explicit SharedConsole(Console& console) : m_console(console) {}
  void Out(const std::wstring& line) {
    const std::lock_guard<std::mutex> hold(m_mutex);
    m_console.Out(line);
  }
  void Err(const std::wstring& line) {
    const std::lock_guard<std::mutex> hold(m_mutex);
    m_console.Err(line);
  }

 private:
  Console& m_console;
  std::mutex m_mutex;
};

// One receiver configured on a thread of its own, from finding it to its
// read-back.
class ReceiverJob {
 public:
  ReceiverJob(Platform& platform, SharedConsole& console, AttachedReceiver receiver, WantedValues wanted,
              const ApplyOptions& apply, std::function<bool()> interrupted)
      : m_receiver(std::move(receiver)) {
    m_thread = std::thread([this, &platform, &console, wanted = std::move(wanted), wait = apply.wait,
                            timeout = apply.timeoutSeconds, interrupted = std::move(interrupted)] {
      m_outcome = Configure(platform, console, wanted, wait, timeout, interrupted);
      m_done = true;
    });
  }
  ReceiverJob(const ReceiverJob&) = delete;
  ReceiverJob& operator=(const ReceiverJob&) = delete;
  ~ReceiverJob() {
    if (m_thread.joinable()) m_thread.join();
  }

  bool Done() const { return m_done; }
  // Once Done.
  const ApplyOutcome& Outcome() {
    if (m_thread.joinable()) m_thread.join();
    return m_outcome;
  }
  const AttachedReceiver& Receiver() const { return m_receiver; }

 private:
  ApplyOutcome Configure(Platform& platform, SharedConsole& console, const WantedValues& wanted, bool wait,
                         std::uint32_t timeout, const std::function<bool()>& interrupted) {
    const std::unique_ptr<WorkerThread> worker = platform.enterWorkerThread ? platform.enterWorkerThread() : nullptr;
    link::MessagePump& pump = worker ? worker->Pump() : platform.pump;
    ChosenReceiver receiver(platform.stack, pump, platform.codec, platform.locks, m_receiver.name,
                            settings::kReceiverTurnWaitMs);
    if (!receiver.Answers()) {
      ApplyOutcome outcome;
      outcome.status = kExitNotFound;
      switch (receiver.Settings().LastRefusal()) {
        case link::TurnOutcome::HeldElsewhere:
          outcome.message = InUseMessage();
          break;
        case link::TurnOutcome::Failed:
          outcome.message = NotLockableMessage();
          break;
        default:
          outcome.message = L"The receiver does not answer.";
          break;
      }
      return outcome;
    }
    const std::wstring label = SerialAndPort(m_receiver);
    const ApplyContext context{pump, interrupted, wait, timeout,
                               [&console, &label](std::wstring_view line) { console.Err(label + L": " + std::wstring(line)); },
                               nullptr};
    return ApplyToReceiver(receiver, wanted, context);
  }

  AttachedReceiver m_receiver;
  ApplyOutcome m_outcome;
  std::atomic<bool> m_done{false};
  std::thread m_thread;
};

// Prints a receiver's result: its record in JSON, else one line.
void Report(SharedConsole& console, const ReceiverRecord& record, bool json, bool withPassword) {
  if (json) {
    console.Out(RecordJson(record, withPassword));
    return;
  }
  console.Out(SerialAndPort(record.receiver) + L"  " + std::wstring(RecordResultName(record.result)) + L": " + record.message);
}

bool Interrupted(const Platform& platform) { return platform.interrupted && platform.interrupted(); }

// Pumps the main thread's wait until `ms` have passed or an interrupt.
void Pause(Platform& platform, std::uint32_t ms) {
  for (std::uint32_t waited = 0; waited < ms && !Interrupted(platform); waited += kLookMs) {
    platform.pump.PumpWait(kLookMs);
  }
}

class Provisioning {
 public:
  Provisioning(const Options& options, Platform& platform, const WantedValues& wanted)
      : m_options(options), m_platform(platform), m_console(platform.console), m_wanted(wanted) {}

  int Run() {
    const ApplyOptions& apply = m_options.apply;
    if (apply.tableFile && !LoadTable(*apply.tableFile)) return kExitUsage;
    if (apply.ask.Any()) {
      if (!m_platform.readLine) {
        m_console.Err(L"--ask needs a terminal to read from.");
        return kExitUsage;
      }
      m_typed = std::make_unique<TypedLines>(m_platform.readLine);
    }
    m_console.Err(L"Configuring each receiver attached or plugged in; Ctrl+C ends once those under way are done.");
    while (!Interrupted(m_platform) && !m_stopped) {
      TakeNewReceivers();
      Collect();
      Pause(m_platform, kFindPeriodMs);
    }
    for (auto& job : m_jobs) job.Outcome();
    Collect();
    m_console.Err(L"Provisioned: " + std::to_wstring(m_done) + L" done, " + std::to_wstring(m_failed) + L" failed, " +
                  std::to_wstring(m_skipped) + L" skipped.");
    return m_status;
  }

 private:
  bool LoadTable(const std::wstring& path) {
    const ValueSources sources{m_platform.readStandardInput, [this](const std::wstring& line) { m_console.Err(line); }};
    const std::optional<std::string> text = ReadSource(path, sources);
    if (!text) return false;
    std::wstring error;
    m_table = TableFromText(*text, error);
    if (!m_table) m_console.Err(path + L" is not a table of receivers: " + error + L".");
    return m_table.has_value();
  }

  // What tells a receiver apart in this run: its serial number, else its
  // port, else its name.
  static std::wstring KeyOf(const AttachedReceiver& receiver) {
    return receiver.Key().empty() ? receiver.name : receiver.Key();
  }

  void TakeNewReceivers() {
    const std::vector<AttachedReceiver> attached = AttachedReceivers(m_platform.stack);
    // One that failed or was skipped is tried again once it has been
    // unplugged and plugged back in.
    for (auto it = m_retryable.begin(); it != m_retryable.end();) {
      const bool present = std::any_of(attached.begin(), attached.end(),
                                       [&](const AttachedReceiver& r) { return KeyOf(r) == *it; });
      if (present) {
        ++it;
      } else {
        m_handled.erase(*it);
        it = m_retryable.erase(it);
      }
    }
    for (const AttachedReceiver& receiver : attached) {
      if (Interrupted(m_platform) || m_stopped) return;
      if (!m_handled.insert(KeyOf(receiver)).second) continue;
      Take(receiver);
    }
  }

  void Take(const AttachedReceiver& receiver) {
    WantedValues values = m_wanted;
    if (m_table) {
      const auto row = m_table->find(receiver.serial);
      if (receiver.serial.empty() || row == m_table->end()) {
        ReceiverRecord record = RecordOf(receiver, {kExitOk, L"Its serial number is not in the table.", std::nullopt, {}});
        record.result = RecordResult::Skipped;
        Finish(record);
        return;
      }
      values.Override(row->second);
    }
    if (!Ask(receiver, values)) return;
    if (std::optional<std::wstring> refused = CheckWantedValues(values, m_platform.codec)) {
      Finish(RecordOf(receiver, {kExitRefused, *refused, std::nullopt, {}}));
      return;
    }
    m_console.Err(SerialAndPort(receiver) + L": configuring.");
    // Ctrl+C ends the run, not a receiver under way: each one started is
    // configured and read back.
    m_jobs.emplace_back(m_platform, m_console, receiver, values, m_options.apply, nullptr);
  }

  // The fields asked on the terminal; false when it ended.
  bool Ask(const AttachedReceiver& receiver, WantedValues& values) {
    const AskedFields& ask = m_options.apply.ask;
    if (ask.ssid && !AskField(receiver, L"Wi-Fi name", settings::kWifiNameField, settings::kWifiNameEmpty, values.ssid)) {
      return false;
    }
    return !ask.password ||
           AskField(receiver, L"Wi-Fi password", settings::kPasswordField, settings::kPasswordEmpty, values.password);
  }

  bool AskField(const AttachedReceiver& receiver, std::wstring_view label, const settings::WireField& field,
                std::wstring_view emptyMessage, std::optional<std::wstring>& value) {
    for (;;) {
      m_console.Err(std::wstring(label) + L" for the receiver " + SerialAndPort(receiver) + L":");
      std::optional<std::wstring> line = AwaitLine();
      if (!line) {
        // The terminal's end ends the run; the receiver is left for the next.
        m_handled.erase(KeyOf(receiver));
        m_stopped = true;
        return false;
      }
      if (std::optional<std::wstring> refused = settings::CheckField(*line, field, emptyMessage, m_platform.codec)) {
        m_console.Err(*refused + L"; again, please.");
        continue;
      }
      value = *line;
      return true;
    }
  }

  // The next typed line; none once the input has ended or the run is to
  // end. Receivers that finish meanwhile are reported at once.
  std::optional<std::wstring> AwaitLine() {
    std::wstring line;
    for (;;) {
      switch (m_typed->Take(line)) {
        case TypedLines::Next::Line:
          return line;
        case TypedLines::Next::Ended:
          return std::nullopt;
        case TypedLines::Next::Waiting:
          break;
      }
      if (Interrupted(m_platform) || m_stopped) return std::nullopt;
      Collect();
      m_platform.pump.PumpWait(kLookMs);
    }
  }

  void Collect() {
    for (auto it = m_jobs.begin(); it != m_jobs.end();) {
      if (!it->Done()) {
        ++it;
        continue;
      }
      Finish(RecordOf(it->Receiver(), it->Outcome()));
      it = m_jobs.erase(it);
    }
  }

  void Finish(const ReceiverRecord& record) {
    switch (record.result) {
      case RecordResult::Done:
        ++m_done;
        break;
      case RecordResult::Skipped:
        ++m_skipped;
        m_retryable.insert(KeyOf(record.receiver));
        break;
      case RecordResult::Failed:
      case RecordResult::Interrupted:
        ++m_failed;
        m_retryable.insert(KeyOf(record.receiver));
        m_status = std::max(m_status, record.status);
        break;
    }
    Report(m_console, record, m_options.json, m_options.apply.recordPassword);
    if (!m_options.apply.recordFile) return;
    std::wstring error;
    const std::string line =
        link::EncodeUtf8(RecordJson(record, m_options.apply.recordPassword) + L"\n", link::Unencodable::ReplacementCharacter);
    if (AppendToFile(*m_options.apply.recordFile, line, error)) return;
    // Without its record a receiver would be configured and not known to be:
    // no further one is taken.
    m_console.Err(L"The record could not be written: " + error + L"; no further receiver is taken.");
    m_status = std::max(m_status, kExitFailed);
    m_stopped = true;
  }

  const Options& m_options;
  Platform& m_platform;
  SharedConsole m_console;
  const WantedValues& m_wanted;
  std::optional<ValuesTable> m_table;
  std::unique_ptr<TypedLines> m_typed;
  std::list<ReceiverJob> m_jobs;
  std::set<std::wstring> m_handled;
  std::set<std::wstring> m_retryable;
  unsigned m_done = 0;
  unsigned m_failed = 0;
  unsigned m_skipped = 0;
  int m_status = kExitOk;
  bool m_stopped = false;
};

}  // namespace

ReceiverRecord RecordOf(const AttachedReceiver& receiver, const ApplyOutcome& outcome) {
  ReceiverRecord record;
  record.time = LocalTimeText(std::chrono::system_clock::now());
  record.receiver = receiver;
  record.firmwareVersion = outcome.firmwareVersion;
  record.written = outcome.written;
  record.result = outcome.status == kExitOk                ? RecordResult::Done
                  : outcome.status == kExitSentUnconfirmed ? RecordResult::Interrupted
                  : outcome.status == kExitInterrupted     ? RecordResult::Interrupted
                                                           : RecordResult::Failed;
  record.status = outcome.status;
  record.message = outcome.message;
  return record;
}

int ApplyToAll(const Options& options, Platform& platform, const WantedValues& wanted) {
  SharedConsole console(platform.console);
  const std::vector<AttachedReceiver> receivers = AttachedReceivers(platform.stack);
  if (receivers.empty()) {
    console.Err(L"No receiver is attached.");
    return kExitNotFound;
  }
  std::list<ReceiverJob> jobs;
  for (const AttachedReceiver& receiver : receivers) {
    jobs.emplace_back(platform, console, receiver, wanted, options.apply, platform.interrupted);
  }
  int status = kExitOk;
  // Each receiver's result as soon as it has one.
  while (!jobs.empty()) {
    for (auto it = jobs.begin(); it != jobs.end();) {
      if (!it->Done()) {
        ++it;
        continue;
      }
      const ApplyOutcome& outcome = it->Outcome();
      status = std::max(status, outcome.status);
      Report(console, RecordOf(it->Receiver(), outcome), options.json, false);
      it = jobs.erase(it);
    }
    if (!jobs.empty()) platform.pump.PumpWait(kLookMs);
  }
  return status;
}

int Provision(const Options& options, Platform& platform, const WantedValues& wanted) {
  return Provisioning(options, platform, wanted).Run();
}

}  // namespace nerova::cli
