#include "tests/update/firmware_update_test_support.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>
#include <stdexcept>
#include <system_error>

// zip.h brings ioapi.h, which iowin32.h needs first.
#include "zip.h"
#include "iowin32.h"

namespace nerova::update::testing {

namespace {

std::optional<std::wstring> EnvironmentValue(const wchar_t* name) {
  const DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
  if (size == 0) return std::nullopt;
  std::wstring value(size, L'\0');
  const DWORD length = GetEnvironmentVariableW(name, value.data(), size);
  value.resize(length < size ? length : 0);
  return value;
}

void RestoreEnvironment(const wchar_t* name, const std::optional<std::wstring>& value) {
  SetEnvironmentVariableW(name, value ? value->c_str() : nullptr);
}

fs::path FreshRoot() {
  static std::atomic<unsigned> counter{0};
  wchar_t temp[MAX_PATH] = {};
  if (GetTempPathW(MAX_PATH, temp) == 0) throw std::runtime_error("no temporary directory");
  return fs::path(temp) / (L"nerova-fwupdate-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                           std::to_wstring(counter.fetch_add(1)));
}

}  // namespace

namespace {

std::wstring NameOfLength(const fs::path& root, std::size_t tempPathLength) {
  // root + "\" + first + "\" + second + "\"
  const std::size_t rootLength = root.wstring().size();
  if (tempPathLength < rootLength + 6) throw std::runtime_error("temporary path too short to build");
  const std::size_t names = tempPathLength - rootLength - 3;
  const std::size_t first = names / 2;
  return std::wstring(first, L'd') + L"\\" + std::wstring(names - first, L'e');
}

}  // namespace

PrivateTemp::PrivateTemp(const std::wstring& tempName, bool createTemp) { Make(FreshRoot(), tempName, createTemp); }

PrivateTemp::PrivateTemp(OfLength tempPath) {
  fs::path root = FreshRoot();
  const std::wstring tempName = NameOfLength(root, tempPath.length);
  Make(std::move(root), tempName, true);
}

void PrivateTemp::Make(fs::path root, const std::wstring& tempName, bool createTemp) {
  m_root = std::move(root);
  m_temp = m_root / tempName;
  fs::remove_all(m_root);
  fs::create_directories(m_root / L"records");
  fs::create_directories(m_root / L"packages");
  if (createTemp) fs::create_directories(m_temp);
  m_previousTmp = EnvironmentValue(L"TMP");
  m_previousTemp = EnvironmentValue(L"TEMP");
  m_previousRecord = EnvironmentValue(L"NEROVA_STANDIN_RECORD");
  SetEnvironmentVariableW(L"TMP", m_temp.wstring().c_str());
  SetEnvironmentVariableW(L"TEMP", m_temp.wstring().c_str());
  SetEnvironmentVariableW(L"NEROVA_STANDIN_RECORD", RecordPath().wstring().c_str());
}

PrivateTemp::~PrivateTemp() {
  RestoreEnvironment(L"TMP", m_previousTmp);
  RestoreEnvironment(L"TEMP", m_previousTemp);
  RestoreEnvironment(L"NEROVA_STANDIN_RECORD", m_previousRecord);
  std::error_code ignored;
  fs::remove_all(m_root, ignored);
}

std::wstring PrivateTemp::TempPath() const { return m_temp.wstring() + L"\\"; }

void WritePackage(const fs::path& path, const std::vector<PackageFile>& files) {
  zlib_filefunc64_def functions{};
  fill_win32_filefunc64W(&functions);
  const std::wstring widePath = path.wstring();
  zipFile zip = zipOpen2_64(widePath.c_str(), APPEND_STATUS_CREATE, nullptr, &functions);
  if (!zip) throw std::runtime_error("zipOpen2_64 failed");
  for (const PackageFile& file : files) {
    zip_fileinfo info{};
    info.tmz_date.tm_year = 2024;
    info.tmz_date.tm_mon = 0;
    info.tmz_date.tm_mday = 15;
    info.tmz_date.tm_hour = 9;
    info.external_fa = file.directory ? 0x10 : 0x20;
    if (zipOpenNewFileInZip(zip, file.name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr,
                            file.directory ? 0 : Z_DEFLATED, Z_DEFAULT_COMPRESSION) != ZIP_OK)
      throw std::runtime_error("zipOpenNewFileInZip failed");
    if (!file.content.empty() &&
        zipWriteInFileInZip(zip, file.content.data(), static_cast<unsigned>(file.content.size())) != ZIP_OK)
      throw std::runtime_error("zipWriteInFileInZip failed");
    if (zipCloseFileInZip(zip) != ZIP_OK) throw std::runtime_error("zipCloseFileInZip failed");
  }
  if (zipClose(zip, nullptr) != ZIP_OK) throw std::runtime_error("zipClose failed");
}

std::string ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteBytes(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write test file");
}

std::string StandInToolBytes() {
  wchar_t self[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) throw std::runtime_error("GetModuleFileNameW failed");
  const std::string bytes = ReadBytes(fs::path(self).parent_path() / L"UsbScsiCmd.exe");
  if (bytes.size() < 2 || bytes.compare(0, 2, "MZ") != 0) throw std::runtime_error("stand-in tool missing");
  return bytes;
}

void DamageEntryData(const fs::path& package, const std::string& entryName) {
  std::string bytes = ReadBytes(package);
  auto u16 = [&](std::size_t at) {
    return static_cast<std::size_t>(static_cast<unsigned char>(bytes[at]) |
                                    (static_cast<unsigned char>(bytes[at + 1]) << 8));
  };
  for (std::size_t at = 0; at + 30 <= bytes.size(); ++at) {
    if (bytes.compare(at, 4, "PK\x03\x04") != 0) continue;
    const std::size_t nameLength = u16(at + 26);
    const std::size_t extraLength = u16(at + 28);
    if (bytes.compare(at + 30, nameLength, entryName) != 0 || nameLength != entryName.size()) continue;
    const std::size_t data = at + 30 + nameLength + extraLength;
    // 0xFF opens a deflate block of the reserved type 3: inflate refuses it.
    for (std::size_t i = 0; i < 8 && data + i < bytes.size(); ++i) bytes[data + i] = '\xFF';
    WriteBytes(package, bytes);
    return;
  }
  throw std::runtime_error("entry not found in package");
}

std::vector<std::string> ListTree(const fs::path& root) {
  std::vector<std::string> names;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root)) {
    std::string name = fs::relative(entry.path(), root).generic_string();
    if (entry.is_directory()) name += '/';
    names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::wstring> ListNames(const fs::path& directory) {
  std::vector<std::wstring> names;
  for (const fs::directory_entry& entry : fs::directory_iterator(directory))
    names.push_back(entry.path().filename().wstring());
  std::sort(names.begin(), names.end());
  return names;
}

std::optional<fs::path> SingleExtractionDirectory(const fs::path& temp) {
  const std::vector<std::wstring> names = ListNames(temp);
  if (names.size() != 2) return std::nullopt;
  // Unique parts are hexadecimal in either case: "OLK_" may sort either side.
  const std::wstring prefix = L"OLK_";
  const bool firstIsDirectory = names[0].rfind(prefix, 0) == 0;
  const std::wstring& directory = firstIsDirectory ? names[0] : names[1];
  const std::wstring& reserving = firstIsDirectory ? names[1] : names[0];
  if (directory != prefix + reserving) return std::nullopt;
  if (!fs::is_regular_file(temp / reserving) || !fs::is_directory(temp / directory)) return std::nullopt;
  return temp / directory;
}

std::optional<StandInRecord> WaitForRecord(const fs::path& path, DWORD timeoutMs) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  std::string bytes;
  while (true) {
    std::error_code error;
    if (fs::exists(path, error)) {
      bytes = ReadBytes(path);
      if (!bytes.empty()) break;
    }
    if (GetTickCount64() > deadline) return std::nullopt;
    Sleep(20);
  }
  std::wstring text(bytes.size() / sizeof(wchar_t), L'\0');
  std::memcpy(text.data(), bytes.data(), text.size() * sizeof(wchar_t));
  std::vector<std::wstring> lines;
  for (std::size_t start = 0; start < text.size();) {
    const std::size_t end = text.find(L'\n', start);
    if (end == std::wstring::npos) break;
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  if (lines.size() != 4) return std::nullopt;
  return StandInRecord{lines[0], lines[1], std::stoi(lines[2]), std::stoi(lines[3])};
}

AnsweredFileDialog::AnsweredFileDialog(ui::OpenFileResult answer)
    : m_answer(std::move(answer)), m_scope([this](const ui::OpenFileRequest& request) {
        m_requests.push_back(request);
        return m_answer;
      }) {}

ui::OpenFileResult AnsweredFileDialog::Chosen(const fs::path& path) {
  return {ui::OpenFileResult::Outcome::kChosen, path.wstring(), S_OK};
}

OwnerWindow::OwnerWindow()
    : m_hWnd(CreateWindowExW(0, L"STATIC", L"settings window", WS_POPUP, 0, 0, 100, 100, nullptr, nullptr,
                             GetModuleHandleW(nullptr), nullptr)) {}

OwnerWindow::~OwnerWindow() {
  if (m_hWnd) DestroyWindow(m_hWnd);
}

struct PlatformBoxDismisser::State {
  DWORD threadId = 0;
  HANDLE stop = nullptr;
  HANDLE thread = nullptr;
  mutable std::mutex mutex;
  std::vector<std::wstring> texts;  // guarded by mutex
  std::vector<HWND> seen;           // watcher thread only
};

namespace {

DWORD WINAPI DismissBoxes(void* parameter) {
  auto& state = *static_cast<PlatformBoxDismisser::State*>(parameter);
  while (WaitForSingleObject(state.stop, 20) == WAIT_TIMEOUT) {
    std::vector<HWND> windows;
    EnumThreadWindows(
        state.threadId,
        [](HWND window, LPARAM list) {
          reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
          return TRUE;
        },
        reinterpret_cast<LPARAM>(&windows));
    for (HWND window : windows) {
      wchar_t className[64] = {};
      GetClassNameW(window, className, 64);
      if (!IsWindowVisible(window) || std::wstring(className) != L"#32770") continue;
      if (std::find(state.seen.begin(), state.seen.end(), window) == state.seen.end()) {
        state.seen.push_back(window);
        wchar_t text[1024] = {};
        GetDlgItemTextW(window, 0xFFFF, text, 1024);
        std::lock_guard lock(state.mutex);
        state.texts.push_back(text);
      }
      PostMessageW(window, WM_COMMAND, IDOK, 0);
    }
  }
  return 0;
}

}  // namespace

PlatformBoxDismisser::PlatformBoxDismisser(DWORD threadId) : m_state(std::make_unique<State>()) {
  m_state->threadId = threadId;
  m_state->stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  m_state->thread = CreateThread(nullptr, 0, DismissBoxes, m_state.get(), 0, nullptr);
}

PlatformBoxDismisser::~PlatformBoxDismisser() {
  SetEvent(m_state->stop);
  WaitForSingleObject(m_state->thread, INFINITE);
  CloseHandle(m_state->thread);
  CloseHandle(m_state->stop);
}

std::vector<std::wstring> PlatformBoxDismisser::Texts() const {
  std::lock_guard lock(m_state->mutex);
  return m_state->texts;
}

std::wstring Lower(std::wstring text) {
  if (!text.empty()) CharLowerBuffW(text.data(), static_cast<DWORD>(text.size()));
  return text;
}

}  // namespace nerova::update::testing
