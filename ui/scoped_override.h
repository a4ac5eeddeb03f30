#pragma once
// A process-wide handler that stands in for a platform call (a message box,
// the open-file dialog, a program launch) while a scope lives: the call asks
// Current() and, when one is set, the handler instead of the platform.
// Scopes nest; the innermost one wins. Safe from any thread; the handler is
// handed out as a copy, so it runs outside the lock.
#include <mutex>
#include <utility>

namespace nerova::ui {

template <typename Handler>
class ScopedOverride {
 public:
  explicit ScopedOverride(Handler handler) {
    std::lock_guard lock(Slot().mutex);
    m_previous = std::exchange(Slot().handler, std::move(handler));
  }
  ~ScopedOverride() {
    std::lock_guard lock(Slot().mutex);
    Slot().handler = std::move(m_previous);
  }
  ScopedOverride(const ScopedOverride&) = delete;
  ScopedOverride& operator=(const ScopedOverride&) = delete;

  // The innermost scope's handler; empty when no scope lives.
  static Handler Current() {
    std::lock_guard lock(Slot().mutex);
    return Slot().handler;
  }

 private:
  struct Shared {
    std::mutex mutex;
    Handler handler;  // guarded by mutex
  };
  static Shared& Slot() {
    static Shared shared;
    return shared;
  }

  Handler m_previous;
};

}  // namespace nerova::ui
