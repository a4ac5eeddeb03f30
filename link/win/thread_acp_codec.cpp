#include "link/win/thread_acp_codec.h"

#include <windows.h>

#include <climits>

namespace nerova::link::win {

// Both directions ask for the converted size first and then convert into a
// buffer of exactly that size, so nothing is ever cut.

std::string ThreadAcpCodec::Encode(std::wstring_view text) const {
  if (text.empty() || text.size() > static_cast<std::size_t>(INT_MAX)) return {};
  const int length = static_cast<int>(text.size());
  const int size =
      WideCharToMultiByte(CP_THREAD_ACP, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return {};
  std::string bytes(static_cast<std::size_t>(size), '\0');
  const int written = WideCharToMultiByte(CP_THREAD_ACP, 0, text.data(), length, bytes.data(),
                                          size, nullptr, nullptr);
  bytes.resize(written > 0 ? static_cast<std::size_t>(written) : 0);
  return bytes;
}

std::wstring ThreadAcpCodec::Decode(std::string_view bytes) const {
  if (bytes.empty() || bytes.size() > static_cast<std::size_t>(INT_MAX)) return {};
  const int length = static_cast<int>(bytes.size());
  const int size = MultiByteToWideChar(CP_THREAD_ACP, 0, bytes.data(), length, nullptr, 0);
  if (size <= 0) return {};
  std::wstring text(static_cast<std::size_t>(size), L'\0');
  const int written =
      MultiByteToWideChar(CP_THREAD_ACP, 0, bytes.data(), length, text.data(), size);
  text.resize(written > 0 ? static_cast<std::size_t>(written) : 0);
  return text;
}

}  // namespace nerova::link::win
