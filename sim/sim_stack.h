#pragma once
// The receiver substitute: a capture stack of simulated video input devices
// behind the same boundary as DirectShow. A receiver carries the probe unit
// and the settings unit (control 3, 60 bytes) among ordinary nodes, speaks
// the command protocol (receiver_firmware.h), restarts on command 0x64 by
// vanishing for a while, and can be told to misbehave in the ways real
// devices and drivers do. Every property request that reaches a node is
// logged with its time, so tests can check order and spacing.
//
// One mutex guards the whole simulation: a test thread may read the log and
// change faults while another thread talks to the devices. Presence
// listeners are called without the lock held, on whichever thread caused
// the change (or in Update).
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "link/capture_stack.h"
#include "sim/clock.h"
#include "sim/receiver_firmware.h"

namespace nerova::sim {

// Results the simulated driver gives, with the codes of the Windows
// video-class driver (HRESULT_FROM_WIN32 of the error).
inline constexpr link::LinkStatus kGenFailure =
    link::LinkStatus::Of(link::StatusKind::Refused, static_cast<std::int32_t>(0x8007001Fu));  // a stall
inline constexpr link::LinkStatus kInsufficientBuffer =
    link::LinkStatus::Of(link::StatusKind::WrongLength, static_cast<std::int32_t>(0x8007007Au));
inline constexpr link::LinkStatus kMoreData =
    link::LinkStatus::Of(link::StatusKind::WrongLength, static_cast<std::int32_t>(0x800700EAu));
inline constexpr link::LinkStatus kDeviceNotConnected =
    link::LinkStatus::Of(link::StatusKind::Gone, static_cast<std::int32_t>(0x8007048Fu));
inline constexpr link::LinkStatus kNotFound =
    link::LinkStatus::Of(link::StatusKind::NotFound, static_cast<std::int32_t>(0x80070490u));
inline constexpr link::LinkStatus kSetNotFound =
    link::LinkStatus::Of(link::StatusKind::NotFound, static_cast<std::int32_t>(0x80070492u));
inline constexpr link::LinkStatus kNoInterface =
    link::LinkStatus::Of(link::StatusKind::Unsupported, static_cast<std::int32_t>(0x80004002u));
inline constexpr link::LinkStatus kClassNotRegistered =
    link::LinkStatus::Of(link::StatusKind::Failed, static_cast<std::int32_t>(0x80040154u));
inline constexpr link::LinkStatus kAccessDenied =
    link::LinkStatus::Of(link::StatusKind::AccessDenied, static_cast<std::int32_t>(0x80070005u));

// Node type of an extension unit.
inline constexpr link::Guid KSNODETYPE_DEV_SPECIFIC =
    link::Guid::FromFields(0x941C7AC0, 0xC559, 0x11D0, {0x8A, 0x2B, 0x00, 0xA0, 0xC9, 0x25, 0x5A, 0xC1});
// Node types of a USB Video Class topology besides extension units.
inline constexpr link::Guid KSNODETYPE_VIDEO_STREAMING = link::Guid::FromFields(
    0xDFF229E1, 0xF70F, 0x11D0, {0xB9, 0x17, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96});
inline constexpr link::Guid KSNODETYPE_VIDEO_PROCESSING = link::Guid::FromFields(
    0xDFF229E5, 0xF70F, 0x11D0, {0xB9, 0x17, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96});
inline constexpr link::Guid KSNODETYPE_VIDEO_CAMERA_TERMINAL = link::Guid::FromFields(
    0xDFF229E6, 0xF70F, 0x11D0, {0xB9, 0x17, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96});

struct NodeDescription {
  link::Guid type;
  // The property set of an extension unit; it answers the unit-information
  // query with this GUID. Empty for other nodes.
  std::optional<link::Guid> unit;
};

struct DeviceDescription {
  std::wstring displayName;
  std::optional<link::UsbIdentity> usb;
  std::wstring serial;
  std::wstring port;
  std::vector<NodeDescription> nodes;
  ReceiverValues values;
  std::chrono::milliseconds rebootTime{6000};
};

// The receiver as the system lists it; `instance` tells a second one apart.
DeviceDescription ReceiverDescription(int instance = 0);
// A webcam: ordinary nodes and an extension unit of its own vendor.
DeviceDescription CameraDescription(int instance = 0);

enum class TransferKind { UnitInfo, SizeQuery, Get, Set, Other };

struct TransferRecord {
  std::chrono::milliseconds time{0};
  std::size_t device = 0;  // in the order the devices were added
  std::uint32_t node = 0;
  TransferKind kind = TransferKind::Other;
  link::Guid set;
  // The control selector (0 for a unit-information query).
  std::uint32_t property = 0;
  link::LinkStatus result;
  // SET: the bytes sent; GET: the bytes returned.
  std::vector<std::uint8_t> bytes;
};

enum class PresenceChange { Vanished, Returned };
enum class PresenceReason { Reboot, Unplug };
struct PresenceEvent {
  std::size_t device;
  PresenceChange change;
  PresenceReason reason;
};

class World;

// A handle to one simulated device; cheap to copy, valid as long as the
// simulation (the stack or anything it handed out) lives.
class Device {
 public:
  std::size_t Index() const { return m_index; }

  // Presence: an unplugged device leaves the list and fails every transfer
  // until plugged in again. A device that comes back is a new device to the
  // system: filters bound before fail.
  void Unplug();
  void Replug();
  bool IsPresent() const;

  // Enumeration and binding faults.
  void SetDisplayNameResult(link::LinkStatus status);
  void SetBindResult(link::LinkStatus status);
  void SetTopologyAvailable(bool available);
  void SetNodeOpenResult(std::uint32_t node, link::LinkStatus status);

  // Transfer faults of the settings control. A refusal for a command code
  // applies to every SET of that code, or every GET answering it; "next"
  // refusals apply to the next `count` SETs or GETs of any code.
  void RefuseSets(std::uint8_t command, link::LinkStatus status = kGenFailure);
  void RefuseNextSets(int count, link::LinkStatus status = kGenFailure);
  void RefuseGets(std::uint8_t command, link::LinkStatus status = kGenFailure);
  void RefuseNextGets(int count, link::LinkStatus status = kGenFailure);
  // The length the settings control reports and answers with (60 normally).
  void SetControlLength(std::uint32_t length);
  // A receiver that resets before it acknowledges: the restart command's own
  // SET fails with `status` while the receiver restarts anyway (it leaves for
  // its restart time and comes back with what it was given).
  void SetRestartUnacknowledged(bool on, link::LinkStatus status = kGenFailure);
  // Armed, the receiver leaves right after the next read request's SET (a
  // block with the code alone) has gone through, so that the GET answering it
  // finds the device gone; it comes back by itself after its restart time, a
  // new device to the system. Fires once, then disarms itself.
  void LeaveAfterNextReadRequest(bool armed);
  bool LeavesAfterNextReadRequest() const;
  void ClearFaults();

  // The receiver's protocol state: values, answer faults, RSSI.
  ReceiverValues Values() const;
  void SetValues(ReceiverValues values);
  // The command the next GET answers.
  std::uint8_t LastCommand() const;
  void SetLastCommand(std::uint8_t command);
  void PinRssi(std::optional<std::int32_t> value);
  void SetAnswerLineEnd(std::uint8_t command, bool on);
  void SetAnswerUnterminated(std::uint8_t command, bool on);
  void OverrideAnswer(std::uint8_t command, std::string payload);
  void SetRebootTime(std::chrono::milliseconds time);

 private:
  friend class SimStack;
  Device(std::shared_ptr<World> world, std::size_t index)
      : m_world(std::move(world)), m_index(index) {}
  std::shared_ptr<World> m_world;
  std::size_t m_index;
};

class SimStack final : public link::CaptureStack {
 public:
  explicit SimStack(std::shared_ptr<const Clock> clock = std::make_shared<SteadyClock>());
  ~SimStack() override;
  SimStack(const SimStack&) = delete;
  SimStack& operator=(const SimStack&) = delete;

  Device AddDevice(DeviceDescription description);
  Device AddReceiver() { return AddDevice(ReceiverDescription()); }
  Device AddCamera() { return AddDevice(CameraDescription()); }

  // CaptureStack. The list holds the devices present when it is made.
  link::LinkStatus ListVideoInputs(std::unique_ptr<link::VideoInputList>& out) override;
  void DebugOutput(const wchar_t* text) override;

  // Listing the devices fails with `status` (Success again for normal).
  void SetEnumerateResult(link::LinkStatus status);

  std::vector<TransferRecord> Transfers() const;
  // Only the SETs and GETs of the settings control (size queries excluded).
  std::vector<TransferRecord> DataTransfers() const;
  void ClearTransfers();
  // The log keeps the newest `count` records (for substitutes that run long).
  void SetTransferLogLimit(std::size_t count);
  std::vector<std::wstring> DebugLines() const;
  // Opened devices still held, all holders together.
  long OpenDevices() const;

  // Called when a device vanishes or returns.
  void SetPresenceListener(std::function<void(const PresenceEvent&)> listener);
  // Brings back devices whose restart is over and tells the listener; every
  // request to the stack does this too.
  void Update();

 private:
  std::shared_ptr<World> m_world;
};

}  // namespace nerova::sim
