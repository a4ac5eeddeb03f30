#include "app/cli/cli_options.h"

#include <algorithm>
#include <array>

#include "settings/apply_check.h"
#include "settings/camera_model.h"
#include "settings/long_press.h"

namespace nerova::cli {
namespace {

// Which commands an option belongs to.
enum : unsigned {
  kForList = 1u << 0,
  kForShow = 1u << 1,
  kForApply = 1u << 2,
  kForWatch = 1u << 3,
  kForUpdate = 1u << 4,
  kForProvision = 1u << 5,
  kForConfiguring = kForApply | kForProvision,
  kForReceiverCommands = kForList | kForShow | kForApply | kForWatch | kForProvision,
  kForAll = kForReceiverCommands | kForUpdate,
};

// Stores an option's value in `options`; the error text when the value is
// not of the option's form.
using StoreFn = std::wstring (*)(const std::wstring& value, Options& options);

struct KnownOption {
  std::wstring_view name;
  bool takesValue;
  unsigned commands;
  // Null for the options the parser itself looks at (--help, --version).
  StoreFn store;
};

// A decimal number from `lowest` to `highest`, digits only.
std::optional<std::uint32_t> ParseNumber(std::wstring_view text, std::uint32_t lowest, std::uint32_t highest) {
  if (text.empty() || text.size() > 9) return std::nullopt;
  std::uint32_t value = 0;
  for (wchar_t c : text) {
    if (c < L'0' || c > L'9') return std::nullopt;
    value = value * 10 + static_cast<std::uint32_t>(c - L'0');
  }
  if (value < lowest || value > highest) return std::nullopt;
  return value;
}

std::wstring StoreText(std::optional<std::wstring>& into, const std::wstring& value) {
  into = value;
  return {};
}

// "ssid,password", either alone or both.
std::wstring StoreAskedFields(const std::wstring& value, AskedFields& ask) {
  std::size_t begin = 0;
  while (begin <= value.size()) {
    const std::size_t comma = std::min(value.find(L',', begin), value.size());
    const std::wstring field = value.substr(begin, comma - begin);
    if (field == L"ssid") {
      ask.ssid = true;
    } else if (field == L"password") {
      ask.password = true;
    } else {
      return L"--ask takes ssid, password or both: ssid,password";
    }
    begin = comma + 1;
  }
  return {};
}

constexpr std::array<KnownOption, 25> kOptions{{
    {L"--help", false, kForAll, nullptr},
    {L"--version", false, kForAll, nullptr},
    {L"--device", true, kForList | kForShow | kForApply | kForWatch,
     [](const std::wstring& value, Options& options) {
       options.device = value;
       return std::wstring();
     }},
    {L"--codepage", true, kForReceiverCommands,
     [](const std::wstring& value, Options& options) {
       options.codePage = ParseNumber(value, 1, 65535);
       return options.codePage ? std::wstring() : L"--codepage takes a code page number, such as 936 or 1252";
     }},
    {L"--json", false, kForReceiverCommands,
     [](const std::wstring&, Options& options) {
       options.json = true;
       return std::wstring();
     }},
    {L"--model", true, kForConfiguring,
     [](const std::wstring& value, Options& options) { return StoreText(options.apply.values.model, value); }},
    {L"--url", true, kForConfiguring,
     [](const std::wstring& value, Options& options) { return StoreText(options.apply.values.url, value); }},
    {L"--ssid", true, kForConfiguring,
     [](const std::wstring& value, Options& options) { return StoreText(options.apply.values.ssid, value); }},
    {L"--password", true, kForConfiguring,
     [](const std::wstring& value, Options& options) { return StoreText(options.apply.values.password, value); }},
    {L"--password-file", true, kForConfiguring,
     [](const std::wstring& value, Options& options) { return StoreText(options.apply.passwordFile, value); }},
    {L"--long-press", true, kForConfiguring,
     [](const std::wstring& value, Options& options) {
       // Any count of tenths is taken here; the receiver's range is checked
       // with the other values.
       const std::optional<std::uint32_t> tenths = ParseNumber(value, 0, 100000);
       if (!tenths) return std::wstring(L"--long-press takes a time in tenths of a second, such as 24");
       options.apply.values.longPressTime = static_cast<std::int32_t>(*tenths);
       return std::wstring();
     }},
    {L"--aging", true, kForConfiguring,
     [](const std::wstring& value, Options& options) {
       if (value != L"on" && value != L"off") return std::wstring(L"--aging takes on or off");
       options.apply.values.agingTest = value == L"on";
       return std::wstring();
     }},
    {L"--from", true, kForConfiguring,
     [](const std::wstring& value, Options& options) { return StoreText(options.apply.fromFile, value); }},
    {L"--all", false, kForApply,
     [](const std::wstring&, Options& options) {
       options.apply.all = true;
       return std::wstring();
     }},
    {L"--no-wait", false, kForApply,
     [](const std::wstring&, Options& options) {
       options.apply.wait = false;
       return std::wstring();
     }},
    {L"--timeout", true, kForConfiguring,
     [](const std::wstring& value, Options& options) {
       const std::optional<std::uint32_t> seconds = ParseNumber(value, 1, 3600);
       if (!seconds) return std::wstring(L"--timeout takes a number of seconds from 1 to 3600");
       options.apply.timeoutSeconds = *seconds;
       return std::wstring();
     }},
    {L"--table", true, kForProvision,
     [](const std::wstring& value, Options& options) { return StoreText(options.apply.tableFile, value); }},
    {L"--ask", true, kForProvision,
     [](const std::wstring& value, Options& options) { return StoreAskedFields(value, options.apply.ask); }},
    {L"--record", true, kForProvision,
     [](const std::wstring& value, Options& options) { return StoreText(options.apply.recordFile, value); }},
    {L"--record-password", false, kForProvision,
     [](const std::wstring&, Options& options) {
       options.apply.recordPassword = true;
       return std::wstring();
     }},
    {L"--count", true, kForWatch,
     [](const std::wstring& value, Options& options) {
       options.count = ParseNumber(value, 1, 1000000);
       return options.count ? std::wstring() : L"--count takes a number of readings, 1 or more";
     }},
}};

struct CommandName {
  std::wstring_view name;
  Command command;
  unsigned mask;
};

constexpr std::array<CommandName, 6> kCommands{{
    {L"list", Command::List, kForList},
    {L"show", Command::Show, kForShow},
    {L"apply", Command::Apply, kForApply},
    {L"watch", Command::Watch, kForWatch},
    {L"provision", Command::Provision, kForProvision},
    {L"update", Command::Update, kForUpdate},
}};

const KnownOption* FindOption(std::wstring_view name) {
  for (const KnownOption& known : kOptions) {
    if (known.name == name) return &known;
  }
  return nullptr;
}

struct GivenOption {
  const KnownOption* known;
  std::wstring value;
};

ParsedArguments Refuse(std::wstring error) { return ParsedArguments{std::nullopt, std::move(error)}; }

}  // namespace

ParsedArguments ParseArguments(const std::vector<std::wstring>& arguments) {
  std::vector<GivenOption> given;
  std::vector<std::wstring> words;
  bool help = false;
  bool version = false;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::wstring& argument = arguments[i];
    if (argument.size() < 2 || argument.compare(0, 2, L"--") != 0) {
      if (argument == L"-h") {
        help = true;
        continue;
      }
      if (!argument.empty() && argument[0] == L'-') return Refuse(L"unknown option " + argument);
      words.push_back(argument);
      continue;
    }
    const std::size_t equals = argument.find(L'=');
    const std::wstring name = argument.substr(0, equals);
    const KnownOption* known = FindOption(name);
    if (!known) return Refuse(L"unknown option " + name);
    if (known->name == L"--help") help = true;
    if (known->name == L"--version") version = true;
    GivenOption option{known, {}};
    if (known->takesValue) {
      if (equals != std::wstring::npos) {
        option.value = argument.substr(equals + 1);
      } else if (i + 1 < arguments.size()) {
        option.value = arguments[++i];
      } else {
        return Refuse(name + L" needs a value");
      }
    } else if (equals != std::wstring::npos) {
      return Refuse(name + L" takes no value");
    }
    given.push_back(std::move(option));
  }

  Options options;
  if (help || version) {
    options.command = help ? Command::Help : Command::Version;
    return ParsedArguments{options, {}};
  }
  if (words.empty()) return Refuse(L"no command given");
  const CommandName* command = nullptr;
  for (const CommandName& candidate : kCommands) {
    if (candidate.name == words[0]) command = &candidate;
  }
  if (!command) return Refuse(L"unknown command " + words[0]);
  options.command = command->command;

  if (options.command == Command::Update) {
    if (words.size() != 2) return Refuse(L"update takes the firmware package's path");
    options.package = words[1];
  } else if (words.size() > 1) {
    return Refuse(std::wstring(command->name) + L" takes no argument " + words[1]);
  }

  for (const GivenOption& option : given) {
    if ((option.known->commands & command->mask) == 0) {
      return Refuse(std::wstring(option.known->name) + L" is not an option of " + std::wstring(command->name));
    }
    if (!option.known->store) continue;
    if (std::wstring error = option.known->store(option.value, options); !error.empty()) {
      return Refuse(std::move(error));
    }
  }

  const ApplyOptions& apply = options.apply;
  if (apply.values.model && apply.values.url) return Refuse(L"--model and --url cannot both be given");
  if (apply.values.password && apply.passwordFile) {
    return Refuse(L"--password and --password-file cannot both be given");
  }
  const int fromStandardInput = (apply.fromFile == kStandardInput) + (apply.passwordFile == kStandardInput) +
                                (apply.tableFile == kStandardInput) + apply.ask.Any();
  if (fromStandardInput > 1) {
    return Refuse(L"standard input can give only one of --from, --password-file, --table and --ask");
  }
  if (apply.all && !options.device.empty()) return Refuse(L"apply --all takes no --device");
  if (apply.ask.password && (apply.values.password || apply.passwordFile)) {
    return Refuse(L"--ask password and a password given cannot both be used");
  }
  return ParsedArguments{options, {}};
}

void WantedValues::Override(const WantedValues& over) {
  if (over.model || over.url) {
    model = over.model;
    url = over.url;
  }
  if (over.ssid) ssid = over.ssid;
  if (over.password) password = over.password;
  if (over.longPressTime) longPressTime = over.longPressTime;
  if (over.agingTest) agingTest = over.agingTest;
}

std::wstring UsageText() {
  // Laid out as help2man reads it, for the manual page: each item's text on
  // its own line or after two blanks, continued in the same column.
  return LR"(Usage: nerova-cli [--device DEVICE] [--codepage N] COMMAND [OPTIONS]

Shows and changes the settings of a Nerova wireless video receiver.

Commands:
  list [--json]         The receivers attached, one line each: number, serial
                        number, port, name, firmware version. Numbers follow
                        the order of the ports.
  show [--json]         Mode, camera model, stream URL, camera Wi-Fi name and
                        password, resolution, long-press time, aging test,
                        firmware version and signal. A value the receiver
                        did not answer shows as unknown (null in JSON).
  apply [OPTIONS]       Writes the configuration and restarts the receiver,
                        then waits for it to come back and reads the settings
                        back. Values not given keep what the receiver holds;
                        a long-press time or aging test it does not answer is
                        left alone unless given (apply says so).
  watch [--count N] [--json]
                        The time and signal strength every 2 s, until
                        interrupted or N readings.
  provision [OPTIONS]   Configures every receiver attached and each one
                        plugged in afterwards, once each (known by serial
                        number, else by port), reads it back and writes one
                        record per receiver, until interrupted (Ctrl+C).
  update PACKAGE        Unpacks a firmware package (.zip) and starts the
                        flashing tool it carries (Windows only).

Camera models: )" + CameraModelNames() + LR"(.

Apply and provision options:
  --model NAME          Auto mode: the camera model's own stream URL.
  --url URL             Manual mode: the stream URL.
  --ssid NAME           The camera's Wi-Fi name, at most )" + std::to_wstring(settings::kSsidMaxBytes) + LR"( bytes in the
                        receiver's code page.
  --password PASSWORD   The camera's Wi-Fi password.
  --password-file FILE  The password from the first line of FILE; - reads
                        standard input.
  --long-press TENTHS   The long-press time, from )" + std::to_wstring(settings::kLongPressMin) + L" to " +
         std::to_wstring(settings::kLongPressMax) + LR"( tenths of a second.
  --aging on|off        Turns the aging test on or off.
  --from FILE           A configuration as "show --json" writes it (- reads
                        standard input); the options above override it.
  --timeout SECONDS     How long to wait for the receiver to come back: 90 s
                        unless given.

Apply options:
  --all                 Every receiver attached, all at the same time; one
                        line (with --json one record) per receiver. The exit
                        status is the worst of theirs.
  --no-wait             Ends once the restart is under way.

Provision options:
  --table FILE          Values per receiver by serial number: CSV with a
                        header (serial,ssid,password,model,url,long-press,
                        aging) or JSON. A receiver not in it is skipped.
  --ask FIELDS          Asks ssid, password or ssid,password on the terminal
                        for each receiver (a barcode scanner that types the
                        camera's label serves).
  --record FILE         Appends one JSON record per receiver to FILE.
  --record-password     Records the password too; left out unless given.

Options:
  --device DEVICE       The receiver to use when several are attached: its
                        number, serial number, port or name as "list" shows
                        them.
  --json                JSON for scripts, as nerova-cli.schema.json describes
                        it: one document (list, show) or one object per line
                        (watch, and apply's and provision's records).
  --codepage N          The code page of the receiver's texts (936, 1251,
                        1252, ...); by default the one of this computer's
                        language.
  --help, -h            The commands, options and exit status.
  --version             The program's version.

Exit status:
  0  done
  1  the firmware package could not be unpacked or its tool not started, or
     the output could not be written
  2  the command line or a file it names is not understood
  3  no receiver is attached, or it cannot be opened or does not answer,
     or another program (the settings window) kept it for longer than 6 s
  4  a value was refused; nothing was written
  5  a write failed, the receiver does not hold what was written, or it
     neither acknowledged the restart command nor was seen to restart
  6  the receiver did not come back after its restart in time
  7  interrupted after the first write: the whole configuration and the
     restart were sent, and not read back
  8  show: a value could not be read (a key the receiver's firmware does not
     have is shown as unknown without it)
  130  interrupted before anything was written)";
}

std::wstring CameraModelNames() {
  std::wstring names;
  for (const settings::CameraModel& model : settings::kCameraModels) {
    if (!names.empty()) names += L", ";
    names += model.name;
  }
  return names;
}

std::wstring VersionText() {
  const char* version = NEROVA_CLI_VERSION;
  return L"nerova-cli " + std::wstring(version, version + std::char_traits<char>::length(version));
}

}  // namespace nerova::cli
