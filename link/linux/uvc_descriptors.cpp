#include "link/linux/uvc_descriptors.h"

#include <span>

namespace nerova::link::linux_stack {
namespace {

constexpr std::uint8_t kConfigurationType = 0x02;
constexpr std::uint8_t kInterfaceType = 0x04;
constexpr std::uint8_t kClassInterfaceType = 0x24;  // CS_INTERFACE
constexpr std::uint8_t kVideoClass = 0x0E;
constexpr std::uint8_t kVideoControlSubclass = 0x01;

constexpr std::uint8_t kInputTerminal = 0x02;
constexpr std::uint8_t kOutputTerminal = 0x03;
constexpr std::uint8_t kSelectorUnit = 0x04;
constexpr std::uint8_t kProcessingUnit = 0x05;
constexpr std::uint8_t kExtensionUnit = 0x06;

// Smallest well-formed lengths: the fields every descriptor of the kind has.
constexpr std::size_t kInputTerminalMin = 8;
constexpr std::size_t kOutputTerminalMin = 9;
constexpr std::size_t kSelectorUnitMin = 6;
constexpr std::size_t kProcessingUnitMin = 9;
constexpr std::size_t kExtensionUnitMin = 24;
constexpr std::size_t kExtensionCodeOffset = 4;

using Bytes = std::span<const std::uint8_t>;

std::uint16_t Le16(Bytes d, std::size_t at) {
  return static_cast<std::uint16_t>(d[at] | (d[at + 1] << 8));
}

// An extension unit's length must cover its source list and its control
// bitmap, whose sizes it states itself.
bool ExtensionUnitFits(Bytes d) {
  if (d.size() < kExtensionUnitMin) return false;
  const std::size_t pins = d[21];
  if (d.size() < 22 + pins + 1) return false;
  const std::size_t controlSize = d[22 + pins];
  return d.size() >= 24 + pins + controlSize;
}

std::optional<UvcEntity> ParseEntity(Bytes d) {
  UvcEntity e;
  e.id = d[3];
  switch (d[2]) {
    case kInputTerminal:
      if (d.size() < kInputTerminalMin) return std::nullopt;
      e.kind = UvcEntityKind::InputTerminal;
      e.terminalType = Le16(d, 4);
      return e;
    case kOutputTerminal:
      if (d.size() < kOutputTerminalMin) return std::nullopt;
      e.kind = UvcEntityKind::OutputTerminal;
      e.terminalType = Le16(d, 4);
      return e;
    case kSelectorUnit:
      if (d.size() < kSelectorUnitMin) return std::nullopt;
      e.kind = UvcEntityKind::SelectorUnit;
      return e;
    case kProcessingUnit:
      if (d.size() < kProcessingUnitMin) return std::nullopt;
      e.kind = UvcEntityKind::ProcessingUnit;
      return e;
    case kExtensionUnit:
      if (!ExtensionUnitFits(d)) return std::nullopt;
      e.kind = UvcEntityKind::ExtensionUnit;
      for (std::size_t i = 0; i < e.extensionCode.bytes.size(); ++i) {
        e.extensionCode.bytes[i] = d[kExtensionCodeOffset + i];
      }
      e.extensionInfo.assign(d.begin() + kExtensionCodeOffset, d.end());
      return e;
    default:
      return std::nullopt;  // header, encoding unit and kinds of later revisions
  }
}

}  // namespace

std::vector<UvcEntity> ParseVideoControlEntities(std::string_view descriptors,
                                                 std::uint8_t interfaceNumber) {
  const Bytes all(reinterpret_cast<const std::uint8_t*>(descriptors.data()), descriptors.size());
  std::vector<UvcEntity> entities;
  bool inWantedInterface = false;
  bool found = false;
  std::size_t at = 0;
  while (all.size() - at >= 2) {
    const std::size_t length = all[at];
    if (length < 2 || length > all.size() - at) break;
    const Bytes d = all.subspan(at, length);
    at += length;

    if (d[1] == kConfigurationType) {
      if (found) break;  // only the first configuration that has the interface
      inWantedInterface = false;
    } else if (d[1] == kInterfaceType) {
      if (d.size() < 9) {
        inWantedInterface = false;
        continue;
      }
      inWantedInterface = d[2] == interfaceNumber && d[3] == 0 && d[5] == kVideoClass &&
                          d[6] == kVideoControlSubclass;
      found = found || inWantedInterface;
    } else if (d[1] == kClassInterfaceType && inWantedInterface && d.size() >= 4) {
      if (std::optional<UvcEntity> e = ParseEntity(d)) entities.push_back(std::move(*e));
    }
  }
  return entities;
}

}  // namespace nerova::link::linux_stack
