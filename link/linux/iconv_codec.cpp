#include "link/linux/iconv_codec.h"

#include <cerrno>
#include <system_error>

namespace nerova::link::linux_stack {
namespace {

// glibc's WCHAR_T is UCS-4 in host byte order, which is what a 32-bit
// wchar_t holds.
static_assert(sizeof(wchar_t) == 4, "wide strings on Linux are UTF-32");
constexpr const char* kWideCharset = "WCHAR_T";
constexpr char kDefaultCharacter = '?';
constexpr wchar_t kReplacementCharacter = 0xFFFD;
constexpr std::size_t kFailed = static_cast<std::size_t>(-1);

// glibc's name of a Windows ANSI code page (and of UTF-8), or null for a
// code page that is none of them.
const char* CharsetForCodePage(std::uint32_t codePage) {
  switch (codePage) {
    case 874: return "CP874";
    case 932: return "CP932";
    case 936: return "CP936";
    case 949: return "CP949";
    case 950: return "CP950";  // glibc's alias of its BIG5
    case 1250: return "CP1250";
    case 1251: return "CP1251";
    case 1252: return "CP1252";
    case 1253: return "CP1253";
    case 1254: return "CP1254";
    case 1255: return "CP1255";
    case 1256: return "CP1256";
    case 1257: return "CP1257";
    case 1258: return "CP1258";
    case 65001: return "UTF-8";
    default: return nullptr;
  }
}

[[noreturn]] void ThrowIconvError(int error) {
  throw std::system_error(error, std::generic_category(), "iconv");
}

// Converts all of `input` (bytes, `unit` bytes to a character) from the
// descriptor's initial state. What cannot be converted becomes `substitute`:
// an invalid sequence one unit at a time, after which conversion goes on; an
// incomplete sequence at the end as a whole.
template <typename OutChar>
std::basic_string<OutChar> Convert(iconv_t descriptor, const char* input, std::size_t inputSize,
                                   std::size_t unit, OutChar substitute) {
  std::basic_string<OutChar> out(inputSize / unit + 16, OutChar{});
  std::size_t used = 0;  // characters of `out` written so far
  const auto grow = [&] { out.resize(out.size() * 2); };

  ::iconv(descriptor, nullptr, nullptr, nullptr, nullptr);
  // glibc's iconv takes the input as char** but does not write it.
  char* in = const_cast<char*>(input);
  std::size_t inLeft = inputSize;
  // With the input used up, a call without input writes whatever returns the
  // output to its initial shift state.
  bool finished = false;
  while (!finished) {
    char* const outStart = reinterpret_cast<char*>(out.data() + used);
    char* outNext = outStart;
    std::size_t outLeft = (out.size() - used) * sizeof(OutChar);
    const bool flushing = inLeft == 0;
    const std::size_t result = flushing ? ::iconv(descriptor, nullptr, nullptr, &outNext, &outLeft)
                                        : ::iconv(descriptor, &in, &inLeft, &outNext, &outLeft);
    used += static_cast<std::size_t>(outNext - outStart) / sizeof(OutChar);
    if (result != kFailed) {
      finished = flushing;
      continue;
    }
    const int error = errno;
    if (error == E2BIG) {
      grow();
      continue;
    }
    if (flushing || (error != EILSEQ && error != EINVAL)) ThrowIconvError(error);
    if (used == out.size()) grow();
    out[used++] = substitute;
    const std::size_t skipped = error == EINVAL || inLeft < unit ? inLeft : unit;
    in += skipped;
    inLeft -= skipped;
  }
  out.resize(used);
  return out;
}

}  // namespace

std::optional<IconvDescriptor> IconvDescriptor::Open(const char* toCharset, const char* fromCharset) {
  const iconv_t descriptor = ::iconv_open(toCharset, fromCharset);
  if (descriptor != kClosed) return IconvDescriptor(descriptor);
  const int error = errno;
  if (error == EINVAL) return std::nullopt;
  throw std::system_error(error, std::generic_category(),
                          std::string("iconv_open ") + fromCharset + " -> " + toCharset);
}

std::unique_ptr<IconvCodec> IconvCodec::ForCodePage(std::uint32_t codePage) {
  const char* charset = CharsetForCodePage(codePage);
  if (charset == nullptr) return nullptr;
  std::optional<IconvDescriptor> encoder = IconvDescriptor::Open(charset, kWideCharset);
  if (!encoder) return nullptr;
  std::optional<IconvDescriptor> decoder = IconvDescriptor::Open(kWideCharset, charset);
  if (!decoder) return nullptr;
  return std::unique_ptr<IconvCodec>(new IconvCodec(codePage, std::move(*encoder), std::move(*decoder)));
}

std::string IconvCodec::Encode(std::wstring_view text) const {
  const std::lock_guard lock(m_encoderLock);
  return Convert(m_encoder.Get(), reinterpret_cast<const char*>(text.data()),
                 text.size() * sizeof(wchar_t), sizeof(wchar_t), kDefaultCharacter);
}

std::wstring IconvCodec::Decode(std::string_view bytes) const {
  const std::lock_guard lock(m_decoderLock);
  return Convert(m_decoder.Get(), bytes.data(), bytes.size(), 1, kReplacementCharacter);
}

}  // namespace nerova::link::linux_stack
