// Stands in for the flashing tool that firmware packages carry. It writes
// where it was started from and how, into the file that the environment
// variable NEROVA_STANDIN_RECORD names, then exits. The record is written
// under a second name and renamed, so a reader never sees half of it.
//
// Record, UTF-16 lines: working directory, command line, argument count
// (the program's own name included), the show command it was given.
#include <windows.h>
#include <shellapi.h>

#include <string>

namespace {

std::wstring EnvironmentValue(const wchar_t* name) {
  const DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
  if (size == 0) return {};
  std::wstring value(size, L'\0');
  const DWORD length = GetEnvironmentVariableW(name, value.data(), size);
  value.resize(length < size ? length : 0);
  return value;
}

std::wstring CurrentDirectory() {
  const DWORD size = GetCurrentDirectoryW(0, nullptr);
  std::wstring directory(size, L'\0');
  const DWORD length = GetCurrentDirectoryW(size, directory.data());
  directory.resize(length < size ? length : 0);
  return directory;
}

bool WriteWhole(const std::wstring& path, const std::wstring& text) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  const DWORD bytes = static_cast<DWORD>(text.size() * sizeof(wchar_t));
  DWORD written = 0;
  const bool ok = WriteFile(file, text.data(), bytes, &written, nullptr) && written == bytes;
  CloseHandle(file);
  return ok;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  const std::wstring recordPath = EnvironmentValue(L"NEROVA_STANDIN_RECORD");
  if (recordPath.empty()) return 2;

  int argumentCount = 0;
  if (LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &argumentCount)) LocalFree(arguments);
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  GetStartupInfoW(&startup);
  const int show = (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : -1;

  const std::wstring record = CurrentDirectory() + L"\n" + GetCommandLineW() + L"\n" +
                              std::to_wstring(argumentCount) + L"\n" + std::to_wstring(show) + L"\n";
  const std::wstring partial = recordPath + L".partial";
  if (!WriteWhole(partial, record)) return 3;
  return MoveFileExW(partial.c_str(), recordPath.c_str(), MOVEFILE_REPLACE_EXISTING) ? 0 : 4;
}
