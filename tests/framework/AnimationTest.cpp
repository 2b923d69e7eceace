#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "framework/gui3d/Animation.h"

namespace quorvel {
namespace {

constexpr double Pi = std::numbers::pi;

TEST(AnimationEasing, EachCurveFollowsItsFormula) {
  using I = TInterpolationType;
  struct TCase {
    I Kind;
    double (*In)(double);
  } cases[] = {
      {I::Linear, [](double x) { return x; }},
      {I::Quadratic, [](double x) { return x * x; }},
      {I::Cubic, [](double x) { return x * x * x; }},
      {I::Quartic, [](double x) { return std::pow(x, 4); }},
      {I::Quintic, [](double x) { return std::pow(x, 5); }},
      {I::Sinusoidal, [](double x) { return -std::cos(x * Pi / 2) + 1; }},
      {I::Exponential, [](double x) { return x == 0 ? 0.0 : std::exp2(10 * x - 10); }},
      {I::Circular, [](double x) { return 1 - std::sqrt(1 - x * x); }},
      {I::Elastic,
       [](double x) {
         return x == 0 || x == 1 ? x : -std::exp2(10 * x - 10) * std::sin((x - 1.075) * 2 * Pi / 0.3);
       }},
      {I::Back, [](double x) { return x * x * (2.70158 * x - 1.70158); }},
      {I::Bounce,
       [](double x) {
         // 1 - the bounce-out of 1 - x, written out piece by piece.
         const double y = 1 - x;
         const double k = 7.5625;
         const double out = y < 1 / 2.75   ? k * y * y
                            : y < 2 / 2.75 ? k * std::pow(y - 1.5 / 2.75, 2) + 0.75
                            : y < 2.5 / 2.75 ? k * std::pow(y - 2.25 / 2.75, 2) + 0.9375
                                             : k * std::pow(y - 2.625 / 2.75, 2) + 0.984375;
         return 1 - out;
       }},
  };
  for (const TCase& c : cases) {
    for (double x : {0.0, 0.1, 0.25, 0.4, 0.5, 0.6, 0.75, 0.9, 1.0}) {
      const double d = 2.0;  // the curve runs over the duration
      EXPECT_NEAR(InterpolateValue(c.Kind, TAnimationType::In, x * d, d), c.In(x), 1e-9) << int(c.Kind) << " in " << x;
      EXPECT_NEAR(InterpolateValue(c.Kind, TAnimationType::Out, x * d, d), 1 - c.In(1 - x), 1e-9)
          << int(c.Kind) << " out " << x;
      const double inOut = x < 0.5 ? c.In(2 * x) / 2 : 1 - c.In(2 - 2 * x) / 2;
      EXPECT_NEAR(InterpolateValue(c.Kind, TAnimationType::InOut, x * d, d), inOut, 1e-9)
          << int(c.Kind) << " in-out " << x;
    }
    EXPECT_NEAR(InterpolateValue(c.Kind, TAnimationType::In, 0, 1), 0, 1e-9);
    EXPECT_NEAR(InterpolateValue(c.Kind, TAnimationType::Out, 1, 1), 1, 1e-9);
  }
}

struct TCounted : TAnimation {
  explicit TCounted(TComponent* AOwner) : TAnimation(AOwner) {}
  int FirstFrames = 0, Processes = 0;
  void FirstFrame() override { ++FirstFrames; }
  void ProcessAnimation() override { ++Processes; }
};

TEST(AnimationClock, ExplicitTicksLoopReverseAndDelayAsTabled) {
  struct TCase {
    const char* What;
    bool Loop, AutoReverse;
    float Delay;
    std::vector<float> Times;  // after each tick of 0.25 s, Duration 1
  } cases[] = {
      {"plain stops at the end", false, false, 0, {0.25f, 0.5f, 0.75f, 1, 1, 1}},
      {"loop restarts at 0", true, false, 0, {0.25f, 0.5f, 0.75f, 0, 0.25f, 0.5f}},
      {"auto-reverse once", false, true, 0, {0.25f, 0.5f, 0.75f, 1, 0.75f, 0.5f, 0.25f, 0, 0}},
      {"loop with auto-reverse", true, true, 0, {0.25f, 0.5f, 0.75f, 1, 0.75f, 0.5f, 0.25f, 0, 0.25f}},
  };
  for (const TCase& c : cases) {
    TOwned<TCounted> a(New<TCounted>(nullptr));
    a->Duration = 1;
    a->Loop = c.Loop;
    a->AutoReverse = c.AutoReverse;
    a->Delay = c.Delay;
    a->ResetClock();
    int finishes = 0;
    a->OnFinish = [&](TObject*) { ++finishes; };
    for (size_t i = 0; i < c.Times.size(); ++i) {
      a->ProcessExplicitTick(0.25f);
      EXPECT_NEAR(a->GetCurrentTime(), c.Times[i], 1e-6) << c.What << " tick " << i;
    }
    EXPECT_EQ(finishes, int(c.Times.size())) << c.What << ": OnFinish on every explicit tick";
    EXPECT_EQ(a->Processes, int(c.Times.size())) << c.What;
  }
}

TEST(AnimationClock, DelayHoldsTheClockThenStartsFromTheFirstFrame) {
  TOwned<TCounted> a(New<TCounted>(nullptr));
  a->Duration = 1;
  a->Delay = 0.5f;
  a->Start();
  EXPECT_EQ(a->FirstFrames, 0);
  EXPECT_EQ(a->NormalizedTime(), 0);
  a->ProcessExplicitTick(0.25f);
  EXPECT_EQ(a->GetDelayTime(), 0.25f);
  EXPECT_EQ(a->FirstFrames, 0);
  a->ProcessExplicitTick(0.25f);
  EXPECT_EQ(a->GetDelayTime(), 0);
  EXPECT_EQ(a->FirstFrames, 1);
  EXPECT_EQ(a->Processes, 1);
  EXPECT_EQ(a->GetCurrentTime(), 0);
  a->ProcessExplicitTick(0.25f);
  EXPECT_EQ(a->GetCurrentTime(), 0.25f);
  a->Stop();
}

TEST(AnimationThread, StepDrivesRunningAnimationsAndStopsThemAtTheEnd) {
  TAniThread& thread = TAniThread::Instance();
  thread.Step(100.0);  // the origin
  TOwned<TCounted> a(New<TCounted>(nullptr));
  a->Duration = 0.5f;
  int finishes = 0;
  a->OnFinish = [&](TObject*) { ++finishes; };
  a->SetEnabled(true);
  EXPECT_TRUE(a->GetRunning());
  EXPECT_TRUE(thread.Contains(a.get()));
  thread.Step(100.25);
  EXPECT_NEAR(a->GetCurrentTime(), 0.25f, 1e-5);
  EXPECT_NEAR(a->NormalizedTime(), 0.5f, 1e-5);
  a->Pause = true;
  thread.Step(100.5);
  EXPECT_NEAR(a->GetCurrentTime(), 0.25f, 1e-5);
  a->Pause = false;
  thread.Enabled = false;
  thread.Step(100.75);
  EXPECT_NEAR(a->GetCurrentTime(), 0.25f, 1e-5);
  thread.Enabled = true;
  thread.Step(101.0);
  EXPECT_FALSE(a->GetRunning());
  EXPECT_FALSE(thread.Contains(a.get()));
  EXPECT_EQ(finishes, 1);
  EXPECT_EQ(a->GetCurrentTime(), 0.5f);
  // Freed while running: the thread forgets it.
  a->Start();
  a.reset();
  thread.Step(101.5);
}

TEST(AnimationKeys, FindKeysPicksTheFirstPairAroundTheTime) {
  TKeys keys;
  TKey *k1, *k2;
  EXPECT_FALSE(keys.FindKeys(0, k1, k2));
  keys.Add(New<TKey>(0.0f));
  EXPECT_FALSE(keys.FindKeys(0, k1, k2));  // a single key
  keys.Add(New<TKey>(0.5f));
  keys.Add(New<TKey>(1.0f));
  struct {
    float T;
    float K1, K2;
  } cases[] = {{0, 0, 0.5f}, {0.25f, 0, 0.5f}, {0.5f, 0, 0.5f}, {0.75f, 0.5f, 1}, {1, 0.5f, 1}};
  for (auto c : cases) {
    ASSERT_TRUE(keys.FindKeys(c.T, k1, k2)) << c.T;
    EXPECT_EQ(k1->Key, c.K1) << c.T;
    EXPECT_EQ(k2->Key, c.K2) << c.T;
  }
  EXPECT_FALSE(keys.FindKeys(1.5f, k1, k2));
  EXPECT_FALSE(keys.FindKeys(-0.1f, k1, k2));
}

}  // namespace
}  // namespace quorvel
