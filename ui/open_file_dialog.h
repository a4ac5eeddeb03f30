#pragma once
// The system's open-file dialog (IFileOpenDialog) for one existing file
// system file, shown modally over an owner window. Tests may install a
// handler that answers in place of the dialog.
#include <windows.h>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "ui/file_filter.h"
#include "ui/scoped_override.h"

namespace nerova::ui {

struct OpenFileRequest {
  HWND owner = nullptr;
  std::vector<FileFilterEntry> filters;
};

struct OpenFileResult {
  enum class Outcome { kChosen, kCancelled, kFailed };
  Outcome outcome = Outcome::kCancelled;
  std::wstring path;    // the chosen file's full path when kChosen
  HRESULT error = S_OK;  // the failing call's result when kFailed

  bool Chosen() const { return outcome == Outcome::kChosen; }
};

// `filter` as ParseFileFilter reads it, e.g. L"Flashing Package File(*.zip)|*.zip||".
// The dialog shows no read-only option, needs an existing file and returns a
// file system path. The calling thread's COM apartment is used, or opened
// for the call when there is none.
OpenFileResult ChooseFileToOpen(HWND owner, std::wstring_view filter);

using OpenFileHandler = std::function<OpenFileResult(const OpenFileRequest&)>;

// While it lives, ChooseFileToOpen asks `handler` instead of showing the
// dialog.
using ScopedOpenFileHandler = ScopedOverride<OpenFileHandler>;

}  // namespace nerova::ui
