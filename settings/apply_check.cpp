#include "settings/apply_check.h"

#include "settings/apply_texts.h"

namespace nerova::settings {
namespace {

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\n' || c == L'\v' || c == L'\f' || c == L'\r'; }

}  // namespace

void TrimInPlace(std::wstring& text) {
  std::size_t end = text.size();
  while (end > 0 && IsBlank(text[end - 1])) --end;
  std::size_t begin = 0;
  while (begin < end && IsBlank(text[begin])) ++begin;
  text = text.substr(begin, end - begin);
}

std::size_t ValueLimitBytes(const WireField& field) { return link::kMaxTextBytes - field.key.size(); }

std::wstring TooLongForReceiverMessage(const WireField& field) {
  return std::wstring(field.label) + L" is too long: the receiver takes at most " +
         std::to_wstring(ValueLimitBytes(field)) + L" bytes";
}

std::wstring TooManyCharactersMessage(const WireField& field) {
  return std::wstring(field.label) + L" is too long: it takes at most " + std::to_wstring(field.characterLimit) +
         L" characters";
}

std::wstring TooManyBytesMessage(const WireField& field) {
  return std::wstring(field.label) + L" is too long: it takes at most " + std::to_wstring(field.byteLimit) +
         L" bytes";
}

std::wstring NotSendableToReceiverMessage(const WireField& field) {
  return std::wstring(field.label) + L" cannot be sent as written: the receiver takes only characters of this "
                                     L"computer's code page";
}

std::optional<std::wstring> CheckField(std::wstring& value, const WireField& field, std::wstring_view emptyMessage,
                                       const link::TextCodec& codec) {
  if (field.characterLimit != 0 && value.size() > field.characterLimit) return TooManyCharactersMessage(field);
  TrimInPlace(value);
  if (value.empty()) return std::wstring(emptyMessage);
  const std::string bytes = codec.Encode(value);
  if (codec.Decode(bytes) != value) return NotSendableToReceiverMessage(field);
  if (field.byteLimit != 0 && bytes.size() > field.byteLimit) return TooManyBytesMessage(field);
  if (codec.Encode(field.key).size() + bytes.size() > link::kMaxTextBytes) return TooLongForReceiverMessage(field);
  return std::nullopt;
}

std::optional<std::wstring> CheckConfiguration(Configuration& configuration, const link::TextCodec& codec) {
  if (auto refused = CheckField(configuration.url, kUrlField, kUrlEmpty, codec)) return refused;
  if (auto refused = CheckField(configuration.wifiName, kWifiNameField, kWifiNameEmpty, codec)) return refused;
  return CheckField(configuration.wifiPassword, kPasswordField, kPasswordEmpty, codec);
}

std::optional<std::wstring> CheckConfiguration(Configuration& configuration, const link::ReceiverSettings& settings) {
  return CheckConfiguration(configuration, settings.Codec());
}

}  // namespace nerova::settings
