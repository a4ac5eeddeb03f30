// What Windows sees of unpacked files, and how the package file is shared.
#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "tests/package/package_archive_fixture.h"
#include "update/package_rules.h"

namespace nerova::package::testing {
namespace {

using ::testing::ElementsAre;

FileTime FromWin32(const ::FILETIME& time) { return {time.dwLowDateTime, time.dwHighDateTime}; }

struct Times {
  FileTime creation;
  FileTime access;
  FileTime write;
};

Times TimesOf(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(file, INVALID_HANDLE_VALUE);
  ::FILETIME c{}, a{}, w{};
  EXPECT_TRUE(GetFileTime(file, &c, &a, &w));
  CloseHandle(file);
  return {FromWin32(c), FromWin32(a), FromWin32(w)};
}

TEST_F(PackageArchiveTest, WindowsSeesTheEntrysAttributes) {
  ZipEntry all = StoredEntry("all.bin", "all");
  all.externalAttributes = 0x27;
  ZipEntry unixReadOnly = StoredEntry("unix-ro.bin", "ro");
  unixReadOnly.versionMadeBy = kMadeByUnix;
  unixReadOnly.externalAttributes = UnixMode(0100444);
  ZipEntry plain = StoredEntry("plain.bin", "plain");
  plain.externalAttributes = 0;
  auto archive = OpenEntries({all, unixReadOnly, plain});
  ASSERT_NE(archive, nullptr);
  EXPECT_THAT(ExtractAll(*archive), ElementsAre(PackageResult::Ok, PackageResult::Ok, PackageResult::Ok));
  const DWORD mask = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;
  EXPECT_EQ(GetFileAttributesW(Out(L"all.bin").c_str()) & mask, mask);
  EXPECT_EQ(GetFileAttributesW(Out(L"unix-ro.bin").c_str()) & mask, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE);
  EXPECT_EQ(GetFileAttributesW(Out(L"plain.bin").c_str()) & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN),
            0u);
  EXPECT_EQ(ReadBytes(OutPath() / "all.bin"), "all");
}

TEST_F(PackageArchiveTest, WindowsSeesTheEntrysTimes) {
  ZipEntry stamped = DeflatedEntry("stamped.bin", std::string(40000, 's'));
  stamped.localExtra = ExtendedTimestamp(7, {1500000000, 1400000000, 1300000000});
  auto archive = OpenEntries({stamped, StoredEntry("dos.bin", "d")});
  ASSERT_NE(archive, nullptr);
  EXPECT_THAT(ExtractAll(*archive), ElementsAre(PackageResult::Ok, PackageResult::Ok));
  // Wine keeps no creation time of its own on a Unix file system, so only
  // access and write times are compared.
  const Times stampedTimes = TimesOf(Out(L"stamped.bin"));
  EXPECT_EQ(stampedTimes.write, FileTimeFromUnixSeconds(1500000000));
  EXPECT_EQ(stampedTimes.access, FileTimeFromUnixSeconds(1400000000));
  PackageEntry entry;
  ASSERT_EQ(archive->GetEntry(1, entry), PackageResult::Ok);
  EXPECT_EQ(TimesOf(Out(L"dos.bin")).write, entry.writeTime);
}

TEST_F(PackageArchiveTest, FailedEntryKeepsThePlatformsTimes) {
  ZipEntry broken = DeflatedEntry("broken.bin", TextOfSize(40000, 11));
  broken.stored.resize(broken.stored.size() / 2);
  broken.localExtra = ExtendedTimestamp(1, {1000000000});
  auto archive = OpenEntries({broken});
  ASSERT_NE(archive, nullptr);
  EXPECT_THAT(ExtractAll(*archive), ElementsAre(PackageResult::InflateFailed));
  EXPECT_GT(TimesOf(Out(L"broken.bin")).write.Ticks(), FileTimeFromUnixSeconds(1600000000).Ticks());
}

TEST_F(PackageArchiveTest, PackageMayBeReadButNotChangedWhileOpen) {
  const std::wstring path = WritePackage({StoredEntry("fw.bin", "x")});
  auto archive = Open(path);
  ASSERT_NE(archive, nullptr);
  HANDLE writer = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  EXPECT_EQ(writer, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
  HANDLE reader = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(reader, INVALID_HANDLE_VALUE);
  if (reader != INVALID_HANDLE_VALUE) CloseHandle(reader);

  archive->Close();
  writer = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(writer, INVALID_HANDLE_VALUE);
  if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
}

TEST(PackageWin32Platform, DosTimeIsLocalToTheMachinesZoneAsItIsNow) {
  ScratchDirectory scratch;
  WriteBytes(scratch.Path() / "package.zip", BuildZip({StoredEntry("fw.bin", "x")}).bytes);
  std::unique_ptr<PackageArchive> archive;
  ASSERT_EQ(PackageArchive::Open(scratch.Wide(L"package.zip"), archive), PackageResult::Ok);
  PackageEntry entry;
  ASSERT_EQ(archive->GetEntry(0, entry), PackageResult::Ok);
  // The zone's current bias, in minutes west of UTC, daylight saving included.
  TIME_ZONE_INFORMATION zone{};
  const DWORD kind = GetTimeZoneInformation(&zone);
  LONG bias = zone.Bias;
  if (kind == TIME_ZONE_ID_DAYLIGHT) bias += zone.DaylightBias;
  if (kind == TIME_ZONE_ID_STANDARD) bias += zone.StandardBias;
  // 2021-06-15 10:30:20 local.
  EXPECT_EQ(entry.writeTime, FileTimeFromUnixSeconds(1623753020 + bias * 60));
  EXPECT_EQ(entry.accessTime, entry.writeTime);
}

}  // namespace
}  // namespace nerova::package::testing
