// Unpacks a 64 MiB package of a few hundred deflated entries with
// PackageArchive, the way the firmware update does, and with Debian's unzip
// on the same file in the same run, and prints how the times compare.
//   package_bench [WORK_DIRECTORY] [ROUNDS]
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <zip.h>

#include "update/package_archive.h"
#include "update/package_rules.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace nerova::package;

constexpr std::uint64_t kPackageSize = 64ull << 20;
constexpr int kEntries = 320;

// Pseudo-random words: deflate gets them to about three fifths, at roughly
// the speed it handles firmware images.
std::string Content(std::size_t size, std::uint32_t seed) {
  std::string text(size, ' ');
  std::uint32_t state = seed * 2654435761u + 1;
  for (std::size_t i = 0; i < size; ++i) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    const std::uint32_t r = state % 32;
    text[i] = r < 26 ? static_cast<char>('a' + r) : (r < 31 ? ' ' : '\n');
  }
  return text;
}

bool MakePackage(const fs::path& path) {
  if (fs::exists(path) && fs::file_size(path) >= kPackageSize) return true;
  std::printf("writing %s ...\n", path.c_str());
  zipFile zip = zipOpen64(path.c_str(), APPEND_STATUS_CREATE);
  if (!zip) return false;
  // Entry sizes vary around what fills 64 MiB once deflated.
  const std::size_t average = static_cast<std::size_t>(kPackageSize / kEntries * 100 / 63);
  for (int i = 0; i < kEntries; ++i) {
    const std::size_t size = average / 2 + (static_cast<std::size_t>(i) * 7919 % average);
    const std::string content = Content(size, static_cast<std::uint32_t>(i));
    const std::string name = "fw/part" + std::to_string(i / 40) + "/block" + std::to_string(i) + ".bin";
    zip_fileinfo info{};
    info.dosDate = (42u << 25) | (6u << 21) | (15u << 16);
    if (zipOpenNewFileInZip64(zip, name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED, 6, 0) != ZIP_OK ||
        zipWriteInFileInZip(zip, content.data(), static_cast<unsigned>(content.size())) != ZIP_OK ||
        zipCloseFileInZip(zip) != ZIP_OK) {
      zipClose(zip, nullptr);
      return false;
    }
  }
  return zipClose(zip, nullptr) == ZIP_OK;
}

std::uint64_t TreeBytes(const fs::path& root) {
  std::uint64_t total = 0;
  for (const auto& item : fs::recursive_directory_iterator(root)) {
    if (item.is_regular_file()) total += item.file_size();
  }
  return total;
}

double ExtractOurs(const fs::path& package, const fs::path& target) {
  const auto start = Clock::now();
  std::unique_ptr<PackageArchive> archive;
  if (PackageArchive::Open(DecodeUtf8(package.string()), archive) != PackageResult::Ok) return -1;
  PackageEntry summary;
  archive->GetEntry(-1, summary);
  const std::wstring base = DecodeUtf8(target.string());
  for (std::int32_t i = 0; i < summary.index; ++i) {
    PackageEntry entry;
    archive->GetEntry(i, entry);
    const std::optional<std::wstring> path = JoinBelow(base, entry.name);
    if (!path || archive->ExtractEntry(i, *path, base) != PackageResult::Ok) return -1;
  }
  archive->Close();
  return std::chrono::duration<double>(Clock::now() - start).count();
}

double ExtractWithUnzip(const fs::path& package, const fs::path& target) {
  const std::string command = "unzip -qq -o '" + package.string() + "' -d '" + target.string() + "'";
  const auto start = Clock::now();
  if (std::system(command.c_str()) != 0) return -1;
  return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  const fs::path work = argc > 1 ? fs::path(argv[1]) : fs::path("bench-package");
  const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
  fs::create_directories(work);
  const fs::path package = fs::absolute(work / "package.zip");
  if (!MakePackage(package)) {
    std::fprintf(stderr, "cannot write the package\n");
    return 1;
  }
  const fs::path ours = fs::absolute(work / "ours");
  const fs::path theirs = fs::absolute(work / "unzip");

  std::vector<double> oursTimes;
  std::vector<double> unzipTimes;
  std::uint64_t oursBytes = 0;
  std::uint64_t unzipBytes = 0;
  for (int round = 0; round < rounds; ++round) {
    // Alternating which goes first evens out what the page cache holds.
    for (int turn = 0; turn < 2; ++turn) {
      const bool oursNow = (round + turn) % 2 == 0;
      const fs::path& target = oursNow ? ours : theirs;
      fs::remove_all(target);
      fs::create_directories(target);
      const double seconds = oursNow ? ExtractOurs(package, target) : ExtractWithUnzip(package, target);
      if (seconds < 0) {
        std::fprintf(stderr, "%s failed\n", oursNow ? "PackageArchive" : "unzip");
        return 1;
      }
      (oursNow ? oursTimes : unzipTimes).push_back(seconds);
      (oursNow ? oursBytes : unzipBytes) = TreeBytes(target);
    }
  }
  if (oursBytes != unzipBytes) {
    std::fprintf(stderr, "outputs differ: %llu vs %llu bytes\n", static_cast<unsigned long long>(oursBytes),
                 static_cast<unsigned long long>(unzipBytes));
    return 1;
  }
  std::sort(oursTimes.begin(), oursTimes.end());
  std::sort(unzipTimes.begin(), unzipTimes.end());
  const double ourBest = oursTimes.front();
  const double unzipBest = unzipTimes.front();
  const double ourMedian = oursTimes[oursTimes.size() / 2];
  const double unzipMedian = unzipTimes[unzipTimes.size() / 2];
  const double mib = static_cast<double>(fs::file_size(package)) / (1 << 20);
  std::printf("package: %.1f MiB, %d entries, %.1f MiB unpacked, %d rounds\n", mib, kEntries,
              static_cast<double>(oursBytes) / (1 << 20), rounds);
  std::printf("PackageArchive: best %.3f s, median %.3f s\n", ourBest, ourMedian);
  std::printf("unzip:          best %.3f s, median %.3f s\n", unzipBest, unzipMedian);
  std::printf("ratio PackageArchive/unzip: best %.2f, median %.2f (below 1: faster than unzip)\n",
              ourBest / unzipBest, ourMedian / unzipMedian);
  fs::remove_all(ours);
  fs::remove_all(theirs);
  return 0;
}
