#include "app/cli/wanted_values.h"

#include "app/cli/exit_codes.h"
#include "app/cli/json_documents.h"
#include "app/cli/text_files.h"
#include "link/utf8_codec.h"
#include "settings/apply_check.h"
#include "settings/apply_texts.h"
#include "settings/camera_model.h"
#include "settings/long_press.h"

namespace nerova::cli {

std::optional<std::string> ReadSource(const std::wstring& path, const ValueSources& sources) {
  const bool standardInput = path == kStandardInput;
  std::wstring error;
  std::optional<std::string> bytes;
  if (standardInput) {
    if (sources.readStandardInput) bytes = sources.readStandardInput(kLargestSource);
    if (!bytes) error = L"Standard input cannot be read.";
  } else {
    bytes = ReadWholeFile(path, kLargestSource, error);
  }
  if (bytes && bytes->size() > kLargestSource) {
    bytes.reset();
    error = (standardInput ? std::wstring(L"Standard input") : path) + L" is larger than " +
            std::to_wstring(kLargestSource / (1024 * 1024)) + L" MiB.";
  }
  if (!bytes) sources.error(error);
  return bytes;
}

int GatherWantedValues(const ApplyOptions& apply, const ValueSources& sources, WantedValues& out) {
  out = {};
  if (apply.fromFile) {
    const std::optional<std::string> text = ReadSource(*apply.fromFile, sources);
    if (!text) return kExitUsage;
    std::wstring error;
    const std::optional<WantedValues> values = ConfigurationFromJson(*text, error);
    if (!values) {
      sources.error(*apply.fromFile + L" is not a configuration: " + error + L".");
      return kExitUsage;
    }
    out = *values;
  }
  if (apply.passwordFile) {
    const std::optional<std::string> text = ReadSource(*apply.passwordFile, sources);
    if (!text) return kExitUsage;
    std::wstring password = link::DecodeUtf8(*text);
    password.resize(std::min(password.find_first_of(L"\r\n"), password.size()));
    out.password = password;
  }
  out.Override(apply.values);
  return kExitOk;
}

std::optional<std::wstring> CheckWantedValues(WantedValues& values, const link::TextCodec& codec) {
  if (values.model && !settings::FindCameraModel(*values.model)) {
    return L"There is no camera model " + *values.model + L"; the models are " + CameraModelNames() + L".";
  }
  if (values.url) {
    if (auto refused = settings::CheckField(*values.url, settings::kUrlField, settings::kUrlEmpty, codec)) {
      return refused;
    }
  }
  if (values.ssid) {
    if (auto refused = settings::CheckField(*values.ssid, settings::kWifiNameField, settings::kWifiNameEmpty, codec)) {
      return refused;
    }
  }
  if (values.password) {
    if (auto refused = settings::CheckField(*values.password, settings::kPasswordField, settings::kPasswordEmpty, codec)) {
      return refused;
    }
  }
  if (values.longPressTime &&
      (*values.longPressTime < settings::kLongPressMin || *values.longPressTime > settings::kLongPressMax)) {
    return L"The long-press time is from " + std::to_wstring(settings::kLongPressMin) + L" to " +
           std::to_wstring(settings::kLongPressMax) + L" tenths of a second.";
  }
  return std::nullopt;
}

}  // namespace nerova::cli
