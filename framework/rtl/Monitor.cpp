#include "framework/rtl/Monitor.h"

#include "framework/rtl/Finally.h"

namespace quorvel {

namespace {

// The monitors this thread holds, with their recursion counts. recursive_mutex cannot
// tell whether the caller owns it, and unlocking one the thread does not own is undefined;
// this list makes a stray Exit an exception. Threads rarely hold more than a few, so a
// linear search beats a hash.
struct THeld {
  const std::recursive_mutex* Lock;
  int Count;
};
thread_local std::vector<THeld> THeldMonitors;

THeld* FindHeld(const std::recursive_mutex* m) {
  for (auto& h : THeldMonitors)
    if (h.Lock == m) return &h;
  return nullptr;
}

void NoteEntered(const std::recursive_mutex* m) {
  if (THeld* h = FindHeld(m))
    ++h->Count;
  else
    THeldMonitors.push_back({m, 1});
}

std::recursive_mutex& MonitorOf(const TObject* AObject) {
  if (!AObject) throw EArgumentNilException("TMonitor: the object is nil");
  return AObject->MonitorLock();
}

}  // namespace

void TMonitor::Enter(const TObject* AObject) {
  std::recursive_mutex& m = MonitorOf(AObject);
  if (THeld* h = FindHeld(&m)) {
    // Already ours: counting is enough, and skips the mutex's own recursion limit.
    ++h->Count;
    return;
  }
  m.lock();
  auto unlock = Finally([&] { m.unlock(); });
  NoteEntered(&m);
  unlock.Dismiss();
}

bool TMonitor::TryEnter(const TObject* AObject) {
  std::recursive_mutex& m = MonitorOf(AObject);
  if (THeld* h = FindHeld(&m)) {
    ++h->Count;
    return true;
  }
  if (!m.try_lock()) return false;
  auto unlock = Finally([&] { m.unlock(); });
  NoteEntered(&m);
  unlock.Dismiss();
  return true;
}

void TMonitor::Exit(const TObject* AObject) {
  std::recursive_mutex& m = MonitorOf(AObject);
  THeld* h = FindHeld(&m);
  if (!h) throw EMonitorLockException("Object lock not owned");
  if (--h->Count > 0) return;
  THeldMonitors.erase(THeldMonitors.begin() + (h - THeldMonitors.data()));
  m.unlock();
}

bool TMonitor::IsHeldByCurrentThread(const TObject* AObject) {
  return AObject && FindHeld(&AObject->MonitorLock()) != nullptr;
}

void TCriticalSection::Enter() {
  const auto me = std::this_thread::get_id();
  if (FOwner.load(std::memory_order_relaxed) == me) {
    ++FCount;
    return;
  }
  FMutex.lock();
  FOwner.store(me, std::memory_order_relaxed);
  FCount = 1;
}

bool TCriticalSection::TryEnter() {
  const auto me = std::this_thread::get_id();
  if (FOwner.load(std::memory_order_relaxed) == me) {
    ++FCount;
    return true;
  }
  if (!FMutex.try_lock()) return false;
  FOwner.store(me, std::memory_order_relaxed);
  FCount = 1;
  return true;
}

void TCriticalSection::Leave() {
  if (FOwner.load(std::memory_order_relaxed) != std::this_thread::get_id())
    throw EMonitorLockException("Critical section not owned by the calling thread");
  if (--FCount > 0) return;
  FOwner.store(std::thread::id(), std::memory_order_relaxed);
  FMutex.unlock();
}

}  // namespace quorvel
