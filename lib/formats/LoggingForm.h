#pragma once
// Unit Quorvel.Utils.Dialogs, the log window: a long text (a shader's compile report) in a
// read-only memo of its own window. Callers on other threads are served on the main thread,
// in the order they called. The last title and message stay readable for callers that check
// what was shown, and every message also goes to the debug log, where a program without a
// display shows it.
#include <cstdint>
#include <string>

#include "framework/gui/Form.h"
#include "framework/gui/StdCtrls.h"

namespace quorvel {

class TLoggingForm : public TForm {
  FW_CLASS(TLoggingForm, TForm)

public:
  static constexpr int32_t DefaultWidth = 640;
  static constexpr int32_t DefaultHeight = 280;

  explicit TLoggingForm(TComponent* AOwner);
  void BeforeDestruction() override;

  // Shows AMessage under ATitle in a window of its own and returns at once. With AReuse the
  // kept window shows it (made on first use; closing only hides it); without, a new window
  // that frees itself when closed. Off the main thread the call is queued to it.
  static void Open(const std::string& ATitle, const std::string& AMessage, bool AReuse);

  TMemo* GetMemo() const { return FMemo; }
  // The window that reused calls show their text in, or null before the first.
  static TLoggingForm* KeptInstance();
  // The windows made so far that are still alive (the kept one included).
  static int32_t LiveCount();

  static const std::string& LastTitle();
  static const std::string& LastMessage();
  // Calls served so far (a reused window counts once per Open).
  static int32_t OpenCount();
  static void ResetHistory();
  // Frees every log window (unit finalisation; tests).
  static void FreeAll();

private:
  static void OpenOnMainThread(const std::string& ATitle, const std::string& AMessage, bool AReuse);

  TMemo* FMemo = nullptr;
};

}  // namespace quorvel
