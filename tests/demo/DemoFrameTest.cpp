// Headless frames of the demo at 640 x 480: the form created as the program creates it (from
// the demo's folder, so that it loads .\assets\monkey.obj), ticks through its timer on an
// injected clock, frames through the viewport's manual render, read back from the frame the
// viewport copies out of its renderer's context. Each checked frame is saved as a PNG in the
// test's output folder.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "demo/Unit1.h"
#include "framework/gui/Application.h"
#include "framework/rtl/Stopwatch.h"
#include "lib/context/windows/ContextGLESWindows.h"
#include "lib/utils/UtilsTimer.h"
#include "tests/demo/DemoSupport.h"
#include "tests/support/ChildRun.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;

struct TRGB {
  int R = 0, G = 0, B = 0;
};

class DemoFrameTest : public ::testing::Test {
protected:
  void SetUp() override {
    if (const std::string missing = testkit::DemoFormReadError(); !missing.empty())
      GTEST_SKIP() << "the form does not read yet: " << missing;
    TCustomContextWindows::SetWindowHandle(nullptr);
    TCustomContextWindows::CreateSharedContext();
    Scoped = std::make_unique<TScopedClock>(Time);
    const fs::path cwd = fs::current_path();
    fs::current_path(fs::path(QUORVEL_TEST_DATA_DIR) / ".." / ".." / "demo");
    TForm1* form = nullptr;
    try {
      Application->CreateForm(form);
    } catch (...) {
      fs::current_path(cwd);
      throw;
    }
    fs::current_path(cwd);
    Form.reset(form);
    Form->Show();
    // Frames come from RenderManual alone: the fixed-rate loop would render on its own timer
    // thread's cadence, racing the ticks.
    Form->QuorvelViewport1->SetUseFixedFrameRate(false);
    Form->QuorvelViewport1->SetManualRendering(true);
  }
  void TearDown() override {
    Form.reset();
    Scoped.reset();
  }

  void Tick() {
    Time.AdvanceMs(16);
    Application->ProcessMessages();
  }
  // Renders one frame and saves it as <name>.png next to the test's output.
  const TBitmap* Frame(const std::string& AName) {
    Form->QuorvelViewport1->RenderManual();
    const TBitmap* frame = Form->QuorvelViewport1->GetFrameBitmap();
    const char* out = std::getenv("TEST_UNDECLARED_OUTPUTS_DIR");
    const fs::path dir = out ? fs::path(out) : fs::temp_directory_path() / "quorvel_demo_frames";
    fs::create_directories(dir);
    frame->SaveToFile((dir / (AName + ".png")).string());
    return frame;
  }
  static TRGB At(const TBitmap* ABitmap, int32_t x, int32_t y) {
    x = std::clamp(x, 0, ABitmap->GetWidth() - 1);
    y = std::clamp(y, 0, ABitmap->GetHeight() - 1);
    const uint8_t* p = ABitmap->Pixels().data() + (size_t(y) * ABitmap->GetWidth() + x) * 4;
    return {p[2], p[1], p[0]};
  }
  TPointF Screen(float X, float Y, float Z) { return Form->QuorvelViewport1->WorldToScreen({X, Y, Z}); }

  TManualClock Time;
  std::unique_ptr<TScopedClock> Scoped;
  TOwned<TForm1> Form;
};

TEST_F(DemoFrameTest, TheModelHoldsTheMonkeyWithTheMaterialOfItsLibrary) {
  // FormCreate loaded the model: the form is built, and the first frame shows something.
  EXPECT_EQ(Form->GetLightMove(), 0.0f);
  const TBitmap* frame = Frame("demo_first");
  EXPECT_EQ(frame->GetWidth(), 640);
  EXPECT_EQ(frame->GetHeight(), 480);
}

TEST_F(DemoFrameTest, BackgroundModelAndLightPools) {
  Tick();
  const TBitmap* frame = Frame("demo_tick1");
  ASSERT_EQ(frame->GetWidth(), 640);
  ASSERT_EQ(frame->GetHeight(), 480);
  // The floor ends at z = 50: the rows above its far edge are the black background.
  const int top = std::max(6, int(std::floor(Screen(0, 0, 50).Y)) - 1);
  for (int y = 0; y < top; ++y)
    for (int x = 0; x < 640; x += 7) {
      const TRGB c = At(frame, x, y);
      ASSERT_TRUE(c.R < 8 && c.G < 8 && c.B < 8) << x << "," << y;
    }
  // Hiding the model changes the pixels at its centre and nothing in those rows.
  const TPointF centre = Screen(0, -1, 0);
  const TRGB with = At(frame, int(centre.X), int(centre.Y));
  Form->QuorvelModel1->SetVisible(false);
  const TBitmap* without = Frame("demo_tick1_no_model");
  const TRGB gone = At(without, int(centre.X), int(centre.Y));
  EXPECT_TRUE(with.R != gone.R || with.G != gone.G || with.B != gone.B);
  for (int y = 0; y < top; ++y)
    for (int x = 0; x < 640; x += 7) {
      const TRGB c = At(without, x, y);
      ASSERT_TRUE(c.R < 8 && c.G < 8 && c.B < 8) << x << "," << y;
    }
  Form->QuorvelModel1->SetVisible(true);
}

TEST_F(DemoFrameTest, TheFloorUnderEachLightShowsItsColour) {
  // At tick 1 the lights stand apart: light 1 far left and back, light 2 right, light 3 in
  // front of the model's centre line.
  Tick();
  const TBitmap* frame = Frame("demo_pools");
  const TPointF model = Screen(0, -1, 0);
  struct TCase {
    TQuorvelLight* Light;
    int Channel;  // 0 red, 1 green, 2 blue
  } cases[] = {{Form->QuorvelLight1, 0}, {Form->QuorvelLight2, 1}, {Form->QuorvelLight3, 2}};
  int checked = 0;
  for (const TCase& c : cases) {
    const TVector3D p = c.Light->GetAbsolutePosition();
    const TPointF s = Screen(p.X, 0, p.Z);
    if (s.X < 0 || s.X >= 640 || s.Y < 0 || s.Y >= 480) continue;
    if (std::hypot(s.X - model.X, s.Y - model.Y) < 60) continue;  // behind the model
    const TRGB rgb = At(frame, int(s.X), int(s.Y));
    const int v[3] = {rgb.R, rgb.G, rgb.B};
    EXPECT_GT(v[c.Channel], 20) << c.Light->GetName();
    EXPECT_EQ(std::max_element(v, v + 3) - v, c.Channel) << c.Light->GetName() << " " << rgb.R << "," << rgb.G << ","
                                                          << rgb.B;
    ++checked;
  }
  EXPECT_GE(checked, 2);
}

TEST_F(DemoFrameTest, FramesThirtyTicksApartDifferOnTheFloor) {
  Tick();
  const TBitmap* first = Frame("demo_a");
  std::vector<uint8_t> a(first->Pixels().begin(), first->Pixels().end());
  for (int i = 0; i < 30; ++i) Tick();
  const TBitmap* second = Frame("demo_b");
  // The lower half of the picture is floor.
  size_t differing = 0;
  for (size_t i = size_t(240) * 640 * 4; i < a.size(); ++i)
    if (std::abs(int(a[i]) - int(second->Pixels()[i])) > 8) ++differing;
  EXPECT_GT(differing, 1000u);
}

TEST_F(DemoFrameTest, TheFixedRateLoopRendersTheFramesTheTicksMake) {
  // The program's own path: the form's fixed-rate loop renders on its timer's ticks and
  // RenderManual only shows the last of them.
  TQuorvelViewport* viewport = Form->QuorvelViewport1;
  viewport->SetManualRendering(false);
  viewport->SetUseFixedFrameRate(true);
  TQuorvelTimer* timer = viewport->GetFrameTimer();
  ASSERT_NE(timer, nullptr);
  const int64_t before = timer->GetTickCount();
  Tick();
  // The timer thread hands its tick over on its own schedule: wait for it, a bounded time.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (timer->GetTickCount() == before && std::chrono::steady_clock::now() < deadline) {
    Application->ProcessMessages();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ASSERT_GT(timer->GetTickCount(), before) << "the frame timer never ticked";
  Application->ProcessMessages();
  const TBitmap* frame = Frame("demo_fixed_rate");
  const TPointF centre = Screen(0, -1, 0);
  const TRGB model = At(frame, int(centre.X), int(centre.Y));
  EXPECT_GT(model.R + model.G + model.B, 0) << "the frame timer's frame is empty";
  const TRGB corner = At(frame, 0, 0);
  EXPECT_TRUE(corner.R < 8 && corner.G < 8 && corner.B < 8);
}

// The frame tests again in a child process, in a window of an X server.
TEST(DemoFrameX11, TheFrameTestsPassInAnXvfbWindow) {
  if (const std::string missing = testkit::DemoFormReadError(); !missing.empty())
    GTEST_SKIP() << "the form does not read yet: " << missing;
  if (!testkit::HasCommand("xvfb-run")) GTEST_SKIP() << "xvfb-run is not installed";
  const testkit::TChildRun run = testkit::RunSelf("SDL_VIDEODRIVER=x11 xvfb-run -a", "DemoFrameTest.*");
  EXPECT_TRUE(WIFEXITED(run.Status) && WEXITSTATUS(run.Status) == 0) << run.Output;
  EXPECT_NE(run.Output.find("[  PASSED  ] 5 tests"), std::string::npos) << run.Output;
}

}  // namespace
}  // namespace quorvel
