#pragma once
// A thread's request to stop. The tray host stops a settings thread without
// waiting for it: the thread is told through a flag it watches, and the
// code it runs (message boxes, the firmware tool launch) asks here before
// doing anything the user would see. Threads without a binding never stop.
#include <atomic>

namespace nerova::ui {

// True once the flag bound to the calling thread is set.
bool ThreadStopRequested();

// Binds `flag` to the calling thread for the binding's life.
class ThreadStopBinding {
 public:
  explicit ThreadStopBinding(const std::atomic<bool>& flag);
  ~ThreadStopBinding();
  ThreadStopBinding(const ThreadStopBinding&) = delete;
  ThreadStopBinding& operator=(const ThreadStopBinding&) = delete;

 private:
  const std::atomic<bool>* m_previous;
};

}  // namespace nerova::ui
