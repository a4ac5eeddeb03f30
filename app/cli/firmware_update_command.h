#pragma once
// "nerova-cli update PACKAGE" on Windows: the package unpacked into a fresh
// extraction directory and its flashing tool started from there, as the
// settings window's FW Update does after its file dialog.
#include <string>

#include "app/cli/console.h"

namespace nerova::cli::win {

// The exit status.
int UpdateFirmware(const std::wstring& package, Console& console);

}  // namespace nerova::cli::win
