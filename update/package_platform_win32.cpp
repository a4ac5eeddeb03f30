// The package layer's platform on Windows: kernel file calls, W forms only.
#include <windows.h>

#include "update/package_archive.h"
#include "update/package_platform.h"
#include "update/package_rules.h"

namespace nerova::package {
namespace {

class FileHandle {
 public:
  explicit FileHandle(HANDLE handle) : m_h(handle) {}
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  ~FileHandle() {
    if (m_h != INVALID_HANDLE_VALUE) CloseHandle(m_h);
  }
  HANDLE Get() const { return m_h; }

 private:
  HANDLE m_h;
};

::FILETIME ToWin32(const FileTime& time) {
  ::FILETIME out;
  out.dwLowDateTime = time.lowDateTime;
  out.dwHighDateTime = time.highDateTime;
  return out;
}

class Win32PackageFile final : public PackageFile {
 public:
  explicit Win32PackageFile(HANDLE handle) : m_file(handle) {}

  bool Read(void* buffer, std::uint32_t size, std::uint32_t& bytesRead) override {
    DWORD got = 0;
    const BOOL ok = ::ReadFile(m_file.Get(), buffer, size, &got, nullptr);
    bytesRead = got;
    return ok != FALSE;
  }

  bool Seek(std::int64_t distance, Origin origin, std::uint64_t& newPosition) override {
    const DWORD method = origin == Origin::Begin ? FILE_BEGIN : origin == Origin::Current ? FILE_CURRENT : FILE_END;
    LARGE_INTEGER move;
    move.QuadPart = distance;
    LARGE_INTEGER reached;
    if (!::SetFilePointerEx(m_file.Get(), move, &reached, method)) return false;
    newPosition = static_cast<std::uint64_t>(reached.QuadPart);
    return true;
  }

 private:
  FileHandle m_file;
};

class Win32OutputFile final : public OutputFile {
 public:
  explicit Win32OutputFile(HANDLE handle) : m_file(handle) {}

  bool Write(const void* data, std::uint32_t size) override {
    DWORD written = 0;
    return ::WriteFile(m_file.Get(), data, size, &written, nullptr) && written == size;
  }

  void SetTimes(const FileTime& creation, const FileTime& access, const FileTime& write) override {
    const ::FILETIME c = ToWin32(creation);
    const ::FILETIME a = ToWin32(access);
    const ::FILETIME w = ToWin32(write);
    ::SetFileTime(m_file.Get(), &c, &a, &w);
  }

 private:
  FileHandle m_file;
};

class Win32FileSystem final : public PackageFileSystem {
 public:
  std::unique_ptr<PackageFile> OpenPackage(const std::wstring& path) override {
    // Others may read the package while it is open, but nobody may change it.
    HANDLE handle = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    return std::make_unique<Win32PackageFile>(handle);
  }

  std::unique_ptr<OutputFile> CreateOutput(const std::wstring& path, std::uint32_t attributes) override {
    HANDLE handle = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, attributes, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    return std::make_unique<Win32OutputFile>(handle);
  }

  bool Exists(const std::wstring& path) override { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

  void MakeDirectory(const std::wstring& path) override { ::CreateDirectoryW(path.c_str(), nullptr); }

  std::optional<std::wstring> FullPath(const std::wstring& path) override {
    std::wstring buffer(kMaxPathUnits + 1, L'\0');
    for (;;) {
      const DWORD length = ::GetFullPathNameW(path.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
      if (length == 0) return std::nullopt;
      // A path that does not fit gives the size it needs, terminator included.
      if (length < buffer.size()) {
        buffer.resize(length);
        return buffer;
      }
      buffer.assign(length, L'\0');
    }
  }

  std::optional<std::wstring> CurrentDirectory() override {
    wchar_t buffer[kMaxPathUnits] = {};
    const DWORD length = ::GetCurrentDirectoryW(static_cast<DWORD>(kMaxPathUnits), buffer);
    // A directory that does not fit gives the size it needs instead.
    if (length == 0 || length >= kMaxPathUnits) return std::nullopt;
    return std::wstring(buffer, length);
  }
};

class Win32LocalTime final : public LocalTimeConversion {
 public:
  bool LocalToUtc(const SystemTime& local, FileTime& utc) override {
    SYSTEMTIME system;
    system.wYear = local.year;
    system.wMonth = local.month;
    system.wDayOfWeek = local.dayOfWeek;
    system.wDay = local.day;
    system.wHour = local.hour;
    system.wMinute = local.minute;
    system.wSecond = local.second;
    system.wMilliseconds = local.milliseconds;
    ::FILETIME localTime;
    ::FILETIME universal;
    if (!::SystemTimeToFileTime(&system, &localTime)) return false;
    if (!::LocalFileTimeToFileTime(&localTime, &universal)) return false;
    utc.lowDateTime = universal.dwLowDateTime;
    utc.highDateTime = universal.dwHighDateTime;
    return true;
  }
};

}  // namespace

PackagePlatform DefaultPackagePlatform() {
  static Win32FileSystem files;
  static Win32LocalTime localTime;
  return {files, localTime};
}

}  // namespace nerova::package
