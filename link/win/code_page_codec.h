#pragma once
// Text on the wire in a Windows code page: by default the calling thread's
// ANSI code page (CP_THREAD_ACP), which is what the receiver's texts are in.
#include <cstdint>

#include "link/text_codec.h"

namespace nerova::link::win {

class CodePageCodec final : public TextCodec {
 public:
  // CP_THREAD_ACP; the caller checks another code page with IsValidCodePage.
  explicit CodePageCodec(std::uint32_t codePage = 3);
  // Characters the code page cannot represent become its default character.
  std::string Encode(std::wstring_view text) const override;
  // Byte sequences that are not valid in the code page become U+FFFD or the
  // code page's own replacement, as the system converts them.
  std::wstring Decode(std::string_view bytes) const override;

 private:
  std::uint32_t m_codePage;
};

}  // namespace nerova::link::win
