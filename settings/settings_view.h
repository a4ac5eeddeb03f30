#pragma once
// What the settings window's model needs of its window: the controls of
// dialog template 102 by id, the poll timer, the signal picture and the
// two-way transfer between the model's members and the controls. The Win32
// dialog implements it; tests implement it over plain maps.
#include <cstdint>
#include <string>

#include "settings/signal_level.h"

namespace nerova::settings {

// One run of the two-way transfer, towards the controls or towards the members.
class DataExchange {
 public:
  virtual ~DataExchange() = default;
  virtual bool ToMembers() const = 0;
  // An edit or label and a text member. `limit` (0: none) caps the characters
  // the edit accepts; towards the members, a longer text fails the transfer
  // and the window says so in a message of its own. False: transfer failed.
  virtual bool Text(int id, std::wstring& member, std::size_t limit) = 0;
  // A drop-down list: towards the controls the item equal to the member is
  // selected (none when there is no such item), towards the members the
  // selected item's text is read.
  virtual bool ComboText(int id, std::wstring& member) = 0;
  // A label holding a decimal integer.
  virtual bool Integer(int id, std::int32_t& member) = 0;
};

class SettingsView {
 public:
  virtual ~SettingsView() = default;

  virtual void ShowControl(int id, bool show) = 0;
  virtual void EnableControl(int id, bool enable) = 0;
  virtual void SetControlText(int id, const std::wstring& text) = 0;
  virtual std::wstring ControlText(int id) const = 0;
  virtual void SetCaption(const std::wstring& text) = 0;

  // The long-press trackbar (1030) and the aging-test check box (1034).
  virtual std::int32_t SliderPosition() const = 0;
  virtual void SetSliderPosition(std::int32_t position) = 0;
  virtual bool IsChecked(int id) const = 0;
  virtual void SetChecked(int id, bool checked) = 0;

  // Starting a running timer replaces its period.
  virtual void StartTimer(unsigned id, unsigned periodMs) = 0;
  virtual void StopTimer(unsigned id) = 0;

  // Hands `picture` to the signal frame (1029) when it is not already the
  // one shown, and repaints the frame while it is visible.
  virtual void SetSignalPicture(SignalPicture picture) = 0;
  // Invalidates a control with background erase.
  virtual void InvalidateControl(int id) = 0;

  // A modal box with the text and a single OK button; returns when the user
  // has closed it.
  virtual void ShowMessage(const std::wstring& text) = 0;
  // The firmware update (file dialog, unpacking, the flashing tool's launch)
  // and the help overlay, each run whole; they return when done.
  virtual void RunFirmwareUpdate() = 0;
  virtual void ShowHelp() = 0;
  // Ends the window's modal run with `result` once the current message is done.
  virtual void EndDialog(int result) = 0;

  // Runs the window's two-way transfer, which walks the model's members
  // (SettingsModel::DoDataExchange). False: a control's content was refused
  // towards the members, and the window has told the user why.
  virtual bool TransferData(bool toMembers) = 0;
};

}  // namespace nerova::settings
