// Attributes and time stamps of an entry, from the central directory and
// the local extra field.
#include <algorithm>

#include "update/package_rules.h"

namespace nerova::package {
namespace {

// Hosts whose external attributes carry the DOS attribute byte.
bool HasDosAttributes(std::uint32_t host) { return host == 0 || host == 7 || host == 11 || host == 14; }

constexpr std::uint16_t kExtendedTimestampId = 0x5455;  // "UT"

std::uint16_t ReadLe16(std::span<const std::uint8_t> bytes, std::size_t at) {
  return static_cast<std::uint16_t>(bytes[at] | (bytes[at + 1] << 8));
}

std::int32_t ReadLe32(std::span<const std::uint8_t> bytes, std::size_t at) {
  const std::uint32_t value = static_cast<std::uint32_t>(bytes[at]) | (static_cast<std::uint32_t>(bytes[at + 1]) << 8) |
                              (static_cast<std::uint32_t>(bytes[at + 2]) << 16) |
                              (static_cast<std::uint32_t>(bytes[at + 3]) << 24);
  return static_cast<std::int32_t>(value);
}

}  // namespace

std::uint32_t AttributesFromHost(std::uint32_t versionMadeBy, std::uint32_t externalAttributes) {
  const std::uint32_t host = versionMadeBy >> 8;
  const std::uint32_t a = externalAttributes;
  std::uint32_t attributes = 0;
  if (HasDosAttributes(host)) {
    if (a & 0x10) attributes |= kAttributeDirectory;
    if (a & 0x01) attributes |= kAttributeReadOnly;
    if (a & 0x02) attributes |= kAttributeHidden;
    if (a & 0x04) attributes |= kAttributeSystem;
    if (a & 0x20) attributes |= kAttributeArchive;
  } else {
    // Unix mode bits in the upper half: S_IFDIR is bit 30, owner write bit 23.
    if (a & (1u << 30)) attributes |= kAttributeDirectory;
    if (!(a & (1u << 23))) attributes |= kAttributeReadOnly;
    attributes |= kAttributeArchive;
  }
  return attributes;
}

SystemTime SystemTimeFromDos(std::uint32_t dos) {
  SystemTime t;
  t.year = static_cast<std::uint16_t>(1980 + ((dos >> 25) & 0x7F));
  t.month = static_cast<std::uint16_t>((dos >> 21) & 0x0F);
  t.day = static_cast<std::uint16_t>((dos >> 16) & 0x1F);
  t.hour = static_cast<std::uint16_t>((dos >> 11) & 0x1F);
  t.minute = static_cast<std::uint16_t>((dos >> 5) & 0x3F);
  t.second = static_cast<std::uint16_t>(2 * (dos & 0x1F));
  return t;
}

FileTime FileTimeFromUnixSeconds(std::int32_t seconds) {
  const std::int64_t ticks = static_cast<std::int64_t>(seconds) * 10000000 + static_cast<std::int64_t>(kUnixEpochTicks);
  return FileTime::FromTicks(static_cast<std::uint64_t>(ticks));
}

void ApplyExtendedTimestamp(std::span<const std::uint8_t> field, EntryTimes& times) {
  std::size_t pos = 0;
  while (pos + 4 < field.size()) {
    const std::size_t dataSize = ReadLe16(field, pos + 2);
    if (ReadLe16(field, pos) != kExtendedTimestampId) {
      pos += 4 + dataSize;
      continue;
    }
    const std::size_t end = std::min(pos + 4 + dataSize, field.size());
    std::size_t at = pos + 5;
    if (at > end) return;  // no room for the flags in the block
    const std::uint8_t flags = field[pos + 4];
    // Present times follow one another in this order; one that does not fit
    // in the block stays as it was.
    FileTime* const slots[] = {&times.write, &times.access, &times.creation};
    for (int bit = 0; bit < 3; ++bit) {
      if (!(flags & (1u << bit))) continue;
      if (at + 4 <= end) *slots[bit] = FileTimeFromUnixSeconds(ReadLe32(field, at));
      at += 4;
    }
    return;
  }
}

}  // namespace nerova::package
