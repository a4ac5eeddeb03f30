#pragma once
// The one dialog base of the program. A dialog object runs its window from a
// template resource of the program's module as a modal dialog on the calling
// thread. The static dialog procedure keeps `this` in DWLP_USER and routes
// each message it knows to one named virtual handler; everything else, and
// every handler that declines, goes to the dialog manager's default. No
// exception ever leaves a handler into Win32.
#include <windows.h>

#include <atomic>
#include <optional>
#include <span>
#include <string>

namespace nerova::ui {

class DataExchange;

// Posted to one of our dialogs to end its modal loop from any thread; wParam
// is the result that RunModal returns. The window answers it on its own
// thread with EndDialog. (WM_APP range: private to our windows, clear of the
// dialog manager's DM_* messages at WM_USER.)
inline constexpr UINT kMsgEndModal = WM_APP + 0x100;

// Asks `dialog` to end its modal loop with `result`; callable from any thread.
bool PostEndModal(HWND dialog, INT_PTR result);

// The module whose resources (templates, pictures, icon) the windows use:
// the executable.
HINSTANCE ResourceModule();

class Dialog {
 public:
  explicit Dialog(int templateId) : m_templateId(templateId) {}
  virtual ~Dialog();
  Dialog(const Dialog&) = delete;
  Dialog& operator=(const Dialog&) = delete;

  // Creates the window from the template and runs its modal loop on the
  // calling thread until EndModal, a kMsgEndModal, or a WM_QUIT (which stays
  // posted for the thread's own loop). `owner` may be null. Returns the
  // result given to EndModal, or -1 when the window could not be created.
  INT_PTR RunModal(HWND owner = nullptr);
  // Ends the modal loop once the current message has been handled.
  void EndModal(INT_PTR result);

  // The window while it exists, else null. Readable from any thread (the
  // tray host reads it to post WM_CLOSE to a window of another thread).
  HWND Handle() const { return m_hwnd.load(); }
  int TemplateId() const { return m_templateId; }

  // Controls by id; all of them do nothing for an id the window lacks.
  HWND Item(int id) const;
  void ShowItem(int id, bool show) const;
  void EnableItem(int id, bool enable) const;
  std::wstring ItemText(int id) const;
  void SetItemText(int id, const std::wstring& text) const;
  // Appends the items to a combo box in the order given (a sorted combo
  // sorts them itself).
  void AddComboItems(int id, std::span<const wchar_t* const> items) const;

  // Runs DoDataExchange towards the controls: member values into controls.
  void TransferToControls();
  // Runs DoDataExchange towards the members. False when a control's content
  // was refused (the user has been told why, and the control has the focus);
  // the members after the refused one keep their values.
  bool TransferToMembers();

 protected:
  // WM_INITDIALOG. The base copies the members to the controls once; a
  // derived class adds combo items before calling it. Return true to let the
  // dialog manager set the default focus.
  virtual bool OnInitDialog();
  // The two-way transfer; the base transfers nothing.
  virtual void DoDataExchange(DataExchange& exchange);
  // WM_COMMAND. The base runs OnOk for IDOK and OnCancel for IDCANCEL.
  virtual void OnCommand(int id, int code, HWND control);
  // Enter: the controls go to the members and, when they are accepted, the
  // window ends with IDOK.
  virtual void OnOk();
  // Escape, the close box, WM_CLOSE: the window ends with IDCANCEL.
  virtual void OnCancel();
  // WM_NOTIFY. A value is the message's result; nullopt: default handling.
  virtual std::optional<LRESULT> OnNotify(const NMHDR& header);
  // WM_TIMER. False: default handling.
  virtual bool OnTimer(UINT_PTR timerId);
  // WM_PAINT. Return true only after painting (a PaintScope); false lets the
  // dialog manager paint.
  virtual bool OnPaint();
  // WM_ERASEBKGND. A value: the message's result; nullopt: default erase.
  virtual std::optional<LRESULT> OnEraseBackground(HDC dc);
  // WM_HSCROLL from a trackbar or scroll bar. False: default handling.
  virtual bool OnHScroll(int code, int position, HWND control);
  // WM_LBUTTONDOWN in the client area. The default handling runs either way.
  virtual void OnLButtonDown(UINT keys, POINT point);
  // WM_QUERYDRAGICON: the icon to drag for a minimised window, or null.
  virtual HICON OnQueryDragIcon();
  // WM_DEVICECHANGE. A value: the message's result; nullopt: default.
  virtual std::optional<LRESULT> OnDeviceChange(WPARAM event, LPARAM data);
  // Messages from WM_USER + 3 up (the program's own and registered ones),
  // except kMsgEndModal. A value: the message's result; nullopt: default.
  virtual std::optional<LRESULT> OnPrivateMessage(UINT message, WPARAM wParam, LPARAM lParam);
  // WM_DESTROY: the window and its controls still exist.
  virtual void OnDestroy();

 private:
  static INT_PTR CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR Route(UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR Answer(LRESULT result) const;

  int m_templateId;
  std::atomic<HWND> m_hwnd{nullptr};
  // Ended because its thread was told to stop (the dialog's own thread only).
  bool m_bEndedForStop = false;
};

}  // namespace nerova::ui
