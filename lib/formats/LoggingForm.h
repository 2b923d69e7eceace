#pragma once
// The design-time log window: a title and a read-only message. There is no designer here, so
// the window is the debug log; the last title and message stay readable for the callers that
// check what was shown.
#include <cstdint>
#include <string>

namespace quorvel {

class TLoggingForm {
public:
  // Shows AMessage under ATitle; with AReuse the one window is reused (its text replaced).
  static void Open(const std::string& ATitle, const std::string& AMessage, bool AReuse);

  static const std::string& LastTitle();
  static const std::string& LastMessage();
  // Windows opened so far (a reused window counts once per Open).
  static int32_t OpenCount();
  static void ResetHistory();
};

}  // namespace quorvel
