#pragma once
// Helpers for the window tests under Wine: common controls, waiting for
// conditions while the thread's messages are dispatched, dialogs that run a
// test script inside their own modal loop, and windows of other threads.
#include <windows.h>

#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "ui/dialog.h"
#include "ui/message_box.h"

namespace nerova::test {

// Generous: CI machines are slow and Wine starts slowly.
inline constexpr DWORD kTimeoutMs = 20000;

// Registers the common control classes (the trackbar among them) once.
void InitCommonControlsForTests();

// Dispatches the calling thread's messages until `condition` holds or the
// time-out passes; returns whether it held.
bool PumpUntil(const std::function<bool()>& condition, DWORD timeoutMs = kTimeoutMs);
// Dispatches what is queued now.
void PumpPending();
// Polls `condition` from a thread that owns no windows.
bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs = kTimeoutMs);

// Top-level windows of a thread.
std::vector<HWND> ThreadWindows(DWORD threadId);
// The first visible top-level window of `threadId` of the dialog class
// (#32770) that satisfies `match`, waited for.
HWND WaitForThreadDialog(DWORD threadId, const std::function<bool(HWND)>& match, DWORD timeoutMs = kTimeoutMs);

std::wstring WindowText(HWND window);
std::wstring ClassName(HWND window);
RECT ClientRectOnScreen(HWND window);
// The colour shown at a point of a window's client area.
COLORREF PixelAt(HWND window, int x, int y);

// While it lives, every box of the process comes here instead of the screen
// and is answered with IDOK. Boxes may come from any thread.
class CapturedBoxes {
 public:
  CapturedBoxes();
  std::vector<ui::MessageBoxRequest> Boxes() const;
  std::vector<std::wstring> Texts() const;

 private:
  mutable std::mutex m_mutex;
  std::vector<ui::MessageBoxRequest> m_boxes;  // guarded by m_mutex
  ui::ScopedMessageBoxHandler m_scope;
};

// A dialog that, once its modal loop is running, runs a test script inside
// that loop and then ends with kScriptEnded, unless the script called
// LeaveOpen (to end the window some other way).
class ScriptedDialog : public ui::Dialog {
 public:
  static constexpr INT_PTR kScriptEnded = 4242;
  using Script = std::function<void(ScriptedDialog&)>;

  explicit ScriptedDialog(int templateId) : ui::Dialog(templateId) {}
  INT_PTR RunScript(Script script, HWND owner = nullptr);
  void LeaveOpen() { m_endAfterScript = false; }

  // Expose the protected transfers and handlers' effects to tests.
  using ui::Dialog::TransferToControls;
  using ui::Dialog::TransferToMembers;

 protected:
  bool OnInitDialog() override;
  std::optional<LRESULT> OnPrivateMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  Script m_script;
  bool m_endAfterScript = true;
};

}  // namespace nerova::test
