#pragma once
// The writes of an Apply and the restart that follows them. The receiver
// stores one setting at a time, so each write is followed by a pause before
// the next arrives; the restart makes it take the new configuration.
//
// While the object lives it holds a whole-sequence turn of the receiver
// (link/receiver_turn.h): whoever stops the caller's use of the receiver
// waits, briefly, for it to end. The caller creates it right before the
// first write, inside the turn it checked the configuration in, and keeps
// it until the restart has gone out, with whatever it tells the user in
// between.
#include <cstdint>

#include "link/message_pump.h"
#include "link/receiver_settings.h"
#include "link/receiver_turn.h"
#include "settings/configuration.h"

namespace nerova::settings {

// Pause after each write, so the receiver can store one setting before the
// next arrives.
inline constexpr std::uint32_t kWritePauseMs = 150;

class ApplySequence {
 public:
  ApplySequence(link::ReceiverSettings& settings, link::MessagePump& pump);
  ApplySequence(const ApplySequence&) = delete;
  ApplySequence& operator=(const ApplySequence&) = delete;

  // URL, Wi-Fi name, password, long-press time, aging test, each followed by
  // the pause; the last two only when the configuration has them. False as
  // soon as one of the three texts is refused; the receiver's older firmware
  // lacks the last two, so their failures are not. Once all are out, the
  // restart is the sequence's reserved last exchange.
  bool Write(const Configuration& configuration);
  // Tells the receiver to restart; it leaves and comes back as a new device.
  link::LinkStatus Restart();

 private:
  link::ReceiverSettings& m_settings;
  link::MessagePump& m_pump;
  link::ReceiverTurn m_whole;
};

}  // namespace nerova::settings
