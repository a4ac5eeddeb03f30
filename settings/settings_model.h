#pragma once
// The settings window without its Win32 half: the members the window shows
// and edits, the load of the receiver's settings, the presence check, the
// setting-mode and camera-model rules and the live signal display. It talks
// to the receiver through its own ReceiverSettings and to the window through
// SettingsView, so it runs natively against the receiver substitute.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "link/message_pump.h"
#include "link/receiver.h"
#include "settings/apply_check.h"
#include "settings/apply_sequence.h"
#include "settings/receiver_timing.h"
#include "settings/settings_view.h"
#include "settings/stored_settings.h"

#include "nerova_version.h"

namespace nerova::settings {

// The window's only timer: presence probe while the receiver is marked
// absent, signal strength while it is present.
inline constexpr unsigned POLL_TIMER = 2;
// Runs the first load once the window shows, when the receiver is busy
// with a window that is going away.
inline constexpr unsigned STARTUP_TIMER = 3;

inline constexpr std::wstring_view kProductName = L"Nerova Wireless Receiver Setting ";
inline constexpr std::wstring_view kProductVersion = NEROVA_VERSION_CAPTION;
inline constexpr std::wstring_view kSignalLabelPicture = L"Signal Strength:";
inline constexpr std::wstring_view kSignalLabelNumber = L"RSSI:";

class SettingsModel {
 public:
  // `receiver` and `pump` must outlive the model.
  SettingsModel(SettingsView& view, link::Receiver& receiver, link::MessagePump& pump);
  SettingsModel(const SettingsModel&) = delete;
  SettingsModel& operator=(const SettingsModel&) = delete;

  // Start-up once the window's controls, icon, slider range and pictures
  // exist: flags, initial mode and model, presence check and first load, the
  // poll timer, caption, signal view, and the rows that stay hidden.
  void OnInitDialog();
  // Teardown: drops every receiver reference the model holds.
  void OnDestroy();

  // User commands and window events.
  void OnRefresh();
  // FW Update and "?", run by the view once no exchange is under way.
  void OnFirmwareUpdate();
  void OnHelp();
  void OnSelchangeMode();
  void OnSelchangeModel();
  // False for timers that are not the poll timer (default processing).
  bool OnTimer(unsigned id);
  void OnRssiLabelClicked();
  void OnHScroll(int code, int sourceId);

  // Writes the whole configuration and restarts the receiver.
  void OnApply();
  // Ends the window with result 1; nothing is read or written.
  void OnExit();
  // The window is closing by other means (Escape, close box, WM_CLOSE): an
  // Apply under way stops before its next write.
  void OnClosing();
  // The hidden per-field writes.
  void OnSetUrl();
  void OnSetWifiName();
  void OnSetPassword();
  void OnSetResolution();
  // The hidden diagnostics: an RSSI read, one GET_CUR, the block sweep.
  void OnSetCur();
  void OnGetCur();
  void OnSetLongPress();

  // Routines the window also runs from its paint and scroll handlers.
  void LoadSettings();
  void CheckDevice();
  void EnableDeviceControls();
  void ApplyModeLayout();
  void UpdateRssiView();
  void UpdateSignalPicture();
  void UpdateLongPressText();

  // The two-way transfer between the members below and the controls.
  bool UpdateData(bool toMembers);
  bool DoDataExchange(DataExchange& dx);

  // True while a receiver exchange (a load, a probe, a reading) is under way,
  // including the pauses in which the window's messages are dispatched.
  bool InExchange() const { return m_bExchanging || m_settings.IsBusy(); }

 private:
  SettingsView& m_view;
  link::Receiver& m_receiver;
  link::ReceiverLink& m_link;
  link::MessagePump& m_pump;

 public:
  // The window's data, as its handlers see them.
  link::DeviceRef m_diagLink;
  link::ReceiverSettings& m_settings;
  bool m_bLoaded = false;
  bool m_bDevicePresent = false;
  std::wstring m_strUrl;
  std::wstring m_strWifiName;
  std::wstring m_strWifiPassword;
  std::int32_t m_nResWidth = 0;
  std::int32_t m_nResHeight = 0;
  std::wstring m_strResolution;
  std::wstring m_strMode;
  std::wstring m_strModel;
  std::int32_t m_nRssi = 0;
  std::wstring m_strFirstModel;
  std::wstring m_strFirstWifiName;
  std::wstring m_strFirstWifiPassword;
  std::int32_t m_nSignalView = 1;

 private:
  // Everything that talks to the receiver runs as one of these, one at a
  // time: a command asked for while another exchange waits in the pump is
  // queued and runs when that exchange has ended (a poll tick is dropped), so
  // the shared command block is never overwritten mid-read and a probe never
  // fails for being nested.
  enum class Command {
    Startup,
    Refresh,
    PollTick,
    SelchangeMode,
    SelchangeModel,
    Apply,
    SetUrl,
    SetWifiName,
    SetPassword,
    SetResolution,
    SetCur,
    GetCur,
    BlockSweep,
    FirmwareUpdate,
    Help,
  };
  void Submit(Command command);
  void Run(Command command);
  // The command itself; Run takes the receiver's turn around those that talk
  // to it.
  void Perform(Command command);
  // The No receiver state: device-bound controls disabled, readings cleared.
  void ShowAbsent();
  static bool TalksToReceiver(Command command);
  void RunPollTick();
  void RunSelchangeMode();
  void RunSelchangeModel();
  void RunApply();
  // Whether a command that waited behind an exchange still makes sense now.
  bool StillWanted(Command command) const;
  // Apply and the per-field writes.
  static bool WritesSettings(Command command);
  // True when everything was written and the receiver told to restart.
  bool ApplyConfiguration();
  // False, with the message, when the value would not reach the receiver as
  // written.
  bool CheckSendable(const std::wstring& value, const WireField& field);
  void RunSetField(Command command);
  void RunGetCur();
  void RunBlockSweep();
  void Pause();
  void Message(std::wstring_view text);

  bool m_bExchanging = false;
  bool m_bClosing = false;
  bool m_bApplying = false;
  // From a successful Apply until the receiver is read again.
  bool m_bAwaitingRestart = false;
  // What the device-bound controls were last set to (the template starts
  // them enabled).
  bool m_bControlsShowPresent = true;
  // Whether the last load read the hidden long-press time and aging test.
  bool m_bLongPressTimeKnown = false;
  bool m_bAgingTestKnown = false;
  std::vector<Command> m_deferred;
};

}  // namespace nerova::settings
