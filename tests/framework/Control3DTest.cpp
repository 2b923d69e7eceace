// TControl3D: local and absolute matrices, the rotation rules, the stored quaternion and its
// stream text, tree and viewport wiring, picking hooks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <string>
#include <vector>

#include "framework/classes/Filer.h"
#include "framework/classes/FwObject.h"
#include "framework/gui3d/Camera.h"
#include "framework/gui3d/Context3D.h"
#include "framework/gui3d/Control3D.h"
#include "framework/gui3d/Dummy.h"
#include "framework/gui3d/Light.h"
#include "framework/rtl/Exceptions.h"
#include "tests/framework/Viewport3DDouble.h"
#include "tests/support/MathExpect.h"

using namespace quorvel;
using quorvel::testing3d::TC3dViewport;

namespace {

constexpr float kPi = std::numbers::pi_v<float>;

TQuaternion3D Turn(TPoint3D axis, float degrees) { return TQuaternion3D(axis, degrees * kPi / 180); }


std::vector<std::string> GJournal;

// Records the states the controls set.
class TC3dContext : public TContext3D {
  FW_CLASS_META(TC3dContext, TContext3D, TContextClass)

public:
  using TContext3D::TContext3D;

protected:
  void DoSetContextState(TContextState AState) override {
    GJournal.push_back("state " + std::to_string(static_cast<int>(AState)));
  }
};

struct TC3dContextClass : TContextClassOf<TC3dContext> {
  using TContextClassOf::TContextClassOf;
};

FW_CLASS_IMPL_META(TC3dContext, "Quorvel.Test.Controls3D", TC3dContextClass)
FW_CLASS_NO_MEMBERS(TC3dContext)

// Notes its Render and the context matrix it found there.
class TC3dShape : public TControl3D {
  FW_CLASS(TC3dShape, TControl3D)

public:
  explicit TC3dShape(TComponent* AOwner) : TControl3D(AOwner) {}
  void Render() override {
    GJournal.push_back("render " + GetName());
    Matrix = GetContext()->GetCurrentMatrix();
  }
  TMatrix3D Matrix;
};

FW_CLASS_IMPL(TC3dShape, "Quorvel.Test.Controls3D")
FW_CLASS_NO_MEMBERS(TC3dShape)

class Control3DTest : public ::testing::Test {
protected:
  void SetUp() override { RegisterClass(TC3dViewport::StaticClass()); }

  template <class T>
  T* Make(TFwObject* parent = nullptr) {
    T* c = New<T>(Root.get());
    if (parent) c->SetParent(parent);
    return c;
  }

  TOwned<TC3dViewport> Root{New<TC3dViewport>(nullptr)};
};

// --- matrices ---------------------------------------------------------------------------

TEST_F(Control3DTest, TurnedAboutYAndMovedUnderAMovedParentGivesHandComputedMatrices) {
  auto* parent = Make<TDummy>(Root.get());
  parent->GetPosition()->SetPoint({10, 0, 0});
  auto* c = Make<TDummy>(parent);
  c->GetRotationAngle()->SetY(90);
  c->GetPosition()->SetPoint({1, 2, 3});

  // +90 about Y turns +X to -Z and +Z to +X; then the move.
  const TMatrix3D local(0, 0, -1, 0,  //
                        0, 1, 0, 0,   //
                        1, 0, 0, 0,   //
                        1, 2, 3, 1);
  ExpectMatrixNear(c->GetLocalMatrix(), local);
  ExpectMatrixNear(c->GetAbsoluteMatrix(), TMatrix3D(0, 0, -1, 0, 0, 1, 0, 0, 1, 0, 0, 0, 11, 2, 3, 1));
  EXPECT_EQ(c->GetAbsolutePosition(), TVector3D(11, 2, 3, 1));
  ExpectPointNear(c->LocalToAbsolute({1, 0, 0}), {11, 2, 2});
  ExpectPointNear(c->AbsoluteToLocal({11, 2, 2}), {1, 0, 0});
  EXPECT_EQ(c->GetAbsoluteDirection(), TVector3D(1, 0, 0, 0));
  EXPECT_EQ(c->GetAbsoluteLeft(), TVector3D(0, 0, -1, 0));
  EXPECT_EQ(c->GetAbsoluteUp(), TVector3D(0, 1, 0, 0));
  // Directions ignore the translation.
  EXPECT_EQ(c->AbsoluteToLocalDirection({1, 0, 0, 1}), TVector3D(0, 0, 1, 0));
  EXPECT_EQ(c->AbsoluteToLocalVector({11, 2, 2, 1}), TVector3D(1, 0, 0, 1));
}

TEST_F(Control3DTest, MovingAnAncestorInvalidatesEveryDescendantsAbsoluteMatrix) {
  auto* a = Make<TDummy>(Root.get());
  auto* b = Make<TDummy>(a);
  auto* c = Make<TDummy>(b);
  c->GetPosition()->SetX(1);
  EXPECT_EQ(c->GetAbsolutePosition(), TVector3D(1, 0, 0, 1));  // cached now
  a->GetPosition()->SetY(5);
  b->GetScale()->SetPoint({2, 2, 2});
  EXPECT_EQ(c->GetAbsolutePosition(), TVector3D(2, 5, 0, 1));
  // Re-parenting too.
  c->SetParent(Root.get());
  EXPECT_EQ(c->GetAbsolutePosition(), TVector3D(1, 0, 0, 1));
}

TEST_F(Control3DTest, SetAbsolutePositionUnderATurnedScaledParentLandsWhereAsked) {
  auto* parent = Make<TDummy>(Root.get());
  parent->GetPosition()->SetPoint({3, -1, 2});
  parent->GetRotationAngle()->SetPoint({30, 45, 60});
  parent->GetScale()->SetPoint({2, 0.5f, 1});
  auto* c = Make<TLight>(parent);
  // W is divided out.
  c->SetAbsolutePosition({-8, 20, 4, 2});
  EXPECT_EQ(c->GetAbsolutePosition(), TVector3D(-4, 10, 2, 1));
  // Without a 3D parent the point is the position.
  auto* top = Make<TDummy>(Root.get());
  top->SetAbsolutePosition({1, 2, 3, 1});
  EXPECT_EQ(top->GetPosition()->GetPoint(), TPoint3D(1, 2, 3));
}

TEST_F(Control3DTest, NearIdentityPartsAreLeftOutOfTheLocalMatrix) {
  struct Case {
    const char* Name;
    TPoint3D Position, Scale, Angles, Center;
    TMatrix3D Expected;
  };
  const TMatrix3D I = TMatrix3D::Identity();
  const TMatrix3D rx90 = TMatrix3D::CreateRotationX(kPi / 2);
  const Case cases[] = {
      {"all near identity", {0.0009f, -0.001f, 0.0005f}, {1.00009f, 0.99991f, 1}, {0, 0, 0}, {}, I},
      {"position just over 0.001", {0.0011f, 0, 0}, {1, 1, 1}, {0, 0, 0}, {}, TMatrix3D::CreateTranslation({0.0011f, 0, 0})},
      {"scale just over 1e-4", {0, 0, 0}, {1, 1, 1.0002f}, {0, 0, 0}, {}, TMatrix3D::CreateScaling({1, 1, 1.0002f})},
      {"angles within 1e-4 reset the turn", {0, 0, 0}, {1, 1, 1}, {0.00005f, 0, 0}, {}, I},
      {"centre within 0.001 ignored", {0, 0, 0}, {1, 1, 1}, {90, 0, 0}, {0.001f, 0, 0}, rx90},
      {"turn about a centre", {0, 0, 0}, {1, 1, 1}, {90, 0, 0}, {0, 1, 0},
       TMatrix3D::CreateTranslation({0, -1, 0}) * rx90 * TMatrix3D::CreateTranslation({0, 1, 0})},
      {"scale, then turn, then move", {1, 2, 3}, {2, 2, 2}, {90, 0, 0}, {},
       TMatrix3D::CreateScaling({2, 2, 2}) * rx90 * TMatrix3D::CreateTranslation({1, 2, 3})},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.Name);
    auto* c = Make<TDummy>(Root.get());
    c->GetRotationCenter()->SetPoint(k.Center);
    c->GetRotationAngle()->SetPoint(k.Angles);
    c->GetScale()->SetPoint(k.Scale);
    c->GetPosition()->SetPoint(k.Position);
    ExpectMatrixNear(c->GetLocalMatrix(), k.Expected);
  }
}

// --- rotation rules ---------------------------------------------------------------------

TEST_F(Control3DTest, AnglesSetAxisByAxisAccumulateAboutTheControlsOwnTurnedAxes) {
  auto* xy = Make<TDummy>(Root.get());
  xy->GetRotationAngle()->SetX(90);
  xy->GetRotationAngle()->SetY(90);
  ExpectQuaternionNear(xy->GetQuaternion(), Turn({1, 0, 0}, 90) * Turn({0, 1, 0}, 90));
  // The Y turn happens about the control's Y axis as the X turn left it: first Y, then X in
  // the parent's frame.
  ExpectMatrixNear(xy->GetLocalMatrix(), TMatrix3D::CreateRotationY(kPi / 2) * TMatrix3D::CreateRotationX(kPi / 2));
  ExpectMatrixNear(xy->GetLocalMatrix(), TMatrix3D(0, 1, 0, 0, 0, 0, 1, 0, 1, 0, 0, 0, 0, 0, 0, 1));

  auto* yx = Make<TDummy>(Root.get());
  yx->GetRotationAngle()->SetY(90);
  yx->GetRotationAngle()->SetX(90);
  ExpectMatrixNear(yx->GetLocalMatrix(), TMatrix3D::CreateRotationX(kPi / 2) * TMatrix3D::CreateRotationY(kPi / 2));
  EXPECT_FALSE(xy->GetLocalMatrix() == yx->GetLocalMatrix());
}

TEST_F(Control3DTest, AnglesTurnByTheirNormalisedDeltaAndReadBackNormalised) {
  auto* c = Make<TDummy>(Root.get());
  TPosition3D* angle = c->GetRotationAngle();
  angle->SetX(370);
  EXPECT_FLOAT_EQ(angle->GetX(), 10);
  ExpectQuaternionNear(c->GetQuaternion(), Turn({1, 0, 0}, 10));
  EXPECT_FLOAT_EQ(c->GetSavedRotationAngle().X, 370);

  // A delta of a whole turn does nothing at all: the angle keeps the value as set.
  angle->SetX(730);
  EXPECT_FLOAT_EQ(angle->GetX(), 730);
  ExpectQuaternionNear(c->GetQuaternion(), Turn({1, 0, 0}, 10));

  // Negative angles wrap into [0, 360).
  angle->SetZ(-90);
  EXPECT_FLOAT_EQ(angle->GetZ(), 270);

  // Back to all zero: the accumulated turn is dropped.
  angle->SetPoint({0, 0, 0});
  EXPECT_EQ(c->GetQuaternion(), TQuaternion3D::Identity());
  EXPECT_EQ(c->GetSavedRotationAngle(), TPoint3D(0, 0, 0));
  ExpectMatrixNear(c->GetLocalMatrix(), TMatrix3D::Identity());
}

TEST_F(Control3DTest, SettingTheWholeAngleTurnsXThenYThenZAndNormalisesOnlyChangedAxes) {
  auto* c = Make<TDummy>(Root.get());
  c->GetRotationAngle()->SetPoint({90, 0, 370});
  ExpectQuaternionNear(c->GetQuaternion(), Turn({1, 0, 0}, 90) * Turn({0, 0, 1}, 10));
  EXPECT_EQ(c->GetRotationAngle()->GetPoint(), TPoint3D(90, 0, 10));
  EXPECT_EQ(c->GetSavedRotationAngle(), TPoint3D(90, 0, 370));
  // Y unchanged (delta 0) keeps its text as set.
  c->GetRotationAngle()->SetPoint({180, 720, 10});
  EXPECT_EQ(c->GetRotationAngle()->GetPoint(), TPoint3D(180, 720, 10));
  ExpectQuaternionNear(c->GetQuaternion(), Turn({1, 0, 0}, 90) * Turn({0, 0, 1}, 10) * Turn({1, 0, 0}, 90));
}

TEST_F(Control3DTest, NonFiniteAnglesTurnNothingAndLaterAnglesStillTurn) {
  auto* c = Make<TDummy>(Root.get());
  c->GetRotationAngle()->SetX(90);
  c->GetRotationAngle()->SetX(std::nanf(""));
  c->GetRotationAngle()->SetPoint({std::numeric_limits<float>::infinity(), 0, 0});
  ExpectQuaternionNear(c->GetQuaternion(), Turn({1, 0, 0}, 90));
  c->GetRotationAngle()->SetX(180);
  ExpectQuaternionNear(c->GetQuaternion(), Turn({1, 0, 0}, 180));
  for (int r = 0; r < 4; ++r)
    for (int k = 0; k < 4; ++k) EXPECT_TRUE(std::isfinite(c->GetLocalMatrix().Get(r, k)));
}

TEST_F(Control3DTest, ResetRotationAngleLeavesScaleAndMoveOnly) {
  auto* c = Make<TDummy>(Root.get());
  c->GetScale()->SetPoint({2, 3, 4});
  c->GetPosition()->SetPoint({1, 1, 1});
  c->GetRotationAngle()->SetPoint({10, 20, 30});
  c->ResetRotationAngle();
  EXPECT_EQ(c->GetRotationAngle()->GetPoint(), TPoint3D(0, 0, 0));
  ExpectMatrixNear(c->GetLocalMatrix(), TMatrix3D::CreateScaling({2, 3, 4}) * TMatrix3D::CreateTranslation({1, 1, 1}));
  // A new angle turns from nothing.
  c->GetRotationAngle()->SetY(90);
  ExpectQuaternionNear(c->GetQuaternion(), Turn({0, 1, 0}, 90));
}

// --- the stored quaternion --------------------------------------------------------------

TEST_F(Control3DTest, DemoFormRotationsGiveTheStoredQuaternionTexts) {
  struct Case {
    float X, Y;
    const char* Text;
  };
  const Case cases[] = {
      {270, 0, "(0.70710676908493,0,0,-0.70710676908493)"},
      {0, 180, "(0,1,0,-4.37113882867379E-8)"},
  };
  for (const Case& k : cases) {
    auto* c = Make<TLight>(Root.get());
    c->GetRotationAngle()->SetX(k.X);
    c->GetRotationAngle()->SetY(k.Y);
    EXPECT_EQ(QuaternionToText(c->GetQuaternion()), k.Text);
    EXPECT_EQ(TextToQuaternion(k.Text), c->GetQuaternion());
  }
  // The spot lights point down the +Y axis (towards the floor of the demo).
  auto* spot = Make<TLight>(Root.get());
  spot->GetRotationAngle()->SetX(270);
  EXPECT_EQ(spot->GetAbsoluteDirection(), TVector3D(0, 1, 0, 0));
}

TEST_F(Control3DTest, QuaternionTextRejectsAnythingButFourFiniteNumbers) {
  const char* bad[] = {"", "()", "(1,2,3)", "(1,2,3,4,5)", "1,2,3,4", "(a,0,0,1)", "(NAN,0,0,1)",
                       "(INF,0,0,1)", "(1E40,0,0,1)", "(1,,0,1)", "(0,0,0,1"};
  for (const char* text : bad) EXPECT_THROW(TextToQuaternion(text), EConvertError) << text;
  EXPECT_EQ(TextToQuaternion(" ( 0 , 0 , 0 , 0 ) "), TQuaternion3D::Identity());
  const TQuaternion3D q = TextToQuaternion("(0.707106709480286,0,0,-0.707106828689575)");
  EXPECT_EQ(q.ImagPart.X, 0.707106709480286f);
  EXPECT_EQ(q.RealPart, -0.707106828689575f);
}

TEST_F(Control3DTest, FormReaderSetsPathsAndTheStoredQuaternionAfterTheAngle) {
  // The plane's stored quaternion differs from the one the angle gives: the stored one wins.
  const char* form = R"(object Root1: TC3dViewport
  object Light1: TLight
    LightType = Spot
    Color = claTomato
    SpotCutOff = 60.000000000000000000
    Position.X = -5.000000000000000000
    Position.Y = -10.000000000000000000
    RotationAngle.X = 270.000000000000000000
    Width = 2.000000000000000000
    Quanternion = '(0.707106709480286,0,0,-0.707106828689575)'
  end
  object Dummy1: TDummy
    object Camera1: TCamera
      AngleOfView = 45.000000000000000000
      Target = Dummy1
      Position.Y = -5.000000000000000000
      Position.Z = -10.000000000000000000
    end
  end
end
)";
  ReadComponentResource(Root.get(), form);
  auto* light = Root->FindComponent("Light1")->As<TLight>();
  auto* camera = Root->FindComponent("Camera1")->As<TCamera>();
  EXPECT_EQ(light->GetLightType(), TLightType::Spot);
  EXPECT_EQ(light->GetColor(), claTomato);
  EXPECT_EQ(light->GetSpotCutOff(), 60.0f);
  EXPECT_EQ(light->GetWidth(), 2.0f);
  EXPECT_EQ(light->GetRotationAngle()->GetX(), 270.0f);
  EXPECT_EQ(light->GetQuaternion().ImagPart.X, 0.707106709480286f);
  EXPECT_EQ(light->GetQuaternion().RealPart, -0.707106828689575f);
  EXPECT_EQ(light->GetAbsolutePosition(), TVector3D(-5, -10, 0, 1));
  EXPECT_EQ(camera->GetTarget(), Root->FindComponent("Dummy1"));
  EXPECT_EQ(camera->GetPosition()->GetPoint(), TPoint3D(0, -5, -10));
  // The light joined the viewport it was read into.
  EXPECT_EQ(Root->Lights, std::vector<TLight*>{light});

  // Written back: the quaternion goes next to the angle, and reads back the same.
  const std::string text = TWriter(Root.get()).WriteRootComponent();
  EXPECT_NE(text.find("Quanternion = '(0.707106709480286,0,0,-0.707106828689575)'"), std::string::npos) << text;
}

// --- tree, viewport, flags --------------------------------------------------------------

TEST_F(Control3DTest, ViewportReachesDescendantsAndLeavesWithTheSubtree) {
  auto* group = Make<TDummy>();
  auto* child = Make<TDummy>(group);
  auto* light = Make<TLight>(child);
  EXPECT_EQ(light->GetViewport(), nullptr);
  group->SetParent(Root.get());
  EXPECT_EQ(child->GetViewport(), Root.get());
  EXPECT_EQ(light->GetViewport(), Root.get());
  EXPECT_EQ(Root->Lights, std::vector<TLight*>{light});
  group->SetParent(nullptr);
  EXPECT_EQ(light->GetViewport(), nullptr);
  EXPECT_TRUE(Root->Lights.empty());
  Free(group);
}

TEST_F(Control3DTest, FreedLightsLeaveTheViewportsList) {
  auto* a = Make<TLight>(Root.get());
  auto* group = Make<TDummy>(Root.get());
  auto* b = Make<TLight>(group);
  auto* c = Make<TLight>(Root.get());
  EXPECT_EQ(Root->Lights, (std::vector<TLight*>{a, b, c}));
  Free(a);
  EXPECT_EQ(Root->Lights, (std::vector<TLight*>{b, c}));
  Free(group);  // frees b with it
  EXPECT_EQ(Root->Lights, std::vector<TLight*>{c});
  // Moving a light between parents of one viewport keeps one entry.
  auto* other = Make<TDummy>(Root.get());
  c->SetParent(other);
  EXPECT_EQ(Root->Lights, std::vector<TLight*>{c});
}

TEST_F(Control3DTest, ChangesAskTheViewportForARedrawExceptWhileUpdating) {
  auto* c = Make<TDummy>(Root.get());
  const int before = Root->Redraws;
  c->GetPosition()->SetX(1);
  c->SetWidth(3);
  EXPECT_EQ(Root->Redraws, before + 2);
  c->BeginUpdate();
  c->SetOpacity(0.5f);
  c->GetRotationAngle()->SetZ(10);
  EXPECT_EQ(Root->Redraws, before + 2);
  c->EndUpdate();
  EXPECT_EQ(Root->Redraws, before + 3);
}

TEST_F(Control3DTest, OpacityIsClampedAndMultipliesDownTheTree) {
  auto* parent = Make<TDummy>(Root.get());
  auto* child = Make<TDummy>(parent);
  parent->SetOpacity(0.5f);
  child->SetOpacity(2);
  EXPECT_EQ(child->GetOpacity(), 1.0f);
  EXPECT_EQ(child->GetAbsoluteOpacity(), 0.5f);
  child->SetOpacity(-1);
  EXPECT_EQ(child->GetOpacity(), 0.0f);
  child->SetOpacity(std::nanf(""));
  EXPECT_EQ(child->GetOpacity(), 1.0f);
}

TEST_F(Control3DTest, RenderingListHoldsOpaqueChildrenFirstAndForgetsRemovedOnes) {
  auto* parent = Make<TDummy>(Root.get());
  auto* a = Make<TDummy>(parent);
  auto* b = Make<TDummy>(parent);
  auto* c = Make<TDummy>(parent);
  b->SetOpaque(true);
  EXPECT_EQ(parent->GetRenderingList(), (std::vector<TControl3D*>{b, a, c}));
  Free(b);
  EXPECT_EQ(parent->GetRenderingList(), (std::vector<TControl3D*>{a, c}));
  parent->ClearRenderingList();
  EXPECT_TRUE(parent->GetRenderingList().empty());
}

TEST_F(Control3DTest, PublishedPropertiesAreReachableByPath) {
  auto* c = Make<TDummy>(Root.get());
  SetPropValue(c, "Height", TValue::From(2.5));
  SetPropValue(c, "Projection", TValue::From(TProjection::Screen));
  SetPropValue(GetPropValue(c, "Scale").AsObject(), "Y", TValue::From(4.0f));
  EXPECT_EQ(c->GetHeight(), 2.5f);
  EXPECT_EQ(c->GetProjection(), TProjection::Screen);
  EXPECT_EQ(c->GetScale()->GetY(), 4.0f);
  ExpectMatrixNear(c->GetLocalMatrix(), TMatrix3D::CreateScaling({1, 4, 1}));
  EXPECT_NE(GetClass("TCamera"), nullptr);
  EXPECT_NE(GetClass("TProxyObject"), nullptr);
}

// --- rendering and picking through a context -------------------------------------------

class Control3DContextTest : public Control3DTest {
protected:
  void SetUp() override {
    Control3DTest::SetUp();
    GJournal.clear();
    TContext3D::ResetCurrentStates();
    Texture->SetSize(64, 32);
    Context.reset(TC3dContext::StaticMeta()->CreateFromTexture(Texture.get(), TMultisample::None, true));
    Root->Context = Context.get();
  }
  void TearDown() override { TContext3D::ResetCurrentStates(); }

  TOwned<TTexture> Texture{New<TTexture>()};
  TOwned<TContext3D> Context;
};

TEST_F(Control3DContextTest, RenderInternalSetsMatrixAndStatesThenRendersOnRenderAndVisibleChildren) {
  auto* parent = Make<TC3dShape>(Root.get());
  parent->SetName("Parent");
  parent->GetPosition()->SetX(5);
  parent->SetTwoSide(true);
  parent->SetZWrite(false);
  parent->SetOnRender(TRenderEvent([](TObject* sender, TContext3D* ctx) {
    GJournal.push_back("onrender " + static_cast<TComponent*>(sender)->GetName() + (ctx ? " ctx" : ""));
  }));
  auto* a = Make<TC3dShape>(parent);
  a->SetName("A");
  a->GetPosition()->SetY(1);
  auto* hidden = Make<TC3dShape>(parent);
  hidden->SetName("Hidden");
  hidden->SetVisible(false);
  auto* b = Make<TC3dShape>(parent);
  b->SetName("B");
  b->SetOpaque(true);

  parent->RenderInternal();
  const std::string allFace = "state " + std::to_string(int(TContextState::csAllFace));
  const std::string frontFace = "state " + std::to_string(int(TContextState::csFrontFace));
  const std::string zOff = "state " + std::to_string(int(TContextState::csZWriteOff));
  const std::string zOn = "state " + std::to_string(int(TContextState::csZWriteOn));
  // Opaque children first; a state already current is not sent again.
  EXPECT_EQ(GJournal, (std::vector<std::string>{allFace, zOff, "render Parent", "onrender Parent ctx", frontFace, zOn,
                                                 "render B", "render A"}));
  ExpectMatrixNear(parent->Matrix, TMatrix3D::CreateTranslation({5, 0, 0}));
  ExpectMatrixNear(a->Matrix, TMatrix3D::CreateTranslation({5, 1, 0}));
}

TEST_F(Control3DContextTest, ObjectAtPointPicksTheNearestHitOfTheProjectionBeingPicked) {
  auto* camera = Make<TCamera>(Root.get());
  Root->Camera = camera;
  Context->SetCameraMatrix(camera->GetCameraMatrix());
  auto* near = Make<TDummy>(Root.get());
  auto* far = Make<TDummy>(Root.get());
  far->GetPosition()->SetZ(2);
  auto* off = Make<TDummy>(Root.get());
  off->GetPosition()->SetX(30);
  auto* screen = Make<TDummy>(Root.get());
  screen->SetProjection(TProjection::Screen);

  const TPointF centre(32, 16);
  TControl3D::SetGlobalProjection(TProjection::Camera);
  TControl3D::SetGlobalDistance(65535);
  // Every control is asked; the nearest hit stays.
  IControl* result = nullptr;
  for (TControl3D* c : {far, near, off, screen})
    if (IControl* hit = c->ObjectAtPoint(centre)) result = hit;
  EXPECT_EQ(result, near);
  EXPECT_NEAR(TControl3D::GetGlobalDistance(), 4.5f, 1e-4f);  // front face at z = -0.5
  // Not hit-testable, or not of the projection being picked: skipped.
  near->SetHitTest(false);
  TControl3D::SetGlobalDistance(65535);
  EXPECT_EQ(near->ObjectAtPoint(centre), nullptr);
  EXPECT_EQ(far->ObjectAtPoint(centre), far);
  EXPECT_EQ(screen->ObjectAtPoint(centre), nullptr);
  EXPECT_EQ(off->ObjectAtPoint(centre), nullptr);
  // A child answers for its parent.
  near->SetHitTest(true);
  auto* child = Make<TDummy>(off);
  child->GetPosition()->SetX(-30);
  TControl3D::SetGlobalDistance(65535);
  EXPECT_EQ(off->ObjectAtPoint(centre), child);
}

TEST_F(Control3DContextTest, MouseEventsCarryThePickRayThroughThePoint) {
  auto* camera = Make<TCamera>(Root.get());
  Context->SetCameraMatrix(camera->GetCameraMatrix());
  auto* c = Make<TDummy>(Root.get());
  TVector3D pos, dir;
  std::vector<std::string> calls;
  c->OnMouseDown = [&](TObject* sender, TMouseButton button, TShiftState shift, float x, float y, TVector3D p,
                       TVector3D d) {
    calls.push_back("down");
    EXPECT_EQ(sender, c);
    EXPECT_EQ(button, mbLeft);
    EXPECT_TRUE(shift.Contains(ssShift));
    EXPECT_EQ(x, 32.0f);
    EXPECT_EQ(y, 16.0f);
    pos = p;
    dir = d;
  };
  c->OnMouseUp = [&](TObject*, TMouseButton, TShiftState, float, float, TVector3D, TVector3D) { calls.push_back("up"); };
  c->OnMouseMove = [&](TObject*, TShiftState, float, float, TVector3D, TVector3D) { calls.push_back("move"); };
  c->MouseDown(mbLeft, {ssShift}, 32, 16);
  c->MouseMove({}, 32, 16);
  c->MouseUp(mbLeft, {}, 32, 16);
  EXPECT_EQ(calls, (std::vector<std::string>{"down", "move", "up"}));
  EXPECT_EQ(pos, TVector3D(0, 0, -5, 1));
  EXPECT_EQ(dir, TVector3D(0, 0, 1, 0));
  // Without a context there is no ray and no event.
  Root->Context = nullptr;
  c->MouseDown(mbLeft, {}, 32, 16);
  EXPECT_EQ(calls.size(), 3u);
}

// --- ray casts and bounds ---------------------------------------------------------------

TEST_F(Control3DTest, DefaultRayCastHitsTheSizeBoxAndAnswersInAbsoluteSpace) {
  auto* c = Make<TDummy>(Root.get());
  c->SetWidth(2);
  c->SetHeight(4);
  c->SetDepth(6);
  c->GetPosition()->SetPoint({10, 0, 0});
  struct Case {
    TPoint3D Pos, Dir;
    bool Hit;
    TPoint3D Expected;  // absolute
  };
  const Case cases[] = {
      {{0, 0, -10}, {0, 0, 1}, true, {10, 0, -3}},
      {{0.5f, 1, -10}, {0, 0, 2}, true, {10.5f, 1, -3}},
      {{0, 0, 0}, {1, 0, 0}, true, {11, 0, 0}},      // from inside: the exit face
      {{0, 0, -10}, {0, 0, -1}, false, {}},          // box behind the ray
      {{5, 0, -10}, {0, 0, 1}, false, {}},           // passes beside it
      {{0, 0, -10}, {0, 0, 0}, false, {}},           // no direction
  };
  for (const Case& k : cases) {
    TPoint3D hit(-1, -1, -1);
    EXPECT_EQ(c->RayCastIntersect(k.Pos, k.Dir, hit), k.Hit);
    if (k.Hit) ExpectPointNear(hit, k.Expected);
  }
  const TBoundingBox box = c->GetGlobalBounds();
  EXPECT_EQ(box, TBoundingBox(9, -2, -3, 11, 2, 3));
}

TEST_F(Control3DTest, ProxyHitsItsSourceInItsOwnPlaceAndForgetsAFreedSource) {
  auto* source = Make<TDummy>(Root.get());
  source->SetWidth(2);
  auto* proxy = Make<TProxyObject>(Root.get());
  proxy->GetPosition()->SetPoint({0, 0, 100});
  proxy->SetSourceObject(source);
  TPoint3D hit;
  ASSERT_TRUE(proxy->RayCastIntersect({-5, 0, 0}, {1, 0, 0}, hit));
  ExpectPointNear(hit, {-1, 0, 100});
  // The source keeps its own place.
  EXPECT_EQ(source->GetAbsolutePosition(), TVector3D(0, 0, 0, 1));
  proxy->SetSourceObject(proxy);
  EXPECT_EQ(proxy->GetSourceObject(), nullptr);
  proxy->SetSourceObject(source);
  Free(source);
  EXPECT_EQ(proxy->GetSourceObject(), nullptr);
  EXPECT_FALSE(proxy->RayCastIntersect({-5, 0, 0}, {1, 0, 0}, hit));
}

}  // namespace
