// Target paths: how they are resolved, what lies inside the directory an
// archive is unpacked into, and directory chains made from the top down.
#include <vector>

#include "update/package_archive.h"
#include "update/package_platform.h"
#include "update/package_rules.h"

namespace nerova::package {

namespace {

bool IsDotsAndBlanks(std::wstring_view component) {
  return component.find_first_not_of(L". ") == std::wstring_view::npos;
}

}  // namespace

bool IsAbsolutePath(std::wstring_view path) {
  return (!path.empty() && IsSeparator(path[0])) || (path.size() > 1 && path[1] == L':');
}

std::wstring ResolveLexically(std::wstring_view path) {
  std::wstring root;
  if (path.size() > 1 && path[1] == L':') {
    root.assign(path.substr(0, 2));
    path.remove_prefix(2);
  }
  if (!path.empty() && IsSeparator(path[0])) root += L'\\';

  std::vector<std::wstring_view> kept;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= path.size(); ++i) {
    if (i < path.size() && !IsSeparator(path[i])) continue;
    std::wstring_view component = path.substr(start, i - start);
    start = i + 1;
    if (component.empty() || component == L".") continue;
    if (IsDotsAndBlanks(component)) {
      if (!kept.empty()) kept.pop_back();
      continue;
    }
    while (component.back() == L'.' || component.back() == L' ') component.remove_suffix(1);
    kept.push_back(component);
  }

  std::wstring resolved = root;
  for (std::size_t i = 0; i < kept.size(); ++i) {
    if (i > 0) resolved += L'\\';
    resolved += kept[i];
  }
  // A path that ended in a separator keeps it, as GetFullPathNameW does.
  if (!kept.empty() && !path.empty() && IsSeparator(path.back())) resolved += L'\\';
  return resolved;
}

bool IsStrictlyBelow(std::wstring_view path, std::wstring_view root) {
  if (root.empty()) return false;
  const std::size_t prefix = IsSeparator(root.back()) ? root.size() - 1 : root.size();
  if (path.size() <= prefix + 1 || path.substr(0, prefix) != root.substr(0, prefix)) return false;
  if (!IsSeparator(path[prefix])) return false;
  // Something must be named after the separator, not just more of them.
  return path.find_first_not_of(L"\\/", prefix) != std::wstring_view::npos;
}

bool LiesWithin(PackageFileSystem& files, std::wstring_view path, std::wstring_view within) {
  const std::optional<std::wstring> resolved = files.FullPath(std::wstring(path));
  const std::optional<std::wstring> root = files.FullPath(std::wstring(within));
  return resolved && root && IsStrictlyBelow(*resolved, *root);
}

void MakeDirectoryChain(PackageFileSystem& files, std::optional<std::wstring_view> base,
                        std::wstring_view directoryPath, std::wstring_view within) {
  // Only what is missing is made, and only below `within`: a level that
  // resolves anywhere else is left out, and what would go in it fails later.
  const auto makeMissing = [&](const std::wstring& path) {
    // A cut path would name some other directory: leave the level out.
    if (Utf16Length(path) > kMaxPathUnits || files.Exists(path)) return;
    if (LiesWithin(files, path, within)) files.MakeDirectory(path);
  };
  if (base) {
    std::wstring root(*base);
    if (!root.empty() && IsSeparator(root.back())) root.pop_back();
    makeMissing(root);
  }
  if (directoryPath.empty()) return;

  const auto makeLevel = [&](std::wstring_view level) {
    std::wstring path = base ? std::wstring(*base) : std::wstring();
    path += level;
    makeMissing(path);
  };
  // Each separator after the first character ends a level; a path that ends
  // in a separator has its parent made first, then itself.
  for (std::size_t i = 1; i < directoryPath.size(); ++i) {
    if (IsSeparator(directoryPath[i])) makeLevel(directoryPath.substr(0, i));
  }
  makeLevel(directoryPath);
}

void MakeDirectoryChain(std::optional<std::wstring_view> base, std::wstring_view directoryPath,
                        std::wstring_view within) {
  MakeDirectoryChain(DefaultPackagePlatform().files, base, directoryPath, within);
}

}  // namespace nerova::package
