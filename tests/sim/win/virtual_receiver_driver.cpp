#include "tests/sim/win/virtual_receiver_driver.h"

#include <windows.h>

#include <cstdio>
#include <sstream>

namespace nerova::sim::virtual_receiver::testing {
namespace {

constexpr wchar_t kControllerPath[] = NEROVA_RECEIVER_CONTROLLER;
constexpr DWORD kControllerTimeoutMs = 60000;

// Starts `command` and waits for it; what it printed on its standard output
// (and its standard error too, with `withErrors`).
int RunCapturing(std::wstring command, std::string* output, bool withErrors = false) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE readEnd = nullptr;
  HANDLE writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return -1;
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = writeEnd;
  startup.hStdError = withErrors ? writeEnd : GetStdHandle(STD_ERROR_HANDLE);
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  PROCESS_INFORMATION process{};
  const BOOL started =
      CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process);
  const DWORD startError = GetLastError();
  CloseHandle(writeEnd);
  if (!started) {
    CloseHandle(readEnd);
    std::fprintf(stderr, "cannot start %ls (error %lu)\n", command.c_str(), startError);
    return -1;
  }
  std::string text;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(readEnd, buffer, sizeof buffer, &got, nullptr) && got > 0) text.append(buffer, got);
  CloseHandle(readEnd);
  const bool ended = WaitForSingleObject(process.hProcess, kControllerTimeoutMs) == WAIT_OBJECT_0;
  if (!ended) std::fprintf(stderr, "%ls did not end\n", command.c_str());
  DWORD code = static_cast<DWORD>(-1);
  if (ended) GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  if (output) *output = std::move(text);
  return ended ? static_cast<int>(code) : -1;
}

std::wstring ControllerCommand(const VirtualReceiver& receiver, const std::wstring& arguments) {
  return std::wstring(L"\"") + kControllerPath + L"\" --receiver " + std::to_wstring(receiver.number) + L" " + arguments;
}

std::string Controller(const VirtualReceiver& receiver, const std::wstring& arguments) {
  std::string output;
  RunCapturing(ControllerCommand(receiver, arguments), &output);
  return output;
}

}  // namespace

int RunController(const std::wstring& arguments) {
  return RunCapturing(std::wstring(L"\"") + kControllerPath + L"\" " + arguments, nullptr);
}

int RunController(const VirtualReceiver& receiver, const std::wstring& arguments) {
  return RunCapturing(ControllerCommand(receiver, arguments), nullptr);
}

int RunProgram(const std::wstring& commandLine, std::string& output) {
  return RunCapturing(commandLine, &output, true);
}

ShownReceiver ReceiverState(const VirtualReceiver& receiver) {
  ShownReceiver record;
  std::istringstream lines(Controller(receiver, L"show"));
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    const std::string key = line.substr(0, equals);
    const std::string value = line.substr(equals + 1);
    if (key == "url") record.values.url = value;
    if (key == "wifiname") record.values.wifiName = value;
    if (key == "wifipassword") record.values.wifiPassword = value;
    if (key == "longpresstime") record.values.longPressTime = std::stoi(value);
    if (key == "agingtest") record.values.agingTest = std::stoi(value);
    if (key == "firmware") record.values.firmwareVersion = value;
    if (key == "present") record.present = value == "1";
  }
  return record;
}

std::vector<LoggedTransfer> ReceiverLog(const VirtualReceiver& receiver) {
  return ParseReceiverLog(Controller(receiver, L"log"));
}

std::vector<LoggedTransfer> ParseReceiverLog(const std::string& text) {
  std::vector<LoggedTransfer> transfers;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    // 2026-12-08T21:02:12.603 SET 00 01 ...
    if (line.size() < 28 || line[10] != 'T') continue;
    LoggedTransfer t;
    t.timeMs = ((std::stoll(line.substr(11, 2)) * 60 + std::stoll(line.substr(14, 2))) * 60 +
                std::stoll(line.substr(17, 2))) * 1000 + std::stoll(line.substr(20, 3));
    t.set = line.compare(24, 3, "SET") == 0;
    for (std::size_t i = 28; i + 1 < line.size(); i += 3) {
      t.bytes += static_cast<char>(std::stoi(line.substr(i, 2), nullptr, 16));
    }
    transfers.push_back(std::move(t));
  }
  return transfers;
}

}  // namespace nerova::sim::virtual_receiver::testing
