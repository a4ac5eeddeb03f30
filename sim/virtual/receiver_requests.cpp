#include "sim/virtual/receiver_requests.h"

#include <chrono>
#include <memory>

namespace nerova::sim::virtual_receiver {

const std::vector<NodeDescription>& ReceiverNodes() {
  static const std::vector<NodeDescription> nodes = ReceiverDescription().nodes;
  return nodes;
}

std::uint32_t SettingsNode() {
  const std::vector<NodeDescription>& nodes = ReceiverNodes();
  for (std::uint32_t i = 0; i < nodes.size(); ++i) {
    if (nodes[i].unit == link::SettingsUnitGuid) return i;
  }
  return 0;
}

namespace {

// A substitute receiver that starts where the record left off.
Device Restore(SimStack& stack, const ReceiverRecord& record) {
  Device receiver = stack.AddReceiver();
  receiver.SetValues(record.values);
  receiver.PinRssi(record.pinnedRssi);
  receiver.SetLastCommand(record.lastCommand);
  receiver.SetControlLength(record.ControlLength());
  for (int command = 0; command < 256; ++command) {
    const auto code = static_cast<std::uint8_t>(command);
    if (record.Has("refuse-set")) receiver.RefuseSets(code);
    if (record.Has("refuse-get")) receiver.RefuseGets(code);
    if (record.Has("no-terminator")) receiver.SetAnswerUnterminated(code, true);
    if (record.Has("crlf")) receiver.SetAnswerLineEnd(code, true);
  }
  return receiver;
}

}  // namespace

NodeAnswer AnswerNodeProperty(ReceiverRecord& record, std::int64_t nowMs, std::uint32_t node, const void* property,
                              std::uint32_t propertyLength, void* data, std::uint32_t dataLength) {
  auto clock = std::make_shared<ManualClock>();
  clock->Advance(std::chrono::milliseconds(nowMs));
  SimStack stack(clock);
  Device receiver = Restore(stack, record);
  NodeAnswer answer;
  stack.SetPresenceListener([&answer](const PresenceEvent& event) {
    if (event.change == PresenceChange::Vanished && event.reason == PresenceReason::Reboot) answer.restarted = true;
  });

  std::unique_ptr<link::DeviceEnumeration> devices;
  std::unique_ptr<link::DeviceMoniker> moniker;
  link::FilterRef filter;
  std::unique_ptr<link::Topology> topology;
  std::unique_ptr<link::NodeControl> control;
  if (stack.EnumerateVideoInputs(devices) != link::kS_OK || !devices || devices->Next(moniker) != link::kS_OK ||
      moniker->BindToFilter(filter) != link::kS_OK || filter->QueryTopology(topology) != link::kS_OK ||
      topology->CreateNodeControl(node, control) != link::kS_OK) {
    answer.result = link::kE_FAIL;
    return answer;
  }
  answer.result = control->KsProperty(property, propertyLength, data, dataLength, answer.bytesReturned);
  answer.transfers = stack.DataTransfers();
  record.values = receiver.Values();
  record.lastCommand = receiver.LastCommand();
  return answer;
}

}  // namespace nerova::sim::virtual_receiver
