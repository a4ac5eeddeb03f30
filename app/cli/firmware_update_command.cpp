#include "app/cli/firmware_update_command.h"

#include "app/cli/exit_codes.h"
#include "update/firmware_update.h"

namespace nerova::cli::win {

int UpdateFirmware(const std::wstring& package, Console& console) {
  const std::optional<std::wstring> directory = update::UnpackPackage(package);
  if (!directory) {
    console.Err(update::kUnpackFailedText);
    return kExitFailed;
  }
  const update::ToolStart start = update::StartFlashingTool(*directory, update::ShellBoxes::Suppressed);
  switch (start.outcome) {
    case update::FirmwareUpdateOutcome::kToolStarted:
      console.Out(L"The flashing tool is running from " + *directory + L".");
      return kExitOk;
    case update::FirmwareUpdateOutcome::kLaunchCancelled:
      console.Err(update::kLaunchCancelledText);
      return kExitFailed;
    default:
      console.Err(update::LaunchFailedText(start.error));
      return kExitFailed;
  }
}

}  // namespace nerova::cli::win
