#include "framework/rtl/Task.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <vector>

#include "framework/rtl/Exceptions.h"
#include "framework/rtl/Thread.h"
#include "framework/rtl/Units.h"

namespace quorvel {

class TTaskPool {
public:
  static TTaskPool& Instance() {
    static TTaskPool pool;
    return pool;
  }

  void Push(std::shared_ptr<TTask> ATask) {
    {
      std::lock_guard lock(FMutex);
      if (FStopping) {
        ATask->Finish(TTaskStatus::Canceled, nullptr);
        return;
      }
      FQueue.push_back(std::move(ATask));
      // One more worker while some are busy and the pool is not full.
      if (FIdle == 0 && int32_t(FWorkers.size()) < TTask::PoolSize()) FWorkers.emplace_back([this] { Work(); });
    }
    FChanged.notify_one();
  }

  // Lets the running tasks end, cancels the queued ones and joins the workers.
  void Stop() {
    std::vector<std::thread> workers;
    std::deque<std::shared_ptr<TTask>> dropped;
    {
      std::lock_guard lock(FMutex);
      FStopping = true;
      workers.swap(FWorkers);
      dropped.swap(FQueue);
    }
    FChanged.notify_all();
    for (auto& task : dropped) task->Finish(TTaskStatus::Canceled, nullptr);
    for (auto& worker : workers) worker.join();
    std::lock_guard lock(FMutex);
    FStopping = false;  // a later use (the next initialisation) starts afresh
  }

private:
  void Work() {
    std::unique_lock lock(FMutex);
    for (;;) {
      ++FIdle;
      FChanged.wait(lock, [this] { return FStopping || !FQueue.empty(); });
      --FIdle;
      if (FStopping) return;
      std::shared_ptr<TTask> task = std::move(FQueue.front());
      FQueue.pop_front();
      lock.unlock();
      task->Execute();
      task.reset();
      lock.lock();
    }
  }

  std::mutex FMutex;
  std::condition_variable FChanged;
  std::deque<std::shared_ptr<TTask>> FQueue;
  std::vector<std::thread> FWorkers;
  int32_t FIdle = 0;
  bool FStopping = false;
};

namespace {

void FinTaskUnit() { TTaskPool::Instance().Stop(); }
const TUnitRegistration TaskUnit{{"Fw.Tasks", {}, nullptr, &FinTaskUnit}};

}  // namespace

int32_t TTask::PoolSize() { return int32_t(std::clamp(std::thread::hardware_concurrency(), 2u, 4u)); }

std::shared_ptr<TTask> TTask::Create(TProc AProc) { return std::make_shared<TTask>(std::move(AProc)); }

std::shared_ptr<TTask> TTask::Run(TProc AProc) {
  std::shared_ptr<TTask> task = Create(std::move(AProc));
  task->Start();
  return task;
}

void TTask::Start() {
  TTaskStatus expected = TTaskStatus::Created;
  if (!FStatus.compare_exchange_strong(expected, TTaskStatus::WaitingToRun, std::memory_order_acq_rel))
    throw EInvalidOperation("Task has already been started");
  TTaskPool::Instance().Push(shared_from_this());
}

bool TTask::IsFinished() const {
  const TTaskStatus s = GetStatus();
  return s == TTaskStatus::Completed || s == TTaskStatus::Canceled || s == TTaskStatus::Exception;
}

void TTask::Execute() {
  FWorker.store(std::this_thread::get_id(), std::memory_order_release);
  FStatus.store(TTaskStatus::Running, std::memory_order_release);
  std::exception_ptr error;
  try {
    if (FProc) FProc();
  } catch (...) {
    error = std::current_exception();
  }
  // The procedure's captures go now, on the worker, before anyone learns it finished.
  FProc = nullptr;
  Finish(error ? TTaskStatus::Exception : TTaskStatus::Completed, error);
}

void TTask::Finish(TTaskStatus AStatus, std::exception_ptr AError) {
  FError = std::move(AError);
  FStatus.store(AStatus, std::memory_order_release);
  NotifyMainQueueWaiters();
}

void TTask::Wait() {
  if (GetStatus() == TTaskStatus::Created) throw EInvalidOperation("Cannot wait for a task that was never started");
  if (!IsFinished() && FWorker.load(std::memory_order_acquire) == std::this_thread::get_id())
    throw EInvalidOperation("A task cannot wait for itself");
  WaitServingMainQueue([this] { return IsFinished(); });
  if (GetStatus() == TTaskStatus::Canceled) throw EOperationCancelled("The task was cancelled");
  if (FError) std::rethrow_exception(FError);
}

std::exception_ptr TTask::GetException() const { return IsFinished() ? FError : nullptr; }

}  // namespace quorvel
