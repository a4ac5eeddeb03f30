#include "app/cli/windows_console.h"

#include <windows.h>

#include <algorithm>
#include <string>

#include "link/utf8_codec.h"

namespace nerova::cli::win {
namespace {

// WriteConsoleW and WriteFile take at most this much per call here, so that
// a long text is written whole in several calls rather than cut.
constexpr std::size_t kChunk = 16 * 1024;

void WriteLine(DWORD stream, std::wstring_view line) {
  const HANDLE handle = GetStdHandle(stream);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return;
  std::wstring text(line);
  text += L"\r\n";
  DWORD mode = 0;
  if (GetConsoleMode(handle, &mode)) {
    for (std::size_t at = 0; at < text.size();) {
      const DWORD length = static_cast<DWORD>(std::min(kChunk, text.size() - at));
      DWORD written = 0;
      if (!WriteConsoleW(handle, text.data() + at, length, &written, nullptr) || written == 0) return;
      at += written;
    }
    return;
  }
  static const link::Utf8Codec utf8;
  const std::string bytes = utf8.Encode(text);
  for (std::size_t at = 0; at < bytes.size();) {
    const DWORD length = static_cast<DWORD>(std::min(kChunk, bytes.size() - at));
    DWORD written = 0;
    if (!WriteFile(handle, bytes.data() + at, length, &written, nullptr) || written == 0) return;
    at += written;
  }
}

}  // namespace

void WindowsConsole::Out(std::wstring_view line) { WriteLine(STD_OUTPUT_HANDLE, line); }
void WindowsConsole::Err(std::wstring_view line) { WriteLine(STD_ERROR_HANDLE, line); }

}  // namespace nerova::cli::win
