#include "lib/formats/LoggingForm.h"

#include <algorithm>
#include <mutex>
#include <vector>

#include "framework/rtl/Log.h"
#include "framework/rtl/Thread.h"
#include "framework/rtl/Units.h"

namespace quorvel {

namespace {

struct TState {
  std::mutex Mutex;
  std::string Title;
  std::string Message;
  int32_t Count = 0;
  TLoggingForm* Kept = nullptr;          // main thread only
  std::vector<TLoggingForm*> Alive;      // main thread only
};

TState& State() {
  static TState state;
  return state;
}

void InitLoggingFormUnit() { RegisterClasses({TLoggingForm::StaticClass()}); }
void FinLoggingFormUnit() {
  TLoggingForm::FreeAll();
  UnRegisterClasses({TLoggingForm::StaticClass()});
}
const TUnitRegistration LoggingFormUnit{{"Quorvel.Utils.Dialogs.Log", {"Fw.StdCtrls"}, &InitLoggingFormUnit, &FinLoggingFormUnit}};

}  // namespace

FW_CLASS_NO_MEMBERS(TLoggingForm)
FW_CLASS_IMPL(TLoggingForm, "Quorvel.Utils.Dialogs")

TLoggingForm::TLoggingForm(TComponent* AOwner) : TForm(AOwner) {
  SetBorderStyle(TFmxFormBorderStyle::SizeToolWin);
  SetClientWidth(DefaultWidth);
  SetClientHeight(DefaultHeight);
  SetFormPosition(TFormPosition::ScreenCenter);
  FMemo = New<TMemo>(this);
  FMemo->SetName("Memo");
  FMemo->SetParent(this);
  FMemo->GetMargins()->SetAll(4);
  FMemo->SetAlign(TAlignLayout::Client);
  FMemo->SetReadOnly(true);
  FMemo->SetFontSize(10);
  FMemo->SetFontFamily("Consolas");
  State().Alive.push_back(this);
}

void TLoggingForm::BeforeDestruction() {
  TState& s = State();
  std::erase(s.Alive, this);
  if (s.Kept == this) s.Kept = nullptr;
  TForm::BeforeDestruction();
}

void TLoggingForm::Open(const std::string& ATitle, const std::string& AMessage, bool AReuse) {
  Log::d(ATitle + "\n" + AMessage);
  if (!IsMainThread()) {
    TThread::Queue(nullptr, [ATitle, AMessage, AReuse] { OpenOnMainThread(ATitle, AMessage, AReuse); });
    return;
  }
  OpenOnMainThread(ATitle, AMessage, AReuse);
}

void TLoggingForm::OpenOnMainThread(const std::string& ATitle, const std::string& AMessage, bool AReuse) {
  TState& s = State();
  {
    std::lock_guard lock(s.Mutex);
    s.Title = ATitle;
    s.Message = AMessage;
    ++s.Count;
  }
  TLoggingForm* form = AReuse ? s.Kept : nullptr;
  if (form == nullptr) {
    form = New<TLoggingForm>(nullptr);
    if (AReuse) {
      s.Kept = form;
      form->OnClose = [](TObject*, TCloseAction& Action) { Action = caHide; };
    } else {
      form->OnClose = [](TObject*, TCloseAction& Action) { Action = caFree; };
    }
  }
  form->SetCaption(ATitle);
  form->FMemo->SetText(AMessage);
  form->Show();
  form->BringToFront();
}

TLoggingForm* TLoggingForm::KeptInstance() { return State().Kept; }
int32_t TLoggingForm::LiveCount() { return int32_t(State().Alive.size()); }

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

void TLoggingForm::FreeAll() {
  while (!State().Alive.empty()) Free(State().Alive.back());
}

}  // namespace quorvel
