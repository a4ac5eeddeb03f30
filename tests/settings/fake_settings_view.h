#pragma once
// A settings window made of maps: control texts, visibility, enabled state,
// the slider, check boxes, the timer and the signal picture, with a record of
// every call the model made, for tests of the model without Win32.
#include <cwchar>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "resources/resource_ids.h"
#include "settings/long_press.h"
#include "settings/settings_model.h"
#include "settings/settings_view.h"

namespace nerova::settings::testing {

class FakeSettingsView : public SettingsView {
 public:
  // The dialog template's start: which controls are visible before start-up.
  FakeSettingsView() {
    for (int id : {IDC_SET_URL, IDC_MODEL, IDC_SET_WIFI_NAME, IDC_SET_PASSWORD, IDC_SET_LONG_PRESS,
                   IDOK_, IDCANCEL_, IDC_SET_CUR, IDC_GET_CUR, IDC_RESOLUTION_LABEL, IDC_RES_WIDTH,
                   IDC_RES_X, IDC_RES_HEIGHT, IDC_SET_RESOLUTION, IDC_CODEC, IDC_RESOLUTION_PRESET,
                   IDC_FPS}) {
      visible[id] = false;
    }
    texts[IDC_RSSI_LABEL] = L"RSSI:";
    texts[IDC_RES_WIDTH] = L"0";
    texts[IDC_RES_HEIGHT] = L"0";
    comboItems[IDC_MODE] = {L"Auto", L"Manual"};
    comboItems[IDC_MODEL] = {L"RC300W", L"RD700/RC60H5"};
    comboItems[IDC_RESOLUTION_PRESET] = {L"4k", L"1080p", L"720p"};
  }

  void ShowControl(int id, bool show) override { visible[id] = show; }
  void EnableControl(int id, bool enable) override {
    enabled[id] = enable;
    enableCalls.push_back(id);
  }
  void SetControlText(int id, const std::wstring& text) override { texts[id] = text; }
  std::wstring ControlText(int id) const override {
    auto it = texts.find(id);
    return it == texts.end() ? std::wstring() : it->second;
  }
  void SetCaption(const std::wstring& text) override { caption = text; }

  std::int32_t SliderPosition() const override { return slider; }
  void SetSliderPosition(std::int32_t position) override { slider = ClampLongPress(position); }
  bool IsChecked(int id) const override {
    auto it = checks.find(id);
    return it != checks.end() && it->second;
  }
  void SetChecked(int id, bool checked) override { checks[id] = checked; }

  void StartTimer(unsigned id, unsigned periodMs) override {
    timers[id] = periodMs;
    timerLog.push_back(static_cast<int>(periodMs));
  }
  void StopTimer(unsigned id) override {
    timers.erase(id);
    timerLog.push_back(0);
  }

  void SetSignalPicture(SignalPicture p) override {
    picture = p;
    ++pictureUpdates;
  }
  void InvalidateControl(int id) override { invalidated.push_back(id); }

  // A box is "shown": recorded, and the test's hook runs while it is open.
  void ShowMessage(const std::wstring& text) override {
    messages.push_back(text);
    if (onMessage) onMessage(text);
  }
  void EndDialog(int result) override { endResult = result; }
  void RunFirmwareUpdate() override { actions.push_back(L"firmware update"); }
  void ShowHelp() override { actions.push_back(L"help"); }
  std::vector<std::wstring> actions;

  // The model whose members the transfer walks (set once it exists).
  SettingsModel* model = nullptr;
  bool TransferData(bool toMembers) override {
    ++exchanges;
    if (!model) return false;
    Exchange exchange(*this, toMembers);
    return model->DoDataExchange(exchange);
  }

  // What a user does: type into an edit, pick a combo item.
  void Type(int id, const std::wstring& text) { texts[id] = text; }
  void Pick(int id, const std::wstring& item) { texts[id] = item; }

  bool IsVisible(int id) const {
    auto it = visible.find(id);
    return it == visible.end() || it->second;
  }
  bool IsEnabled(int id) const {
    auto it = enabled.find(id);
    return it == enabled.end() || it->second;
  }
  std::optional<unsigned> TimerPeriod(unsigned id) const {
    auto it = timers.find(id);
    if (it == timers.end()) return std::nullopt;
    return it->second;
  }

  // Ids the view does not define itself (IDOK, IDCANCEL).
  static constexpr int IDOK_ = 1;
  static constexpr int IDCANCEL_ = 2;

  std::map<int, std::wstring> texts;
  std::map<int, bool> visible;
  std::map<int, bool> enabled;
  std::map<int, bool> checks;
  std::map<int, std::vector<std::wstring>> comboItems;
  std::map<unsigned, unsigned> timers;
  std::vector<int> timerLog;  // periods started, 0 for a stop
  std::vector<int> enableCalls;
  std::vector<int> invalidated;
  std::vector<std::wstring> limitMessages;
  std::vector<std::wstring> messages;
  std::function<void(const std::wstring&)> onMessage;
  std::optional<int> endResult;
  std::wstring caption;
  std::int32_t slider = kLongPressStart;
  std::optional<SignalPicture> picture;
  int pictureUpdates = 0;
  int exchanges = 0;

 private:
  class Exchange : public DataExchange {
   public:
    Exchange(FakeSettingsView& view, bool toMembers) : m_view(view), m_toMembers(toMembers) {}
    bool ToMembers() const override { return m_toMembers; }
    bool Text(int id, std::wstring& member, std::size_t limit) override {
      if (!m_toMembers) {
        // The limit only stops typing; a longer text set by the program stays whole.
        m_view.texts[id] = member;
        return true;
      }
      const std::wstring text = m_view.ControlText(id);
      if (limit && text.size() > limit) {
        m_view.limitMessages.push_back(L"at most " + std::to_wstring(limit));
        m_view.messages.push_back(m_view.limitMessages.back());
        return false;
      }
      member = text;
      return true;
    }
    bool ComboText(int id, std::wstring& member) override {
      if (m_toMembers) {
        member = m_view.ControlText(id);
        return true;
      }
      const auto& items = m_view.comboItems[id];
      bool found = false;
      for (const auto& item : items) found = found || item == member;
      m_view.texts[id] = found ? member : std::wstring();
      return true;
    }
    bool Integer(int id, std::int32_t& member) override {
      if (!m_toMembers) {
        m_view.texts[id] = std::to_wstring(member);
        return true;
      }
      const std::wstring text = m_view.ControlText(id);
      if (text.empty()) return false;
      wchar_t* end = nullptr;
      const long value = std::wcstol(text.c_str(), &end, 10);
      if (*end != L'\0') return false;
      member = static_cast<std::int32_t>(value);
      return true;
    }

   private:
    FakeSettingsView& m_view;
    bool m_toMembers;
  };
};

}  // namespace nerova::settings::testing
