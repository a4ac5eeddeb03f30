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

}  // namespace

std::uint32_t AnsiCodePageForLocale(std::string_view locale) {
  // language[_territory][.codeset][@modifier]
  const std::string_view name = locale.substr(0, locale.find_first_of(".@"));
  const std::size_t underscore = name.find('_');
  const std::string language = Lower(name.substr(0, underscore));
  const std::string territory =
      underscore == std::string_view::npos ? std::string() : Lower(name.substr(underscore + 1));

  if (language == "zh") {
    return territory == "tw" || territory == "hk" || territory == "mo" ? 950 : 936;
  }
  if (language == "ja") return 932;
  if (language == "ko") return 949;
  return 1252;
}

}  // namespace nerova::link::linux_stack
