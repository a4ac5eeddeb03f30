#pragma once
// The settings window: dialog template 102 over the portable model. The
// dialog owns the icon, the COM apartment of its thread, the five signal
// pictures and the picture control; the model owns the members and every
// exchange with the receiver.
#include <windows.h>

#include <memory>
#include <optional>

#include "link/receiver.h"
#include "link/win/pump_wait.h"
#include "link/win/code_page_codec.h"
#include "settings/settings_model.h"
#include "settings/settings_view.h"
#include "ui/controls.h"
#include "ui/dialog.h"
#include "ui/handles.h"
#include "widgets/png_static.h"

namespace nerova::settings::win {

class COrlenkDlg : public ui::Dialog, private SettingsView {
 public:
  // Over the capture stack the program (or a test) hands it.
  // `gate` says when this window may talk to the receiver (the tray host's
  // settings threads take turns); a window of its own lets it through.
  // `locks` keep its exchanges apart from other programs'.
  explicit COrlenkDlg(link::CaptureStack& stack, link::ExchangeGate& gate = link::OpenGate(),
                      link::ReceiverLocks& locks = link::FreeLocks());
  ~COrlenkDlg() override;

  SettingsModel& Model() { return m_model; }
  const SettingsModel& Model() const { return m_model; }
  // The picture the signal frame paints, or null.
  const Gdiplus::Image* SignalImage() const { return m_pngSignal.m_pImage; }
  const Gdiplus::Image* Picture(SignalPicture picture) const;

 protected:
  bool OnInitDialog() override;
  void DoDataExchange(ui::DataExchange& exchange) override;
  void OnCommand(int id, int code, HWND control) override;
  void OnOk() override;
  void OnCancel() override;
  std::optional<LRESULT> OnNotify(const NMHDR& header) override;
  bool OnTimer(UINT_PTR timerId) override;
  bool OnPaint() override;
  bool OnHScroll(int code, int position, HWND control) override;
  HICON OnQueryDragIcon() override;
  void OnDestroy() override;

 private:
  // SettingsView
  void ShowControl(int id, bool show) override;
  void EnableControl(int id, bool enable) override;
  void SetControlText(int id, const std::wstring& text) override;
  std::wstring ControlText(int id) const override;
  void SetCaption(const std::wstring& text) override;
  std::int32_t SliderPosition() const override;
  void SetSliderPosition(std::int32_t position) override;
  bool IsChecked(int id) const override;
  void SetChecked(int id, bool checked) override;
  void StartTimer(unsigned id, unsigned periodMs) override;
  void StopTimer(unsigned id) override;
  void SetSignalPicture(SignalPicture picture) override;
  void InvalidateControl(int id) override;
  bool TransferData(bool toMembers) override;
  void ShowMessage(const std::wstring& text) override;
  void RunFirmwareUpdate() override;
  void ShowHelp() override;
  void EndDialog(int result) override;

  void PaintMinimised();
  void DrawLogo();

  // What the model talks to the receiver through.
  link::win::WindowsPump m_pump;
  link::win::CodePageCodec m_codec;
  link::Receiver m_receiver;

  HICON m_hIcon = nullptr;       // shared, from the module's resources
  HICON m_hSmallIcon = nullptr;  // loaded at the small-icon size, destroyed with the window
  std::optional<ui::ComApartment> m_com;
  SettingsModel m_model;
  std::unique_ptr<Gdiplus::Image> m_pImgNoSignal;
  std::unique_ptr<Gdiplus::Image> m_pImgExcellent;
  std::unique_ptr<Gdiplus::Image> m_pImgGood;
  std::unique_ptr<Gdiplus::Image> m_pImgFair;
  std::unique_ptr<Gdiplus::Image> m_pImgWeak;
  widgets::CPngStatic m_pngSignal;
  ui::Trackbar m_sliderLongPress;
  ui::Button m_chkAgingTest;
};

}  // namespace nerova::settings::win
