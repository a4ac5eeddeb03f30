#pragma once
// The files nerova-cli reads and appends to, named as the user typed them:
// UTF-16 paths on Windows, UTF-8 ones elsewhere.
#include <optional>
#include <string>
#include <string_view>

namespace nerova::cli {

// The whole file, or its first `limit` bytes and one more; none, with the
// system's reason in `error`, when it cannot be read.
std::optional<std::string> ReadWholeFile(const std::wstring& path, std::size_t limit, std::wstring& error);

// Appends `bytes` and flushes them to the file, created when missing.
// False, with the reason in `error`, when they could not all be written.
bool AppendToFile(const std::wstring& path, std::string_view bytes, std::wstring& error);

}  // namespace nerova::cli
