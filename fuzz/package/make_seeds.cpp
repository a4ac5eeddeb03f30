// Writes the fuzzer's seed packages: the kinds of archive the tests build,
// small enough to mutate quickly.
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "tests/package/zip_builder.h"

namespace {

using namespace nerova::package::testing;

void Save(const std::string& directory, const std::string& name, const std::string& bytes) {
  std::ofstream out(directory + "/" + name, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string Zip64(const std::vector<ZipEntry>& entries, std::uint64_t claimed) {
  const BuiltZip zip = BuildZip(entries);
  std::string bytes = zip.bytes.substr(0, zip.endOffset);
  const auto put = [&bytes](std::uint64_t value, int size) {
    for (int i = 0; i < size; ++i) bytes += static_cast<char>((value >> (8 * i)) & 0xFF);
  };
  const std::uint64_t start = zip.centralOffsets.empty() ? zip.endOffset : zip.centralOffsets[0];
  const std::uint64_t record = bytes.size();
  put(0x06064b50, 4), put(44, 8), put(45, 2), put(45, 2), put(0, 4), put(0, 4);
  put(claimed, 8), put(claimed, 8), put(zip.endOffset - start, 8), put(start, 8);
  put(0x07064b50, 4), put(0, 4), put(record, 8), put(1, 4);
  put(0x06054b50, 4), put(0, 4), put(0xFFFF, 2), put(0xFFFF, 2), put(0xFFFFFFFF, 4), put(0xFFFFFFFF, 4), put(0, 2);
  return bytes;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_seeds DIRECTORY\n");
    return 2;
  }
  const std::string dir = argv[1];

  ZipEntry tool = DeflatedEntry("UsbScsiCmd.exe", TextOfSize(1500, 1));
  tool.versionMadeBy = kMadeByUnix;
  tool.externalAttributes = UnixMode(0100755);
  tool.localExtra = ExtendedTimestamp(3, {1650000000, 1650000100});
  tool.centralExtra = ExtendedTimestamp(1, {1650000000});
  ZipEntry readOnly = StoredEntry("fw/readme.txt", "read me");
  readOnly.externalAttributes = 0x21;
  Save(dir, "package.zip", BuildZip({DirectoryEntry("fw/"), tool, readOnly, StoredEntry("fw/empty", "")}).bytes);

  std::vector<ZipEntry> hostile;
  for (const char* name : {"../up.txt", "..\\..\\x", "C:/abs.txt", "\\\\?\\C:\\x", "a/../../b", ". ./x", "dir/nul",
                           "sub/../../../y", "x/C:/z"}) {
    hostile.push_back(StoredEntry(name, name));
  }
  Save(dir, "hostile-names.zip", BuildZip(hostile).bytes);
  // ".." runs glued to other characters, with backslashes, and names that
  // Windows would change on the way: trailing dots and blanks, streams,
  // devices with extensions, forbidden characters, doubled separators.
  std::vector<ZipEntry> glued;
  for (const char* name : {"..x\\..\\..\\up.txt", "a\\..b\\..\\..\\c", "..\\..x\\y", "sub\\..evil\\z",
                           "x..\\..\\..\\w", "...\\...\\v", "fw.bin.", "fw.bin ", "fw.bin:stream", "aux.txt/x",
                           "a<b>|?*.bin", "sub\\\\x", "./x", "\x01ctl"}) {
    glued.push_back(StoredEntry(name, name));
  }
  glued.push_back(StoredEntry("UsbScsiCmd.exe", "MZ"));
  Save(dir, "glued-climbs.zip", BuildZip(glued).bytes);

  ZipEntry bzip2 = StoredEntry("fw.bz2", "BZh9");
  bzip2.method = 12;
  ZipEntry encrypted = StoredEntry("secret.bin", std::string(12, 'k') + "data");
  encrypted.flags = 1;
  ZipEntry described = DeflatedEntry("described.bin", TextOfSize(300, 2));
  described.flags = 8;
  described.localCrc = 0;
  ZipEntry shortData = StoredEntry("short.bin", TextOfSize(200, 3));
  shortData.stored.resize(100);
  ZipEntry badTime = StoredEntry("bad-time.bin", "t");
  badTime.dosDateTime = 0;
  badTime.localExtra = ExtendedTimestamp(7, {1}) + ExtraBlock(0x7875, "\x01\x04\xE8\x03\x00\x00");
  ZipEntry link = StoredEntry("link", "/etc/passwd");
  link.versionMadeBy = kMadeByUnix;
  link.externalAttributes = UnixMode(0120777);
  Save(dir, "odd-entries.zip", BuildZip({bzip2, encrypted, described, shortData, badTime, link}).bytes);

  ZipEntry mismatch = StoredEntry("mismatch.bin", "data");
  mismatch.localName = "mismatch.bim";
  ZipEntry farExtra = StoredEntry("far-extra.bin", "data");
  farExtra.localExtraLength = 0xFFFF;
  ZipLayout overCount;
  overCount.announcedCount = 9;
  Save(dir, "broken-headers.zip", BuildZip({mismatch, farExtra, StoredEntry("ok", "ok")}, overCount).bytes);

  ZipLayout prefixed;
  prefixed.prefix = "MZ self-extractor stub";
  Save(dir, "prefixed.zip", BuildZip({DeflatedEntry("fw.bin", TextOfSize(400, 4))}, prefixed).bytes);
  Save(dir, "empty.zip", BuildZip({}).bytes);
  ZipEntry zip64Sizes = DeflatedEntry("sized.bin", TextOfSize(700, 6));
  zip64Sizes.zip64Sizes = true;
  Save(dir, "zip64-sizes.zip", BuildZip({zip64Sizes, StoredEntry("after.bin", "a")}).bytes);
  Save(dir, "zip64.zip", Zip64({StoredEntry("e0", "0"), DeflatedEntry("e1", TextOfSize(100, 5))}, 1ULL << 40));
  Save(dir, "long-name.zip", BuildZip({StoredEntry(std::string(259, 'n'), "259"),
                                       StoredEntry(std::string(260, 'n'), "260")}).bytes);
  Save(dir, "utf8-names.zip", BuildZip({StoredEntry("\xE5\x9B\xBA\xE4\xBB\xB6/fw-\xC3\xA9.bin", "x"),
                                        StoredEntry("bad\xFF\xC0\xAF.bin", "y")}).bytes);
  return 0;
}
