#pragma once
// What nerova-cli says when a receiver's turn could not be had.
#include <string>

#include "link/receiver_turn.h"
#include "settings/apply_texts.h"
#include "settings/receiver_timing.h"

namespace nerova::cli {

inline std::wstring NotLockableMessage() { return L"The receiver could not be locked against other programs."; }

// Another program kept the receiver past the wait.
inline std::wstring InUseMessage() {
  return std::wstring(settings::kReceiverInUse) + L" (waited " +
         std::to_wstring(settings::kReceiverTurnWaitMs / 1000) + L" s).";
}

// Why a turn of a receiver that answered before was refused.
inline std::wstring TurnRefusedMessage(link::TurnOutcome outcome) {
  switch (outcome) {
    case link::TurnOutcome::HeldElsewhere:
      return InUseMessage();
    case link::TurnOutcome::Failed:
      return NotLockableMessage();
    default:
      return L"The receiver has gone.";
  }
}

}  // namespace nerova::cli
