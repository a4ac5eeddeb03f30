// Directory chains: every level of a path, from the top down.
#include "update/package_archive.h"
#include "update/package_platform.h"
#include "update/package_rules.h"

namespace nerova::package {

bool IsAbsolutePath(std::wstring_view path) {
  return (!path.empty() && IsSeparator(path[0])) || (path.size() > 1 && path[1] == L':');
}

void MakeDirectoryChain(PackageFileSystem& files, std::optional<std::wstring_view> base,
                        std::wstring_view directoryPath) {
  if (base) {
    std::wstring root(*base);
    if (!root.empty() && IsSeparator(root.back())) root.pop_back();
    if (Utf16Length(root) <= kMaxPathUnits && !files.Exists(root)) files.MakeDirectory(root);
  }
  if (directoryPath.empty()) return;

  const auto makeLevel = [&](std::wstring_view level) {
    std::wstring path = base ? std::wstring(*base) : std::wstring();
    path += level;
    // A cut path would name some other directory: leave the level out.
    if (Utf16Length(path) > kMaxPathUnits) return;
    if (!files.Exists(path)) files.MakeDirectory(path);
  };
  // Each separator after the first character ends a level; a path that ends
  // in a separator has its parent made first, then itself.
  for (std::size_t i = 1; i < directoryPath.size(); ++i) {
    if (IsSeparator(directoryPath[i])) makeLevel(directoryPath.substr(0, i));
  }
  makeLevel(directoryPath);
}

void MakeDirectoryChain(std::optional<std::wstring_view> base, std::wstring_view directoryPath) {
  MakeDirectoryChain(DefaultPackagePlatform().files, base, directoryPath);
}

}  // namespace nerova::package
