#pragma once
// The transport to the receiver: finding it among the video input devices and
// moving one block through control 3 of its settings unit with SET_CUR and
// GET_CUR. Holds no state between calls; every transfer walks the filter's
// topology afresh.
#include <cstdint>
#include <string_view>

#include "link/capture_stack.h"

namespace nerova::link {

// The receiver's USB identity.
constexpr std::uint16_t kReceiverVendorId = 0x1D6B;
constexpr std::uint16_t kReceiverProductId = 0x010C;
// Control selector of the settings unit that carries every command block.
constexpr std::uint32_t kSettingsControl = 3;

// Whether a video input's display name carries the receiver's USB identity,
// "vid_1d6b&pid_010c".
bool CarriesReceiverIdentity(std::wstring_view displayName);

class ReceiverLink {
 public:
  explicit ReceiverLink(CaptureStack& stack) : m_stack(stack) {}
  ReceiverLink(const ReceiverLink&) = delete;
  ReceiverLink& operator=(const ReceiverLink&) = delete;

  // The first video input device whose display name holds "vid_1d6b&pid_010c".
  HResult FindReceiverByUsbId(FilterRef& out);
  // The first video input device with a node that answers the unit
  // information query of the probe unit.
  HResult FindReceiverByProbeUnit(FilterRef& out);
  // One SET_CUR of the settings control. A null filter: the receiver is found
  // by its USB identity for this call only.
  HResult SetCur(const std::uint8_t* data, std::uint32_t length, CaptureFilter* filter);
  // One GET_CUR of the settings control into `buffer`. Fails unless the
  // control's length is at most `capacity` and exactly that many bytes arrive;
  // bytes beyond the control's length are not touched.
  HResult GetCur(std::uint8_t* buffer, std::uint32_t capacity, CaptureFilter* filter);

  // Holds a sequence of transfers that must complete whole for its scope
  // (see CaptureStack::HoldForWholeSequence).
  class WholeSequence {
   public:
    explicit WholeSequence(ReceiverLink& link) : m_stack(link.m_stack) { m_stack.HoldForWholeSequence(true); }
    ~WholeSequence() { m_stack.HoldForWholeSequence(false); }
    WholeSequence(const WholeSequence&) = delete;
    WholeSequence& operator=(const WholeSequence&) = delete;

   private:
    CaptureStack& m_stack;
  };
  // The caller's use of the receiver is being stopped: it is to change
  // nothing beyond the sequence it holds.
  bool StopRequested() const { return m_stack.StopRequested(); }
  // An exchange would have to wait for another user of the receiver.
  bool Busy() const { return m_stack.Busy(); }

 private:
  CaptureStack& m_stack;
};

}  // namespace nerova::link
