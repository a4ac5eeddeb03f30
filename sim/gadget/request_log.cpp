#include "sim/gadget/request_log.h"

#include <cerrno>
#include <cstdlib>
#include <system_error>

namespace nerova::sim::gadget {

std::chrono::milliseconds Now() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now().time_since_epoch());
}

RequestLog::RequestLog(const std::string& path) : m_file(std::fopen(path.c_str(), "a")) {
  if (m_file != nullptr) return;
  std::fprintf(stderr, "receiver-gadget: cannot open %s: %s\n", path.c_str(),
               std::generic_category().message(errno).c_str());
  std::exit(1);
}

RequestLog::~RequestLog() { std::fclose(m_file); }

void RequestLog::Line(const std::string& text) {
  std::fprintf(m_file, "%lld %s\n", static_cast<long long>(Now().count()), text.c_str());
  std::fflush(m_file);
}

}  // namespace nerova::sim::gadget
