#include "app/cli/text_files.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "link/utf8_codec.h"

namespace nerova::cli {
namespace {

std::filesystem::path FilePath(const std::wstring& path) {
#ifdef _WIN32
  return std::filesystem::path(path);
#else
  // The path's bytes as typed: the narrow form the system's calls take,
  // whatever the C library's locale says.
  return std::filesystem::path(link::EncodeUtf8(path, link::Unencodable::QuestionMark));
#endif
}

std::wstring SystemReason() { return link::DecodeUtf8(std::strerror(errno)); }

}  // namespace

std::optional<std::string> ReadWholeFile(const std::wstring& path, std::wstring& error) {
  errno = 0;
  std::ifstream file(FilePath(path), std::ios::binary);
  if (!file) {
    error = path + L": " + (errno != 0 ? SystemReason() : L"cannot be opened");
    return std::nullopt;
  }
  std::ostringstream bytes;
  bytes << file.rdbuf();
  if (file.bad()) {
    error = path + L": cannot be read";
    return std::nullopt;
  }
  return std::move(bytes).str();
}

bool AppendToFile(const std::wstring& path, std::string_view bytes, std::wstring& error) {
  errno = 0;
  std::ofstream file(FilePath(path), std::ios::binary | std::ios::app);
  if (file) {
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    file.flush();
  }
  if (!file) {
    error = path + L": " + (errno != 0 ? SystemReason() : L"cannot be written");
    return false;
  }
  return true;
}

}  // namespace nerova::cli
