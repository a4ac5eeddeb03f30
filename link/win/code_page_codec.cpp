#include "link/win/code_page_codec.h"

#include <windows.h>

#include <climits>

namespace nerova::link::win {

static_assert(CP_THREAD_ACP == 3, "the header's default is CP_THREAD_ACP");

CodePageCodec::CodePageCodec(std::uint32_t codePage) : m_codePage(codePage) {}

// Both directions ask for the converted size first and then convert into a
// buffer of exactly that size, so nothing is ever cut.

std::string CodePageCodec::Encode(std::wstring_view text) const {
  if (text.empty() || text.size() > static_cast<std::size_t>(INT_MAX)) return {};
  const int length = static_cast<int>(text.size());
  const int size =
      WideCharToMultiByte(m_codePage, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return {};
  std::string bytes(static_cast<std::size_t>(size), '\0');
  const int written = WideCharToMultiByte(m_codePage, 0, text.data(), length, bytes.data(),
                                          size, nullptr, nullptr);
  bytes.resize(written > 0 ? static_cast<std::size_t>(written) : 0);
  return bytes;
}

std::wstring CodePageCodec::Decode(std::string_view bytes) const {
  if (bytes.empty() || bytes.size() > static_cast<std::size_t>(INT_MAX)) return {};
  const int length = static_cast<int>(bytes.size());
  const int size = MultiByteToWideChar(m_codePage, 0, bytes.data(), length, nullptr, 0);
  if (size <= 0) return {};
  std::wstring text(static_cast<std::size_t>(size), L'\0');
  const int written =
      MultiByteToWideChar(m_codePage, 0, bytes.data(), length, text.data(), size);
  text.resize(written > 0 ? static_cast<std::size_t>(written) : 0);
  return text;
}

}  // namespace nerova::link::win
