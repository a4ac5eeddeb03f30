#include "link/receiver_link.h"

#include <array>
#include <utility>

#include "link/receiver_lock.h"

namespace nerova::link {
namespace {

constexpr wchar_t kNoDeviceLine[] = L"No video capture device was detected.\r\n\r\n";

const LinkStatus kNoReceiver = LinkStatus::Of(StatusKind::NotFound);

class Open final : public ExchangeGate {
 public:
  LinkStatus Run(const std::function<LinkStatus()>& exchange) override { return exchange(); }
  void HoldForWholeSequence(bool) override {}
  void ReserveLastExchange() override {}
  bool StopRequested() const override { return false; }
  void GiveUp() override {}
};

}  // namespace

ExchangeGate& OpenGate() {
  static Open gate;
  return gate;
}

LinkStatus ReceiverLink::FindReceiverByUsbId(DeviceRef& out) {
  out.reset();
  return m_gate.Run([&] { return FindByUsbId(out); });
}

LinkStatus ReceiverLink::FindReceiverByProbeUnit(DeviceRef& out) {
  std::wstring key;
  return FindReceiverByProbeUnit(out, key);
}

LinkStatus ReceiverLink::FindReceiverByProbeUnit(DeviceRef& out, std::wstring& key) {
  out.reset();
  key.clear();
  return m_gate.Run([&] { return FindByProbeUnit(out, key); });
}

LinkStatus ReceiverLink::SetCur(const std::uint8_t* data, std::uint32_t length, const DeviceRef& device) {
  return m_gate.Run([&] { return Set(data, length, device); });
}

LinkStatus ReceiverLink::GetCur(std::uint8_t* buffer, std::uint32_t capacity, const DeviceRef& device) {
  return m_gate.Run([&] { return Get(buffer, capacity, device); });
}

LinkStatus ReceiverLink::FindByUsbId(DeviceRef& out) {
  std::unique_ptr<VideoInputList> inputs;
  if (const LinkStatus status = m_stack.ListVideoInputs(inputs); !status.Ok()) return status;
  if (!inputs) return kNoReceiver;

  std::unique_ptr<VideoInput> input;
  while (inputs->Next(input)) {
    VideoInputName name;
    if (!input->Name(name).Ok() || !IsReceiver(name)) continue;
    // Only the first matching device is used.
    DeviceRef device;
    if (const LinkStatus status = input->Open(device); !status.Ok()) return status;
    if (!device) return LinkStatus::Of(StatusKind::Failed);
    out = std::move(device);
    return LinkStatus::Success();
  }
  return kNoReceiver;
}

LinkStatus ReceiverLink::FindByProbeUnit(DeviceRef& out, std::wstring& key) {
  std::unique_ptr<VideoInputList> inputs;
  if (const LinkStatus status = m_stack.ListVideoInputs(inputs); !status.Ok()) return status;

  bool anyInput = false;
  std::unique_ptr<VideoInput> input;
  while (inputs && inputs->Next(input)) {
    anyInput = true;
    DeviceRef device;
    if (!input->Open(device).Ok() || !device) continue;
    // Every unit and terminal is asked whether it is the probe unit.
    std::unique_ptr<ExtensionUnit> probe;
    if (!device->FindExtensionUnit(ProbeUnitGuid, UnitSearch::EveryEntity, probe).Ok() || !probe) continue;
    VideoInputName name;
    if (input->Name(name).Ok()) key = ReceiverKey(name.displayName);
    out = std::move(device);
    return LinkStatus::Success();
  }
  if (!anyInput) m_stack.DebugOutput(kNoDeviceLine);
  return kNoReceiver;
}

LinkStatus ReceiverLink::FindSettingsUnit(const DeviceRef& device, std::unique_ptr<ExtensionUnit>& unit) {
  // The caller's device, held for the call; or the receiver, for this call only.
  DeviceRef held = device;
  if (!held) {
    if (const LinkStatus status = FindByUsbId(held); !status.Ok()) return status;
  }
  const LinkStatus status = held->FindExtensionUnit(SettingsUnitGuid, UnitSearch::ExtensionUnits, unit);
  if (status.Ok() && !unit) return LinkStatus::Of(StatusKind::Failed);
  return status;
}

LinkStatus ReceiverLink::Set(const std::uint8_t* data, std::uint32_t length, const DeviceRef& device) {
  if (data == nullptr && length != 0) return LinkStatus::Of(StatusKind::Failed);
  std::unique_ptr<ExtensionUnit> unit;
  if (const LinkStatus status = FindSettingsUnit(device, unit); !status.Ok()) return status;
  std::uint32_t sent = 0;
  // The query's data pointer serves both directions; a SET only reads it.
  return unit->Query(kSettingsControl, UvcRequest::SetCur, const_cast<std::uint8_t*>(data), length, sent);
}

LinkStatus ReceiverLink::Get(std::uint8_t* buffer, std::uint32_t capacity, const DeviceRef& device) {
  if (buffer == nullptr && capacity != 0) return LinkStatus::Of(StatusKind::Failed);
  std::unique_ptr<ExtensionUnit> unit;
  if (const LinkStatus status = FindSettingsUnit(device, unit); !status.Ok()) return status;

  std::array<std::uint8_t, 2> length{};
  std::uint32_t returned = 0;
  if (const LinkStatus status = unit->Query(kSettingsControl, UvcRequest::GetLen, length.data(), 2, returned);
      !status.Ok()) {
    return status;
  }
  // A control of no bytes is no control to read (reading it would "succeed"
  // with an untouched buffer).
  const std::uint32_t controlLength = length[0] | (length[1] << 8);
  if (controlLength == 0) return LinkStatus::Of(StatusKind::Failed);
  if (controlLength > capacity) return LinkStatus::Of(StatusKind::WrongLength);

  if (const LinkStatus status = unit->Query(kSettingsControl, UvcRequest::GetCur, buffer, controlLength, returned);
      !status.Ok()) {
    return status;
  }
  return returned == controlLength ? LinkStatus::Success() : LinkStatus::Of(StatusKind::Failed);
}

}  // namespace nerova::link
