#pragma once
// A scratch directory with one package in it, opened over the real file
// system through a recording wrapper and a clock two hours east of UTC.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/package/package_test_support.h"
#include "tests/package/zip_builder.h"
#include "update/package_archive.h"
#include "update/package_platform.h"
#include "update/package_rules.h"

namespace nerova::package::testing {

inline constexpr std::int32_t kZoneOffsetSeconds = 2 * 3600;

class PackageArchiveTest : public ::testing::Test {
 protected:
  // The unpacking directory exists beforehand, as the flow's does.
  PackageArchiveTest() : files(DefaultPackagePlatform().files), platform{files, zone} {
    fs::create_directories(OutPath());
  }

  std::wstring WritePackage(const std::string& bytes) {
    WriteBytes(scratch.Path() / "package.zip", bytes);
    return scratch.Wide(L"package.zip");
  }
  std::wstring WritePackage(const std::vector<ZipEntry>& entries, const ZipLayout& layout = {}) {
    return WritePackage(BuildZip(entries, layout).bytes);
  }

  std::unique_ptr<PackageArchive> Open(const std::wstring& path) {
    std::unique_ptr<PackageArchive> archive;
    const PackageResult result = PackageArchive::Open(path, platform, archive);
    EXPECT_EQ(result, PackageResult::Ok);
    EXPECT_NE(archive, nullptr);
    return archive;
  }
  std::unique_ptr<PackageArchive> OpenEntries(const std::vector<ZipEntry>& entries, const ZipLayout& layout = {}) {
    return Open(WritePackage(entries, layout));
  }

  // Where the flow would unpack: a directory three levels below the scratch
  // directory, so that climbing out of it stays visible in ListTree.
  std::wstring Out(const std::wstring& relative = L"") const {
    return scratch.Wide(relative.empty() ? L"a/b/out" : L"a/b/out/" + relative);
  }
  fs::path OutPath() const { return scratch.Path() / "a" / "b" / "out"; }
  // The flow's target for an entry name: the literal join below Out().
  std::wstring Target(const std::wstring& name) const { return JoinBelow(Out(), name).value_or(L""); }

  // The flow's loop: every entry's record, then the entry itself to the
  // unpacking directory joined literally with its name, kept within it.
  std::vector<PackageResult> ExtractAll(PackageArchive& archive) {
    PackageEntry summary;
    EXPECT_EQ(archive.GetEntry(-1, summary), PackageResult::Ok);
    std::vector<PackageResult> results;
    for (std::int32_t i = 0; i < summary.index; ++i) {
      PackageEntry entry;
      const PackageResult got = archive.GetEntry(i, entry);
      const PackageResult extracted = archive.ExtractEntry(i, Target(entry.name), Out());
      // An entry whose record cannot be read cannot be unpacked either.
      if (got != PackageResult::Ok) {
        EXPECT_EQ(extracted, got) << i;
      }
      results.push_back(extracted);
    }
    return results;
  }

  std::vector<std::wstring> Created() const {
    std::vector<std::wstring> created;
    for (const std::wstring& line : files.log) {
      if (line.rfind(L"create ", 0) == 0) created.push_back(line.substr(7));
    }
    return created;
  }

  ScratchDirectory scratch;
  RecordingFileSystem files;
  FixedOffsetTime zone{kZoneOffsetSeconds};
  PackagePlatform platform;
};

}  // namespace nerova::package::testing
