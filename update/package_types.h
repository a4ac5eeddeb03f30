#pragma once
// The values the package layer hands out: result codes, entry records and
// file times. Plain data, shared by the archive and its platform boundary.
#include <cstdint>
#include <string>

namespace nerova::package {

enum class PackageResult : std::uint32_t {
  Ok = 0,
  FileError = 0x200,
  WriteFailed = 0x400,
  CorruptEntry = 0x700,
  ReadFailed = 0x800,
  PasswordFailed = 0x1000,
  BadIndex = 0x10000,
  InflateFailed = 0x5000000,
};

// The platform's file attribute bits; an entry never carries any others.
inline constexpr std::uint32_t kAttributeReadOnly = 0x01;
inline constexpr std::uint32_t kAttributeHidden = 0x02;
inline constexpr std::uint32_t kAttributeSystem = 0x04;
inline constexpr std::uint32_t kAttributeDirectory = 0x10;
inline constexpr std::uint32_t kAttributeArchive = 0x20;

// Paths and names live in buffers of 260 UTF-16 units, terminator included.
inline constexpr std::size_t kMaxPathUnits = 259;

// 100-nanosecond intervals since 1 January 1601 UTC, split like the
// platform's FILETIME.
struct FileTime {
  std::uint32_t lowDateTime = 0;
  std::uint32_t highDateTime = 0;

  static constexpr FileTime FromTicks(std::uint64_t ticks) {
    return {static_cast<std::uint32_t>(ticks), static_cast<std::uint32_t>(ticks >> 32)};
  }
  constexpr std::uint64_t Ticks() const {
    return (static_cast<std::uint64_t>(highDateTime) << 32) | lowDateTime;
  }
  friend constexpr bool operator==(const FileTime&, const FileTime&) = default;
};

// 1 January 1970 00:00 UTC as a FileTime.
inline constexpr std::uint64_t kUnixEpochTicks = 116444736000000000ULL;

struct PackageEntry {
  // Position in the central directory; the entry count in the summary record.
  std::int32_t index = 0;
  // Sanitised relative name (at most 259 UTF-16 units); empty in the summary.
  std::wstring name;
  std::uint32_t attributes = 0;
  FileTime accessTime;
  FileTime creationTime;
  FileTime writeTime;
  std::uint32_t compressedSize = 0;
  std::uint32_t uncompressedSize = 0;

  friend bool operator==(const PackageEntry&, const PackageEntry&) = default;
};

}  // namespace nerova::package
