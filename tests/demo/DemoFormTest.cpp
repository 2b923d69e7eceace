// The demo's form built from its compiled resource "TFORM1": every component and property
// value, the handlers bound by name, and the light paths and model turn of the timer's ticks
// (injected clock advanced by 16 ms, one message pass).
//
// Components whose classes are not part of the engine yet are read as plain 3D dummies with
// their placement only (the tick handler turns the model through that), and listed.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "demo/Unit1.h"
#include "framework/classes/FormText.h"
#include "framework/gui/Application.h"
#include "framework/rtl/Stopwatch.h"
#include "lib/context/windows/ContextGLESWindows.h"
#include "lib/passes/Renderer.h"

namespace quorvel {
namespace {

// The resource text with every object of an unregistered class replaced by a TDummy that
// keeps only its placement (objects inside it are dropped). AMissing receives the classes.
std::string WithStandIns(const std::string& AText, std::vector<std::string>& AMissing) {
  std::istringstream in(AText);
  std::string line, out;
  size_t skipIndent = std::string::npos;  // inside a replaced object: its indentation
  bool dropNested = false;
  size_t nestedIndent = 0;
  while (std::getline(in, line)) {
    const size_t indent = line.find_first_not_of(' ');
    const std::string body = indent == std::string::npos ? "" : line.substr(indent);
    if (dropNested) {
      if (indent == nestedIndent && body == "end") dropNested = false;
      continue;
    }
    if (skipIndent != std::string::npos) {
      if (indent == skipIndent && body == "end") {
        skipIndent = std::string::npos;
        out += line + "\n";
        continue;
      }
      if (body.rfind("object ", 0) == 0) {
        dropNested = true;
        nestedIndent = indent;
        continue;
      }
      for (const char* keep : {"Position.", "RotationAngle.", "Width =", "Height =", "Depth =", "Quanternion ="})
        if (body.rfind(keep, 0) == 0) out += line + "\n";
      continue;
    }
    if (body.rfind("object ", 0) == 0) {
      const std::string cls = body.substr(body.find(':') + 2);
      if (!GetClass(cls)) {
        AMissing.push_back(cls);
        skipIndent = indent;
        out += line.substr(0, line.find(':') + 1) + " TDummy\n";
        continue;
      }
    }
    out += line + "\n";
  }
  return out;
}

class DemoFormTest : public ::testing::Test {
protected:
  void SetUp() override {
    TCustomContextWindows::SetWindowHandle(nullptr);
    TCustomContextWindows::CreateSharedContext();
    Scoped = std::make_unique<TScopedClock>(Time);
    const std::string* text = FindFormResource("TFORM1");
    ASSERT_NE(text, nullptr);
    Text = WithStandIns(*text, Missing);
    // Read as the form's creation reads it, without OnCreate (the model load needs the model
    // component).
    Form.reset(new TForm1(nullptr));
    ReadComponentResource(Form.get(), Text);
  }
  void TearDown() override {
    Form.reset();
    Scoped.reset();
  }
  // One tick of Timer1 as the running program gets it.
  void Tick() {
    Time.AdvanceMs(16);
    Application->ProcessMessages();
  }

  TManualClock Time;
  std::unique_ptr<TScopedClock> Scoped;
  std::string Text;
  std::vector<std::string> Missing;
  TOwned<TForm1> Form;
};

std::string NameOf(const TComponent* C) { return C ? C->GetName() : "nil"; }

TEST_F(DemoFormTest, TheResourceIsCompiledInAndNamesTheClassesItNeeds) {
  const std::string text = *FindFormResource("TFORM1");
  EXPECT_EQ(text.rfind("object Form1: TForm1\n", 0), 0u);
  for (const char* cls : {"TQuorvelViewport", "TQuorvelLight", "TDummy", "TQuorvelCamera", "TQuorvelPlane",
                          "TQuorvelBlinnMaterialSource", "TQuorvelModel", "TTimer"})
    EXPECT_NE(text.find(std::string(": ") + cls + "\n"), std::string::npos) << cls;
  // What the engine does not build yet (read as stand-ins below).
  for (const std::string& cls : Missing) std::cout << "[ waiting  ] " << cls << " is not registered yet\n";
}

TEST_F(DemoFormTest, EveryComponentWithItsClassParentAndOwner) {
  struct TRow {
    const char* Name;
    const char* Class;
    const char* Parent;
  };
  const TRow rows[] = {
      {"QuorvelViewport1", "TQuorvelViewport", "Form1"},
      {"QuorvelLight1", "TQuorvelLight", "QuorvelViewport1"},
      {"QuorvelLight2", "TQuorvelLight", "QuorvelViewport1"},
      {"QuorvelLight3", "TQuorvelLight", "QuorvelViewport1"},
      {"Dummy1", "TDummy", "QuorvelViewport1"},
      {"QuorvelCamera1", "TQuorvelCamera", "Dummy1"},
      {"QuorvelPlane1", "TQuorvelPlane", "QuorvelViewport1"},
      {"QuorvelBlinnMaterialSource1", "TQuorvelBlinnMaterialSource", "QuorvelPlane1"},
      {"QuorvelModel1", "TQuorvelModel", "QuorvelViewport1"},
      {"Timer1", "TTimer", "Form1"},
  };
  EXPECT_EQ(Form->GetName(), "Form1");
  EXPECT_EQ(Form->ClassName(), "TForm1");
  for (const TRow& r : rows) {
    const bool built = GetClass(r.Class) != nullptr;
    auto* c = dynamic_cast<TFwObject*>(Form->FindComponent(r.Name));
    if (!built && std::string(r.Parent) != "QuorvelViewport1") {
      EXPECT_EQ(c, nullptr) << r.Name << " (inside a stand-in)";
      continue;
    }
    ASSERT_NE(c, nullptr) << r.Name;
    EXPECT_EQ(c->ClassName(), built ? r.Class : "TDummy") << r.Name;
    EXPECT_EQ(c->Owner(), Form.get()) << r.Name;
    EXPECT_EQ(NameOf(c->GetParent()), r.Parent) << r.Name;
  }
  // The published fields point at the components of their names.
  EXPECT_EQ(Form->QuorvelViewport1, Form->FindComponent("QuorvelViewport1"));
  EXPECT_EQ(Form->QuorvelLight1, Form->FindComponent("QuorvelLight1"));
  EXPECT_EQ(Form->QuorvelLight2, Form->FindComponent("QuorvelLight2"));
  EXPECT_EQ(Form->QuorvelLight3, Form->FindComponent("QuorvelLight3"));
  EXPECT_EQ(Form->QuorvelCamera1, Form->FindComponent("QuorvelCamera1"));
  EXPECT_EQ(Form->Dummy1, Form->FindComponent("Dummy1"));
  EXPECT_EQ(Form->QuorvelPlane1, Form->FindComponent("QuorvelPlane1"));
  EXPECT_EQ(Form->QuorvelModel1, Form->FindComponent("QuorvelModel1"));
  EXPECT_EQ(Form->Timer1, Form->FindComponent("Timer1"));
}

TEST_F(DemoFormTest, FormViewportAndTimerProperties) {
  EXPECT_EQ(Form->GetLeft(), 0);
  EXPECT_EQ(Form->GetTop(), 0);
  EXPECT_EQ(Form->GetCaption(), "Form1");
  EXPECT_EQ(Form->GetClientWidth(), 640);
  EXPECT_EQ(Form->GetClientHeight(), 480);
  EXPECT_EQ(Form->GetFormFactor()->Width, 320);
  EXPECT_EQ(Form->GetFormFactor()->Height, 480);
  EXPECT_EQ(Form->GetFormFactor()->Devices, TDeviceKinds{Desktop});
  EXPECT_EQ(Form->GetDesignerMasterStyle(), 0);
  EXPECT_TRUE(bool(Form->GetOnCreate()));

  TQuorvelViewport* v = Form->QuorvelViewport1;
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(v->GetRendererType(), TRendererType::ForwardRenderer);
  EXPECT_FALSE(v->GetManualRendering());
  EXPECT_TRUE(v->GetUseFixedFrameRate());
  EXPECT_EQ(v->GetFixedFrameRate(), 60);
  EXPECT_TRUE(v->GetFrustumCulling());
  EXPECT_FALSE(v->GetHighRes());
  EXPECT_FALSE(v->GetVSync());
  EXPECT_EQ(v->GetNearPlane(), 0.1f);
  EXPECT_EQ(v->GetFarPlane(), 10000.0f);
  EXPECT_FALSE(v->GetFog());
  EXPECT_EQ(v->GetFogDensity(), 0.001f);
  EXPECT_EQ(v->GetFogStart(), 100.0f);
  EXPECT_EQ(v->GetFogEnd(), 500.0f);
  EXPECT_EQ(v->GetFogColor(), claBlack);
  EXPECT_EQ(v->GetSaturationValue(1), 1.5f);
  EXPECT_EQ(v->GetEmissiveBlur(), 0);
  EXPECT_EQ(v->GetGlobalIllumDetail(), 0);
  EXPECT_EQ(v->GetGlobalIllumSoftness(), 1.0f);
  EXPECT_EQ(v->GetShadowStrength(), 0.4f);
  EXPECT_EQ(v->GetFXAA(), 1);
  EXPECT_FALSE(v->GetDiagnosticsActive());
  EXPECT_EQ(v->GetAlign(), TAlignLayout::Client);
  EXPECT_EQ(v->GetCamera(), Form->QuorvelCamera1);
  EXPECT_EQ(v->GetColor(), claBlack);
  EXPECT_EQ(v->GetMultisample(), TMultisample::TwoSamples);
  EXPECT_EQ(v->GetSize()->GetWidth(), 640.0f);
  EXPECT_EQ(v->GetSize()->GetHeight(), 480.0f);
  EXPECT_FALSE(v->GetSize()->GetPlatformDefault());
  EXPECT_FALSE(v->IsUsingDesignCamera());

  ASSERT_NE(Form->Timer1, nullptr);
  EXPECT_EQ(Form->Timer1->GetInterval(), 16u);
  EXPECT_TRUE(Form->Timer1->GetEnabled());
  EXPECT_TRUE(bool(Form->Timer1->GetOnTimer()));
}

void ExpectQuaternion(const TControl3D* AControl, const TQuaternion3D& AWant) {
  const TQuaternion3D& q = AControl->GetQuaternion();
  EXPECT_NEAR(q.ImagPart.X, AWant.ImagPart.X, 1e-6) << AControl->GetName();
  EXPECT_NEAR(q.ImagPart.Y, AWant.ImagPart.Y, 1e-6) << AControl->GetName();
  EXPECT_NEAR(q.ImagPart.Z, AWant.ImagPart.Z, 1e-6) << AControl->GetName();
  EXPECT_NEAR(q.RealPart, AWant.RealPart, 1e-6) << AControl->GetName();
}

TEST_F(DemoFormTest, LightsDummyCameraAndPlacements) {
  struct TLightRow {
    TQuorvelLight* Light;
    TAlphaColor Color;
    float X;
  };
  const TLightRow lights[] = {{Form->QuorvelLight1, claTomato, -5},
                              {Form->QuorvelLight2, claLimegreen, 5},
                              {Form->QuorvelLight3, claSlateblue, 0}};
  EXPECT_EQ(uint32_t(claTomato), 0xFFFF6347u);
  EXPECT_EQ(uint32_t(claLimegreen), 0xFF32CD32u);
  EXPECT_EQ(uint32_t(claSlateblue), 0xFF6A5ACDu);
  for (const TLightRow& r : lights) {
    ASSERT_NE(r.Light, nullptr);
    const std::string n = r.Light->GetName();
    EXPECT_EQ(r.Light->GetColor(), r.Color) << n;
    EXPECT_EQ(r.Light->GetLightType(), TLightType::Spot) << n;
    EXPECT_EQ(r.Light->GetSpotCutOff(), 60.0f) << n;
    EXPECT_EQ(r.Light->GetSpotExponent(), 10.0f) << n;
    EXPECT_EQ(r.Light->GetPosition()->GetX(), r.X) << n;
    EXPECT_EQ(r.Light->GetPosition()->GetY(), -10.0f) << n;
    EXPECT_EQ(r.Light->GetPosition()->GetZ(), 0.0f) << n;
    EXPECT_EQ(r.Light->GetRotationAngle()->GetX(), 270.0f) << n;
    EXPECT_EQ(r.Light->GetWidth(), 1.0f) << n;
    EXPECT_EQ(r.Light->GetHeight(), 1.0f) << n;
    EXPECT_EQ(r.Light->GetDepth(), 1.0f) << n;
    EXPECT_EQ(r.Light->GetIntensity(), 1.0f) << n;
    EXPECT_EQ(r.Light->GetConstantAttenuation(), 1.0f) << n;
    EXPECT_EQ(r.Light->GetScatteringIntensity(), 0.1f) << n;
    EXPECT_EQ(r.Light->GetScatteringExposure(), 0.0034f) << n;
    EXPECT_EQ(r.Light->GetScatteringDecay(), 1.0f) << n;
    EXPECT_EQ(r.Light->GetScatteringDensity(), 0.84f) << n;
    ExpectQuaternion(r.Light, TQuaternion3D(0.70710676908493f, 0, 0, -0.70710676908493f));
  }
  // Three lights in the viewport's list, in form order.
  ASSERT_EQ(Form->QuorvelViewport1->GetLights().size(), 3u);
  EXPECT_EQ(Form->QuorvelViewport1->GetLights()[0], Form->QuorvelLight1);
  EXPECT_EQ(Form->QuorvelViewport1->GetLights()[2], Form->QuorvelLight3);

  ASSERT_NE(Form->Dummy1, nullptr);
  EXPECT_EQ(Form->Dummy1->GetWidth(), 1.0f);
  EXPECT_EQ(Form->Dummy1->GetDepth(), 1.0f);
  TQuorvelCamera* cam = Form->QuorvelCamera1;
  ASSERT_NE(cam, nullptr);
  EXPECT_EQ(cam->GetAngleOfView(), 45.0f);
  EXPECT_EQ(cam->GetFOV(), 45.0f);
  EXPECT_EQ(cam->GetTarget(), Form->Dummy1);
  EXPECT_EQ(cam->GetPosition()->GetX(), 0.0f);
  EXPECT_EQ(cam->GetPosition()->GetY(), -5.0f);
  EXPECT_EQ(cam->GetPosition()->GetZ(), -10.0f);
  EXPECT_EQ(cam->GetWidth(), 1.0f);

  // The plane and the model: their placement (the rest with their classes).
  ASSERT_NE(Form->QuorvelPlane1, nullptr);
  EXPECT_EQ(Form->QuorvelPlane1->GetRotationAngle()->GetX(), 270.0f);
  EXPECT_EQ(Form->QuorvelPlane1->GetWidth(), 100.0f);
  EXPECT_EQ(Form->QuorvelPlane1->GetHeight(), 100.0f);
  ExpectQuaternion(Form->QuorvelPlane1, TQuaternion3D(0.707106709480286f, 0, 0, -0.707106828689575f));
  ASSERT_NE(Form->QuorvelModel1, nullptr);
  EXPECT_EQ(Form->QuorvelModel1->GetPosition()->GetY(), -1.0f);
  EXPECT_EQ(Form->QuorvelModel1->GetRotationAngle()->GetY(), 180.0f);
  ExpectQuaternion(Form->QuorvelModel1, TQuaternion3D(0, 1, 0, -4.37113882867379E-8f));
}

void ExpectAt(const TControl3D* AControl, float X, float Y, float Z, float ATolerance) {
  const TVector3D p = AControl->GetAbsolutePosition();
  EXPECT_NEAR(p.X, X, ATolerance) << AControl->GetName();
  EXPECT_NEAR(p.Y, Y, ATolerance) << AControl->GetName();
  EXPECT_NEAR(p.Z, Z, ATolerance) << AControl->GetName();
}

TEST_F(DemoFormTest, TicksMoveTheLightsAndTurnTheModel) {
  Tick();
  EXPECT_FLOAT_EQ(Form->GetLightMove(), 0.05f);
  ExpectAt(Form->QuorvelLight1, -4.875f, -10, 4.994f, 0.001f);
  ExpectAt(Form->QuorvelLight2, 2.503f, -10, 0.250f, 0.001f);
  ExpectAt(Form->QuorvelLight3, 0, -10, 0.250f, 0.001f);
  EXPECT_EQ(Form->QuorvelModel1->GetRotationAngle()->GetY(), 181.0f);
  EXPECT_EQ(Form->QuorvelViewport1->GetUpdateCount(), 0);
  for (int i = 1; i < 31; ++i) {
    Tick();
    EXPECT_EQ(Form->QuorvelViewport1->GetUpdateCount(), 0) << "tick " << i + 1;
  }
  // Phase 1.55, near a quarter turn.
  ExpectAt(Form->QuorvelLight1, -2.5f, -10, 0, 0.15f);
  EXPECT_GT(Form->QuorvelLight3->GetAbsolutePosition().Z, 4.99f);
  EXPECT_EQ(Form->QuorvelModel1->GetRotationAngle()->GetY(), 211.0f);
  // The model keeps turning past a full turn: the handler adds 1 each tick and leaves the
  // angle to the framework, which holds rotation angles within a turn.
  for (int i = 0; i < 180; ++i) Form->Timer1Timer(Form->Timer1);
  EXPECT_EQ(Form->QuorvelModel1->GetRotationAngle()->GetY(), 31.0f);
  EXPECT_NEAR(Form->GetLightMove(), 211 * 0.05, 1e-4);  // single-precision steps
}

}  // namespace
}  // namespace quorvel
