#pragma once
// UTF-8 as the receiver's code page: the text codec of builds that have no
// ANSI code page (the native build, the settings dump). Wide strings
// are UTF-16 where wchar_t has 16 bits and UTF-32 where it has 32.
#include "link/text_codec.h"

namespace nerova::link {

class Utf8Codec final : public TextCodec {
 public:
  // Lone surrogates and values beyond U+10FFFF have no UTF-8 form: '?'.
  std::string Encode(std::wstring_view text) const override;
  // Every ill-formed sequence (stray continuation byte, overlong form, encoded
  // surrogate, value beyond U+10FFFF, truncated tail) becomes one U+FFFD per
  // maximal ill-formed part.
  std::wstring Decode(std::string_view bytes) const override;
};

}  // namespace nerova::link
