// Archives made by minizip's own zip writer, as packaging tools make them.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include <zip.h>

#include "tests/package/package_archive_fixture.h"
#include "update/package_rules.h"

namespace nerova::package::testing {
namespace {

using ::testing::ElementsAre;

class WrittenPackageTest : public PackageArchiveTest {
 protected:
  struct Added {
    std::string name;
    std::string content;
    std::uint32_t versionMadeBy = 0;
    std::uint32_t externalAttributes = 0;
    int method = Z_DEFLATED;
    std::string localExtra;
    std::string centralExtra;
  };

  // Writes the entries with zipOpenNewFileInZip4_64 and returns the path.
  std::wstring Write(const std::vector<Added>& entries) {
    const std::string path = (scratch.Path() / "written.zip").string();
    zipFile zip = zipOpen64(path.c_str(), APPEND_STATUS_CREATE);
    EXPECT_NE(zip, nullptr);
    if (!zip) return L"";
    for (const Added& e : entries) {
      zip_fileinfo info{};
      info.dosDate = DosDateTime(2022, 3, 4, 5, 6, 8);
      info.external_fa = e.externalAttributes;
      EXPECT_EQ(zipOpenNewFileInZip4_64(zip, e.name.c_str(), &info, e.localExtra.data(),
                                        static_cast<uInt>(e.localExtra.size()), e.centralExtra.data(),
                                        static_cast<uInt>(e.centralExtra.size()), nullptr, e.method,
                                        Z_DEFAULT_COMPRESSION, 0, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY, nullptr, 0,
                                        e.versionMadeBy, 0, 0),
                ZIP_OK)
          << e.name;
      EXPECT_EQ(zipWriteInFileInZip(zip, e.content.data(), static_cast<unsigned>(e.content.size())), ZIP_OK);
      EXPECT_EQ(zipCloseFileInZip(zip), ZIP_OK);
    }
    EXPECT_EQ(zipClose(zip, nullptr), ZIP_OK);
    return scratch.Wide(L"written.zip");
  }
};

std::string Firmware(std::size_t size) {
  std::string bytes(size, '\0');
  std::uint32_t state = 0x1234567;
  for (std::size_t i = 0; i < size; ++i) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    // Half noise, half runs: compresses, but not to nothing.
    bytes[i] = (i / 64) % 2 ? static_cast<char>(state) : static_cast<char>(i / 4096);
  }
  return bytes;
}

TEST_F(WrittenPackageTest, PackageFromTheZipWriterUnpacksCompletely) {
  const std::string tool = Firmware(300000);
  const std::string image = Firmware(70000);
  const std::string readme = "Flash with UsbScsiCmd.exe.\r\n";
  auto archive = Open(Write({
      {"UsbScsiCmd.exe", tool, 0x031E, UnixMode(0100755), Z_DEFLATED, "", ""},
      {"fw/", "", 0x031E, UnixMode(040755) | 0x10, 0, "", ""},
      {"fw/image.bin", image, 0x031E, UnixMode(0100644), 0, ExtendedTimestamp(3, {1650000000, 1650000100}),
       ExtendedTimestamp(1, {1650000000})},
      {"readme.txt", readme, 0x0014, 0x21, Z_DEFLATED, "", ""},
  }));
  ASSERT_NE(archive, nullptr);

  PackageEntry entry;
  ASSERT_EQ(archive->GetEntry(-1, entry), PackageResult::Ok);
  EXPECT_EQ(entry.index, 4);
  ASSERT_EQ(archive->GetEntry(0, entry), PackageResult::Ok);
  EXPECT_EQ(entry.name, L"UsbScsiCmd.exe");
  EXPECT_EQ(entry.attributes, kAttributeArchive);
  EXPECT_EQ(entry.uncompressedSize, tool.size());
  EXPECT_LT(entry.compressedSize, tool.size());
  // 2022-03-04 05:06:08 local, two hours east of UTC.
  EXPECT_EQ(entry.writeTime, FileTimeFromUnixSeconds(1646370368 - kZoneOffsetSeconds));
  ASSERT_EQ(archive->GetEntry(1, entry), PackageResult::Ok);
  EXPECT_EQ(entry.attributes, kAttributeDirectory | kAttributeArchive);
  ASSERT_EQ(archive->GetEntry(2, entry), PackageResult::Ok);
  EXPECT_EQ(entry.writeTime, FileTimeFromUnixSeconds(1650000000));
  EXPECT_EQ(entry.accessTime, FileTimeFromUnixSeconds(1650000100));
  EXPECT_EQ(entry.creationTime, FileTimeFromUnixSeconds(1646370368 - kZoneOffsetSeconds));
  ASSERT_EQ(archive->GetEntry(3, entry), PackageResult::Ok);
  EXPECT_EQ(entry.attributes, kAttributeReadOnly | kAttributeArchive);

  EXPECT_THAT(ExtractAll(*archive),
              ElementsAre(PackageResult::Ok, PackageResult::Ok, PackageResult::Ok, PackageResult::Ok));
  EXPECT_THAT(ListTree(OutPath()), ElementsAre("UsbScsiCmd.exe", "fw/", "fw/image.bin", "readme.txt"));
  EXPECT_EQ(ReadBytes(OutPath() / "UsbScsiCmd.exe"), tool);
  EXPECT_EQ(ReadBytes(OutPath() / "fw" / "image.bin"), image);
  EXPECT_EQ(ReadBytes(OutPath() / "readme.txt"), readme);
}

TEST_F(WrittenPackageTest, EmptyArchiveFromTheWriterOpens) {
  // Nothing but the end record, at the very start of the file.
  auto archive = Open(Write({}));
  ASSERT_NE(archive, nullptr);
  EXPECT_EQ(fs::file_size(scratch.Path() / "written.zip"), 22u);
  PackageEntry summary;
  ASSERT_EQ(archive->GetEntry(-1, summary), PackageResult::Ok);
  EXPECT_EQ(summary.index, 0);
  EXPECT_THAT(ExtractAll(*archive), ::testing::IsEmpty());
}

}  // namespace
}  // namespace nerova::package::testing
