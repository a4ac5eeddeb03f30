#include "link/linux/code_page.h"

#include <algorithm>
#include <cctype>
#include <string>

namespace nerova::link::linux_stack {
namespace {

std::string Lower(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return out;
}

struct LanguageCodePage {
  std::string_view language;  // ISO 639 code as POSIX locales spell it
  std::uint32_t codePage;
};

// The ANSI code page Windows gives a computer set to each language whose
// code page is not 1252. Languages written in two scripts (Serbian, Uzbek)
// are listed by the script glibc's locale uses without a modifier.
constexpr LanguageCodePage kLanguageCodePages[] = {
    {"cs", 1250}, {"hu", 1250}, {"pl", 1250},  {"ro", 1250},  {"sk", 1250},  {"sl", 1250},
    {"hr", 1250}, {"bs", 1250}, {"sq", 1250},  {"tk", 1250},  {"ru", 1251},  {"uk", 1251},
    {"be", 1251}, {"bg", 1251}, {"mk", 1251},  {"sr", 1251},  {"kk", 1251},  {"ky", 1251},
    {"tt", 1251}, {"mn", 1251}, {"ba", 1251},  {"tg", 1251},  {"el", 1253},  {"tr", 1254},
    {"az", 1254}, {"uz", 1254}, {"he", 1255},  {"iw", 1255},  {"yi", 1255},  {"ar", 1256},
    {"fa", 1256}, {"ur", 1256}, {"ckb", 1256}, {"lt", 1257},  {"lv", 1257},  {"et", 1257},
    {"vi", 1258}, {"th", 874},  {"ja", 932},   {"ko", 949},
};

}  // namespace

std::uint32_t AnsiCodePageForLocale(std::string_view locale) {
  // language[_territory][.codeset][@modifier]
  const std::size_t at = locale.find('@');
  const std::string modifier = at == std::string_view::npos ? std::string() : Lower(locale.substr(at + 1));
  const std::string_view name = locale.substr(0, locale.find_first_of(".@"));
  const std::size_t underscore = name.find('_');
  const std::string language = Lower(name.substr(0, underscore));
  const std::string territory =
      underscore == std::string_view::npos ? std::string() : Lower(name.substr(underscore + 1));

  if (language == "zh") {
    return territory == "tw" || territory == "hk" || territory == "mo" ? 950 : 936;
  }
  if (modifier == "latin" && language == "sr") return 1250;
  if (modifier == "cyrillic" && language == "uz") return 1251;
  for (const LanguageCodePage& entry : kLanguageCodePages) {
    if (entry.language == language) return entry.codePage;
  }
  return 1252;
}

}  // namespace nerova::link::linux_stack
