#pragma once
// Text on the wire to the receiver is a byte string in the host's ANSI code
// page. This boundary converts between it and the program's wide strings:
// CP_THREAD_ACP on Windows, a codec chosen by the test in the native build.
#include <string>
#include <string_view>

namespace nerova::link {

class TextCodec {
 public:
  virtual ~TextCodec() = default;
  // Characters without a mapping become the code page's default character.
  virtual std::string Encode(std::wstring_view text) const = 0;
  virtual std::wstring Decode(std::string_view bytes) const = 0;
};

}  // namespace nerova::link
