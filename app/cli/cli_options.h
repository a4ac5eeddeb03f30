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

enum class Command { Help, Version, List, Show, Apply, Watch, Update };

struct ApplyOptions {
  std::optional<std::wstring> model;
  std::optional<std::wstring> url;
  std::optional<std::wstring> ssid;
  std::optional<std::wstring> password;
  // Tenths of a second.
  std::optional<std::int32_t> longPressTime;
  std::optional<bool> agingTest;
  bool wait = true;
  std::uint32_t timeoutSeconds = 90;
};

struct Options {
  Command command = Command::Help;
  // A number from "list" or a receiver's name as "list" shows it; empty: the
  // only receiver attached.
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
