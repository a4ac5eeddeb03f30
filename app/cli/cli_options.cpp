#include "app/cli/cli_options.h"

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
  kForReceiverCommands = kForList | kForShow | kForApply | kForWatch,
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

constexpr std::array<KnownOption, 14> kOptions{{
    {L"--help", false, kForAll, nullptr},
    {L"--version", false, kForAll, nullptr},
    {L"--device", true, kForReceiverCommands,
     [](const std::wstring& value, Options& options) {
       options.device = value;
       return std::wstring();
     }},
    {L"--codepage", true, kForReceiverCommands,
     [](const std::wstring& value, Options& options) {
       options.codePage = ParseNumber(value, 1, 65535);
       return options.codePage ? std::wstring() : L"--codepage takes a code page number, such as 936 or 1252";
     }},
    {L"--json", false, kForShow,
     [](const std::wstring&, Options& options) {
       options.json = true;
       return std::wstring();
     }},
    {L"--model", true, kForApply,
     [](const std::wstring& value, Options& options) {
       options.apply.model = value;
       return std::wstring();
     }},
    {L"--url", true, kForApply,
     [](const std::wstring& value, Options& options) {
       options.apply.url = value;
       return std::wstring();
     }},
    {L"--ssid", true, kForApply,
     [](const std::wstring& value, Options& options) {
       options.apply.ssid = value;
       return std::wstring();
     }},
    {L"--password", true, kForApply,
     [](const std::wstring& value, Options& options) {
       options.apply.password = value;
       return std::wstring();
     }},
    {L"--long-press", true, kForApply,
     [](const std::wstring& value, Options& options) {
       // Any count of tenths is taken here; the receiver's range is checked
       // with the other values.
       const std::optional<std::uint32_t> tenths = ParseNumber(value, 0, 100000);
       if (!tenths) return std::wstring(L"--long-press takes a time in tenths of a second, such as 24");
       options.apply.longPressTime = static_cast<std::int32_t>(*tenths);
       return std::wstring();
     }},
    {L"--aging", true, kForApply,
     [](const std::wstring& value, Options& options) {
       if (value != L"on" && value != L"off") return std::wstring(L"--aging takes on or off");
       options.apply.agingTest = value == L"on";
       return std::wstring();
     }},
    {L"--no-wait", false, kForApply,
     [](const std::wstring&, Options& options) {
       options.apply.wait = false;
       return std::wstring();
     }},
    {L"--timeout", true, kForApply,
     [](const std::wstring& value, Options& options) {
       const std::optional<std::uint32_t> seconds = ParseNumber(value, 1, 3600);
       if (!seconds) return std::wstring(L"--timeout takes a number of seconds from 1 to 3600");
       options.apply.timeoutSeconds = *seconds;
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

constexpr std::array<CommandName, 5> kCommands{{
    {L"list", Command::List, kForList},
    {L"show", Command::Show, kForShow},
    {L"apply", Command::Apply, kForApply},
    {L"watch", Command::Watch, kForWatch},
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

  if (options.command == Command::Apply && options.apply.model.has_value() == options.apply.url.has_value()) {
    return Refuse(L"apply takes either --model or --url");
  }
  return ParsedArguments{options, {}};
}

std::wstring UsageText() {
  // Laid out as help2man reads it, for the manual page: each item's text on
  // its own line or after two blanks, continued in the same column.
  return LR"(Usage: nerova-cli [--device DEVICE] [--codepage N] COMMAND [OPTIONS]

Shows and changes the settings of a Nerova wireless video receiver.

Commands:
  list                  The receivers attached, one line each: number, name,
                        firmware version.
  show [--json]         Mode, camera model, stream URL, camera Wi-Fi name and
                        password, resolution, long-press time, aging test,
                        firmware version and signal.
  apply (--model NAME | --url URL) [OPTIONS]
                        Writes the configuration and restarts the receiver,
                        then waits for it to come back and reads the settings
                        back. --model writes the model's own stream URL;
                        values not given keep what the receiver holds, and a
                        long-press time or aging test it does not answer is
                        left alone unless given (apply says so).
  watch [--count N]     The signal strength every 2 s, until interrupted or N
                        readings.
  update PACKAGE        Unpacks a firmware package (.zip) and starts the
                        flashing tool it carries (Windows only).

Camera models: )" + CameraModelNames() + LR"(.

Apply options:
  --ssid NAME           The camera's Wi-Fi name, at most )" + std::to_wstring(settings::kSsidMaxBytes) + LR"( bytes in the
                        receiver's code page.
  --password PASSWORD   The camera's Wi-Fi password.
  --long-press TENTHS   The long-press time, from )" + std::to_wstring(settings::kLongPressMin) + L" to " +
         std::to_wstring(settings::kLongPressMax) + LR"( tenths of a second.
  --aging on|off        Turns the aging test on or off.
  --no-wait             Ends once the restart is under way.
  --timeout SECONDS     How long to wait for the receiver to come back: 90 s
                        unless given.

Options:
  --device DEVICE       The receiver to use when several are attached: its
                        number or its name as "list" shows them.
  --codepage N          The code page of the receiver's texts (936, 1251,
                        1252, ...); by default the one of this computer's
                        language.
  --help, -h            The commands, options and exit status.
  --version             The program's version.

Exit status:
  0  done
  1  the firmware package could not be unpacked or its tool not started
  2  the command line is not understood
  3  no receiver is attached, or it cannot be opened or does not answer,
     or another program (the settings window) kept it for longer than 6 s
  4  a value was refused; nothing was written
  5  a write failed, the receiver does not hold what was written, or it
     neither acknowledged the restart command nor was seen to restart
  6  the receiver did not come back after its restart in time
  7  interrupted after the first write: the whole configuration and the
     restart were sent, and not read back
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
