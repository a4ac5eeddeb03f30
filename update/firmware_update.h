#pragma once
// The settings window's "FW Update" command: the user picks a firmware
// package, it is unpacked into a fresh "OLK_" directory under the user's
// temporary directory, and the flashing tool it carries, UsbScsiCmd.exe, is
// started from there. The flashing is the tool's own work: nothing waits for
// it or learns how it went. The reserving file and the unpacked directory
// stay behind on purpose; every run makes new ones. The command line's
// "update PACKAGE" runs the same unpacking and start without the dialog.
#include <windows.h>

#include <optional>
#include <string>

namespace nerova::update {

inline constexpr wchar_t kPackageFilter[] = L"Flashing Package File(*.zip)|*.zip||";
inline constexpr wchar_t kDirectoryPrefix[] = L"OLK_";
inline constexpr wchar_t kToolName[] = L"UsbScsiCmd.exe";

inline constexpr wchar_t kUnpackFailedText[] = L"Failed to Unzipp the Flashing Package.";
inline constexpr wchar_t kLaunchCancelledText[] = L"You've canceled the upgrade";
inline constexpr wchar_t kLaunchFailedCaption[] = L"Error";

enum class FirmwareUpdateOutcome {
  kNotChosen,       // the file dialog was cancelled or closed: nothing done
  kUnpackFailed,    // no directory could be prepared or the package is no zip
  kToolStarted,     // the tool runs; nothing shown
  kLaunchCancelled, // the user declined the start (ERROR_CANCELLED)
  kLaunchFailed,    // the tool could not be started (a missing tool included)
  kAbandoned,       // the settings window was stopped while it unpacked: no launch
};

// Unpacks the package into a new extraction directory and returns that
// directory; none when no directory could be prepared or the package is no
// zip. The package file is released before this returns.
std::optional<std::wstring> UnpackPackage(const std::wstring& packagePath);

struct ToolStart {
  // kToolStarted, kLaunchCancelled or kLaunchFailed.
  FirmwareUpdateOutcome outcome;
  DWORD error;
};

// Whether the shell may show boxes of its own when the tool cannot be
// started (the window lets it; the command line reports by itself).
enum class ShellBoxes { Allowed, Suppressed };

// Starts the tool from the top level of `directory`, which becomes its
// working directory; it gets no arguments and nobody waits for it.
ToolStart StartFlashingTool(const std::wstring& directory, ShellBoxes boxes);

// "The upgrade process cannot be started, code:<error>".
std::wstring LaunchFailedText(DWORD error);

// Runs one update over `owner`, the settings window, which owns the boxes.
// Synchronous: from the file dialog's close to the launch no messages are
// processed, and the cursor shows that the window is busy unpacking.
FirmwareUpdateOutcome RunFirmwareUpdate(HWND owner);

}  // namespace nerova::update
