#include "ui/file_filter.h"

namespace nerova::ui {

std::vector<FileFilterEntry> ParseFileFilter(std::wstring_view filter) {
  std::vector<FileFilterEntry> entries;
  std::vector<std::wstring_view> fields;
  std::size_t start = 0;
  while (start <= filter.size()) {
    const std::size_t bar = filter.find(L'|', start);
    const std::size_t end = bar == std::wstring_view::npos ? filter.size() : bar;
    fields.push_back(filter.substr(start, end - start));
    if (bar == std::wstring_view::npos) break;
    start = bar + 1;
  }
  for (std::size_t i = 0; i + 1 < fields.size(); i += 2) {
    if (fields[i].empty() || fields[i + 1].empty()) break;
    entries.push_back({std::wstring(fields[i]), std::wstring(fields[i + 1])});
  }
  return entries;
}

}  // namespace nerova::ui
