#pragma once
// TApplication and the global `Application` (used as `Application->Run()`).
//
//   Application->Initialize();              // main thread, unit inits, window system
//   Application->CreateForm(Form1);         // the first form created becomes the main form
//   Application->Run();                     // until the main form closes or Terminate
//   TApplication::Finalize();               // frees the forms, unit finals, window system
//
// One message pass (ProcessMessages) handles, in this order: the window system's events
// (routed to their forms), the calls queued for the main thread (Synchronize/Queue), the
// due timers (TTimer, on Clock()), the animation-tick handlers, then painting the forms
// that asked for it. An exception escaping any of them goes to HandleException.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "framework/classes/Component.h"
#include "framework/rtl/Finally.h"
#include "framework/rtl/Thread.h"

namespace quorvel {

class TForm;

using TExceptionEvent = std::function<void(TObject* Sender, const std::exception& E)>;

class TApplication : public TComponent {
  FW_CLASS(TApplication, TComponent)

public:
  explicit TApplication(TComponent* AOwner);
  ~TApplication() override;

  // The calling thread becomes the main thread; runs the unit initialisations that have
  // not run; starts the window system (headless falls back to the offscreen driver).
  void Initialize();

  // Creates a form owned by the application. Reference is set before the form's resource is
  // read and OnCreate runs (handlers may use it); on an exception it is cleared again and
  // the exception passes on. The first form created becomes the main form.
  template <class T>
  void CreateForm(T*& Reference) {
    T* form = new T(this);
    Reference = form;
    auto undo = Finally([&] {
      Reference = nullptr;
      delete form;
    });
    form->AfterConstruction();
    undo.Dismiss();
    FormCreated(form);
  }
  // The same through a class reference; answers the form.
  TForm* CreateForm(const TClass* FormClass);

  // Shows the main form and processes messages until Terminate (closing the main form
  // terminates). Without a main form it runs until Terminate.
  void Run();
  // One message pass; never waits. Main thread only (EThread otherwise).
  void ProcessMessages();
  // One pass, then waits (without spinning) for the next event, queued call or due timer.
  void HandleMessage();
  // Ends Run at the end of its current pass (from any handler, or any thread).
  void Terminate();
  bool GetTerminated() const { return FTerminated; }
  bool GetRunning() const { return FRunning; }

  TForm* GetMainForm() const { return FMainForm; }
  void SetMainForm(TForm* Value);
  const std::string& GetTitle() const { return FTitle; }
  void SetTitle(const std::string& Value) { FTitle = Value; }

  // Called once per message pass (the animation clock hooks in here). Answers a handle.
  int32_t AddTickHandler(std::function<void()> Handler);
  void RemoveTickHandler(int32_t Handle);

  // EAbort is silent; otherwise OnException when assigned, else ShowException.
  void HandleException(TObject* Sender, const std::exception& E);
  // Shows the exception's message (logged when headless).
  void ShowException(const std::exception& E);
  TExceptionEvent OnException;

  // Frees the forms and the application object, runs the unit finalisations in reverse
  // order and shuts the window system down. Safe to call more than once; a later use of
  // `Application` makes a new application object.
  static void Finalize();

  void Notification(TComponent* AComponent, TOperation Operation) override;

private:
  void FormCreated(TForm* Form);
  int32_t WaitTimeoutMs() const;

  TForm* FMainForm = nullptr;
  std::string FTitle;
  bool FTerminated = false;
  bool FRunning = false;
  struct TTickHandler {
    int32_t Handle;
    std::function<void()> Handler;
  };
  std::vector<TTickHandler> FTickHandlers;
  int32_t FNextTickHandle = 1;
};

// The application object, made on first use.
TApplication& GetApplication();

// `Application->X()`: a constant stand-in for the global application variable, so no work
// happens before main.
struct TApplicationRef {
  TApplication* operator->() const { return &GetApplication(); }
  TApplication& operator*() const { return GetApplication(); }
};
inline constexpr TApplicationRef Application{};

}  // namespace quorvel
