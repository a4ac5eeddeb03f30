#pragma once
// Runs a COrlenkDlg modally on a thread of its own, the way the program runs
// it, and lets a test look at it from outside and run code on its thread.
#include <windows.h>

#include <chrono>
#include <functional>
#include <memory>
#include <thread>

#include "link/capture_stack.h"
#include "settings/win/orlenk_dlg.h"

namespace nerova::settings::win::testing {

class DialogRunner {
 public:
  // Starts the thread and waits until the window has finished starting up,
  // its first load included.
  explicit DialogRunner(link::CaptureStack& stack);
  // Closes the window as the tray's Exit does (WM_CLOSE) and joins the thread.
  ~DialogRunner();
  DialogRunner(const DialogRunner&) = delete;
  DialogRunner& operator=(const DialogRunner&) = delete;

  bool Started() const { return m_window != nullptr; }
  HWND Window() const { return m_window; }
  HWND Item(int id) const { return GetDlgItem(m_window, id); }
  // The modal result once the thread has ended (Join).
  INT_PTR Result() const { return m_result; }
  // Waits for the thread to end by itself.
  bool Join(std::chrono::milliseconds timeout);

  // Runs `task` on the window's thread, between two of its messages, and
  // waits for it. The task may run while the window waits between receiver
  // requests, as any window message would.
  void OnDialogThread(const std::function<void(COrlenkDlg&)>& task);
  // The same, returning the task's answer.
  bool Ask(const std::function<bool(COrlenkDlg&)>& question);
  // True once the window runs no receiver exchange and `question` holds.
  bool Idle(const std::function<bool(COrlenkDlg&)>& question);

  std::wstring Text(int id) const;
  bool Visible(int id) const { return IsWindowVisible(Item(id)) != FALSE; }
  bool Enabled(int id) const { return IsWindowEnabled(Item(id)) != FALSE; }

 private:
  void Run(link::CaptureStack& stack);
  // The visible settings window of the runner's thread, or null.
  HWND OwnSettingsWindow() const;

  std::thread m_thread;
  HANDLE m_ended = nullptr;
  HWND m_helper = nullptr;
  DWORD m_threadId = 0;
  HWND m_window = nullptr;
  INT_PTR m_result = -1;
};

// Polls `condition` until it holds or `timeout` passes; `poke` (if given)
// runs before each poll.
bool WaitFor(const std::function<bool()>& condition,
             std::chrono::milliseconds timeout = std::chrono::seconds(20),
             const std::function<void()>& poke = nullptr);

}  // namespace nerova::settings::win::testing
