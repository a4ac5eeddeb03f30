#include "app/cli/receiver_choice.h"

#include <utility>

#include "link/receiver_link.h"

namespace nerova::cli {
namespace {

// The inputs of `base` named `displayName`; every other one is skipped.
class ChosenInputs final : public link::VideoInputList {
 public:
  ChosenInputs(std::unique_ptr<link::VideoInputList> base, const std::wstring& displayName)
      : m_base(std::move(base)), m_displayName(displayName) {}

  bool Next(std::unique_ptr<link::VideoInput>& out) override {
    std::unique_ptr<link::VideoInput> input;
    while (m_base->Next(input)) {
      link::VideoInputName name;
      if (input->Name(name).Ok() && name.displayName == m_displayName) {
        out = std::move(input);
        return true;
      }
    }
    out.reset();
    return false;
  }

 private:
  std::unique_ptr<link::VideoInputList> m_base;
  std::wstring m_displayName;
};

}  // namespace

std::vector<std::wstring> AttachedReceivers(link::CaptureStack& stack) {
  std::vector<std::wstring> receivers;
  std::unique_ptr<link::VideoInputList> inputs;
  if (!stack.ListVideoInputs(inputs).Ok() || !inputs) return receivers;
  std::unique_ptr<link::VideoInput> input;
  while (inputs->Next(input)) {
    link::VideoInputName name;
    if (!input->Name(name).Ok()) continue;
    if (link::IsReceiver(name)) receivers.push_back(std::move(name.displayName));
  }
  return receivers;
}

ChosenReceiverStack::ChosenReceiverStack(link::CaptureStack& base, std::wstring displayName)
    : m_base(base), m_displayName(std::move(displayName)) {}

link::LinkStatus ChosenReceiverStack::ListVideoInputs(std::unique_ptr<link::VideoInputList>& out) {
  out.reset();
  std::unique_ptr<link::VideoInputList> inputs;
  const link::LinkStatus status = m_base.ListVideoInputs(inputs);
  if (!status.Ok() || !inputs) return status;
  out = std::make_unique<ChosenInputs>(std::move(inputs), m_displayName);
  return status;
}

}  // namespace nerova::cli
