#pragma once
// One property request to one node of the virtual receiver, answered by the
// receiver substitute (the same driver behaviour and command protocol as in
// the tests), over the state kept in a ReceiverRecord. The Kernel Streaming
// request (KSP_NODE) is taken apart here, as the video-class driver does,
// into the extension-unit request the substitute answers.
#include <cstdint>
#include <vector>

#include "sim/sim_stack.h"
#include "sim/virtual/receiver_record.h"

namespace nerova::sim::virtual_receiver {

// The receiver's topology, as the video-class driver lists it.
const std::vector<NodeDescription>& ReceiverNodes();
// The node that carries the settings unit.
std::uint32_t SettingsNode();

struct NodeAnswer {
  // An HRESULT, as the video-class driver gives it.
  std::int32_t result = 0;
  std::uint32_t bytesReturned = 0;
  // The request told the receiver to restart.
  bool restarted = false;
  // SETs and GETs of the settings control, as the substitute logged them.
  std::vector<TransferRecord> transfers;
};

// Answers a KSP_NODE request at `nowMs` (milliseconds since 1601), and
// updates `record` with what the receiver now holds. The caller has checked
// that the receiver is present.
NodeAnswer AnswerNodeProperty(ReceiverRecord& record, std::int64_t nowMs, std::uint32_t node, const void* property,
                              std::uint32_t propertyLength, void* data, std::uint32_t dataLength);

}  // namespace nerova::sim::virtual_receiver
