#pragma once
// UTF-8, the program's one codec of it: the receiver's code page in builds
// that have no ANSI code page (the native build, the settings dump), the
// names in firmware packages and the file names of POSIX systems. Wide
// strings are UTF-16 where wchar_t has 16 bits and UTF-32 where it has 32.
#include <string>
#include <string_view>

#include "link/text_codec.h"

namespace nerova::link {

// What a lone surrogate or a value beyond U+10FFFF, which have no UTF-8
// form, becomes on the way out.
enum class Unencodable { QuestionMark, ReplacementCharacter };

std::string EncodeUtf8(std::wstring_view text, Unencodable unencodable);
// Every ill-formed sequence (stray continuation byte, overlong form, encoded
// surrogate, value beyond U+10FFFF, truncated tail) becomes one U+FFFD per
// maximal ill-formed part.
std::wstring DecodeUtf8(std::string_view bytes);

class Utf8Codec final : public TextCodec {
 public:
  // Lone surrogates and values beyond U+10FFFF: '?'.
  std::string Encode(std::wstring_view text) const override {
    return EncodeUtf8(text, Unencodable::QuestionMark);
  }
  std::wstring Decode(std::string_view bytes) const override { return DecodeUtf8(bytes); }
};

}  // namespace nerova::link
