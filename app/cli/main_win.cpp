// nerova-cli on Windows: the receiver through DirectShow and Kernel
// Streaming, texts in the code page of this computer's language.
#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "app/cli/cli_commands.h"
#include "app/cli/exit_codes.h"
#include "app/cli/firmware_update_command.h"
#include "app/cli/session_end_window.h"
#include "app/cli/uninterruptible.h"
#include "app/cli/windows_console.h"
#include "link/win/code_page_codec.h"
#include "link/win/directshow_capture_stack.h"
#include "link/win/named_mutex_locks.h"
#include "link/win/pump_wait.h"
#include "ui/handles.h"

namespace {

std::atomic<bool> g_interrupted{false};

// Under the 5 s (SPI_GETHUNGAPPTIMEOUT) after which Windows ends a process
// whose console is closing whether or not its handler has returned.
constexpr std::chrono::milliseconds kCloseGrace{4500};

// Runs on a thread of its own. Every event ends a wait at its next look,
// never a write sequence. Ctrl+C and Ctrl+Break leave the process to end by
// itself; after a closed console window, a logoff or a shutdown Windows ends
// it as soon as this returns, so a configuration going out is waited for.
// (Windows sends logoff and shutdown to a console program only while it has
// not loaded user32, which DirectShow does: SessionEndWindow takes them.)
BOOL WINAPI OnConsoleControl(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      g_interrupted = true;
      return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      g_interrupted = true;
      nerova::cli::WaitUntilNoConfigurationGoingOut(kCloseGrace);
      return TRUE;
    default:
      return FALSE;
  }
}

// A thread that configures one receiver of several: COM of its own, and a
// wait that pumps its own messages.
class ComWorkerThread final : public nerova::cli::WorkerThread {
 public:
  nerova::link::MessagePump& Pump() override { return m_pump; }

 private:
  const nerova::ui::ComApartment m_com;
  nerova::link::win::WindowsPump m_pump;
};

int Run(const std::vector<std::wstring>& arguments) {
  using namespace nerova::cli;
  win::WindowsConsole console;
  const ParsedArguments parsed = ParseArguments(arguments);
  if (!parsed.options) {
    console.Err(L"nerova-cli: " + parsed.error);
    console.Err(L"Run \"nerova-cli --help\" for the usage.");
    return kExitUsage;
  }
  const Options& options = *parsed.options;
  if (options.codePage && !IsValidCodePage(*options.codePage)) {
    console.Err(L"nerova-cli: code page " + std::to_wstring(*options.codePage) +
                L" is not installed on this computer");
    return kExitUsage;
  }

  const nerova::ui::ComApartment com;
  if (FAILED(com.Result())) {
    console.Err(L"nerova-cli: COM could not be initialised");
    return kExitFailed;
  }
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
  const win::SessionEndWindow sessionEnd([] { g_interrupted = true; });
  nerova::link::win::CodePageCodec codec(options.codePage.value_or(CP_THREAD_ACP));
  nerova::link::win::DirectShowCaptureStack stack;
  nerova::link::win::WindowsPump pump;
  // The same mutexes as the settings window's.
  nerova::link::win::NamedMutexLocks locks;
  Platform platform{stack,
                    pump,
                    codec,
                    console,
                    [] { return g_interrupted.load(); },
                    nullptr,
                    nullptr,
                    [&console](const std::wstring& package) { return win::UpdateFirmware(package, console); },
                    locks,
                    [] { return std::make_unique<ComWorkerThread>(); },
                    win::ReadStandardInput,
                    win::ReadLine};
  return RunCommand(options, platform);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::vector<std::wstring> arguments;
  for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i]);
  // Nothing is expected to throw; should something (memory, a conversion
  // the system refuses) do so anyway, it ends the program with a message.
  try {
    return Run(arguments);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "nerova-cli: %s\n", error.what());
    return nerova::cli::kExitFailed;
  }
}
