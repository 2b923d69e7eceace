#pragma once
// Cleanup written once.
//
//   auto restore = Finally([&] { ctx.SetViewport(saved); });   // runs on both paths
//   FreeQuietly(FBuffer, "mesh buffer");                      // destructors: free, log a failure
//
// A finally block that raises on the normal path raises as usual; one that raises while an
// exception is already unwinding is logged (a second exception would end the process) and the
// first exception goes on. Destructors never throw: they free their members one by one with
// FreeQuietly, so the first failure cannot leak the rest.
#include <exception>
#include <string_view>
#include <utility>

#include "framework/rtl/Object.h"

namespace quorvel {

// Logs "<ERROR> <what>: <message of the exception being handled>"; call only inside a catch.
void LogCurrentException(std::string_view what) noexcept;

template <class F>
class TFinally {
public:
  explicit TFinally(F f) : FAction(std::move(f)), FUncaught(std::uncaught_exceptions()) {}
  TFinally(const TFinally&) = delete;
  TFinally& operator=(const TFinally&) = delete;
  // Runs the action now (once) instead of at scope exit.
  void Run() {
    if (FArmed) {
      FArmed = false;
      FAction();
    }
  }
  // The action will not run.
  void Dismiss() noexcept { FArmed = false; }
  ~TFinally() noexcept(false) {
    if (!FArmed) return;
    FArmed = false;
    if (std::uncaught_exceptions() > FUncaught) {
      try {
        FAction();
      } catch (...) {
        LogCurrentException("cleanup failed while unwinding");
      }
    } else {
      FAction();
    }
  }

private:
  F FAction;
  int FUncaught;
  bool FArmed = true;
};

template <class F>
[[nodiscard]] TFinally<F> Finally(F f) {
  return TFinally<F>(std::move(f));
}

// Frees `obj` (null is fine) and logs instead of raising; for destructors and release paths.
void FreeQuietly(TObject* obj, std::string_view what) noexcept;

template <class T>
void FreeQuietlyAndNil(T*& obj, std::string_view what) noexcept {
  T* p = obj;
  obj = nullptr;
  FreeQuietly(p, what);
}

template <class T>
void FreeQuietlyAndNil(TOwned<T>& obj, std::string_view what) noexcept {
  FreeQuietly(obj.release(), what);
}

// Frees the object when the reference owns it; either way the reference is cleared.
template <class T>
void FreeQuietlyAndNil(TMaybeOwned<T>& ref, std::string_view what) noexcept {
  const bool owns = ref.Owns();
  T* p = ref.Release();
  if (owns) FreeQuietly(p, what);
}

// Runs `action`, logging a failure instead of raising; for release steps that must not stop
// the steps after them.
template <class F>
void Quietly(std::string_view what, F&& action) noexcept {
  try {
    std::forward<F>(action)();
  } catch (...) {
    LogCurrentException(what);
  }
}

}  // namespace quorvel
