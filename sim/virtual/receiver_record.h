#pragma once
// What the virtual receiver remembers between requests and between
// processes: its settings, the command its next GET answers, whether it is
// plugged in or restarting, and the faults it has been told to show. Kept as
// a small text file of key=value lines, one receiver for every program that
// talks to it.
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "sim/receiver_firmware.h"

namespace nerova::sim::virtual_receiver {

// The faults a tester can switch on, by name.
inline constexpr std::string_view kFaultNames[] = {
    "refuse-set",     // every SET of the settings control is refused
    "refuse-get",     // every GET of it is refused
    "long-control",   // the control reports and answers 64 bytes
    "short-control",  // ... 32 bytes
    "no-terminator",  // answers fill their text room with blanks, no zero byte
    "crlf",           // answers end their text with CR LF
    "node-fails",     // the settings unit's node cannot be opened
    "second-receiver", // the second receiver, with its own record, is attached
    // The restart command's own SET fails, and the receiver restarts anyway:
    // one that resets before it acknowledges.
    "restart-unacknowledged",
    // The restart command's own SET fails, and the receiver stays as it is:
    // it holds what was written, but takes it only at its next start.
    "restart-refused",
    // Once: the receiver leaves between the next read's SET and its GET, and
    // comes back by itself after its restart time as a new device. The fault
    // clears itself when it fires, so the receiver can be loaded again.
    "vanish-mid-read",
};
bool IsFaultName(std::string_view name);

struct ReceiverRecord {
  ReceiverValues values;
  std::optional<std::int32_t> pinnedRssi;
  std::uint8_t lastCommand = 0;
  bool plugged = true;
  // Milliseconds since 1601 (the system time's scale) until which a
  // restarting receiver stays away.
  std::int64_t absentUntilMs = 0;
  std::int64_t restartTimeMs = 6000;
  // Grows each time the receiver leaves; a filter bound before fails.
  std::uint32_t generation = 0;
  std::set<std::string> faults;

  bool Present(std::int64_t nowMs) const { return plugged && nowMs >= absentUntilMs; }
  bool Has(std::string_view fault) const { return faults.count(std::string(fault)) != 0; }
  // The control's length as the faults make it.
  std::uint32_t ControlLength() const;
};

std::string FormatRecord(const ReceiverRecord& record);
// Lines that cannot be read keep the defaults; an empty text gives them all.
ReceiverRecord ParseRecord(std::string_view text);

// The settings texts are bytes in the receiver's code page; the file holds
// them as hexadecimal so that any byte survives.
std::string ToHex(std::string_view bytes, char separator = 0);
std::optional<std::string> FromHex(std::string_view hex);

}  // namespace nerova::sim::virtual_receiver
