#pragma once
// Which receiver a command talks to. The receiver link uses the first
// receiver it finds; with several attached, the command line narrows the
// video input category to the one the user chose, so that every find of the
// link (including those after the receiver's restart) lands on it.
#include <memory>
#include <string>
#include <vector>

#include "link/capture_stack.h"

namespace nerova::cli {

// The display names of the video inputs that carry the receiver's USB
// identity, in the system's order. Inputs whose name cannot be read are left
// out.
std::vector<std::wstring> AttachedReceivers(link::CaptureStack& stack);

// `base` with its video input category narrowed to the input named
// `displayName`; while that receiver is away (restarting, unplugged) the
// category is empty.
class ChosenReceiverStack final : public link::CaptureStack {
 public:
  ChosenReceiverStack(link::CaptureStack& base, std::wstring displayName);
  ChosenReceiverStack(const ChosenReceiverStack&) = delete;
  ChosenReceiverStack& operator=(const ChosenReceiverStack&) = delete;

  link::LinkStatus ListVideoInputs(std::unique_ptr<link::VideoInputList>& out) override;
  void DebugOutput(const wchar_t* text) override { m_base.DebugOutput(text); }

 private:
  link::CaptureStack& m_base;
  std::wstring m_displayName;
};

}  // namespace nerova::cli
