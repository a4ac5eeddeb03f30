#pragma once
// File-type filters written as "Name|Pattern|Name|Pattern||": pairs of a
// display name and one or more patterns separated by ';'. The list ends at
// the first empty name or at the end of the text; a name without its pattern
// is dropped.
#include <string>
#include <string_view>
#include <vector>

namespace nerova::ui {

struct FileFilterEntry {
  std::wstring name;
  std::wstring pattern;
  bool operator==(const FileFilterEntry&) const = default;
};

std::vector<FileFilterEntry> ParseFileFilter(std::wstring_view filter);

}  // namespace nerova::ui
