#pragma once
// The transport to the receiver: finding it among the video input devices and
// moving one block through control 3 of its settings unit with SET_CUR and
// GET_CUR. Holds no state between calls; every transfer looks for the
// settings unit afresh. Each operation is one exchange of its gate.
#include <cstdint>
#include <string>

#include "link/capture_stack.h"
#include "link/exchange_gate.h"

namespace nerova::link {

// The receiver's USB identity.
inline constexpr UsbIdentity kReceiverIdentity{0x1D6B, 0x010C};
// Control selector of the settings unit that carries every command block.
constexpr std::uint8_t kSettingsControl = 3;

// Whether a video input carries the receiver's USB identity.
inline bool IsReceiver(const VideoInputName& name) { return name.usb == kReceiverIdentity; }

class ReceiverLink {
 public:
  explicit ReceiverLink(CaptureStack& stack, ExchangeGate& gate = OpenGate()) : m_stack(stack), m_gate(gate) {}
  ReceiverLink(const ReceiverLink&) = delete;
  ReceiverLink& operator=(const ReceiverLink&) = delete;

  // The first video input device with the receiver's USB identity.
  LinkStatus FindReceiverByUsbId(DeviceRef& out);
  // The first video input device that has the probe unit; the second form
  // also gives its ReceiverKey (empty when its name cannot be read).
  LinkStatus FindReceiverByProbeUnit(DeviceRef& out);
  LinkStatus FindReceiverByProbeUnit(DeviceRef& out, std::wstring& key);
  // One SET_CUR of the settings control. No device: the receiver is found by
  // its USB identity for this call only.
  LinkStatus SetCur(const std::uint8_t* data, std::uint32_t length, const DeviceRef& device);
  // One GET_CUR of the settings control into `buffer`. Fails unless the
  // control's length is at most `capacity` and exactly that many bytes arrive;
  // bytes beyond the control's length are not touched.
  LinkStatus GetCur(std::uint8_t* buffer, std::uint32_t capacity, const DeviceRef& device);

  // A sequence of transfers that must complete whole, from HoldWholeSequence
  // (true) to HoldWholeSequence(false): see ExchangeGate. A whole-sequence
  // turn (link/receiver_turn.h) holds it.
  void HoldWholeSequence(bool hold) { m_gate.HoldForWholeSequence(hold); }
  void ReserveLastExchange() { m_gate.ReserveLastExchange(); }
  // The caller's use of the receiver is being stopped: it is to change
  // nothing beyond the sequence it holds.
  bool StopRequested() const { return m_gate.StopRequested(); }
  // See ExchangeGate::GiveUp.
  void GiveUp() { m_gate.GiveUp(); }

 private:
  // The operations themselves, inside their exchange.
  LinkStatus FindByUsbId(DeviceRef& out);
  LinkStatus FindByProbeUnit(DeviceRef& out, std::wstring& key);
  LinkStatus FindSettingsUnit(const DeviceRef& device, std::unique_ptr<ExtensionUnit>& unit);
  LinkStatus Set(const std::uint8_t* data, std::uint32_t length, const DeviceRef& device);
  LinkStatus Get(std::uint8_t* buffer, std::uint32_t capacity, const DeviceRef& device);

  CaptureStack& m_stack;
  ExchangeGate& m_gate;
};

}  // namespace nerova::link
