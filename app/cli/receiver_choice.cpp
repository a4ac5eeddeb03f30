#include "app/cli/receiver_choice.h"

#include <algorithm>
#include <string_view>
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

std::vector<AttachedReceiver> AttachedReceivers(link::CaptureStack& stack) {
  std::vector<AttachedReceiver> receivers;
  std::unique_ptr<link::VideoInputList> inputs;
  if (!stack.ListVideoInputs(inputs).Ok() || !inputs) return receivers;
  std::unique_ptr<link::VideoInput> input;
  while (inputs->Next(input)) {
    link::VideoInputName name;
    if (!input->Name(name).Ok()) continue;
    if (!link::IsReceiver(name)) continue;
    receivers.push_back({std::move(name.displayName), std::move(name.serial), std::move(name.port)});
  }
  std::stable_sort(receivers.begin(), receivers.end(), [](const AttachedReceiver& a, const AttachedReceiver& b) {
    if (a.port != b.port) return PortBefore(a.port, b.port);
    return a.name < b.name;
  });
  return receivers;
}

std::wstring SerialAndPort(const AttachedReceiver& receiver) {
  auto orDash = [](const std::wstring& text) { return text.empty() ? std::wstring(L"-") : text; };
  return orDash(receiver.serial) + L"  " + orDash(receiver.port);
}

bool PortBefore(const std::wstring& a, const std::wstring& b) {
  if (a.empty() != b.empty()) return b.empty();
  std::size_t i = 0;
  std::size_t j = 0;
  auto isDigit = [](wchar_t c) { return c >= L'0' && c <= L'9'; };
  while (i < a.size() && j < b.size()) {
    if (isDigit(a[i]) && isDigit(b[j])) {
      std::size_t endA = i;
      std::size_t endB = j;
      while (endA < a.size() && isDigit(a[endA])) ++endA;
      while (endB < b.size() && isDigit(b[endB])) ++endB;
      // Leading zeros aside, the longer run of digits is the larger number.
      std::wstring_view numberA(a.data() + i, endA - i);
      std::wstring_view numberB(b.data() + j, endB - j);
      while (numberA.size() > 1 && numberA.front() == L'0') numberA.remove_prefix(1);
      while (numberB.size() > 1 && numberB.front() == L'0') numberB.remove_prefix(1);
      if (numberA.size() != numberB.size()) return numberA.size() < numberB.size();
      if (numberA != numberB) return numberA < numberB;
      i = endA;
      j = endB;
      continue;
    }
    if (a[i] != b[j]) return a[i] < b[j];
    ++i;
    ++j;
  }
  return a.size() - i < b.size() - j;
}

std::optional<AttachedReceiver> FindReceiver(const std::vector<AttachedReceiver>& receivers,
                                             const std::wstring& device) {
  const bool number = !device.empty() && device.size() <= 6 &&
                      std::all_of(device.begin(), device.end(), [](wchar_t c) { return c >= L'0' && c <= L'9'; });
  if (number) {
    const std::size_t index = std::stoul(device);
    if (index >= 1 && index <= receivers.size()) return receivers[index - 1];
  }
  using Field = std::wstring AttachedReceiver::*;
  for (const Field field : {&AttachedReceiver::serial, &AttachedReceiver::port, &AttachedReceiver::name}) {
    for (const AttachedReceiver& receiver : receivers) {
      if (!(receiver.*field).empty() && receiver.*field == device) return receiver;
    }
  }
  return std::nullopt;
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
