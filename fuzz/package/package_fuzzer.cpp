// Opens arbitrary bytes as a package, lists and unpacks every entry into a
// scratch directory the way the firmware update does, and stops the run when
// anything lands outside that directory or a record breaks its promises.
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
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

std::wstring Widen(const std::string& narrow) { return DecodeUtf8(narrow); }

// The path as the POSIX platform will use it, with "." and ".." folded.
// Lexical folding is exact here because no symbolic link is ever created in
// the scratch directory (checked after every run).
std::vector<std::wstring> Components(const std::wstring& path) {
  std::vector<std::wstring> parts;
  std::wstring part;
  for (std::size_t i = 0; i <= path.size(); ++i) {
    if (i == path.size() || IsSeparator(path[i])) {
      if (part == L"..") {
        if (!parts.empty()) parts.pop_back();
      } else if (!part.empty() && part != L".") {
        parts.push_back(part);
      }
      part.clear();
    } else {
      part += path[i];
    }
  }
  return parts;
}

// Lets every call through to the real file system, after checking that what
// it would create lies inside the unpacking directory. Output is limited per
// run, so that a small input cannot fill the disk.
class GuardedFileSystem final : public PackageFileSystem {
 public:
  GuardedFileSystem(PackageFileSystem& real, const std::wstring& root) : m_real(real), m_root(Components(root)) {}

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

  // The unpacking directory itself may be named too: an empty entry name
  // does, and creating a file there fails.
  void Check(const char* what, const std::wstring& path) const {
    const std::vector<std::wstring> parts = Components(path);
    if (parts.size() < m_root.size() || !std::equal(m_root.begin(), m_root.end(), parts.begin())) Fail(what, path);
  }

  PackageFileSystem& m_real;
  std::vector<std::wstring> m_root;
  std::uint64_t m_nBudget = 64u << 20;
};

struct Sandbox {
  Sandbox() {
    const char* base = getenv("NEROVA_FUZZ_SCRATCH");
    if (!base) base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string templ = std::string(base) + "/nerova-package-fuzz-XXXXXX";
    if (!mkdtemp(templ.data())) Fail("cannot make a scratch directory");
    root = templ;
    package = root / "package.zip";
    out = root / "out";
  }
  ~Sandbox() {
    std::error_code ignored;
    fs::remove_all(root, ignored);
  }

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
  std::error_code ignored;
  fs::remove_all(sandbox.out, ignored);
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
    const PackageResult extracted = archive->ExtractEntry(i, got == PackageResult::Ok ? out + L"/" + entry.name
                                                                                      : out + L"/unreadable");
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
