// TTask: procedures on the pool's workers, errors carried back to Wait, and work handed to
// the main thread while the main thread waits.
#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

#include "framework/rtl/Exceptions.h"
#include "framework/rtl/Task.h"
#include "framework/rtl/Thread.h"

namespace quorvel {
namespace {

TEST(Task, RunsOnAWorkerAndWaitRaisesWhatTheProcedureRaised) {
  std::thread::id where;
  auto task = TTask::Run([&] { where = std::this_thread::get_id(); });
  task->Wait();
  EXPECT_EQ(task->GetStatus(), TTaskStatus::Completed);
  EXPECT_NE(where, std::this_thread::get_id());
  EXPECT_EQ(task->GetException(), nullptr);

  struct Case {
    const char* Name;
    std::function<void()> Proc;
    std::string Message;
  } cases[] = {
      {"framework exception", [] { throw EConvertError("bad number"); }, "bad number"},
      {"standard exception", [] { throw std::runtime_error("plain"); }, "plain"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    auto failing = TTask::Run(c.Proc);
    try {
      failing->Wait();
      ADD_FAILURE() << "Wait did not raise";
    } catch (const std::exception& e) {
      EXPECT_EQ(std::string(e.what()), c.Message);
    }
    EXPECT_EQ(failing->GetStatus(), TTaskStatus::Exception);
    EXPECT_NE(failing->GetException(), nullptr);
  }
}

TEST(Task, StartsOnceAndOnlyAfterStart) {
  std::atomic<int> runs{0};
  auto task = TTask::Create([&] { ++runs; });
  EXPECT_EQ(task->GetStatus(), TTaskStatus::Created);
  EXPECT_THROW(task->Wait(), EInvalidOperation) << "never started";
  task->Start();
  EXPECT_THROW(task->Start(), EInvalidOperation);
  task->Wait();
  EXPECT_EQ(runs.load(), 1);
}

TEST(Task, MainThreadWaitingServesTheWorkersSynchronizedCalls) {
  // More tasks than workers, each handing work to the main thread: none may deadlock.
  std::vector<std::thread::id> ranOn;
  std::vector<std::shared_ptr<TTask>> tasks;
  for (int i = 0; i < 3 * TTask::PoolSize(); ++i)
    tasks.push_back(TTask::Run([&] { TThread::Synchronize(nullptr, [&] { ranOn.push_back(std::this_thread::get_id()); }); }));
  for (auto& task : tasks) task->Wait();
  ASSERT_EQ(ranOn.size(), tasks.size());
  for (std::thread::id id : ranOn) EXPECT_EQ(id, std::this_thread::get_id());
}

TEST(Task, WaitingForItselfRaises) {
  std::shared_ptr<TTask> self;
  std::atomic<bool> raised{false};
  std::atomic<bool> ready{false};
  self = TTask::Create([&] {
    while (!ready) std::this_thread::yield();
    try {
      self->Wait();
    } catch (const EInvalidOperation&) {
      raised = true;
    }
  });
  self->Start();
  ready = true;
  self->Wait();
  EXPECT_TRUE(raised.load());
  self.reset();
}

}  // namespace
}  // namespace quorvel
