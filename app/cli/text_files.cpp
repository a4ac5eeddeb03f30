#include "app/cli/text_files.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <algorithm>

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

std::optional<std::string> ReadWholeFile(const std::wstring& path, std::size_t limit, std::wstring& error) {
  errno = 0;
  std::ifstream file(FilePath(path), std::ios::binary);
  if (!file) {
    error = path + L": " + (errno != 0 ? SystemReason() : L"cannot be opened");
    return std::nullopt;
  }
  std::string bytes;
  char buffer[4096];
  while (bytes.size() <= limit && file.read(buffer, sizeof buffer).gcount() > 0) {
    bytes.append(buffer, static_cast<std::size_t>(file.gcount()));
  }
  if (file.bad()) {
    error = path + L": cannot be read";
    return std::nullopt;
  }
  bytes.resize(std::min(bytes.size(), limit + 1));
  return bytes;
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
