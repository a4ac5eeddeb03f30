#include "sim/sim_stack.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>

#include "link/ks_request.h"
#include "link/receiver_link.h"

namespace nerova::sim {

using link::HResult;
using link::kS_OK;

namespace {

constexpr std::uint32_t kDefaultControlLength = 60;
constexpr std::uint32_t kUnitInfoLength = 32;

// The extension unit a simulated webcam carries beside its video nodes.
constexpr link::Guid kCameraVendorUnit = link::Guid::FromFields(
    0x7A1C2E90, 0x4B3D, 0x4F21, {0x9C, 0x5E, 0x1D, 0x44, 0x0B, 0x6A, 0x83, 0x27});

const wchar_t* const kReceiverInstances[] = {L"7&2f1c3a4b&0&0000", L"7&1b9e5d02&0&0000",
                                             L"7&3c0a7f19&0&0000"};
const wchar_t* const kCameraInstances[] = {L"6&18d4e2a7&0&0000", L"6&2a6b9c31&0&0000",
                                           L"6&0f37d8e5&0&0000"};

std::wstring CaptureDeviceName(const std::wstring& usbId, const wchar_t* instance) {
  return L"@device:pnp:\\\\?\\usb#" + usbId + L"&mi_00#" + instance +
         L"#{65e8773d-8f56-11d0-a3b9-00a0c9223196}\\global";
}

struct Refusal {
  int remaining = 0;
  HResult result = kGenFailure;
};

}  // namespace

DeviceDescription ReceiverDescription(int instance) {
  DeviceDescription description;
  description.displayName =
      CaptureDeviceName(L"vid_1d6b&pid_010c", kReceiverInstances[instance % 3]);
  description.nodes = {
      {KSNODETYPE_VIDEO_CAMERA_TERMINAL, std::nullopt},
      {KSNODETYPE_VIDEO_PROCESSING, std::nullopt},
      {link::KSNODETYPE_DEV_SPECIFIC, link::ProbeUnitGuid},
      {link::KSNODETYPE_DEV_SPECIFIC, link::SettingsUnitGuid},
      {KSNODETYPE_VIDEO_STREAMING, std::nullopt},
  };
  return description;
}

DeviceDescription CameraDescription(int instance) {
  DeviceDescription description;
  description.displayName = CaptureDeviceName(L"vid_0bda&pid_58b0", kCameraInstances[instance % 3]);
  description.nodes = {
      {KSNODETYPE_VIDEO_CAMERA_TERMINAL, std::nullopt},
      {KSNODETYPE_VIDEO_PROCESSING, std::nullopt},
      {link::KSNODETYPE_DEV_SPECIFIC, kCameraVendorUnit},
      {KSNODETYPE_VIDEO_STREAMING, std::nullopt},
  };
  return description;
}

struct DeviceState {
  explicit DeviceState(DeviceDescription s)
      : description(std::move(s)),
        firmware(description.values),
        nodeOpenResults(description.nodes.size(), kS_OK) {}

  DeviceDescription description;
  ReceiverFirmware firmware;
  std::vector<HResult> nodeOpenResults;
  HResult displayNameResult = kS_OK;
  HResult bindResult = kS_OK;
  bool topologyAvailable = true;

  bool present = true;
  bool restarting = false;
  std::chrono::milliseconds backAt{0};
  // Grows each time the device arrives anew; filters remember theirs.
  unsigned instance = 0;

  std::uint32_t controlLength = kDefaultControlLength;
  std::map<std::uint8_t, HResult> refusedSets;
  std::map<std::uint8_t, HResult> refusedGets;
  Refusal nextSets;
  Refusal nextGets;
};

// Everything the simulation knows, shared by the stack and every object it
// hands out, so that those stay valid whatever order they are released in.
class World {
 public:
  explicit World(std::shared_ptr<const Clock> clock) : m_clock(std::move(clock)) {}

  // Runs `body` under the lock after bringing back devices whose restart is
  // over; presence changes are told to the listener once the lock is gone.
  template <typename Body>
  auto Locked(Body&& body) {
    std::vector<PresenceEvent> events;
    std::function<void(const PresenceEvent&)> listener;
    struct Notify {
      std::vector<PresenceEvent>& events;
      std::function<void(const PresenceEvent&)>& listener;
      ~Notify() {
        if (listener) {
          for (const PresenceEvent& e : events) listener(e);
        }
      }
    } notify{events, listener};
    std::lock_guard lock(m_mutex);
    BringBackLocked(events);
    auto finish = [&] { listener = m_listener; };
    if constexpr (std::is_void_v<decltype(body(events))>) {
      body(events);
      finish();
    } else {
      auto result = body(events);
      finish();
      return result;
    }
  }

  DeviceState& At(std::size_t index) { return *m_devices[index]; }
  std::size_t Count() const { return m_devices.size(); }
  std::size_t Add(DeviceDescription description) {
    m_devices.push_back(std::make_unique<DeviceState>(std::move(description)));
    return m_devices.size() - 1;
  }
  std::chrono::milliseconds Now() const { return m_clock->Now(); }

  bool Reachable(std::size_t index, unsigned instance) {
    const DeviceState& d = At(index);
    return d.present && d.instance == instance;
  }

  void Vanish(std::size_t index, PresenceReason reason, std::vector<PresenceEvent>& events) {
    DeviceState& d = At(index);
    if (!d.present) {
      // An unplug during a restart keeps it away for good.
      if (reason == PresenceReason::Unplug) d.restarting = false;
      return;
    }
    d.present = false;
    d.restarting = reason == PresenceReason::Reboot;
    d.backAt = Now() + d.description.rebootTime;
    events.push_back({index, PresenceChange::Vanished, reason});
  }

  void Arrive(std::size_t index, PresenceReason reason, std::vector<PresenceEvent>& events) {
    DeviceState& d = At(index);
    if (d.present) return;
    d.present = true;
    d.restarting = false;
    ++d.instance;
    events.push_back({index, PresenceChange::Returned, reason});
  }

  void Record(TransferRecord record) {
    m_log.push_back(std::move(record));
    while (m_log.size() > m_logLimit) m_log.pop_front();
  }

  HResult NodeProperty(std::size_t index, unsigned instance, std::uint32_t node,
                       const void* property, std::uint32_t propertyLength, void* data,
                       std::uint32_t dataLength, std::uint32_t& bytesReturned,
                       std::vector<PresenceEvent>& events);

  std::shared_ptr<const Clock> m_clock;
  std::mutex m_mutex;
  std::vector<std::unique_ptr<DeviceState>> m_devices;
  std::deque<TransferRecord> m_log;
  std::size_t m_logLimit = 100000;
  std::vector<std::wstring> m_debugLines;
  HResult m_enumerateResult = kS_OK;
  std::function<void(const PresenceEvent&)> m_listener;
  std::atomic<long> m_filterRefs{0};

 private:
  void BringBackLocked(std::vector<PresenceEvent>& events) {
    const auto now = Now();
    for (std::size_t i = 0; i < m_devices.size(); ++i) {
      const DeviceState& d = *m_devices[i];
      if (!d.present && d.restarting && now >= d.backAt) Arrive(i, PresenceReason::Reboot, events);
    }
  }
};

namespace {

HResult RefusalFor(std::map<std::uint8_t, HResult>& perCommand, Refusal& next,
                   std::uint8_t command) {
  if (next.remaining > 0) {
    --next.remaining;
    return next.result;
  }
  if (const auto found = perCommand.find(command); found != perCommand.end()) return found->second;
  return kS_OK;
}

TransferKind KindOf(const link::KsNodeFields& fields, const void* data, std::uint32_t dataLength) {
  const bool get = (fields.flags & link::kKsPropertyTypeGet) != 0;
  const bool set = (fields.flags & link::kKsPropertyTypeSet) != 0;
  if (fields.id == link::kUnitInfoProperty && get) return TransferKind::UnitInfo;
  if (fields.id == link::kSettingsControl && get) {
    return data == nullptr || dataLength == 0 ? TransferKind::SizeQuery : TransferKind::Get;
  }
  if (fields.id == link::kSettingsControl && set) return TransferKind::Set;
  return TransferKind::Other;
}

}  // namespace

HResult World::NodeProperty(std::size_t index, unsigned instance, std::uint32_t node,
                            const void* property, std::uint32_t propertyLength, void* data,
                            std::uint32_t dataLength, std::uint32_t& bytesReturned,
                            std::vector<PresenceEvent>& events) {
  bytesReturned = 0;
  link::KsNodeFields fields;
  if (!link::ParseKsNodeRequest(property, propertyLength, fields)) return link::kE_INVALIDARG;

  TransferRecord record;
  record.time = Now();
  record.device = index;
  record.node = node;
  record.kind = KindOf(fields, data, dataLength);
  record.set = fields.set;
  record.property = fields.id;
  auto finish = [&](HResult hr) {
    record.result = hr;
    Record(std::move(record));
    return hr;
  };
  if (record.kind == TransferKind::Set && data != nullptr) {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    record.bytes.assign(bytes, bytes + dataLength);
  }

  if (!Reachable(index, instance)) return finish(kDeviceNotConnected);
  DeviceState& d = At(index);
  const std::uint32_t direction =
      fields.flags & (link::kKsPropertyTypeGet | link::kKsPropertyTypeSet);
  if ((fields.flags & link::kKsPropertyTypeTopology) == 0 || fields.nodeId != node ||
      (direction != link::kKsPropertyTypeGet && direction != link::kKsPropertyTypeSet)) {
    return finish(link::kE_INVALIDARG);
  }
  const NodeDescription& target = d.description.nodes[node];
  if (!target.unit || *target.unit != fields.set) return finish(kSetNotFound);

  switch (record.kind) {
    case TransferKind::UnitInfo: {
      if (dataLength < kUnitInfoLength || data == nullptr) {
        bytesReturned = kUnitInfoLength;
        return finish(link::kMoreData);
      }
      // The unit's GUID, then the number of its controls and nothing else.
      std::uint8_t info[kUnitInfoLength] = {};
      std::memcpy(info, target.unit->bytes.data(), target.unit->bytes.size());
      info[16] = *target.unit == link::SettingsUnitGuid ? 3 : 1;
      std::memcpy(data, info, sizeof info);
      bytesReturned = kUnitInfoLength;
      record.bytes.assign(info, info + sizeof info);
      return finish(kS_OK);
    }
    case TransferKind::SizeQuery:
    case TransferKind::Get:
    case TransferKind::Set:
      if (*target.unit != link::SettingsUnitGuid) return finish(kNotFound);
      break;
    case TransferKind::Other:
      return finish(kNotFound);
  }

  if (record.kind == TransferKind::SizeQuery ||
      (record.kind == TransferKind::Get && dataLength < d.controlLength)) {
    bytesReturned = d.controlLength;
    return finish(link::kMoreData);
  }
  if (record.kind == TransferKind::Set) {
    if (data == nullptr || dataLength < d.controlLength) return finish(kInsufficientBuffer);
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    if (const HResult refused = RefusalFor(d.refusedSets, d.nextSets, bytes[0]); refused != kS_OK) {
      return finish(refused);
    }
    if (d.firmware.Receive(bytes, d.controlLength)) Vanish(index, PresenceReason::Reboot, events);
    return finish(kS_OK);
  }

  if (const HResult refused = RefusalFor(d.refusedGets, d.nextGets, d.firmware.LastCommand());
      refused != kS_OK) {
    return finish(refused);
  }
  const CommandBlock answer = d.firmware.Answer(Now());
  std::vector<std::uint8_t> bytes(d.controlLength, 0);
  std::memcpy(bytes.data(), answer.data(), std::min<std::size_t>(answer.size(), bytes.size()));
  std::memcpy(data, bytes.data(), bytes.size());
  bytesReturned = d.controlLength;
  record.bytes = std::move(bytes);
  return finish(kS_OK);
}

namespace {

class SimNodeControl final : public link::NodeControl {
 public:
  SimNodeControl(std::shared_ptr<World> world, std::size_t index, unsigned instance,
                 std::uint32_t node)
      : m_world(std::move(world)), m_index(index), m_instance(instance), m_node(node) {}

  HResult KsProperty(const void* property, std::uint32_t propertyLength, void* data,
                     std::uint32_t dataLength, std::uint32_t& bytesReturned) override {
    return m_world->Locked([&](std::vector<PresenceEvent>& events) {
      return m_world->NodeProperty(m_index, m_instance, m_node, property, propertyLength, data,
                                   dataLength, bytesReturned, events);
    });
  }

 private:
  std::shared_ptr<World> m_world;
  std::size_t m_index;
  unsigned m_instance;
  std::uint32_t m_node;
};

class SimTopology final : public link::Topology {
 public:
  SimTopology(std::shared_ptr<World> world, std::size_t index, unsigned instance)
      : m_world(std::move(world)), m_index(index), m_instance(instance) {}

  HResult GetNumNodes(std::uint32_t& count) override {
    return m_world->Locked([&](auto&) {
      count = static_cast<std::uint32_t>(m_world->At(m_index).description.nodes.size());
      return kS_OK;
    });
  }
  HResult GetNodeType(std::uint32_t node, link::Guid& type) override {
    return m_world->Locked([&](auto&) {
      const auto& nodes = m_world->At(m_index).description.nodes;
      if (node >= nodes.size()) return link::kE_INVALIDARG;
      type = nodes[node].type;
      return kS_OK;
    });
  }
  HResult CreateNodeControl(std::uint32_t node, std::unique_ptr<link::NodeControl>& out) override {
    out.reset();
    return m_world->Locked([&](auto&) {
      DeviceState& d = m_world->At(m_index);
      if (node >= d.description.nodes.size()) return link::kE_INVALIDARG;
      if (!m_world->Reachable(m_index, m_instance)) return kDeviceNotConnected;
      if (d.nodeOpenResults[node] != kS_OK) return d.nodeOpenResults[node];
      out = std::make_unique<SimNodeControl>(m_world, m_index, m_instance, node);
      return kS_OK;
    });
  }

 private:
  std::shared_ptr<World> m_world;
  std::size_t m_index;
  unsigned m_instance;
};

class SimFilter final : public link::CaptureFilter {
 public:
  SimFilter(std::shared_ptr<World> world, std::size_t index, unsigned instance)
      : m_world(std::move(world)), m_index(index), m_instance(instance) {
    ++m_world->m_filterRefs;
  }
  void AddRef() override {
    ++m_refs;
    ++m_world->m_filterRefs;
  }
  void Release() override {
    --m_world->m_filterRefs;
    if (--m_refs == 0) delete this;
  }
  HResult QueryTopology(std::unique_ptr<link::Topology>& out) override {
    out.reset();
    return m_world->Locked([&](auto&) {
      if (!m_world->At(m_index).topologyAvailable) return link::kE_NOINTERFACE;
      out = std::make_unique<SimTopology>(m_world, m_index, m_instance);
      return kS_OK;
    });
  }

 private:
  ~SimFilter() override = default;
  std::shared_ptr<World> m_world;
  std::size_t m_index;
  unsigned m_instance;
  std::atomic<long> m_refs{1};
};

class SimMoniker final : public link::DeviceMoniker {
 public:
  SimMoniker(std::shared_ptr<World> world, std::size_t index)
      : m_world(std::move(world)), m_index(index) {}

  HResult GetDisplayName(std::wstring& name) override {
    return m_world->Locked([&](auto&) {
      const DeviceState& d = m_world->At(m_index);
      if (d.displayNameResult != kS_OK) return d.displayNameResult;
      name = d.description.displayName;
      return kS_OK;
    });
  }
  HResult BindToFilter(link::FilterRef& out) override {
    out.Reset();
    return m_world->Locked([&](auto&) {
      const DeviceState& d = m_world->At(m_index);
      if (d.bindResult != kS_OK) return d.bindResult;
      if (!d.present) return kDeviceNotConnected;
      out = link::FilterRef::Adopt(new SimFilter(m_world, m_index, d.instance));
      return kS_OK;
    });
  }

 private:
  std::shared_ptr<World> m_world;
  std::size_t m_index;
};

class SimEnumeration final : public link::DeviceEnumeration {
 public:
  SimEnumeration(std::shared_ptr<World> world, std::vector<std::size_t> devices)
      : m_world(std::move(world)), m_devices(std::move(devices)) {}

  HResult Next(std::unique_ptr<link::DeviceMoniker>& out) override {
    out.reset();
    if (m_next >= m_devices.size()) return link::kS_FALSE;
    out = std::make_unique<SimMoniker>(m_world, m_devices[m_next++]);
    return kS_OK;
  }

 private:
  std::shared_ptr<World> m_world;
  std::vector<std::size_t> m_devices;
  std::size_t m_next = 0;
};

}  // namespace

// Device

void Device::Unplug() {
  m_world->Locked([&](std::vector<PresenceEvent>& events) {
    m_world->Vanish(m_index, PresenceReason::Unplug, events);
  });
}

void Device::Replug() {
  m_world->Locked([&](std::vector<PresenceEvent>& events) {
    m_world->Arrive(m_index, PresenceReason::Unplug, events);
  });
}

bool Device::IsPresent() const {
  return m_world->Locked([&](auto&) { return m_world->At(m_index).present; });
}

void Device::SetDisplayNameResult(HResult hr) {
  m_world->Locked([&](auto&) { m_world->At(m_index).displayNameResult = hr; });
}

void Device::SetBindResult(HResult hr) {
  m_world->Locked([&](auto&) { m_world->At(m_index).bindResult = hr; });
}

void Device::SetTopologyAvailable(bool available) {
  m_world->Locked([&](auto&) { m_world->At(m_index).topologyAvailable = available; });
}

void Device::SetNodeOpenResult(std::uint32_t node, HResult hr) {
  m_world->Locked([&](auto&) {
    auto& results = m_world->At(m_index).nodeOpenResults;
    if (node < results.size()) results[node] = hr;
  });
}

void Device::RefuseSets(std::uint8_t command, HResult hr) {
  m_world->Locked([&](auto&) { m_world->At(m_index).refusedSets[command] = hr; });
}

void Device::RefuseNextSets(int count, HResult hr) {
  m_world->Locked([&](auto&) { m_world->At(m_index).nextSets = {count, hr}; });
}

void Device::RefuseGets(std::uint8_t command, HResult hr) {
  m_world->Locked([&](auto&) { m_world->At(m_index).refusedGets[command] = hr; });
}

void Device::RefuseNextGets(int count, HResult hr) {
  m_world->Locked([&](auto&) { m_world->At(m_index).nextGets = {count, hr}; });
}

void Device::SetControlLength(std::uint32_t length) {
  m_world->Locked([&](auto&) { m_world->At(m_index).controlLength = length; });
}

void Device::ClearFaults() {
  m_world->Locked([&](auto&) {
    DeviceState& d = m_world->At(m_index);
    std::fill(d.nodeOpenResults.begin(), d.nodeOpenResults.end(), kS_OK);
    d.displayNameResult = kS_OK;
    d.bindResult = kS_OK;
    d.topologyAvailable = true;
    d.controlLength = kDefaultControlLength;
    d.refusedSets.clear();
    d.refusedGets.clear();
    d.nextSets = {};
    d.nextGets = {};
    d.firmware.ClearAnswerFaults();
  });
}

ReceiverValues Device::Values() const {
  return m_world->Locked([&](auto&) { return m_world->At(m_index).firmware.Values(); });
}

void Device::SetValues(ReceiverValues values) {
  m_world->Locked([&](auto&) { m_world->At(m_index).firmware.SetValues(std::move(values)); });
}

std::uint8_t Device::LastCommand() const {
  return m_world->Locked([&](auto&) { return m_world->At(m_index).firmware.LastCommand(); });
}

void Device::SetLastCommand(std::uint8_t command) {
  m_world->Locked([&](auto&) { m_world->At(m_index).firmware.SetLastCommand(command); });
}

void Device::PinRssi(std::optional<std::int32_t> value) {
  m_world->Locked([&](auto&) { m_world->At(m_index).firmware.PinRssi(value); });
}

void Device::SetAnswerLineEnd(std::uint8_t command, bool on) {
  m_world->Locked([&](auto&) { m_world->At(m_index).firmware.SetAnswerLineEnd(command, on); });
}

void Device::SetAnswerUnterminated(std::uint8_t command, bool on) {
  m_world->Locked([&](auto&) { m_world->At(m_index).firmware.SetAnswerUnterminated(command, on); });
}

void Device::OverrideAnswer(std::uint8_t command, std::string payload) {
  m_world->Locked(
      [&](auto&) { m_world->At(m_index).firmware.OverrideAnswer(command, std::move(payload)); });
}

void Device::SetRebootTime(std::chrono::milliseconds time) {
  m_world->Locked([&](auto&) { m_world->At(m_index).description.rebootTime = time; });
}

// SimStack

SimStack::SimStack(std::shared_ptr<const Clock> clock)
    : m_world(std::make_shared<World>(std::move(clock))) {}

SimStack::~SimStack() = default;

Device SimStack::AddDevice(DeviceDescription description) {
  const std::size_t index =
      m_world->Locked([&](auto&) { return m_world->Add(std::move(description)); });
  return Device(m_world, index);
}

HResult SimStack::EnumerateVideoInputs(std::unique_ptr<link::DeviceEnumeration>& out) {
  out.reset();
  return m_world->Locked([&](auto&) {
    if (m_world->m_enumerateResult != kS_OK) return m_world->m_enumerateResult;
    std::vector<std::size_t> present;
    for (std::size_t i = 0; i < m_world->Count(); ++i) {
      if (m_world->At(i).present) present.push_back(i);
    }
    if (present.empty()) return link::kS_FALSE;
    out = std::make_unique<SimEnumeration>(m_world, std::move(present));
    return kS_OK;
  });
}

void SimStack::DebugOutput(const wchar_t* text) {
  m_world->Locked([&](auto&) { m_world->m_debugLines.emplace_back(text ? text : L""); });
}

void SimStack::SetEnumerateResult(HResult hr) {
  m_world->Locked([&](auto&) { m_world->m_enumerateResult = hr; });
}

std::vector<TransferRecord> SimStack::Transfers() const {
  return m_world->Locked([&](auto&) {
    return std::vector<TransferRecord>(m_world->m_log.begin(), m_world->m_log.end());
  });
}

std::vector<TransferRecord> SimStack::DataTransfers() const {
  std::vector<TransferRecord> all = Transfers();
  std::erase_if(all, [](const TransferRecord& r) {
    return r.kind != TransferKind::Get && r.kind != TransferKind::Set;
  });
  return all;
}

void SimStack::ClearTransfers() {
  m_world->Locked([&](auto&) { m_world->m_log.clear(); });
}

void SimStack::SetTransferLogLimit(std::size_t count) {
  m_world->Locked([&](auto&) {
    m_world->m_logLimit = count;
    while (m_world->m_log.size() > count) m_world->m_log.pop_front();
  });
}

std::vector<std::wstring> SimStack::DebugLines() const {
  return m_world->Locked([&](auto&) { return m_world->m_debugLines; });
}

long SimStack::FilterReferences() const { return m_world->m_filterRefs.load(); }

void SimStack::SetPresenceListener(std::function<void(const PresenceEvent&)> listener) {
  m_world->Locked([&](auto&) { m_world->m_listener = std::move(listener); });
}

void SimStack::Update() {
  m_world->Locked([](auto&) {});
}

}  // namespace nerova::sim
