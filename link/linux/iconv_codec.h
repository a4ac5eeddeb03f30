#pragma once
// The receiver's texts in a Windows code page, converted by glibc's iconv:
// the Linux counterpart of CP_THREAD_ACP on Windows.
#include <iconv.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "link/text_codec.h"

namespace nerova::link::linux_stack {

// Sole owner of an iconv conversion descriptor: closed when the owner goes.
class IconvDescriptor {
 public:
  // Empty when glibc has no conversion between the two charsets; throws
  // std::system_error when the conversion exists but cannot be opened.
  static std::optional<IconvDescriptor> Open(const char* toCharset, const char* fromCharset);

  IconvDescriptor(IconvDescriptor&& other) noexcept
      : m_descriptor(std::exchange(other.m_descriptor, kClosed)) {}
  IconvDescriptor& operator=(IconvDescriptor&& other) noexcept {
    if (this != &other) {
      Reset();
      m_descriptor = std::exchange(other.m_descriptor, kClosed);
    }
    return *this;
  }
  IconvDescriptor(const IconvDescriptor&) = delete;
  IconvDescriptor& operator=(const IconvDescriptor&) = delete;
  ~IconvDescriptor() { Reset(); }

  iconv_t Get() const { return m_descriptor; }

 private:
  static inline const iconv_t kClosed = reinterpret_cast<iconv_t>(-1);

  explicit IconvDescriptor(iconv_t descriptor) : m_descriptor(descriptor) {}
  void Reset() {
    if (iconv_t d = std::exchange(m_descriptor, kClosed); d != kClosed) ::iconv_close(d);
  }

  iconv_t m_descriptor = kClosed;
};

class IconvCodec final : public TextCodec {
 public:
  // Null when the code page is unknown or glibc's iconv cannot convert it.
  static std::unique_ptr<IconvCodec> ForCodePage(std::uint32_t codePage);

  std::uint32_t CodePage() const { return m_codePage; }

  // A character the code page lacks becomes '?', its default character.
  std::string Encode(std::wstring_view text) const override;
  // A byte that starts no valid sequence becomes U+FFFD and conversion goes
  // on after it; a sequence cut off at the end becomes one U+FFFD.
  std::wstring Decode(std::string_view bytes) const override;

 private:
  IconvCodec(std::uint32_t codePage, IconvDescriptor encoder, IconvDescriptor decoder)
      : m_codePage(codePage), m_encoder(std::move(encoder)), m_decoder(std::move(decoder)) {}

  std::uint32_t m_codePage;
  // iconv keeps shift state in the descriptor: one caller at a time, and
  // every call starts from the initial state.
  mutable std::mutex m_encoderLock;
  IconvDescriptor m_encoder;
  mutable std::mutex m_decoderLock;
  IconvDescriptor m_decoder;
};

}  // namespace nerova::link::linux_stack
