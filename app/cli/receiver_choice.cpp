#include "app/cli/receiver_choice.h"

#include <utility>

#include "link/receiver_link.h"

namespace nerova::cli {
namespace {

// The inputs of `base` named `displayName`; every other one is skipped.
class ChosenInputs final : public link::DeviceEnumeration {
 public:
  ChosenInputs(std::unique_ptr<link::DeviceEnumeration> base, const std::wstring& displayName)
      : m_base(std::move(base)), m_displayName(displayName) {}

  link::HResult Next(std::unique_ptr<link::DeviceMoniker>& out) override {
    for (;;) {
      std::unique_ptr<link::DeviceMoniker> moniker;
      const link::HResult hr = m_base->Next(moniker);
      if (hr != link::kS_OK || !moniker) {
        out.reset();
        return hr == link::kS_OK ? link::kS_FALSE : hr;
      }
      std::wstring name;
      if (moniker->GetDisplayName(name) == link::kS_OK && name == m_displayName) {
        out = std::move(moniker);
        return link::kS_OK;
      }
    }
  }

 private:
  std::unique_ptr<link::DeviceEnumeration> m_base;
  std::wstring m_displayName;
};

}  // namespace

std::vector<std::wstring> AttachedReceivers(link::CaptureStack& stack) {
  std::vector<std::wstring> receivers;
  std::unique_ptr<link::DeviceEnumeration> inputs;
  if (stack.EnumerateVideoInputs(inputs) != link::kS_OK || !inputs) return receivers;
  for (;;) {
    std::unique_ptr<link::DeviceMoniker> moniker;
    if (inputs->Next(moniker) != link::kS_OK || !moniker) return receivers;
    std::wstring name;
    if (moniker->GetDisplayName(name) != link::kS_OK) continue;
    if (link::CarriesReceiverIdentity(name)) receivers.push_back(std::move(name));
  }
}

ChosenReceiverStack::ChosenReceiverStack(link::CaptureStack& base, std::wstring displayName)
    : m_base(base), m_displayName(std::move(displayName)) {}

link::HResult ChosenReceiverStack::EnumerateVideoInputs(std::unique_ptr<link::DeviceEnumeration>& out) {
  out.reset();
  std::unique_ptr<link::DeviceEnumeration> inputs;
  const link::HResult hr = m_base.EnumerateVideoInputs(inputs);
  if (hr != link::kS_OK || !inputs) return hr;
  out = std::make_unique<ChosenInputs>(std::move(inputs), m_displayName);
  return link::kS_OK;
}

}  // namespace nerova::cli
