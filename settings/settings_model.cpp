#include "settings/settings_model.h"

#include <algorithm>
#include <array>
#include <optional>

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

}  // namespace

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

  // Normally the window opens loaded. While the receiver is still held by
  // the window this one replaces (its thread may be stuck in a device call),
  // the load waits until this window shows, so that it appears at once.
  if (m_link.Busy()) {
    // Until that load has read the receiver there is nothing to edit: the
    // controls look as they do without a receiver.
    EnableDeviceControls();
    m_view.StartTimer(STARTUP_TIMER, 0);
  } else {
    Submit(Command::Startup);
  }
  m_view.StartTimer(POLL_TIMER, kPollPeriodMs);

  m_view.SetCaption(std::wstring(kProductName) + std::wstring(kProductVersion));
  m_view.SetControlText(IDC_RSSI_LABEL,
                        std::wstring(m_nSignalView == 1 ? kSignalLabelPicture : kSignalLabelNumber));
  UpdateRssiView();
  for (int id : kHiddenRows) m_view.ShowControl(id, false);
}

void SettingsModel::OnDestroy() {
  m_diagLink.reset();
  m_receiver.Release();
}

void SettingsModel::OnRefresh() { Submit(Command::Refresh); }

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

void SettingsModel::Submit(Command command) {
  if (InExchange()) {
    // A tick comes again in two seconds, and a second Apply pressed while
    // the first one writes would only repeat it; anything else must not be lost.
    if (command == Command::PollTick || (command == Command::Apply && m_bApplying)) return;
    // A write asked for before the receiver was read would send what the
    // read is about to replace.
    if (!m_bLoaded && WritesSettings(command)) return;
    if (std::find(m_deferred.begin(), m_deferred.end(), command) == m_deferred.end()) {
      m_deferred.push_back(command);
    }
    return;
  }
  m_bExchanging = true;
  Run(command);
  while (!m_deferred.empty() && !m_bClosing) {
    const Command next = m_deferred.front();
    m_deferred.erase(m_deferred.begin());
    if (StillWanted(next)) Run(next);
  }
  m_deferred.clear();
  m_bExchanging = false;
  // Whatever ran, the controls that need the receiver say whether it is
  // there.
  if (m_bControlsShowPresent != m_bDevicePresent) EnableDeviceControls();
  if (m_bDevicePresent) m_view.EnableControl(IDC_REFRESH, true);
}

bool SettingsModel::WritesSettings(Command command) {
  switch (command) {
    case Command::Apply:
    case Command::SetUrl:
    case Command::SetWifiName:
    case Command::SetPassword:
    case Command::SetResolution:
      return true;
    default:
      return false;
  }
}

bool SettingsModel::StillWanted(Command command) const {
  // An Apply that waited behind a probe which lost the receiver has nothing
  // to write to (its button is disabled by now).
  if (command == Command::Apply) return m_bDevicePresent;
  // While the receiver restarts after an Apply, what the user asked for
  // before it went out belongs to the configuration it replaced; only the
  // window's own start-up and probes go on.
  if (m_bAwaitingRestart) {
    return command == Command::Startup || command == Command::PollTick || command == Command::FirmwareUpdate ||
           command == Command::Help;
  }
  return true;
}

bool SettingsModel::TalksToReceiver(Command command) {
  switch (command) {
    case Command::SelchangeMode:
    case Command::SelchangeModel:
    case Command::FirmwareUpdate:
    case Command::Help:
      return false;
    default:
      return true;
  }
}

void SettingsModel::Run(Command command) {
  if (!TalksToReceiver(command)) {
    Perform(command);
    return;
  }
  // Each command has the receiver to itself against other programs (a
  // command line beside the window), a load or an Apply whole. The signal
  // poll does not wait for one that has it: that reading is skipped, and
  // the next tick comes in two seconds.
  const bool poll = command == Command::PollTick;
  {
    const link::ReceiverSettings::Turn turn(m_settings, poll ? link::TurnWait::None : link::TurnWait::Bounded);
    if (turn.Held()) Perform(command);
  }
  // Found held past the wait, at the start or at the receiver's first
  // exchange inside.
  if (!poll && m_settings.HeldElsewhere()) Message(kReceiverInUse);
}

void SettingsModel::Perform(Command command) {
  switch (command) {
    case Command::Startup:
      CheckDevice();
      LoadSettings();
      break;
    case Command::Refresh:
      m_view.StopTimer(POLL_TIMER);
      LoadSettings();
      m_view.StartTimer(POLL_TIMER, kPollPeriodMs);
      break;
    case Command::PollTick:
      RunPollTick();
      break;
    case Command::SelchangeMode:
      RunSelchangeMode();
      break;
    case Command::SelchangeModel:
      RunSelchangeModel();
      break;
    case Command::Apply:
      RunApply();
      break;
    case Command::SetUrl:
    case Command::SetWifiName:
    case Command::SetPassword:
    case Command::SetResolution:
      RunSetField(command);
      break;
    case Command::SetCur:
      m_nRssi = m_settings.ReadRssi();
      UpdateRssiView();
      break;
    case Command::GetCur:
      RunGetCur();
      break;
    case Command::BlockSweep:
      RunBlockSweep();
      break;
    case Command::FirmwareUpdate:
      m_view.RunFirmwareUpdate();
      break;
    case Command::Help:
      m_view.ShowHelp();
      break;
  }
}

void SettingsModel::RunPollTick() {
  if (!m_bDevicePresent) {
    CheckDevice();
    m_view.EnableControl(IDC_REFRESH, m_bDevicePresent);
    if (!m_bDevicePresent) return;
  }
  m_nRssi = m_settings.ReadRssi();
  // A reading that fails may be a receiver that left: one that answers again
  // (found afresh if need be) is read once more, one that does not is absent.
  if (m_nRssi == link::kRssiFailed && !m_settings.IsBusy()) {
    if (!m_receiver.Answers()) {
      CheckDevice();
      return;
    }
    m_nRssi = m_settings.ReadRssi();
  }
  UpdateRssiView();
}

void SettingsModel::Pause() { m_pump.PumpWait(kReadPauseMs); }

void SettingsModel::LoadSettings() {
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

  const StoredSettings stored = ReadStoredSettings(m_settings, m_pump);
  if (!stored.editableValuesRead) {
    // What came back is failure values, not the receiver's settings: the
    // window shows the receiver as absent, and the next tick, once it
    // answers again, reads it whole.
    ShowAbsent();
    return;
  }
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
  m_bLongPressTimeKnown = stored.longPressTimeAnswered;
  m_bAgingTestKnown = stored.agingTestAnswered;

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
}

void SettingsModel::CheckDevice() {
  if (!m_receiver.Answers()) {
    ShowAbsent();
    return;
  }
  if (m_bLoaded) return;
  m_view.StopTimer(POLL_TIMER);
  LoadSettings();
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

// The combos change what Apply would write, so they wait for an exchange
// under way like the commands do.
void SettingsModel::OnSelchangeMode() { Submit(Command::SelchangeMode); }

void SettingsModel::OnSelchangeModel() { Submit(Command::SelchangeModel); }

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

void SettingsModel::OnApply() { Submit(Command::Apply); }

void SettingsModel::OnFirmwareUpdate() { Submit(Command::FirmwareUpdate); }

void SettingsModel::OnHelp() { Submit(Command::Help); }

void SettingsModel::OnExit() {
  OnClosing();
  m_view.EndDialog(1);
}

void SettingsModel::OnClosing() {
  m_bClosing = true;
  // A closing window waits for the receiver no longer (a load that waits for
  // the window before it, say); an Apply under way still completes.
  if (!m_bApplying) m_link.GiveUp();
}

void SettingsModel::OnSetUrl() { Submit(Command::SetUrl); }
void SettingsModel::OnSetWifiName() { Submit(Command::SetWifiName); }
void SettingsModel::OnSetPassword() { Submit(Command::SetPassword); }
void SettingsModel::OnSetResolution() { Submit(Command::SetResolution); }
void SettingsModel::OnSetCur() { Submit(Command::SetCur); }
void SettingsModel::OnGetCur() { Submit(Command::GetCur); }
void SettingsModel::OnSetLongPress() { Submit(Command::BlockSweep); }

void SettingsModel::RunApply() {
  m_bApplying = true;
  m_view.StopTimer(POLL_TIMER);
  if (ApplyConfiguration()) {
    m_view.EnableControl(IDC_REFRESH, false);
    m_view.StartTimer(POLL_TIMER, kRebootPollPeriodMs);
  } else {
    m_view.StartTimer(POLL_TIMER, kPollPeriodMs);
  }
  m_bApplying = false;
}

bool SettingsModel::ApplyConfiguration() {
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
  if (m_bClosing) return false;

  // From the first write on, the configuration goes out whole: a close
  // request waits for the end, and so does a stop of this window's thread
  // (briefly). Only a write that fails ends it early.
  ApplySequence apply(m_link, m_settings, m_pump);
  if (!apply.Write(configuration)) {
    Message(kApplyFailed);
    return false;
  }

  // The user reads this before the receiver goes away, unless the window
  // was closed meanwhile.
  if (!m_bClosing) Message(kApplySucceeded);
  m_bLoaded = false;
  m_bDevicePresent = false;
  EnableDeviceControls();
  // A window that is being replaced changes nothing beyond its receiver:
  // the restart it sends is news to the host, and the window that replaces
  // it learns of the receiver's return by itself.
  if (!m_link.StopRequested()) g_bRebootExpected = true;
  apply.Restart();
  m_bAwaitingRestart = true;
  return true;
}

bool SettingsModel::CheckSendable(const std::wstring& value, const WireField& field) {
  if (m_settings.SurvivesEncoding(value)) return true;
  Message(NotSendableToReceiverMessage(field));
  return false;
}

void SettingsModel::RunSetField(Command command) {
  if (!UpdateData(true)) return;
  switch (command) {
    case Command::SetUrl:
      if (!CheckSendable(m_strUrl, kUrlField)) break;
      Message(m_settings.WriteUrl(m_strUrl) ? kSetUrlOk : kSetUrlFailed);
      break;
    case Command::SetWifiName:
      if (!CheckSendable(m_strWifiName, kWifiNameField)) break;
      Message(m_settings.WriteWifiName(m_strWifiName) ? kSetWifiNameOk : kSetWifiNameFailed);
      break;
    case Command::SetPassword:
      if (!CheckSendable(m_strWifiPassword, kPasswordField)) break;
      Message(m_settings.WriteWifiPassword(m_strWifiPassword) ? kSetPasswordOk : kSetPasswordFailed);
      break;
    case Command::SetResolution:
      Message(m_settings.WriteResolution(m_nResWidth, m_nResHeight) ? kSetResolutionOk : kSetResolutionFailed);
      break;
    default:
      break;
  }
}

void SettingsModel::RunGetCur() {
  if (!m_diagLink) {
    link::DeviceRef found;
    if (!m_link.FindReceiverByProbeUnit(found).Ok() || !found) return;
    m_diagLink = std::move(found);
  }
  std::array<std::uint8_t, link::kBlockSize> block{};
  m_link.GetCur(block.data(), static_cast<std::uint32_t>(block.size()), m_diagLink);
}

void SettingsModel::RunBlockSweep() {
  for (std::uint8_t code = 1; code <= 14; ++code) {
    m_settings.ReadText(code);
    Pause();
  }
}

void SettingsModel::Message(std::wstring_view text) { m_view.ShowMessage(std::wstring(text)); }

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

void SettingsModel::OnRssiLabelClicked() {
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
  return dx.Text(IDC_URL, m_strUrl, kUrlField.characterLimit) &&
         dx.Text(IDC_WIFI_NAME, m_strWifiName, kWifiNameField.characterLimit) &&
         dx.Text(IDC_WIFI_PASSWORD, m_strWifiPassword, kPasswordField.characterLimit) &&
         dx.ComboText(IDC_RESOLUTION_PRESET, m_strResolution) && dx.ComboText(IDC_MODE, m_strMode) &&
         dx.ComboText(IDC_MODEL, m_strModel) && dx.Integer(IDC_RES_WIDTH, m_nResWidth) &&
         dx.Integer(IDC_RES_HEIGHT, m_nResHeight);
}

}  // namespace nerova::settings
