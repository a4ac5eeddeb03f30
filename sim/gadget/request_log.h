#pragma once
// The gadget's log of what the host asked, one line a request, each headed by
// the monotonic clock in ms (the guest's uptime), written through at once so
// that a test reading the file sees every line the moment it is logged.
#include <chrono>
#include <cstdio>
#include <string>

namespace nerova::sim::gadget {

// The monotonic clock the log and the receiver's restart run on.
std::chrono::milliseconds Now();

class RequestLog {
 public:
  // Appends to `path`; ends the program when it cannot be opened.
  explicit RequestLog(const std::string& path);
  RequestLog(const RequestLog&) = delete;
  RequestLog& operator=(const RequestLog&) = delete;
  ~RequestLog();

  void Line(const std::string& text);

 private:
  std::FILE* m_file;
};

}  // namespace nerova::sim::gadget
