#include "link/win/named_mutex_locks.h"

#include <windows.h>

#include <new>
#include <utility>

#include "link/win/directshow_capture_stack.h"

namespace nerova::link::win {
namespace {

LinkStatus LastErrorStatus() { return StatusOf(HRESULT_FROM_WIN32(GetLastError())); }

// Sole owner of the mutex handle; gives the mutex back if it holds it.
class NamedMutexLock final : public ReceiverLock {
 public:
  explicit NamedMutexLock(HANDLE mutex) : m_mutex(mutex) {}
  ~NamedMutexLock() override {
    Release();
    CloseHandle(m_mutex);
  }
  NamedMutexLock(const NamedMutexLock&) = delete;
  NamedMutexLock& operator=(const NamedMutexLock&) = delete;

  LinkStatus TryTake(bool& taken) override {
    taken = false;
    switch (WaitForSingleObject(m_mutex, 0)) {
      case WAIT_OBJECT_0:
      case WAIT_ABANDONED:
        // A mutex is the thread's as often as it was taken: taken once more
        // by its owner, it is given back once more.
        if (m_held) ReleaseMutex(m_mutex);
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
    ReleaseMutex(m_mutex);
  }

 private:
  HANDLE m_mutex;
  bool m_held = false;
};

}  // namespace

std::wstring MutexName(const std::wstring& key) {
  std::wstring name = L"Local\\NerovaReceiver:" + key;
  for (std::size_t i = 6; i < name.size(); ++i) {
    if (name[i] == L'\\') name[i] = L'/';
  }
  return name;
}

LinkStatus NamedMutexLocks::Open(const std::wstring& key, std::unique_ptr<ReceiverLock>& out) {
  out.reset();
  HANDLE mutex = CreateMutexW(nullptr, FALSE, MutexName(key).c_str());
  if (mutex == nullptr) return LastErrorStatus();
  out.reset(new (std::nothrow) NamedMutexLock(mutex));
  if (!out) {
    CloseHandle(mutex);
    return StatusOf(E_OUTOFMEMORY);
  }
  return LinkStatus::Success();
}

}  // namespace nerova::link::win
