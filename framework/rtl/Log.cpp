#include "framework/rtl/Log.h"

#include <atomic>
#include <cstdio>

namespace quorvel {

namespace {

std::mutex& LogMutex() {
  static std::mutex m;
  return m;
}

Log::TSink& Sink() {
  static Log::TSink sink;
  return sink;
}

std::atomic<bool> GQuiet{false};

// A sink that logs would otherwise re-enter itself (and the non-recursive mutex).
thread_local bool TInSink = false;

void WriteStderr(const std::string& msg) {
  std::string line = msg;
  line += '\n';
  std::fwrite(line.data(), 1, line.size(), stderr);
}

}  // namespace

void Log::d(const std::string& msg) {
  if (TInSink) {
    if (!GQuiet.load(std::memory_order_relaxed)) WriteStderr(msg);
    return;
  }
  std::lock_guard lock(LogMutex());
  if (Sink()) {
    TInSink = true;
    try {
      Sink()(msg);
    } catch (...) {
      // A failing capture must not turn a log call into an error of the caller; the line is
      // not lost, it goes where it would have gone without a capture.
      if (!GQuiet.load(std::memory_order_relaxed)) WriteStderr(msg + " (log capture failed)");
    }
    TInSink = false;
  } else if (!GQuiet.load(std::memory_order_relaxed)) {
    WriteStderr(msg);
  }
}

Log::TSink Log::SetCapture(TSink sink) {
  std::lock_guard lock(LogMutex());
  TSink previous = std::move(Sink());
  Sink() = std::move(sink);
  return previous;
}

void Log::SetQuiet(bool quiet) { GQuiet.store(quiet, std::memory_order_relaxed); }

bool Log::GetQuiet() { return GQuiet.load(std::memory_order_relaxed); }

TLogCapture::TLogCapture() {
  FPrevious = Log::SetCapture([this](const std::string& line) {
    std::lock_guard lock(FMutex);
    FLines.push_back(line);
  });
}

TLogCapture::~TLogCapture() { Log::SetCapture(std::move(FPrevious)); }

std::vector<std::string> TLogCapture::Lines() const {
  std::lock_guard lock(FMutex);
  return FLines;
}

bool TLogCapture::Contains(const std::string& text) const {
  std::lock_guard lock(FMutex);
  for (const auto& line : FLines)
    if (line.find(text) != std::string::npos) return true;
  return false;
}

void TLogCapture::Clear() {
  std::lock_guard lock(FMutex);
  FLines.clear();
}

}  // namespace quorvel
