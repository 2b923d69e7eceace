#pragma once
// Shared by the demo's tests: whether the engine builds everything the demo's form resource
// names, so that the program and its frames can run.
#include <exception>
#include <string>

#include "demo/Unit1.h"
#include "framework/classes/FormText.h"
#include "lib/context/windows/ContextGLESWindows.h"

namespace quorvel::testkit {

// "" when the resource "TFORM1" reads into a form; else the reason (a class or property
// the engine does not build yet).
inline std::string DemoFormReadError() {
  TCustomContextWindows::SetWindowHandle(nullptr);
  TCustomContextWindows::CreateSharedContext();
  try {
    TOwned<TForm1> form(new TForm1(nullptr));
    ReadComponentResource(form.get(), *FindFormResource("TFORM1"));
  } catch (const std::exception& e) {
    return e.what();
  }
  return {};
}

}  // namespace quorvel::testkit
