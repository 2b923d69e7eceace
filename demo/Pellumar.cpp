// Pellumar: the engine's demonstration program. One window (the form of Unit1); no options.
// SIGTERM and closing the window end it normally (exit code 0); an exception that escapes
// goes to stderr and ends it with exit code 1.
#include <csignal>
#include <cstdio>
#include <exception>

#include "demo/Unit1.h"
#include "framework/gui/Application.h"

namespace {

// The version information the program carries.
[[gnu::used]] const char PellumarVersion[] = "Pellumar 1.0.0.0";

volatile std::sig_atomic_t GTerminateRequested = 0;

void OnTerminateSignal(int) { GTerminateRequested = 1; }

}  // namespace

int main() {
  using namespace quorvel;
  // Installed before the window system starts, which then leaves SIGTERM to us: the signal
  // only sets a flag, and the message loop ends at its next pass.
  std::signal(SIGTERM, OnTerminateSignal);
  int code = 0;
  try {
    Application->Initialize();
    Application->AddTickHandler([] {
      if (GTerminateRequested) Application->Terminate();
    });
    TForm1* Form1 = nullptr;
    Application->CreateForm(Form1);
    Application->Run();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    code = 1;
  } catch (...) {
    std::fprintf(stderr, "unknown exception\n");
    code = 1;
  }
  try {
    TApplication::Finalize();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    code = 1;
  }
  return code;
}
