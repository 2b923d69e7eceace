#pragma once
// TTask: a procedure run on a worker of the process's task pool.
//
//   auto task = TTask::Run([] { ... });   // queued at once
//   task->Wait();                          // raises again what the procedure raised
//
// The pool's workers start on first use (at most four) and stop when the units finalise;
// tasks still queued then never run (Canceled). A task that hands work to the main thread
// (TThread::Synchronize) may be waited for on the main thread: Wait serves the main queue.
#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <thread>

#include "framework/rtl/Object.h"

namespace quorvel {

enum class TTaskStatus : uint8_t { Created, WaitingToRun, Running, Completed, WaitingForChildren, Canceled, Exception };
FW_ENUM(TTaskStatus, Created, WaitingToRun, Running, Completed, WaitingForChildren, Canceled, Exception)

class TTask : public std::enable_shared_from_this<TTask> {
public:
  using TProc = std::function<void()>;

  // A task that has not started; Start queues it.
  static std::shared_ptr<TTask> Create(TProc AProc);
  // Create and Start in one.
  static std::shared_ptr<TTask> Run(TProc AProc);

  // Queues the task on the pool; EInvalidOperation unless it is Created.
  void Start();
  TTaskStatus GetStatus() const { return FStatus.load(std::memory_order_acquire); }
  // Completed, Canceled or Exception.
  bool IsFinished() const;
  // Waits until the task finished (serving the main queue on the main thread); raises again
  // the exception that ended it, EOperationCancelled for a cancelled one, EInvalidOperation
  // for one never started or waiting for itself.
  void Wait();
  std::exception_ptr GetException() const;
  // The number of workers the pool runs when busy.
  static int32_t PoolSize();

  explicit TTask(TProc AProc) : FProc(std::move(AProc)) {}

private:
  friend class TTaskPool;
  void Execute();
  void Finish(TTaskStatus AStatus, std::exception_ptr AError);

  TProc FProc;
  std::atomic<TTaskStatus> FStatus{TTaskStatus::Created};
  std::exception_ptr FError;  // written before the status becomes Exception
  std::atomic<std::thread::id> FWorker{};  // while running
};

}  // namespace quorvel
