#pragma once
// Logoff and shutdown as nerova-cli on Windows meets them. A console program
// that has loaded user32 (DirectShow does) gets no console event for them:
// Windows asks its top-level windows instead, with WM_QUERYENDSESSION and
// WM_ENDSESSION, and may end the process once WM_ENDSESSION has been
// answered. A hidden window on a thread of its own takes those messages,
// tells the command to stop at its next look, and answers WM_ENDSESSION
// only once no configuration is going out.
#include <windows.h>

#include <functional>
#include <thread>

namespace nerova::cli::win {

class SessionEndWindow {
 public:
  // `stop` runs on the window's thread when the session ends.
  explicit SessionEndWindow(std::function<void()> stop);
  ~SessionEndWindow();
  SessionEndWindow(const SessionEndWindow&) = delete;
  SessionEndWindow& operator=(const SessionEndWindow&) = delete;

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  void Run(HANDLE created);

  std::function<void()> m_stop;
  HWND m_window = nullptr;
  std::thread m_thread;
};

}  // namespace nerova::cli::win
