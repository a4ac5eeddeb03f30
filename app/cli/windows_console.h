#pragma once
// nerova-cli's console on Windows: wide text straight to a console window,
// UTF-8 to a file or pipe (lines end with CR LF either way).
#include <optional>
#include <string>

#include "app/cli/console.h"

namespace nerova::cli::win {

class WindowsConsole final : public Console {
 public:
  void Out(std::wstring_view line) override;
  void Err(std::wstring_view line) override;
  bool OutputLost() const override { return m_outputLost; }

 private:
  bool m_outputLost = false;
};

// Standard input up to its end, or up to `limit` bytes and one more; none
// when it cannot be read.
std::optional<std::string> ReadStandardInput(std::size_t limit);
// One line of standard input without its line end: typed in the console,
// or UTF-8 from a file or pipe. None at its end.
std::optional<std::wstring> ReadLine();

}  // namespace nerova::cli::win
