#include "ui/message_box.h"

#include <utility>

#include "ui/thread_stop.h"

namespace nerova::ui {

int ShowMessage(HWND owner, const std::wstring& text, UINT type) {
  return ShowMessage(owner, text, kApplicationName, type);
}

int ShowMessage(HWND owner, const std::wstring& text, const std::wstring& caption, UINT type) {
  // A thread that is being stopped shows nothing more; 0 is what MessageBoxW
  // answers when it shows no box.
  if (ThreadStopRequested()) return 0;
  // The handler is called outside the lock: it may show boxes of its own.
  if (MessageBoxHandler handler = ScopedMessageBoxHandler::Current()) {
    return handler(MessageBoxRequest{owner, text, caption, type});
  }
  return MessageBoxW(owner, text.c_str(), caption.c_str(), type);
}

}  // namespace nerova::ui
