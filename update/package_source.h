#pragma once
// The package file as minizip reads it. minizip asks for headers a byte or
// two at a time, so reads go through a window of the file; entry data comes
// in large pieces and passes the window by.
#include <cstdint>
#include <memory>
#include <vector>

#include <ioapi.h>

#include "update/package_platform.h"

namespace nerova::package {

class PackageSource {
 public:
  explicit PackageSource(std::unique_ptr<PackageFile> file);
  PackageSource(const PackageSource&) = delete;
  PackageSource& operator=(const PackageSource&) = delete;

  // File functions for unzOpen2_64, whose path argument is this source.
  static zlib_filefunc64_def FileFunctions();

  // The size minizip sees, padding included.
  std::uint64_t Size() const { return m_nSize; }

 private:
  std::uint32_t Read(void* buffer, std::uint32_t size);
  bool Seek(std::uint64_t offset, int origin);
  bool ReadRaw(std::uint64_t at, void* buffer, std::uint32_t size, std::uint32_t& bytesRead);

  static voidpf ZCALLBACK OpenCallback(voidpf opaque, const void* source, int mode);
  static uLong ZCALLBACK ReadCallback(voidpf opaque, voidpf stream, void* buffer, uLong size);
  static uLong ZCALLBACK WriteCallback(voidpf opaque, voidpf stream, const void* buffer, uLong size);
  static ZPOS64_T ZCALLBACK TellCallback(voidpf opaque, voidpf stream);
  static long ZCALLBACK SeekCallback(voidpf opaque, voidpf stream, ZPOS64_T offset, int origin);
  static int ZCALLBACK CloseCallback(voidpf opaque, voidpf stream);
  static int ZCALLBACK ErrorCallback(voidpf opaque, voidpf stream);

  std::unique_ptr<PackageFile> m_pFile;
  std::uint64_t m_nSize = 0;
  // minizip takes an end record found at offset 0 for none found, which
  // refuses an empty archive (nothing but its end record). A byte of padding
  // in front makes it one with data before the archive, which minizip knows.
  std::uint64_t m_nPadding = 0;
  // Where minizip reads next, and where the platform's file pointer stands
  // (UINT64_MAX when unknown).
  std::uint64_t m_nPosition = 0;
  std::uint64_t m_nFilePointer = UINT64_MAX;
  std::vector<std::uint8_t> m_window;
  std::uint64_t m_nWindowStart = 0;
  std::uint32_t m_nWindowLength = 0;
};

}  // namespace nerova::package
