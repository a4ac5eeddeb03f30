// What the POSIX platform leaves on disk: modes and times.
#include <sys/stat.h>
#include <time.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "tests/package/package_archive_fixture.h"
#include "update/package_rules.h"

namespace nerova::package::testing {
namespace {

using ::testing::ElementsAre;

struct stat StatOf(const fs::path& path) {
  struct stat st {};
  EXPECT_EQ(stat(path.c_str(), &st), 0) << path;
  return st;
}

FileTime FileTimeOf(const timespec& stamp) {
  const std::int64_t ticks = static_cast<std::int64_t>(stamp.tv_sec) * 10000000 + stamp.tv_nsec / 100 +
                             static_cast<std::int64_t>(kUnixEpochTicks);
  return FileTime::FromTicks(static_cast<std::uint64_t>(ticks));
}

// Sets TZ for one test and puts the previous value back.
class TimeZoneOverride {
 public:
  explicit TimeZoneOverride(const char* zone) {
    if (const char* old = std::getenv("TZ")) m_previous = old;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~TimeZoneOverride() {
    if (m_previous) {
      setenv("TZ", m_previous->c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

 private:
  std::optional<std::string> m_previous;
};

TEST_F(PackageArchiveTest, ReadOnlyEntriesLoseTheirWriteBits) {
  ZipEntry readOnly = StoredEntry("ro.bin", "ro");
  readOnly.versionMadeBy = kMadeByUnix;
  readOnly.externalAttributes = UnixMode(0100444);
  ZipEntry dosReadOnly = StoredEntry("dos-ro.bin", "ro");
  dosReadOnly.externalAttributes = 0x21;
  auto archive = OpenEntries({readOnly, dosReadOnly, StoredEntry("rw.bin", "rw")});
  ASSERT_NE(archive, nullptr);
  EXPECT_THAT(ExtractAll(*archive), ElementsAre(PackageResult::Ok, PackageResult::Ok, PackageResult::Ok));
  EXPECT_EQ(StatOf(OutPath() / "ro.bin").st_mode & 0222, 0u);
  EXPECT_EQ(StatOf(OutPath() / "dos-ro.bin").st_mode & 0222, 0u);
  EXPECT_NE(StatOf(OutPath() / "rw.bin").st_mode & 0200, 0u);
}

TEST_F(PackageArchiveTest, ReplacedFileTakesTheLaterEntrysReadOnlyState) {
  ZipEntry readOnly = StoredEntry("fw.bin", "second");
  readOnly.externalAttributes = 0x21;
  auto archive = OpenEntries({StoredEntry("fw.bin", "first"), readOnly});
  ASSERT_NE(archive, nullptr);
  EXPECT_THAT(ExtractAll(*archive), ElementsAre(PackageResult::Ok, PackageResult::Ok));
  EXPECT_EQ(ReadBytes(OutPath() / "fw.bin"), "second");
  EXPECT_EQ(StatOf(OutPath() / "fw.bin").st_mode & 0222, 0u);
}

TEST_F(PackageArchiveTest, UnpackedFilesCarryTheEntrysAccessAndWriteTimes) {
  ZipEntry stamped = DeflatedEntry("stamped.bin", std::string(40000, 's'));
  stamped.localExtra = ExtendedTimestamp(3, {1500000000, 1400000000});
  ZipEntry preEpoch = StoredEntry("pre-epoch.bin", "");
  preEpoch.localExtra = ExtendedTimestamp(1, {-86399});
  auto archive = OpenEntries({stamped, StoredEntry("dos.bin", ""), preEpoch});
  ASSERT_NE(archive, nullptr);
  EXPECT_THAT(ExtractAll(*archive), ElementsAre(PackageResult::Ok, PackageResult::Ok, PackageResult::Ok));
  const struct stat st = StatOf(OutPath() / "stamped.bin");
  EXPECT_EQ(FileTimeOf(st.st_mtim), FileTimeFromUnixSeconds(1500000000));
  EXPECT_EQ(FileTimeOf(st.st_atim), FileTimeFromUnixSeconds(1400000000));
  PackageEntry entry;
  ASSERT_EQ(archive->GetEntry(1, entry), PackageResult::Ok);
  EXPECT_EQ(FileTimeOf(StatOf(OutPath() / "dos.bin").st_mtim), entry.writeTime);
  EXPECT_EQ(StatOf(OutPath() / "pre-epoch.bin").st_mtim.tv_sec, -86399);
}

TEST_F(PackageArchiveTest, FailedEntryKeepsThePlatformsTimes) {
  ZipEntry broken = DeflatedEntry("broken.bin", TextOfSize(40000, 11));
  broken.stored.resize(broken.stored.size() / 2);
  broken.localExtra = ExtendedTimestamp(1, {1000000000});
  auto archive = OpenEntries({broken});
  ASSERT_NE(archive, nullptr);
  EXPECT_THAT(ExtractAll(*archive), ElementsAre(PackageResult::InflateFailed));
  EXPECT_GT(StatOf(OutPath() / "broken.bin").st_mtim.tv_sec, 1600000000);
}

TEST(PackagePosixPlatform, DosTimeIsLocalToTheMachinesZoneAsItIsNow) {
  // Three hours east of UTC, no daylight saving.
  const TimeZoneOverride zone("UTC-3");
  ScratchDirectory scratch;
  WriteBytes(scratch.Path() / "package.zip", BuildZip({StoredEntry("fw.bin", "x")}).bytes);
  std::unique_ptr<PackageArchive> archive;
  ASSERT_EQ(PackageArchive::Open(scratch.Wide(L"package.zip"), archive), PackageResult::Ok);
  PackageEntry entry;
  ASSERT_EQ(archive->GetEntry(0, entry), PackageResult::Ok);
  // 2021-06-15 10:30:20 local is 07:30:20 UTC.
  EXPECT_EQ(entry.writeTime, FileTimeFromUnixSeconds(1623742220));
  EXPECT_EQ(entry.creationTime, entry.writeTime);
}

}  // namespace
}  // namespace nerova::package::testing
