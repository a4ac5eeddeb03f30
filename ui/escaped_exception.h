#pragma once
// Where an exception reaches a boundary that Win32 (or a thread start)
// must not see it cross: the failure goes to the debugger output, naming
// the place, and the caller carries on with its default.

namespace nerova::ui {

// Call inside a catch block only. `where` completes "exception in ...".
void ReportEscapedException(const char* where) noexcept;

}  // namespace nerova::ui
