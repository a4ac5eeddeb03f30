#pragma once
// Starting the flashing tool, with a seam: tests may install a handler that
// receives the launch record in place of ShellExecuteExW.
#include <windows.h>
#include <shellapi.h>

#include <functional>

#include "ui/scoped_override.h"

namespace nerova::update {

// Behaves as ShellExecuteExW: nonzero when the program started, otherwise
// zero with the thread's last error telling why.
using LaunchHandler = std::function<BOOL(SHELLEXECUTEINFOW&)>;

BOOL LaunchProgram(SHELLEXECUTEINFOW& record);

// While it lives, LaunchProgram calls `handler` instead.
using ScopedLaunchHandler = ui::ScopedOverride<LaunchHandler>;

}  // namespace nerova::update
