#include "sim/virtual/receiver_record.h"

#include <charconv>
#include <map>

namespace nerova::sim::virtual_receiver {
namespace {

template <typename T>
std::optional<T> Number(std::string_view text) {
  T value{};
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

template <typename T>
void ReadNumber(const std::map<std::string, std::string>& lines, const char* key, T& out) {
  if (const auto found = lines.find(key); found != lines.end()) {
    if (const std::optional<T> value = Number<T>(found->second)) out = *value;
  }
}

void ReadText(const std::map<std::string, std::string>& lines, const char* key, std::string& out) {
  if (const auto found = lines.find(key); found != lines.end()) {
    if (std::optional<std::string> value = FromHex(found->second)) out = std::move(*value);
  }
}

}  // namespace

bool IsFaultName(std::string_view name) {
  for (std::string_view known : kFaultNames) {
    if (known == name) return true;
  }
  return false;
}

std::uint32_t ReceiverRecord::ControlLength() const {
  if (Has("long-control")) return 64;
  if (Has("short-control")) return 32;
  return static_cast<std::uint32_t>(kCommandBlockSize);
}

std::string ToHex(std::string_view bytes, char separator) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string hex;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (separator && i > 0) hex += separator;
    const auto b = static_cast<unsigned char>(bytes[i]);
    hex += kDigits[b >> 4];
    hex += kDigits[b & 0xF];
  }
  return hex;
}

std::optional<std::string> FromHex(std::string_view hex) {
  if (hex.size() % 2 != 0) return std::nullopt;
  std::string bytes;
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    const std::optional<unsigned> b = [&]() -> std::optional<unsigned> {
      unsigned value = 0;
      const auto [end, error] = std::from_chars(hex.data() + i, hex.data() + i + 2, value, 16);
      if (error != std::errc() || end != hex.data() + i + 2) return std::nullopt;
      return value;
    }();
    if (!b) return std::nullopt;
    bytes += static_cast<char>(*b);
  }
  return bytes;
}

std::string FormatRecord(const ReceiverRecord& r) {
  std::string text;
  const auto line = [&text](const char* key, const std::string& value) {
    text += key;
    text += '=';
    text += value;
    text += '\n';
  };
  line("url", ToHex(r.values.url));
  line("wifiname", ToHex(r.values.wifiName));
  line("wifipassword", ToHex(r.values.wifiPassword));
  line("width", std::to_string(r.values.width));
  line("height", std::to_string(r.values.height));
  line("agingtest", std::to_string(r.values.agingTest));
  line("longpresstime", std::to_string(r.values.longPressTime));
  line("firmware", ToHex(r.values.firmwareVersion));
  line("rssi", r.pinnedRssi ? std::to_string(*r.pinnedRssi) : std::string("wander"));
  line("lastcommand", std::to_string(r.lastCommand));
  line("plugged", r.plugged ? "1" : "0");
  line("absentuntil", std::to_string(r.absentUntilMs));
  line("restarttime", std::to_string(r.restartTimeMs));
  line("generation", std::to_string(r.generation));
  std::string faults;
  for (const std::string& fault : r.faults) faults += (faults.empty() ? "" : ",") + fault;
  line("faults", faults);
  return text;
}

ReceiverRecord ParseRecord(std::string_view text) {
  std::map<std::string, std::string> lines;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const std::size_t equals = line.find('=');
    if (equals != std::string_view::npos) lines[std::string(line.substr(0, equals))] = line.substr(equals + 1);
  }
  ReceiverRecord r;
  ReadText(lines, "url", r.values.url);
  ReadText(lines, "wifiname", r.values.wifiName);
  ReadText(lines, "wifipassword", r.values.wifiPassword);
  ReadNumber(lines, "width", r.values.width);
  ReadNumber(lines, "height", r.values.height);
  ReadNumber(lines, "agingtest", r.values.agingTest);
  ReadNumber(lines, "longpresstime", r.values.longPressTime);
  ReadText(lines, "firmware", r.values.firmwareVersion);
  if (const auto rssi = lines.find("rssi"); rssi != lines.end()) r.pinnedRssi = Number<std::int32_t>(rssi->second);
  ReadNumber(lines, "lastcommand", r.lastCommand);
  int plugged = 1;
  ReadNumber(lines, "plugged", plugged);
  r.plugged = plugged != 0;
  ReadNumber(lines, "absentuntil", r.absentUntilMs);
  ReadNumber(lines, "restarttime", r.restartTimeMs);
  ReadNumber(lines, "generation", r.generation);
  if (const auto faults = lines.find("faults"); faults != lines.end()) {
    std::string_view list = faults->second;
    while (!list.empty()) {
      const std::size_t comma = list.find(',');
      const std::string_view name = list.substr(0, comma);
      if (IsFaultName(name)) r.faults.insert(std::string(name));
      list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
    }
  }
  return r;
}

}  // namespace nerova::sim::virtual_receiver
