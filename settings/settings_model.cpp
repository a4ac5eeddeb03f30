#include "settings/settings_model.h"

#include <algorithm>
#include <array>
#include <optional>
#include <utility>

#include "resources/resource_ids.h"
#include "settings/apply_texts.h"
#include "settings/camera_model.h"
#include "settings/long_press.h"
#include "settings/reboot_flag.h"

namespace nerova::settings {
namespace {

// The long-press and aging-test rows: loaded and applied, never shown.
constexpr int kHiddenRows[] = {IDC_LONG_PRESS_LABEL, IDC_LONG_PRESS_SLIDER, IDC_LONG_PRESS_TEXT,
                               IDC_AGING_TEST_LABEL, IDC_AGING_TEST};

// Enabled while the receiver is marked present, in this order.
constexpr int kDeviceControls[] = {IDC_MODE,          IDC_MODEL, IDC_URL,
                                   IDC_WIFI_NAME,     IDC_WIFI_PASSWORD,
                                   IDC_APPLY,         IDC_LONG_PRESS_SLIDER,
                                   IDC_AGING_TEST};

// Trackbar notices that end or continue a thumb drag (TB_THUMBTRACK, TB_ENDTRACK).
constexpr int kThumbTrack = 5;
constexpr int kEndTrack = 8;

// The controls' notifications the commands come by (BN_CLICKED and
// STN_CLICKED, CBN_SELCHANGE).
constexpr int kClicked = 0;
constexpr int kSelectionChanged = 1;

}  // namespace

using Command = SettingsModel::Command;

const SettingsModel::CommandRow SettingsModel::kCommands[] = {
    // control, notification, command, needs, writes, while restarting
    {0, 0, Command::Startup, Needs::Receiver, false, true},
    {0, 0, Command::PollTick, Needs::Receiver, false, true},
    {IDC_REFRESH, kClicked, Command::Refresh, Needs::Receiver, false, false},
    {IDC_MODE, kSelectionChanged, Command::SelchangeMode, Needs::Sequence, false, false},
    {IDC_MODEL, kSelectionChanged, Command::SelchangeModel, Needs::Sequence, false, false},
    {IDC_APPLY, kClicked, Command::Apply, Needs::Receiver, true, false},
    {IDC_EXIT, kClicked, Command::Exit, Needs::Nothing, false, true},
    {IDC_RSSI_LABEL, kClicked, Command::SwitchSignalView, Needs::Nothing, false, true},
    {IDC_FW_UPDATE, kClicked, Command::FirmwareUpdate, Needs::Modal, false, true},
    {IDC_HELP_BUTTON, kClicked, Command::Help, Needs::Modal, false, true},
    // The hidden per-field writes and diagnostics.
    {IDC_SET_URL, kClicked, Command::SetUrl, Needs::Receiver, true, false},
    {IDC_SET_WIFI_NAME, kClicked, Command::SetWifiName, Needs::Receiver, true, false},
    {IDC_SET_PASSWORD, kClicked, Command::SetPassword, Needs::Receiver, true, false},
    {IDC_SET_RESOLUTION, kClicked, Command::SetResolution, Needs::Receiver, true, false},
    {IDC_SET_CUR, kClicked, Command::SetCur, Needs::Receiver, false, false},
    {IDC_GET_CUR, kClicked, Command::GetCur, Needs::Receiver, false, false},
    {IDC_SET_LONG_PRESS, kClicked, Command::BlockSweep, Needs::Receiver, false, false},
};

const SettingsModel::CommandRow& SettingsModel::RowOf(Command command) {
  for (const CommandRow& row : kCommands) {
    if (row.command == command) return row;
  }
  // Every command has its row; an unknown one is treated as the poll, which
  // is dropped whenever anything is under way.
  return kCommands[1];
}

SettingsModel::SettingsModel(SettingsView& view, link::Receiver& receiver, link::MessagePump& pump)
    : m_view(view),
      m_receiver(receiver),
      m_link(receiver.Link()),
      m_pump(pump),
      m_settings(receiver.Settings()) {}

void SettingsModel::OnInitDialog() {
  m_bLoaded = false;
  m_bDevicePresent = false;
  m_strMode = kModeAuto;
  m_strModel = kInitialModel;
  // Show the rows and combos of the initial mode before anything is loaded:
  // the template has both row labels visible on top of each other, which is
  // what a window without a receiver would otherwise keep.
  ApplyModeLayout();
  UpdateData(false);

  // The window shows at once; the first load runs once it has painted (a
  // timer's turn comes after painting). Until that load has read the
  // receiver there is nothing to edit.
  EnableDeviceControls();
  SetStatus(WindowStatus::Reading);
  m_view.StartTimer(STARTUP_TIMER, 0);
  m_view.StartTimer(POLL_TIMER, kPollPeriodMs);

  m_view.SetCaption(std::wstring(kProductName) + std::wstring(kProductVersion));
  m_view.SetControlText(IDC_RSSI_LABEL,
                        std::wstring(m_nSignalView == 1 ? kSignalLabelPicture : kSignalLabelNumber));
  UpdateRssiView();
  for (int id : kHiddenRows) m_view.ShowControl(id, false);
}

void SettingsModel::OnDestroy() { m_receiver.Release(); }

bool SettingsModel::OnTimer(unsigned id) {
  if (id == STARTUP_TIMER) {
    m_view.StopTimer(STARTUP_TIMER);
    Submit(Command::Startup);
    return true;
  }
  if (id != POLL_TIMER) return false;
  Submit(Command::PollTick);
  return true;
}

bool SettingsModel::OnCommand(int control, int notification) {
  for (const CommandRow& row : kCommands) {
    if (row.control == 0 || row.control != control) continue;
    if (row.notification == notification) Submit(row.command);
    return true;
  }
  return false;
}

void SettingsModel::Submit(Command command) {
  const CommandRow& row = RowOf(command);
  if (row.needs == Needs::Nothing) {
    Perform(command, nullptr);
    return;
  }
  if (InExchange()) {
    Defer(command);
    return;
  }
  // A write before the receiver was read would send what the window does
  // not hold (its controls are disabled until then).
  if (row.writes && !m_bLoaded) return;
  if (row.needs == Needs::Modal) {
    Perform(command, nullptr);
    return;
  }
  m_bExchanging = true;
  Run(command);
  std::vector<Command> modal;
  while (!m_deferred.empty() && !m_bClosing) {
    const Command next = m_deferred.front();
    m_deferred.erase(m_deferred.begin());
    if (!StillWanted(next)) continue;
    if (RowOf(next).needs == Needs::Modal) {
      modal.push_back(next);
      continue;
    }
    Run(next);
  }
  m_deferred.clear();
  m_bExchanging = false;
  // Whatever ran, the controls that need the receiver say whether it is
  // there.
  if (m_bControlsShowPresent != m_bDevicePresent) EnableDeviceControls();
  if (m_bDevicePresent) m_view.EnableControl(IDC_REFRESH, true);
  // Modal windows asked for meanwhile open now, with nothing under way.
  for (const Command next : modal) {
    if (!m_bClosing) Perform(next, nullptr);
  }
}

void SettingsModel::Defer(Command command) {
  // A tick comes again in two seconds, and a second Apply pressed while
  // the first one writes would only repeat it; anything else must not be lost.
  if (command == Command::PollTick || (command == Command::Apply && m_bApplying)) return;
  // A write asked for before the receiver was read would send what the
  // read is about to replace.
  if (!m_bLoaded && RowOf(command).writes) return;
  if (std::find(m_deferred.begin(), m_deferred.end(), command) == m_deferred.end()) {
    m_deferred.push_back(command);
  }
}

bool SettingsModel::StillWanted(Command command) const {
  // An Apply that waited behind a probe which lost the receiver has nothing
  // to write to (its button is disabled by now).
  if (command == Command::Apply) return m_bDevicePresent;
  // While the receiver restarts after an Apply, what the user asked for
  // before it went out belongs to the configuration it replaced; only the
  // window's own start-up and probes go on.
  return !m_bAwaitingRestart || RowOf(command).whileRestarting;
}

void SettingsModel::Run(Command command) {
  if (RowOf(command).needs != Needs::Receiver) {
    Perform(command, nullptr);
    return;
  }
  // Each command has the receiver to itself against other programs (a
  // command line beside the window), a load or an Apply whole. The signal
  // poll and the first load do not wait for one that has it: the window
  // says so at once, and the next tick, two seconds on, looks again.
  const bool waits = command != Command::PollTick && command != Command::Startup;
  {
    const link::ReceiverTurn turn(m_settings, waits ? link::TurnWait::Bounded : link::TurnWait::None);
    m_bInTurn = true;
    if (turn.Held()) {
      Perform(command, &turn);
    } else {
      TurnRefused(command, turn.Outcome());
    }
    m_bInTurn = false;
  }
  ShowHeldMessages();
}

void SettingsModel::TurnRefused(Command command, link::TurnOutcome outcome) {
  switch (outcome) {
    case link::TurnOutcome::NoReceiver:
      ShowAbsent();
      // The poll keeps looking; Refresh waits for it to find one.
      if (command == Command::PollTick) m_view.EnableControl(IDC_REFRESH, false);
      break;
    case link::TurnOutcome::HeldElsewhere:
      if (!m_bLoaded) SetStatus(WindowStatus::InUse);
      if (command != Command::PollTick && command != Command::Startup) Message(kReceiverInUse);
      break;
    case link::TurnOutcome::Failed:
      SetStatus(WindowStatus::NotLockable);
      break;
    case link::TurnOutcome::Stopped:
    case link::TurnOutcome::Held:
      break;
  }
}

void SettingsModel::Perform(Command command, const link::ReceiverTurn* turn) {
  switch (command) {
    case Command::Startup:
      CheckDevice(*turn);
      LoadSettings(*turn);
      break;
    case Command::Refresh:
      m_view.StopTimer(POLL_TIMER);
      LoadSettings(*turn);
      m_view.StartTimer(POLL_TIMER, kPollPeriodMs);
      break;
    case Command::PollTick:
      RunPollTick(*turn);
      break;
    case Command::SelchangeMode:
      RunSelchangeMode();
      break;
    case Command::SelchangeModel:
      RunSelchangeModel();
      break;
    case Command::Apply:
      RunApply(*turn);
      break;
    case Command::Exit:
      RunExit();
      break;
    case Command::SwitchSignalView:
      RunSwitchSignalView();
      break;
    case Command::FirmwareUpdate:
      m_view.RunFirmwareUpdate();
      break;
    case Command::Help:
      m_view.ShowHelp();
      break;
    case Command::SetUrl:
    case Command::SetWifiName:
    case Command::SetPassword:
    case Command::SetResolution:
      RunSetField(command, *turn);
      break;
    case Command::SetCur:
      m_nRssi = m_settings.ReadRssi(*turn);
      UpdateRssiView();
      break;
    case Command::GetCur:
      m_settings.ReadCurrentBlock(*turn);
      break;
    case Command::BlockSweep:
      RunBlockSweep(*turn);
      break;
  }
}

void SettingsModel::RunPollTick(const link::ReceiverTurn& turn) {
  if (!m_bDevicePresent) {
    CheckDevice(turn);
    m_view.EnableControl(IDC_REFRESH, m_bDevicePresent);
    if (!m_bDevicePresent) return;
  }
  m_nRssi = m_settings.ReadRssi(turn);
  // A reading that fails may be a receiver that left: one that answers again
  // (found afresh if need be) is read once more, one that does not is absent.
  if (m_nRssi == link::kRssiFailed && !m_settings.IsBusy()) {
    if (!m_receiver.Answers()) {
      CheckDevice(turn);
      return;
    }
    m_nRssi = m_settings.ReadRssi(turn);
  }
  UpdateRssiView();
}

void SettingsModel::Pause() { m_pump.PumpWait(kReadPauseMs); }

void SettingsModel::LoadSettings(const link::ReceiverTurn& turn) {
  if (!m_receiver.Answers()) {
    m_nRssi = 0;
    UpdateRssiView();
    m_view.SetControlText(IDC_FIRMWARE_VERSION, L"");
    return;
  }
  if (m_bLoaded) return;
  m_bLoaded = true;
  m_bDevicePresent = true;
  m_bAwaitingRestart = false;

  const StoredSettings stored = ReadStoredSettings(turn, m_settings, m_pump);
  if (!stored.editableValuesRead) {
    // What came back is failure values, not the receiver's settings: the
    // window shows the receiver as absent, and the next tick, once it
    // answers again, reads it whole.
    ShowAbsent();
    return;
  }
  SetStatus(m_status == WindowStatus::DidNotRestart ? WindowStatus::DidNotRestart : WindowStatus::Ready);
  m_view.SetControlText(IDC_FIRMWARE_VERSION, stored.firmwareVersion);
  m_strUrl = stored.url;
  if (const CameraModel* model = ModelForStoredUrl(m_strUrl)) {
    m_strMode = kModeAuto;
    m_strModel = model->name;
  } else {
    m_strMode = kModeManual;
  }
  ApplyModeLayout();
  m_strWifiName = stored.wifiName;
  m_strWifiPassword = stored.wifiPassword;
  m_nRssi = stored.rssi;
  UpdateRssiView();
  // What the user had before touching anything; choosing that model again
  // brings these values back.
  if (m_strFirstModel.empty()) {
    m_strFirstModel = m_strModel;
    m_strFirstWifiName = m_strWifiName;
    m_strFirstWifiPassword = m_strWifiPassword;
  }
  m_nResWidth = stored.resolutionWidth;
  m_nResHeight = stored.resolutionHeight;
  m_view.SetSliderPosition(ClampLongPress(stored.longPressTime));
  UpdateLongPressText();
  m_view.SetChecked(IDC_AGING_TEST, stored.agingTest);
  m_bLongPressTimeKnown = stored.Answered(StoredValue::LongPressTime);
  m_bAgingTestKnown = stored.Answered(StoredValue::AgingTest);

  UpdateData(false);
  m_view.EnableControl(IDC_APPLY, m_bDevicePresent);
}

void SettingsModel::ShowAbsent() {
  m_bLoaded = false;
  m_bDevicePresent = false;
  EnableDeviceControls();
  m_view.SetControlText(IDC_FIRMWARE_VERSION, L"");
  m_view.SetControlText(IDC_RES_WIDTH, L"0");
  m_view.SetControlText(IDC_RES_HEIGHT, L"0");
  m_nRssi = 0;
  UpdateRssiView();
  SetStatus(m_bAwaitingRestart ? WindowStatus::Restarting : WindowStatus::NoReceiver);
}

void SettingsModel::SetStatus(WindowStatus status) {
  m_status = status;
  m_view.SetControlText(IDC_STATUS, std::wstring(StatusText(status)));
}

void SettingsModel::CheckDevice(const link::ReceiverTurn& turn) {
  const bool answers = m_receiver.Answers();
  // The first probe after an Apply's restart: a receiver that restarted
  // left the bus meanwhile, and the host took its removal notice for the
  // restart it expected. One that never left holds the new configuration
  // without using it.
  if (std::exchange(m_bRestartUnseen, false) && g_bRebootExpected.exchange(false)) {
    // The next real unplugging replaces the window as any other does.
    m_bAwaitingRestart = false;
    m_status = WindowStatus::DidNotRestart;
  }
  if (!answers) {
    ShowAbsent();
    return;
  }
  if (m_bLoaded) return;
  m_view.StopTimer(POLL_TIMER);
  LoadSettings(turn);
  m_view.StartTimer(POLL_TIMER, kPollPeriodMs);
  EnableDeviceControls();
}

void SettingsModel::EnableDeviceControls() {
  m_bControlsShowPresent = m_bDevicePresent;
  for (int id : kDeviceControls) m_view.EnableControl(id, m_bDevicePresent);
}

void SettingsModel::ApplyModeLayout() {
  const bool autoMode = m_strMode == kModeAuto;
  m_view.ShowControl(IDC_URL_LABEL, !autoMode);
  m_view.ShowControl(IDC_URL, !autoMode);
  m_view.ShowControl(IDC_MODEL_LABEL, autoMode);
  m_view.ShowControl(IDC_MODEL, autoMode);
}

void SettingsModel::RunSelchangeMode() {
  m_strMode = m_view.ControlText(IDC_MODE) == kModeAuto ? kModeAuto : kModeManual;
  ApplyModeLayout();
}

void SettingsModel::RunSelchangeModel() {
  const std::wstring chosen = m_view.ControlText(IDC_MODEL);
  const CameraModel* model = FindCameraModel(chosen);
  if (!model || chosen == m_strModel) return;
  m_strModel = chosen;
  if (chosen == m_strFirstModel) {
    m_strWifiName = m_strFirstWifiName;
    m_strWifiPassword = m_strFirstWifiPassword;
  } else {
    m_strWifiName = model->defaultWifiName;
    m_strWifiPassword = model->defaultWifiPassword;
  }
  UpdateData(false);
}

void SettingsModel::RunExit() {
  OnClosing();
  m_view.EndDialog(1);
}

void SettingsModel::OnClosing() {
  m_bClosing = true;
  // A closing window waits for the receiver no longer (a load that waits for
  // the window before it, say); an Apply under way still completes.
  if (!m_bApplying) m_link.GiveUp();
}

void SettingsModel::RunApply(const link::ReceiverTurn& turn) {
  m_bApplying = true;
  m_view.StopTimer(POLL_TIMER);
  if (ApplyConfiguration(turn)) {
    m_view.EnableControl(IDC_REFRESH, false);
    m_view.StartTimer(POLL_TIMER, kRebootPollPeriodMs);
  } else {
    m_view.StartTimer(POLL_TIMER, kPollPeriodMs);
  }
  m_bApplying = false;
}

bool SettingsModel::ApplyConfiguration(const link::ReceiverTurn& turn) {
  if (!UpdateData(true)) {
    Message(kApplyFailed);
    return false;
  }
  m_strUrl = UrlToWrite(m_strMode, m_strModel, m_strUrl);
  // The hidden slider and check box go out as the last load left them; one
  // the load could not read stays as the receiver holds it.
  Configuration configuration{m_strUrl, m_strWifiName, m_strWifiPassword, std::nullopt, std::nullopt};
  if (m_bLongPressTimeKnown) configuration.longPressTime = m_view.SliderPosition();
  if (m_bAgingTestKnown) configuration.agingTest = m_view.IsChecked(IDC_AGING_TEST);
  // Everything is checked before anything is written, so a refused Apply
  // leaves the receiver as it was. What is written is what was checked,
  // whatever the user does during the pauses.
  const std::optional<std::wstring> refused = CheckConfiguration(configuration, m_settings);
  m_strUrl = configuration.url;
  m_strWifiName = configuration.wifiName;
  m_strWifiPassword = configuration.wifiPassword;
  if (refused) {
    Message(*refused);
    return false;
  }

  // A window closed before anything went out writes nothing.
  if (m_bClosing || !turn.Held()) return false;

  // From the first write on, the configuration goes out whole: a close
  // request waits for the end, and so does a stop of this window's thread
  // (briefly). Only a write that fails ends it early.
  ApplySequence apply(m_settings, m_pump);
  if (!apply.Write(configuration)) {
    Message(kApplyFailed);
    return false;
  }

  // The user reads this before the receiver goes away, unless the window
  // was closed meanwhile. The restart waits for it: this box alone is shown
  // within the receiver's turn.
  if (!m_bClosing) m_view.ShowMessage(std::wstring(kApplySucceeded));
  m_bLoaded = false;
  m_bDevicePresent = false;
  EnableDeviceControls();
  SetStatus(WindowStatus::Restarting);
  // A window that is being replaced changes nothing beyond its receiver:
  // the restart it sends is news to the host, and the window that replaces
  // it learns of the receiver's return by itself.
  const bool replaced = m_link.StopRequested();
  if (!replaced) g_bRebootExpected = true;
  apply.Restart();
  m_bAwaitingRestart = true;
  m_bRestartUnseen = !replaced;
  return true;
}

bool SettingsModel::CheckSendable(const std::wstring& value, const WireField& field) {
  if (m_settings.SurvivesEncoding(value)) return true;
  Message(NotSendableToReceiverMessage(field));
  return false;
}

void SettingsModel::RunSetField(Command command, const link::ReceiverTurn& turn) {
  if (!UpdateData(true)) return;
  switch (command) {
    case Command::SetUrl:
      if (!CheckSendable(m_strUrl, kUrlField)) break;
      Message(m_settings.WriteUrl(turn, m_strUrl) ? kSetUrlOk : kSetUrlFailed);
      break;
    case Command::SetWifiName:
      if (!CheckSendable(m_strWifiName, kWifiNameField)) break;
      if (m_settings.EncodedLength(m_strWifiName) > kWifiNameField.byteLimit) {
        Message(TooManyBytesMessage(kWifiNameField));
        break;
      }
      Message(m_settings.WriteWifiName(turn, m_strWifiName) ? kSetWifiNameOk : kSetWifiNameFailed);
      break;
    case Command::SetPassword:
      if (!CheckSendable(m_strWifiPassword, kPasswordField)) break;
      Message(m_settings.WriteWifiPassword(turn, m_strWifiPassword) ? kSetPasswordOk : kSetPasswordFailed);
      break;
    case Command::SetResolution:
      Message(m_settings.WriteResolution(turn, m_nResWidth, m_nResHeight) ? kSetResolutionOk
                                                                          : kSetResolutionFailed);
      break;
    default:
      break;
  }
}

void SettingsModel::RunBlockSweep(const link::ReceiverTurn& turn) {
  for (std::uint8_t code = 1; code <= 14; ++code) {
    m_settings.ReadText(turn, code);
    Pause();
  }
}

void SettingsModel::Message(std::wstring_view text) {
  if (m_bInTurn) {
    m_heldMessages.emplace_back(text);
    return;
  }
  m_view.ShowMessage(std::wstring(text));
}

void SettingsModel::ShowHeldMessages() {
  std::vector<std::wstring> messages;
  messages.swap(m_heldMessages);
  for (const std::wstring& text : messages) {
    if (!m_bClosing) m_view.ShowMessage(text);
  }
}

void SettingsModel::UpdateRssiView() {
  if (m_nSignalView == 1) {
    m_view.ShowControl(IDC_RSSI_NUMBER, false);
    m_view.ShowControl(IDC_SIGNAL_PICTURE, true);
    UpdateSignalPicture();
  } else {
    m_view.ShowControl(IDC_RSSI_NUMBER, true);
    m_view.SetControlText(IDC_RSSI_NUMBER, RssiNumberText(m_nRssi));
    m_view.ShowControl(IDC_SIGNAL_PICTURE, false);
  }
}

void SettingsModel::UpdateSignalPicture() {
  const SignalPicture picture = SignalPictureFor(m_nRssi);
  m_view.ShowControl(IDC_SIGNAL_PICTURE, true);
  m_view.SetSignalPicture(picture);
}

void SettingsModel::RunSwitchSignalView() {
  m_nSignalView = m_nSignalView == 1 ? 0 : 1;
  m_view.SetControlText(IDC_RSSI_LABEL,
                        std::wstring(m_nSignalView == 1 ? kSignalLabelPicture : kSignalLabelNumber));
  UpdateRssiView();
  m_view.InvalidateControl(IDC_SIGNAL_PICTURE);
}

void SettingsModel::UpdateLongPressText() {
  m_view.SetControlText(IDC_LONG_PRESS_TEXT, LongPressText(m_view.SliderPosition()));
}

void SettingsModel::OnHScroll(int code, int sourceId) {
  if (sourceId == IDC_LONG_PRESS_SLIDER && (code == kThumbTrack || code == kEndTrack)) {
    UpdateLongPressText();
  }
}

bool SettingsModel::UpdateData(bool toMembers) { return m_view.TransferData(toMembers); }

bool SettingsModel::DoDataExchange(DataExchange& dx) {
  // In Auto mode the URL edit is hidden and the model's URL is what goes
  // out: a stored URL the edit cannot hold must not stop an Apply over a
  // field nobody sees. It is still filled, for a switch to Manual.
  const bool urlInUse = !dx.ToMembers() || m_strMode != kModeAuto;
  return (!urlInUse || dx.Text(IDC_URL, m_strUrl, kUrlField.characterLimit)) &&
         dx.Text(IDC_WIFI_NAME, m_strWifiName, kWifiNameField.characterLimit) &&
         dx.Text(IDC_WIFI_PASSWORD, m_strWifiPassword, kPasswordField.characterLimit) &&
         dx.ComboText(IDC_RESOLUTION_PRESET, m_strResolution) && dx.ComboText(IDC_MODE, m_strMode) &&
         dx.ComboText(IDC_MODEL, m_strModel) && dx.Integer(IDC_RES_WIDTH, m_nResWidth) &&
         dx.Integer(IDC_RES_HEIGHT, m_nResHeight);
}

}  // namespace nerova::settings
