#include "update/package_archive.h"

#include <algorithm>
#include <span>

#include <unzip.h>

#include "update/package_platform.h"
#include "update/package_rules.h"
#include "update/package_source.h"

namespace nerova::package {
namespace {

constexpr std::uint32_t kTransferSize = 16384;
// Stored names are read into a buffer of this many bytes; a longer name is
// refused rather than cut (minizip leaves a cut name without terminator).
constexpr std::uint32_t kNameBufferSize = 260;
// The smallest central-directory record: no name, extra field or comment.
constexpr std::uint64_t kCentralRecordSize = 46;

constexpr std::uint32_t kMethodStored = 0;
constexpr std::uint32_t kMethodDeflated = 8;
constexpr std::uint32_t kFlagEncrypted = 0x0001;

std::uint32_t Saturate32(ZPOS64_T value) { return static_cast<std::uint32_t>(std::min<ZPOS64_T>(value, UINT32_MAX)); }

// Closes minizip's reading state of the current entry on every way out.
class CurrentEntryReading {
 public:
  explicit CurrentEntryReading(unzFile zip) : m_hZip(zip) {}
  CurrentEntryReading(const CurrentEntryReading&) = delete;
  CurrentEntryReading& operator=(const CurrentEntryReading&) = delete;
  ~CurrentEntryReading() {
    if (m_bOpen) unzCloseCurrentFile(m_hZip);
  }
  bool Open(bool raw) {
    m_bOpen = unzOpenCurrentFile2(m_hZip, nullptr, nullptr, raw ? 1 : 0) == UNZ_OK;
    return m_bOpen;
  }

 private:
  unzFile m_hZip;
  bool m_bOpen = false;
};

}  // namespace

// minizip's handle on the archive, over the package file.
class PackageArchive::Reader {
 public:
  explicit Reader(std::unique_ptr<PackageFile> file) : m_source(std::move(file)) {}
  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;
  ~Reader() {
    // unzClose also ends an entry left open for reading.
    if (m_hZip) unzClose(m_hZip);
  }

  bool Open() {
    zlib_filefunc64_def functions = PackageSource::FileFunctions();
    m_hZip = unzOpen2_64(&m_source, &functions);
    return m_hZip != nullptr;
  }
  unzFile Zip() const { return m_hZip; }
  std::uint64_t FileSize() const { return m_source.Size(); }

 private:
  PackageSource m_source;
  unzFile m_hZip = nullptr;
};

PackageResult PackageArchive::Open(std::wstring_view packagePath, std::unique_ptr<PackageArchive>& archive) {
  return Open(packagePath, DefaultPackagePlatform(), archive);
}

PackageResult PackageArchive::Open(std::wstring_view packagePath, const PackagePlatform& platform,
                                   std::unique_ptr<PackageArchive>& archive) {
  archive.reset();
  std::unique_ptr<PackageArchive> opened(new PackageArchive(platform));

  if (std::optional<std::wstring> current = platform.files.CurrentDirectory()) {
    if (current->empty() || !IsSeparator(current->back())) *current += L'/';
    opened->m_strBase = std::move(*current);
  }

  std::unique_ptr<PackageFile> file = platform.files.OpenPackage(std::wstring(packagePath));
  if (!file) return PackageResult::FileError;
  auto reader = std::make_unique<Reader>(std::move(file));
  if (!reader->Open()) return PackageResult::FileError;

  unz_global_info64 info{};
  if (unzGetGlobalInfo64(reader->Zip(), &info) != UNZ_OK) return PackageResult::FileError;
  // A zip64 directory may claim any count; no more records fit in the file
  // than its size allows, which bounds every walk over the entries.
  const ZPOS64_T plausible = reader->FileSize() / kCentralRecordSize;
  opened->m_nCount = static_cast<std::int32_t>(std::min<ZPOS64_T>({info.number_entry, plausible, INT32_MAX}));
  // unzOpen2_64 leaves minizip on the first entry.
  opened->m_nPosition = 0;
  opened->m_pReader = std::move(reader);
  archive = std::move(opened);
  return PackageResult::Ok;
}

PackageArchive::PackageArchive(const PackagePlatform& platform) : m_platform(platform) {}

PackageArchive::~PackageArchive() { Close(); }

void PackageArchive::Close() {
  m_pReader.reset();
  m_transferBuffer.clear();
  m_transferBuffer.shrink_to_fit();
  m_nCount = 0;
  m_nPosition = -1;
  m_cached = CachedEntry();
}

PackageResult PackageArchive::Position(std::int32_t index) {
  if (index >= m_nUnreadableFrom) return PackageResult::CorruptEntry;
  unzFile zip = m_pReader->Zip();
  if (m_nPosition < 0 || index < m_nPosition) {
    m_nPosition = -1;
    if (unzGoToFirstFile(zip) != UNZ_OK) {
      m_nUnreadableFrom = 0;
      return PackageResult::CorruptEntry;
    }
    m_nPosition = 0;
  }
  while (m_nPosition < index) {
    if (unzGoToNextFile(zip) != UNZ_OK) {
      m_nUnreadableFrom = m_nPosition + 1;
      m_nPosition = -1;
      return PackageResult::CorruptEntry;
    }
    ++m_nPosition;
  }
  return PackageResult::Ok;
}

PackageResult PackageArchive::GetEntry(std::int32_t index, PackageEntry& entry) {
  if (index < -1 || index >= m_nCount) return PackageResult::BadIndex;
  if (index != -1 && index == m_cached.index) {
    entry = m_cached.entry;
    return PackageResult::Ok;
  }
  if (index == -1) {
    entry = PackageEntry();
    entry.index = m_nCount;
    return PackageResult::Ok;
  }
  if (PackageResult r = Position(index); r != PackageResult::Ok) return r;
  CachedEntry fresh;
  if (PackageResult r = ReadEntry(index, fresh); r != PackageResult::Ok) return r;
  m_cached = std::move(fresh);
  entry = m_cached.entry;
  return PackageResult::Ok;
}

PackageResult PackageArchive::ReadEntry(std::int32_t index, CachedEntry& out) {
  unzFile zip = m_pReader->Zip();
  unz_file_info64 info{};
  char storedName[kNameBufferSize];
  if (unzGetCurrentFileInfo64(zip, &info, storedName, sizeof storedName, nullptr, 0, nullptr, 0) != UNZ_OK) {
    return PackageResult::CorruptEntry;
  }
  if (info.size_filename >= kNameBufferSize) return PackageResult::CorruptEntry;
  // minizip's header test lets bzip2 (12) through as raw data: only stored
  // and deflated entries can be unpacked.
  if (info.compression_method != kMethodStored && info.compression_method != kMethodDeflated) {
    return PackageResult::CorruptEntry;
  }

  // Opening the entry tests its local header against the central record and
  // locates the local extra field. Raw: nothing is inflated here.
  std::vector<std::uint8_t> extraField;
  {
    CurrentEntryReading reading(zip);
    if (!reading.Open(true)) return PackageResult::CorruptEntry;
    const int size = unzGetLocalExtrafield(zip, nullptr, 0);
    if (size < 0) return PackageResult::ReadFailed;
    extraField.resize(static_cast<std::size_t>(size));
    if (size > 0 && unzGetLocalExtrafield(zip, extraField.data(), static_cast<unsigned>(size)) != size) {
      return PackageResult::ReadFailed;
    }
  }

  // At most 259 bytes: no UTF-8 sequence decodes to more UTF-16 units than
  // it has bytes, so the name always fits its 260-unit buffer.
  std::wstring name = SanitiseEntryName(DecodeUtf8(std::string_view(storedName, info.size_filename)));
  if (!IsSafeEntryName(name)) return PackageResult::CorruptEntry;

  PackageEntry& entry = out.entry;
  entry.index = index;
  entry.name = std::move(name);
  entry.attributes = AttributesFromHost(static_cast<std::uint32_t>(info.version),
                                        static_cast<std::uint32_t>(info.external_fa));
  entry.compressedSize = Saturate32(info.compressed_size);
  entry.uncompressedSize = Saturate32(info.uncompressed_size);

  // A DOS stamp that is no calendar time gives the Unix epoch, not garbage.
  FileTime dosTime = FileTime::FromTicks(kUnixEpochTicks);
  FileTime converted;
  if (m_platform.localTime.LocalToUtc(SystemTimeFromDos(static_cast<std::uint32_t>(info.dosDate)), converted)) {
    dosTime = converted;
  }
  EntryTimes times{dosTime, dosTime, dosTime};
  ApplyExtendedTimestamp(extraField, times);
  entry.accessTime = times.access;
  entry.creationTime = times.creation;
  entry.writeTime = times.write;

  out.index = index;
  out.encrypted = (info.flag & kFlagEncrypted) != 0;
  return PackageResult::Ok;
}

PackageResult PackageArchive::ExtractEntry(std::int32_t index, std::wstring_view targetPath, std::wstring_view within) {
  if (index < 0 || index >= m_nCount) return PackageResult::BadIndex;
  if (PackageResult r = Position(index); r != PackageResult::Ok) return r;
  PackageEntry entry;
  if (PackageResult r = GetEntry(index, entry); r != PackageResult::Ok) return r;

  if (entry.attributes & kAttributeDirectory) {
    // An empty name ("./" as bsdtar stores it) is the unpacking directory
    // itself, which is there already.
    if (entry.name.empty()) return PackageResult::Ok;
    // Neither attributes nor times go to directories, and one that cannot be
    // made is not reported.
    if (IsAbsolutePath(targetPath)) {
      if (!LiesWithin(m_platform.files, targetPath, within)) return PackageResult::CorruptEntry;
      MakeDirectoryChain(m_platform.files, std::nullopt, targetPath, within);
    } else if (m_strBase) {
      if (!LiesWithin(m_platform.files, *m_strBase + std::wstring(targetPath), within)) {
        return PackageResult::CorruptEntry;
      }
      MakeDirectoryChain(m_platform.files, *m_strBase, targetPath, within);
    }
    return PackageResult::Ok;
  }
  return ExtractFileEntry(m_cached, targetPath, within);
}

PackageResult PackageArchive::ExtractFileEntry(const CachedEntry& cached, std::wstring_view targetPath,
                                               std::wstring_view within) {
  const std::size_t separator = targetPath.find_last_of(L"\\/");
  const std::wstring_view directory =
      separator == std::wstring_view::npos ? std::wstring_view() : targetPath.substr(0, separator + 1);
  const std::wstring_view fileName =
      separator == std::wstring_view::npos ? targetPath : targetPath.substr(separator + 1);

  std::wstring fullPath;
  std::optional<std::wstring_view> chainBase;
  if (IsAbsolutePath(directory)) {
    fullPath.assign(directory);
  } else {
    if (!m_strBase) return PackageResult::FileError;
    fullPath = *m_strBase;
    fullPath += directory;
    chainBase = *m_strBase;
  }
  fullPath += fileName;
  // Paths are never cut: a cut one would name another file.
  if (Utf16Length(fullPath) > kMaxPathUnits) return PackageResult::FileError;
  if (!LiesWithin(m_platform.files, fullPath, within)) return PackageResult::CorruptEntry;

  MakeDirectoryChain(m_platform.files, chainBase, directory, within);
  std::unique_ptr<OutputFile> output = m_platform.files.CreateOutput(fullPath, cached.entry.attributes);
  if (!output) return PackageResult::FileError;
  if (PackageResult r = CopyData(cached, *output); r != PackageResult::Ok) return r;
  output->SetTimes(cached.entry.creationTime, cached.entry.accessTime, cached.entry.writeTime);
  return PackageResult::Ok;
}

PackageResult PackageArchive::CopyData(const CachedEntry& cached, OutputFile& output) {
  unzFile zip = m_pReader->Zip();
  CurrentEntryReading reading(zip);
  const bool opened = reading.Open(false);
  if (m_transferBuffer.empty()) m_transferBuffer.resize(kTransferSize);
  // minizip cannot open an entry for reading when its header is broken; the
  // read that follows would fail.
  if (!opened) return PackageResult::InflateFailed;
  // No password is ever given, so the password test of an encrypted entry
  // cannot pass.
  if (cached.encrypted) return PackageResult::PasswordFailed;

  for (;;) {
    const int read = unzReadCurrentFile(zip, m_transferBuffer.data(), kTransferSize);
    if (read < 0) return PackageResult::InflateFailed;
    if (read > 0 && !output.Write(m_transferBuffer.data(), static_cast<std::uint32_t>(read))) {
      return PackageResult::WriteFailed;
    }
    if (unzeof(zip) == 1) return PackageResult::Ok;
    // Nothing came and the entry has not ended: its data stops short.
    if (read == 0) return PackageResult::InflateFailed;
  }
}

}  // namespace nerova::package
