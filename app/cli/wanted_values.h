#pragma once
// The values a configuring command was given: from --from, the password
// file and the command line, in that order of strength, each checked before
// any receiver is looked for.
#include <functional>
#include <optional>
#include <string>

#include "app/cli/cli_options.h"
#include "link/text_codec.h"

namespace nerova::cli {

struct ValueSources {
  // Standard input up to its end, or up to `limit` bytes and one more;
  // none when it cannot be read.
  std::function<std::optional<std::string>(std::size_t limit)> readStandardInput;
  std::function<void(const std::wstring&)> error;
};

// The values `apply` gives, or the exit status after saying why not: the
// usage status for a file that cannot be read or understood.
int GatherWantedValues(const ApplyOptions& apply, const ValueSources& sources, WantedValues& out);

// Configurations, tables and passwords are small: a larger source is
// refused rather than read whole (a device file would never end).
inline constexpr std::size_t kLargestSource = 16 * 1024 * 1024;

// The file's or standard input's ("-") bytes; none after saying why.
std::optional<std::string> ReadSource(const std::wstring& path, const ValueSources& sources);

// Checks every value given as the receiver would take it, texts trimmed in
// place: the message for the first one refused, none when all may go out.
std::optional<std::wstring> CheckWantedValues(WantedValues& values, const link::TextCodec& codec);

}  // namespace nerova::cli
