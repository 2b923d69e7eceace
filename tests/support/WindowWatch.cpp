#include "tests/support/WindowWatch.h"

#include "framework/gui/Application.h"
#include "lib/formats/UtilsDialogs.h"
#include "tests/support/FormScript.h"

namespace quorvel::testkit {

TWindowWatch::TWindowWatch(TManualClock& AClock, int64_t AStepMs) {
  FHandle = GetApplication().AddTickHandler([this, &AClock, AStepMs] {
    AClock.AdvanceMs(AStepMs);
    for (TForm* form : TForm::Forms()) {
      if (!form->GetVisible()) continue;
      const std::string name = form->ClassName();
      if (Windows.empty() || Windows.back() != name) Windows.push_back(name);
      if (auto* dialog = dynamic_cast<TLoadOptionsForm*>(form); dialog != nullptr && dialog != FAnswered) {
        FAnswered = dialog;
        ClickOn(dialog->GetOKButton());
      }
    }
  });
}

TWindowWatch::~TWindowWatch() { GetApplication().RemoveTickHandler(FHandle); }

}  // namespace quorvel::testkit
