// Opens arbitrary bytes as a package, lists and unpacks every entry into a
// scratch directory the way the firmware update does (the literal join below
// the unpacking directory, which the archive must not leave), and stops the
// run when anything lands outside that directory or a record breaks its
// promises. Portable: libFuzzer runs it natively, and the Windows build
// replays saved inputs through it under Wine (replay_main.cpp).
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "update/package_archive.h"
#include "update/package_platform.h"
#include "update/package_rules.h"

namespace {

namespace fs = std::filesystem;
using namespace nerova::package;

[[noreturn]] void Fail(const char* what, const std::wstring& path = L"") {
  fprintf(stderr, "package fuzzer: %s %ls\n", what, path.c_str());
  abort();
}

// Paths are UTF-16 on Windows and UTF-8 bytes elsewhere.
std::wstring Widen(const fs::path& path) {
#ifdef _WIN32
  return path.native();
#else
  return DecodeUtf8(path.native());
#endif
}

// Lets every call through to the real file system, after checking that what
// it would create lies strictly below the unpacking directory. The check
// resolves lexically, which errs towards climbing, whatever the platform
// makes of the path. Output is limited per run, so that a small input cannot
// fill the disk.
class GuardedFileSystem final : public PackageFileSystem {
 public:
  GuardedFileSystem(PackageFileSystem& real, const std::wstring& root) : m_real(real), m_root(ResolveLexically(root)) {}

  std::unique_ptr<PackageFile> OpenPackage(const std::wstring& path) override { return m_real.OpenPackage(path); }
  std::unique_ptr<OutputFile> CreateOutput(const std::wstring& path, std::uint32_t attributes) override {
    Check("output file outside the unpacking directory:", path);
    std::unique_ptr<OutputFile> real = m_real.CreateOutput(path, attributes);
    if (!real) return nullptr;
    return std::make_unique<Budgeted>(std::move(real), m_nBudget);
  }
  bool Exists(const std::wstring& path) override { return m_real.Exists(path); }
  void MakeDirectory(const std::wstring& path) override {
    Check("directory outside the unpacking directory:", path);
    m_real.MakeDirectory(path);
  }
  std::optional<std::wstring> FullPath(const std::wstring& path) override { return m_real.FullPath(path); }
  std::optional<std::wstring> CurrentDirectory() override { return m_real.CurrentDirectory(); }

  void Reset() { m_nBudget = 64u << 20; }

 private:
  class Budgeted final : public OutputFile {
   public:
    Budgeted(std::unique_ptr<OutputFile> real, std::uint64_t& budget) : m_pReal(std::move(real)), m_budget(budget) {}
    bool Write(const void* data, std::uint32_t size) override {
      if (size > m_budget) return false;
      m_budget -= size;
      return m_pReal->Write(data, size);
    }
    void SetTimes(const FileTime& c, const FileTime& a, const FileTime& w) override { m_pReal->SetTimes(c, a, w); }

   private:
    std::unique_ptr<OutputFile> m_pReal;
    std::uint64_t& m_budget;
  };

  void Check(const char* what, const std::wstring& path) const {
    if (!IsStrictlyBelow(ResolveLexically(path), m_root)) Fail(what, path);
  }

  PackageFileSystem& m_real;
  std::wstring m_root;
  std::uint64_t m_nBudget = 64u << 20;
};

// Removes a tree with its read-only files, which Windows will not delete.
void RemoveTree(const fs::path& root) {
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(root, error); !error && it != fs::recursive_directory_iterator();
       it.increment(error)) {
    std::error_code ignored;
    if (!it->is_symlink(ignored)) fs::permissions(it->path(), fs::perms::owner_write, fs::perm_options::add, ignored);
  }
  fs::remove_all(root, error);
}

struct Sandbox {
  Sandbox() {
    fs::path base;
    if (const char* chosen = getenv("NEROVA_FUZZ_SCRATCH")) {
      base = chosen;
    } else {
      std::error_code error;
      base = fs::exists("/dev/shm", error) ? fs::path("/dev/shm") : fs::temp_directory_path();
    }
    std::random_device random;
    for (int attempt = 0; root.empty(); ++attempt) {
      if (attempt == 100) Fail("cannot make a scratch directory");
      const fs::path candidate = base / ("nerova-package-fuzz-" + std::to_string(random()));
      std::error_code error;
      if (fs::create_directory(candidate, error)) root = candidate;
    }
    package = root / "package.zip";
    out = root / "out";
  }
  ~Sandbox() { RemoveTree(root); }

  // Nothing but the package and the unpacking directory, and no links.
  void Verify() const {
    for (const auto& item : fs::directory_iterator(root)) {
      if (item.path() != package && item.path() != out) Fail("written next to the unpacking directory:", Widen(item.path()));
    }
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(out, error); it != fs::recursive_directory_iterator();
         it.increment(error)) {
      if (it->is_symlink()) Fail("link in the unpacking directory:", Widen(it->path()));
    }
  }

  fs::path root;
  fs::path package;
  fs::path out;
};

void CheckRecord(const PackageEntry& entry, std::int32_t index) {
  if (entry.index != index) Fail("record with another index");
  if (Utf16Length(entry.name) > kMaxPathUnits) Fail("name longer than 259 units:", entry.name);
  if (!IsSafeEntryName(entry.name) || IsAbsolutePath(entry.name)) Fail("unsafe name handed out:", entry.name);
  constexpr std::uint32_t kKnown =
      kAttributeReadOnly | kAttributeHidden | kAttributeSystem | kAttributeDirectory | kAttributeArchive;
  if (entry.attributes & ~kKnown) Fail("unknown attribute bits");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Sandbox sandbox;
  static GuardedFileSystem files(DefaultPackagePlatform().files, Widen(sandbox.out));
  static FixedOffsetTime zone(5400);
  static PackagePlatform platform{files, zone};

  {
    std::ofstream package(sandbox.package, std::ios::binary | std::ios::trunc);
    package.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  RemoveTree(sandbox.out);
  fs::create_directory(sandbox.out);
  files.Reset();

  const std::wstring out = Widen(sandbox.out);
  std::unique_ptr<PackageArchive> archive;
  if (PackageArchive::Open(Widen(sandbox.package), platform, archive) != PackageResult::Ok) {
    if (archive) Fail("failed Open left an archive");
    return 0;
  }
  PackageEntry summary;
  if (archive->GetEntry(-1, summary) != PackageResult::Ok) Fail("no summary record");
  // The count is bounded by what the file can hold.
  if (summary.index < 0 || static_cast<std::size_t>(summary.index) > size / 46 + 1) Fail("implausible count");

  for (std::int32_t i = 0; i < summary.index; ++i) {
    PackageEntry entry;
    const PackageResult got = archive->GetEntry(i, entry);
    if (got == PackageResult::Ok) {
      CheckRecord(entry, i);
      PackageEntry again;
      if (archive->GetEntry(i, again) != PackageResult::Ok || !(again == entry)) Fail("cached record differs");
    }
    const std::optional<std::wstring> target = JoinBelow(out, got == PackageResult::Ok ? entry.name : L"unreadable");
    if (!target) continue;
    const PackageResult extracted = archive->ExtractEntry(i, *target, out);
    if (got != PackageResult::Ok && extracted != got) Fail("extraction of an unreadable entry went on");
  }
  // Going back over the entries, in falling order, gives the same answers.
  for (std::int32_t i = summary.index - 1; i >= 0 && i >= summary.index - 8; --i) {
    PackageEntry entry;
    if (archive->GetEntry(i, entry) == PackageResult::Ok) CheckRecord(entry, i);
  }
  archive->Close();
  sandbox.Verify();
  return 0;
}
