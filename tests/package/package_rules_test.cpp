// The entry rules on their own: names, attributes, times.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/package/zip_builder.h"
#include "update/package_rules.h"

namespace nerova::package {
namespace {

using testing::DosDateTime;
using testing::ExtendedTimestamp;
using testing::ExtraBlock;

std::uint64_t TicksOfUnix(std::int64_t seconds) {
  return static_cast<std::uint64_t>((seconds + 11644473600LL) * 10000000LL);
}

TEST(PackageNames, SanitisingDropsPrefixesSeparatorsAndClimbs) {
  struct Case {
    std::wstring stored;
    std::wstring expected;
  };
  const std::vector<Case> cases = {
      {L"C:/dir/fw.bin", L"dir/fw.bin"},
      {L"C:\\dir\\fw.bin", L"dir\\fw.bin"},
      {L"/abs/fw.bin", L"abs/fw.bin"},
      {L"\\abs\\fw.bin", L"abs\\fw.bin"},
      {L"a/../b.bin", L"b.bin"},
      {L"a\\..\\b.bin", L"b.bin"},
      {L"a/b/../c/fw.bin", L"c/fw.bin"},
      {L"a\\b\\..\\c\\fw.bin", L"c\\fw.bin"},
      {L"sub/", L"sub/"},
      {L"sub\\", L"sub\\"},
      // Mixed separators around the climb, in both orders.
      {L"a\\../b", L"b"},
      {L"a/..\\b", L"b"},
      // Any first character before ":" counts, and prefixes repeat.
      {L"?:x", L"x"},
      {L"C:C:\\/\\x", L"x"},
      {L"\\\\server\\share\\fw.bin", L"server\\share\\fw.bin"},
      {L"//?/C:/fw.bin", L"?/C:/fw.bin"},
      // The first climb found is applied, then the rules start again.
      {L"a/../b/../c", L"c"},
      {L"/../../x", L"x"},
      {L"..\\..\\x", L"x"},
      // Only a drive prefix and separators: nothing is left.
      {L"C:/", L""},
      {L"C:\\/\\", L""},
      {L"", L""},
      // "." components go, with the separator after them; ".." stays for the
      // safety test to refuse.
      {L"./fw/a.bin", L"fw/a.bin"},
      {L".\\fw\\.\\a.bin", L"fw\\a.bin"},
      {L"./", L""},
      {L"a/.", L"a/"},
      {L"./../x", L"x"},
      {L"./..", L".."},
      // What the rules do not touch.
      {L"../x", L"../x"},
      {L"x/..", L"x/.."},
      {L". /x", L". /x"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SanitiseEntryName(c.stored), c.expected) << std::string(c.stored.begin(), c.stored.end());
  }
}

TEST(PackageNames, OnlyNamesWindowsKeepsAsWrittenAreSafe) {
  const std::vector<std::wstring> unsafe = {
      // Climbs, whatever is glued to them.
      L"../x", L"..\\x", L"..", L"x/..", L"a/../../x", L"...", L".../x", L"a/.../b", L"..foo", L"..x\\y",
      L"a\\..b\\c", L"a/..\u00A0/b",
      // "." alone, trailing dots and blanks, empty components inside.
      L".", L"./x", L"a/./b", L"foo..", L"fw.bin.", L"fw.bin ", L". .", L"a/. ./b", L" ", L"a//b", L"a\\/b",
      // Drives, streams, forbidden characters.
      L"a/C:/b", L"a/b:stream", L"C:", L"a<b", L"a>b", L"a\"b", L"a|b", L"a?b", L"a*b", L"a\x01b", L"tab\tname",
      // Devices, with or without an extension.
      L"nul", L"NUL", L"a/nul.txt", L"con", L"prn.log", L"aux", L"COM1", L"lpt9.bin", L"COM\u00B9",
      L"lpt\u00B3", L"con .txt", L"CONIN$", L"conout$", L"a/AUX/b", L"clock$",
  };
  for (const std::wstring& name : unsafe) {
    EXPECT_FALSE(IsSafeEntryName(name)) << std::string(name.begin(), name.end());
  }
  const std::vector<std::wstring> safe = {
      L"fw.bin",   L"a...b",   L"x..y",          L"sub/",           L"sub\\",   L"console",     L"com10",
      L"nul_file", L"COM",     L"lpt",           L"auxiliary.txt",  L" lead",   L"UsbScsiCmd.exe", L"",
      L".hidden",  L"dir\\fw.bin", L"a/b/c/", L"\u56FA\u4EF6.bin",
  };
  for (const std::wstring& name : safe) {
    EXPECT_TRUE(IsSafeEntryName(name)) << std::string(name.begin(), name.end());
  }
}

TEST(PackagePaths, JoinIsLiteralAndNeverCut) {
  EXPECT_EQ(JoinBelow(L"C:\\t\\OLK_1.tmp", L"a/..x/b"), L"C:\\t\\OLK_1.tmp\\a\\..x\\b");
  EXPECT_EQ(JoinBelow(L"C:\\t\\", L"OLK_1.tmp"), L"C:\\t\\OLK_1.tmp");
  EXPECT_EQ(JoinBelow(L"C:\\t", L"sub/"), L"C:\\t\\sub\\");
  const std::wstring directory(200, L'd');
  EXPECT_EQ(JoinBelow(directory, std::wstring(58, L'n'))->size(), kMaxPathUnits);
  EXPECT_EQ(JoinBelow(directory, std::wstring(59, L'n')), std::nullopt);
}

TEST(PackagePaths, LexicalResolutionFoldsLikeWindowsAndErrsTowardsClimbing) {
  EXPECT_EQ(ResolveLexically(L"C:/t//a/./b\\..\\c"), L"C:\\t\\a\\c");
  EXPECT_EQ(ResolveLexically(L"/tmp/out\\x. \\y.."), L"\\tmp\\out\\x\\y");
  EXPECT_EQ(ResolveLexically(L"/tmp/out/../../../.."), L"\\");
  EXPECT_EQ(ResolveLexically(L"C:\\t\\sub\\"), L"C:\\t\\sub\\");
  // Components of dots and blanks alone climb, whatever Windows makes of them.
  EXPECT_EQ(ResolveLexically(L"C:\\t\\out\\...\\x"), L"C:\\t\\x");
  EXPECT_EQ(ResolveLexically(L"C:\\t\\out\\. .\\x"), L"C:\\t\\x");

  EXPECT_TRUE(IsStrictlyBelow(L"C:\\t\\out\\x", L"C:\\t\\out"));
  EXPECT_TRUE(IsStrictlyBelow(L"C:\\t\\out\\x", L"C:\\t\\out\\"));
  EXPECT_FALSE(IsStrictlyBelow(L"C:\\t\\out", L"C:\\t\\out"));
  EXPECT_FALSE(IsStrictlyBelow(L"C:\\t\\out\\", L"C:\\t\\out"));
  EXPECT_FALSE(IsStrictlyBelow(L"C:\\t\\outside\\x", L"C:\\t\\out"));
  EXPECT_FALSE(IsStrictlyBelow(L"C:\\t\\x", L"C:\\t\\out"));
  EXPECT_FALSE(IsStrictlyBelow(L"C:\\t\\x", L""));
}

TEST(PackageNames, Utf8DecodesToWideTextAndStopsAtNul) {
  EXPECT_EQ(DecodeUtf8("fw.bin"), L"fw.bin");
  EXPECT_EQ(DecodeUtf8("caf\xC3\xA9"), L"caf\u00E9");
  EXPECT_EQ(DecodeUtf8("\xE5\x9B\xBA\xE4\xBB\xB6"), L"\u56FA\u4EF6");
  const std::wstring emoji = DecodeUtf8("\xF0\x9F\x93\xA6");
  EXPECT_EQ(emoji, L"\U0001F4E6");
  EXPECT_EQ(Utf16Length(emoji), 2u);
  EXPECT_EQ(DecodeUtf8(std::string("fw.bin\0../../evil", 17)), L"fw.bin");
}

TEST(PackageNames, IllFormedUtf8BecomesReplacementCharactersNeverSeparators) {
  // Overlong forms of "/" and "." must not turn into separators or dots.
  EXPECT_EQ(DecodeUtf8("..\xC0\xAFx"), L"..\uFFFD\uFFFDx");
  EXPECT_EQ(DecodeUtf8("\xE0\x80\xAE"), L"\uFFFD\uFFFD\uFFFD");
  // An encoded surrogate, a value beyond U+10FFFF, a stray continuation byte.
  EXPECT_EQ(DecodeUtf8("\xED\xA0\x80"), L"\uFFFD\uFFFD\uFFFD");
  EXPECT_EQ(DecodeUtf8("\xF4\x90\x80\x80"), L"\uFFFD\uFFFD\uFFFD\uFFFD");
  EXPECT_EQ(DecodeUtf8("a\x80z"), L"a\uFFFDz");
  // A sequence broken off by the next character, and one cut at the end.
  EXPECT_EQ(DecodeUtf8("\xE4\xBBx"), L"\uFFFDx");
  EXPECT_EQ(DecodeUtf8("x\xF0\x9F\x93"), L"x\uFFFD");
  // Every decoded name fits: never more UTF-16 units than bytes.
  const std::string worst(259, '\xFF');
  EXPECT_EQ(Utf16Length(DecodeUtf8(worst)), 259u);
}

TEST(PackageAttributes, DosStyleHostsUseTheAttributeByte) {
  for (std::uint32_t host : {0u, 7u, 11u, 14u}) {
    const std::uint32_t madeBy = host << 8 | 20;
    EXPECT_EQ(AttributesFromHost(madeBy, 0x21), kAttributeReadOnly | kAttributeArchive) << host;
    EXPECT_EQ(AttributesFromHost(madeBy, 0x10), kAttributeDirectory) << host;
    EXPECT_EQ(AttributesFromHost(madeBy, 0x06), kAttributeHidden | kAttributeSystem) << host;
    EXPECT_EQ(AttributesFromHost(madeBy, 0), 0u) << host;
    // Bits beyond the five are never passed on.
    EXPECT_EQ(AttributesFromHost(madeBy, 0xFFFFFFFF),
              kAttributeReadOnly | kAttributeHidden | kAttributeSystem | kAttributeDirectory | kAttributeArchive)
        << host;
  }
}

TEST(PackageAttributes, OtherHostsUseUnixModeBits) {
  using testing::UnixMode;
  for (std::uint32_t host : {3u, 1u, 19u, 255u}) {
    const std::uint32_t madeBy = host << 8 | 30;
    EXPECT_EQ(AttributesFromHost(madeBy, UnixMode(0100644)), kAttributeArchive) << host;
    EXPECT_EQ(AttributesFromHost(madeBy, UnixMode(0100444)), kAttributeReadOnly | kAttributeArchive) << host;
    EXPECT_EQ(AttributesFromHost(madeBy, UnixMode(040755)), kAttributeDirectory | kAttributeArchive) << host;
    // A symbolic link is neither a directory nor anything special here.
    EXPECT_EQ(AttributesFromHost(madeBy, UnixMode(0120777)), kAttributeArchive) << host;
    // DOS bits in the low byte mean nothing for these hosts.
    EXPECT_EQ(AttributesFromHost(madeBy, UnixMode(0100644) | 0x17), kAttributeArchive) << host;
  }
}

TEST(PackageTimes, DosFieldsBecomeCalendarFields) {
  const SystemTime t = SystemTimeFromDos(DosDateTime(2021, 6, 15, 10, 30, 20));
  EXPECT_EQ(t.year, 2021);
  EXPECT_EQ(t.month, 6);
  EXPECT_EQ(t.day, 15);
  EXPECT_EQ(t.hour, 10);
  EXPECT_EQ(t.minute, 30);
  EXPECT_EQ(t.second, 20);
  EXPECT_EQ(t.milliseconds, 0);
  EXPECT_EQ(t.dayOfWeek, 0);
  const SystemTime last = SystemTimeFromDos(0xFFFFFFFF);
  EXPECT_EQ(last.year, 2107);
  EXPECT_EQ(last.month, 15);
  EXPECT_EQ(last.day, 31);
  EXPECT_EQ(last.hour, 31);
  EXPECT_EQ(last.minute, 63);
  EXPECT_EQ(last.second, 62);
}

TEST(PackageTimes, CalendarFieldsBecomeTicksLikeSystemTimeToFileTime) {
  std::uint64_t ticks = 1;
  ASSERT_TRUE(SystemTimeToTicks({1601, 1, 0, 1, 0, 0, 0, 0}, ticks));
  EXPECT_EQ(ticks, 0u);
  ASSERT_TRUE(SystemTimeToTicks({1970, 1, 0, 1, 0, 0, 0, 0}, ticks));
  EXPECT_EQ(ticks, kUnixEpochTicks);
  ASSERT_TRUE(SystemTimeToTicks({2000, 2, 0, 29, 23, 59, 58, 0}, ticks));
  EXPECT_EQ(ticks, TicksOfUnix(951868798));
  ASSERT_TRUE(SystemTimeToTicks({2107, 12, 0, 31, 23, 59, 58, 0}, ticks));
  EXPECT_EQ(ticks, TicksOfUnix(4354819198LL));
  ASSERT_TRUE(SystemTimeToTicks({2021, 6, 0, 15, 10, 30, 20, 5}, ticks));
  EXPECT_EQ(ticks, TicksOfUnix(1623753020) + 50000);

  const std::vector<SystemTime> invalid = {
      {2021, 0, 0, 15, 0, 0, 0, 0},  {2021, 13, 0, 15, 0, 0, 0, 0}, {2021, 6, 0, 0, 0, 0, 0, 0},
      {2021, 6, 0, 31, 0, 0, 0, 0},  {2021, 2, 0, 29, 0, 0, 0, 0},  {2100, 2, 0, 29, 0, 0, 0, 0},
      {2021, 6, 0, 15, 24, 0, 0, 0}, {2021, 6, 0, 15, 0, 60, 0, 0}, {2021, 6, 0, 15, 0, 0, 60, 0},
      {2021, 6, 0, 15, 0, 0, 0, 1000}, {1600, 12, 0, 31, 0, 0, 0, 0},
  };
  for (const SystemTime& t : invalid) {
    EXPECT_FALSE(SystemTimeToTicks(t, ticks)) << t.year << "-" << t.month << "-" << t.day << " " << t.hour << ":"
                                              << t.minute << ":" << t.second << "." << t.milliseconds;
  }
}

TEST(PackageTimes, FixedOffsetTurnsLocalTimeIntoUtc) {
  FileTime utc;
  ASSERT_TRUE(FixedOffsetTime(2 * 3600).LocalToUtc({2021, 6, 0, 15, 10, 30, 20, 0}, utc));
  EXPECT_EQ(utc.Ticks(), TicksOfUnix(1623745820));
  ASSERT_TRUE(FixedOffsetTime(-3 * 3600).LocalToUtc({2021, 6, 0, 15, 10, 30, 20, 0}, utc));
  EXPECT_EQ(utc.Ticks(), TicksOfUnix(1623753020 + 3 * 3600));
  EXPECT_FALSE(FixedOffsetTime(0).LocalToUtc({2021, 2, 0, 30, 0, 0, 0, 0}, utc));
}

TEST(PackageTimes, UnixSecondsBecomeFileTimesInSigned64BitArithmetic) {
  EXPECT_EQ(FileTimeFromUnixSeconds(0).Ticks(), kUnixEpochTicks);
  EXPECT_EQ(FileTimeFromUnixSeconds(1623745820).Ticks(), TicksOfUnix(1623745820));
  EXPECT_EQ(FileTimeFromUnixSeconds(-1).Ticks(), kUnixEpochTicks - 10000000);
  EXPECT_EQ(FileTimeFromUnixSeconds(INT32_MIN).Ticks(), TicksOfUnix(INT32_MIN));
}

class ExtendedTimestampTest : public ::testing::Test {
 protected:
  static std::vector<std::uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }
  EntryTimes Apply(const std::string& field) {
    EntryTimes times{dos, dos, dos};
    const std::vector<std::uint8_t> bytes = Bytes(field);
    ApplyExtendedTimestamp(bytes, times);
    return times;
  }
  const FileTime dos = FileTime::FromTicks(TicksOfUnix(1000000000));
  const FileTime t1 = FileTimeFromUnixSeconds(1600000001);
  const FileTime t2 = FileTimeFromUnixSeconds(1600000002);
  const FileTime t3 = FileTimeFromUnixSeconds(1600000003);
};

TEST_F(ExtendedTimestampTest, FlagsSayWhichTimesFollowInWriteAccessCreationOrder) {
  EntryTimes t = Apply(ExtendedTimestamp(1, {1600000001}));
  EXPECT_EQ(t.write, t1);
  EXPECT_EQ(t.access, dos);
  EXPECT_EQ(t.creation, dos);

  t = Apply(ExtendedTimestamp(7, {1600000001, 1600000002, 1600000003}));
  EXPECT_EQ(t.write, t1);
  EXPECT_EQ(t.access, t2);
  EXPECT_EQ(t.creation, t3);

  t = Apply(ExtendedTimestamp(6, {1600000002, 1600000003}));
  EXPECT_EQ(t.write, dos);
  EXPECT_EQ(t.access, t2);
  EXPECT_EQ(t.creation, t3);

  t = Apply(ExtendedTimestamp(4, {1600000003}));
  EXPECT_EQ(t.write, dos);
  EXPECT_EQ(t.access, dos);
  EXPECT_EQ(t.creation, t3);
}

TEST_F(ExtendedTimestampTest, OtherBlocksAreSkippedAndOnlyTheFirstTimestampCounts) {
  const std::string unix = ExtraBlock(0x7875, std::string("\x01\x04\xE8\x03\x00\x00\x04\xE8\x03\x00\x00", 11));
  EntryTimes t = Apply(unix + ExtendedTimestamp(1, {1600000001}) + ExtendedTimestamp(1, {1600000002}));
  EXPECT_EQ(t.write, t1);
  // A block of 256 bytes or more is skipped as a whole, whatever its data
  // looks like: here a walk that took only the low byte of its size (300,
  // 0x12C) would land on a "UT" block inside it.
  std::string big(300, '\0');
  big.replace(0x2C, 9, ExtendedTimestamp(1, {1600000003}));
  t = Apply(ExtraBlock(0xCAFE, big) + ExtendedTimestamp(1, {1600000001}));
  EXPECT_EQ(t.write, t1);
}

TEST_F(ExtendedTimestampTest, TimesOutsideTheBlockOrTheFieldKeepTheirValue) {
  // Flags announce three times, the field ends after one.
  std::string field = ExtendedTimestamp(7, {1600000001});
  EntryTimes t = Apply(field);
  EXPECT_EQ(t.write, t1);
  EXPECT_EQ(t.access, dos);
  EXPECT_EQ(t.creation, dos);
  // The field ends inside the first time.
  t = Apply(field.substr(0, field.size() - 1));
  EXPECT_EQ(t.write, dos);
  // The block says it is shorter than the field: the next block's bytes are
  // not taken for times.
  t = Apply(field + ExtraBlock(0x7875, std::string(8, '\x7F')));
  EXPECT_EQ(t.write, t1);
  EXPECT_EQ(t.access, dos);
  EXPECT_EQ(t.creation, dos);
  // A block with no room for its flags, a header cut short, an empty field.
  t = Apply(ExtraBlock(0x5455, "") + ExtendedTimestamp(1, {1600000001}));
  EXPECT_EQ(t.write, dos);
  t = Apply(std::string("UT\x05", 3));
  EXPECT_EQ(t.write, dos);
  t = Apply("");
  EXPECT_EQ(t.write, dos);
  // A block size that runs past the end stops the walk.
  t = Apply(std::string("\x01\x00\xFF\xFF" "ab", 6) + ExtendedTimestamp(1, {1600000001}));
  EXPECT_EQ(t.write, dos);
}

TEST(PackagePaths, AbsoluteMeansLeadingSeparatorOrSecondCharacterColon) {
  EXPECT_TRUE(IsAbsolutePath(L"\\x"));
  EXPECT_TRUE(IsAbsolutePath(L"/x"));
  EXPECT_TRUE(IsAbsolutePath(L"C:\\x"));
  EXPECT_TRUE(IsAbsolutePath(L"C:x"));
  EXPECT_TRUE(IsAbsolutePath(L"?:"));
  EXPECT_FALSE(IsAbsolutePath(L""));
  EXPECT_FALSE(IsAbsolutePath(L"x"));
  EXPECT_FALSE(IsAbsolutePath(L"x/y:"));
  EXPECT_FALSE(IsAbsolutePath(L"sub\\fw.bin"));
}

}  // namespace
}  // namespace nerova::package
