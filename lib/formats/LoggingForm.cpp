#include "lib/formats/LoggingForm.h"

#include <mutex>

#include "framework/rtl/Log.h"

namespace quorvel {

namespace {

struct TState {
  std::mutex Mutex;
  std::string Title;
  std::string Message;
  int32_t Count = 0;
};

TState& State() {
  static TState state;
  return state;
}

}  // namespace

void TLoggingForm::Open(const std::string& ATitle, const std::string& AMessage, bool /*AReuse*/) {
  TState& s = State();
  {
    std::lock_guard lock(s.Mutex);
    s.Title = ATitle;
    s.Message = AMessage;
    ++s.Count;
  }
  Log::d(ATitle + "\n" + AMessage);
}

const std::string& TLoggingForm::LastTitle() { return State().Title; }
const std::string& TLoggingForm::LastMessage() { return State().Message; }
int32_t TLoggingForm::OpenCount() { return State().Count; }

void TLoggingForm::ResetHistory() {
  TState& s = State();
  std::lock_guard lock(s.Mutex);
  s.Title.clear();
  s.Message.clear();
  s.Count = 0;
}

}  // namespace quorvel
