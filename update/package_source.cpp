#include "update/package_source.h"

#include <algorithm>
#include <cstring>

namespace nerova::package {
namespace {

constexpr std::uint32_t kWindowSize = 8192;
constexpr std::uint8_t kEndRecordSignature[4] = {0x50, 0x4B, 0x05, 0x06};

}  // namespace

PackageSource::PackageSource(std::unique_ptr<PackageFile> file) : m_pFile(std::move(file)), m_window(kWindowSize) {
  std::uint64_t end = 0;
  if (m_pFile && m_pFile->Seek(0, PackageFile::Origin::End, end)) m_nSize = end;
  std::uint8_t head[4] = {};
  std::uint32_t got = 0;
  if (ReadRaw(0, head, sizeof head, got) && got == sizeof head && std::memcmp(head, kEndRecordSignature, 4) == 0) {
    m_nPadding = 1;
    m_nSize += m_nPadding;
  }
}

zlib_filefunc64_def PackageSource::FileFunctions() {
  zlib_filefunc64_def functions{};
  functions.zopen64_file = OpenCallback;
  functions.zread_file = ReadCallback;
  functions.zwrite_file = WriteCallback;
  functions.ztell64_file = TellCallback;
  functions.zseek64_file = SeekCallback;
  functions.zclose_file = CloseCallback;
  functions.zerror_file = ErrorCallback;
  functions.opaque = nullptr;
  return functions;
}

bool PackageSource::ReadRaw(std::uint64_t at, void* buffer, std::uint32_t size, std::uint32_t& bytesRead) {
  bytesRead = 0;
  if (!m_pFile) return false;
  if (m_nFilePointer != at) {
    std::uint64_t reached = 0;
    if (at > static_cast<std::uint64_t>(INT64_MAX) ||
        !m_pFile->Seek(static_cast<std::int64_t>(at), PackageFile::Origin::Begin, reached) || reached != at) {
      m_nFilePointer = UINT64_MAX;
      return false;
    }
    m_nFilePointer = at;
  }
  if (!m_pFile->Read(buffer, size, bytesRead)) {
    m_nFilePointer = UINT64_MAX;
    return false;
  }
  m_nFilePointer = at + bytesRead;
  return true;
}

std::uint32_t PackageSource::Read(void* buffer, std::uint32_t size) {
  auto* out = static_cast<std::uint8_t*>(buffer);
  std::uint32_t done = 0;
  while (done < size && m_nPosition < m_nPadding) {
    out[done++] = 0;
    ++m_nPosition;
  }
  while (done < size) {
    const std::uint64_t at = m_nPosition - m_nPadding;
    // Nobody may write the package while it is open, so its end stays where
    // it was: reads past it (minizip makes many on broken headers) end here.
    if (at >= m_nSize - m_nPadding) break;
    if (at >= m_nWindowStart && at < m_nWindowStart + m_nWindowLength) {
      const auto offset = static_cast<std::uint32_t>(at - m_nWindowStart);
      const std::uint32_t n = std::min(size - done, m_nWindowLength - offset);
      std::memcpy(out + done, m_window.data() + offset, n);
      done += n;
      m_nPosition += n;
      continue;
    }
    std::uint32_t got = 0;
    const std::uint32_t rest = size - done;
    if (rest >= kWindowSize) {
      if (!ReadRaw(at, out + done, rest, got)) break;
      done += got;
      m_nPosition += got;
      break;
    }
    if (!ReadRaw(at, m_window.data(), kWindowSize, got) || got == 0) {
      m_nWindowLength = 0;
      break;
    }
    m_nWindowStart = at;
    m_nWindowLength = got;
  }
  return done;
}

bool PackageSource::Seek(std::uint64_t offset, int origin) {
  // Offsets wrap: minizip passes a step back as a huge unsigned one.
  switch (origin) {
    case ZLIB_FILEFUNC_SEEK_SET:
      m_nPosition = offset;
      return true;
    case ZLIB_FILEFUNC_SEEK_CUR:
      m_nPosition += offset;
      return true;
    case ZLIB_FILEFUNC_SEEK_END:
      m_nPosition = m_nSize + offset;
      return true;
    default:
      return false;
  }
}

voidpf ZCALLBACK PackageSource::OpenCallback(voidpf, const void* source, int) { return const_cast<void*>(source); }

uLong ZCALLBACK PackageSource::ReadCallback(voidpf, voidpf stream, void* buffer, uLong size) {
  auto* self = static_cast<PackageSource*>(stream);
  // minizip never asks for more than its 16 KiB buffer; larger requests are
  // served in pieces all the same.
  uLong done = 0;
  while (done < size) {
    const auto piece = static_cast<std::uint32_t>(std::min<uLong>(size - done, UINT32_MAX));
    const std::uint32_t got = self->Read(static_cast<std::uint8_t*>(buffer) + done, piece);
    done += got;
    if (got < piece) break;
  }
  return done;
}

uLong ZCALLBACK PackageSource::WriteCallback(voidpf, voidpf, const void*, uLong) { return 0; }

ZPOS64_T ZCALLBACK PackageSource::TellCallback(voidpf, voidpf stream) {
  return static_cast<PackageSource*>(stream)->m_nPosition;
}

long ZCALLBACK PackageSource::SeekCallback(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
  return static_cast<PackageSource*>(stream)->Seek(offset, origin) ? 0 : -1;
}

int ZCALLBACK PackageSource::CloseCallback(voidpf, voidpf stream) {
  // minizip closes the file when it refuses it and in unzClose: the handle
  // goes, the source object stays with its owner.
  static_cast<PackageSource*>(stream)->m_pFile.reset();
  return 0;
}

int ZCALLBACK PackageSource::ErrorCallback(voidpf, voidpf) { return 0; }

}  // namespace nerova::package
