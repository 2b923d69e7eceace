// Environment maps as programs use them: a static map must show its surroundings in the frame
// it is drawn in and in every frame after it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lib/passes/ControllerPassesEnvironment.h"
#include "tests/passes/PassTestSupport.h"

namespace quorvel {
namespace {

using testing::NearColor;

// Each face of the map holds what lies in its direction from the first frame on, whichever
// renderer draws the map, and a static map keeps it.
class EnvironmentFacesTest : public testing::TViewportTest {};

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
