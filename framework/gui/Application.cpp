#include "framework/gui/Application.h"

#include <SDL2/SDL.h>

#include <algorithm>
#include <mutex>

#include "framework/gui/Dialogs.h"
#include "framework/gui/Form.h"
#include "framework/classes/Messages.h"
#include "framework/gui/Timer.h"
#include "framework/platform/Platform.h"
#include "framework/platform/SdlWindow.h"
#include "framework/rtl/Stopwatch.h"
#include "framework/rtl/Units.h"

namespace quorvel {

namespace {

// Pushed to wake a loop waiting for events; carries nothing.
constexpr Sint32 WakeEventCode = 0x51564C;  // "QVL"

void PushWakeEvent() {
  if (!PlatformInitialized()) return;
  SDL_Event event{};
  event.type = SDL_USEREVENT;
  event.user.code = WakeEventCode;
  SDL_PushEvent(&event);
}

std::mutex& ApplicationMutex() {
  static std::mutex mutex;
  return mutex;
}

TApplication*& ApplicationInstance() {
  static TApplication* instance = nullptr;
  return instance;
}

void FreeApplicationInstance() {
  TApplication* app = nullptr;
  {
    std::lock_guard lock(ApplicationMutex());
    app = ApplicationInstance();
    ApplicationInstance() = nullptr;
  }
  Free(app);
}

void InitApplicationUnit() {
  SetWakeMainThread(&PushWakeEvent);
}

void FinApplicationUnit() {
  FreeApplicationInstance();
  SetWakeMainThread(nullptr);
}

const TUnitRegistration ApplicationUnit{{"Fw.Application", {"Fw.Forms", "Fw.Types"}, &InitApplicationUnit, &FinApplicationUnit}};

}  // namespace

TApplication& GetApplication() {
  std::lock_guard lock(ApplicationMutex());
  TApplication*& instance = ApplicationInstance();
  if (instance == nullptr) instance = New<TApplication>(nullptr);
  return *instance;
}

FW_CLASS_IMPL(TApplication, "Fw.Forms")
void TApplication::Register(ClassBuilder<TApplication>& b) {
  b.Prop("Title", &Self::GetTitle, &Self::SetTitle);
}

TApplication::TApplication(TComponent* AOwner) : TComponent(AOwner) {}

TApplication::~TApplication() = default;

void TApplication::Initialize() {
  SetMainThread();
  InitializeUnits();
  PlatformInitialize();
  SetWakeMainThread(&PushWakeEvent);
}

TForm* TApplication::CreateForm(const TClass* FormClass) {
  if (FormClass == nullptr) throw EArgumentNilException("Form class is nil");
  TForm* form = FormClass->CreateAs<TForm>(this);
  FormCreated(form);
  return form;
}

void TApplication::FormCreated(TForm* Form) {
  if (FMainForm == nullptr) SetMainForm(Form);
}

void TApplication::SetMainForm(TForm* Value) {
  FMainForm = Value;
  if (Value != nullptr) Value->FreeNotification(this);
}

void TApplication::Notification(TComponent* AComponent, TOperation Operation) {
  TComponent::Notification(AComponent, Operation);
  if (Operation == opRemove && AComponent == FMainForm) FMainForm = nullptr;
}

void TApplication::Terminate() {
  FTerminated = true;
  PushWakeEvent();
}

int32_t TApplication::AddTickHandler(std::function<void()> Handler) {
  const int32_t handle = FNextTickHandle++;
  FTickHandlers.push_back({handle, std::move(Handler)});
  return handle;
}

void TApplication::RemoveTickHandler(int32_t Handle) {
  std::erase_if(FTickHandlers, [Handle](const TTickHandler& h) { return h.Handle == Handle; });
}

void TApplication::HandleException(TObject* Sender, const std::exception& E) {
  if (dynamic_cast<const EAbort*>(&E) != nullptr) return;
  if (OnException) {
    OnException(Sender, E);
    return;
  }
  ShowException(E);
}

void TApplication::ShowException(const std::exception& E) {
  std::string message = E.what();
  if (!message.empty() && message.back() != '.') message += '.';
  ShowMessage(message);
}

void TApplication::ProcessMessages() {
  if (!IsMainThread()) throw EThread("ProcessMessages must be called on the main thread");
  // Each step on its own: a failing handler must not starve the others of this pass.
  auto guarded = [this](auto&& step) {
    try {
      step();
    } catch (const std::exception& e) {
      HandleException(this, e);
    }
  };
  if (PlatformInitialized()) {
    guarded([this] {
      // Only the events present now: a handler that posts events cannot keep the pass going.
      SDL_PumpEvents();
      std::vector<SDL_Event> events;
      SDL_Event batch[64];
      int count;
      while ((count = SDL_PeepEvents(batch, 64, SDL_GETEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT)) > 0)
        events.insert(events.end(), batch, batch + count);
      for (const SDL_Event& event : events) {
        if (event.type == SDL_QUIT)
          Terminate();
        else if (event.type == SDL_DISPLAYEVENT)
          TMessageManager::DefaultManager().SendMessage(this, TDisplayChangedMessage());
        else if (event.type != SDL_USEREVENT)
          TSdlWindow::DispatchEvent(event);
      }
    });
  }
  guarded([] { CheckSynchronize(); });
  guarded([] { TTimer::ProcessTimers(); });
  // Handlers may add or remove handlers: iterate over a copy of the handles.
  std::vector<int32_t> handles;
  handles.reserve(FTickHandlers.size());
  for (const TTickHandler& h : FTickHandlers) handles.push_back(h.Handle);
  for (int32_t handle : handles) {
    auto it = std::find_if(FTickHandlers.begin(), FTickHandlers.end(),
                           [handle](const TTickHandler& h) { return h.Handle == handle; });
    if (it == FTickHandlers.end()) continue;
    std::function<void()> handler = it->Handler;
    guarded(handler);
  }
  guarded([] { TForm::PaintAll(); });
}

int32_t TApplication::WaitTimeoutMs() const {
  // Bounded, so that a missed wake-up (or a clock a test moves by hand) costs little.
  int32_t timeout = FTickHandlers.empty() ? 100 : 5;
  if (!Clock().IsRealTime()) return 1;
  const int64_t due = TTimer::NextDueTime();
  if (due >= 0) {
    const int64_t ms = (due - Clock().Now100ns() + 9'999) / 10'000;
    timeout = int32_t(std::clamp<int64_t>(ms, 0, timeout));
  }
  return timeout;
}

void TApplication::HandleMessage() {
  ProcessMessages();
  if (FTerminated) return;
  const int32_t timeout = WaitTimeoutMs();
  if (timeout <= 0) return;
  if (PlatformInitialized())
    SDL_WaitEventTimeout(nullptr, timeout);
  else
    SleepMilliseconds(uint32_t(timeout));
}

void TApplication::Run() {
  if (!IsMainThread()) throw EThread("Run must be called on the main thread");
  PlatformInitialize();
  FRunning = true;
  struct TDone {
    bool& Running;
    ~TDone() { Running = false; }
  } done{FRunning};
  if (FMainForm != nullptr && !FTerminated) FMainForm->Show();
  while (!FTerminated) HandleMessage();
}

void TApplication::Finalize() {
  struct TShutdown {
    ~TShutdown() { PlatformShutdown(); }
  } shutdown;
  FreeApplicationInstance();
  FinalizeUnits();
}

}  // namespace quorvel
