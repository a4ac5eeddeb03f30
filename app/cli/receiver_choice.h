#pragma once
// Which receiver a command talks to. The receiver link uses the first
// receiver it finds; with several attached, the command line narrows the
// video input category to the one the user chose, so that every find of the
// link (including those after the receiver's restart) lands on it.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "link/capture_stack.h"
#include "link/message_pump.h"
#include "link/receiver.h"
#include "link/receiver_lock.h"
#include "link/text_codec.h"

namespace nerova::cli {

// A receiver as the system lists it: its name, and the serial number and
// port of its USB device (empty where unknown).
struct AttachedReceiver {
  std::wstring name;
  std::wstring serial;
  std::wstring port;
  // The serial number, else the port: what tells this receiver from the
  // others across its restarts.
  const std::wstring& Key() const { return serial.empty() ? port : serial; }
};

// "NRV20260001  1-1": how lines name a receiver, "-" for what is unknown.
std::wstring SerialAndPort(const AttachedReceiver& receiver);

// The video inputs that carry the receiver's USB identity, in the order of
// their ports (then of their names), so that a number names the same
// receiver across restarts. Inputs whose name cannot be read are left out.
std::vector<AttachedReceiver> AttachedReceivers(link::CaptureStack& stack);

// Whether `a`'s port comes before `b`'s: compared part by part, numbers as
// numbers ("1-2" before "1-10"); an unknown port comes last.
bool PortBefore(const std::wstring& a, const std::wstring& b);

// The receiver `device` names: its number in `receivers` (from 1), its
// serial number, its port or its name. None when nothing matches.
std::optional<AttachedReceiver> FindReceiver(const std::vector<AttachedReceiver>& receivers,
                                             const std::wstring& device);

// `base` with its video input category narrowed to the input named
// `displayName`; while that receiver is away (restarting, unplugged) the
// category is empty.
class ChosenReceiverStack final : public link::CaptureStack {
 public:
  ChosenReceiverStack(link::CaptureStack& base, std::wstring displayName);
  ChosenReceiverStack(const ChosenReceiverStack&) = delete;
  ChosenReceiverStack& operator=(const ChosenReceiverStack&) = delete;

  link::LinkStatus ListVideoInputs(std::unique_ptr<link::VideoInputList>& out) override;
  void DebugOutput(const wchar_t* text) override { m_base.DebugOutput(text); }

 private:
  link::CaptureStack& m_base;
  std::wstring m_displayName;
};

// One chosen receiver: the category narrowed to it, and the receiver over
// that. `base`, `pump`, `codec` and `locks` must outlive it.
class ChosenReceiver {
 public:
  ChosenReceiver(link::CaptureStack& base, link::MessagePump& pump, const link::TextCodec& codec,
                 link::ReceiverLocks& locks, const std::wstring& name, std::uint32_t turnWaitMs)
      : m_stack(base, name), m_receiver(m_stack, pump, codec, link::OpenGate(), locks, turnWaitMs) {}
  ChosenReceiver(const ChosenReceiver&) = delete;
  ChosenReceiver& operator=(const ChosenReceiver&) = delete;

  link::ReceiverSettings& Settings() { return m_receiver.Settings(); }
  // Whether it answers now. A command line runs long enough for a receiver
  // to leave and come back, so it is found afresh each time.
  bool Answers() { return m_receiver.AnswersFoundAfresh(); }

 private:
  ChosenReceiverStack m_stack;
  link::Receiver m_receiver;
};

}  // namespace nerova::cli
