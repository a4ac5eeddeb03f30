// The receiver gate and the gated capture stack: one settings thread at a
// time talks to the receiver, a stopped one is refused without waiting for
// anybody, and a stopped thread still gives back every reference it holds.
#include "app/receiver_gate.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "link/receiver_link.h"
#include "link/receiver_settings.h"
#include "link/utf8_codec.h"
#include "link/sleeping_pump.h"
#include "sim/pumps.h"
#include "sim/sim_stack.h"

namespace nerova::app {
namespace {

using namespace std::chrono_literals;

// Generous: the machines running the tests are slow.
constexpr auto kTimeout = 20s;

template <class Condition>
bool WaitFor(Condition condition, std::chrono::milliseconds timeout = kTimeout) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

TEST(ReceiverGate, TheFirstExchangeTakesTheGateAndOnlyAStopGivesItUp) {
  ReceiverGate gate;
  ReceiverAccess access(gate);
  EXPECT_FALSE(gate.Held());
  ASSERT_TRUE(access.Enter());
  access.Leave();
  // Between exchanges the gate stays with the thread that talks to the receiver.
  EXPECT_TRUE(access.HoldsGate());
  access.Stop();
  EXPECT_FALSE(gate.Held());
  EXPECT_FALSE(access.Enter());
  EXPECT_FALSE(gate.Held());
}

TEST(ReceiverGate, ASecondAccessWaitsUntilTheFirstIsStopped) {
  ReceiverGate gate;
  ReceiverAccess first(gate);
  ReceiverAccess second(gate);
  ASSERT_TRUE(first.Enter());
  first.Leave();

  std::atomic<bool> stopped{false};
  auto entered = std::async(std::launch::async, [&] {
    const bool ok = second.Enter();
    const bool afterStop = stopped.load();
    if (ok) second.Leave();
    return ok && afterStop;
  });
  EXPECT_EQ(entered.wait_for(200ms), std::future_status::timeout);
  stopped = true;
  first.Stop();
  ASSERT_EQ(entered.wait_for(kTimeout), std::future_status::ready);
  EXPECT_TRUE(entered.get());
  EXPECT_TRUE(second.HoldsGate());
}

TEST(ReceiverGate, AStopDuringAHeldSequenceLetsItFinishAndThenTakesEffect) {
  ReceiverGate gate;
  ReceiverAccess access(gate);
  ASSERT_TRUE(access.Enter());
  access.Leave();
  access.BeginHold();
  EXPECT_FALSE(access.Stop());
  EXPECT_TRUE(access.StopRequested());
  EXPECT_FALSE(access.Stopped());
  // The sequence goes on to its end.
  ASSERT_TRUE(access.Enter());
  access.Leave();
  EXPECT_TRUE(access.EndHold());
  EXPECT_TRUE(access.Stopped());
  EXPECT_FALSE(access.Enter());
  EXPECT_FALSE(gate.Held());

  // Without a stop the hold ends quietly; a forced stop does not wait.
  ReceiverAccess other(gate);
  other.BeginHold();
  EXPECT_FALSE(other.EndHold());
  other.BeginHold();
  other.ForceStop();
  EXPECT_FALSE(other.Enter());
  EXPECT_FALSE(other.EndHold());
}

TEST(ReceiverGate, AStopWhileOnlyTheLastExchangeIsLeftTakesEffectAtOnceAndLetsThatOneOut) {
  // An Apply's writes are out and its success box is open: a stop, from the
  // host or forced when its grace runs out, ends the wait for the user, and
  // the restart still goes out before the next access gets the receiver.
  for (const bool forced : {false, true}) {
    ReceiverGate gate;
    ReceiverAccess apply(gate);
    ReceiverAccess next(gate);
    ASSERT_TRUE(apply.Enter());
    apply.Leave();
    apply.BeginHold();
    apply.ReserveLastExchange();
    if (forced) {
      apply.ForceStop();
    } else {
      EXPECT_TRUE(apply.Stop());
    }
    EXPECT_TRUE(apply.Stopped());
    EXPECT_TRUE(apply.HoldsGate());
    auto entered = std::async(std::launch::async, [&] {
      const bool ok = next.Enter();
      if (ok) next.Leave();
      return ok;
    });
    EXPECT_EQ(entered.wait_for(100ms), std::future_status::timeout);
    ASSERT_TRUE(apply.Enter());  // the restart
    apply.Leave();
    EXPECT_FALSE(apply.Enter());  // and nothing after it
    EXPECT_FALSE(apply.EndHold());
    ASSERT_EQ(entered.wait_for(kTimeout), std::future_status::ready);
    EXPECT_TRUE(entered.get());
  }
}

TEST(ReceiverGate, AStopInTheMiddleOfAnExchangePassesTheGateOnOnlyWhenItHasReturned) {
  ReceiverGate gate;
  ReceiverAccess old(gate);
  ReceiverAccess fresh(gate);
  ASSERT_TRUE(old.Enter());  // an exchange under way

  // Stop does not wait for the exchange.
  auto stop = std::async(std::launch::async, [&] { old.Stop(); });
  ASSERT_EQ(stop.wait_for(kTimeout), std::future_status::ready);
  EXPECT_TRUE(old.HoldsGate());

  std::atomic<bool> left{false};
  auto entered = std::async(std::launch::async, [&] {
    const bool ok = fresh.Enter();
    const bool afterLeave = left.load();
    if (ok) fresh.Leave();
    return ok && afterLeave;
  });
  EXPECT_EQ(entered.wait_for(200ms), std::future_status::timeout);
  left = true;
  old.Leave();
  ASSERT_EQ(entered.wait_for(kTimeout), std::future_status::ready);
  EXPECT_TRUE(entered.get());
}

TEST(ReceiverGate, AnAccessStoppedWhileWaitingGivesUpAndNeverHoldsTheGate) {
  ReceiverGate gate;
  ReceiverAccess holder(gate);
  ReceiverAccess waiter(gate);
  ASSERT_TRUE(holder.Enter());
  holder.Leave();
  auto entered = std::async(std::launch::async, [&] { return waiter.Enter(); });
  EXPECT_EQ(entered.wait_for(100ms), std::future_status::timeout);
  waiter.Stop();
  ASSERT_EQ(entered.wait_for(kTimeout), std::future_status::ready);
  EXPECT_FALSE(entered.get());
  EXPECT_TRUE(holder.HoldsGate());
  EXPECT_FALSE(waiter.HoldsGate());
}

TEST(ReceiverGate, AnAccessThatEndsWithdrawsAndTheNextOneGetsIn) {
  ReceiverGate gate;
  {
    ReceiverAccess ended(gate);
    ASSERT_TRUE(ended.Enter());
    ended.Leave();
  }
  EXPECT_FALSE(gate.Held());
  ReceiverAccess next(gate);
  EXPECT_TRUE(next.Enter());
  next.Leave();
}

// A capture stack whose only operation notes who calls it and whether two
// calls ever overlap.
class WatchedStack final : public link::CaptureStack {
 public:
  link::LinkStatus ListVideoInputs(std::unique_ptr<link::VideoInputList>&) override {
    if (m_inside.fetch_add(1) != 0) m_overlapped = true;
    {
      std::lock_guard lock(m_mutex);
      m_callers.push_back(std::this_thread::get_id());
    }
    std::this_thread::sleep_for(200us);
    m_inside.fetch_sub(1);
    return link::LinkStatus::Success();
  }
  void DebugOutput(const wchar_t*) override {}

  bool Overlapped() const { return m_overlapped; }
  std::vector<std::thread::id> Callers() const {
    std::lock_guard lock(m_mutex);
    return m_callers;
  }

 private:
  std::atomic<int> m_inside{0};
  std::atomic<bool> m_overlapped{false};
  mutable std::mutex m_mutex;
  std::vector<std::thread::id> m_callers;
};

TEST(ReceiverAccess, UnderAStormOfReplacementsOneThreadAtATimeTalksAndNoStoppedOneComesBack) {
  // Each round starts a thread that talks to the receiver without pause and
  // stops the one before, as the host does on every removal notice.
  ReceiverGate gate;
  WatchedStack inner;
  constexpr int kRounds = 50;
  std::vector<std::unique_ptr<ReceiverAccess>> accesses;
  std::vector<std::thread> threads;
  for (int i = 0; i < kRounds; ++i) {
    accesses.push_back(std::make_unique<ReceiverAccess>(gate));
    ReceiverAccess& access = *accesses.back();
    threads.emplace_back([&access, &inner] {
      link::ReceiverLink link(inner, access);
      link::DeviceRef device;
      while (link.FindReceiverByUsbId(device) != kAccessStopped) {
      }
      access.Withdraw();
    });
    std::this_thread::sleep_for(2ms);
    if (i > 0) accesses[i - 1]->Stop();
  }
  accesses.back()->Stop();
  for (std::thread& t : threads) t.join();

  EXPECT_FALSE(inner.Overlapped());
  EXPECT_FALSE(gate.Held());
  // Once a thread has had its turn, it never talks again.
  const std::vector<std::thread::id> callers = inner.Callers();
  ASSERT_FALSE(callers.empty());
  std::vector<std::thread::id> turns;
  for (const std::thread::id& caller : callers) {
    if (turns.empty() || turns.back() != caller) turns.push_back(caller);
  }
  for (std::size_t i = 0; i < turns.size(); ++i) {
    for (std::size_t j = i + 1; j < turns.size(); ++j) EXPECT_NE(turns[i], turns[j]) << "turn " << i << " came back";
  }
}

class GatedSim : public ::testing::Test {
 protected:
  GatedSim() : receiver(stack.AddReceiver()) {}

  sim::SimStack stack;
  sim::Device receiver;
  link::SleepingPump pump;
  link::Utf8Codec codec;
};

TEST_F(GatedSim, ReadsPassThroughUntilTheStopThenFailWithoutReachingTheReceiver) {
  ReceiverGate gate;
  ReceiverAccess access(gate);
  link::ReceiverLink link(stack, access);
  link::ReceiverSettings settings(link, pump, codec);

  EXPECT_EQ(settings.ReadFirmwareVersion(link::ReceiverTurn(settings, link::TurnWait::Bounded)), L"V2.4.7");
  EXPECT_FALSE(settings.ReadWifiName(link::ReceiverTurn(settings, link::TurnWait::Bounded)).empty());
  const std::size_t before = stack.Transfers().size();
  ASSERT_GT(before, 0u);

  access.Stop();
  EXPECT_EQ(settings.ReadWifiName(link::ReceiverTurn(settings, link::TurnWait::Bounded)), L"");
  EXPECT_EQ(settings.ReadRssi(link::ReceiverTurn(settings, link::TurnWait::Bounded)), link::kRssiFailed);
  EXPECT_EQ(stack.Transfers().size(), before);

  // The stopped thread still lets go of the filter it holds.
  settings.ReleaseDevice();
  EXPECT_EQ(stack.OpenDevices(), 0);
}

TEST_F(GatedSim, AStoppedThreadsDeviceComesBackWhateverItHeldWhenStopped) {
  ReceiverGate gate;
  ReceiverAccess access(gate);
  link::ReceiverLink link(stack, access);
  {
    link::DeviceRef device;
    ASSERT_TRUE(link.FindReceiverByProbeUnit(device).Ok());
    link::DeviceRef second = device;
    EXPECT_GT(stack.OpenDevices(), 0);

    access.Stop();
    const std::size_t before = stack.Transfers().size();
    std::array<std::uint8_t, link::kBlockSize> block{};
    EXPECT_EQ(link.SetCur(block.data(), link::kBlockSize, device), kAccessStopped);
    EXPECT_EQ(link.GetCur(block.data(), link::kBlockSize, second), kAccessStopped);
    link::DeviceRef none;
    EXPECT_EQ(link.FindReceiverByUsbId(none), kAccessStopped);
    EXPECT_FALSE(none);
    EXPECT_EQ(stack.Transfers().size(), before);
  }
  EXPECT_EQ(stack.OpenDevices(), 0);
}

TEST_F(GatedSim, TheNextThreadReadsTheReceiverOnceTheOldOneIsStopped) {
  ReceiverGate gate;
  ReceiverAccess old(gate);
  link::ReceiverLink oldLink(stack, old);
  link::ReceiverSettings oldSettings(oldLink, pump, codec);
  ASSERT_FALSE(oldSettings.ReadFirmwareVersion(link::ReceiverTurn(oldSettings, link::TurnWait::Bounded)).empty());

  auto fresh = std::async(std::launch::async, [&] {
    ReceiverAccess access(gate);
    link::ReceiverLink link(stack, access);
    link::ReceiverSettings settings(link, pump, codec);
    std::wstring version = settings.ReadFirmwareVersion(link::ReceiverTurn(settings, link::TurnWait::Bounded));
    settings.ReleaseDevice();
    return version;
  });
  EXPECT_EQ(fresh.wait_for(300ms), std::future_status::timeout);
  old.Stop();
  ASSERT_EQ(fresh.wait_for(kTimeout), std::future_status::ready);
  EXPECT_EQ(fresh.get(), L"V2.4.7");
  oldSettings.ReleaseDevice();
  EXPECT_EQ(stack.OpenDevices(), 0);
}

}  // namespace
}  // namespace nerova::app
