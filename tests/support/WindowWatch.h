#pragma once
// Watching the modal windows that loads open, headless (framework tests link no engine).
#include <string>
#include <vector>

#include "framework/gui/Form.h"
#include "framework/rtl/Stopwatch.h"

namespace quorvel::testkit {

// Loads run their jobs in modal windows that wait on the clock. While it lives, each message
// pass moves AClock on by AStepMs, notes the class of each form that comes up (a form staying
// up is noted once), and answers a load-options dialog with OK.
class TWindowWatch {
public:
  explicit TWindowWatch(TManualClock& AClock, int64_t AStepMs = 100);
  ~TWindowWatch();
  TWindowWatch(const TWindowWatch&) = delete;
  TWindowWatch& operator=(const TWindowWatch&) = delete;
  std::vector<std::string> Windows;

private:
  int32_t FHandle = 0;
  TForm* FAnswered = nullptr;
};

}  // namespace quorvel::testkit
