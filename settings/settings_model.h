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
#include "settings/window_status.h"

#include "nerova_version.h"

namespace nerova::settings {

// The window's only timer: presence probe while the receiver is marked
// absent, signal strength while it is present.
inline constexpr unsigned POLL_TIMER = 2;
// Runs the first load once the window shows and has painted.
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

  // The window's commands, one row each in the command table.
  enum class Command {
    Startup,
    PollTick,
    Refresh,
    SelchangeMode,
    SelchangeModel,
    Apply,
    Exit,
    SwitchSignalView,
    FirmwareUpdate,
    Help,
    SetUrl,
    SetWifiName,
    SetPassword,
    SetResolution,
    SetCur,
    GetCur,
    BlockSweep,
  };
  // A control's notification as the window passes it on: runs the command
  // of its row. False when no row has it (default processing).
  bool OnCommand(int control, int notification);
  // Runs `command` as its row says (the timers and the tests submit theirs
  // directly).
  void Submit(Command command);

  // False for timers that are not the window's (default processing).
  bool OnTimer(unsigned id);
  // The window is closing by other means (Escape, close box, WM_CLOSE): an
  // Apply under way stops before its next write.
  void OnClosing();
  void OnHScroll(int code, int sourceId);

  // Routines the window also runs from its paint and scroll handlers.
  void LoadSettings(const link::ReceiverTurn& turn);
  void CheckDevice(const link::ReceiverTurn& turn);
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
  // What a command needs before it runs.
  enum class Needs {
    // Runs when asked.
    Nothing,
    // Changes what Apply would write: waits for an exchange under way.
    Sequence,
    // Talks to the receiver: runs in a turn of it, after any exchange under
    // way.
    Receiver,
    // A modal window that holds no turn: waits for an exchange under way,
    // and the signal poll goes on underneath it.
    Modal,
  };
  struct CommandRow {
    int control;  // 0: the window's own (timers)
    int notification;
    Command command;
    Needs needs;
    // Writes to the receiver what the window shows.
    bool writes;
    // Still runs while the receiver restarts after an Apply; the rest
    // belongs to the configuration that Apply replaced.
    bool whileRestarting;
  };
  static const CommandRow kCommands[];
  static const CommandRow& RowOf(Command command);

  // Receiver commands run one at a time: one asked for while another
  // exchange waits in the pump is deferred and runs when that exchange has
  // ended (a poll tick is dropped), so the command block is never
  // overwritten mid-read and a probe never fails for being nested.
  void Defer(Command command);
  void Run(Command command);
  // The command itself; `turn` is the receiver's for a command that talks
  // to it, null otherwise.
  void Perform(Command command, const link::ReceiverTurn* turn);
  // A receiver command whose turn could not be had.
  void TurnRefused(Command command, link::TurnOutcome outcome);
  // The No receiver state: device-bound controls disabled, readings cleared.
  void ShowAbsent();
  void SetStatus(WindowStatus status);
  void RunPollTick(const link::ReceiverTurn& turn);
  void RunSelchangeMode();
  void RunSelchangeModel();
  void RunApply(const link::ReceiverTurn& turn);
  void RunExit();
  void RunSwitchSignalView();
  // Whether a command that waited behind an exchange still makes sense now.
  bool StillWanted(Command command) const;
  // True when everything was written and the receiver told to restart.
  bool ApplyConfiguration(const link::ReceiverTurn& turn);
  // False, with the message, when the value would not reach the receiver as
  // written.
  bool CheckSendable(const std::wstring& value, const WireField& field);
  void RunSetField(Command command, const link::ReceiverTurn& turn);
  void RunBlockSweep(const link::ReceiverTurn& turn);
  void Pause();
  // A box for the user: shown once the receiver's turn has ended, so that
  // a box left open keeps no other program waiting.
  void Message(std::wstring_view text);
  void ShowHeldMessages();

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
  // From the restart command until the receiver has been seen to leave
  // (the host's removal notice clears g_bRebootExpected) or not.
  bool m_bRestartUnseen = false;
  WindowStatus m_status = WindowStatus::Ready;
  std::vector<Command> m_deferred;
  // Inside a receiver command's turn: boxes wait in m_heldMessages.
  bool m_bInTurn = false;
  std::vector<std::wstring> m_heldMessages;
};

}  // namespace nerova::settings
