#include "update/firmware_update.h"

#include <shellapi.h>
#include <shlwapi.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "ui/handles.h"
#include "ui/message_box.h"
#include "ui/open_file_dialog.h"
#include "ui/thread_stop.h"
#include "update/firmware_update_launch.h"
#include "update/package_archive.h"
#include "update/package_rules.h"

namespace nerova::update {

namespace {

using package::PackageArchive;
using package::PackageEntry;
using package::PackageResult;

// Shows the wait cursor for one scope and puts the previous one back.
class WaitCursor {
 public:
  WaitCursor() : m_hPrevious(SetCursor(LoadCursorW(nullptr, IDC_WAIT))) {}
  ~WaitCursor() { SetCursor(m_hPrevious); }
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;

 private:
  HCURSOR m_hPrevious;
};

// GetTempPathW and GetTempFileNameW fill MAX_PATH buffers.
using PathBuffer = wchar_t[MAX_PATH];

// The temporary directory, a reserving file with a unique name in it, and
// next to that the directory "OLK_" + the reserving file's name, created.
// None when any of it fails; what was made before stays.
std::optional<std::wstring> MakeExtractionDirectory() {
  PathBuffer temp{};
  // A result of MAX_PATH or more is the length needed, the buffer unfilled.
  const DWORD length = GetTempPathW(MAX_PATH, temp);
  if (length == 0 || length >= MAX_PATH) return std::nullopt;

  PathBuffer reserving{};
  if (GetTempFileNameW(temp, L"", 0, reserving) == 0) return std::nullopt;

  const std::wstring name = std::wstring(kDirectoryPrefix) + PathFindFileNameW(reserving);
  std::optional<std::wstring> directory = package::JoinBelow(temp, name);
  if (!directory) return std::nullopt;
  if (!CreateDirectoryW(directory->c_str(), nullptr)) return std::nullopt;
  return directory;
}

// Every entry, in central-directory order, below `directory`. An entry that
// fails keeps what it wrote and does not stop the others; one whose joined
// path would not fit is skipped rather than written under a cut name. The
// join is literal: the shell's path functions fold ".." sequences, even
// inside a name, so what the name rules saw would not be what is opened.
void ExtractEntries(PackageArchive& archive, const std::wstring& directory) {
  PackageEntry summary;
  if (archive.GetEntry(-1, summary) != PackageResult::Ok) return;
  for (std::int32_t index = 0; index < summary.index; ++index) {
    PackageEntry entry;
    if (archive.GetEntry(index, entry) != PackageResult::Ok) continue;
    const std::optional<std::wstring> target = package::JoinBelow(directory, entry.name);
    if (!target) continue;
    archive.ExtractEntry(index, *target, directory);
  }
}

// Why a launch failed. Where the shell may show an error box of its own
// first, on some platforms (Wine) that box leaves the thread's last error
// at 0. The shell's SE_ERR code in
// hInstApp then tells: its values up to SE_ERR_OOM (8) are the Win32 codes of
// the same meaning (SE_ERR_FNF 2 is ERROR_FILE_NOT_FOUND).
DWORD LaunchError(const SHELLEXECUTEINFOW& record, DWORD lastError) {
  if (lastError != ERROR_SUCCESS) return lastError;
  return static_cast<DWORD>(reinterpret_cast<INT_PTR>(record.hInstApp));
}

}  // namespace

std::optional<std::wstring> UnpackPackage(const std::wstring& packagePath) {
  std::optional<std::wstring> directory = MakeExtractionDirectory();
  if (!directory) return std::nullopt;

  std::unique_ptr<PackageArchive> archive;
  if (PackageArchive::Open(packagePath, archive) != PackageResult::Ok || !archive) return std::nullopt;
  ExtractEntries(*archive, *directory);
  archive->Close();
  return directory;
}

ToolStart StartFlashingTool(const std::wstring& directory, ShellBoxes boxes) {
  const std::optional<std::wstring> tool = package::JoinBelow(directory, kToolName);
  if (!tool) return {FirmwareUpdateOutcome::kLaunchFailed, ERROR_FILENAME_EXCED_RANGE};

  SHELLEXECUTEINFOW record{};
  record.cbSize = sizeof(record);
  record.fMask = SEE_MASK_NOCLOSEPROCESS | (boxes == ShellBoxes::Suppressed ? SEE_MASK_FLAG_NO_UI : 0);
  record.hwnd = nullptr;
  record.lpVerb = L"";
  record.lpFile = tool->c_str();
  record.lpParameters = L"";
  record.lpDirectory = directory.c_str();
  record.nShow = SW_SHOWNORMAL;
  if (LaunchProgram(record)) {
    // Nobody waits on the tool.
    ui::KernelHandle process(record.hProcess);
    return {FirmwareUpdateOutcome::kToolStarted, ERROR_SUCCESS};
  }
  const DWORD error = LaunchError(record, GetLastError());
  if (error == ERROR_CANCELLED) return {FirmwareUpdateOutcome::kLaunchCancelled, error};
  return {FirmwareUpdateOutcome::kLaunchFailed, error};
}

std::wstring LaunchFailedText(DWORD error) {
  return L"The upgrade process cannot be started, code:" + std::to_wstring(static_cast<int>(error));
}

FirmwareUpdateOutcome RunFirmwareUpdate(HWND owner) {
  const ui::OpenFileResult chosen = ui::ChooseFileToOpen(owner, kPackageFilter);
  if (!chosen.Chosen()) return FirmwareUpdateOutcome::kNotChosen;

  std::optional<std::wstring> directory;
  {
    WaitCursor busy;
    directory = UnpackPackage(chosen.path);
  }
  if (!directory) {
    ui::ShowMessage(owner, kUnpackFailedText, MB_OK);
    return FirmwareUpdateOutcome::kUnpackFailed;
  }
  // A settings window replaced while it unpacked starts nothing: the user
  // no longer sees the window the update belongs to.
  if (ui::ThreadStopRequested()) return FirmwareUpdateOutcome::kAbandoned;
  const ToolStart start = StartFlashingTool(*directory, ShellBoxes::Allowed);
  if (start.outcome == FirmwareUpdateOutcome::kLaunchCancelled) {
    ui::ShowMessage(owner, kLaunchCancelledText, MB_OK);
  } else if (start.outcome == FirmwareUpdateOutcome::kLaunchFailed) {
    ui::ShowMessage(owner, LaunchFailedText(start.error), kLaunchFailedCaption, MB_ICONERROR | MB_OK);
  }
  return start.outcome;
}

}  // namespace nerova::update
