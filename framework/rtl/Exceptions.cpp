#include "framework/rtl/Exceptions.h"

#include <cerrno>
#include <cstring>

namespace quorvel {

namespace {
thread_local int tLastError = 0;
thread_local std::string tLastErrorText;
thread_local bool tHasOwnError = false;
}  // namespace

int GetLastError() { return tHasOwnError ? tLastError : errno; }

void SetLastError(int code, std::string text) {
  tLastError = code;
  tLastErrorText = std::move(text);
  tHasOwnError = code != 0;
}

void RaiseLastOSError(int code) {
  std::string text;
  if (tHasOwnError && code == tLastError && !tLastErrorText.empty())
    text = tLastErrorText;
  else
    text = code != 0 ? std::strerror(code) : "";
  throw EOSError("System Error.  Code: " + std::to_string(code) + ".\n" + text, code);
}

void RaiseLastOSError() { RaiseLastOSError(GetLastError()); }

void Assert(bool condition, const std::string& message) {
  if (!condition) throw EAssertionFailed(message);
}

}  // namespace quorvel
