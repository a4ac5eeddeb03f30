#include "sim/virtual/shared_receiver.h"

#include <shlobj.h>

namespace nerova::sim::virtual_receiver {
namespace {

constexpr wchar_t kMutexName[] = L"Local\\NerovaVirtualReceiver";
constexpr DWORD kLockTimeoutMs = 10000;

std::wstring DataDirectory() {
  wchar_t common[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA | CSIDL_FLAG_CREATE, nullptr, 0, common))) return {};
  std::wstring directory = std::wstring(common) + L"\\Nerova Virtual Receiver";
  CreateDirectoryW(directory.c_str(), nullptr);
  return directory;
}

// The first receiver's names carry no number, as before there was a second.
std::wstring NumberSuffix(const VirtualReceiver& receiver) {
  return receiver.number == 1 ? std::wstring() : L"-" + std::to_wstring(receiver.number);
}

std::optional<std::string> ReadWhole(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::nullopt;
  std::string bytes;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) bytes.append(buffer, got);
  CloseHandle(file);
  return bytes;
}

bool WriteWhole(const std::wstring& path, const std::string& bytes, DWORD disposition) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  if (disposition == OPEN_ALWAYS) SetFilePointer(file, 0, nullptr, FILE_END);
  DWORD written = 0;
  const bool ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                  written == bytes.size();
  CloseHandle(file);
  return ok;
}

std::string FormatTime(std::int64_t ms) {
  const std::uint64_t ticks = static_cast<std::uint64_t>(ms) * 10000;
  FILETIME utc{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
  SYSTEMTIME t{};
  FileTimeToSystemTime(&utc, &t);
  char text[32];
  wsprintfA(text, "%04u-%02u-%02uT%02u:%02u:%02u.%03u", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond,
            t.wMilliseconds);
  return text;
}

}  // namespace

const VirtualReceiver* FindReceiver(int number) {
  for (const VirtualReceiver* receiver : kReceivers) {
    if (receiver->number == number) return receiver;
  }
  return nullptr;
}

std::int64_t NowMs() {
  FILETIME now{};
  GetSystemTimeAsFileTime(&now);
  const std::uint64_t ticks = (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  return static_cast<std::int64_t>(ticks / 10000);
}

ReceiverLock::ReceiverLock(const VirtualReceiver& receiver)
    : m_receiver(receiver), m_hMutex(CreateMutexW(nullptr, FALSE, (kMutexName + NumberSuffix(receiver)).c_str())) {
  if (!m_hMutex) return;
  const DWORD waited = WaitForSingleObject(m_hMutex, kLockTimeoutMs);
  // A holder that died leaves the files as it last wrote them, whole.
  m_bHeld = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
}

ReceiverLock::~ReceiverLock() {
  if (m_bHeld) ReleaseMutex(m_hMutex);
  if (m_hMutex) CloseHandle(m_hMutex);
}

std::wstring ReceiverLock::RecordPath() const {
  return DataDirectory() + L"\\receiver" + NumberSuffix(m_receiver) + L".txt";
}

std::wstring ReceiverLock::LogPath() const {
  return DataDirectory() + L"\\transfers" + NumberSuffix(m_receiver) + L".log";
}

ReceiverRecord ReceiverLock::Load() const { return ParseRecord(ReadWhole(RecordPath()).value_or(std::string())); }

bool ReceiverLock::Save(const ReceiverRecord& record) const {
  return WriteWhole(RecordPath(), FormatRecord(record), CREATE_ALWAYS);
}

void ReceiverLock::AppendLog(const std::vector<TransferRecord>& transfers) const {
  std::string lines;
  for (const TransferRecord& t : transfers) {
    if (t.kind != TransferKind::Set && t.kind != TransferKind::Get) continue;
    lines += FormatTime(t.time.count());
    lines += t.kind == TransferKind::Set ? " SET " : " GET ";
    lines += ToHex(std::string(t.bytes.begin(), t.bytes.end()), ' ');
    lines += '\n';
  }
  if (!lines.empty()) WriteWhole(LogPath(), lines, OPEN_ALWAYS);
}

std::string ReceiverLock::ReadLog() const { return ReadWhole(LogPath()).value_or(std::string()); }

void ReceiverLock::ClearLog() const { DeleteFileW(LogPath().c_str()); }

}  // namespace nerova::sim::virtual_receiver
