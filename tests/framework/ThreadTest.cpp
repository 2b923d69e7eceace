#include "framework/rtl/Thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "framework/rtl/Log.h"
#include "framework/rtl/Monitor.h"
#include "framework/rtl/Stopwatch.h"

using namespace quorvel;

namespace {

// A thread whose Execute is a lambda; created and freed in two phases as the object model does.
class TLambdaThread : public TThread {
public:
  using TBody = std::function<void(TLambdaThread&)>;
  TLambdaThread(TBody body, bool suspended) : TThread(suspended), FBody(std::move(body)) {}
  void SetResult(int32_t v) { SetReturnValue(v); }
  std::atomic<int> TerminatedSetCalls{0};

protected:
  void Execute() override { FBody(*this); }
  void TerminatedSet() override { ++TerminatedSetCalls; }

private:
  TBody FBody;
};

using TThreadPtr = TOwned<TLambdaThread>;

TThreadPtr MakeThread(TLambdaThread::TBody body, bool suspended = true) {
  return TThreadPtr(New<TLambdaThread>(std::move(body), suspended));
}

// Spins (yielding) until `cond` holds; the tests use it only for events that must come, so
// one that does not come within `limit` fails the test instead of hanging it.
template <typename F>
[[nodiscard]] bool SpinUntil(F cond, std::chrono::milliseconds limit = std::chrono::seconds(30)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!cond()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::yield();
  }
  return true;
}

void LoopUntilTerminated(TLambdaThread& self) {
  while (!self.GetTerminated()) TThread::Yield();
}

}  // namespace

TEST(ThreadTest, SpinUntilGivesUpAtItsDeadline) {
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(SpinUntil([] { return false; }, std::chrono::milliseconds(20)));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(20));
  EXPECT_TRUE(SpinUntil([] { return true; }, std::chrono::milliseconds(0)));
}

TEST(ThreadTest, CreatedSuspendedThreadRunsOnlyAfterStartAndWaitForGivesItsReturnValue) {
  std::atomic<bool> ran{false};
  auto t = MakeThread([&](TLambdaThread& self) {
    ran = true;
    self.SetResult(42);
  });
  EXPECT_FALSE(t->GetStarted());
  EXPECT_TRUE(t->GetSuspended());
  EXPECT_FALSE(ran);
  t->Start();
  EXPECT_EQ(t->WaitFor(), 42);
  EXPECT_TRUE(ran);
  EXPECT_TRUE(t->GetFinished());
  EXPECT_FALSE(t->GetSuspended());
  EXPECT_EQ(t->GetFatalException(), nullptr);
  EXPECT_EQ(t->WaitFor(), 42);  // waiting again for a finished thread is harmless
}

TEST(ThreadTest, ThreadNotCreatedSuspendedStartsInAfterConstruction) {
  auto t = MakeThread([](TLambdaThread& self) { self.SetResult(7); }, /*suspended=*/false);
  EXPECT_TRUE(t->GetStarted());
  EXPECT_EQ(t->WaitFor(), 7);
}

TEST(ThreadTest, ClearingSuspendedStartsANeverStartedThread) {
  auto t = MakeThread([](TLambdaThread& self) { self.SetResult(3); });
  t->SetSuspended(false);
  EXPECT_EQ(t->WaitFor(), 3);
}

TEST(ThreadTest, MisuseRaisesEThread) {
  auto never = MakeThread([](TLambdaThread&) {});
  EXPECT_THROW(never->WaitFor(), EThread);

  auto twice = MakeThread([](TLambdaThread&) {});
  twice->Start();
  EXPECT_THROW(twice->Start(), EThread);
  twice->WaitFor();
  EXPECT_THROW(twice->Start(), EThread);

  std::atomic<bool> selfWaitRaised{false};
  auto self = MakeThread([&](TLambdaThread& me) {
    try {
      me.WaitFor();
    } catch (const EThread&) {
      selfWaitRaised = true;
    }
  });
  self->Start();
  self->WaitFor();
  EXPECT_TRUE(selfWaitRaised);
}

TEST(ThreadTest, TerminateEndsALoopThatPollsTerminatedAndCallsTerminatedSet) {
  std::atomic<bool> running{false};
  auto t = MakeThread([&](TLambdaThread& self) {
    running = true;
    LoopUntilTerminated(self);
    self.SetResult(TThread::CheckTerminated() ? 1 : 0);
  });
  t->Start();
  ASSERT_TRUE(SpinUntil([&] { return running.load(); }));
  EXPECT_FALSE(t->GetTerminated());
  t->Terminate();
  EXPECT_TRUE(t->GetTerminated());
  EXPECT_EQ(t->WaitFor(), 1);
  EXPECT_EQ(t->TerminatedSetCalls, 1);
}

TEST(ThreadTest, ExceptionEscapingExecuteIsKeptAsFatalExceptionAndLogged) {
  TLogCapture log;
  auto t = MakeThread([](TLambdaThread&) { throw EConvertError("bad number"); });
  t->Start();
  EXPECT_NO_THROW(t->WaitFor());
  ASSERT_NE(t->GetFatalException(), nullptr);
  try {
    std::rethrow_exception(t->GetFatalException());
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "bad number");
  }
  EXPECT_TRUE(log.Contains("bad number"));
}

TEST(ThreadTest, FreeingEndsTheThreadWhateverItsState) {
  struct TCase {
    const char* Name;
    bool Start;
    bool SuspendAfterStart;
  };
  const TCase cases[] = {
      {"never started", false, false},
      {"running", true, false},
      {"suspended while running", true, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    std::atomic<bool> running{false};
    auto t = MakeThread([&](TLambdaThread& self) {
      running = true;
      LoopUntilTerminated(self);
    });
    if (c.Start) {
      t->Start();
      ASSERT_TRUE(SpinUntil([&] { return running.load(); }));
    }
    if (c.SuspendAfterStart) t->SetSuspended(true);
    t.reset();  // must return: terminates, releases the suspension gate, joins
  }
}

TEST(ThreadTest, DeletingWithoutBeforeDestructionStillStopsTheThread) {
  std::atomic<bool> running{false};
  auto* t = new TLambdaThread(
      [&](TLambdaThread& self) {
        running = true;
        while (!self.GetTerminated()) TThread::Yield();
      },
      true);
  t->Start();
  ASSERT_TRUE(SpinUntil([&] { return running.load(); }));
  delete t;
}

TEST(ThreadTest, SuspendedThreadStopsAtYieldUntilResumed) {
  std::atomic<bool> atGate{false}, passed{false}, go{false};
  auto t = MakeThread([&](TLambdaThread&) {
    ASSERT_TRUE(SpinUntil([&] { return go.load(); }));
    atGate = true;
    TThread::Yield();
    passed = true;
  });
  t->Start();
  t->SetSuspended(true);
  EXPECT_TRUE(t->GetSuspended());
  go = true;
  ASSERT_TRUE(SpinUntil([&] { return atGate.load(); }));
  for (int i = 0; i < 100; ++i) std::this_thread::yield();
  EXPECT_FALSE(passed);  // Yield cannot return while the thread is suspended
  EXPECT_THROW(t->WaitFor(), EThread);  // it could never finish
  t->SetSuspended(false);
  t->WaitFor();
  EXPECT_TRUE(passed);
}

TEST(ThreadTest, TerminatedSuspendedThreadCanBeWaitedFor) {
  std::atomic<bool> running{false};
  auto t = MakeThread([&](TLambdaThread& self) {
    running = true;
    LoopUntilTerminated(self);
    self.SetResult(9);
  });
  t->Start();
  ASSERT_TRUE(SpinUntil([&] { return running.load(); }));
  t->SetSuspended(true);
  t->Terminate();
  EXPECT_EQ(t->WaitFor(), 9);
}

TEST(ThreadTest, WorkerInSynchronizeWhileTheMainThreadWaitsForItDoesNotDeadlock) {
  // The counter is touched only on the main thread; the sanitizers would see a race otherwise.
  int mainOnlyCounter = 0;
  bool allOnMain = true;
  constexpr int kThreads = 4, kCalls = 200;
  std::vector<TThreadPtr> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.push_back(MakeThread([&](TLambdaThread& self) {
      for (int k = 0; k < kCalls; ++k)
        TThread::Synchronize(&self, [&] {
          allOnMain = allOnMain && IsMainThread();
          ++mainOnlyCounter;
        });
    }));
  }
  for (auto& t : threads) t->Start();
  for (auto& t : threads) t->WaitFor();
  EXPECT_EQ(mainOnlyCounter, kThreads * kCalls);
  EXPECT_TRUE(allOnMain);
}

TEST(ThreadTest, FreeingAThreadBlockedInSynchronizeServesItFirst) {
  std::atomic<bool> posting{false};
  bool served = false;
  auto t = MakeThread([&](TLambdaThread& self) {
    posting = true;
    TThread::Synchronize(nullptr, [&] { served = true; });
  });
  t->Start();
  ASSERT_TRUE(SpinUntil([&] { return posting.load(); }));
  t.reset();
  EXPECT_TRUE(served);
}

TEST(ThreadTest, SynchronizeAndQueueRunInlineOnTheMainThread) {
  ASSERT_TRUE(IsMainThread());
  std::vector<int> order;
  TThread::Synchronize(nullptr, [&] { order.push_back(1); });
  TThread::Queue(nullptr, [&] { order.push_back(2); });
  order.push_back(3);
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
  EXPECT_FALSE(CheckSynchronize());
}

TEST(ThreadTest, QueueFromAWorkerRunsLaterOnTheMainThreadInOrder) {
  std::vector<int> order;  // main thread only
  std::promise<void> queued;
  std::atomic<int> wakes{0};
  SetWakeMainThread([&] { ++wakes; });
  auto t = MakeThread([&](TLambdaThread&) {
    for (int i = 1; i <= 3; ++i) TThread::Queue(nullptr, [&order, i] {
        order.push_back(i);
      });
    queued.set_value();
  });
  t->Start();
  queued.get_future().wait();  // not WaitFor: that would serve the queue
  SetWakeMainThread(nullptr);
  EXPECT_TRUE(order.empty());
  EXPECT_TRUE(CheckSynchronize());
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
  EXPECT_FALSE(CheckSynchronize());
  EXPECT_EQ(wakes, 3);
  t->WaitFor();
}

TEST(ThreadTest, ExceptionOfASynchronizedCallIsRaisedInTheWorker) {
  std::string caught;
  auto t = MakeThread([&](TLambdaThread&) {
    try {
      TThread::Synchronize(nullptr, [] { throw EInvalidOperation("main said no"); });
    } catch (const EInvalidOperation& e) {
      caught = e.Message();
    }
  });
  t->Start();
  t->WaitFor();
  EXPECT_EQ(caught, "main said no");
}

TEST(ThreadTest, ExceptionOfAQueuedCallLeavesCheckSynchronizeAndKeepsTheRestQueued) {
  bool secondRan = false;
  std::promise<void> queued;
  auto t = MakeThread([&](TLambdaThread&) {
    TThread::Queue(nullptr, [] { throw EInvalidOperation("queued failure"); });
    TThread::Queue(nullptr, [&] { secondRan = true; });
    queued.set_value();
  });
  t->Start();
  queued.get_future().wait();
  EXPECT_THROW(CheckSynchronize(), EInvalidOperation);
  EXPECT_FALSE(secondRan);
  EXPECT_TRUE(CheckSynchronize());
  EXPECT_TRUE(secondRan);
  t->WaitFor();
}

TEST(ThreadTest, CallsQueuedWithAThreadAreDroppedWhenItIsFreed) {
  std::vector<std::string> ran;
  std::promise<void> queued;
  auto t = MakeThread([&](TLambdaThread& self) {
    TThread::Queue(&self, [&] { ran.push_back("tagged"); });
    TThread::Queue(nullptr, [&] { ran.push_back("untagged"); });
    queued.set_value();
  });
  t->Start();
  queued.get_future().wait();
  ASSERT_TRUE(SpinUntil([&] { return t->GetFinished(); }));  // so that freeing has no wait to serve the queue in
  t.reset();
  EXPECT_TRUE(CheckSynchronize());
  EXPECT_EQ(ran, (std::vector<std::string>{"untagged"}));
}

TEST(ThreadTest, CheckSynchronizeOffTheMainThreadRaises) {
  std::atomic<bool> raised{false};
  std::thread other([&] {
    try {
      CheckSynchronize();
    } catch (const EThread&) {
      raised = true;
    }
  });
  other.join();
  EXPECT_TRUE(raised);
}

TEST(ThreadTest, CurrentThreadAndPriority) {
  EXPECT_EQ(TThread::CurrentThread(), nullptr);
  EXPECT_FALSE(TThread::CheckTerminated());
  TLambdaThread* seen = nullptr;
  bool isMain = true;
  auto t = MakeThread([&](TLambdaThread&) {
    seen = static_cast<TLambdaThread*>(TThread::CurrentThread());
    isMain = IsMainThread();
  });
  EXPECT_EQ(t->GetPriority(), TThreadPriority::tpNormal);
  t->SetPriority(TThreadPriority::tpHigher);
  EXPECT_EQ(t->GetPriority(), TThreadPriority::tpHigher);
  t->Start();
  t->WaitFor();
  EXPECT_EQ(seen, t.get());
  EXPECT_FALSE(isMain);
  EXPECT_EQ(t->GetThreadID() == std::this_thread::get_id(), false);
}

TEST(ThreadTest, SleepWaitsForTheClockAndEndsEarlyOnTerminate) {
  TManualClock clock;
  TScopedClock use(clock);
  std::atomic<int64_t> slept{-1};
  auto sleeper = MakeThread([&](TLambdaThread&) {
    const int64_t t0 = Clock().Now100ns();
    TThread::Sleep(500);
    slept = Clock().Now100ns() - t0;
  });
  sleeper->Start();
  while (slept < 0) {
    clock.AdvanceMs(100);
    std::this_thread::yield();
  }
  sleeper->WaitFor();
  EXPECT_GE(slept, 500 * 10'000);

  std::atomic<bool> sleeping{false};
  const int64_t before = clock.Now100ns();
  auto terminated = MakeThread([&](TLambdaThread&) {
    sleeping = true;
    TThread::Sleep(1'000'000);
  });
  terminated->Start();
  ASSERT_TRUE(SpinUntil([&] { return sleeping.load(); }));
  terminated->Terminate();
  terminated->WaitFor();
  EXPECT_EQ(clock.Now100ns(), before);  // nobody advanced the clock
}

TEST(ThreadTest, TickCountIsMillisecondsOfTheClockAndWrapsAt32Bits) {
  struct TCase {
    int64_t Now100ns;
    uint32_t Tick;
    uint64_t Tick64;
  };
  const TCase cases[] = {
      {10'000, 1, 1},
      {19'999, 1, 1},
      {1'234'567'890'000, 123'456'789, 123'456'789},
      {((int64_t(1) << 32) + 5) * 10'000, 5, (uint64_t(1) << 32) + 5},
  };
  for (const auto& c : cases) {
    TManualClock clock(c.Now100ns);
    TScopedClock use(clock);
    EXPECT_EQ(TThread::GetTickCount(), c.Tick) << c.Now100ns;
    EXPECT_EQ(TThread::GetTickCount64(), c.Tick64) << c.Now100ns;
  }
  TManualClock clock;
  TScopedClock use(clock);
  const uint32_t t0 = TThread::GetTickCount();
  clock.AdvanceMs(1500);
  EXPECT_EQ(TThread::GetTickCount() - t0, 1500u);
}

// --- Locks -----------------------------------------------------------------------------

TEST(MonitorTest, MonitorIsReentrantAndExcludesOtherThreads) {
  TObject obj;
  auto otherCanEnter = [&] {
    bool entered = false;
    std::thread other([&] {
      entered = TMonitor::TryEnter(&obj);
      if (entered) TMonitor::Exit(&obj);
    });
    other.join();
    return entered;
  };
  TMonitor::Enter(&obj);
  TMonitor::Enter(&obj);
  EXPECT_TRUE(TMonitor::IsHeldByCurrentThread(&obj));
  EXPECT_FALSE(otherCanEnter());
  TMonitor::Exit(&obj);
  EXPECT_FALSE(otherCanEnter());  // still held once
  TMonitor::Exit(&obj);
  EXPECT_FALSE(TMonitor::IsHeldByCurrentThread(&obj));
  EXPECT_TRUE(otherCanEnter());
}

TEST(MonitorTest, ReleasingALockNotHeldRaises) {
  TObject obj;
  EXPECT_THROW(TMonitor::Exit(&obj), EMonitorLockException);
  EXPECT_THROW(TMonitor::Enter(nullptr), EArgumentNilException);

  TMonitor::Enter(&obj);
  bool raised = false;
  std::thread other([&] {
    try {
      TMonitor::Exit(&obj);
    } catch (const EMonitorLockException&) {
      raised = true;
    }
  });
  other.join();
  EXPECT_TRUE(raised);
  TMonitor::Exit(&obj);

  TCriticalSection cs;
  EXPECT_THROW(cs.Leave(), EMonitorLockException);
  cs.Enter();
  cs.Leave();
  EXPECT_THROW(cs.Release(), EMonitorLockException);
}

TEST(MonitorTest, GuardsReleaseOnException) {
  TObject obj;
  TCriticalSection cs;
  try {
    TMonitorGuard g1(&obj);
    TCriticalSectionGuard g2(cs);
    throw EAbort("");
  } catch (const EAbort&) {
  }
  EXPECT_FALSE(TMonitor::IsHeldByCurrentThread(&obj));
  EXPECT_FALSE(cs.IsHeldByCurrentThread());
  std::thread other([&] {
    EXPECT_TRUE(cs.TryEnter());
    cs.Leave();
  });
  other.join();
}

TEST(MonitorTest, LocksGiveMutualExclusionAcrossThreads) {
  constexpr int kThreads = 4, kRounds = 5000;
  TObject obj;
  TCriticalSection cs;
  int underMonitor = 0, underSection = 0;
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i)
    threads.emplace_back([&] {
      for (int k = 0; k < kRounds; ++k) {
        {
          TMonitorGuard outer(&obj);
          TMonitorGuard inner(&obj);  // re-entry must not release early
          ++underMonitor;
        }
        cs.Acquire();
        cs.Enter();
        ++underSection;
        cs.Leave();
        cs.Release();
      }
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(underMonitor, kThreads * kRounds);
  EXPECT_EQ(underSection, kThreads * kRounds);
}

TEST(MonitorTest, ThreadListIgnoresDuplicatesAndLocksAcrossThreads) {
  TThreadList<int> list;
  list.Add(1);
  list.Add(2);
  list.Add(1);
  list.Remove(3);
  EXPECT_EQ(*list.Locked(), (std::vector<int>{1, 2}));
  list.Remove(1);
  EXPECT_EQ(*list.Locked(), (std::vector<int>{2}));

  std::vector<int>& held = list.LockList();
  std::atomic<bool> adding{false};
  std::thread other([&] {
    adding = true;
    list.Add(5);
  });
  EXPECT_TRUE(SpinUntil([&] { return adding.load(); }));
  list.LockList().push_back(3);  // re-entrant for the holder
  list.UnlockList();
  EXPECT_EQ(held, (std::vector<int>{2, 3}));  // the other thread cannot add meanwhile
  list.UnlockList();
  other.join();
  EXPECT_EQ(*list.Locked(), (std::vector<int>{2, 3, 5}));

  list.Clear();
  std::vector<std::thread> adders;
  for (int i = 0; i < 4; ++i)
    adders.emplace_back([&, i] {
      for (int k = 0; k < 500; ++k) list.Add(k % 250 + 1000 * i);
    });
  for (auto& t : adders) t.join();
  EXPECT_EQ(list.Locked()->size(), 4u * 250u);
}
