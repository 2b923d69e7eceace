#pragma once
// The demo's form as the program makes it, for the benchmarks that time its frames.
#include <filesystem>
#include <string>

#include "demo/Unit1.h"
#include "framework/gui/Application.h"
#include "lib/scene/Viewport.h"

namespace quorvel::bench {

// The source tree: __FILE__ is relative to the build folder (the parent of the program's
// folder) with Ninja.
inline const std::string& SourceDir() {
  static const std::string dir = [] {
    namespace fs = std::filesystem;
    const fs::path root = fs::path(__FILE__).parent_path().parent_path();
    if (root.is_absolute()) return root.string();
    return (fs::read_symlink("/proc/self/exe").parent_path().parent_path() / root).lexically_normal().string();
  }();
  return dir;
}

// Made from the demo's folder, so that it finds its model, and shown, with frames coming from
// RenderManual alone: with the fixed-rate loop on, RenderManual only redraws the last frame of
// the loop. AFixedRate keeps the program's own loop instead (frames from the viewport's timer
// thread through the message loop).
inline TOwned<TForm1> ShowDemoForm(bool AFixedRate = false) {
  const std::filesystem::path cwd = std::filesystem::current_path();
  std::filesystem::current_path(SourceDir() + "/demo");
  TForm1* form = nullptr;
  Application->CreateForm(form);
  std::filesystem::current_path(cwd);
  TOwned<TForm1> owned(form);
  form->Show();
  if (AFixedRate) return owned;
  form->QuorvelViewport1->SetUseFixedFrameRate(false);
  form->QuorvelViewport1->SetManualRendering(true);
  return owned;
}

}  // namespace quorvel::bench
