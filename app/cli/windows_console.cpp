#include "app/cli/windows_console.h"

#include <windows.h>

#include <algorithm>
#include <string>

#include "app/cli/typed_lines.h"
#include "link/utf8_codec.h"

namespace nerova::cli::win {
namespace {

// WriteConsoleW and WriteFile take at most this much per call here, so that
// a long text is written whole in several calls rather than cut.
constexpr std::size_t kChunk = 16 * 1024;

// False when the line could not be written whole.
bool WriteLine(DWORD stream, std::wstring_view line) {
  const HANDLE handle = GetStdHandle(stream);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return false;
  std::wstring text(line);
  text += L"\r\n";
  DWORD mode = 0;
  if (GetConsoleMode(handle, &mode)) {
    for (std::size_t at = 0; at < text.size();) {
      const DWORD length = static_cast<DWORD>(std::min(kChunk, text.size() - at));
      DWORD written = 0;
      if (!WriteConsoleW(handle, text.data() + at, length, &written, nullptr) || written == 0) return false;
      at += written;
    }
    return true;
  }
  static const link::Utf8Codec utf8;
  const std::string bytes = utf8.Encode(text);
  for (std::size_t at = 0; at < bytes.size();) {
    const DWORD length = static_cast<DWORD>(std::min(kChunk, bytes.size() - at));
    DWORD written = 0;
    if (!WriteFile(handle, bytes.data() + at, length, &written, nullptr) || written == 0) return false;
    at += written;
  }
  return true;
}

HANDLE StandardInput() {
  const HANDLE handle = GetStdHandle(STD_INPUT_HANDLE);
  return handle == INVALID_HANDLE_VALUE ? nullptr : handle;
}

}  // namespace

void WindowsConsole::Out(std::wstring_view line) {
  if (!WriteLine(STD_OUTPUT_HANDLE, line)) m_outputLost = true;
}
void WindowsConsole::Err(std::wstring_view line) { WriteLine(STD_ERROR_HANDLE, line); }

std::optional<std::string> ReadStandardInput(std::size_t limit) {
  const HANDLE handle = StandardInput();
  if (handle == nullptr) return std::nullopt;
  std::string bytes;
  char buffer[4096];
  while (bytes.size() <= limit) {
    DWORD read = 0;
    if (!ReadFile(handle, buffer, sizeof buffer, &read, nullptr)) {
      // A pipe whose writer has gone has ended, not failed.
      if (GetLastError() == ERROR_BROKEN_PIPE) return bytes;
      return std::nullopt;
    }
    if (read == 0) return bytes;
    bytes.append(buffer, read);
  }
  return bytes;
}

std::optional<std::wstring> ReadLine() {
  const HANDLE handle = StandardInput();
  if (handle == nullptr) return std::nullopt;
  std::wstring line;
  DWORD mode = 0;
  if (GetConsoleMode(handle, &mode)) {
    // Typed text as the console has it, whatever its code page.
    for (;;) {
      wchar_t c = 0;
      DWORD read = 0;
      if (!ReadConsoleW(handle, &c, 1, &read, nullptr) || read == 0) return std::nullopt;
      if (c == L'\n') break;
      if (c != L'\r') line += c;
    }
    return line;
  }
  return LineOfBytes([handle](char& c) {
    DWORD read = 0;
    return ReadFile(handle, &c, 1, &read, nullptr) && read == 1;
  });
}

}  // namespace nerova::cli::win
