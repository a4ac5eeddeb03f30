#include "ui/open_file_dialog.h"

#include <shobjidl.h>
#include <wrl/client.h>

#include <utility>

#include "ui/handles.h"

namespace nerova::ui {

namespace {

using Microsoft::WRL::ComPtr;


OpenFileResult Failure(HRESULT hr) { return {OpenFileResult::Outcome::kFailed, {}, hr}; }

// Frees a string the shell allocated with CoTaskMemAlloc.
struct TaskMemString {
  PWSTR text = nullptr;
  ~TaskMemString() { CoTaskMemFree(text); }
};

OpenFileResult ShowDialog(const OpenFileRequest& request) {
  ComPtr<IFileOpenDialog> dialog;
  HRESULT hr = CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&dialog));
  if (FAILED(hr)) return Failure(hr);

  std::vector<COMDLG_FILTERSPEC> fileTypes;
  fileTypes.reserve(request.filters.size());
  for (const FileFilterEntry& entry : request.filters) fileTypes.push_back({entry.name.c_str(), entry.pattern.c_str()});
  if (!fileTypes.empty()) {
    hr = dialog->SetFileTypes(static_cast<UINT>(fileTypes.size()), fileTypes.data());
    if (FAILED(hr)) return Failure(hr);
    dialog->SetFileTypeIndex(1);
  }

  FILEOPENDIALOGOPTIONS options = 0;
  hr = dialog->GetOptions(&options);
  if (FAILED(hr)) return Failure(hr);
  hr = dialog->SetOptions(options | FOS_FORCEFILESYSTEM | FOS_PATHMUSTEXIST | FOS_FILEMUSTEXIST);
  if (FAILED(hr)) return Failure(hr);

  hr = dialog->Show(request.owner);
  if (hr == HRESULT_FROM_WIN32(ERROR_CANCELLED)) return {};
  if (FAILED(hr)) return Failure(hr);

  ComPtr<IShellItem> item;
  hr = dialog->GetResult(&item);
  if (FAILED(hr)) return Failure(hr);
  TaskMemString path;
  hr = item->GetDisplayName(SIGDN_FILESYSPATH, &path.text);
  if (FAILED(hr) || !path.text) return Failure(FAILED(hr) ? hr : E_UNEXPECTED);
  return {OpenFileResult::Outcome::kChosen, path.text, S_OK};
}

}  // namespace

OpenFileResult ChooseFileToOpen(HWND owner, std::wstring_view filter) {
  OpenFileRequest request{owner, ParseFileFilter(filter)};
  if (OpenFileHandler handler = ScopedOpenFileHandler::Current()) return handler(request);
  // Joins the thread's apartment, or opens one for the call.
  ComApartment apartment;
  if (FAILED(apartment.Result()) && apartment.Result() != RPC_E_CHANGED_MODE) return Failure(apartment.Result());
  return ShowDialog(request);
}

}  // namespace nerova::ui
