#pragma once
// nerova-cli's JSON, format 1, as nerova-cli.schema.json describes it: what
// show, list, watch and the records of apply and provision write, and the
// configurations and tables apply and provision read. A value the receiver
// did not answer is null, never a read's failure value.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/cli/cli_options.h"
#include "app/cli/receiver_choice.h"
#include "settings/configuration.h"
#include "settings/stored_settings.h"

namespace nerova::cli {

// Grows when a member changes its meaning or goes; members may be added
// within a format.
inline constexpr int kJsonFormat = 1;

std::wstring ShowJson(const AttachedReceiver& receiver, const settings::StoredSettings& stored);

// How a receiver in the list answered.
enum class ListState { Ready, InUse, NotLockable, NotAnswering, NotAccessible, ControlSize };

struct ListEntry {
  AttachedReceiver receiver;
  // Read when the state is Ready.
  std::wstring firmwareVersion;
  ListState state = ListState::Ready;
};
std::wstring ListJson(const std::vector<ListEntry>& entries);

// One reading of watch; `rssi` kRssiFailed when it could not be read.
std::wstring WatchJson(const std::wstring& time, std::int32_t rssi);

// What became of one receiver in apply or provision.
enum class RecordResult { Done, Failed, Skipped, Interrupted };

struct ReceiverRecord {
  std::wstring time;
  AttachedReceiver receiver;
  // Empty when it could not be read.
  std::wstring firmwareVersion;
  // What was sent, when anything was.
  std::optional<settings::Configuration> written;
  RecordResult result = RecordResult::Done;
  int status = 0;
  std::wstring message;
};
// The password is left out unless `withPassword`.
std::wstring RecordJson(const ReceiverRecord& record, bool withPassword);
std::wstring_view RecordResultName(RecordResult result);

// A configuration as show --json writes it (UTF-8): its editable values;
// null or absent ones are not given and the other members are ignored.
// None, with the reason in `error`, for a text that is no such object.
std::optional<WantedValues> ConfigurationFromJson(std::string_view text, std::wstring& error);

// Values per receiver by serial number (UTF-8): CSV with a header line
// naming "serial" and any of ssid, password, model, url, long-press and
// aging, or JSON (an object keyed by serial number, or an array of objects
// each with a "serial", their values named as show --json names them).
using ValuesTable = std::map<std::wstring, WantedValues>;
std::optional<ValuesTable> TableFromText(std::string_view text, std::wstring& error);

}  // namespace nerova::cli
