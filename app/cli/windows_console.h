#pragma once
// nerova-cli's console on Windows: wide text straight to a console window,
// UTF-8 to a file or pipe (lines end with CR LF either way).
#include "app/cli/console.h"

namespace nerova::cli::win {

class WindowsConsole final : public Console {
 public:
  void Out(std::wstring_view line) override;
  void Err(std::wstring_view line) override;
};

}  // namespace nerova::cli::win
