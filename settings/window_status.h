#pragma once
// The one line under the password that says what the settings window is
// waiting for, so that no state is shown by grey fields alone.
#include <string_view>

namespace nerova::settings {

enum class WindowStatus {
  // Loaded and live: nothing to wait for.
  Ready,
  Reading,
  NoReceiver,
  Restarting,
  InUse,
  NotLockable,
  DidNotRestart,
};

inline std::wstring_view StatusText(WindowStatus status) {
  switch (status) {
    case WindowStatus::Ready:
      return L"";
    case WindowStatus::Reading:
      return L"Reading the receiver\u2026";
    case WindowStatus::NoReceiver:
      return L"No receiver found: plug it in";
    case WindowStatus::Restarting:
      return L"The receiver is restarting\u2026";
    case WindowStatus::InUse:
      return L"The receiver is in use by another program";
    case WindowStatus::NotLockable:
      return L"The receiver's lock cannot be taken: close other programs that use the receiver";
    case WindowStatus::DidNotRestart:
      return L"The receiver did not restart: unplug it and plug it back in";
  }
  return L"";
}

}  // namespace nerova::settings
