#include "link/win/named_mutex_locks.h"

#include <windows.h>
#include <sddl.h>

#include <new>
#include <utility>
#include <vector>

#include "link/win/directshow_capture_stack.h"
#include "ui/handles.h"

namespace nerova::link::win {
namespace {

LinkStatus LastErrorStatus() { return StatusOf(HRESULT_FROM_WIN32(GetLastError())); }

// The SID of the process token's user as text ("S-1-5-21-...").
LinkStatus ReadUserSid(std::wstring& sid) {
  sid.clear();
  HANDLE rawToken = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &rawToken)) return LastErrorStatus();
  const ui::KernelHandle token(rawToken);
  DWORD size = 0;
  GetTokenInformation(token.Get(), TokenUser, nullptr, 0, &size);
  if (size < sizeof(TOKEN_USER)) return LastErrorStatus();
  // TOKEN_USER holds pointers: the buffer is allocated with their alignment.
  std::vector<void*> buffer((size + sizeof(void*) - 1) / sizeof(void*));
  if (!GetTokenInformation(token.Get(), TokenUser, buffer.data(), size, &size)) return LastErrorStatus();
  wchar_t* text = nullptr;
  if (!ConvertSidToStringSidW(static_cast<TOKEN_USER*>(static_cast<void*>(buffer.data()))->User.Sid, &text)) {
    return LastErrorStatus();
  }
  const ui::LocalMemory ownedText(text);
  sid = text;
  return LinkStatus::Success();
}

std::wstring NameFor(const std::wstring& userSid, const std::wstring& key) {
  std::wstring name = L"Global\\NerovaReceiver-" + userSid + L"-";
  for (const wchar_t c : key) name += c == L'\\' ? L'/' : c;
  return name;
}

// Grants the user every right to the mutex. Its medium mandatory label lets
// a program of the user at medium integrity take a mutex that an elevated
// one created, which would otherwise carry the elevated token's high label,
// whose no-write-up refuses it. Without the label where the system does not
// take one.
LinkStatus LockSecurity(const std::wstring& userSid, ui::LocalMemory& descriptor) {
  static_assert(MUTEX_ALL_ACCESS == 0x001F0001);
  const std::wstring grant = L"D:(A;;0x001F0001;;;" + userSid + L")";
  for (const std::wstring& text : {grant + L"S:(ML;;NW;;;ME)", grant}) {
    PSECURITY_DESCRIPTOR made = nullptr;
    if (ConvertStringSecurityDescriptorToSecurityDescriptorW(text.c_str(), SDDL_REVISION_1, &made, nullptr)) {
      descriptor = ui::LocalMemory(made);
      return LinkStatus::Success();
    }
  }
  return LastErrorStatus();
}

// Sole owner of the mutex handle; gives the mutex back if it holds it.
class NamedMutexLock final : public ReceiverLock {
 public:
  explicit NamedMutexLock(ui::KernelHandle mutex) : m_mutex(std::move(mutex)) {}
  ~NamedMutexLock() override { Release(); }
  NamedMutexLock(const NamedMutexLock&) = delete;
  NamedMutexLock& operator=(const NamedMutexLock&) = delete;

  LinkStatus TryTake(bool& taken) override {
    taken = false;
    switch (WaitForSingleObject(m_mutex.Get(), 0)) {
      case WAIT_OBJECT_0:
      case WAIT_ABANDONED:
        // A mutex is the thread's as often as it was taken: taken once more
        // by its owner, it is given back once more.
        if (m_held) ReleaseMutex(m_mutex.Get());
        m_held = true;
        taken = true;
        return LinkStatus::Success();
      case WAIT_TIMEOUT:
        return LinkStatus::Success();
      default:
        return LastErrorStatus();
    }
  }

  void Release() override {
    if (!std::exchange(m_held, false)) return;
    ReleaseMutex(m_mutex.Get());
  }

 private:
  ui::KernelHandle m_mutex;
  bool m_held = false;
};

}  // namespace

std::wstring MutexName(const std::wstring& key) {
  std::wstring userSid;
  if (!ReadUserSid(userSid).Ok()) return {};
  return NameFor(userSid, key);
}

LinkStatus NamedMutexLocks::Open(const std::wstring& key, std::unique_ptr<ReceiverLock>& out) {
  out.reset();
  std::wstring userSid;
  if (const LinkStatus status = ReadUserSid(userSid); !status.Ok()) return status;
  ui::LocalMemory descriptor;
  if (const LinkStatus status = LockSecurity(userSid, descriptor); !status.Ok()) return status;
  SECURITY_ATTRIBUTES security{sizeof security, descriptor.Get(), FALSE};
  const std::wstring name = NameFor(userSid, key);
  ui::KernelHandle mutex(CreateMutexW(&security, FALSE, name.c_str()));
  // Opening an existing mutex asks for every right; one whose security
  // grants fewer (a label that could not be set, another owner) is opened
  // with just the rights a turn needs: to wait for it and to give it back.
  if (!mutex && GetLastError() == ERROR_ACCESS_DENIED) {
    mutex = ui::KernelHandle(OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, name.c_str()));
  }
  if (!mutex) return LastErrorStatus();
  out.reset(new (std::nothrow) NamedMutexLock(std::move(mutex)));
  if (!out) return StatusOf(E_OUTOFMEMORY);
  return LinkStatus::Success();
}

}  // namespace nerova::link::win
