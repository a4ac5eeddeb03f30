#pragma once
// The program that ships, started as a process of its own against the
// virtual receiver and driven from outside through its windows, as a user
// would: its settings window and boxes found by process, controls read and
// pressed through their messages, the tray icon's menu opened as the shell
// opens it.
#include <windows.h>

#include <string>
#include <vector>

#include "tests/sim/win/virtual_receiver_driver.h"

namespace nerova::app::testing {

using namespace sim::virtual_receiver::testing;

class ShippedProgram {
 public:
  ShippedProgram();
  ~ShippedProgram();
  ShippedProgram(const ShippedProgram&) = delete;
  ShippedProgram& operator=(const ShippedProgram&) = delete;

  bool Started() const { return m_process.hProcess != nullptr; }
  bool WaitForEnd(DWORD timeoutMs);
  std::vector<HWND> TopLevelWindows() const;
  // The visible settings windows of the program (one, normally).
  std::vector<HWND> SettingsWindows() const;
  // The one settings window, once it shows.
  HWND WaitForSettingsWindow() const;
  // The hidden host window (the main thread's dialog).
  HWND Host() const;
  // A visible message box of the program and its text, or null.
  HWND Box(std::wstring* text = nullptr) const;
  HWND WaitForBox(std::wstring* text) const;
  // The tray icon's menu, opened as the shell opens it on a right click, and
  // its one item chosen by its mnemonic.
  bool ChooseTrayExit() const;

 private:
  PROCESS_INFORMATION m_process{};
};

std::wstring ControlText(HWND window, int id);
bool ControlEnabled(HWND window, int id);
void SetControlText(HWND window, int id, const std::wstring& text);
void Click(HWND window, int id);
void SelectComboItem(HWND window, int id, int index);
// Presses OK in a message box.
void Dismiss(HWND box);

}  // namespace nerova::app::testing
