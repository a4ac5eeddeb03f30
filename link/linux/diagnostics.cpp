#include "link/linux/diagnostics.h"

#include <utility>

namespace nerova::link::linux_stack {

void Diagnostics::Add(std::string line) {
  std::lock_guard lock(m_mutex);
  m_lines.push_back(std::move(line));
}

void Diagnostics::AddProblem(DeviceProblemKind kind, std::string message) {
  std::lock_guard lock(m_mutex);
  m_lines.push_back(message);
  m_lastProblem = DeviceProblem{kind, std::move(message)};
}

std::vector<std::string> Diagnostics::Lines() const {
  std::lock_guard lock(m_mutex);
  return m_lines;
}

DeviceProblem Diagnostics::TakeProblem() {
  std::lock_guard lock(m_mutex);
  return std::exchange(m_lastProblem, DeviceProblem{});
}

void Diagnostics::Clear() {
  std::lock_guard lock(m_mutex);
  m_lines.clear();
  m_lastProblem = DeviceProblem{};
}

}  // namespace nerova::link::linux_stack
