#include "sim/virtual/receiver_requests.h"

#include <chrono>
#include <cstring>
#include <memory>

#include "link/receiver_settings.h"
#include "link/win/ks_request.h"

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

constexpr std::int32_t kSOk = 0;
constexpr std::int32_t kEFail = static_cast<std::int32_t>(0x80004005u);
constexpr std::int32_t kEInvalidArg = static_cast<std::int32_t>(0x80070057u);
constexpr std::uint32_t kUnitInfoLength = 32;

// A substitute receiver that starts where the record left off.
Device Restore(SimStack& stack, const ReceiverRecord& record) {
  Device receiver = stack.AddReceiver();
  receiver.SetValues(record.values);
  receiver.PinRssi(record.pinnedRssi);
  receiver.SetLastCommand(record.lastCommand);
  receiver.SetControlLength(record.ControlLength());
  receiver.SetRestartUnacknowledged(record.Has("restart-unacknowledged"));
  receiver.LeaveAfterNextReadRequest(record.Has("vanish-mid-read"));
  if (record.Has("restart-refused")) receiver.RefuseSets(link::CMD_REBOOT);
  for (int command = 0; command < 256; ++command) {
    const auto code = static_cast<std::uint8_t>(command);
    if (record.Has("refuse-set")) receiver.RefuseSets(code);
    if (record.Has("refuse-get")) receiver.RefuseGets(code);
    if (record.Has("no-terminator")) receiver.SetAnswerUnterminated(code, true);
    if (record.Has("crlf")) receiver.SetAnswerLineEnd(code, true);
  }
  return receiver;
}

// The unit-information query: the unit's GUID, then the number of its
// controls; ERROR_MORE_DATA and the length for a buffer too short for it.
std::int32_t UnitInformation(const link::Guid& unit, void* data, std::uint32_t dataLength,
                             std::uint32_t& bytesReturned) {
  bytesReturned = kUnitInfoLength;
  if (data == nullptr || dataLength < kUnitInfoLength) return kMoreData.code;
  std::uint8_t info[kUnitInfoLength] = {};
  std::memcpy(info, unit.bytes.data(), unit.bytes.size());
  info[16] = unit == link::SettingsUnitGuid ? 3 : 1;
  std::memcpy(data, info, sizeof info);
  return kSOk;
}

// A control request as the video-class driver makes it of a GET or SET:
// a GET without a buffer is GET_LEN, answered with ERROR_MORE_DATA and the
// length; a GET with one is GET_CUR of the control's length; a SET is
// SET_CUR of the data given.
std::int32_t ControlRequest(link::ExtensionUnit& unit, std::uint8_t selector, bool set, void* data,
                            std::uint32_t dataLength, std::uint32_t& bytesReturned) {
  auto* bytes = static_cast<std::uint8_t*>(data);
  std::uint32_t transferred = 0;
  if (set) return unit.Query(selector, link::UvcRequest::SetCur, bytes, dataLength, transferred).code;

  std::uint8_t length[2] = {};
  if (const link::LinkStatus status = unit.Query(selector, link::UvcRequest::GetLen, length, 2, transferred);
      !status.Ok()) {
    return status.code;
  }
  const std::uint32_t controlLength = length[0] | (length[1] << 8);
  bytesReturned = controlLength;
  if (data == nullptr || dataLength < controlLength) return kMoreData.code;
  const link::LinkStatus status =
      unit.Query(selector, link::UvcRequest::GetCur, bytes, controlLength, transferred);
  bytesReturned = status.Ok() ? transferred : 0;
  return status.code;
}

}  // namespace

NodeAnswer AnswerNodeProperty(ReceiverRecord& record, std::int64_t nowMs, std::uint32_t node, const void* property,
                              std::uint32_t propertyLength, void* data, std::uint32_t dataLength) {
  NodeAnswer answer;
  link::win::KsNodeFields fields;
  if (!link::win::ParseKsNodeRequest(property, propertyLength, fields)) {
    answer.result = kEInvalidArg;
    return answer;
  }
  const std::uint32_t direction = fields.flags & (link::win::kKsPropertyTypeGet | link::win::kKsPropertyTypeSet);
  if ((fields.flags & link::win::kKsPropertyTypeTopology) == 0 || fields.nodeId != node ||
      (direction != link::win::kKsPropertyTypeGet && direction != link::win::kKsPropertyTypeSet)) {
    answer.result = kEInvalidArg;
    return answer;
  }
  const NodeDescription& target = ReceiverNodes()[node];
  if (!target.unit || *target.unit != fields.set) {
    answer.result = kSetNotFound.code;
    return answer;
  }
  const bool set = direction == link::win::kKsPropertyTypeSet;
  if (fields.id == link::win::kUnitInfoProperty) {
    answer.result = set ? kNotFound.code : UnitInformation(*target.unit, data, dataLength, answer.bytesReturned);
    return answer;
  }
  if (fields.id > 0xFF) {
    answer.result = kNotFound.code;
    return answer;
  }

  auto clock = std::make_shared<ManualClock>();
  clock->Advance(std::chrono::milliseconds(nowMs));
  SimStack stack(clock);
  Device receiver = Restore(stack, record);
  stack.SetPresenceListener([&answer](const PresenceEvent& event) {
    if (event.change == PresenceChange::Vanished && event.reason == PresenceReason::Reboot) answer.restarted = true;
  });

  std::unique_ptr<link::VideoInputList> inputs;
  std::unique_ptr<link::VideoInput> input;
  link::DeviceRef device;
  std::unique_ptr<link::ExtensionUnit> unit;
  if (!stack.ListVideoInputs(inputs).Ok() || !inputs || !inputs->Next(input) || !input->Open(device).Ok() ||
      !device->FindExtensionUnit(*target.unit, link::UnitSearch::ExtensionUnits, unit).Ok()) {
    answer.result = kEFail;
    return answer;
  }
  answer.result = ControlRequest(*unit, static_cast<std::uint8_t>(fields.id), set, data, dataLength,
                                 answer.bytesReturned);
  answer.transfers = stack.DataTransfers();
  record.values = receiver.Values();
  record.lastCommand = receiver.LastCommand();
  if (record.Has("vanish-mid-read") && !receiver.LeavesAfterNextReadRequest()) record.faults.erase("vanish-mid-read");
  return answer;
}

}  // namespace nerova::sim::virtual_receiver
