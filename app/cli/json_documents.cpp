#include "app/cli/json_documents.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>

#include "app/cli/settings_report.h"
#include "link/receiver_settings.h"
#include "link/utf8_codec.h"
#include "settings/camera_model.h"

namespace nerova::cli {
namespace {

using Json = nlohmann::ordered_json;

std::string Utf8(std::wstring_view text) { return link::EncodeUtf8(text, link::Unencodable::ReplacementCharacter); }

Json Text(std::wstring_view text) { return Utf8(text); }
// A text that is none when empty (a serial number or port the platform
// could not tell).
Json TextOrNull(const std::wstring& text) { return text.empty() ? Json(nullptr) : Text(text); }

std::wstring Dumped(const Json& json) {
  return link::DecodeUtf8(json.dump(-1, ' ', false, Json::error_handler_t::replace));
}

Json Identity(const AttachedReceiver& receiver) {
  return Json{{"name", Text(receiver.name)}, {"serial", TextOrNull(receiver.serial)}, {"port", TextOrNull(receiver.port)}};
}

std::wstring_view ListStateName(ListState state) {
  switch (state) {
    case ListState::Ready:
      return L"ready";
    case ListState::InUse:
      return L"in-use";
    case ListState::NotLockable:
      return L"not-lockable";
    case ListState::NotAnswering:
      return L"not-answering";
    case ListState::NotAccessible:
      return L"not-accessible";
    case ListState::ControlSize:
      break;
  }
  return L"control-size";
}

// The JSON of a configuration's value, or the reason it cannot be one.
template <typename T>
std::optional<T> Member(const Json& object, const char* name, std::wstring& error);

template <>
std::optional<std::wstring> Member(const Json& object, const char* name, std::wstring& error) {
  const auto found = object.find(name);
  if (found == object.end() || found->is_null()) return std::nullopt;
  if (!found->is_string()) {
    error = L"\"" + link::DecodeUtf8(name) + L"\" is not a text";
    return std::nullopt;
  }
  return link::DecodeUtf8(found->get_ref<const std::string&>());
}

template <>
std::optional<std::int32_t> Member(const Json& object, const char* name, std::wstring& error) {
  const auto found = object.find(name);
  if (found == object.end() || found->is_null()) return std::nullopt;
  if (!found->is_number_integer() || found->get<std::int64_t>() < 0 || found->get<std::int64_t>() > 100000) {
    error = L"\"" + link::DecodeUtf8(name) + L"\" is not a count of tenths of a second";
    return std::nullopt;
  }
  return static_cast<std::int32_t>(found->get<std::int64_t>());
}

template <>
std::optional<bool> Member(const Json& object, const char* name, std::wstring& error) {
  const auto found = object.find(name);
  if (found == object.end() || found->is_null()) return std::nullopt;
  if (!found->is_boolean()) {
    error = L"\"" + link::DecodeUtf8(name) + L"\" is not true or false";
    return std::nullopt;
  }
  return found->get<bool>();
}

// The editable values of one object named as show --json names them.
std::optional<WantedValues> ValuesOf(const Json& object, std::wstring& error) {
  if (!object.is_object()) {
    error = L"a configuration is a JSON object";
    return std::nullopt;
  }
  if (const auto format = object.find("format"); format != object.end()) {
    if (!format->is_number_integer() || format->get<std::int64_t>() < 1) {
      error = L"\"format\" is not a format number";
      return std::nullopt;
    }
    if (format->get<std::int64_t>() > kJsonFormat) {
      error = L"it is of format " + std::to_wstring(format->get<std::int64_t>()) + L", written by a newer nerova-cli";
      return std::nullopt;
    }
  }
  WantedValues values;
  error.clear();
  values.model = Member<std::wstring>(object, "model", error);
  // A model stands for its own URL: the URL beside it is not another value.
  if (!values.model) values.url = Member<std::wstring>(object, "url", error);
  values.ssid = Member<std::wstring>(object, "wifiName", error);
  values.password = Member<std::wstring>(object, "wifiPassword", error);
  values.longPressTime = Member<std::int32_t>(object, "longPressTime", error);
  values.agingTest = Member<bool>(object, "agingTest", error);
  if (!error.empty()) return std::nullopt;
  return values;
}

// How deeply arrays and objects nest in `text`, strings aside.
std::size_t NestingDepth(std::string_view text) {
  std::size_t depth = 0;
  std::size_t deepest = 0;
  bool inString = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (inString) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        inString = false;
      }
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      deepest = std::max(deepest, ++depth);
    } else if ((c == ']' || c == '}') && depth > 0) {
      --depth;
    }
  }
  return deepest;
}

// Configurations and tables nest three deep; anything far deeper is refused
// before it is parsed, since copying or comparing a value recurses once per
// level.
constexpr std::size_t kDeepestNesting = 32;

std::optional<Json> Parsed(std::string_view text, std::wstring& error) {
  if (NestingDepth(text) > kDeepestNesting) {
    error = L"it nests more than " + std::to_wstring(kDeepestNesting) + L" levels deep";
    return std::nullopt;
  }
  Json json = Json::parse(text.begin(), text.end(), nullptr, false);
  if (json.is_discarded()) {
    error = L"it is not JSON";
    return std::nullopt;
  }
  return std::optional<Json>(std::move(json));
}

// One CSV line's fields; quoted fields may hold commas and doubled quotes.
std::optional<std::vector<std::string>> CsvFields(std::string_view line) {
  std::vector<std::string> fields(1);
  bool quoted = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (quoted) {
      if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
        fields.back() += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        fields.back() += c;
      }
    } else if (c == '"' && fields.back().empty()) {
      quoted = true;
    } else if (c == ',') {
      fields.emplace_back();
    } else {
      fields.back() += c;
    }
  }
  if (quoted) return std::nullopt;
  return fields;
}

std::optional<ValuesTable> TableFromCsv(std::string_view text, std::wstring& error) {
  static constexpr std::array<std::string_view, 7> kColumns{"serial", "ssid",     "password", "model",
                                                             "url",    "long-press", "aging"};
  std::vector<std::size_t> columns;  // index into kColumns of each field
  ValuesTable table;
  std::size_t lineNumber = 0;
  while (!text.empty()) {
    const std::size_t end = std::min(text.find('\n'), text.size());
    std::string_view line = text.substr(0, end);
    text.remove_prefix(std::min(end + 1, text.size()));
    ++lineNumber;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) continue;
    const std::wstring where = L"line " + std::to_wstring(lineNumber) + L": ";
    const std::optional<std::vector<std::string>> fields = CsvFields(line);
    if (!fields) {
      error = where + L"a quoted field does not end";
      return std::nullopt;
    }
    if (columns.empty()) {
      for (const std::string& name : *fields) {
        const auto known = std::find(kColumns.begin(), kColumns.end(), name);
        if (known == kColumns.end()) {
          error = where + L"there is no column " + link::DecodeUtf8(name);
          return std::nullopt;
        }
        columns.push_back(static_cast<std::size_t>(known - kColumns.begin()));
      }
      if (std::find(columns.begin(), columns.end(), 0) == columns.end()) {
        error = L"the header line names no serial column";
        return std::nullopt;
      }
      continue;
    }
    if (fields->size() != columns.size()) {
      error = where + L"it has " + std::to_wstring(fields->size()) + L" fields, the header " +
              std::to_wstring(columns.size());
      return std::nullopt;
    }
    std::wstring serial;
    WantedValues values;
    for (std::size_t i = 0; i < columns.size(); ++i) {
      const std::string& field = (*fields)[i];
      // An empty cell gives no value: the receiver keeps what it holds.
      if (field.empty()) continue;
      const std::wstring value = link::DecodeUtf8(field);
      switch (columns[i]) {
        case 0: serial = value; break;
        case 1: values.ssid = value; break;
        case 2: values.password = value; break;
        case 3: values.model = value; break;
        case 4: values.url = value; break;
        case 5: {
          const bool digits = field.size() <= 6 && std::all_of(field.begin(), field.end(), [](char c) {
            return c >= '0' && c <= '9';
          });
          if (!digits) {
            error = where + L"long-press is a count of tenths of a second";
            return std::nullopt;
          }
          values.longPressTime = std::stoi(field);
          break;
        }
        default:
          if (field != "on" && field != "off") {
            error = where + L"aging is on or off";
            return std::nullopt;
          }
          values.agingTest = field == "on";
          break;
      }
    }
    if (serial.empty()) {
      error = where + L"it has no serial number";
      return std::nullopt;
    }
    if (values.model && values.url) {
      error = where + L"it gives both a model and a URL";
      return std::nullopt;
    }
    if (!table.emplace(serial, values).second) {
      error = where + L"serial number " + serial + L" is in the table twice";
      return std::nullopt;
    }
  }
  if (columns.empty()) {
    error = L"it has no header line";
    return std::nullopt;
  }
  return table;
}

std::optional<ValuesTable> TableFromJson(const Json& json, std::wstring& error) {
  ValuesTable table;
  auto add = [&](const std::wstring& serial, const Json& object) {
    std::optional<WantedValues> values = ValuesOf(object, error);
    if (!values) {
      error = L"serial number " + serial + L": " + error;
      return false;
    }
    if (serial.empty() || !table.emplace(serial, *values).second) {
      error = serial.empty() ? L"an entry has no serial number" : L"serial number " + serial + L" is in it twice";
      return false;
    }
    return true;
  };
  if (json.is_object()) {
    for (const auto& [serial, object] : json.items()) {
      if (!add(link::DecodeUtf8(serial), object)) return std::nullopt;
    }
    return table;
  }
  if (!json.is_array()) {
    error = L"a table is a JSON object keyed by serial number or an array";
    return std::nullopt;
  }
  for (const Json& object : json) {
    std::wstring serial;
    if (object.is_object()) serial = Member<std::wstring>(object, "serial", error).value_or(L"");
    if (!add(serial, object)) return std::nullopt;
  }
  return table;
}

}  // namespace

std::wstring ShowJson(const AttachedReceiver& receiver, const settings::StoredSettings& stored) {
  using settings::StoredValue;
  auto known = [&](StoredValue value, Json json) { return stored.Answered(value) ? json : Json(nullptr); };
  const bool urlKnown = stored.Answered(StoredValue::Url);
  const auto [mode, model] = ModeOf(stored.url);
  const bool rssiKnown = stored.Answered(StoredValue::Rssi);
  Json json{{"format", kJsonFormat},
            {"receiver", Identity(receiver)},
            {"mode", urlKnown ? Text(mode) : Json(nullptr)},
            {"model", urlKnown && model ? Text(model->name) : Json(nullptr)},
            {"url", known(StoredValue::Url, Text(stored.url))},
            {"wifiName", known(StoredValue::WifiName, Text(stored.wifiName))},
            {"wifiPassword", known(StoredValue::WifiPassword, Text(stored.wifiPassword))},
            {"resolution", known(StoredValue::Resolution,
                                 Json{{"width", stored.resolutionWidth}, {"height", stored.resolutionHeight}})},
            {"longPressTime", known(StoredValue::LongPressTime, Json(stored.longPressTime))},
            {"agingTest", known(StoredValue::AgingTest, Json(stored.agingTest))},
            {"firmwareVersion", known(StoredValue::FirmwareVersion, Text(stored.firmwareVersion))},
            {"rssi", rssiKnown ? Json(stored.rssi) : Json(nullptr)},
            {"signalLevel", rssiKnown ? Text(SignalLevelName(stored.rssi)) : Json(nullptr)}};
  return Dumped(json);
}

std::wstring ListJson(const std::vector<ListEntry>& entries) {
  Json receivers = Json::array();
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const ListEntry& entry = entries[i];
    Json item{{"number", i + 1}};
    // Held by name: items() of a temporary would outlive it.
    const Json identity = Identity(entry.receiver);
    for (const auto& [key, value] : identity.items()) item[key] = value;
    item["firmwareVersion"] = entry.state == ListState::Ready ? TextOrNull(entry.firmwareVersion) : Json(nullptr);
    item["state"] = Text(ListStateName(entry.state));
    receivers.push_back(std::move(item));
  }
  return Dumped(Json{{"format", kJsonFormat}, {"receivers", std::move(receivers)}});
}

std::wstring WatchJson(const std::wstring& time, std::int32_t rssi) {
  const bool known = rssi != link::kRssiFailed;
  return Dumped(Json{{"format", kJsonFormat},
                     {"time", Text(time)},
                     {"rssi", known ? Json(rssi) : Json(nullptr)},
                     {"signalLevel", known ? Text(SignalLevelName(rssi)) : Json(nullptr)}});
}

std::wstring_view RecordResultName(RecordResult result) {
  switch (result) {
    case RecordResult::Done:
      return L"done";
    case RecordResult::Failed:
      return L"failed";
    case RecordResult::Skipped:
      return L"skipped";
    case RecordResult::Interrupted:
      break;
  }
  return L"interrupted";
}

std::wstring RecordJson(const ReceiverRecord& record, bool withPassword) {
  Json written(nullptr);
  if (record.written) {
    const settings::Configuration& c = *record.written;
    written = Json{{"url", Text(c.url)}, {"wifiName", Text(c.wifiName)}};
    if (withPassword) written["wifiPassword"] = Text(c.wifiPassword);
    written["longPressTime"] = c.longPressTime ? Json(*c.longPressTime) : Json(nullptr);
    written["agingTest"] = c.agingTest ? Json(*c.agingTest) : Json(nullptr);
  }
  return Dumped(Json{{"format", kJsonFormat},
                     {"time", Text(record.time)},
                     {"serial", TextOrNull(record.receiver.serial)},
                     {"port", TextOrNull(record.receiver.port)},
                     {"name", Text(record.receiver.name)},
                     {"firmwareVersion", TextOrNull(record.firmwareVersion)},
                     {"written", std::move(written)},
                     {"result", Text(RecordResultName(record.result))},
                     {"status", record.status},
                     {"message", Text(record.message)}});
}

std::optional<WantedValues> ConfigurationFromJson(std::string_view text, std::wstring& error) {
  const std::optional<Json> json = Parsed(text, error);
  if (!json) return std::nullopt;
  return ValuesOf(*json, error);
}

std::optional<ValuesTable> TableFromText(std::string_view text, std::wstring& error) {
  // A UTF-8 byte order mark, as spreadsheet programs write one, is no part
  // of the table.
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  const std::size_t first = text.find_first_not_of(" \t\r\n");
  if (first != std::string_view::npos && (text[first] == '{' || text[first] == '[')) {
    const std::optional<Json> json = Parsed(text, error);
    if (!json) return std::nullopt;
    return TableFromJson(*json, error);
  }
  return TableFromCsv(text, error);
}

}  // namespace nerova::cli
