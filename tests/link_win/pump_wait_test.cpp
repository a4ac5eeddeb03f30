// The message-pumping wait: what it dispatches, how long it takes at least,
// that it sleeps rather than spins, the tick counter's wrap and WM_QUIT.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "link/win/pump_wait.h"

namespace nerova::link::win {
namespace {

constexpr UINT kPing = WM_APP + 1;
constexpr UINT kPostQuitOnPing = WM_APP + 2;
constexpr UINT kChain = WM_APP + 3;
constexpr DWORD kGenerousMs = 20000;
// A wait that only a message can end early.
constexpr std::uint32_t kLongWait = 3 * kGenerousMs;

// A message-only window that notes what reaches it and on which thread.
class Recorder {
 public:
  Recorder() {
    WNDCLASSW wc{};
    wc.lpfnWndProc = &Recorder::Proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"NerovaPumpWaitTest";
    RegisterClassW(&wc);  // already registered by an earlier test: fine
    m_hwnd = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                             wc.hInstance, nullptr);
    SetWindowLongPtrW(m_hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  }
  ~Recorder() { DestroyWindow(m_hwnd); }
  Recorder(const Recorder&) = delete;
  Recorder& operator=(const Recorder&) = delete;

  HWND hwnd() const { return m_hwnd; }

  std::vector<WPARAM> pings;
  std::atomic<int> timers{0};
  std::atomic<int> sent{0};
  DWORD sentOnThread = 0;
  bool quitOnPing = false;

 private:
  static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    auto* self = reinterpret_cast<Recorder*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!self) return DefWindowProcW(hwnd, msg, wp, lp);
    switch (msg) {
      case kPing:
        self->pings.push_back(wp);
        if (self->quitOnPing) PostQuitMessage(static_cast<int>(wp));
        return 0;
      case kChain:
        // A handler that queues more work: the same drain picks it up.
        self->pings.push_back(wp);
        PostMessageW(hwnd, kPing, wp + 1, 0);
        return 0;
      case kPostQuitOnPing:
        self->sent++;
        self->sentOnThread = GetCurrentThreadId();
        PostQuitMessage(static_cast<int>(wp));
        return 0;
      case WM_TIMER:
        self->timers++;
        return 0;
      default:
        return DefWindowProcW(hwnd, msg, wp, lp);
    }
  }

  HWND m_hwnd = nullptr;
};

// Takes the WM_QUIT that a test expects to be waiting, and its exit code.
bool TakeQuit(WPARAM& code) {
  MSG msg;
  const UINT_PTR guard = SetTimer(nullptr, 0, kGenerousMs, nullptr);
  for (;;) {
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0) {
      KillTimer(nullptr, guard);
      code = msg.wParam;
      return true;
    }
    if (got < 0 || (msg.message == WM_TIMER && msg.wParam == guard)) {
      KillTimer(nullptr, guard);
      return false;
    }
    DispatchMessageW(&msg);
  }
}

TEST(PumpWait, DispatchesQueuedMessagesInOrderAndWaitsAtLeastTheTime) {
  Recorder r;
  for (WPARAM i = 1; i <= 3; ++i) PostMessageW(r.hwnd(), kPing, i, 0);
  // Measured by a clock finer than GetTickCount's steps, which could hide a
  // wait that ends early.
  const auto before = std::chrono::steady_clock::now();
  PumpWait(120);
  const auto waited = std::chrono::steady_clock::now() - before;
  EXPECT_EQ(r.pings, (std::vector<WPARAM>{1, 2, 3}));
  EXPECT_GE(waited, std::chrono::milliseconds(120));
}

TEST(PumpWait, ZeroDrainsTheQueueOnceAndReturns) {
  Recorder r;
  PostMessageW(r.hwnd(), kChain, 10, 0);
  PostMessageW(r.hwnd(), kPing, 20, 0);
  int calls = 0;
  // A frozen clock: a wait of 0 must still end.
  PumpWait(0, [&calls] {
    ++calls;
    return 5u;
  });
  EXPECT_EQ(r.pings, (std::vector<WPARAM>{10, 20, 11}));
  EXPECT_LE(calls, 2);
  MSG msg;
  EXPECT_FALSE(PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE));
}

TEST(PumpWait, SleepsInsteadOfSpinning) {
  std::atomic<int> calls{0};
  const DWORD before = GetTickCount();
  PumpWait(300, [&calls] {
    ++calls;
    return static_cast<std::uint32_t>(GetTickCount());
  });
  EXPECT_GE(GetTickCount() - before, 300u);
  // A spinning wait reads the clock hundreds of thousands of times; a
  // sleeping one once per wake-up.
  EXPECT_LT(calls.load(), 50);
}

TEST(PumpWait, TickCounterWrapDuringTheWaitIsHarmless) {
  const std::uint32_t offset = 0xFFFFFFFFu - 40u - static_cast<std::uint32_t>(GetTickCount());
  std::vector<std::uint32_t> seen;
  const DWORD before = GetTickCount();
  PumpWait(150, [&] {
    const std::uint32_t now = static_cast<std::uint32_t>(GetTickCount()) + offset;
    seen.push_back(now);
    return now;
  });
  const DWORD waited = GetTickCount() - before;
  EXPECT_GE(waited, 150u);
  EXPECT_LT(waited, kGenerousMs);
  ASSERT_GE(seen.size(), 2u);
  EXPECT_GT(seen.front(), 0xFFFFFF00u);
  EXPECT_LT(seen.back(), 1000u);  // the counter went round
}

TEST(PumpWait, WindowsPumpUsesItsTickSource) {
  std::uint32_t now = 0xFFFFFFF0u;
  int calls = 0;
  // Every reading moves the clock on by 60: the wait ends at the second reading
  // after the start, without sleeping the real time.
  WindowsPump pump([&] {
    ++calls;
    const std::uint32_t t = now;
    now += 60;
    return t;
  });
  pump.PumpWait(100);
  EXPECT_EQ(calls, 3);
}

TEST(PumpWait, DispatchesTimersDuringTheWait) {
  Recorder r;
  static std::atomic<int> threadTimerCalls{0};
  threadTimerCalls = 0;
  SetTimer(r.hwnd(), 1, 10, nullptr);
  const UINT_PTR threadTimer =
      SetTimer(nullptr, 0, 10, [](HWND, UINT, UINT_PTR, DWORD) { threadTimerCalls++; });
  const DWORD start = GetTickCount();
  while ((r.timers < 3 || threadTimerCalls < 3) && GetTickCount() - start < kGenerousMs)
    PumpWait(50);
  KillTimer(r.hwnd(), 1);
  KillTimer(nullptr, threadTimer);
  EXPECT_GE(r.timers.load(), 3);
  EXPECT_GE(threadTimerCalls.load(), 3);
}

TEST(PumpWait, PostedMessageFromAnotherThreadWakesTheWait) {
  Recorder r;
  r.quitOnPing = true;
  std::thread poster([hwnd = r.hwnd()] {
    Sleep(50);
    PostMessageW(hwnd, kPing, 4, 0);
  });
  const DWORD before = GetTickCount();
  // Only the ping (whose handler posts WM_QUIT) can end this wait early.
  PumpWait(kLongWait);
  const DWORD waited = GetTickCount() - before;
  poster.join();
  EXPECT_EQ(r.pings, (std::vector<WPARAM>{4}));
  EXPECT_LT(waited, kGenerousMs);
  WPARAM code = 0;
  ASSERT_TRUE(TakeQuit(code));
  EXPECT_EQ(code, 4u);
}

TEST(PumpWait, SentMessageFromAnotherThreadIsHandledOnTheWaitingThread) {
  Recorder r;
  std::thread sender([hwnd = r.hwnd()] { SendMessageW(hwnd, kPostQuitOnPing, 9, 0); });
  const DWORD before = GetTickCount();
  PumpWait(kLongWait);
  const DWORD waited = GetTickCount() - before;
  sender.join();
  EXPECT_EQ(r.sent.load(), 1);
  EXPECT_EQ(r.sentOnThread, GetCurrentThreadId());
  EXPECT_LT(waited, kGenerousMs);
  WPARAM code = 0;
  ASSERT_TRUE(TakeQuit(code));
  EXPECT_EQ(code, 9u);
}

TEST(PumpWait, QuitEndsTheWaitAfterWhatWasQueuedBeforeItAndStaysQueued) {
  Recorder r;
  PostMessageW(r.hwnd(), kPing, 1, 0);
  PostQuitMessage(7);
  const DWORD before = GetTickCount();
  PumpWait(kLongWait);
  // A second wait in the same sequence ends at once as well.
  PumpWait(kLongWait);
  EXPECT_LT(GetTickCount() - before, kGenerousMs);
  EXPECT_EQ(r.pings, (std::vector<WPARAM>{1}));
  // The loop around the caller sees the quit with its exit code.
  WPARAM code = 0;
  ASSERT_TRUE(TakeQuit(code));
  EXPECT_EQ(code, 7u);
}

TEST(PumpWait, QuitEndsAWaitOfZeroToo) {
  PostQuitMessage(3);
  PumpWait(0);
  WPARAM code = 0;
  ASSERT_TRUE(TakeQuit(code));
  EXPECT_EQ(code, 3u);
}

}  // namespace
}  // namespace nerova::link::win
