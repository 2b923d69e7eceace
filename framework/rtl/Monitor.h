#pragma once
// Locks: the per-object monitor (TMonitor), TCriticalSection and TThreadList. All are
// re-entrant for the thread that holds them. Releasing a lock the calling thread does not
// hold raises EMonitorLockException instead of corrupting the lock.
#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "framework/rtl/Exceptions.h"
#include "framework/rtl/Finally.h"
#include "framework/rtl/Object.h"

namespace quorvel {

// The re-entrant lock every object carries (no Wait/Pulse).
class TMonitor {
public:
  static void Enter(const TObject* AObject);
  static bool TryEnter(const TObject* AObject);
  static void Exit(const TObject* AObject);
  // Whether the calling thread holds the object's monitor.
  static bool IsHeldByCurrentThread(const TObject* AObject);
};

// Holds an object's monitor for a scope.
class TMonitorGuard {
public:
  explicit TMonitorGuard(const TObject* AObject) : FObject(AObject) { TMonitor::Enter(AObject); }
  ~TMonitorGuard() {
    Quietly("TMonitorGuard: leaving the monitor", [&] { TMonitor::Exit(FObject); });
  }
  TMonitorGuard(const TMonitorGuard&) = delete;
  TMonitorGuard& operator=(const TMonitorGuard&) = delete;

private:
  const TObject* FObject;
};

class TCriticalSection : public TObject {
public:
  void Enter();
  bool TryEnter();
  void Leave();
  void Acquire() { Enter(); }
  void Release() { Leave(); }
  bool IsHeldByCurrentThread() const {
    return FOwner.load(std::memory_order_relaxed) == std::this_thread::get_id();
  }

private:
  std::mutex FMutex;
  // Only the owner compares equal to its own id, so relaxed loads suffice for the
  // re-entry test; FMutex orders everything else.
  std::atomic<std::thread::id> FOwner{};
  int FCount = 0;
};

class TCriticalSectionGuard {
public:
  explicit TCriticalSectionGuard(TCriticalSection& cs) : FSection(cs) { cs.Enter(); }
  ~TCriticalSectionGuard() {
    Quietly("TCriticalSectionGuard: leaving the section", [&] { FSection.Leave(); });
  }
  TCriticalSectionGuard(const TCriticalSectionGuard&) = delete;
  TCriticalSectionGuard& operator=(const TCriticalSectionGuard&) = delete;

private:
  TCriticalSection& FSection;
};

// A list behind a re-entrant lock. Add ignores an item already present (the run-time's
// default for thread lists). LockList returns the list itself; every LockList needs an
// UnlockList (or use Locked()).
template <typename T>
class TThreadList : public TObject {
public:
  std::vector<T>& LockList() {
    FLock.Enter();
    return FList;
  }
  void UnlockList() { FLock.Leave(); }

  void Add(const T& item) {
    TCriticalSectionGuard guard(FLock);
    if (std::find(FList.begin(), FList.end(), item) == FList.end()) FList.push_back(item);
  }
  void Remove(const T& item) {
    TCriticalSectionGuard guard(FLock);
    auto it = std::find(FList.begin(), FList.end(), item);
    if (it != FList.end()) FList.erase(it);
  }
  void Clear() {
    TCriticalSectionGuard guard(FLock);
    FList.clear();
  }

  // The locked list for a scope: `auto list = threadList.Locked(); list->push_back(x);`
  class TLocked {
  public:
    explicit TLocked(TThreadList& owner) : FOwner(owner), FList(owner.LockList()) {}
    ~TLocked() { FOwner.UnlockList(); }
    TLocked(const TLocked&) = delete;
    TLocked& operator=(const TLocked&) = delete;
    std::vector<T>& operator*() const { return FList; }
    std::vector<T>* operator->() const { return &FList; }

  private:
    TThreadList& FOwner;
    std::vector<T>& FList;
  };
  TLocked Locked() { return TLocked(*this); }

private:
  TCriticalSection FLock;
  std::vector<T> FList;
};

}  // namespace quorvel
