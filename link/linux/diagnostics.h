#pragma once
// What the Linux capture stack has to tell its user beyond result codes: the
// link's debug lines, failures without a result code of their own, and why
// a receiver's node could not be used. Shared by the stack and everything it
// hands out; safe to use from several threads.
#include <mutex>
#include <string>
#include <vector>

namespace nerova::link::linux_stack {

// Why a video node could not be used, where its errno says more than the
// result code it becomes.
enum class DeviceProblemKind {
  None,
  NotAccessible,  // the user may not open the node
  ControlSize,    // the driver refused a query of another size than the control's
};

struct DeviceProblem {
  DeviceProblemKind kind = DeviceProblemKind::None;
  std::string message;  // UTF-8, one line
};

class Diagnostics {
 public:
  void Add(std::string line);
  // Also added as a line; the latest one is kept until taken.
  void AddProblem(DeviceProblemKind kind, std::string message);
  std::vector<std::string> Lines() const;
  // The latest problem since the last take, forgotten by taking it.
  DeviceProblem TakeProblem();
  void Clear();

 private:
  mutable std::mutex m_mutex;
  std::vector<std::string> m_lines;
  DeviceProblem m_lastProblem;
};

}  // namespace nerova::link::linux_stack
