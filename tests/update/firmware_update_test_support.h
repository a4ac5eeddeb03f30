#pragma once
// What the firmware update tests stand on: a private temporary directory for
// each test (TMP and TEMP point at it while it lives), packages written with
// minizip's zip writer, the stand-in flashing tool and its record, boxes and
// file dialogs answered in place of the user.
#include <windows.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/ui/win_test_support.h"
#include "ui/message_box.h"
#include "ui/open_file_dialog.h"

namespace nerova::update::testing {

namespace fs = std::filesystem;

// Generous: Wine starts processes slowly on a busy machine.
inline constexpr DWORD kTimeoutMs = 30000;

// A scratch directory with "temp" (the process's temporary directory while
// the object lives), "records" (where the stand-in writes) and "packages".
// `tempName` lets a test choose the temporary directory's name (a long one,
// say); `createTemp` false leaves it missing. Removed afterwards as far as
// possible (a running tool may still hold its working directory).
class PrivateTemp {
 public:
  explicit PrivateTemp(const std::wstring& tempName = L"temp", bool createTemp = true);
  // A temporary directory whose path, with its final "\", is exactly this
  // long (made of two long levels).
  struct OfLength {
    std::size_t length;
  };
  explicit PrivateTemp(OfLength tempPath);
  ~PrivateTemp();
  PrivateTemp(const PrivateTemp&) = delete;
  PrivateTemp& operator=(const PrivateTemp&) = delete;

  // The temporary directory as GetTempPathW gives it, with its "\".
  std::wstring TempPath() const;
  const fs::path& Temp() const { return m_temp; }
  const fs::path& Root() const { return m_root; }
  fs::path Package(const std::wstring& name) const { return m_root / L"packages" / name; }
  // Where the stand-in's record goes; NEROVA_STANDIN_RECORD points at it.
  fs::path RecordPath() const { return m_root / L"records" / L"standin.txt"; }

 private:
  void Make(fs::path root, const std::wstring& tempName, bool createTemp);

  fs::path m_root;
  fs::path m_temp;
  std::optional<std::wstring> m_previousTmp;
  std::optional<std::wstring> m_previousTemp;
  std::optional<std::wstring> m_previousRecord;
};

struct PackageFile {
  std::string name;      // as stored, "/" between levels
  std::string content;
  bool directory = false;
};

// Writes a zip archive with minizip's writer (deflated entries), through
// the Win32 file functions so that the path may hold any character.
void WritePackage(const fs::path& path, const std::vector<PackageFile>& files);
// The bytes of the stand-in tool built next to the test program.
std::string StandInToolBytes();
std::string ReadBytes(const fs::path& path);
void WriteBytes(const fs::path& path, const std::string& bytes);
// Overwrites the start of an entry's compressed data with bytes that no
// inflater accepts; the headers stay intact.
void DamageEntryData(const fs::path& package, const std::string& entryName);

// Files and directories below `root` as generic relative paths, directories
// with a trailing "/", sorted.
std::vector<std::string> ListTree(const fs::path& root);
// The names directly in `directory`, sorted.
std::vector<std::wstring> ListNames(const fs::path& directory);
// The temporary directory after one update holds two names: the reserving
// file and "OLK_" + its name, a directory. That directory, or none when the
// temporary directory holds anything else.
std::optional<fs::path> SingleExtractionDirectory(const fs::path& temp);

struct StandInRecord {
  std::wstring workingDirectory;
  std::wstring commandLine;
  int argumentCount = 0;
  int showCommand = 0;
};
// Waits for the stand-in's record to appear and reads it.
std::optional<StandInRecord> WaitForRecord(const fs::path& path, DWORD timeoutMs = kTimeoutMs);

using CapturedBoxes = test::CapturedBoxes;

// Answers the file dialog with a chosen path, a cancel or a failure, and
// keeps the requests it saw.
class AnsweredFileDialog {
 public:
  explicit AnsweredFileDialog(ui::OpenFileResult answer);
  static ui::OpenFileResult Chosen(const fs::path& path);
  const std::vector<ui::OpenFileRequest>& Requests() const { return m_requests; }

 private:
  ui::OpenFileResult m_answer;
  std::vector<ui::OpenFileRequest> m_requests;
  ui::ScopedOpenFileHandler m_scope;
};

// A hidden top-level window that stands for the settings window as owner.
class OwnerWindow {
 public:
  OwnerWindow();
  ~OwnerWindow();
  OwnerWindow(const OwnerWindow&) = delete;
  OwnerWindow& operator=(const OwnerWindow&) = delete;
  HWND Handle() const { return m_hWnd; }

 private:
  HWND m_hWnd;
};

// Dismisses the boxes that the platform itself shows on a thread (the
// shell's own error box after a failed launch, say) and keeps their texts.
class PlatformBoxDismisser {
 public:
  explicit PlatformBoxDismisser(DWORD threadId = GetCurrentThreadId());
  ~PlatformBoxDismisser();
  PlatformBoxDismisser(const PlatformBoxDismisser&) = delete;
  PlatformBoxDismisser& operator=(const PlatformBoxDismisser&) = delete;
  std::vector<std::wstring> Texts() const;

  struct State;

 private:
  std::unique_ptr<State> m_state;
};

std::wstring Lower(std::wstring text);

}  // namespace nerova::update::testing
