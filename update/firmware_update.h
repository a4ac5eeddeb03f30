#pragma once
// The settings window's "FW Update" command: the user picks a firmware
// package, it is unpacked into a fresh "OLK_" directory under the user's
// temporary directory, and the flashing tool it carries, UsbScsiCmd.exe, is
// started from there. The flashing is the tool's own work: nothing waits for
// it or learns how it went. The reserving file and the unpacked directory
// stay behind on purpose; every run makes new ones.
#include <windows.h>

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

// Runs one update over `owner`, the settings window, which owns the boxes.
// Synchronous: from the file dialog's close to the launch no messages are
// processed, and the cursor shows that the window is busy unpacking.
FirmwareUpdateOutcome RunFirmwareUpdate(HWND owner);

}  // namespace nerova::update
