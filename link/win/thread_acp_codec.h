#pragma once
// Text on the wire in the calling thread's ANSI code page (CP_THREAD_ACP).
#include "link/text_codec.h"

namespace nerova::link::win {

class ThreadAcpCodec final : public TextCodec {
 public:
  // Characters the code page cannot represent become its default character.
  std::string Encode(std::wstring_view text) const override;
  // Byte sequences that are not valid in the code page become U+FFFD or the
  // code page's own replacement, as the system converts them.
  std::wstring Decode(std::string_view bytes) const override;
};

}  // namespace nerova::link::win
