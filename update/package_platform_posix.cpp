// The package layer's platform on POSIX systems, for the native build and
// the fuzzer. Paths are Windows paths: "\" separates like "/". Windows'
// read-only attribute becomes a mode without write bits, and such a file is
// not replaced, whoever runs the program (root included).
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "link/utf8_codec.h"
#include "update/package_archive.h"
#include "update/package_platform.h"
#include "update/package_rules.h"

namespace nerova::package {
namespace {

constexpr std::int64_t kTicksPerSecond = 10000000;

// The path in UTF-8 with forward slashes; what has no UTF-8 form becomes
// U+FFFD.
std::string NativePath(std::wstring path) {
  for (wchar_t& c : path) {
    if (c == L'\\') c = L'/';
  }
  return link::EncodeUtf8(path, link::Unencodable::ReplacementCharacter);
}

class Descriptor {
 public:
  explicit Descriptor(int fd) : m_nFd(fd) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() {
    if (m_nFd >= 0) close(m_nFd);
  }
  int Get() const { return m_nFd; }

 private:
  int m_nFd;
};

class PosixPackageFile final : public PackageFile {
 public:
  explicit PosixPackageFile(int fd) : m_fd(fd) {}

  bool Read(void* buffer, std::uint32_t size, std::uint32_t& bytesRead) override {
    bytesRead = 0;
    auto* out = static_cast<char*>(buffer);
    while (bytesRead < size) {
      const ssize_t n = read(m_fd.Get(), out + bytesRead, size - bytesRead);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return false;
      if (n == 0) break;
      bytesRead += static_cast<std::uint32_t>(n);
    }
    return true;
  }

  bool Seek(std::int64_t distance, Origin origin, std::uint64_t& newPosition) override {
    const int whence = origin == Origin::Begin ? SEEK_SET : origin == Origin::Current ? SEEK_CUR : SEEK_END;
    const off_t reached = lseek(m_fd.Get(), static_cast<off_t>(distance), whence);
    if (reached < 0) return false;
    newPosition = static_cast<std::uint64_t>(reached);
    return true;
  }

 private:
  Descriptor m_fd;
};

timespec TimespecFromFileTime(const FileTime& time) {
  const std::int64_t sinceEpoch = static_cast<std::int64_t>(time.Ticks()) - static_cast<std::int64_t>(kUnixEpochTicks);
  std::int64_t seconds = sinceEpoch / kTicksPerSecond;
  std::int64_t rest = sinceEpoch % kTicksPerSecond;
  if (rest < 0) {
    rest += kTicksPerSecond;
    --seconds;
  }
  timespec stamp{};
  stamp.tv_sec = static_cast<time_t>(seconds);
  stamp.tv_nsec = static_cast<long>(rest * 100);
  return stamp;
}

class PosixOutputFile final : public OutputFile {
 public:
  explicit PosixOutputFile(int fd) : m_fd(fd) {}

  bool Write(const void* data, std::uint32_t size) override {
    const auto* in = static_cast<const char*>(data);
    std::uint32_t written = 0;
    while (written < size) {
      const ssize_t n = write(m_fd.Get(), in + written, size - written);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      written += static_cast<std::uint32_t>(n);
    }
    return true;
  }

  // The creation time has no place in a POSIX file system.
  void SetTimes(const FileTime&, const FileTime& access, const FileTime& write) override {
    const timespec times[2] = {TimespecFromFileTime(access), TimespecFromFileTime(write)};
    futimens(m_fd.Get(), times);
  }

 private:
  Descriptor m_fd;
};

class PosixFileSystem final : public PackageFileSystem {
 public:
  std::unique_ptr<PackageFile> OpenPackage(const std::wstring& path) override {
    const int fd = open(NativePath(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    return std::make_unique<PosixPackageFile>(fd);
  }

  std::unique_ptr<OutputFile> CreateOutput(const std::wstring& path, std::uint32_t attributes) override {
    const std::string native = NativePath(path);
    struct stat existing {};
    const bool exists = lstat(native.c_str(), &existing) == 0;
    if (exists && S_ISREG(existing.st_mode) && !(existing.st_mode & 0222)) return nullptr;
    const bool readOnly = (attributes & kAttributeReadOnly) != 0;
    // Never through a link: what lands here is a plain file in this place.
    const int fd = open(native.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, readOnly ? 0444 : 0666);
    if (fd < 0) return nullptr;
    // A replaced file takes the new entry's read-only state, as on Windows.
    if (exists && readOnly) fchmod(fd, existing.st_mode & 07555);
    return std::make_unique<PosixOutputFile>(fd);
  }

  bool Exists(const std::wstring& path) override {
    struct stat st {};
    return lstat(NativePath(path).c_str(), &st) == 0;
  }

  void MakeDirectory(const std::wstring& path) override { mkdir(NativePath(path).c_str(), 0777); }

  // Lexical, the way Windows resolves: no link is followed, and the package
  // layer never makes one.
  std::optional<std::wstring> FullPath(const std::wstring& path) override { return ResolveLexically(path); }

  std::optional<std::wstring> CurrentDirectory() override {
    std::vector<char> buffer(4096);
    while (getcwd(buffer.data(), buffer.size()) == nullptr) {
      if (errno != ERANGE || buffer.size() > (1u << 20)) return std::nullopt;
      buffer.resize(buffer.size() * 2);
    }
    std::wstring directory = DecodeUtf8(buffer.data());
    // GetCurrentDirectoryW with 259 units holds 258 and the terminator.
    if (directory.empty() || Utf16Length(directory) >= kMaxPathUnits) return std::nullopt;
    return directory;
  }
};

// The offset from UTC as it is now, like LocalFileTimeToFileTime.
class PosixLocalTime final : public LocalTimeConversion {
 public:
  bool LocalToUtc(const SystemTime& local, FileTime& utc) override {
    const time_t now = time(nullptr);
    tm parts{};
    if (localtime_r(&now, &parts) == nullptr) return false;
    return FixedOffsetTime(static_cast<std::int32_t>(parts.tm_gmtoff)).LocalToUtc(local, utc);
  }
};

}  // namespace

PackagePlatform DefaultPackagePlatform() {
  static PosixFileSystem files;
  static PosixLocalTime localTime;
  return {files, localTime};
}

}  // namespace nerova::package
