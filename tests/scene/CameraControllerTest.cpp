// The smooth camera controller: timer steps against the decay formulas on a manual clock, and
// mouse input through SDL events on a viewport it steers.
#include <SDL2/SDL.h>
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "framework/gui/Application.h"
#include "framework/gui3d/Camera.h"
#include "framework/platform/Platform.h"
#include "lib/scene/CameraController.h"
#include "tests/scene/SceneTestSupport.h"

namespace quorvel {
namespace {

constexpr float kDt = 0.033f;  // one 33 ms step

// The decrement of an impulse I (after the limit) with damping D, and the move it makes with
// intensity K: D·ln|I| and K·dt·sqrt(D·ln|I|).
float Decrement(float I, float D) { return D * std::log(std::fabs(I)); }
float Move(float I, float D, float K) { return K * kDt * std::sqrt(std::fabs(Decrement(I, D))); }

class ControllerStep : public ::testing::Test {
protected:
  void SetUp() override {
    Controller.reset(New<TQuorvelSmoothCameraController>(nullptr));
    Camera = New<TCamera>(Controller.get());
    Camera->GetPosition()->SetPoint({0, 0, 0});
    Controller->SetCamera(Camera);
  }
  // One step seeing 33 ms since the previous one.
  void Step() {
    Time.AdvanceMs(33);
    Controller->DoTimerStep(nullptr);
  }

  TManualClock Time;
  TScopedClock Scoped{Time};
  TOwned<TQuorvelSmoothCameraController> Controller;
  TCamera* Camera = nullptr;  // owned by the controller
};

TEST_F(ControllerStep, DefaultsAndTheCameraHangingFromIt) {
  EXPECT_EQ(Controller->GetInterval(), 33u);
  EXPECT_TRUE(Controller->GetEnabled());
  EXPECT_EQ(Controller->GetTypes(), (TQuorvelSmoothCameraControlTypes{scctRotateY, scctMoveY, scctZoom, scctShiftX,
                                                                      scctShiftY, scctShiftZ}));
  EXPECT_EQ(Controller->GetImpulseLimit(), TPoint3D(75, 50, 50));
  EXPECT_EQ(Controller->GetIntensity(), TPoint3D(15, 1, 1));
  EXPECT_EQ(Controller->GetDamping(), TPoint3D(1.5f, 1.5f, 1));
  EXPECT_EQ(Controller->GetLimitZ().X, -100);
  EXPECT_EQ(Controller->GetLimitZ().Y, -1);
  // A camera at the origin is put behind and below the controller; one elsewhere stays.
  EXPECT_EQ(Camera->GetParent(), Controller.get());
  EXPECT_EQ(Camera->GetTarget(), Controller.get());
  EXPECT_EQ(Camera->GetPosition()->GetPoint(), TPoint3D(0, -10, -25));
  auto* other = New<TCamera>(Controller.get());
  other->GetPosition()->SetPoint({1, 2, 3});
  Controller->SetCamera(other);
  EXPECT_EQ(other->GetPosition()->GetPoint(), TPoint3D(1, 2, 3));
  // A freed camera is forgotten; the step then does nothing.
  Free(other);
  EXPECT_EQ(Controller->GetCamera(), nullptr);
  Controller->SetImpulse({75, 10, 10});
  Step();
  EXPECT_EQ(Controller->GetImpulse(), TPoint3D(75, 10, 10));
  EXPECT_EQ(Controller->GetRotationAngle()->GetY(), 0);
}

TEST_F(ControllerStep, OneStepFollowsTheDecayFormulas) {
  struct Case {
    const char* what;
    std::function<void(TQuorvelSmoothCameraController*)> setup;
    TPoint3D impulse;     // before the step
    float angle;          // the controller's Y turn before the step
    TPoint3D camera;      // the camera's position before the step
    TPoint3D impulseAfter;
    float angleAfter;
    float cameraYAfter, cameraZAfter;
  };
  const float turn = Move(75, 1.5f, 15);
  const Case cases[] = {
      {"turn 75", nullptr, {75, 0, 0}, 0, {0, 0, -5}, {75 - Decrement(75, 1.5f), 0, 0}, turn, 0, -5},
      {"turn above its limit starts from 75", nullptr, {120, 0, 0}, 0, {0, 0, -5},
       {75 - Decrement(75, 1.5f), 0, 0}, turn, 0, -5},
      {"turn past 360 wraps to 0", nullptr, {75, 0, 0}, 359.5f, {0, 0, -5}, {75 - Decrement(75, 1.5f), 0, 0},
       359.5f + turn - 360, 0, -5},
      {"turn below 0 wraps under 360", nullptr, {-75, 0, 0}, 0.5f, {0, 0, -5}, {-75 + Decrement(75, 1.5f), 0, 0},
       0.5f - turn + 360, 0, -5},
      {"turn just over its threshold acts", nullptr, {3.02f, 0, 0}, 0, {0, 0, -5},
       {3.02f - Decrement(3.02f, 1.5f), 0, 0}, Move(3.02f, 1.5f, 15), 0, -5},
      {"turn under its threshold 3.01 stays", nullptr, {3, 0, 0}, 10, {0, 0, -5}, {3, 0, 0}, 10, 0, -5},
      {"turn switched off", [](auto* c) { c->SetTypes({scctMoveY, scctZoom}); }, {75, 0, 0}, 10, {0, 0, -5},
       {75, 0, 0}, 10, 0, -5},
      {"up and down", nullptr, {0, 10, 0}, 0, {0, 0, -5}, {0, 10 - Decrement(10, 1.5f), 0}, 0, Move(10, 1.5f, 1), -5},
      {"up and down held at 10", nullptr, {0, 50, 0}, 0, {0, 9.99f, -5}, {0, 50 - Decrement(50, 1.5f), 0}, 0, 10, -5},
      {"up and down under its threshold 1.51", nullptr, {0, -1.5f, 0}, 0, {0, 2, -5}, {0, -1.5f, 0}, 0, 2, -5},
      {"zoom in", nullptr, {0, 0, 20}, 0, {0, 0, -50}, {0, 0, 20 - Decrement(20, 1)}, 0, 0, -50 + Move(20, 1, 1)},
      {"zoom held at -1, the impulse decays", nullptr, {0, 0, 50}, 0, {0, 0, -1.01f},
       {0, 0, 50 - Decrement(50, 1)}, 0, 0, -1},
      {"zoom held at -100", nullptr, {0, 0, -50}, 0, {0, 0, -99.99f}, {0, 0, -50 + Decrement(50, 1)}, 0, 0, -100},
      {"zoom under its threshold 1.01", nullptr, {0, 0, 1}, 0, {0, 0, -5}, {0, 0, 1}, 0, 0, -5},
      // Kept: under 1 the logarithm is negative and the impulse grows towards 1.
      {"an impulse under 1 drifts up", [](auto* c) { c->SetDamping({1.5f, 1.5f, 0.5f}); }, {0, 0, 0.8f}, 0,
       {0, 0, -5}, {0, 0, 0.8f - Decrement(0.8f, 0.5f)}, 0, 0, -5 + Move(0.8f, 0.5f, 1)},
      // Mended: a negative damping lets a zero impulse through; it moves nothing (was NaN).
      {"a zero impulse under a negative damping", [](auto* c) { c->SetDamping({1.5f, 1.5f, -1}); }, {0, 0, 0}, 0,
       {0, 0, -5}, {0, 0, 0}, 0, 0, -5},
  };
  for (const Case& c : cases) {
    SetUp();
    if (c.setup) c.setup(Controller.get());
    Controller->SetImpulse(c.impulse);
    Controller->GetRotationAngle()->SetY(c.angle);
    Camera->GetPosition()->SetPoint(c.camera);
    Step();
    const TPoint3D i = Controller->GetImpulse();
    EXPECT_NEAR(i.X, c.impulseAfter.X, 1e-4) << c.what;
    EXPECT_NEAR(i.Y, c.impulseAfter.Y, 1e-4) << c.what;
    EXPECT_NEAR(i.Z, c.impulseAfter.Z, 1e-4) << c.what;
    EXPECT_NEAR(Controller->GetRotationAngle()->GetY(), c.angleAfter, 1e-3) << c.what;
    EXPECT_NEAR(Camera->GetPosition()->GetY(), c.cameraYAfter, 1e-4) << c.what;
    EXPECT_NEAR(Camera->GetPosition()->GetZ(), c.cameraZAfter, 1e-4) << c.what;
    EXPECT_EQ(Controller->GetPosition()->GetPoint(), TPoint3D(0, 0, 0)) << c.what;
  }
}

TEST_F(ControllerStep, TheFirstTurnOf75IsOneAndAQuarterDegrees) {
  Controller->AddXImpulse(75);
  Step();
  // 1.5·ln 75 ≈ 6.48; 15 × 0.033 × √6.48 ≈ 1.26.
  EXPECT_NEAR(75 - Controller->GetImpulse().X, 6.476, 1e-3);
  EXPECT_NEAR(Controller->GetRotationAngle()->GetY(), 1.2597, 1e-3);
  // dt is the time since the last step: a step 66 ms later turns twice as far per root.
  const float before = Controller->GetRotationAngle()->GetY();
  const float impulse = Controller->GetImpulse().X;
  Time.AdvanceMs(66);
  Controller->DoTimerStep(nullptr);
  EXPECT_NEAR(Controller->GetRotationAngle()->GetY() - before, 2 * Move(impulse, 1.5f, 15), 1e-3);
}

TEST_F(ControllerStep, ShiftsMoveTheControllerAlongTheCamerasAxes) {
  // A turned camera: its axes are no world axes.
  Camera->GetRotationAngle()->SetPoint({30, 20, 0});
  const TVector3D left = Camera->GetAbsoluteLeft(), up = Camera->GetAbsoluteUp(),
                  dir = Camera->GetAbsoluteDirection();
  ASSERT_GT(std::fabs(up.Z), 0.1f);
  Controller->Shift({10, 20, 30});
  Step();
  const float sx = Move(10, 1.5f, 0.5f), sy = Move(20, 1.5f, 0.5f), sz = Move(30, 1.5f, 0.5f);
  const TVector3D expected = left * sx + up * sy + dir * sz;
  const TPoint3D p = Controller->GetPosition()->GetPoint();
  EXPECT_NEAR(p.X, expected.X, 1e-5);
  EXPECT_NEAR(p.Y, expected.Y, 1e-5);
  EXPECT_NEAR(p.Z, expected.Z, 1e-5);
  EXPECT_NEAR(Controller->GetShiftImpulse().Z, 30 - Decrement(30, 1.5f), 1e-4);
  // Under the threshold (1.51) a shift impulse stays and moves nothing.
  Controller->GetPosition()->SetPoint({0, 0, 0});
  Controller->SetShiftImpulse({1.5f, 0, 0});
  Step();
  EXPECT_EQ(Controller->GetPosition()->GetPoint(), TPoint3D(0, 0, 0));
  EXPECT_EQ(Controller->GetShiftImpulse().X, 1.5f);
}

TEST_F(ControllerStep, ModifyEventsSeeAndMayChangeEachValue) {
  std::vector<std::string> seen;
  Controller->OnBeforeModify = [&](TObject* s, TQuorvelSmoothCameraControlType t, float& v) {
    seen.push_back("before " + std::to_string(int(t)) + " " + std::to_string(int(v)) + (s == Controller.get() ? "" : " ?"));
  };
  Controller->OnAfterModify = [&](TObject*, TQuorvelSmoothCameraControlType t, float& v) {
    seen.push_back("after " + std::to_string(int(t)));
    if (t == scctMoveY) v = 4;
  };
  Camera->GetPosition()->SetPoint({0, 2, -5});
  Controller->SetImpulse({0, 10, 20});
  Step();
  EXPECT_EQ(seen, (std::vector<std::string>{"before 1 2", "after 1", "before 2 -5", "after 2"}));
  EXPECT_EQ(Camera->GetPosition()->GetY(), 4);
}

TEST_F(ControllerStep, TheTimerStepsOnTheClockAndEnablingRestartsTheStopwatch) {
  PlatformInitialize();
  Controller->SetImpulse({75, 0, 0});
  Time.AdvanceMs(20);
  Application->ProcessMessages();
  EXPECT_EQ(Controller->GetImpulse().X, 75) << "not yet due";
  Time.AdvanceMs(13);
  Application->ProcessMessages();
  EXPECT_NEAR(Controller->GetRotationAngle()->GetY(), Move(75, 1.5f, 15), 1e-4);
  // Off for a second: the next step sees only the time since it was switched on again.
  Controller->SetEnabled(false);
  Time.AdvanceMs(1000);
  Application->ProcessMessages();
  Controller->SetEnabled(true);
  Controller->SetImpulse({75, 0, 0});
  Controller->GetRotationAngle()->SetY(0);
  Time.AdvanceMs(33);
  Application->ProcessMessages();
  EXPECT_NEAR(Controller->GetRotationAngle()->GetY(), Move(75, 1.5f, 15), 1e-4);
}

// ---- mouse input through the form ----------------------------------------------------------------

class ControllerMouse : public testkit::TViewportTest {
protected:
  void SetUp() override {
    TViewportTest::SetUp();
    Target = Viewport->GetDesignCameraController();
    SDL_SetModState(KMOD_NONE);
  }
  void TearDown() override {
    SDL_SetModState(KMOD_NONE);
    TViewportTest::TearDown();
  }
  void Push(SDL_Event e) { ASSERT_EQ(SDL_PushEvent(&e), 1) << SDL_GetError(); }
  void Button(bool down, uint8_t button, int x, int y) {
    SDL_Event e{};
    e.type = down ? SDL_MOUSEBUTTONDOWN : SDL_MOUSEBUTTONUP;
    e.button.windowID = Form->GetWindow()->WindowID();
    e.button.button = button;
    e.button.state = down ? SDL_PRESSED : SDL_RELEASED;
    e.button.clicks = 1;
    e.button.x = x;
    e.button.y = y;
    Push(e);
  }
  void Motion(uint32_t buttons, int x, int y) {
    SDL_Event e{};
    e.type = SDL_MOUSEMOTION;
    e.motion.windowID = Form->GetWindow()->WindowID();
    e.motion.state = buttons;
    e.motion.x = x;
    e.motion.y = y;
    Push(e);
  }
  void Wheel(int notches) {
    SDL_Event e{};
    e.type = SDL_MOUSEWHEEL;
    e.wheel.windowID = Form->GetWindow()->WindowID();
    e.wheel.y = notches;
    Push(e);
  }
  TQuorvelSmoothCameraController* Target = nullptr;
};

TEST_F(ControllerMouse, DragsAndTheWheelAddImpulses) {
  Tick();
  ASSERT_EQ(Target->GetViewport3D(), Viewport);
  // A left drag 10 to the right and 4 up.
  Motion(0, 20, 20);
  Button(true, SDL_BUTTON_LEFT, 20, 20);
  Motion(SDL_BUTTON_LMASK, 26, 18);
  Motion(SDL_BUTTON_LMASK, 30, 16);
  Button(false, SDL_BUTTON_LEFT, 30, 16);
  Motion(0, 40, 40);  // released: no impulse
  Application->ProcessMessages();
  EXPECT_EQ(Target->GetImpulse(), TPoint3D(10, 4, 0));

  // Right drags shift: on X and Z, or with Shift on X and Y.
  Button(true, SDL_BUTTON_RIGHT, 40, 40);
  Motion(SDL_BUTTON_RMASK, 43, 35);
  Application->ProcessMessages();
  SDL_SetModState(KMOD_LSHIFT);
  Motion(SDL_BUTTON_RMASK, 45, 36);
  Application->ProcessMessages();
  SDL_SetModState(KMOD_NONE);
  Button(false, SDL_BUTTON_RIGHT, 45, 36);
  Application->ProcessMessages();
  EXPECT_EQ(Target->GetShiftImpulse(), TPoint3D(3 + 2, 1, 5));

  // A wheel notch adds 18; with Shift 240, which the step holds at the limit of 50.
  Wheel(1);
  Application->ProcessMessages();
  EXPECT_FLOAT_EQ(Target->GetImpulse().Z, 18);
  Target->SetImpulse({0, 0, 0});
  SDL_SetModState(KMOD_LSHIFT);
  Wheel(1);
  Application->ProcessMessages();
  SDL_SetModState(KMOD_NONE);
  EXPECT_FLOAT_EQ(Target->GetImpulse().Z, 240);
  Time.AdvanceMs(33);
  Target->DoTimerStep(nullptr);
  EXPECT_NEAR(Target->GetImpulse().Z, 50 - Decrement(50, 1), 1e-4);
}

TEST_F(ControllerMouse, ReleasingGivesBackOnlyTheHandlersStillInPlace) {
  std::vector<std::string> calls;
  Viewport->SetUsingDesignCamera(false);
  ASSERT_EQ(Target->GetViewport3D(), nullptr);
  Viewport->OnMouseDown = [&](TObject*, TMouseButton, TShiftState, float, float) { calls.push_back("app down"); };
  Viewport->OnMouseMove = [&](TObject*, TShiftState, float, float) { calls.push_back("app move"); };
  Viewport->OnMouseWheel = [&](TObject*, TShiftState, int32_t, bool& handled) {
    calls.push_back(std::string("app wheel") + (handled ? " handled" : ""));
  };
  Viewport->SetUsingDesignCamera(true);
  ASSERT_EQ(Target->GetViewport3D(), Viewport);
  // Attached: the controller acts first, then the handlers the viewport had.
  bool handled = false;
  Viewport->MouseDown(mbLeft, {ssLeft}, 5, 5);
  Viewport->MouseMove({ssLeft}, 7, 5);
  Viewport->MouseWheel({}, 120, handled);
  EXPECT_EQ(calls, (std::vector<std::string>{"app down", "app move", "app wheel handled"}));
  EXPECT_EQ(Target->GetImpulse(), TPoint3D(2, 0, 18));
  // The application replaces OnMouseMove while attached; releasing leaves it there.
  Viewport->OnMouseMove = [&](TObject*, TShiftState, float, float) { calls.push_back("new move"); };
  Viewport->SetUsingDesignCamera(false);
  calls.clear();
  Viewport->MouseDown(mbLeft, {ssLeft}, 5, 5);
  Viewport->MouseMove({ssLeft}, 9, 5);
  Viewport->MouseWheel({}, 120, handled);
  EXPECT_EQ(calls, (std::vector<std::string>{"app down", "new move", "app wheel handled"}));
  EXPECT_EQ(Target->GetImpulse(), TPoint3D(2, 0, 18)) << "released: no more impulses";
  // Only viewports are taken.
  Target->SetViewport3D(Form.get());
  EXPECT_EQ(Target->GetViewport3D(), nullptr);
}

}  // namespace
}  // namespace quorvel

namespace quorvel {
namespace {

using ControllerGizmo = testkit::TViewportTest;

// At run time the gizmo (a white wire cube of an eighth of the size in a red one of a quarter)
// shows only with ShowController.
TEST_F(ControllerGizmo, DrawnAtRunTimeOnlyWithShowController) {
  auto* controller = New<TQuorvelSmoothCameraController>(Form.get());
  controller->SetParent(Viewport);
  controller->SetWidth(8);
  controller->SetHeight(8);
  controller->SetDepth(8);
  auto count = [&] {
    int red = 0, white = 0;
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x) {
        const TAlphaColor c = Probe(x, y);
        const int r = (uint32_t(c) >> 16) & 0xFF, g = (uint32_t(c) >> 8) & 0xFF, b = uint32_t(c) & 0xFF;
        if (r > 200 && g < 60) ++red;  // wire lines add to the blue behind them
        if (r > 200 && g > 200 && b > 200) ++white;
      }
    return std::pair{red, white};
  };
  Tick();
  EXPECT_EQ(count(), std::make_pair(0, 0));
  controller->SetShowController(true);
  Tick();
  const auto [red, white] = count();
  EXPECT_GT(red, 20);
  EXPECT_GT(white, 10);
}

}  // namespace
}  // namespace quorvel
