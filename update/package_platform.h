#pragma once
// The boundary between the package layer and the platform's files, directories
// and clock. The Win32 implementation is a thin layer over CreateFileW and its
// kin; the POSIX one lets the native build and the fuzzer unpack for real,
// treating "\" as a separator like Windows does.
//
// Paths are wide strings: UTF-16 on Windows, UTF-32 where wchar_t has 32 bits.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "update/package_types.h"

namespace nerova::package {

// The package file, open for reading (CreateFileW with GENERIC_READ,
// FILE_SHARE_READ, OPEN_EXISTING); closed by the destructor.
class PackageFile {
 public:
  enum class Origin { Begin, Current, End };
  virtual ~PackageFile() = default;
  // ReadFile: false on failure; fewer bytes than asked only at the end.
  virtual bool Read(void* buffer, std::uint32_t size, std::uint32_t& bytesRead) = 0;
  // SetFilePointerEx.
  virtual bool Seek(std::int64_t distance, Origin origin, std::uint64_t& newPosition) = 0;
};

// An output file created with CREATE_ALWAYS, no sharing; closed by the
// destructor.
class OutputFile {
 public:
  virtual ~OutputFile() = default;
  // One WriteFile; true only when every byte was written.
  virtual bool Write(const void* data, std::uint32_t size) = 0;
  // SetFileTime. Its result is of no consequence to the caller.
  virtual void SetTimes(const FileTime& creation, const FileTime& access, const FileTime& write) = 0;
};

class PackageFileSystem {
 public:
  virtual ~PackageFileSystem() = default;
  virtual std::unique_ptr<PackageFile> OpenPackage(const std::wstring& path) = 0;
  // CREATE_ALWAYS with `attributes` (read-only, hidden, system, archive) as
  // the new file's attributes. An existing read-only file is not replaced.
  virtual std::unique_ptr<OutputFile> CreateOutput(const std::wstring& path, std::uint32_t attributes) = 0;
  // GetFileAttributesW != INVALID_FILE_ATTRIBUTES.
  virtual bool Exists(const std::wstring& path) = 0;
  // CreateDirectoryW without security attributes; failures are silent.
  virtual void MakeDirectory(const std::wstring& path) = 0;
  // The full path the platform makes of `path` (GetFullPathNameW): what a
  // create call with that path would reach. None when it cannot be formed.
  virtual std::optional<std::wstring> FullPath(const std::wstring& path) = 0;
  // GetCurrentDirectoryW with a buffer of 259 units; none if it does not fit.
  virtual std::optional<std::wstring> CurrentDirectory() = 0;
};

// SYSTEMTIME's fields.
struct SystemTime {
  std::uint16_t year = 0;
  std::uint16_t month = 0;
  std::uint16_t dayOfWeek = 0;
  std::uint16_t day = 0;
  std::uint16_t hour = 0;
  std::uint16_t minute = 0;
  std::uint16_t second = 0;
  std::uint16_t milliseconds = 0;
};

class LocalTimeConversion {
 public:
  virtual ~LocalTimeConversion() = default;
  // SystemTimeToFileTime, then LocalFileTimeToFileTime (the platform's offset
  // from UTC as it is now). False for a value that is no calendar time.
  virtual bool LocalToUtc(const SystemTime& local, FileTime& utc) = 0;
};

// SystemTimeToFileTime done by hand: Gregorian years 1601 to 30827; false for
// a month, day, hour, minute, second or millisecond out of range.
bool SystemTimeToTicks(const SystemTime& time, std::uint64_t& ticks);

// Local time at a fixed distance from UTC (seconds east of Greenwich), for
// results that must not depend on the machine's time zone.
class FixedOffsetTime final : public LocalTimeConversion {
 public:
  explicit FixedOffsetTime(std::int32_t secondsEastOfUtc) : m_nOffsetSeconds(secondsEastOfUtc) {}
  bool LocalToUtc(const SystemTime& local, FileTime& utc) override;

 private:
  std::int32_t m_nOffsetSeconds;
};

}  // namespace nerova::package
