// Opening packages, reading their records and unpacking entries, over the
// real file system.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/package/package_archive_fixture.h"
#include "update/package_rules.h"

namespace nerova::package::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

std::uint64_t TicksOfUnix(std::int64_t seconds) {
  return static_cast<std::uint64_t>((seconds + 11644473600LL) * 10000000LL);
}

// 2021-06-15 10:30:20 local, two hours east of UTC.
const FileTime kDosAsUtc = FileTime::FromTicks(TicksOfUnix(1623745820));

TEST_F(PackageArchiveTest, OpenRefusesMissingFilesAndNonArchives) {
  std::unique_ptr<PackageArchive> archive;
  EXPECT_EQ(PackageArchive::Open(scratch.Wide(L"missing.zip"), platform, archive), PackageResult::FileError);
  EXPECT_EQ(archive, nullptr);

  const BuiltZip zip = BuildZip({StoredEntry("fw.bin", "firmware")});
  std::string multiDisk = zip.bytes;
  multiDisk[zip.endOffset + 4] = 1;  // number of this disk
  const std::vector<std::string> refused = {
      "",
      "This is a text file, not a zip archive.\n",
      zip.bytes.substr(0, zip.endOffset + 10),  // end record cut short
      multiDisk,
  };
  WriteBytes(scratch.Path() / "valid.zip", zip.bytes);
  for (const std::string& bytes : refused) {
    // A failed Open leaves no archive, whatever the pointer held before.
    ASSERT_EQ(PackageArchive::Open(scratch.Wide(L"valid.zip"), platform, archive), PackageResult::Ok);
    EXPECT_EQ(PackageArchive::Open(WritePackage(bytes), platform, archive), PackageResult::FileError) << bytes.size();
    EXPECT_EQ(archive, nullptr);
  }
  // A directory is no package either.
  EXPECT_EQ(PackageArchive::Open(scratch.Wide(), platform, archive), PackageResult::FileError);
}

TEST_F(PackageArchiveTest, EmptyArchiveHasASummaryAndNoEntries) {
  auto archive = OpenEntries({});
  ASSERT_NE(archive, nullptr);
  PackageEntry summary;
  summary.index = 77;
  summary.name = L"stale";
  ASSERT_EQ(archive->GetEntry(-1, summary), PackageResult::Ok);
  EXPECT_EQ(summary, PackageEntry{});
  PackageEntry entry;
  EXPECT_EQ(archive->GetEntry(0, entry), PackageResult::BadIndex);
  EXPECT_EQ(archive->GetEntry(-2, entry), PackageResult::BadIndex);
  EXPECT_EQ(archive->ExtractEntry(0, Out(L"x"), Out()), PackageResult::BadIndex);
  EXPECT_EQ(archive->ExtractEntry(-1, Out(L"x"), Out()), PackageResult::BadIndex);
  EXPECT_THAT(files.log, IsEmpty());
}

TEST_F(PackageArchiveTest, SummaryCountsEntriesAndBadIndicesLeaveTheRecordAlone) {
  auto archive = OpenEntries({StoredEntry("a", "1"), StoredEntry("b", "2"), StoredEntry("c", "3")});
  ASSERT_NE(archive, nullptr);
  PackageEntry summary;
  summary.name = L"stale";
  summary.attributes = 0x20;
  summary.writeTime = FileTime::FromTicks(5);
  summary.uncompressedSize = 9;
  ASSERT_EQ(archive->GetEntry(-1, summary), PackageResult::Ok);
  PackageEntry expected;
  expected.index = 3;
  EXPECT_EQ(summary, expected);

  PackageEntry untouched;
  untouched.index = 42;
  untouched.name = L"keep";
  const PackageEntry before = untouched;
  for (std::int32_t bad : {3, 4, -2, INT32_MIN, INT32_MAX}) {
    EXPECT_EQ(archive->GetEntry(bad, untouched), PackageResult::BadIndex) << bad;
    EXPECT_EQ(untouched, before);
  }
  for (std::int32_t bad : {3, -1, -2, INT32_MAX}) {
    EXPECT_EQ(archive->ExtractEntry(bad, Out(L"x"), Out()), PackageResult::BadIndex) << bad;
  }
  EXPECT_THAT(files.log, IsEmpty());
}

TEST_F(PackageArchiveTest, StoredAndDeflatedEntriesUnpackWithTheirSizes) {
  const std::string big = TextOfSize(200000, 7);
  auto archive = OpenEntries({
      StoredEntry("stored.txt", "stored content"),
      DeflatedEntry("deflated.bin", big),
      StoredEntry("empty-stored", ""),
      DeflatedEntry("empty-deflated", ""),
  });
  ASSERT_NE(archive, nullptr);

  PackageEntry entry;
  ASSERT_EQ(archive->GetEntry(1, entry), PackageResult::Ok);
  EXPECT_EQ(entry.index, 1);
  EXPECT_EQ(entry.name, L"deflated.bin");
  EXPECT_EQ(entry.uncompressedSize, big.size());
  EXPECT_EQ(entry.compressedSize, Deflate(big).size());
  EXPECT_LT(entry.compressedSize, entry.uncompressedSize);

  EXPECT_THAT(ExtractAll(*archive), ElementsAre(PackageResult::Ok, PackageResult::Ok, PackageResult::Ok,
                                                PackageResult::Ok));
  EXPECT_EQ(ReadBytes(OutPath() / "stored.txt"), "stored content");
  EXPECT_EQ(ReadBytes(OutPath() / "deflated.bin"), big);
  EXPECT_EQ(ReadBytes(OutPath() / "empty-stored"), "");
  EXPECT_EQ(ReadBytes(OutPath() / "empty-deflated"), "");
}

TEST_F(PackageArchiveTest, AskingTwiceForOneIndexReadsTheHeadersOnce) {
  auto archive = OpenEntries({StoredEntry("a.bin", "1"), StoredEntry("b.bin", "2")});
  ASSERT_NE(archive, nullptr);
  PackageEntry first;
  ASSERT_EQ(archive->GetEntry(1, first), PackageResult::Ok);
  const std::uint64_t reads = *files.packageReads;
  PackageEntry second;
  ASSERT_EQ(archive->GetEntry(1, second), PackageResult::Ok);
  EXPECT_EQ(second, first);
  EXPECT_EQ(*files.packageReads, reads);
  // The summary neither reads nor replaces the cached record.
  PackageEntry summary;
  ASSERT_EQ(archive->GetEntry(-1, summary), PackageResult::Ok);
  ASSERT_EQ(archive->GetEntry(1, second), PackageResult::Ok);
  EXPECT_EQ(second, first);
  EXPECT_EQ(*files.packageReads, reads);
}

TEST_F(PackageArchiveTest, EntriesCanBeAskedForInAnyOrder) {
  auto archive = OpenEntries({StoredEntry("e0", "0"), StoredEntry("e1", "1"), StoredEntry("e2", "2"),
                              StoredEntry("e3", "3")});
  ASSERT_NE(archive, nullptr);
  for (std::int32_t index : {2, 0, 3, 1, 1, 0, 3}) {
    PackageEntry entry;
    ASSERT_EQ(archive->GetEntry(index, entry), PackageResult::Ok);
    EXPECT_EQ(entry.index, index);
    EXPECT_EQ(entry.name, L"e" + std::to_wstring(index));
  }
  // Unpacking goes to the right entry whatever was asked for before.
  PackageEntry entry;
  ASSERT_EQ(archive->GetEntry(3, entry), PackageResult::Ok);
  ASSERT_EQ(archive->ExtractEntry(1, Out(L"one"), Out()), PackageResult::Ok);
  ASSERT_EQ(archive->ExtractEntry(3, Out(L"three"), Out()), PackageResult::Ok);
  ASSERT_EQ(archive->ExtractEntry(0, Out(L"zero"), Out()), PackageResult::Ok);
  EXPECT_EQ(ReadBytes(OutPath() / "one"), "1");
  EXPECT_EQ(ReadBytes(OutPath() / "three"), "3");
  EXPECT_EQ(ReadBytes(OutPath() / "zero"), "0");
}

TEST_F(PackageArchiveTest, MissingDirectoriesAreMadeTopDownBeforeTheFile) {
  auto archive = OpenEntries({StoredEntry("sub/deeper/fw.bin", "payload")});
  ASSERT_NE(archive, nullptr);
  EXPECT_THAT(ExtractAll(*archive), ElementsAre(PackageResult::Ok));
  EXPECT_THAT(files.log, ElementsAre(L"mkdir " + Target(L"sub"), L"mkdir " + Target(L"sub/deeper"),
                                     L"create " + Target(L"sub/deeper/fw.bin")));
  EXPECT_EQ(ReadBytes(OutPath() / "sub" / "deeper" / "fw.bin"), "payload");
}

TEST_F(PackageArchiveTest, BackslashesSeparateDirectoriesToo) {
  auto archive = OpenEntries({StoredEntry("sub\\deeper\\fw.bin", "payload")});
  ASSERT_NE(archive, nullptr);
  PackageEntry entry;
  ASSERT_EQ(archive->GetEntry(0, entry), PackageResult::Ok);
  EXPECT_EQ(entry.name, L"sub\\deeper\\fw.bin");
  ASSERT_EQ(archive->ExtractEntry(0, Out(entry.name), Out()), PackageResult::Ok);
  EXPECT_THAT(ListTree(OutPath()), ElementsAre("sub/", "sub/deeper/", "sub/deeper/fw.bin"));
}

TEST_F(PackageArchiveTest, DirectoryEntriesMakeDirectoriesAndNoFiles) {
  auto archive = OpenEntries({DirectoryEntry("sub/"), DirectoryEntry("sub/deeper/")});
  ASSERT_NE(archive, nullptr);
  PackageEntry entry;
  ASSERT_EQ(archive->GetEntry(0, entry), PackageResult::Ok);
  EXPECT_EQ(entry.attributes, kAttributeDirectory | kAttributeArchive);
  EXPECT_THAT(ExtractAll(*archive), ElementsAre(PackageResult::Ok, PackageResult::Ok));
  EXPECT_THAT(ListTree(OutPath()), ElementsAre("sub/", "sub/deeper/"));
  EXPECT_THAT(Created(), IsEmpty());
}

TEST_F(PackageArchiveTest, DirectoryFlagDecidesNotTheTrailingSeparator) {
  ZipEntry dosDirectory = StoredEntry("plain", "");
  dosDirectory.externalAttributes = 0x10;
  ZipEntry fileWithSlash = StoredEntry("odd/", "");
  fileWithSlash.versionMadeBy = kMadeByUnix;
  fileWithSlash.externalAttributes = UnixMode(0100644);
  auto archive = OpenEntries({dosDirectory, fileWithSlash});
  ASSERT_NE(archive, nullptr);
  EXPECT_THAT(ExtractAll(*archive), ElementsAre(PackageResult::Ok, PackageResult::FileError));
  EXPECT_THAT(ListTree(OutPath()), ElementsAre("odd/", "plain/"));
}

TEST_F(PackageArchiveTest, PackagesOfADirectoryDotUnpackBelowTheirDot) {
  // `bsdtar -C DIR .` stores every name below "./", and the directory itself
  // as "./".
  const auto unixFile = [](std::string name, std::string content) {
    ZipEntry entry = DeflatedEntry(std::move(name), std::move(content));
    entry.versionMadeBy = kMadeByUnix;
    entry.externalAttributes = UnixMode(0100644);
    return entry;
  };
  auto archive = OpenEntries({DirectoryEntry("./"), DirectoryEntry("./fw/"), unixFile("./fw/a.bin", "firmware"),
                              unixFile("./UsbScsiCmd.exe", "tool"), unixFile("./fw/./b.bin", "more"),
                              unixFile("./../../escape.txt", "climbs"), unixFile("./..", "climbs")});
  ASSERT_NE(archive, nullptr);
  std::vector<std::wstring> names;
  for (std::int32_t i = 0; i < 5; ++i) {
    PackageEntry entry;
    EXPECT_EQ(archive->GetEntry(i, entry), PackageResult::Ok) << i;
    names.push_back(entry.name);
  }
  EXPECT_THAT(names, ElementsAre(L"", L"fw/", L"fw/a.bin", L"UsbScsiCmd.exe", L"fw/b.bin"));
  EXPECT_THAT(ExtractAll(*archive),
              ElementsAre(PackageResult::Ok, PackageResult::Ok, PackageResult::Ok, PackageResult::Ok,
                          PackageResult::Ok, PackageResult::CorruptEntry, PackageResult::CorruptEntry));
  EXPECT_THAT(ListTree(OutPath()), ElementsAre("UsbScsiCmd.exe", "fw/", "fw/a.bin", "fw/b.bin"));
  EXPECT_EQ(ReadBytes(OutPath() / "fw" / "a.bin"), "firmware");
  EXPECT_EQ(ReadBytes(OutPath() / "UsbScsiCmd.exe"), "tool");
  EXPECT_THAT(ListTree(scratch.Path()),
              ElementsAre("a/", "a/b/", "a/b/out/", "a/b/out/UsbScsiCmd.exe", "a/b/out/fw/", "a/b/out/fw/a.bin",
                          "a/b/out/fw/b.bin", "package.zip"));
}

TEST_F(PackageArchiveTest, AttributesFollowTheHostThatMadeTheEntry) {
  ZipEntry unixReadOnly = StoredEntry("ro.bin", "ro");
  unixReadOnly.versionMadeBy = kMadeByUnix;
  unixReadOnly.externalAttributes = UnixMode(0100444);
  ZipEntry unixWritable = StoredEntry("rw.bin", "rw");
  unixWritable.versionMadeBy = kMadeByUnix;
  unixWritable.externalAttributes = UnixMode(0100644);
  ZipEntry dos = StoredEntry("dos.bin", "dos");
  dos.externalAttributes = 0x21;
  ZipEntry ntfs = StoredEntry("ntfs.bin", "ntfs");
  ntfs.versionMadeBy = kMadeByNtfs;
  ntfs.externalAttributes = 0x26;
  auto archive = OpenEntries({unixReadOnly, unixWritable, dos, ntfs});
  ASSERT_NE(archive, nullptr);

  const std::uint32_t expected[] = {kAttributeReadOnly | kAttributeArchive, kAttributeArchive,
                                    kAttributeReadOnly | kAttributeArchive,
                                    kAttributeHidden | kAttributeSystem | kAttributeArchive};
  for (std::int32_t i = 0; i < 4; ++i) {
    PackageEntry entry;
    ASSERT_EQ(archive->GetEntry(i, entry), PackageResult::Ok);
    EXPECT_EQ(entry.attributes, expected[i]) << i;
    ASSERT_EQ(archive->ExtractEntry(i, Out(entry.name), Out()), PackageResult::Ok);
    // The record's attributes are the new file's.
    EXPECT_EQ(files.lastAttributes, expected[i]) << i;
  }
  EXPECT_EQ(ReadBytes(OutPath() / "ro.bin"), "ro");
  EXPECT_EQ(ReadBytes(OutPath() / "ntfs.bin"), "ntfs");
}

TEST_F(PackageArchiveTest, DosTimeIsTakenAsLocalAndGivenAsUtc) {
  auto archive = OpenEntries({StoredEntry("fw.bin", "x")});
  ASSERT_NE(archive, nullptr);
  PackageEntry entry;
  ASSERT_EQ(archive->GetEntry(0, entry), PackageResult::Ok);
  EXPECT_EQ(entry.writeTime, kDosAsUtc);
  EXPECT_EQ(entry.accessTime, kDosAsUtc);
  EXPECT_EQ(entry.creationTime, kDosAsUtc);
}

TEST_F(PackageArchiveTest, ExtendedTimestampInTheLocalExtraFieldReplacesTheTimesItHolds) {
  ZipEntry writeOnly = StoredEntry("w.bin", "w");
  writeOnly.localExtra = ExtendedTimestamp(1, {1500000000});
  // The central copy is not looked at.
  writeOnly.centralExtra = ExtendedTimestamp(1, {1400000000});
  ZipEntry all = StoredEntry("all.bin", "a");
  all.localExtra = ExtraBlock(0x7875, std::string("\x01\x04\x00\x00\x00\x00\x04\x00\x00\x00\x00", 11)) +
                   ExtendedTimestamp(7, {1500000001, 1500000002, 1500000003});
  ZipEntry centralOnly = StoredEntry("c.bin", "c");
  centralOnly.centralExtra = ExtendedTimestamp(1, {1400000000});
  auto archive = OpenEntries({writeOnly, all, centralOnly});
  ASSERT_NE(archive, nullptr);

  PackageEntry entry;
  ASSERT_EQ(archive->GetEntry(0, entry), PackageResult::Ok);
  EXPECT_EQ(entry.writeTime, FileTimeFromUnixSeconds(1500000000));
  EXPECT_EQ(entry.accessTime, kDosAsUtc);
  EXPECT_EQ(entry.creationTime, kDosAsUtc);
  ASSERT_EQ(archive->GetEntry(1, entry), PackageResult::Ok);
  EXPECT_EQ(entry.writeTime, FileTimeFromUnixSeconds(1500000001));
  EXPECT_EQ(entry.accessTime, FileTimeFromUnixSeconds(1500000002));
  EXPECT_EQ(entry.creationTime, FileTimeFromUnixSeconds(1500000003));
  ASSERT_EQ(archive->GetEntry(2, entry), PackageResult::Ok);
  EXPECT_EQ(entry.writeTime, kDosAsUtc);
}

TEST_F(PackageArchiveTest, InvalidDosStampGivesTheUnixEpochAndExtractionGoesOn) {
  ZipEntry noMonth = StoredEntry("m0.bin", "m");
  noMonth.dosDateTime = DosDateTime(2021, 0, 15, 10, 0, 0);
  ZipEntry badHour = StoredEntry("h25.bin", "h");
  badHour.dosDateTime = DosDateTime(2021, 6, 15, 25, 0, 0);
  badHour.localExtra = ExtendedTimestamp(1, {1500000000});
  ZipEntry zero = StoredEntry("zero.bin", "z");
  zero.dosDateTime = 0;
  auto archive = OpenEntries({noMonth, badHour, zero});
  ASSERT_NE(archive, nullptr);
  const FileTime epoch = FileTime::FromTicks(kUnixEpochTicks);

  PackageEntry entry;
  ASSERT_EQ(archive->GetEntry(0, entry), PackageResult::Ok);
  EXPECT_EQ(entry.writeTime, epoch);
  EXPECT_EQ(entry.accessTime, epoch);
  EXPECT_EQ(entry.creationTime, epoch);
  ASSERT_EQ(archive->GetEntry(1, entry), PackageResult::Ok);
  EXPECT_EQ(entry.writeTime, FileTimeFromUnixSeconds(1500000000));
  EXPECT_EQ(entry.accessTime, epoch);
  ASSERT_EQ(archive->GetEntry(2, entry), PackageResult::Ok);
  EXPECT_EQ(entry.creationTime, epoch);
  EXPECT_THAT(ExtractAll(*archive), ElementsAre(PackageResult::Ok, PackageResult::Ok, PackageResult::Ok));
  EXPECT_EQ(ReadBytes(OutPath() / "h25.bin"), "h");
}

TEST_F(PackageArchiveTest, LaterEntryOfTheSameNameReplacesTheEarlierFile) {
  auto archive = OpenEntries({StoredEntry("fw.bin", "first version, longer"), DeflatedEntry("fw.bin", "second")});
  ASSERT_NE(archive, nullptr);
  EXPECT_THAT(ExtractAll(*archive), ElementsAre(PackageResult::Ok, PackageResult::Ok));
  EXPECT_EQ(ReadBytes(OutPath() / "fw.bin"), "second");
}

TEST_F(PackageArchiveTest, ReadOnlyFileIsNotReplacedByALaterEntry) {
  {
    // Wine run by root replaces read-only files; Windows and the POSIX
    // platform do not.
    const std::wstring probe = scratch.Wide(L"read-only-probe");
    ASSERT_NE(files.CreateOutput(probe, kAttributeReadOnly), nullptr);
    if (files.CreateOutput(probe, kAttributeArchive) != nullptr) {
      GTEST_SKIP() << "this platform replaces read-only files";
    }
  }
  ZipEntry readOnly = StoredEntry("fw.bin", "read-only original");
  readOnly.externalAttributes = 0x21;
  ZipEntry secondReadOnly = readOnly;
  secondReadOnly.plain = secondReadOnly.stored = "second";
  auto archive = OpenEntries({readOnly, StoredEntry("fw.bin", "replacement"), secondReadOnly});
  ASSERT_NE(archive, nullptr);
  EXPECT_THAT(ExtractAll(*archive), ElementsAre(PackageResult::Ok, PackageResult::FileError, PackageResult::FileError));
  EXPECT_EQ(ReadBytes(OutPath() / "fw.bin"), "read-only original");
}

TEST_F(PackageArchiveTest, OnlyStoredAndDeflatedEntriesAreRead) {
  ZipEntry bzip2 = StoredEntry("bzip2.bin", "BZh91AY&SY");
  bzip2.method = 12;
  ZipEntry lzma = StoredEntry("lzma.bin", "data");
  lzma.method = 14;
  ZipEntry shrunk = StoredEntry("shrunk.bin", "data");
  shrunk.method = 1;
  auto archive = OpenEntries({bzip2, StoredEntry("ok.bin", "fine"), lzma, shrunk});
  ASSERT_NE(archive, nullptr);
  PackageEntry entry;
  EXPECT_EQ(archive->GetEntry(0, entry), PackageResult::CorruptEntry);
  EXPECT_EQ(archive->ExtractEntry(0, Out(L"bzip2.bin"), Out()), PackageResult::CorruptEntry);
  EXPECT_THAT(ExtractAll(*archive), ElementsAre(PackageResult::CorruptEntry, PackageResult::Ok,
                                                PackageResult::CorruptEntry, PackageResult::CorruptEntry));
  EXPECT_THAT(Created(), ElementsAre(Target(L"ok.bin")));
}

TEST_F(PackageArchiveTest, LocalHeaderThatDisagreesWithTheCentralRecordIsCorrupt) {
  ZipEntry method = DeflatedEntry("method.bin", "data data data");
  method.localMethod = 0;
  ZipEntry crc = StoredEntry("crc.bin", "data");
  crc.localCrc = 0x12345678;
  ZipEntry nameLength = StoredEntry("name.bin", "data");
  nameLength.localName = "name.binx";
  ZipEntry signature = StoredEntry("signature.bin", "data");
  signature.localSignature = 0x08074b50;
  // With a data descriptor (flag 8) the local CRC and sizes may be zero.
  ZipEntry described = StoredEntry("described.bin", "data");
  described.flags = 0x0008;
  described.localCrc = 0;
  auto archive = OpenEntries({method, crc, nameLength, signature, described});
  ASSERT_NE(archive, nullptr);
  EXPECT_THAT(ExtractAll(*archive),
              ElementsAre(PackageResult::CorruptEntry, PackageResult::CorruptEntry, PackageResult::CorruptEntry,
                          PackageResult::CorruptEntry, PackageResult::Ok));
  EXPECT_THAT(Created(), ElementsAre(Target(L"described.bin")));
}

TEST_F(PackageArchiveTest, LocalHeaderOutsideTheFileIsCorrupt) {
  BuiltZip zip = BuildZip({StoredEntry("fw.bin", "data"), StoredEntry("ok.bin", "fine")});
  // The first central record's local header offset points past the end.
  zip.bytes[zip.centralOffsets[0] + 42 + 3] = '\x7F';
  auto archive = Open(WritePackage(zip.bytes));
  ASSERT_NE(archive, nullptr);
  EXPECT_THAT(ExtractAll(*archive), ElementsAre(PackageResult::CorruptEntry, PackageResult::Ok));
}

TEST_F(PackageArchiveTest, LocalExtraFieldThatRunsPastTheFileCannotBeRead) {
  ZipEntry entry = StoredEntry("fw.bin", "data");
  entry.localExtraLength = 0xFFFF;
  auto archive = OpenEntries({StoredEntry("ok.bin", "fine"), entry});
  ASSERT_NE(archive, nullptr);
  PackageEntry record;
  record.name = L"unchanged";
  EXPECT_EQ(archive->GetEntry(1, record), PackageResult::ReadFailed);
  EXPECT_EQ(record.name, L"unchanged");
  EXPECT_THAT(ExtractAll(*archive), ElementsAre(PackageResult::Ok, PackageResult::ReadFailed));
  EXPECT_THAT(Created(), ElementsAre(Target(L"ok.bin")));
}

TEST_F(PackageArchiveTest, StoredNamesOf260BytesOrMoreAreRefusedNotCut) {
  const std::string longest(259, 'n');
  auto archive = OpenEntries({StoredEntry(longest, "fits"), StoredEntry(std::string(260, 'n'), "too long"),
                              StoredEntry(std::string(1000, 'n'), "far too long"), StoredEntry("after", "ok")});
  ASSERT_NE(archive, nullptr);
  PackageEntry entry;
  ASSERT_EQ(archive->GetEntry(0, entry), PackageResult::Ok);
  EXPECT_EQ(entry.name, std::wstring(259, L'n'));
  EXPECT_EQ(archive->GetEntry(1, entry), PackageResult::CorruptEntry);
  EXPECT_EQ(archive->GetEntry(2, entry), PackageResult::CorruptEntry);
  ASSERT_EQ(archive->GetEntry(3, entry), PackageResult::Ok);
  EXPECT_EQ(entry.name, L"after");
  EXPECT_EQ(archive->ExtractEntry(1, Out(L"long"), Out()), PackageResult::CorruptEntry);
}

TEST_F(PackageArchiveTest, DataThatEndsEarlyOrDoesNotInflateFails) {
  const std::string content = TextOfSize(50000, 3);
  ZipEntry shortStored = StoredEntry("short-stored.bin", content);
  shortStored.stored = content.substr(0, 20000);
  ZipEntry cutDeflate = DeflatedEntry("cut-deflate.bin", content);
  cutDeflate.stored.resize(cutDeflate.stored.size() / 2);
  ZipEntry garbage = DeflatedEntry("garbage.bin", content);
  garbage.stored = std::string(300, '\xFF');
  // A complete deflate stream that holds less than the header announces.
  ZipEntry endsEarly = DeflatedEntry("ends-early.bin", content);
  endsEarly.uncompressedSize = static_cast<std::uint32_t>(content.size() + 1000);
  // More data than announced: the announced size is what is written.
  ZipEntry longer = DeflatedEntry("longer.bin", content);
  longer.uncompressedSize = 1000;
  auto archive = OpenEntries({shortStored, cutDeflate, garbage, endsEarly, longer});
  ASSERT_NE(archive, nullptr);
  EXPECT_THAT(ExtractAll(*archive),
              ElementsAre(PackageResult::InflateFailed, PackageResult::InflateFailed, PackageResult::InflateFailed,
                          PackageResult::InflateFailed, PackageResult::Ok));
  // What was written before the failure stays.
  EXPECT_EQ(ReadBytes(OutPath() / "short-stored.bin"), content.substr(0, 20000));
  EXPECT_EQ(ReadBytes(OutPath() / "ends-early.bin"), content);
  EXPECT_EQ(ReadBytes(OutPath() / "longer.bin"), content.substr(0, 1000));
}

TEST_F(PackageArchiveTest, EncryptedEntryFailsItsPasswordTestAndLeavesAnEmptyFile) {
  ZipEntry encrypted = StoredEntry("secret.bin", std::string(12, '\x5A') + "ciphertext");
  encrypted.flags = 0x0001;
  auto archive = OpenEntries({encrypted});
  ASSERT_NE(archive, nullptr);
  EXPECT_THAT(ExtractAll(*archive), ElementsAre(PackageResult::PasswordFailed));
  EXPECT_EQ(ReadBytes(OutPath() / "secret.bin"), "");
}

TEST_F(PackageArchiveTest, FailedWriteStopsTheEntry) {
  const std::string content = TextOfSize(50000, 5);
  auto archive = OpenEntries({DeflatedEntry("fw.bin", content)});
  ASSERT_NE(archive, nullptr);
  files.writeBudget = 16384;
  EXPECT_THAT(ExtractAll(*archive), ElementsAre(PackageResult::WriteFailed));
  EXPECT_EQ(ReadBytes(OutPath() / "fw.bin"), content.substr(0, 16384));
}

TEST_F(PackageArchiveTest, CentralDirectoryThatEndsEarlyMakesLaterEntriesCorrupt) {
  ZipLayout layout;
  layout.announcedCount = 5;
  // Entries large enough for five central records to fit in the file.
  auto archive = OpenEntries({StoredEntry("e0", TextOfSize(200, 1)), StoredEntry("e1", TextOfSize(200, 2))}, layout);
  ASSERT_NE(archive, nullptr);
  EXPECT_THAT(ExtractAll(*archive), ElementsAre(PackageResult::Ok, PackageResult::Ok, PackageResult::CorruptEntry,
                                                PackageResult::CorruptEntry, PackageResult::CorruptEntry));
  // The readable part stays readable, going back and forth.
  PackageEntry entry;
  EXPECT_EQ(archive->GetEntry(4, entry), PackageResult::CorruptEntry);
  ASSERT_EQ(archive->GetEntry(0, entry), PackageResult::Ok);
  EXPECT_EQ(entry.name, L"e0");
  ASSERT_EQ(archive->GetEntry(1, entry), PackageResult::Ok);
  EXPECT_EQ(entry.name, L"e1");
}

TEST_F(PackageArchiveTest, BrokenCentralRecordCannotBeSteppedPast) {
  BuiltZip zip = BuildZip({StoredEntry("e0", "0"), StoredEntry("e1", "1"), StoredEntry("e2", "2")});
  zip.bytes[zip.centralOffsets[1]] = 'X';
  auto archive = Open(WritePackage(zip.bytes));
  ASSERT_NE(archive, nullptr);
  EXPECT_THAT(ExtractAll(*archive),
              ElementsAre(PackageResult::Ok, PackageResult::CorruptEntry, PackageResult::CorruptEntry));
  PackageEntry entry;
  ASSERT_EQ(archive->GetEntry(0, entry), PackageResult::Ok);
  EXPECT_EQ(archive->GetEntry(2, entry), PackageResult::CorruptEntry);
}

TEST_F(PackageArchiveTest, Zip64CountBeyondWhatTheFileCanHoldIsBounded) {
  BuiltZip zip = BuildZip({StoredEntry("e0", "0"), StoredEntry("e1", "1")});
  std::string bytes = zip.bytes.substr(0, zip.endOffset);
  const std::uint64_t centralStart = zip.centralOffsets[0];
  const std::uint64_t centralSize = zip.endOffset - centralStart;
  const std::uint64_t record = bytes.size();
  const auto put = [&bytes](std::uint64_t value, int size) {
    for (int i = 0; i < size; ++i) bytes += static_cast<char>((value >> (8 * i)) & 0xFF);
  };
  const std::uint64_t claimed = 1ULL << 40;
  put(0x06064b50, 4);
  put(44, 8);
  put(45, 2);
  put(45, 2);
  put(0, 4);
  put(0, 4);
  put(claimed, 8);
  put(claimed, 8);
  put(centralSize, 8);
  put(centralStart, 8);
  put(0x07064b50, 4);
  put(0, 4);
  put(record, 8);
  put(1, 4);
  put(0x06054b50, 4);
  put(0, 4);
  put(0xFFFF, 2);
  put(0xFFFF, 2);
  put(0xFFFFFFFF, 4);
  put(0xFFFFFFFF, 4);
  put(0, 2);
  auto archive = Open(WritePackage(bytes));
  ASSERT_NE(archive, nullptr);
  PackageEntry summary;
  ASSERT_EQ(archive->GetEntry(-1, summary), PackageResult::Ok);
  EXPECT_GE(summary.index, 2);
  EXPECT_LE(static_cast<std::uint64_t>(summary.index), bytes.size() / 46);
  const std::vector<PackageResult> results = ExtractAll(*archive);
  ASSERT_EQ(results.size(), static_cast<std::size_t>(summary.index));
  EXPECT_EQ(results[0], PackageResult::Ok);
  EXPECT_EQ(results[1], PackageResult::Ok);
  for (std::size_t i = 2; i < results.size(); ++i) EXPECT_EQ(results[i], PackageResult::CorruptEntry) << i;
}

TEST_F(PackageArchiveTest, Zip64SizesAreReadAsOnWindows) {
  // Central sizes of 0xFFFFFFFF say the real ones are in the zip64 block;
  // the local header gives them plainly and must agree.
  ZipEntry stored = StoredEntry("fw.bin", "zip64 sizes");
  stored.zip64Sizes = true;
  ZipEntry deflated = DeflatedEntry("big.bin", TextOfSize(50000, 3));
  deflated.zip64Sizes = true;
  auto archive = OpenEntries({stored, deflated});
  ASSERT_NE(archive, nullptr);
  PackageEntry entry;
  ASSERT_EQ(archive->GetEntry(1, entry), PackageResult::Ok);
  EXPECT_EQ(entry.uncompressedSize, 50000u);
  EXPECT_EQ(entry.compressedSize, deflated.stored.size());
  EXPECT_THAT(ExtractAll(*archive), ElementsAre(PackageResult::Ok, PackageResult::Ok));
  EXPECT_EQ(ReadBytes(OutPath() / "fw.bin"), "zip64 sizes");
  EXPECT_EQ(ReadBytes(OutPath() / "big.bin"), TextOfSize(50000, 3));
}

TEST_F(PackageArchiveTest, BytesBeforeTheArchiveAreAllowed) {
  ZipLayout layout;
  layout.prefix = std::string(5000, 'S');
  auto archive = OpenEntries({DeflatedEntry("fw.bin", TextOfSize(30000, 9)), StoredEntry("UsbScsiCmd.exe", "MZ")},
                             layout);
  ASSERT_NE(archive, nullptr);
  EXPECT_THAT(ExtractAll(*archive), ElementsAre(PackageResult::Ok, PackageResult::Ok));
  EXPECT_EQ(ReadBytes(OutPath() / "fw.bin"), TextOfSize(30000, 9));
}

TEST_F(PackageArchiveTest, NamesAreUtf8WhateverTheirFlagSays) {
  ZipEntry flagged = StoredEntry("\xE5\x9B\xBA\xE4\xBB\xB6/fw-\xC3\xA9.bin", "cjk");
  flagged.flags = 0x0800;
  ZipEntry unflagged = StoredEntry("caf\xC3\xA9-\xF0\x9F\x93\xA6.txt", "emoji");
  ZipEntry illFormed = StoredEntry("fw\xFF.bin", "replaced");
  auto archive = OpenEntries({flagged, unflagged, illFormed});
  ASSERT_NE(archive, nullptr);
  PackageEntry entry;
  ASSERT_EQ(archive->GetEntry(0, entry), PackageResult::Ok);
  EXPECT_EQ(entry.name, L"\u56FA\u4EF6/fw-\u00E9.bin");
  ASSERT_EQ(archive->GetEntry(1, entry), PackageResult::Ok);
  EXPECT_EQ(entry.name, L"caf\u00E9-\U0001F4E6.txt");
  ASSERT_EQ(archive->GetEntry(2, entry), PackageResult::Ok);
  EXPECT_EQ(entry.name, L"fw\uFFFD.bin");
  EXPECT_THAT(ExtractAll(*archive), ElementsAre(PackageResult::Ok, PackageResult::Ok, PackageResult::Ok));
  EXPECT_EQ(ReadBytes(PathOf(Out(L"\u56FA\u4EF6/fw-\u00E9.bin"))), "cjk");
  EXPECT_EQ(ReadBytes(PathOf(Out(L"caf\u00E9-\U0001F4E6.txt"))), "emoji");
  EXPECT_EQ(ReadBytes(PathOf(Out(L"fw\uFFFD.bin"))), "replaced");
}

TEST_F(PackageArchiveTest, SymbolicLinkEntriesBecomePlainFiles) {
  ZipEntry link = StoredEntry("link", "../../../../etc/passwd");
  link.versionMadeBy = kMadeByUnix;
  link.externalAttributes = UnixMode(0120777);
  auto archive = OpenEntries({link, StoredEntry("link", "overwritten through the link?")});
  ASSERT_NE(archive, nullptr);
  PackageEntry entry;
  ASSERT_EQ(archive->GetEntry(0, entry), PackageResult::Ok);
  EXPECT_EQ(entry.attributes, kAttributeArchive);
  ASSERT_THAT(ExtractAll(*archive), ElementsAre(PackageResult::Ok, PackageResult::Ok));
  EXPECT_FALSE(fs::is_symlink(OutPath() / "link"));
  EXPECT_TRUE(fs::is_regular_file(OutPath() / "link"));
  EXPECT_EQ(ReadBytes(OutPath() / "link"), "overwritten through the link?");
}

TEST_F(PackageArchiveTest, NoEntryNameReachesOutsideTheUnpackingDirectory) {
  struct Case {
    std::string stored;
    // Where the entry lands below the unpacking directory; empty: refused.
    std::string lands;
  };
  const std::vector<Case> cases = {
      {"../escape1.txt", ""},
      {"..\\escape2.txt", ""},
      {"../../up3.txt", "up3.txt"},
      {"../../../escape4.txt", ""},
      {"a/../../escape5.txt", ""},
      {"a\\..\\..\\escape6.txt", ""},
      {"a/..\\../up7.txt", "up7.txt"},
      {"..", ""},
      {"../", ""},
      {"..\\..\\..\\..\\..\\..\\up8.txt", "up8.txt"},
      {"/../escape9.txt", ""},
      {"C:/../escape10.txt", ""},
      {"C:..\\escape11.txt", ""},
      {"C:/escape12/../../x", ""},
      {"\\\\?\\C:\\escape13.txt", ""},
      {"\\\\.\\C:\\escape14.txt", ""},
      {"//server/share/../../escape15", ""},
      {"....//escape16.txt", ""},
      {".../escape17.txt", ""},
      {"..././escape18.txt", ""},
      {". ./escape19.txt", ""},
      {".. /escape20.txt", ""},
      {"sub/.. /../up21.txt", "up21.txt"},
      {"sub/../../../up22", "up22"},
      {"sub/..", ""},
      {"a/b/../../../../escape23", ""},
      {"x/C:/escape24.txt", ""},
      {"a/b/../../escape25.txt", ""},
      {"dir/nul", ""},
      {"COM1.txt", ""},
      {"aux/fw.bin", ""},
      {"\\\\.\\COM1", ""},
      {"/etc/inside1.txt", "etc/inside1.txt"},
      {"C:\\Windows\\inside2.txt", "Windows/inside2.txt"},
      {"\\inside3.txt", "inside3.txt"},
      {"C:inside4.txt", "inside4.txt"},
      {"a/../inside5.txt", "inside5.txt"},
      {"...x/escape26.txt", ""},
      // ".." runs glued to other characters, which Wine's path functions
      // take for climbs, and names Windows would not keep as written.
      {"..x\\..\\..\\escape27.txt", ""},
      {"a\\..b\\..\\..\\escape28.txt", ""},
      {"..\\..x\\escape29.txt", ""},
      {"sub\\..evil\\escape30.txt", ""},
      {"sub\\x..\\escape31.txt", ""},
      {"fw.bin:stream", ""},
      {"escape32.txt.", ""},
      {"sub\\\\escape33.txt", ""},
      {"x..y/inside6.txt", "x..y/inside6.txt"},
      {"./../inside7.txt", "inside7.txt"},
  };
  std::vector<ZipEntry> entries;
  std::vector<std::string> expectedTree;
  for (const Case& c : cases) {
    entries.push_back(StoredEntry(c.stored, "payload of " + c.stored));
    if (c.lands.empty()) continue;
    expectedTree.push_back(c.lands);
    if (const std::size_t slash = c.lands.find('/'); slash != std::string::npos) {
      expectedTree.push_back(c.lands.substr(0, slash + 1));
    }
  }
  std::sort(expectedTree.begin(), expectedTree.end());
  auto archive = OpenEntries(entries);
  ASSERT_NE(archive, nullptr);
  const std::vector<PackageResult> results = ExtractAll(*archive);
  ASSERT_EQ(results.size(), cases.size());
  for (std::size_t i = 0; i < cases.size(); ++i) {
    EXPECT_EQ(results[i], cases[i].lands.empty() ? PackageResult::CorruptEntry : PackageResult::Ok)
        << cases[i].stored;
    if (!cases[i].lands.empty()) {
      EXPECT_EQ(ReadBytes(OutPath() / cases[i].lands), "payload of " + cases[i].stored) << cases[i].stored;
    }
  }
  EXPECT_EQ(ListTree(OutPath()), expectedTree);
  // Nothing was written anywhere else, not even next to the unpacking
  // directory or above it.
  EXPECT_EQ(ListTree(scratch.Path()).size(), expectedTree.size() + 4);
  for (const std::string& path : ListTree(scratch.Path())) {
    EXPECT_TRUE(path == "package.zip" || path == "a/" || path == "a/b/" || path.rfind("a/b/out/", 0) == 0) << path;
  }
  for (const std::wstring& created : Created()) {
    EXPECT_EQ(created.rfind(Out() + L"\\", 0), 0u) << std::string(created.begin(), created.end());
  }
}

TEST_F(PackageArchiveTest, RelativeTargetsAreTakenAgainstTheDirectoryCurrentAtOpen) {
  const std::wstring path = WritePackage({StoredEntry("fw.bin", "relative"), DirectoryEntry("made/")});
  const fs::path before = fs::current_path();
  fs::current_path(scratch.Path());
  const std::wstring current = WideOf(fs::current_path());
  std::unique_ptr<PackageArchive> archive;
  const PackageResult opened = PackageArchive::Open(path, platform, archive);
  fs::create_directories(scratch.Path() / "elsewhere");
  fs::current_path(scratch.Path() / "elsewhere");
  const PackageResult file = opened == PackageResult::Ok ? archive->ExtractEntry(0, L"rel/fw.bin", current)
                                                         : PackageResult::FileError;
  const PackageResult directory = opened == PackageResult::Ok ? archive->ExtractEntry(1, L"rel\\made", current)
                                                              : PackageResult::FileError;
  fs::current_path(before);
  ASSERT_EQ(opened, PackageResult::Ok);
  EXPECT_EQ(file, PackageResult::Ok);
  EXPECT_EQ(directory, PackageResult::Ok);
  EXPECT_EQ(ReadBytes(scratch.Path() / "rel" / "fw.bin"), "relative");
  EXPECT_TRUE(fs::is_directory(scratch.Path() / "rel" / "made"));
  EXPECT_THAT(ListTree(scratch.Path() / "elsewhere"), IsEmpty());
  // The base is the current directory with "/" after it.
  EXPECT_THAT(Created(), ElementsAre(current + L"/rel/fw.bin"));
}

TEST_F(PackageArchiveTest, FullPathsOver259UnitsAreRefusedNotCut) {
  auto archive = OpenEntries({StoredEntry("fw.bin", "data")});
  ASSERT_NE(archive, nullptr);
  const std::wstring directory = scratch.Wide(std::wstring(100, L'd')) + L"/";
  const std::size_t room = kMaxPathUnits - Utf16Length(directory);
  ASSERT_GT(room, 10u);
  ASSERT_LT(room, 200u);
  fs::create_directories(PathOf(directory));

  EXPECT_EQ(archive->ExtractEntry(0, directory + std::wstring(room + 1, L'f'), directory), PackageResult::FileError);
  EXPECT_THAT(files.log, IsEmpty());
  EXPECT_EQ(archive->ExtractEntry(0, directory + std::wstring(room, L'f'), directory), PackageResult::Ok);
  EXPECT_EQ(ReadBytes(PathOf(directory + std::wstring(room, L'f'))), "data");
  // Characters outside the basic plane count two units each.
  std::wstring astral;
  for (std::size_t i = 0; i < room / 2 + 1; ++i) astral += L"\U0001F4E6";
  EXPECT_EQ(archive->ExtractEntry(0, directory + astral, directory), PackageResult::FileError);
}

TEST_F(PackageArchiveTest, CloseReleasesTheArchive) {
  auto archive = OpenEntries({StoredEntry("fw.bin", "data")});
  ASSERT_NE(archive, nullptr);
  ASSERT_EQ(archive->ExtractEntry(0, Out(L"fw.bin"), Out()), PackageResult::Ok);
  archive->Close();
  PackageEntry entry;
  EXPECT_EQ(archive->GetEntry(0, entry), PackageResult::BadIndex);
  EXPECT_EQ(archive->ExtractEntry(0, Out(L"again.bin"), Out()), PackageResult::BadIndex);
  ASSERT_EQ(archive->GetEntry(-1, entry), PackageResult::Ok);
  EXPECT_EQ(entry.index, 0);
  archive->Close();
  // The package file is free again.
  std::error_code error;
  EXPECT_TRUE(fs::remove(scratch.Path() / "package.zip", error)) << error.message();
}

TEST_F(PackageArchiveTest, DirectoryChainMakesTheBaseAndEveryLevelOnce) {
  const std::wstring base = scratch.Wide(L"base") + L"/";
  MakeDirectoryChain(files, base, L"one/two\\three/", scratch.Wide());
  EXPECT_THAT(files.log, ElementsAre(L"mkdir " + scratch.Wide(L"base"), L"mkdir " + base + L"one",
                                     L"mkdir " + base + L"one/two", L"mkdir " + base + L"one/two\\three"));
  EXPECT_TRUE(fs::is_directory(scratch.Path() / "base" / "one" / "two" / "three"));
  files.log.clear();
  MakeDirectoryChain(files, base, L"one/two\\three/", scratch.Wide());
  EXPECT_THAT(files.log, IsEmpty());
  MakeDirectoryChain(files, std::nullopt, L"", scratch.Wide());
  MakeDirectoryChain(files, base, L"", scratch.Wide());
  EXPECT_THAT(files.log, IsEmpty());
}

TEST_F(PackageArchiveTest, DirectoryChainMakesNothingOutsideItsDirectory) {
  const std::wstring base = scratch.Wide(L"base") + L"/";
  MakeDirectoryChain(files, base, L"../outside/x", scratch.Wide(L"base"));
  MakeDirectoryChain(files, std::nullopt, scratch.Wide(L"elsewhere/x"), scratch.Wide(L"base"));
  // The directory itself is no level below it either.
  MakeDirectoryChain(files, base, L"", scratch.Wide(L"base"));
  EXPECT_THAT(files.log, IsEmpty());
  EXPECT_THAT(ListTree(scratch.Path()), ElementsAre("a/", "a/b/", "a/b/out/"));
}

TEST_F(PackageArchiveTest, DirectoryChainLeavesOutLevelsThatWouldNeedACut) {
  const std::wstring base = scratch.Wide() + L"/";
  const std::wstring first(100, L'x');
  const std::wstring second(kMaxPathUnits - Utf16Length(base) - first.size(), L'y');
  MakeDirectoryChain(files, base, first + L"/" + second, scratch.Wide());
  EXPECT_THAT(files.log, ElementsAre(L"mkdir " + base + first));
  EXPECT_THAT(ListTree(scratch.Path()), ElementsAre("a/", "a/b/", "a/b/out/", std::string(100, 'x') + "/"));
}

TEST_F(PackageArchiveTest, TargetsOutsideTheirDirectoryAreRefusedBeforeAnythingIsMade) {
  auto archive = OpenEntries({StoredEntry("fw.bin", "data"), DirectoryEntry("sub/")});
  ASSERT_NE(archive, nullptr);
  const std::wstring out = Out();
  for (const std::wstring& target : {out + L"\\..\\fw.bin", out + L"\\sub\\..\\..\\fw.bin", out + L"side\\fw.bin",
                                     scratch.Wide(L"fw.bin"), out + L"\\", out}) {
    EXPECT_EQ(archive->ExtractEntry(0, target, out), PackageResult::CorruptEntry) << std::string(target.begin(), target.end());
  }
  EXPECT_EQ(archive->ExtractEntry(1, out + L"\\..\\sub", out), PackageResult::CorruptEntry);
  EXPECT_EQ(archive->ExtractEntry(1, out, out), PackageResult::CorruptEntry);
  EXPECT_THAT(files.log, IsEmpty());
  EXPECT_THAT(ListTree(scratch.Path()), ElementsAre("a/", "a/b/", "a/b/out/", "package.zip"));
  // The same targets below the directory are unpacked.
  EXPECT_EQ(archive->ExtractEntry(0, out + L"\\deep\\fw.bin", out), PackageResult::Ok);
  EXPECT_EQ(ReadBytes(OutPath() / "deep" / "fw.bin"), "data");
}

TEST_F(PackageArchiveTest, ThePlatformResolvesPathsAsTheLexicalRuleDoes) {
  // What a create call with the path would reach, for the platform the
  // tests run on: GetFullPathNameW under Wine, the lexical rule natively.
  const std::wstring root = *files.FullPath(scratch.Wide());
  for (const std::wstring suffix : {L"/a/./b", L"/a//b", L"/a/../b", L"\\a\\b\\..\\..\\c", L"/a/b.", L"/a/b ",
                                     L"/a/b/", L"/../x"}) {
    const std::optional<std::wstring> resolved = files.FullPath(scratch.Wide() + suffix);
    ASSERT_TRUE(resolved);
    EXPECT_EQ(*resolved, ResolveLexically(root + suffix)) << std::string(suffix.begin(), suffix.end());
  }
}

}  // namespace
}  // namespace nerova::package::testing
