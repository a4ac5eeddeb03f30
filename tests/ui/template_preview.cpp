// Shows the settings window's template with our layer, filled with sample
// values and with its pictures painted, for screenshots:
//   template_preview.exe [signal-picture-id] [--help-overlay] [--manual]
// It stays open until closed (Escape, the close box or Exit).
#include <windows.h>
#include <commctrl.h>

#include <cwchar>
#include <memory>
#include <string>

#include "resources/resource_ids.h"
#include "ui/controls.h"
#include "ui/data_exchange.h"
#include "ui/dialog.h"
#include "ui/handles.h"
#include "widgets/gdiplus_session.h"
#include "widgets/help_overlay.h"
#include "widgets/logo.h"
#include "widgets/png_image.h"
#include "widgets/png_static.h"

namespace {

using namespace nerova;

constexpr UINT kMsgShowHelp = WM_APP + 1;

class PreviewDialog : public ui::Dialog {
 public:
  PreviewDialog(int pictureId, bool manual, bool help)
      : ui::Dialog(IDD_SETTINGS), m_pictureId(pictureId), m_manual(manual), m_help(help) {}

 protected:
  bool OnInitDialog() override {
    static const wchar_t* const kModes[] = {L"Auto", L"Manual"};
    static const wchar_t* const kModels[] = {L"RC300W", L"RD700/RC60H5"};
    AddComboItems(IDC_MODE, kModes);
    AddComboItems(IDC_MODEL, kModels);
    m_mode = m_manual ? L"Manual" : L"Auto";
    m_model = L"RC300W";
    m_url = L"rtsp://192.168.100.1/video1.sdp";
    m_name = L"TAVI_5G_3F2A";
    m_password = L"97531864";
    ui::Dialog::OnInitDialog();
    m_icon = static_cast<HICON>(LoadImageW(ui::ResourceModule(), MAKEINTRESOURCEW(IDI_APP), IMAGE_ICON, 0, 0,
                                           LR_DEFAULTSIZE));
    SendMessageW(Handle(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_icon));
    SendMessageW(Handle(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_icon));
    SetWindowTextW(Handle(), L"Nerova Wireless Receiver Setting V1.1");
    SetItemText(IDC_FIRMWARE_VERSION, L"2.3.17");
    SetItemText(IDC_RSSI_LABEL, L"Signal Strength:");
    ShowItem(IDC_RSSI_NUMBER, false);
    const bool automatic = !m_manual;
    ShowItem(IDC_URL_LABEL, !automatic);
    ShowItem(IDC_URL, !automatic);
    ShowItem(IDC_MODEL_LABEL, automatic);
    ShowItem(IDC_MODEL, automatic);
    for (int id : {IDC_LONG_PRESS_LABEL, IDC_LONG_PRESS_SLIDER, IDC_LONG_PRESS_TEXT, IDC_AGING_TEST_LABEL,
                   IDC_AGING_TEST})
      ShowItem(id, false);
    m_picture = widgets::LoadPngImage(m_pictureId);
    m_signal.AttachToItem(Handle(), IDC_SIGNAL_PICTURE);
    m_signal.m_pImage = m_picture.get();
    if (m_help) PostMessageW(Handle(), kMsgShowHelp, 0, 0);
    return true;
  }
  void DoDataExchange(ui::DataExchange& dx) override {
    dx.Text(IDC_URL, m_url, 54);
    dx.Text(IDC_WIFI_NAME, m_name);
    dx.Text(IDC_WIFI_PASSWORD, m_password, 24);
    dx.ComboText(IDC_MODE, m_mode);
    dx.ComboText(IDC_MODEL, m_model);
  }
  void OnCommand(int id, int code, HWND control) override {
    if (id == IDC_EXIT) EndModal(1);
    if (id == IDC_HELP_BUTTON) widgets::ShowHelpOverlay(Handle(), m_mode);
    ui::Dialog::OnCommand(id, code, control);
  }
  bool OnPaint() override {
    { ui::PaintScope paint(Handle()); }
    widgets::DrawLogo(Item(IDC_LOGO_FRAME));
    return true;
  }
  std::optional<LRESULT> OnPrivateMessage(UINT message, WPARAM, LPARAM) override {
    if (message != kMsgShowHelp) return std::nullopt;
    widgets::ShowHelpOverlay(Handle(), m_mode);
    return 0;
  }
  void OnDestroy() override {
    m_signal.m_pImage = nullptr;
    if (m_icon) DestroyIcon(m_icon);
  }

 private:
  int m_pictureId;
  bool m_manual;
  bool m_help;
  std::wstring m_mode, m_model, m_url, m_name, m_password;
  std::unique_ptr<Gdiplus::Image> m_picture;
  widgets::CPngStatic m_signal;
  HICON m_icon = nullptr;
};

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  int pictureId = IDB_SIGNAL_EXCELLENT;
  bool manual = false, help = false;
  for (int i = 1; i < __argc; ++i) {
    const std::wstring arg = __wargv[i];
    if (arg == L"--manual") {
      manual = true;
    } else if (arg == L"--help-overlay") {
      help = true;
    } else {
      pictureId = _wtoi(arg.c_str());
    }
  }
  INITCOMMONCONTROLSEX init{sizeof(init), ICC_WIN95_CLASSES};
  InitCommonControlsEx(&init);
  widgets::GdiplusSession gdiplus;
  PreviewDialog dialog(pictureId, manual, help);
  return static_cast<int>(dialog.RunModal());
}
