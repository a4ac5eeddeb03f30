#include "ui/message_box.h"

#include <mutex>
#include <utility>

#include "ui/thread_stop.h"

namespace nerova::ui {

namespace {

std::mutex g_handlerMutex;
MessageBoxHandler g_handler;  // guarded by g_handlerMutex

MessageBoxHandler CurrentHandler() {
  std::lock_guard lock(g_handlerMutex);
  return g_handler;
}

}  // namespace

int ShowMessage(HWND owner, const std::wstring& text, UINT type) {
  return ShowMessage(owner, text, kApplicationName, type);
}

int ShowMessage(HWND owner, const std::wstring& text, const std::wstring& caption, UINT type) {
  // A thread that is being stopped shows nothing more; 0 is what MessageBoxW
  // answers when it shows no box.
  if (ThreadStopRequested()) return 0;
  // The handler is called outside the lock: it may show boxes of its own.
  if (MessageBoxHandler handler = CurrentHandler()) return handler(MessageBoxRequest{owner, text, caption, type});
  return MessageBoxW(owner, text.c_str(), caption.c_str(), type);
}

ScopedMessageBoxHandler::ScopedMessageBoxHandler(MessageBoxHandler handler) {
  std::lock_guard lock(g_handlerMutex);
  m_previous = std::exchange(g_handler, std::move(handler));
}

ScopedMessageBoxHandler::~ScopedMessageBoxHandler() {
  std::lock_guard lock(g_handlerMutex);
  g_handler = std::move(m_previous);
}

}  // namespace nerova::ui
