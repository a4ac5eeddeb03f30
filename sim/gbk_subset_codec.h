#pragma once
// A legacy multi-byte code page for tests: ASCII plus a
// small table of GBK (code page 936) double-byte characters, enough to send
// Chinese Wi-Fi names through the same paths as on a Chinese Windows.
#include "link/text_codec.h"

namespace nerova::sim {

class GbkSubsetCodec final : public link::TextCodec {
 public:
  // Characters outside ASCII and the table become '?', one per character.
  std::string Encode(std::wstring_view text) const override;
  // A lead byte (0x81 to 0xFE) takes the next byte as its trail when that is
  // a trail byte (0x40 to 0x7E, 0x80 to 0xFE); a pair outside the table is
  // one '?'. A lead byte without a trail (at the end, or before a byte that
  // cannot trail) is one '?' and the following byte is read afresh.
  std::wstring Decode(std::string_view bytes) const override;
};

}  // namespace nerova::sim
