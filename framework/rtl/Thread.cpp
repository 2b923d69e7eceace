#include "framework/rtl/Thread.h"

#include <deque>
#include <system_error>
#include <utility>
#include <vector>

#include "framework/rtl/Exceptions.h"
#include "framework/rtl/Finally.h"
#include "framework/rtl/Log.h"
#include "framework/rtl/Stopwatch.h"

namespace quorvel {

namespace {

struct TSyncWait {
  bool Done = false;
  std::exception_ptr Error;
};

struct TQueuedCall {
  TThread* Thread;
  TThreadProcedure Proc;
  TSyncWait* Wait;  // set for Synchronize: the poster waits on it
};

struct TMainQueue {
  std::mutex Mutex;
  // Signalled when a call is posted, a synchronized call is done or a thread finished.
  std::condition_variable Changed;
  std::deque<TQueuedCall> Calls;
  std::function<void()> Wake;
};

// Never destroyed: threads still running at exit may post.
TMainQueue& MainQueue() {
  static TMainQueue* queue = new TMainQueue;
  return *queue;
}

std::atomic<std::thread::id> GMainThread{};
thread_local TThread* TCurrent = nullptr;

void Post(TQueuedCall call) {
  TMainQueue& q = MainQueue();
  std::function<void()> wake;
  {
    std::lock_guard lock(q.Mutex);
    q.Calls.push_back(std::move(call));
    wake = q.Wake;
  }
  q.Changed.notify_all();
  if (wake) wake();
}

std::string DescribeException(std::exception_ptr e) {
  try {
    std::rethrow_exception(e);
  } catch (const Exception& x) {
    return std::string(x.ClassName()) + ": " + x.Message();
  } catch (const std::exception& x) {
    return x.what();
  } catch (...) {
    return "unknown exception";
  }
}

}  // namespace

void SetMainThread() { GMainThread.store(std::this_thread::get_id(), std::memory_order_release); }

bool IsMainThread() { return GMainThread.load(std::memory_order_acquire) == std::this_thread::get_id(); }

std::thread::id MainThreadID() { return GMainThread.load(std::memory_order_acquire); }

bool CheckSynchronize() {
  if (!IsMainThread()) throw EThread("CheckSynchronize called from a thread that is not the main thread");
  TMainQueue& q = MainQueue();
  size_t count;
  {
    std::lock_guard lock(q.Mutex);
    count = q.Calls.size();
  }
  bool ran = false;
  for (size_t i = 0; i < count; ++i) {
    TQueuedCall call;
    {
      std::lock_guard lock(q.Mutex);
      if (q.Calls.empty()) break;
      call = std::move(q.Calls.front());
      q.Calls.pop_front();
    }
    ran = true;
    if (!call.Wait) {
      call.Proc();
      continue;
    }
    std::exception_ptr error;
    try {
      call.Proc();
    } catch (...) {
      error = std::current_exception();
    }
    // The closure may refer to the waiter's stack: release it before the waiter resumes.
    call.Proc = nullptr;
    {
      // Moved, not copied: the waiter holds the only reference, so the exception is freed on
      // its thread (a count dropped here after it resumed is invisible to race detectors).
      std::lock_guard lock(q.Mutex);
      call.Wait->Error = std::move(error);
      call.Wait->Done = true;
    }
    q.Changed.notify_all();
  }
  return ran;
}

void SetWakeMainThread(std::function<void()> wake) {
  TMainQueue& q = MainQueue();
  std::lock_guard lock(q.Mutex);
  q.Wake = std::move(wake);
}

TThread::TThread(bool CreateSuspended) : FCreateSuspended(CreateSuspended) {}

TThread::~TThread() { Shutdown(); }

void TThread::AfterConstruction() {
  TObject::AfterConstruction();
  if (!FCreateSuspended) Start();
}

void TThread::BeforeDestruction() {
  if (GetStarted() && !GetFinished()) {
    // A failing TerminatedSet is logged; the flag is set regardless.
    Quietly("TThread: terminating", [&] { Terminate(); });
  }
  Shutdown();
  TObject::BeforeDestruction();
}

void TThread::Start() {
  std::lock_guard lock(FStateMutex);
  if (FStarted.load(std::memory_order_acquire))
    throw EThread("Cannot call Start on a running or suspended thread");
  FSuspendRequested.store(false, std::memory_order_release);
  FStarted.store(true, std::memory_order_release);
  try {
    FThread = std::thread(&TThread::ThreadProc, this);
  } catch (const std::system_error& e) {
    FStarted.store(false, std::memory_order_release);
    throw EThread(std::string("Thread creation error: ") + e.what());
  }
  FThreadID.store(FThread.get_id(), std::memory_order_release);
}

void TThread::ThreadProc(TThread* self) {
  TCurrent = self;
  self->FThreadID.store(std::this_thread::get_id(), std::memory_order_release);
  try {
    self->Execute();
  } catch (...) {
    self->FFatalException = std::current_exception();
    Quietly("thread end report", [&] {
      Log::d("Thread " + self->ClassName() + " ended by an exception: " + DescribeException(self->FFatalException));
    });
  }
  TCurrent = nullptr;
  TMainQueue& q = MainQueue();
  {
    std::lock_guard lock(q.Mutex);
    self->FFinished.store(true, std::memory_order_release);
  }
  // From here on a waiter may join and free `self`.
  q.Changed.notify_all();
}

void TThread::Terminate() {
  FTerminated.store(true, std::memory_order_release);
  {
    std::lock_guard lock(FStateMutex);
  }
  FResumed.notify_all();
  NotifyClockWaiters();
  TerminatedSet();
}

void WaitServingMainQueue(const std::function<bool()>& ADone) {
  TMainQueue& q = MainQueue();
  const bool main = IsMainThread();
  for (;;) {
    {
      std::unique_lock lock(q.Mutex);
      q.Changed.wait(lock, [&] { return ADone() || (main && !q.Calls.empty()); });
      if (ADone()) return;
    }
    CheckSynchronize();
  }
}

void NotifyMainQueueWaiters() {
  TMainQueue& q = MainQueue();
  { std::lock_guard lock(q.Mutex); }
  q.Changed.notify_all();
}

int32_t TThread::WaitFor() {
  if (!GetStarted()) throw EThread("Cannot call WaitFor on a thread that was never started");
  // A finished thread's id may already belong to another thread.
  if (!GetFinished() && GetThreadID() == std::this_thread::get_id())
    throw EThread("A thread cannot wait for itself");
  if (FSuspendRequested.load(std::memory_order_acquire) && !GetTerminated() && !GetFinished())
    throw EThread("Cannot call WaitFor on a suspended thread");
  TMainQueue& q = MainQueue();
  if (IsMainThread()) {
    for (;;) {
      {
        std::unique_lock lock(q.Mutex);
        q.Changed.wait(lock, [&] { return GetFinished() || !q.Calls.empty(); });
        if (GetFinished()) break;
      }
      CheckSynchronize();
    }
  } else {
    std::unique_lock lock(q.Mutex);
    q.Changed.wait(lock, [&] { return GetFinished(); });
  }
  Join();
  return GetReturnValue();
}

void TThread::Join() {
  std::lock_guard lock(FStateMutex);
  if (FThread.joinable()) FThread.join();
}

void TThread::Shutdown() noexcept {
  if (GetStarted()) {
    if (!GetFinished() && GetThreadID() == std::this_thread::get_id()) {
      // Freed from its own Execute: nobody is left to join it.
      std::lock_guard lock(FStateMutex);
      if (FThread.joinable()) FThread.detach();
    } else {
      FTerminated.store(true, std::memory_order_release);
      {
        std::lock_guard lock(FStateMutex);
      }
      FResumed.notify_all();
      NotifyClockWaiters();
      for (;;) {
        try {
          WaitFor();
          break;
        } catch (...) {
          // A queued call failed while we drained the queue; keep waiting.
          const std::exception_ptr error = std::current_exception();
          Quietly("thread wait report", [&] {
            Log::d("Exception while waiting for a thread to end: " + DescribeException(error));
          });
          if (GetFinished()) {
            std::lock_guard lock(FStateMutex);
            if (FThread.joinable()) FThread.detach();
            break;
          }
        }
      }
    }
  }
  Quietly("TThread: removing queued events", [&] { RemoveQueuedEvents(this); });
}

bool TThread::GetSuspended() const {
  return !GetStarted() || FSuspendRequested.load(std::memory_order_acquire);
}

void TThread::SetSuspended(bool value) {
  if (!GetStarted()) {
    if (!value) Start();
    return;
  }
  if (value) {
    if (!GetFinished()) FSuspendRequested.store(true, std::memory_order_release);
    return;
  }
  {
    std::lock_guard lock(FStateMutex);
    FSuspendRequested.store(false, std::memory_order_release);
  }
  FResumed.notify_all();
}

std::exception_ptr TThread::GetFatalException() const {
  return GetFinished() ? FFatalException : nullptr;
}

void TThread::WaitUntilResumed() {
  if (!FSuspendRequested.load(std::memory_order_acquire)) return;
  std::unique_lock lock(FStateMutex);
  FResumed.wait(lock, [&] { return !FSuspendRequested.load(std::memory_order_acquire) || GetTerminated(); });
}

void TThread::Synchronize(TThread* AThread, TThreadProcedure AProc) {
  if (!AProc) return;
  if (IsMainThread()) {
    AProc();
    return;
  }
  if (MainThreadID() == std::thread::id())
    throw EThread("Synchronize needs a main thread (SetMainThread was never called)");
  TSyncWait wait;
  Post({AThread, std::move(AProc), &wait});
  TMainQueue& q = MainQueue();
  {
    std::unique_lock lock(q.Mutex);
    q.Changed.wait(lock, [&] { return wait.Done; });
  }
  if (wait.Error) std::rethrow_exception(wait.Error);
}

void TThread::Queue(TThread* AThread, TThreadProcedure AProc) {
  if (!AProc) return;
  if (IsMainThread()) {
    AProc();
    return;
  }
  Post({AThread, std::move(AProc), nullptr});
}

void TThread::RemoveQueuedEvents(TThread* AThread) {
  std::vector<TQueuedCall> removed;  // closures die outside the lock: they may post
  TMainQueue& q = MainQueue();
  {
    std::lock_guard lock(q.Mutex);
    for (auto it = q.Calls.begin(); it != q.Calls.end();) {
      if (it->Thread == AThread && !it->Wait) {
        removed.push_back(std::move(*it));
        it = q.Calls.erase(it);
      } else {
        ++it;
      }
    }
  }
}

TThread* TThread::CurrentThread() { return TCurrent; }

void TThread::Yield() {
  if (TThread* t = TCurrent) t->WaitUntilResumed();
  std::this_thread::yield();
}

void TThread::Sleep(int32_t ms) {
  TThread* t = TCurrent;
  if (ms > 0) {
    const int64_t deadline = Clock().Now100ns() + int64_t(ms) * 10'000;
    if (t)
      WaitForClock(deadline, [t] { return t->GetTerminated(); });
    else
      WaitForClock(deadline, nullptr);
  } else {
    std::this_thread::yield();
  }
  if (t) t->WaitUntilResumed();
}

uint32_t TThread::GetTickCount() { return uint32_t(GetTickCount64()); }

uint64_t TThread::GetTickCount64() { return uint64_t(Clock().Now100ns() / 10'000); }

bool TThread::CheckTerminated() {
  TThread* t = TCurrent;
  return t && t->GetTerminated();
}

}  // namespace quorvel
