#pragma once
// TThread and the main-thread queue.
//
// The main thread is the one that called SetMainThread (Application.Initialize, the test
// main). Synchronize posts a call to the main queue and waits for it; Queue posts without
// waiting; both run inline when called on the main thread. The message loop and a
// main-thread WaitFor drain the queue (CheckSynchronize), so a worker blocked in
// Synchronize never deadlocks a main thread that waits for that worker.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

#include "framework/rtl/Object.h"

namespace quorvel {

using TThreadProcedure = std::function<void()>;

// The caller becomes the main thread.
void SetMainThread();
bool IsMainThread();
std::thread::id MainThreadID();
// Runs the calls queued for the main thread, at most those present on entry (a call that
// posts again is served next time). Returns whether any ran. An exception of a queued
// call propagates (the rest stay queued); one of a synchronized call goes back to the
// thread that waits for it. Raises EThread off the main thread.
bool CheckSynchronize();
// Called (from the posting thread) whenever a call is posted, to wake the message loop.
void SetWakeMainThread(std::function<void()> wake);
// Blocks until ADone() answers true. On the main thread the queued calls run meanwhile, so
// that a worker in Synchronize can finish. Whoever makes ADone true then calls
// NotifyMainQueueWaiters. ADone runs under the queue's lock and must not block or post.
void WaitServingMainQueue(const std::function<bool()>& ADone);
void NotifyMainQueueWaiters();

enum class TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

class TThread : public TObject {
public:
  // A thread created with CreateSuspended false starts in AfterConstruction, once the
  // most-derived object exists.
  explicit TThread(bool CreateSuspended = true);
  // Terminates a running thread and waits for it (draining the main queue when on the
  // main thread). Never throws.
  ~TThread() override;

  void AfterConstruction() override;
  // Stops the thread before any destructor runs, so Execute never sees a half-destroyed
  // object.
  void BeforeDestruction() override;

  // Starts a thread that was never started; raises EThread otherwise.
  void Start();
  // Asks Execute to end: sets Terminated, releases a suspended thread and wakes its Sleep.
  void Terminate();
  // Waits until Execute has returned and gives the return value. On the main thread the
  // main queue is served meanwhile. Raises EThread for a thread never started, a suspended
  // one that is not terminated (it could never finish), or a thread waiting for itself.
  int32_t WaitFor();

  bool GetTerminated() const { return FTerminated.load(std::memory_order_acquire); }
  // A thread never started counts as suspended. Suspending a running thread takes effect
  // the next time it calls Yield or Sleep.
  bool GetSuspended() const;
  void SetSuspended(bool value);
  // Stored only: raising priority needs privileges here, and a raised busy thread would
  // starve the software rasteriser's workers anyway.
  TThreadPriority GetPriority() const { return FPriority.load(std::memory_order_relaxed); }
  void SetPriority(TThreadPriority value) { FPriority.store(value, std::memory_order_relaxed); }
  bool GetStarted() const { return FStarted.load(std::memory_order_acquire); }
  bool GetFinished() const { return FFinished.load(std::memory_order_acquire); }
  int32_t GetReturnValue() const { return FReturnValue.load(std::memory_order_acquire); }
  // The exception that escaped Execute, or null.
  std::exception_ptr GetFatalException() const;
  std::thread::id GetThreadID() const { return FThreadID.load(std::memory_order_acquire); }

  // Runs AProc on the main thread and waits for it; an exception of AProc is raised again
  // here. AThread only tags the call.
  static void Synchronize(TThread* AThread, TThreadProcedure AProc);
  // Runs AProc on the main thread later (at once when called there). Calls queued with a
  // thread are dropped when that thread is destroyed.
  static void Queue(TThread* AThread, TThreadProcedure AProc);
  // Drops the queued (not the synchronized) calls tagged with AThread.
  static void RemoveQueuedEvents(TThread* AThread);

  // The TThread whose Execute runs on the calling thread, or null.
  static TThread* CurrentThread();
  // Gives up the time slice; a suspended TThread waits here until resumed or terminated.
  static void Yield();
  // Sleeps on Clock() (a manual clock must be advanced). Returns early when the calling
  // TThread is terminated; a suspended TThread stays suspended afterwards.
  static void Sleep(int32_t ms);
  // Milliseconds of Clock(); the 32-bit value wraps after 49.7 days.
  static uint32_t GetTickCount();
  static uint64_t GetTickCount64();
  // Whether the calling TThread was told to terminate (false on other threads).
  static bool CheckTerminated();

protected:
  virtual void Execute() = 0;
  // Called on the thread that called Terminate, after the flag is set.
  virtual void TerminatedSet() {}
  void SetReturnValue(int32_t value) { FReturnValue.store(value, std::memory_order_release); }

private:
  static void ThreadProc(TThread* self);
  void WaitUntilResumed();
  // Terminate, wait and join; used by BeforeDestruction and the destructor.
  void Shutdown() noexcept;
  void Join();

  bool FCreateSuspended;
  std::thread FThread;
  std::atomic<std::thread::id> FThreadID{};
  std::atomic<bool> FStarted{false};
  std::atomic<bool> FFinished{false};
  std::atomic<bool> FTerminated{false};
  std::atomic<bool> FSuspendRequested{false};
  std::atomic<TThreadPriority> FPriority{TThreadPriority::tpNormal};
  std::atomic<int32_t> FReturnValue{0};
  std::exception_ptr FFatalException;  // written by the thread before FFinished
  mutable std::mutex FStateMutex;      // start, join, the suspension gate
  std::condition_variable FResumed;
};

}  // namespace quorvel
