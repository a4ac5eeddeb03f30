#pragma once
// The lines typed for provision --ask, read on a thread of their own, so
// that the receivers under way are reported while the next line is awaited.
// A line typed before its question (a scanner that is quick) waits its turn.
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace nerova::cli {

// One line of UTF-8 from a stream of bytes, without its line end (LF or
// CR LF); `readByte` gives the next byte, false at the stream's end. None
// when the stream ended before any byte.
std::optional<std::wstring> LineOfBytes(const std::function<bool(char&)>& readByte);

class TypedLines {
 public:
  // `readLine` blocks for one line; none at the input's end.
  explicit TypedLines(std::function<std::optional<std::wstring>()> readLine);
  TypedLines(const TypedLines&) = delete;
  TypedLines& operator=(const TypedLines&) = delete;

  enum class Next { Line, Waiting, Ended };
  // The next line into `line` when one has come; whether the input ended.
  Next Take(std::wstring& line);

 private:
  // Shared with the reading thread, which may outlive this object: a read
  // cannot be called off, so the thread is let go rather than waited for.
  struct Queue {
    std::mutex mutex;
    std::deque<std::wstring> lines;
    bool ended = false;
  };
  std::shared_ptr<Queue> m_queue = std::make_shared<Queue>();
};

}  // namespace nerova::cli
