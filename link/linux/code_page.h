#pragma once
// The Windows ANSI code page a user of the given POSIX locale ("zh_CN.UTF-8",
// "ja_JP", "C") would have, which is the code page the receiver's texts are in.
#include <cstdint>
#include <string_view>

namespace nerova::link::linux_stack {

// The code page Windows takes for the locale's language: 936 for Chinese in
// mainland China (and Chinese without a territory), 950 for Taiwan, Hong Kong
// and Macao, 932 Japanese, 949 Korean, 874 Thai, 1250 Central European, 1251
// Cyrillic, 1253 Greek, 1254 Turkish, 1255 Hebrew, 1256 Arabic, 1257 Baltic,
// 1258 Vietnamese, 1252 for everything else.
std::uint32_t AnsiCodePageForLocale(std::string_view locale);

}  // namespace nerova::link::linux_stack
