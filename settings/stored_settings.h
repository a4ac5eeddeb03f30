#pragma once
// One load of the receiver's settings: every value the settings window and
// the command line show, read in one sequence with a short pause between the
// reads. The receiver has answered its short version before.
#include <bitset>
#include <cstdint>
#include <string>

#include "link/message_pump.h"
#include "link/receiver_settings.h"
#include "link/receiver_turn.h"

namespace nerova::settings {

// Pause between the reads of one load, so the window keeps painting.
inline constexpr std::uint32_t kReadPauseMs = 10;

// The values of one load, each of which the receiver may or may not have
// answered.
enum class StoredValue : unsigned {
  FirmwareVersion,
  Url,
  WifiName,
  WifiPassword,
  Rssi,
  Resolution,
  LongPressTime,
  AgingTest,
};
inline constexpr unsigned kStoredValueCount = 8;

struct StoredSettings {
  std::wstring firmwareVersion;
  // The setting mode and camera model follow from it (ModelForStoredUrl).
  std::wstring url;
  std::wstring wifiName;
  std::wstring wifiPassword;
  std::int32_t rssi = 0;
  std::int32_t resolutionWidth = 0;
  std::int32_t resolutionHeight = 0;
  // As the receiver answered (kLongPressTimeFailed and off when it did not).
  std::int32_t longPressTime = 0;
  bool agingTest = false;
  // The values the receiver answered; the others hold their read's failure
  // value. A long-press time or aging test it did not answer is kept as it
  // holds it, not written back with the failure value.
  std::bitset<kStoredValueCount> answered;
  bool Answered(StoredValue value) const { return answered.test(static_cast<unsigned>(value)); }
  // How many reads got no answer at all (the receiver left, refused or was
  // kept by another program), as opposed to an answer of another form (a
  // key its firmware does not have).
  unsigned unansweredReads = 0;
  // Whether the values one edits and the firmware version all had answers;
  // a receiver that left or refused in the middle of the load did not give
  // its settings, only failure values.
  bool editableValuesRead = false;
};

// A value that could not be read is left as the read's failure value. All
// reads run in `turn`.
StoredSettings ReadStoredSettings(const link::ReceiverTurn& turn, link::ReceiverSettings& settings,
                                  link::MessagePump& pump);

}  // namespace nerova::settings
