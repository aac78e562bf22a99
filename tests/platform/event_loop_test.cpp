// The main loop and the timer service. Timer logic runs on a ManualClock and
// a loop driven by the test (RunPending), so nothing here sleeps; the tests
// with a loop thread check ordering and thread affinity, not durations.
#include <gtest/gtest.h>

#include <condition_variable>
#include <future>
#include <map>
#include <random>
#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/event_loop.h"
#include "platform/timers.h"

namespace varn {
namespace {

using namespace std::chrono_literals;

// A loop on its own thread, quit and joined at the end of the scope.
class LoopThread {
 public:
  LoopThread() : m_thread([this] { loop.Run(); }) {}
  ~LoopThread() {
    loop.Quit();
    m_thread.join();
  }
  // Runs `f` on the loop's thread after everything posted before it.
  template <class F>
  auto Sync(F f) {
    std::packaged_task<decltype(f())()> task(std::move(f));
    auto result = task.get_future();
    loop.Post([&task] { task(); });
    EXPECT_EQ(result.wait_for(60s), std::future_status::ready);
    return result.get();
  }
  std::thread::id Id() const { return m_thread.get_id(); }

  TEventLoop loop;

 private:
  std::thread m_thread;
};

TEST(EventLoopTest, TasksOfEachThreadRunInPostOrderOnTheLoopThread) {
  LoopThread lt;
  constexpr int kThreads = 4, kTasks = 500;
  std::vector<std::vector<int>> seen(kThreads);  // touched on the loop thread only
  bool offThread = false;
  std::vector<std::thread> posters;
  for (int t = 0; t < kThreads; ++t)
    posters.emplace_back([&, t] {
      for (int i = 0; i < kTasks; ++i)
        lt.loop.Post([&, t, i] {
          seen[t].push_back(i);
          if (std::this_thread::get_id() != lt.Id()) offThread = true;
        });
    });
  for (auto& p : posters) p.join();
  lt.Sync([] { return 0; });
  EXPECT_FALSE(offThread);
  for (int t = 0; t < kThreads; ++t) {
    ASSERT_EQ(seen[t].size(), size_t{kTasks});
    for (int i = 0; i < kTasks; ++i) ASSERT_EQ(seen[t][i], i) << "thread " << t;
  }
}

TEST(EventLoopTest, LoopSurvivesFailingTasksAndQuitBeforeRunIsKept) {
  TEventLoop loop;
  int ran = 0;
  loop.Post([] { throw std::runtime_error("task failure (expected by the test)"); });
  loop.Post([&] { ++ran; });
  loop.RunPending();
  EXPECT_EQ(ran, 1);

  loop.Quit();
  loop.Run();  // returns at once: the quit came first
  loop.Post([&] { ++ran; });
  loop.RunPending();
  EXPECT_EQ(ran, 2);
}

TEST(EventLoopTest, TimersFireEveryIntervalRestartOnStartAndStartOnlyOnTheLoopThread) {
  ManualClock clock;
  TEventLoop loop(clock);
  int fired = 0;
  EXPECT_THROW(loop.StartTimer(1, 1000ms, [] {}), std::logic_error);
  EXPECT_THROW(loop.StopTimer(1), std::logic_error);

  loop.Post([&] { loop.StartTimer(1, 1000ms, [&] { ++fired; }); });
  loop.RunPending();
  clock.Advance(999ms);
  loop.RunPending();
  EXPECT_EQ(fired, 0);
  clock.Advance(1ms);
  loop.RunPending();
  EXPECT_EQ(fired, 1);
  clock.Advance(1000ms);
  loop.RunPending();
  EXPECT_EQ(fired, 2);

  // Starting a running timer starts its countdown again.
  clock.Advance(600ms);
  loop.Post([&] { loop.StartTimer(1, 1000ms, [&] { ++fired; }); });
  loop.RunPending();
  clock.Advance(600ms);
  loop.RunPending();
  EXPECT_EQ(fired, 2);
  clock.Advance(400ms);
  loop.RunPending();
  EXPECT_EQ(fired, 3);

  // A long silence gives one firing per pass, not a burst.
  clock.Advance(10s);
  loop.RunPending();
  EXPECT_EQ(fired, 4);

  loop.Post([&] { loop.StopTimer(1); });
  loop.RunPending();
  clock.Advance(5s);
  loop.RunPending();
  EXPECT_EQ(fired, 4);
  EXPECT_EQ(loop.RunningTimers(), 0u);
}

// --- TTimer ------------------------------------------------------------------

class TimerTest : public ::testing::Test {
 protected:
  void Step(std::chrono::milliseconds by = 0ms) {
    clock.Advance(by);
    loop.RunPending();
  }
  ManualClock clock;
  TEventLoop loop{clock};
  TTimers timers{loop};
};

TEST_F(TimerTest, ChangesTakeEffectOnlyWhenTheLoopCarriesThemOut) {
  int fired = 0;
  TTimer t;
  EXPECT_EQ(t.Interval(), 1000);
  EXPECT_FALSE(t.Enabled());
  t.SetOnTimer([&] { ++fired; });
  t.SetEnabled(true);
  EXPECT_EQ(t.Handle(), 0);
  EXPECT_TRUE(t.ChangePending());
  Step();
  EXPECT_NE(t.Handle(), 0);
  EXPECT_FALSE(t.ChangePending());
  Step(1000ms);
  EXPECT_EQ(fired, 1);

  t.SetEnabled(false);
  Step();
  EXPECT_EQ(t.Handle(), 0);
  Step(5000ms);
  EXPECT_EQ(fired, 1);
}

TEST_F(TimerTest, StopThenStartCountsFromTheRestart) {
  int fired = 0;
  TTimer t;
  t.SetOnTimer([&] { ++fired; });
  t.SetEnabled(true);
  Step();
  Step(600ms);
  t.SetEnabled(false);
  t.SetEnabled(true);
  Step();
  Step(600ms);
  EXPECT_EQ(fired, 0);
  Step(400ms);
  EXPECT_EQ(fired, 1);
}

TEST_F(TimerTest, DisablingBeforeTheStartArrivesLeavesItStopped) {
  // The stop must be posted although the loop has not started the timer yet.
  int fired = 0;
  TTimer t;
  t.SetOnTimer([&] { ++fired; });
  t.SetEnabled(true);
  t.SetEnabled(false);
  Step();
  Step(5000ms);
  EXPECT_EQ(fired, 0);
  EXPECT_EQ(t.Handle(), 0);
  EXPECT_EQ(loop.RunningTimers(), 0u);
}

TEST_F(TimerTest, NeedsIntervalHandlerAndEnabledToRun) {
  int fired = 0;
  TTimer t;
  t.SetEnabled(true);  // no handler yet
  t.SetInterval(0);
  t.SetOnTimer([&] { ++fired; });
  Step(5000ms);
  EXPECT_EQ(loop.RunningTimers(), 0u);
  t.SetInterval(-5);
  Step(5000ms);
  EXPECT_EQ(loop.RunningTimers(), 0u);
  t.SetInterval(100);
  Step();
  Step(100ms);
  EXPECT_EQ(fired, 1);
  t.SetOnTimer(nullptr);
  Step(1000ms);
  EXPECT_EQ(fired, 1);
  EXPECT_EQ(t.Handle(), 0);
}

TEST_F(TimerTest, ADestroyedTimerNeverFiresAndLeavesTheRegistry) {
  int fired = 0;
  auto t = std::make_unique<TTimer>();
  const int32_t id = t->Id();
  EXPECT_GT(id, 0);
  EXPECT_EQ(timers.Count(), 1u);
  t->SetOnTimer([&] { ++fired; });
  t->SetEnabled(true);
  Step();
  t.reset();
  EXPECT_EQ(timers.Count(), 0u);
  Step(5000ms);
  EXPECT_EQ(fired, 0);
  EXPECT_EQ(loop.RunningTimers(), 0u);

  TTimer next;
  EXPECT_GT(next.Id(), id) << "ids are never reused";
}

TEST(TimerWithoutServiceTest, CanBeConfiguredButNotStarted) {
  TTimer t;
  t.SetInterval(500);
  t.SetOnTimer([] {});
  EXPECT_THROW(t.SetEnabled(true), std::logic_error);
}

// Several threads change timers at once: each thread's own timers, and one
// timer shared by all of them under a lock (as the ports are changed under
// the port list lock). Once the loop has caught up, every timer runs exactly
// when its last change left it enabled, with its last interval.
TEST(TimerConcurrencyTest, ChangesFromSeveralThreadsEndInTheLastState) {
  LoopThread lt;
  TTimers timers(lt.loop);
  constexpr int kThreads = 4, kPerThread = 6, kSteps = 3000;
  struct Expect {
    bool enabled = false;
    int32_t interval = 1000;
  };
  std::vector<std::unique_ptr<TTimer>> own;
  std::vector<Expect> expect(kThreads * kPerThread);
  for (int i = 0; i < kThreads * kPerThread; ++i) {
    own.push_back(std::make_unique<TTimer>());
    own.back()->SetOnTimer([] {});
  }
  TTimer shared;
  shared.SetOnTimer([] {});
  Expect sharedExpect;
  std::mutex sharedLock;

  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      std::mt19937 rng(1234 + t);
      for (int step = 0; step < kSteps; ++step) {
        // Long intervals: nothing fires, only starts and stops are checked.
        const bool on = rng() % 2;
        const int32_t interval = 3600000 + static_cast<int32_t>(rng() % 4);
        const int i = t * kPerThread + static_cast<int>(rng() % kPerThread);
        if (rng() % 3 == 0) {
          own[i]->SetInterval(interval);
          expect[i].interval = interval;
        } else {
          own[i]->SetEnabled(on);
          expect[i].enabled = on;
        }
        if (step % 5 == 0) {
          std::lock_guard g(sharedLock);
          shared.SetEnabled(on);
          shared.SetInterval(interval);
          sharedExpect = {on, interval};
        }
      }
    });
  for (auto& th : threads) th.join();

  auto check = [&](const TTimer& timer, const Expect& e) {
    const auto running = lt.loop.TimerInterval(timer.Id());
    if (!e.enabled) return !running && timer.Handle() == 0;
    return running && *running == std::chrono::milliseconds(e.interval) &&
           timer.Handle() == timer.Id();
  };
  const std::vector<bool> ok = lt.Sync([&] {
    std::vector<bool> r;
    for (size_t i = 0; i < own.size(); ++i) r.push_back(check(*own[i], expect[i]));
    r.push_back(check(shared, sharedExpect));
    return r;
  });
  for (size_t i = 0; i < ok.size(); ++i) EXPECT_TRUE(ok[i]) << "timer " << i;
  for (auto& t : own) EXPECT_FALSE(t->ChangePending());
}

TEST(TimerConcurrencyTest, FiringRunsOnTheLoopThreadAndDestructionWaitsForIt) {
  LoopThread lt;
  TTimers timers(lt.loop);
  struct Owner {
    std::vector<int> data = std::vector<int>(64, 7);
    TTimer timer;
  };
  auto* owner = new Owner;
  std::mutex m;
  std::condition_variable cv;
  bool entered = false, destroying = false;
  std::thread::id firedOn;
  long sum = 0;
  owner->timer.SetInterval(1);
  owner->timer.SetOnTimer([&, owner] {
    std::unique_lock lock(m);
    if (entered) return;
    entered = true;
    firedOn = std::this_thread::get_id();
    cv.notify_all();
    cv.wait_for(lock, 60s, [&] { return destroying; });
    lock.unlock();
    // The owner is being destroyed on another thread right now; its timer's
    // destructor must hold that back until this firing ends.
    for (int round = 0; round < 200; ++round) {
      for (int v : owner->data) sum += v;
      std::this_thread::yield();
    }
  });
  owner->timer.SetEnabled(true);
  {
    std::unique_lock lock(m);
    ASSERT_TRUE(cv.wait_for(lock, 60s, [&] { return entered; }));
  }
  std::thread destroyer([&] {
    {
      std::lock_guard lock(m);
      destroying = true;
    }
    cv.notify_all();
    delete owner;
  });
  destroyer.join();
  EXPECT_EQ(firedOn, lt.Id());
  EXPECT_EQ(sum, 200L * 64 * 7);
}

}  // namespace
}  // namespace varn
