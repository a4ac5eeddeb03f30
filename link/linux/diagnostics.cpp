#include "link/linux/diagnostics.h"

namespace nerova::link::linux_stack {

void Diagnostics::Add(std::string line) {
  std::lock_guard lock(m_mutex);
  m_lines.push_back(std::move(line));
}

void Diagnostics::AddAccessProblem(std::string message) {
  std::lock_guard lock(m_mutex);
  m_lines.push_back(message);
  m_lastAccessProblem = std::move(message);
}

std::vector<std::string> Diagnostics::Lines() const {
  std::lock_guard lock(m_mutex);
  return m_lines;
}

std::string Diagnostics::LastAccessProblem() const {
  std::lock_guard lock(m_mutex);
  return m_lastAccessProblem;
}

void Diagnostics::Clear() {
  std::lock_guard lock(m_mutex);
  m_lines.clear();
  m_lastAccessProblem.clear();
}

}  // namespace nerova::link::linux_stack
