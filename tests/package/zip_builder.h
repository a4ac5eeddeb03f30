#pragma once
// Zip archives built byte by byte, so that tests can give every header field
// the value they need, including values no zip writer would produce.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace nerova::package::testing {

// DOS date in the upper 16 bits, time in the lower.
std::uint32_t DosDateTime(int year, int month, int day, int hour, int minute, int second);

// Raw deflate (no zlib header), as zip entries hold it.
std::string Deflate(const std::string& plain);
std::uint32_t Crc32(const std::string& bytes);
// Words of pseudo-random letters: deflates to about two thirds, never to
// nothing.
std::string TextOfSize(std::size_t size, unsigned seed);

// Host values for "version made by" (upper byte) with version 2.0.
inline constexpr std::uint16_t kMadeByDos = 0x0014;
inline constexpr std::uint16_t kMadeByUnix = 0x0314;
inline constexpr std::uint16_t kMadeByNtfs = 0x0B14;

// Unix mode bits as external attributes (mode << 16).
inline constexpr std::uint32_t UnixMode(std::uint32_t mode) { return mode << 16; }

// An extended-timestamp ("UT") block with the given flags and times.
std::string ExtendedTimestamp(std::uint8_t flags, const std::vector<std::int32_t>& times);
// Any extra block: id, 16-bit size, data.
std::string ExtraBlock(std::uint16_t id, const std::string& data);

struct ZipEntry {
  std::string name;
  // The entry's content; `stored` is what the archive holds for it (the
  // deflated form for method 8) and is filled in by the helpers below.
  std::string plain;
  std::string stored;
  std::uint16_t method = 0;
  std::uint16_t flags = 0;
  std::uint16_t versionMadeBy = kMadeByDos;
  std::uint32_t externalAttributes = 0x20;
  std::uint32_t dosDateTime = DosDateTime(2021, 6, 15, 10, 30, 20);
  std::string localExtra;
  std::string centralExtra;
  // The central record gives both sizes as zip64 markers (0xFFFFFFFF) and
  // the real ones in a zip64 block ahead of `centralExtra`.
  bool zip64Sizes = false;
  // Header fields that differ from what the content says.
  std::optional<std::uint32_t> crc;
  std::optional<std::uint32_t> uncompressedSize;
  std::optional<std::uint16_t> localMethod;
  std::optional<std::uint32_t> localCrc;
  std::optional<std::string> localName;
  std::optional<std::uint16_t> localExtraLength;
  std::optional<std::uint32_t> localSignature;
};

ZipEntry StoredEntry(std::string name, std::string content);
ZipEntry DeflatedEntry(std::string name, std::string content);
// A directory entry as Info-ZIP writes one on Unix ("name/", mode 040755).
ZipEntry DirectoryEntry(std::string name);

struct BuiltZip {
  std::string bytes;
  std::vector<std::size_t> localOffsets;
  std::vector<std::size_t> centralOffsets;
  std::size_t endOffset = 0;
};

struct ZipLayout {
  // Entry count the end record announces; the real count when unset.
  std::optional<std::uint16_t> announcedCount;
  // Bytes before the first local header (a self-extractor's stub, say).
  std::string prefix;
};

BuiltZip BuildZip(const std::vector<ZipEntry>& entries, const ZipLayout& layout = {});

}  // namespace nerova::package::testing
