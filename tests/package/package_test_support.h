#pragma once
// Scratch directories, file helpers and a platform wrapper that records what
// the package layer asks of the file system (and can make writes fail).
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "update/package_archive.h"
#include "update/package_platform.h"

namespace nerova::package::testing {

namespace fs = std::filesystem;

// A fresh directory under the temporary directory, removed with everything
// in it (read-only files included) when the object goes.
class ScratchDirectory {
 public:
  ScratchDirectory();
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;
  ~ScratchDirectory();

  const fs::path& Path() const { return m_path; }
  // The path as the package layer takes it, with "/" between the parts.
  std::wstring Wide(const std::wstring& relative = L"") const;

 private:
  fs::path m_path;
};

std::wstring WideOf(const fs::path& path);
fs::path PathOf(const std::wstring& wide);

void WriteBytes(const fs::path& path, const std::string& bytes);
std::string ReadBytes(const fs::path& path);
// Every file and directory below `root`, as generic relative paths
// (directories with a trailing "/"), sorted.
std::vector<std::string> ListTree(const fs::path& root);

// Forwards to a real file system and keeps a log of the calls that change
// it: "mkdir PATH" and "create PATH". Writes can be made to fail after a
// number of bytes.
class RecordingFileSystem final : public PackageFileSystem {
 public:
  explicit RecordingFileSystem(PackageFileSystem& real) : m_real(real) {}

  std::unique_ptr<PackageFile> OpenPackage(const std::wstring& path) override;
  std::unique_ptr<OutputFile> CreateOutput(const std::wstring& path, std::uint32_t attributes) override;
  bool Exists(const std::wstring& path) override { return m_real.Exists(path); }
  void MakeDirectory(const std::wstring& path) override;
  std::optional<std::wstring> FullPath(const std::wstring& path) override { return m_real.FullPath(path); }
  std::optional<std::wstring> CurrentDirectory() override { return m_real.CurrentDirectory(); }

  std::vector<std::wstring> log;
  // Reads of the package file, through every PackageFile handed out.
  std::shared_ptr<std::uint64_t> packageReads = std::make_shared<std::uint64_t>(0);
  // Bytes an output file accepts before its writes fail.
  std::uint64_t writeBudget = UINT64_MAX;
  std::uint32_t lastAttributes = 0;

 private:
  PackageFileSystem& m_real;
};

}  // namespace nerova::package::testing
