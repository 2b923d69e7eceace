#include "framework/rtl/Finally.h"

#include <exception>
#include <string>

#include "framework/rtl/Log.h"

namespace quorvel {

void LogCurrentException(std::string_view what) noexcept {
  try {
    std::string msg = "<unknown exception>";
    try {
      throw;
    } catch (const std::exception& e) {
      msg = e.what();
    } catch (...) {
    }
    Log::d("<ERROR> " + std::string(what) + ": " + msg);
  } catch (...) {
    // Logging itself failed (out of memory): nothing more can be said.
  }
}

void FreeQuietly(TObject* obj, std::string_view what) noexcept {
  try {
    Free(obj);
  } catch (...) {
    LogCurrentException(std::string("failed to free ") + std::string(what));
  }
}

}  // namespace quorvel
