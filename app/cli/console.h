#pragma once
// Where nerova-cli's lines go: results to standard output, errors and
// progress to standard error. Each call writes one line; the console adds
// the line end.
#include <string_view>

namespace nerova::cli {

class Console {
 public:
  virtual ~Console() = default;
  virtual void Out(std::wstring_view line) = 0;
  virtual void Err(std::wstring_view line) = 0;
  // Whether a line for standard output could not be written (the output
  // closed, its disk full): the command ends with a failure status.
  virtual bool OutputLost() const = 0;
};

}  // namespace nerova::cli
