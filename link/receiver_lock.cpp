#include "link/receiver_lock.h"

namespace nerova::link {
namespace {

class AlwaysFree final : public ReceiverLock {
 public:
  LinkStatus TryTake(bool& taken) override {
    taken = true;
    return LinkStatus::Success();
  }
  void Release() override {}
};

class FreeLockSource final : public ReceiverLocks {
 public:
  LinkStatus Open(const std::wstring&, std::unique_ptr<ReceiverLock>& out) override {
    out = std::make_unique<AlwaysFree>();
    return LinkStatus::Success();
  }
};

wchar_t Lower(wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

}  // namespace

ReceiverLocks& FreeLocks() {
  static FreeLockSource locks;
  return locks;
}

std::wstring ReceiverKey(std::wstring_view displayName) {
  std::wstring key;
  key.reserve(displayName.size());
  for (wchar_t c : displayName) key += Lower(c);
  if (const std::size_t usb = key.find(L"usb#"); usb != std::wstring::npos) key.erase(0, usb);
  if (const std::size_t interfaceClass = key.find(L"#{"); interfaceClass != std::wstring::npos) {
    key.erase(interfaceClass);
  }
  return key;
}

}  // namespace nerova::link
