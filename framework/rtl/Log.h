#pragma once
// The debug log: one line per call, to stderr unless a test captures or silences it.
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "framework/rtl/SysUtils.h"

namespace quorvel {

class Log {
public:
  using TSink = std::function<void(const std::string&)>;

  // Writes one line. Callable from any thread; lines never interleave.
  static void d(const std::string& msg);
  // Format(fmt, args...) as one line; a bad format raises as Format does.
  template <FormatArgument A, FormatArgument... Rest>
  static void d(std::string_view fmt, const A& arg, const Rest&... rest) {
    d(Format(fmt, arg, rest...));
  }

  // Sends lines to `sink` instead of stderr (an empty sink restores stderr); returns the
  // sink that was installed before.
  static TSink SetCapture(TSink sink);
  // Drops lines that no capture takes (keeps test output clean).
  static void SetQuiet(bool quiet);
  static bool GetQuiet();
};

// Collects the log lines written during its lifetime (from every thread), then restores
// the previous sink.
class TLogCapture {
public:
  TLogCapture();
  ~TLogCapture();
  TLogCapture(const TLogCapture&) = delete;
  TLogCapture& operator=(const TLogCapture&) = delete;

  std::vector<std::string> Lines() const;
  // Whether some line contains `text`.
  bool Contains(const std::string& text) const;
  void Clear();

private:
  mutable std::mutex FMutex;
  std::vector<std::string> FLines;
  Log::TSink FPrevious;
};

}  // namespace quorvel
