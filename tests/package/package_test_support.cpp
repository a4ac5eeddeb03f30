#include "tests/package/package_test_support.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "update/package_rules.h"

namespace nerova::package::testing {
namespace {

class CountingPackageFile final : public PackageFile {
 public:
  CountingPackageFile(std::unique_ptr<PackageFile> real, std::shared_ptr<std::uint64_t> reads)
      : m_pReal(std::move(real)), m_pReads(std::move(reads)) {}
  bool Read(void* buffer, std::uint32_t size, std::uint32_t& bytesRead) override {
    ++*m_pReads;
    return m_pReal->Read(buffer, size, bytesRead);
  }
  bool Seek(std::int64_t distance, Origin origin, std::uint64_t& newPosition) override {
    return m_pReal->Seek(distance, origin, newPosition);
  }

 private:
  std::unique_ptr<PackageFile> m_pReal;
  std::shared_ptr<std::uint64_t> m_pReads;
};

class BudgetOutputFile final : public OutputFile {
 public:
  BudgetOutputFile(std::unique_ptr<OutputFile> real, std::uint64_t budget)
      : m_pReal(std::move(real)), m_nBudget(budget) {}
  bool Write(const void* data, std::uint32_t size) override {
    if (size > m_nBudget) return false;
    m_nBudget -= size;
    return m_pReal->Write(data, size);
  }
  void SetTimes(const FileTime& creation, const FileTime& access, const FileTime& write) override {
    m_pReal->SetTimes(creation, access, write);
  }

 private:
  std::unique_ptr<OutputFile> m_pReal;
  std::uint64_t m_nBudget;
};

}  // namespace

std::wstring WideOf(const fs::path& path) {
#ifdef _WIN32
  return path.wstring();
#else
  return DecodeUtf8(path.string());
#endif
}

fs::path PathOf(const std::wstring& wide) {
#ifdef _WIN32
  return fs::path(wide);
#else
  // The same mapping as the POSIX platform: UTF-8, "\" as a separator.
  std::wstring slashed = wide;
  std::replace(slashed.begin(), slashed.end(), L'\\', L'/');
  std::string utf8;
  for (wchar_t w : slashed) {
    const auto c = static_cast<char32_t>(w);
    if (c < 0x80) {
      utf8 += static_cast<char>(c);
    } else if (c < 0x800) {
      utf8 += static_cast<char>(0xC0 | (c >> 6));
      utf8 += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      utf8 += static_cast<char>(0xE0 | (c >> 12));
      utf8 += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      utf8 += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      utf8 += static_cast<char>(0xF0 | (c >> 18));
      utf8 += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      utf8 += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      utf8 += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return fs::path(utf8);
#endif
}

ScratchDirectory::ScratchDirectory() {
  static std::atomic<unsigned> counter{0};
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  std::ostringstream name;
  name << "nerova-package-" << stamp << "-" << counter++;
  m_path = fs::temp_directory_path() / name.str();
  fs::create_directories(m_path);
}

ScratchDirectory::~ScratchDirectory() {
  std::error_code ignored;
  // Read-only files cannot be removed on Windows until they are writable.
  for (auto it = fs::recursive_directory_iterator(m_path, ignored); it != fs::recursive_directory_iterator();
       it.increment(ignored)) {
    fs::permissions(it->path(), fs::perms::owner_write, fs::perm_options::add, ignored);
  }
  fs::remove_all(m_path, ignored);
}

std::wstring ScratchDirectory::Wide(const std::wstring& relative) const {
  std::wstring path = WideOf(m_path);
  std::replace(path.begin(), path.end(), L'\\', L'/');
  if (!relative.empty()) path += L"/" + relative;
  return path;
}

void WriteBytes(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

std::string ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

std::vector<std::string> ListTree(const fs::path& root) {
  std::vector<std::string> found;
  for (const auto& item : fs::recursive_directory_iterator(root)) {
    std::string relative = fs::relative(item.path(), root).generic_string();
    if (item.is_directory()) relative += "/";
    found.push_back(relative);
  }
  std::sort(found.begin(), found.end());
  return found;
}

std::unique_ptr<PackageFile> RecordingFileSystem::OpenPackage(const std::wstring& path) {
  std::unique_ptr<PackageFile> real = m_real.OpenPackage(path);
  if (!real) return nullptr;
  return std::make_unique<CountingPackageFile>(std::move(real), packageReads);
}

std::unique_ptr<OutputFile> RecordingFileSystem::CreateOutput(const std::wstring& path, std::uint32_t attributes) {
  log.push_back(L"create " + path);
  lastAttributes = attributes;
  std::unique_ptr<OutputFile> real = m_real.CreateOutput(path, attributes);
  if (!real) return nullptr;
  return std::make_unique<BudgetOutputFile>(std::move(real), writeBudget);
}

void RecordingFileSystem::MakeDirectory(const std::wstring& path) {
  log.push_back(L"mkdir " + path);
  m_real.MakeDirectory(path);
}

}  // namespace nerova::package::testing
