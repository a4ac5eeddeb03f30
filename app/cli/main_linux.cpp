// nerova-cli on Linux: the receiver through sysfs and the uvcvideo driver,
// texts in the code page Windows would use for the user's locale. Arguments
// and output are UTF-8.
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <exception>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "app/cli/cli_commands.h"
#include "app/cli/exit_codes.h"
#include "app/cli/typed_lines.h"
#include "link/linux/code_page.h"
#include "link/linux/file_system.h"
#include "link/linux/iconv_codec.h"
#include "link/linux/linux_capture_stack.h"
#include "link/linux/lock_file_locks.h"
#include "link/linux/uvc_device.h"
#include "link/sleeping_pump.h"
#include "link/utf8_codec.h"

namespace {

using namespace nerova;

volatile sig_atomic_t g_interrupted = 0;

// SIGINT, SIGTERM and SIGHUP (the terminal or the SSH connection gone) end a
// wait at its next look, never a write sequence.
extern "C" void OnStopSignal(int) { g_interrupted = 1; }

// SIGPIPE is ignored: output into a pipe that nobody reads any more (its
// reader ended, the connection it led to dropped) fails with EPIPE instead
// of ending the program between two writes to the receiver.
void CatchStopSignals() {
  struct sigaction stop {};
  stop.sa_handler = OnStopSignal;
  sigemptyset(&stop.sa_mask);
  for (const int stopSignal : {SIGINT, SIGTERM, SIGHUP}) sigaction(stopSignal, &stop, nullptr);
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGPIPE, &ignore, nullptr);
}

class StandardConsole final : public cli::Console {
 public:
  void Out(std::wstring_view line) override {
    if (!Write(stdout, line)) m_outputLost = true;
  }
  void Err(std::wstring_view line) override { Write(stderr, line); }
  bool OutputLost() const override { return m_outputLost; }

 private:
  // A line that cannot be written (the output closed or gone) is lost; the
  // command goes on to its end and tells its outcome by its exit status.
  bool Write(std::FILE* stream, std::wstring_view line) {
    const std::string bytes = m_utf8.Encode(std::wstring(line) + L"\n");
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), stream) == bytes.size();
    return std::fflush(stream) == 0 && written;
  }
  link::Utf8Codec m_utf8;
  bool m_outputLost = false;
};

std::optional<std::string> ReadStandardInput(std::size_t limit) {
  std::string bytes;
  char buffer[4096];
  std::size_t read = 0;
  while (bytes.size() <= limit && (read = std::fread(buffer, 1, sizeof buffer, stdin)) > 0) bytes.append(buffer, read);
  if (std::ferror(stdin)) return std::nullopt;
  return bytes;
}

// A line of standard input without its line end; none at its end, or when
// it cannot be read. Read byte by byte from the descriptor, not through the
// C library's stream: the thread that waits for it is left blocked when the
// program ends, and must hold no lock the ending takes.
std::optional<std::wstring> ReadLine() {
  return cli::LineOfBytes([](char& c) {
    for (;;) {
      const ssize_t got = ::read(STDIN_FILENO, &c, 1);
      if (got < 0 && errno == EINTR) continue;
      return got == 1;
    }
  });
}

// The locale the user's texts are in, as the C library would choose it.
std::string LocaleName() {
  for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    const char* value = std::getenv(variable);
    if (value != nullptr && *value != '\0') return value;
  }
  return "C";
}

cli::ReceiverProblem ReceiverProblemOf(const link::linux_stack::DeviceProblem& problem) {
  using link::linux_stack::DeviceProblemKind;
  using Kind = cli::ReceiverProblem::Kind;
  const Kind kind = problem.kind == DeviceProblemKind::NotAccessible ? Kind::NotAccessible
                    : problem.kind == DeviceProblemKind::ControlSize ? Kind::ControlSize
                                                                     : Kind::None;
  return {kind, link::Utf8Codec().Decode(problem.message)};
}

int Run(const std::vector<std::wstring>& arguments) {
  StandardConsole console;
  const cli::ParsedArguments parsed = cli::ParseArguments(arguments);
  if (!parsed.options) {
    console.Err(L"nerova-cli: " + parsed.error);
    console.Err(L"Run \"nerova-cli --help\" for the usage.");
    return cli::kExitUsage;
  }
  const cli::Options& options = *parsed.options;
  const std::uint32_t codePage = options.codePage.value_or(link::linux_stack::AnsiCodePageForLocale(LocaleName()));
  const std::unique_ptr<link::linux_stack::IconvCodec> codec = link::linux_stack::IconvCodec::ForCodePage(codePage);
  if (!codec) {
    console.Err(L"nerova-cli: code page " + std::to_wstring(codePage) + L" cannot be converted on this system");
    return cli::kExitUsage;
  }

  CatchStopSignals();
  const link::linux_stack::RootedFileSystem files;
  link::linux_stack::KernelUvcDeviceOpener devices;
  link::linux_stack::LinuxCaptureStack stack(files, devices);
  link::SleepingPump pump;
  link::linux_stack::LockFileLocks locks;
  cli::Platform platform{stack,
                         pump,
                         *codec,
                         console,
                         [] { return g_interrupted != 0; },
                         [&] { return ReceiverProblemOf(stack.TakeProblem()); },
                         [&] {
                           std::vector<link::VideoInputName> names;
                           for (const auto& function : stack.UnservedVideoFunctions()) {
                             names.push_back(link::linux_stack::NameOf(function));
                           }
                           return names;
                         },
                         nullptr,
                         locks,
                         nullptr,
                         ReadStandardInput,
                         ReadLine};
  return cli::RunCommand(options, platform);
}

}  // namespace

int main(int argc, char** argv) {
  const nerova::link::Utf8Codec utf8;
  std::vector<std::wstring> arguments;
  for (int i = 1; i < argc; ++i) arguments.push_back(utf8.Decode(argv[i]));
  // Nothing is expected to throw; should something (memory, a conversion
  // the system refuses) do so anyway, it ends the program with a message.
  try {
    return Run(arguments);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "nerova-cli: %s\n", error.what());
    return nerova::cli::kExitFailed;
  }
}
