#pragma once
// Firmware packages are ordinary zip archives. A PackageArchive opens one,
// describes its entries one at a time and writes single entries out as files
// or directories. Entry names are made safe before anyone sees them: a name
// that could reach outside the directory it is unpacked into is refused.
//
// Calling order: Open, then any number of GetEntry and ExtractEntry calls in
// any order, then Close. Indices count from 0 in central-directory order;
// GetEntry(-1) gives the summary record, whose index is the entry count.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "update/package_types.h"

namespace nerova::package {

class PackageFileSystem;
class LocalTimeConversion;

// The platform operations an archive works through. Both must outlive every
// archive opened with them.
struct PackagePlatform {
  PackageFileSystem& files;
  LocalTimeConversion& localTime;
};

// Win32 in the Windows build, POSIX in the native one.
PackagePlatform DefaultPackagePlatform();

class PackageArchive {
 public:
  // Opens the package file for reading (others may read it meanwhile, but
  // not write it) and hands it to minizip. FileError when the file cannot be
  // opened or is no zip archive; `archive` is then empty.
  static PackageResult Open(std::wstring_view packagePath, std::unique_ptr<PackageArchive>& archive);
  static PackageResult Open(std::wstring_view packagePath, const PackagePlatform& platform,
                            std::unique_ptr<PackageArchive>& archive);

  PackageArchive(const PackageArchive&) = delete;
  PackageArchive& operator=(const PackageArchive&) = delete;
  ~PackageArchive();

  // Fills `entry` for the index, or the summary record for -1. On failure
  // `entry` is left as it was.
  PackageResult GetEntry(std::int32_t index, PackageEntry& entry);

  // Writes the entry to `targetPath` (a file, or the directory to create for
  // a directory entry). Relative targets are taken against the current
  // directory as it was at Open. Nothing is created unless the target, as
  // the platform resolves it, lies strictly below `within` (the directory
  // the caller unpacks into); a target anywhere else is refused with
  // CorruptEntry before anything is made. A directory entry of the empty
  // name, the unpacking directory itself, makes nothing and is Ok.
  PackageResult ExtractEntry(std::int32_t index, std::wstring_view targetPath, std::wstring_view within);

  // Releases the package file and every buffer. Afterwards the archive holds
  // no entries; the destructor closes it too.
  void Close();

 private:
  class Reader;
  struct CachedEntry {
    std::int32_t index = -1;
    PackageEntry entry;
    bool encrypted = false;
  };

  explicit PackageArchive(const PackagePlatform& platform);
  PackageResult Position(std::int32_t index);
  PackageResult ReadEntry(std::int32_t index, CachedEntry& out);
  PackageResult ExtractFileEntry(const CachedEntry& cached, std::wstring_view targetPath, std::wstring_view within);
  PackageResult CopyData(const CachedEntry& cached, class OutputFile& output);

  PackagePlatform m_platform;
  std::unique_ptr<Reader> m_pReader;
  std::int32_t m_nCount = 0;
  // minizip's current entry, or -1 when it must start again from the first.
  std::int32_t m_nPosition = -1;
  // The central directory could not be read up to this index; it cannot be
  // read past it either, so later indices fail without touching the file.
  std::int32_t m_nUnreadableFrom = INT32_MAX;
  CachedEntry m_cached;
  std::vector<std::uint8_t> m_transferBuffer;
  // The current directory at Open with a separator at its end; none when it
  // could not be read, and relative targets are then refused.
  std::optional<std::wstring> m_strBase;
};

// Whether `path` lies strictly below `within`, both as the platform resolves
// them (GetFullPathNameW on Windows).
bool LiesWithin(PackageFileSystem& files, std::wstring_view path, std::wstring_view within);

// Creates `directoryPath` level by level from the top down, each level
// joined to `base` when one is given (a base ends in "\" or "/"; it is
// created first if missing). Only levels that lie strictly below `within`
// are created. Failures are silent: a missing directory shows up when a file
// is created in it. A level whose joined path would exceed 259 UTF-16 units
// is not created rather than created under a cut name.
void MakeDirectoryChain(PackageFileSystem& files, std::optional<std::wstring_view> base,
                        std::wstring_view directoryPath, std::wstring_view within);
void MakeDirectoryChain(std::optional<std::wstring_view> base, std::wstring_view directoryPath,
                        std::wstring_view within);

}  // namespace nerova::package
