#pragma once
// The package layer's own rules, apart from minizip and the platform: how a
// stored name becomes a safe relative name, how stored attributes and times
// become the platform's, and how target paths are read.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "update/package_platform.h"
#include "update/package_types.h"

namespace nerova::package {

// Stored names are UTF-8 whatever the entry's language-encoding flag says.
// The name ends at its first NUL byte; every ill-formed sequence becomes one
// U+FFFD per maximal ill-formed part.
std::wstring DecodeUtf8(std::string_view bytes);

// Drops drive prefixes, leading separators and everything up to a
// "\..\", "\../", "/../" or "/..\", repeatedly, until none is left; then
// every "." component with the separator after it.
std::wstring SanitiseEntryName(std::wstring_view name);

// Whether a sanitised name names, below any directory, exactly what it says.
// Each component must be kept as written by Windows: not ".", "..", or
// anything that starts with ".."; no trailing dot or blank; no ":" (drives,
// streams), none of <>"|?* and no control character; no device name (CON,
// NUL, COM1, ... with or without an extension). Empty components are refused
// except at the end, where a directory entry's separator leaves one.
bool IsSafeEntryName(std::wstring_view name);

// `directory`, one "\" (none when it already ends in a separator) and the
// name with every "/" turned into "\": a literal join that folds, trims and
// reinterprets nothing, so the path names what the name rules judged. None
// when the result would exceed 259 UTF-16 units.
std::optional<std::wstring> JoinBelow(std::wstring_view directory, std::wstring_view name);

// The full path that Windows would make of `path`, worked out without the
// platform, for the POSIX layer and the fuzzer: "/" and "\" become "\",
// runs of separators one, "." components go, ".." climbs (never above the
// root), and trailing dots and blanks are trimmed from each component. It
// errs towards climbing: a component of dots and blanks alone climbs too.
std::wstring ResolveLexically(std::wstring_view path);

// Whether `path` lies strictly below `root`, both resolved full paths: it
// starts with `root` and a separator and names something after them.
bool IsStrictlyBelow(std::wstring_view path, std::wstring_view root);

// File attribute bits from "version made by" and the external attributes:
// DOS-style bits for MS-DOS, Macintosh, NTFS and VFAT hosts, Unix mode bits
// (directory, owner write) for every other.
std::uint32_t AttributesFromHost(std::uint32_t versionMadeBy, std::uint32_t externalAttributes);

// The DOS date (upper 16 bits) and time (lower 16) as calendar fields; the
// day of the week stays 0. The result need not be a valid date.
SystemTime SystemTimeFromDos(std::uint32_t dosDateTime);

struct EntryTimes {
  FileTime access;
  FileTime creation;
  FileTime write;
};

// Seconds since 1970 UTC as a FileTime.
FileTime FileTimeFromUnixSeconds(std::int32_t seconds);

// Takes the times of the first "UT" (extended timestamp) block of a local
// extra field over the ones in `times`: write, access, creation as the flags
// say. Only bytes inside both the block and the field are read; a time that
// does not fit keeps its value.
void ApplyExtendedTimestamp(std::span<const std::uint8_t> extraField, EntryTimes& times);

// Length in UTF-16 units, whatever the width of wchar_t.
std::size_t Utf16Length(std::wstring_view text);

inline bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// "\x", "/x" or "?:x".
bool IsAbsolutePath(std::wstring_view path);

}  // namespace nerova::package
