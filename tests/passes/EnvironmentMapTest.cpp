// Environment maps as programs use them: the pass, the shiny object and its material read from a
// form, the material sampling the map in the main frame. A static map must show its
// surroundings in the frame it is drawn in and in every frame after it.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "framework/classes/FormText.h"
#include "framework/gui/Form.h"
#include "lib/materials/MaterialDefault.h"
#include "lib/passes/ControllerPassesEnvironment.h"
#include "lib/scene/Cube.h"
#include "tests/passes/PassTestSupport.h"

namespace quorvel {
namespace {

using testkit::NearColor;
using testkit::PixelOf;

// The map's surroundings are its own colour (red); the viewport's background is blue; the
// shiny cube in front of the camera shows nothing but the map.
constexpr const char* kForm =
    "object Form1: TForm\n"
    "  ClientWidth = 64\n"
    "  ClientHeight = 48\n"
    "  object QuorvelViewport1: TQuorvelViewport\n"
    "    RendererType = %s\n"
    "    UseFixedFrameRate = True\n"
    "    Color = claBlue\n"
    "    object Environment1: TQuorvelRenderPassEnvironment\n"
    "      Id = 'environment'\n"
    "      Viewport = QuorvelViewport1\n"
    "      IsDynamic = False\n"
    "      Target = Shiny1\n"
    "      OverwriteColor = True\n"
    "      BackgroundColor = claRed\n"
    "    end\n"
    "    object Shiny1: TQuorvelCube\n"
    "      Width = 2\n"
    "      Height = 2\n"
    "      Depth = 2\n"
    "      MaterialSource = ShinySource1\n"
    "    end\n"
    "  end\n"
    "  object ShinySource1: TQuorvelDefaultMaterialSource\n"
    "    Environment = True\n"
    "    EnvironmentPass = Environment1\n"
    "    ReflectionPower = 1\n"
    "  end\n"
    "end\n";

struct TEnvCase {
  const char* Name;
  TRendererType View, Map;
  bool ShowFirst;  // the form is shown (its viewport sized) before the map's renderer is set
  bool Dynamic = false;
};

class EnvironmentMapTest : public testkit::TFormTextTest<::testing::TestWithParam<TEnvCase>> {
protected:
  void Tick() { Viewport->DoFixedIntervalTimer(nullptr); }

  TQuorvelViewport* Viewport = nullptr;
};

TEST_P(EnvironmentMapTest, AStaticMapReadFromAFormIsSeenOnItsObjectFromTheFirstFrame) {
  const TEnvCase& c = GetParam();
  std::string text = kForm;
  text.replace(text.find("%s"), 2, c.View == TRendererType::LegacyRenderer ? "LegacyRenderer" : "ForwardRenderer");
  ReadComponentResource(Form.get(), text);
  Viewport = dynamic_cast<TQuorvelViewport*>(Form->FindComponent("QuorvelViewport1"));
  auto* pass = dynamic_cast<TQuorvelRenderPassEnvironment*>(Form->FindComponent("Environment1"));
  auto* shiny = dynamic_cast<TQuorvelCube*>(Form->FindComponent("Shiny1"));
  ASSERT_NE(Viewport, nullptr);
  ASSERT_NE(pass, nullptr);
  ASSERT_NE(shiny, nullptr);
  EXPECT_EQ(pass->GetViewport(), Viewport);
  EXPECT_EQ(pass->GetTarget(), shiny);
  if (c.Dynamic) pass->SetIsDynamic(true);
  if (c.ShowFirst) Form->Show();
  pass->SetRendererType(c.Map);
  if (!c.ShowFirst) Form->Show();
  testkit::UseOwnCamera(Form.get(), Viewport, {0, 0, -6});
  const TPointF front = Viewport->WorldToScreen({0, 0, -1});
  const int32_t x = int32_t(std::lround(front.X)), y = int32_t(std::lround(front.Y));
  ASSERT_TRUE(x > 0 && x < 63 && y > 0 && y < 47) << x << "," << y;
  for (int frame = 0; frame < 3; ++frame) {
    SCOPED_TRACE(frame);
    Tick();
    EXPECT_EQ(pass->GetEnabled(), c.Dynamic) << "a static map is drawn once";
    // The cube shows the map all over its front; around it the viewport's own background.
    for (const TPoint& at : {TPoint(x, y), TPoint(x - 3, y - 3), TPoint(x + 3, y + 3)}) {
      const TAlphaColor seen = PixelOf(Viewport->GetFrameBitmap(), at.X, at.Y);
      EXPECT_TRUE(NearColor(seen, claRed, 24)) << std::hex << uint32_t(seen) << std::dec << " at " << at.X << "," << at.Y;
    }
    const TAlphaColor corner = PixelOf(Viewport->GetFrameBitmap(), 1, 1);
    EXPECT_TRUE(NearColor(corner, claBlue, 8)) << std::hex << uint32_t(corner);
  }
}

const TEnvCase kEnvCases[] = {
    {"LegacyViewLegacyMap", TRendererType::LegacyRenderer, TRendererType::LegacyRenderer, false},
    {"LegacyViewForwardMap", TRendererType::LegacyRenderer, TRendererType::ForwardRenderer, false},
    {"ForwardViewForwardMap", TRendererType::ForwardRenderer, TRendererType::ForwardRenderer, false},
    {"ForwardViewLegacyMap", TRendererType::ForwardRenderer, TRendererType::LegacyRenderer, false},
    {"ShownForwardViewLegacyMap", TRendererType::ForwardRenderer, TRendererType::LegacyRenderer, true},
    {"ShownLegacyViewLegacyMap", TRendererType::LegacyRenderer, TRendererType::LegacyRenderer, true},
    {"DynamicLegacyViewForwardMap", TRendererType::LegacyRenderer, TRendererType::ForwardRenderer, false, true},
    {"DynamicForwardViewForwardMap", TRendererType::ForwardRenderer, TRendererType::ForwardRenderer, false, true},
};
INSTANTIATE_TEST_SUITE_P(Renderers, EnvironmentMapTest, ::testing::ValuesIn(kEnvCases),
                         [](const auto& info) { return std::string(info.param.Name); });

// Each face of the map holds what lies in its direction from the first frame on, whichever
// renderer draws the map, and a static map keeps it.
class EnvironmentFacesTest : public testkit::TViewportTest {};

TEST_F(EnvironmentFacesTest, EveryFaceHoldsItsDirectionFromTheFirstFrameOnEitherRenderer) {
  constexpr int32_t N = 16;
  // In GL's face order: +X, -X, +Y, -Y, +Z, -Z.
  const TPoint3D directions[6] = {{1, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {0, 0, 1}, {0, 0, -1}};
  const TAlphaColor fills[6] = {claRed, claLime, claWhite, claYellow, claFuchsia, claAqua};
  for (int i = 0; i < 6; ++i) AddCube(fills[i], 4)->GetPosition()->SetPoint(directions[i] * 5);
  for (TRendererType type : {TRendererType::ForwardRenderer, TRendererType::LegacyRenderer})
    for (bool dynamic : {true, false}) {
      SCOPED_TRACE(std::string(type == TRendererType::LegacyRenderer ? "legacy" : "forward") +
                   (dynamic ? " dynamic" : " static"));
      TOwned<TQuorvelRenderPassEnvironment> pass(New<TQuorvelRenderPassEnvironment>(nullptr, "faces"));
      pass->SetMapSize(N);
      pass->SetRendererType(type);
      pass->SetIsDynamic(dynamic);
      pass->SetViewport(Viewport);
      for (int frame = 0; frame < 2; ++frame) {
        SCOPED_TRACE(frame);
        Tick();
        EXPECT_EQ(pass->GetEnabled(), dynamic);
        auto* map = dynamic_cast<TQuorvelTexture*>(pass->GetOutputTexture());
        ASSERT_NE(map, nullptr);
        std::vector<uint8_t> bytes;
        int64_t size = 0;
        map->RequestTextureData(bytes, size, 0);
        ASSERT_GE(bytes.size(), size_t(6 * N * N * 4));
        for (int f = 0; f < 6; ++f) {
          const uint8_t* p = bytes.data() + (size_t(f) * N * N + size_t(N / 2) * N + N / 2) * 4;  // BGRA
          const TAlphaColor texel = MakeAlphaColor(p[2], p[1], p[0], p[3]);
          EXPECT_TRUE(NearColor(texel, fills[f], 8)) << "face " << f << ": " << std::hex << uint32_t(texel);
        }
      }
      pass.reset();
    }
}

}  // namespace
}  // namespace quorvel
