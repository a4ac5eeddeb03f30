#include "settings/win/orlenk_dlg.h"

#include <commctrl.h>

#include "resources/resource_ids.h"
#include "settings/long_press.h"
#include "settings/win/label_fit.h"
#include "ui/data_exchange.h"
#include "ui/message_box.h"
#include "update/firmware_update.h"
#include "widgets/gdiplus_session.h"
#include "widgets/help_overlay.h"
#include "widgets/logo.h"
#include "widgets/png_image.h"

namespace nerova::settings::win {
namespace {

constexpr const wchar_t* kModeItems[] = {L"Auto", L"Manual"};
constexpr const wchar_t* kModelItems[] = {L"RC300W", L"RD700/RC60H5"};
constexpr const wchar_t* kCodecItems[] = {L"h264", L"h265"};
constexpr const wchar_t* kResolutionItems[] = {L"4k", L"1080p", L"720p"};

// The model's transfer walked through the dialog layer's.
class ExchangeAdapter final : public DataExchange {
 public:
  explicit ExchangeAdapter(ui::DataExchange& exchange) : m_dx(exchange) {}

  bool ToMembers() const override { return m_dx.ToMembers(); }
  bool Text(int id, std::wstring& member, std::size_t limit) override {
    if (limit) {
      m_dx.Text(id, member, limit);
    } else {
      m_dx.Text(id, member);
    }
    return !m_dx.Failed();
  }
  bool ComboText(int id, std::wstring& member) override {
    m_dx.ComboText(id, member);
    return !m_dx.Failed();
  }
  bool Integer(int id, std::int32_t& member) override {
    m_dx.Number(id, member);
    return !m_dx.Failed();
  }

 private:
  ui::DataExchange& m_dx;
};

}  // namespace

COrlenkDlg::COrlenkDlg(link::CaptureStack& stack, link::ExchangeGate& gate, link::ReceiverLocks& locks)
    : ui::Dialog(IDD_SETTINGS),
      m_receiver(stack, m_pump, m_codec, gate, locks, kReceiverTurnWaitMs),
      m_hIcon(LoadIconW(ui::ResourceModule(), MAKEINTRESOURCEW(IDI_APP))),
      m_model(*this, m_receiver, m_pump) {}

COrlenkDlg::~COrlenkDlg() {
  if (m_hSmallIcon) DestroyIcon(m_hSmallIcon);
}

const Gdiplus::Image* COrlenkDlg::Picture(SignalPicture picture) const {
  switch (picture) {
    case SignalPicture::NoSignal:
      return m_pImgNoSignal.get();
    case SignalPicture::Excellent:
      return m_pImgExcellent.get();
    case SignalPicture::Good:
      return m_pImgGood.get();
    case SignalPicture::Fair:
      return m_pImgFair.get();
    case SignalPicture::Weak:
      return m_pImgWeak.get();
  }
  return nullptr;
}

bool COrlenkDlg::OnInitDialog() {
  AddComboItems(IDC_MODE, kModeItems);
  AddComboItems(IDC_MODEL, kModelItems);
  AddComboItems(IDC_CODEC, kCodecItems);
  AddComboItems(IDC_RESOLUTION_PRESET, kResolutionItems);
  // Creates nothing more; copies the still empty members to the controls
  // and binds the slider and the check box.
  ui::Dialog::OnInitDialog();

  const HWND window = Handle();
  m_hSmallIcon = static_cast<HICON>(LoadImageW(ui::ResourceModule(), MAKEINTRESOURCEW(IDI_APP),
                                               IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                               GetSystemMetrics(SM_CYSMICON), 0));
  SendMessageW(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
  SendMessageW(window, WM_SETICON, ICON_SMALL,
               reinterpret_cast<LPARAM>(m_hSmallIcon ? m_hSmallIcon : m_hIcon));
  SetForegroundWindow(window);
  BringWindowToTop(window);

  m_sliderLongPress.SetRange(kLongPressMin, kLongPressMax, true);
  m_sliderLongPress.SetPos(kLongPressStart, true);

  // Every receiver exchange of this window runs on this thread, inside this apartment.
  m_com.emplace();

  m_pImgNoSignal = widgets::LoadPngImage(IDB_SIGNAL_NONE);
  m_pImgExcellent = widgets::LoadPngImage(IDB_SIGNAL_EXCELLENT);
  m_pImgGood = widgets::LoadPngImage(IDB_SIGNAL_GOOD);
  m_pImgFair = widgets::LoadPngImage(IDB_SIGNAL_FAIR);
  m_pImgWeak = widgets::LoadPngImage(IDB_SIGNAL_WEAK);
  m_pngSignal.AttachToItem(window, IDC_SIGNAL_PICTURE);

  m_model.OnInitDialog();
  // The signal label now holds its longer text.
  FitLabelsToText(window);
  // The fields wait for the first load; until then the focus rests on
  // Refresh, where Enter does no harm, rather than on the first button of
  // the tab order, FW Update.
  SetFocus(Item(IDC_REFRESH));
  return false;
}

void COrlenkDlg::DoDataExchange(ui::DataExchange& exchange) {
  ExchangeAdapter adapter(exchange);
  m_model.DoDataExchange(adapter);
  exchange.Bind(IDC_LONG_PRESS_SLIDER, m_sliderLongPress);
  exchange.Bind(IDC_AGING_TEST, m_chkAgingTest);
}

void COrlenkDlg::OnCommand(int id, int code, HWND control) {
  // The window's commands are the model's command table.
  if (m_model.OnCommand(id, code)) return;
  ui::Dialog::OnCommand(id, code, control);
}

// Enter in a field comes as the hidden default button's command. Users
// confirm a field with Enter by habit; it does nothing here, and Apply
// stays a deliberate click. Escape, the close box and Exit end the window.
void COrlenkDlg::OnOk() {}

void COrlenkDlg::OnCancel() {
  m_model.OnClosing();
  ui::Dialog::OnCancel();
}

void COrlenkDlg::RunFirmwareUpdate() { update::RunFirmwareUpdate(Handle()); }

// The veil that points at the fields to fill in; its first mark follows the
// setting mode.
void COrlenkDlg::ShowHelp() { widgets::ShowHelpOverlay(Handle(), m_model.m_strMode); }

std::optional<LRESULT> COrlenkDlg::OnNotify(const NMHDR& header) {
  // The hidden slider may always move.
  if (header.idFrom == IDC_LONG_PRESS_SLIDER && header.code == TRBN_THUMBPOSCHANGING) return 0;
  return ui::Dialog::OnNotify(header);
}

bool COrlenkDlg::OnTimer(UINT_PTR timerId) { return m_model.OnTimer(static_cast<unsigned>(timerId)); }

bool COrlenkDlg::OnHScroll(int code, int position, HWND control) {
  if (control && control == Item(IDC_LONG_PRESS_SLIDER)) m_model.OnHScroll(code, IDC_LONG_PRESS_SLIDER);
  return ui::Dialog::OnHScroll(code, position, control);
}

HICON COrlenkDlg::OnQueryDragIcon() { return m_hIcon; }

bool COrlenkDlg::OnPaint() {
  if (IsIconic(Handle())) {
    PaintMinimised();
    return true;
  }
  {
    // The dialog's own painting: its background is erased, nothing else is drawn.
    ui::PaintScope paint(Handle());
  }
  DrawLogo();
  if (m_model.m_nSignalView == 1) m_model.UpdateSignalPicture();
  return true;
}

void COrlenkDlg::PaintMinimised() {
  ui::PaintScope paint(Handle());
  SendMessageW(Handle(), WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(paint.Dc()), 0);
  RECT client{};
  GetClientRect(Handle(), &client);
  const int iconWidth = GetSystemMetrics(SM_CXICON);
  const int iconHeight = GetSystemMetrics(SM_CYICON);
  const int x = (client.right - client.left - iconWidth + 1) / 2;
  const int y = (client.bottom - client.top - iconHeight + 1) / 2;
  DrawIcon(paint.Dc(), x, y, m_hIcon);
}

void COrlenkDlg::DrawLogo() { widgets::DrawLogo(Item(IDC_LOGO_FRAME)); }

void COrlenkDlg::OnDestroy() {
  ui::Dialog::OnDestroy();
  m_pngSignal.m_pImage = nullptr;
  m_pImgNoSignal.reset();
  m_pImgExcellent.reset();
  m_pImgGood.reset();
  m_pImgFair.reset();
  m_pImgWeak.reset();
  m_model.m_settings.ReleaseDevice();
  // Last: every interface this thread holds has been released.
  m_com.reset();
}

void COrlenkDlg::ShowControl(int id, bool show) { ShowItem(id, show); }

void COrlenkDlg::EnableControl(int id, bool enable) { EnableItem(id, enable); }

void COrlenkDlg::SetControlText(int id, const std::wstring& text) { SetItemText(id, text); }

std::wstring COrlenkDlg::ControlText(int id) const {
  const HWND control = Item(id);
  wchar_t className[16] = {};
  if (control && GetClassNameW(control, className, 16) && lstrcmpiW(className, L"ComboBox") == 0) {
    // The selected item, also while a selection change is being announced.
    const LRESULT index = SendMessageW(control, CB_GETCURSEL, 0, 0);
    if (index == CB_ERR) return {};
    const LRESULT length = SendMessageW(control, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
    if (length == CB_ERR) return {};
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const LRESULT copied =
        SendMessageW(control, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text.data()));
    text.resize(copied == CB_ERR ? 0 : static_cast<std::size_t>(copied));
    return text;
  }
  return ItemText(id);
}

void COrlenkDlg::SetCaption(const std::wstring& text) { SetWindowTextW(Handle(), text.c_str()); }

std::int32_t COrlenkDlg::SliderPosition() const { return m_sliderLongPress.Pos(); }

void COrlenkDlg::SetSliderPosition(std::int32_t position) { m_sliderLongPress.SetPos(position, true); }

bool COrlenkDlg::IsChecked(int id) const {
  if (id == IDC_AGING_TEST) return m_chkAgingTest.IsChecked();
  return IsDlgButtonChecked(Handle(), id) == BST_CHECKED;
}

void COrlenkDlg::SetChecked(int id, bool checked) {
  if (id == IDC_AGING_TEST) {
    m_chkAgingTest.SetChecked(checked);
    return;
  }
  CheckDlgButton(Handle(), id, checked ? BST_CHECKED : BST_UNCHECKED);
}

void COrlenkDlg::StartTimer(unsigned id, unsigned periodMs) { SetTimer(Handle(), id, periodMs, nullptr); }

void COrlenkDlg::StopTimer(unsigned id) { KillTimer(Handle(), id); }

void COrlenkDlg::SetSignalPicture(SignalPicture picture) {
  Gdiplus::Image* image = const_cast<Gdiplus::Image*>(Picture(picture));
  if (m_pngSignal.m_pImage != image) m_pngSignal.m_pImage = image;
  const HWND frame = Item(IDC_SIGNAL_PICTURE);
  if (frame && IsWindowVisible(frame)) {
    InvalidateRect(frame, nullptr, TRUE);
    UpdateWindow(frame);
    ShowWindow(frame, SW_SHOW);
  }
}

void COrlenkDlg::InvalidateControl(int id) {
  if (const HWND control = Item(id)) InvalidateRect(control, nullptr, TRUE);
}

void COrlenkDlg::ShowMessage(const std::wstring& text) { ui::ShowMessage(Handle(), text); }

void COrlenkDlg::EndDialog(int result) { EndModal(result); }

bool COrlenkDlg::TransferData(bool toMembers) {
  if (toMembers) return TransferToMembers();
  TransferToControls();
  return true;
}

}  // namespace nerova::settings::win
