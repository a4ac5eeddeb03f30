#pragma once
// What the Linux capture stack has to tell its user beyond result codes: the
// link's debug lines, failures without a result code of their own, and why
// a video node could not be opened. Shared by the stack and everything it
// hands out; safe to use from several threads.
#include <mutex>
#include <string>
#include <vector>

namespace nerova::link::linux_stack {

class Diagnostics {
 public:
  void Add(std::string line);
  // A refused open of a video node; also added as a line.
  void AddAccessProblem(std::string message);
  std::vector<std::string> Lines() const;
  std::string LastAccessProblem() const;
  void Clear();

 private:
  mutable std::mutex m_mutex;
  std::vector<std::string> m_lines;
  std::string m_lastAccessProblem;
};

}  // namespace nerova::link::linux_stack
