#pragma once
// The Windows ANSI code page a user of the given POSIX locale ("zh_CN.UTF-8",
// "ja_JP", "C") would have, which is the code page the receiver's texts are in.
#include <cstdint>
#include <string_view>

namespace nerova::link::linux_stack {

// 936 for Chinese in mainland China (and Chinese without a territory), 950
// for Taiwan, Hong Kong and Macao, 932 for Japanese, 949 for Korean, 1252
// for everything else.
std::uint32_t AnsiCodePageForLocale(std::string_view locale);

}  // namespace nerova::link::linux_stack
