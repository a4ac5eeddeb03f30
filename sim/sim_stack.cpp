#include "sim/sim_stack.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>

#include "link/receiver_link.h"

namespace nerova::sim {

using link::LinkStatus;
using link::StatusKind;

namespace {

constexpr std::uint32_t kDefaultControlLength = 60;
// GET_INFO of the settings control: GET and SET supported.
constexpr std::uint8_t kSettingsControlInfo = 0x03;
const LinkStatus kOk = LinkStatus::Success();

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
  LinkStatus result = kGenFailure;
};

}  // namespace

DeviceDescription ReceiverDescription(int instance) {
  DeviceDescription description;
  // Past the three instance names of real systems, made up alike: every
  // receiver has a name of its own.
  const std::wstring instanceName = instance < 3 ? std::wstring(kReceiverInstances[instance])
                                                 : L"7&4e0d" + std::to_wstring(instance) + L"&0&0000";
  description.displayName = CaptureDeviceName(L"vid_1d6b&pid_010c", instanceName.c_str());
  description.usb = link::kReceiverIdentity;
  description.serial = L"NRV" + std::to_wstring(20260001 + instance);
  description.port = L"1-" + std::to_wstring(instance + 1);
  description.nodes = {
      {KSNODETYPE_VIDEO_CAMERA_TERMINAL, std::nullopt},
      {KSNODETYPE_VIDEO_PROCESSING, std::nullopt},
      {KSNODETYPE_DEV_SPECIFIC, link::ProbeUnitGuid},
      {KSNODETYPE_DEV_SPECIFIC, link::SettingsUnitGuid},
      {KSNODETYPE_VIDEO_STREAMING, std::nullopt},
  };
  return description;
}

DeviceDescription CameraDescription(int instance) {
  DeviceDescription description;
  description.displayName = CaptureDeviceName(L"vid_0bda&pid_58b0", kCameraInstances[instance % 3]);
  description.usb = link::UsbIdentity{0x0BDA, 0x58B0};
  description.nodes = {
      {KSNODETYPE_VIDEO_CAMERA_TERMINAL, std::nullopt},
      {KSNODETYPE_VIDEO_PROCESSING, std::nullopt},
      {KSNODETYPE_DEV_SPECIFIC, kCameraVendorUnit},
      {KSNODETYPE_VIDEO_STREAMING, std::nullopt},
  };
  return description;
}

struct DeviceState {
  explicit DeviceState(DeviceDescription s)
      : description(std::move(s)),
        firmware(description.values),
        nodeOpenResults(description.nodes.size(), kOk) {}

  DeviceDescription description;
  ReceiverFirmware firmware;
  std::vector<LinkStatus> nodeOpenResults;
  LinkStatus displayNameResult;
  LinkStatus bindResult;
  bool topologyAvailable = true;

  bool present = true;
  bool restarting = false;
  std::chrono::milliseconds backAt{0};
  // Grows each time the device arrives anew; filters remember theirs.
  unsigned instance = 0;

  std::uint32_t controlLength = kDefaultControlLength;
  std::map<std::uint8_t, LinkStatus> refusedSets;
  std::map<std::uint8_t, LinkStatus> refusedGets;
  Refusal nextSets;
  Refusal nextGets;
  std::optional<LinkStatus> unacknowledgedRestart;
  bool leaveAfterNextRead = false;
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

  LinkStatus FindUnit(std::size_t index, unsigned instance, const link::Guid& unit, link::UnitSearch search,
                      std::uint32_t& node);
  LinkStatus Query(std::size_t index, unsigned instance, std::uint32_t node, std::uint8_t selector,
                   link::UvcRequest request, std::uint8_t* data, std::uint32_t size, std::uint32_t& transferred,
                   std::vector<PresenceEvent>& events);

  std::shared_ptr<const Clock> m_clock;
  std::mutex m_mutex;
  std::vector<std::unique_ptr<DeviceState>> m_devices;
  std::deque<TransferRecord> m_log;
  std::size_t m_logLimit = 100000;
  std::vector<std::wstring> m_debugLines;
  LinkStatus m_enumerateResult;
  std::function<void(const PresenceEvent&)> m_listener;
  std::atomic<long> m_openDevices{0};

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

LinkStatus RefusalFor(std::map<std::uint8_t, LinkStatus>& perCommand, Refusal& next, std::uint8_t command) {
  if (next.remaining > 0) {
    --next.remaining;
    return next.result;
  }
  if (const auto found = perCommand.find(command); found != perCommand.end()) return found->second;
  return kOk;
}

TransferKind KindOf(link::UvcRequest request) {
  switch (request) {
    case link::UvcRequest::GetLen:
      return TransferKind::SizeQuery;
    case link::UvcRequest::GetCur:
      return TransferKind::Get;
    case link::UvcRequest::SetCur:
      return TransferKind::Set;
    case link::UvcRequest::GetInfo:
      return TransferKind::Other;
  }
  return TransferKind::Other;
}

}  // namespace

LinkStatus World::FindUnit(std::size_t index, unsigned instance, const link::Guid& unit, link::UnitSearch search,
                           std::uint32_t& found) {
  DeviceState& d = At(index);
  if (!d.topologyAvailable) return kNoInterface;
  const bool everyEntity = search == link::UnitSearch::EveryEntity;
  for (std::uint32_t node = 0; node < d.description.nodes.size(); ++node) {
    const NodeDescription& target = d.description.nodes[node];
    if (!everyEntity && target.type != KSNODETYPE_DEV_SPECIFIC) continue;
    LinkStatus open = Reachable(index, instance) ? d.nodeOpenResults[node] : kDeviceNotConnected;
    // A unit that cannot be reached ends the search, or rules out the device.
    if (!open.Ok()) return everyEntity ? LinkStatus::Of(StatusKind::NotFound) : open;

    // The unit-information query: the unit answers with its GUID.
    TransferRecord record;
    record.time = Now();
    record.device = index;
    record.node = node;
    record.kind = TransferKind::UnitInfo;
    record.set = unit;
    const bool carries = target.unit && *target.unit == unit;
    record.result = carries ? kOk : kSetNotFound;
    if (carries) record.bytes.assign(unit.bytes.begin(), unit.bytes.end());
    Record(std::move(record));
    if (carries) {
      found = node;
      return kOk;
    }
  }
  return LinkStatus::Of(StatusKind::NotFound);
}

LinkStatus World::Query(std::size_t index, unsigned instance, std::uint32_t node, std::uint8_t selector,
                        link::UvcRequest request, std::uint8_t* data, std::uint32_t size,
                        std::uint32_t& transferred, std::vector<PresenceEvent>& events) {
  transferred = 0;
  TransferRecord record;
  record.time = Now();
  record.device = index;
  record.node = node;
  record.kind = KindOf(request);
  record.property = selector;
  auto finish = [&](LinkStatus status) {
    record.result = status;
    Record(std::move(record));
    return status;
  };
  if (record.kind == TransferKind::Set && data != nullptr) record.bytes.assign(data, data + size);

  if (!Reachable(index, instance)) return finish(kDeviceNotConnected);
  DeviceState& d = At(index);
  const NodeDescription& target = d.description.nodes[node];
  record.set = target.unit.value_or(link::Guid{});
  if (target.unit != link::SettingsUnitGuid || selector != link::kSettingsControl) return finish(kNotFound);
  if (data == nullptr && size != 0) return finish(LinkStatus::Of(StatusKind::Failed));

  switch (request) {
    case link::UvcRequest::GetInfo:
      if (size < 1) return finish(kInsufficientBuffer);
      data[0] = kSettingsControlInfo;
      transferred = 1;
      return finish(kOk);
    case link::UvcRequest::GetLen:
      if (size < 2) return finish(kInsufficientBuffer);
      data[0] = static_cast<std::uint8_t>(d.controlLength);
      data[1] = static_cast<std::uint8_t>(d.controlLength >> 8);
      transferred = 2;
      return finish(kOk);
    case link::UvcRequest::SetCur: {
      if (size < d.controlLength) return finish(kInsufficientBuffer);
      if (const LinkStatus refused = RefusalFor(d.refusedSets, d.nextSets, data[0]); !refused.Ok()) {
        return finish(refused);
      }
      // A block with the code alone asks for the answer the next GET reads.
      const bool readRequest = d.controlLength > 1 && data[1] == 0;
      const bool restart = d.firmware.Receive(data, d.controlLength);
      if (restart || (readRequest && d.leaveAfterNextRead)) {
        if (!restart) d.leaveAfterNextRead = false;
        Vanish(index, PresenceReason::Reboot, events);
      }
      if (restart && d.unacknowledgedRestart) return finish(*d.unacknowledgedRestart);
      transferred = d.controlLength;
      return finish(kOk);
    }
    case link::UvcRequest::GetCur:
      break;
  }

  if (size < d.controlLength) return finish(kMoreData);
  if (const LinkStatus refused = RefusalFor(d.refusedGets, d.nextGets, d.firmware.LastCommand()); !refused.Ok()) {
    return finish(refused);
  }
  const CommandBlock answer = d.firmware.Answer(Now());
  std::vector<std::uint8_t> bytes(d.controlLength, 0);
  std::memcpy(bytes.data(), answer.data(), std::min<std::size_t>(answer.size(), bytes.size()));
  std::memcpy(data, bytes.data(), bytes.size());
  transferred = d.controlLength;
  record.bytes = std::move(bytes);
  return finish(kOk);
}

namespace {

class SimUnit final : public link::ExtensionUnit {
 public:
  SimUnit(std::shared_ptr<World> world, std::size_t index, unsigned instance, std::uint32_t node)
      : m_world(std::move(world)), m_index(index), m_instance(instance), m_node(node) {}

  LinkStatus Query(std::uint8_t selector, link::UvcRequest request, std::uint8_t* data, std::uint32_t size,
                   std::uint32_t& transferred) override {
    return m_world->Locked([&](std::vector<PresenceEvent>& events) {
      return m_world->Query(m_index, m_instance, m_node, selector, request, data, size, transferred, events);
    });
  }

 private:
  std::shared_ptr<World> m_world;
  std::size_t m_index;
  unsigned m_instance;
  std::uint32_t m_node;
};

class SimDevice final : public link::VideoDevice {
 public:
  SimDevice(std::shared_ptr<World> world, std::size_t index, unsigned instance)
      : m_world(std::move(world)), m_index(index), m_instance(instance) {
    ++m_world->m_openDevices;
  }
  ~SimDevice() override { --m_world->m_openDevices; }
  SimDevice(const SimDevice&) = delete;
  SimDevice& operator=(const SimDevice&) = delete;

  LinkStatus FindExtensionUnit(const link::Guid& unit, link::UnitSearch search,
                               std::unique_ptr<link::ExtensionUnit>& out) override {
    out.reset();
    return m_world->Locked([&](auto&) {
      std::uint32_t node = 0;
      const LinkStatus status = m_world->FindUnit(m_index, m_instance, unit, search, node);
      if (status.Ok()) out = std::make_unique<SimUnit>(m_world, m_index, m_instance, node);
      return status;
    });
  }

 private:
  std::shared_ptr<World> m_world;
  std::size_t m_index;
  unsigned m_instance;
};

class SimInput final : public link::VideoInput {
 public:
  SimInput(std::shared_ptr<World> world, std::size_t index) : m_world(std::move(world)), m_index(index) {}

  LinkStatus Name(link::VideoInputName& out) override {
    return m_world->Locked([&](auto&) {
      const DeviceState& d = m_world->At(m_index);
      if (!d.displayNameResult.Ok()) return d.displayNameResult;
      out = {d.description.displayName, d.description.usb, d.description.serial, d.description.port};
      return kOk;
    });
  }
  LinkStatus Open(link::DeviceRef& out) override {
    out.reset();
    return m_world->Locked([&](auto&) {
      const DeviceState& d = m_world->At(m_index);
      if (!d.bindResult.Ok()) return d.bindResult;
      if (!d.present) return kDeviceNotConnected;
      out = std::make_shared<SimDevice>(m_world, m_index, d.instance);
      return kOk;
    });
  }

 private:
  std::shared_ptr<World> m_world;
  std::size_t m_index;
};

class SimInputList final : public link::VideoInputList {
 public:
  SimInputList(std::shared_ptr<World> world, std::vector<std::size_t> devices)
      : m_world(std::move(world)), m_devices(std::move(devices)) {}

  bool Next(std::unique_ptr<link::VideoInput>& out) override {
    out.reset();
    if (m_next >= m_devices.size()) return false;
    out = std::make_unique<SimInput>(m_world, m_devices[m_next++]);
    return true;
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

void Device::SetDisplayNameResult(LinkStatus status) {
  m_world->Locked([&](auto&) { m_world->At(m_index).displayNameResult = status; });
}

void Device::SetBindResult(LinkStatus status) {
  m_world->Locked([&](auto&) { m_world->At(m_index).bindResult = status; });
}

void Device::SetTopologyAvailable(bool available) {
  m_world->Locked([&](auto&) { m_world->At(m_index).topologyAvailable = available; });
}

void Device::SetNodeOpenResult(std::uint32_t node, LinkStatus status) {
  m_world->Locked([&](auto&) {
    auto& results = m_world->At(m_index).nodeOpenResults;
    if (node < results.size()) results[node] = status;
  });
}

void Device::RefuseSets(std::uint8_t command, LinkStatus status) {
  m_world->Locked([&](auto&) { m_world->At(m_index).refusedSets[command] = status; });
}

void Device::RefuseNextSets(int count, LinkStatus status) {
  m_world->Locked([&](auto&) { m_world->At(m_index).nextSets = {count, status}; });
}

void Device::RefuseGets(std::uint8_t command, LinkStatus status) {
  m_world->Locked([&](auto&) { m_world->At(m_index).refusedGets[command] = status; });
}

void Device::RefuseNextGets(int count, LinkStatus status) {
  m_world->Locked([&](auto&) { m_world->At(m_index).nextGets = {count, status}; });
}

void Device::SetControlLength(std::uint32_t length) {
  m_world->Locked([&](auto&) { m_world->At(m_index).controlLength = length; });
}

void Device::SetRestartUnacknowledged(bool on, LinkStatus status) {
  m_world->Locked([&](auto&) {
    m_world->At(m_index).unacknowledgedRestart = on ? std::optional<LinkStatus>(status) : std::nullopt;
  });
}

void Device::LeaveAfterNextReadRequest(bool armed) {
  m_world->Locked([&](auto&) { m_world->At(m_index).leaveAfterNextRead = armed; });
}

bool Device::LeavesAfterNextReadRequest() const {
  return m_world->Locked([&](auto&) { return m_world->At(m_index).leaveAfterNextRead; });
}

void Device::ClearFaults() {
  m_world->Locked([&](auto&) {
    DeviceState& d = m_world->At(m_index);
    std::fill(d.nodeOpenResults.begin(), d.nodeOpenResults.end(), kOk);
    d.displayNameResult = kOk;
    d.bindResult = kOk;
    d.topologyAvailable = true;
    d.controlLength = kDefaultControlLength;
    d.refusedSets.clear();
    d.refusedGets.clear();
    d.nextSets = {};
    d.nextGets = {};
    d.unacknowledgedRestart.reset();
    d.leaveAfterNextRead = false;
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

LinkStatus SimStack::ListVideoInputs(std::unique_ptr<link::VideoInputList>& out) {
  out.reset();
  return m_world->Locked([&](auto&) {
    if (!m_world->m_enumerateResult.Ok()) return m_world->m_enumerateResult;
    std::vector<std::size_t> present;
    for (std::size_t i = 0; i < m_world->Count(); ++i) {
      if (m_world->At(i).present) present.push_back(i);
    }
    out = std::make_unique<SimInputList>(m_world, std::move(present));
    return kOk;
  });
}

void SimStack::DebugOutput(const wchar_t* text) {
  m_world->Locked([&](auto&) { m_world->m_debugLines.emplace_back(text ? text : L""); });
}

void SimStack::SetEnumerateResult(LinkStatus status) {
  m_world->Locked([&](auto&) { m_world->m_enumerateResult = status; });
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

long SimStack::OpenDevices() const { return m_world->m_openDevices.load(); }

void SimStack::SetPresenceListener(std::function<void(const PresenceEvent&)> listener) {
  m_world->Locked([&](auto&) { m_world->m_listener = std::move(listener); });
}

void SimStack::Update() {
  m_world->Locked([](auto&) {});
}

}  // namespace nerova::sim
