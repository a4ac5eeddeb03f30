#pragma once
// The units and terminals of a USB Video Class VideoControl interface, read
// from a device's raw descriptors (sysfs "descriptors": the device
// descriptor, then every configuration with its interface and class-specific
// descriptors). Hostile input is expected: parsing stops at the first
// descriptor whose length is impossible, and a unit descriptor too short for
// its own fields is skipped.
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "link/guid.h"

namespace nerova::link::linux_stack {

enum class UvcEntityKind { InputTerminal, OutputTerminal, SelectorUnit, ProcessingUnit, ExtensionUnit };

struct UvcEntity {
  UvcEntityKind kind = UvcEntityKind::InputTerminal;
  std::uint8_t id = 0;             // bTerminalID or bUnitID
  std::uint16_t terminalType = 0;  // wTerminalType of terminals
  // Extension units: guidExtensionCode, and the descriptor from that field
  // to its end (what the unit-information query answers).
  Guid extensionCode;
  std::vector<std::uint8_t> extensionInfo;
};

// The entities of VideoControl interface `interfaceNumber` (alternate
// setting 0) of the first configuration that has it, in descriptor order.
std::vector<UvcEntity> ParseVideoControlEntities(std::string_view descriptors,
                                                 std::uint8_t interfaceNumber);

}  // namespace nerova::link::linux_stack
