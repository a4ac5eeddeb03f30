#pragma once
// nerova-cli's command line: the command, its options and the global ones,
// checked for form (a number where a number belongs, one of --model and
// --url). Whether the values suit the receiver is decided by the command.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace nerova::cli {

enum class Command { Help, Version, List, Show, Apply, Watch, Provision, Update };

// The values a configuration may set; each one not given keeps what the
// receiver holds. Given on the command line, in a file (--from) or in a
// receiver's row of a table.
struct WantedValues {
  std::optional<std::wstring> model;
  std::optional<std::wstring> url;
  std::optional<std::wstring> ssid;
  std::optional<std::wstring> password;
  // Tenths of a second.
  std::optional<std::int32_t> longPressTime;
  std::optional<bool> agingTest;

  // The values `over` gives replace these; a model or URL replaces both.
  void Override(const WantedValues& over);
};

// Where a text comes from: a file, or standard input ("-").
inline constexpr std::wstring_view kStandardInput = L"-";

// The fields provision asks on the terminal for each receiver.
struct AskedFields {
  bool ssid = false;
  bool password = false;
  bool Any() const { return ssid || password; }
};

struct ApplyOptions {
  WantedValues values;
  // A configuration as show --json writes it; the command line's values
  // override it.
  std::optional<std::wstring> fromFile;
  // The password's first line.
  std::optional<std::wstring> passwordFile;
  // apply: every receiver attached, at the same time.
  bool all = false;
  bool wait = true;
  std::uint32_t timeoutSeconds = 90;
  // provision: per-receiver values keyed by serial number, the fields
  // asked for each receiver, and where each receiver's record goes.
  std::optional<std::wstring> tableFile;
  AskedFields ask;
  std::optional<std::wstring> recordFile;
  bool recordPassword = false;
};

struct Options {
  Command command = Command::Help;
  // A number from "list", or a receiver's name, serial number or port as
  // "list" shows them; empty: the only receiver attached.
  std::wstring device;
  std::optional<std::uint32_t> codePage;
  bool json = false;
  ApplyOptions apply;
  // watch: readings to take before ending; none: until interrupted.
  std::optional<std::uint32_t> count;
  std::wstring package;
};

struct ParsedArguments {
  std::optional<Options> options;
  // Why the arguments were refused, when they were.
  std::wstring error;
};

// `arguments` without the program name.
ParsedArguments ParseArguments(const std::vector<std::wstring>& arguments);

// The --help text, lines joined with "\n".
std::wstring UsageText();
// The camera models --model accepts: "RC300W, RD700/RC60H5".
std::wstring CameraModelNames();
// "nerova-cli 1.1.0".
std::wstring VersionText();

}  // namespace nerova::cli
