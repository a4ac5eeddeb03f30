#include "app/cli/typed_lines.h"

#include <thread>
#include <utility>

#include "link/utf8_codec.h"

namespace nerova::cli {

std::optional<std::wstring> LineOfBytes(const std::function<bool(char&)>& readByte) {
  std::string bytes;
  char c = 0;
  bool any = false;
  while (readByte(c)) {
    any = true;
    if (c == '\n') break;
    bytes += c;
  }
  if (!any) return std::nullopt;
  if (!bytes.empty() && bytes.back() == '\r') bytes.pop_back();
  return link::DecodeUtf8(bytes);
}

TypedLines::TypedLines(std::function<std::optional<std::wstring>()> readLine) {
  std::thread([queue = m_queue, readLine = std::move(readLine)] {
    for (;;) {
      std::optional<std::wstring> line = readLine();
      const std::lock_guard<std::mutex> hold(queue->mutex);
      if (!line) {
        queue->ended = true;
        return;
      }
      queue->lines.push_back(std::move(*line));
    }
  }).detach();
}

TypedLines::Next TypedLines::Take(std::wstring& line) {
  const std::lock_guard<std::mutex> hold(m_queue->mutex);
  if (!m_queue->lines.empty()) {
    line = std::move(m_queue->lines.front());
    m_queue->lines.pop_front();
    return Next::Line;
  }
  return m_queue->ended ? Next::Ended : Next::Waiting;
}

}  // namespace nerova::cli
