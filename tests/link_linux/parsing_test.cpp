// The pure parts of the Linux stack: descriptor parsing against hostile
// input, the errno translation and the locale's code page.
#include <gtest/gtest.h>

#include <cerrno>

#include "link/linux/code_page.h"
#include "link/linux/errno_status.h"
#include "link/linux/uvc_descriptors.h"
#include "tests/link_linux/linux_fixtures.h"

namespace nerova::link::linux_stack {
namespace {

using testing::Blob;

std::vector<UvcEntity> Parse(const Blob& blob, std::uint8_t interfaceNumber = 0) {
  return ParseVideoControlEntities(
      std::string_view(reinterpret_cast<const char*>(blob.data()), blob.size()), interfaceNumber);
}

std::vector<std::uint8_t> Ids(const std::vector<UvcEntity>& entities) {
  std::vector<std::uint8_t> ids;
  for (const UvcEntity& e : entities) ids.push_back(e.id);
  return ids;
}

const Blob kReceiver =
    testing::VideoDeviceDescriptors(0x1D6B, 0x010C, {ProbeUnitGuid, SettingsUnitGuid});

TEST(VideoControlDescriptors, ReadsTheUnitsOfTheVideoControlInterfaceOnly) {
  const std::vector<UvcEntity> entities = Parse(kReceiver);
  ASSERT_EQ(Ids(entities), (std::vector<std::uint8_t>{1, 2, 3, 4, 5}));
  EXPECT_EQ(entities[0].kind, UvcEntityKind::InputTerminal);
  EXPECT_EQ(entities[0].terminalType, 0x0201);
  EXPECT_EQ(entities[1].kind, UvcEntityKind::ProcessingUnit);
  EXPECT_EQ(entities[3].kind, UvcEntityKind::ExtensionUnit);
  EXPECT_EQ(entities[3].extensionCode, SettingsUnitGuid);
  EXPECT_EQ(entities[3].extensionInfo.size(), 23u);
  EXPECT_EQ(entities[2].extensionCode, ProbeUnitGuid);
  EXPECT_EQ(entities[4].kind, UvcEntityKind::OutputTerminal);
  // Interface 1 is the streaming interface; 2 does not exist.
  EXPECT_TRUE(Parse(kReceiver, 1).empty());
  EXPECT_TRUE(Parse(kReceiver, 2).empty());
}

TEST(VideoControlDescriptors, HostileLengthsEndOrSkipWithoutReadingPastTheEnd) {
  // Every cut of the blob parses to a prefix of the whole list.
  const std::vector<std::uint8_t> all = Ids(Parse(kReceiver));
  for (std::size_t cut = 0; cut <= kReceiver.size(); ++cut) {
    const Blob shorter(kReceiver.begin(), kReceiver.begin() + static_cast<std::ptrdiff_t>(cut));
    const std::vector<std::uint8_t> ids = Ids(Parse(shorter));
    ASSERT_LE(ids.size(), all.size()) << cut;
    EXPECT_TRUE(std::equal(ids.begin(), ids.end(), all.begin())) << cut;
  }

  // Offsets of the units inside the blob: device, configuration, association,
  // interface and header come first.
  const std::size_t cameraAt = 18 + 9 + 8 + 9 + 13;
  const std::size_t probeAt = cameraAt + 18 + 12;

  Blob zero = kReceiver;
  zero[probeAt] = 0;  // bLength 0 would never advance
  EXPECT_EQ(Ids(Parse(zero)), (std::vector<std::uint8_t>{1, 2}));

  Blob pastEnd = kReceiver;
  pastEnd[probeAt] = 0xFF;
  pastEnd.resize(probeAt + 40);
  EXPECT_EQ(Ids(Parse(pastEnd)), (std::vector<std::uint8_t>{1, 2}));

  // An extension unit claiming more source pins than its length holds is
  // skipped; so is a camera terminal too short for its type.
  Blob pins = kReceiver;
  pins[probeAt + 21] = 200;
  EXPECT_EQ(Ids(Parse(pins)), (std::vector<std::uint8_t>{1, 2, 4, 5}));
  Blob shortTerminal = kReceiver;
  const auto camera = shortTerminal.begin() + static_cast<std::ptrdiff_t>(cameraAt);
  shortTerminal.insert(shortTerminal.erase(camera, camera + 18), {7, 0x24, 0x02, 1, 0x01, 0x02, 0});
  EXPECT_EQ(Ids(Parse(shortTerminal)), (std::vector<std::uint8_t>{2, 3, 4, 5}));
}

TEST(ErrnoStatus, GivesEachFailureItsKindAndKeepsTheErrno) {
  EXPECT_EQ(QueryStatus(EPIPE), LinkStatus::Of(StatusKind::Refused, EPIPE));
  EXPECT_EQ(QueryStatus(EIO).kind, StatusKind::Refused);
  EXPECT_EQ(QueryStatus(ENODEV).kind, StatusKind::Gone);
  EXPECT_EQ(OpenStatus(ENOENT).kind, StatusKind::Gone);       // the node is gone
  EXPECT_EQ(QueryStatus(ENOENT).kind, StatusKind::NotFound);  // no such unit or control
  EXPECT_EQ(QueryStatus(ENOBUFS).kind, StatusKind::WrongLength);
  EXPECT_EQ(QueryStatus(EINVAL), LinkStatus::Of(StatusKind::Failed, EINVAL));
  EXPECT_EQ(OpenStatus(EACCES).kind, StatusKind::AccessDenied);
  EXPECT_EQ(QueryStatus(EPERM).kind, StatusKind::AccessDenied);
  EXPECT_EQ(QueryStatus(EBUSY).kind, StatusKind::Busy);
  EXPECT_EQ(QueryStatus(ENOTTY).kind, StatusKind::Unsupported);
  EXPECT_EQ(QueryStatus(EOVERFLOW), LinkStatus::Of(StatusKind::Failed, EOVERFLOW));
  EXPECT_FALSE(IsKnownError(EOVERFLOW));
  EXPECT_TRUE(IsKnownError(ENOENT));
  EXPECT_TRUE(IsKnownError(EINVAL));
}

TEST(AnsiCodePage, FollowsTheLocalesLanguageAndTerritory) {
  EXPECT_EQ(AnsiCodePageForLocale("zh_CN.UTF-8"), 936u);
  EXPECT_EQ(AnsiCodePageForLocale("zh_SG.GB2312"), 936u);
  EXPECT_EQ(AnsiCodePageForLocale("zh"), 936u);
  EXPECT_EQ(AnsiCodePageForLocale("zh_TW.UTF-8"), 950u);
  EXPECT_EQ(AnsiCodePageForLocale("zh_HK.big5hkscs@stroke"), 950u);
  EXPECT_EQ(AnsiCodePageForLocale("ja_JP.eucJP"), 932u);
  EXPECT_EQ(AnsiCodePageForLocale("ko_KR.UTF-8"), 949u);
  EXPECT_EQ(AnsiCodePageForLocale("de_DE@euro"), 1252u);
  EXPECT_EQ(AnsiCodePageForLocale("C"), 1252u);
  EXPECT_EQ(AnsiCodePageForLocale(""), 1252u);
  EXPECT_EQ(AnsiCodePageForLocale("jam_JM"), 1252u);  // a language that only begins with "ja"
  // Beyond East Asia, the code page of the language's script, as on Windows.
  EXPECT_EQ(AnsiCodePageForLocale("pl_PL.UTF-8"), 1250u);
  EXPECT_EQ(AnsiCodePageForLocale("ru_RU.UTF-8"), 1251u);
  EXPECT_EQ(AnsiCodePageForLocale("sr_RS"), 1251u);
  EXPECT_EQ(AnsiCodePageForLocale("sr_RS@latin"), 1250u);
  EXPECT_EQ(AnsiCodePageForLocale("el_GR.UTF-8"), 1253u);
  EXPECT_EQ(AnsiCodePageForLocale("tr_TR.UTF-8"), 1254u);
  EXPECT_EQ(AnsiCodePageForLocale("he_IL.UTF-8"), 1255u);
  EXPECT_EQ(AnsiCodePageForLocale("ar_EG.UTF-8"), 1256u);
  EXPECT_EQ(AnsiCodePageForLocale("lt_LT.UTF-8"), 1257u);
  EXPECT_EQ(AnsiCodePageForLocale("vi_VN"), 1258u);
  EXPECT_EQ(AnsiCodePageForLocale("th_TH.UTF-8"), 874u);
  EXPECT_EQ(AnsiCodePageForLocale("fr_FR.UTF-8"), 1252u);
}

}  // namespace
}  // namespace nerova::link::linux_stack
