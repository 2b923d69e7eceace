// Joint markers drawn through the engine context on llvmpipe.
#include <gtest/gtest.h>

#include "lib/animation/Armature.h"
#include "lib/animation/Joint.h"
#include "tests/animation/StripRig.h"
#include "tests/scene/SceneTestSupport.h"

namespace quorvel {
namespace {

using testkit::NearColor;
using testkit::TViewportTest;

class JointMarkers : public TViewportTest {};

// Root at the model's origin, A 1.5 above it, B 0.75 above A: the gap b-a is the short one.
TEST_F(JointMarkers, AChainDrawsACubePerJointAndALineFromBToAOnly) {
  TStrip s;
  s.Bone->SetTransform(TMatrix3D::CreateTranslation({0, 1.5f, 0}));
  auto* tip = New<TJointDef>(s.Rig);
  tip->SetId("Tip");
  tip->SetParent(s.Bone);
  tip->SetTransform(TMatrix3D::CreateTranslation({0, 0.75f, 0}));
  s.Bone->AddJoint(tip);
  auto* model = New<TQuorvelModel>(Form.get());
  model->SetParent(Viewport);
  model->LoadFromDefinition(s.Def.get());
  model->GetPosition()->SetPoint({0, -1.1f, 0});
  TQuorvelArmature* armature = model->GetFirstArmature();
  for (TQuorvelMesh* mesh : armature->GetMeshes()) mesh->SetVisible(false);
  model->SetShowJoints(true);
  Tick();
  // The runs of red and white down the middle columns.
  struct TRun {
    bool Red;
    int32_t From, To;
  };
  std::vector<TRun> runs;
  for (int32_t y = 0; y < H; ++y) {
    bool red = false, white = false;
    for (int32_t x = W / 2 - 1; x <= W / 2; ++x) {
      red |= NearColor(Probe(x, y), claRed, 8);
      white |= NearColor(Probe(x, y), claWhite, 8);
    }
    if (!red && !white) continue;
    if (!runs.empty() && runs.back().Red == red && runs.back().To == y - 1)
      runs.back().To = y;
    else
      runs.push_back({red, y, y});
  }
  // A cube is drawn by its edges: its top and bottom edges are red runs a few pixels apart.
  std::vector<TRun> reds;
  for (const TRun& r : runs) {
    if (!r.Red) continue;
    if (!reds.empty() && r.From - reds.back().To <= 4)
      reds.back().To = r.To;
    else
      reds.push_back(r);
  }
  std::string seen;
  for (const TRun& r : runs) seen += (r.Red ? " R" : " W") + std::to_string(r.From) + "-" + std::to_string(r.To);
  ASSERT_EQ(reds.size(), 3u) << "three red cubes:" << seen;
  const int32_t gap1 = reds[1].From - reds[0].To, gap2 = reds[2].From - reds[1].To;
  ASSERT_NE(gap1, gap2);
  // The short gap lies between A and B and holds the white line; the long one (A to the root)
  // holds none.
  auto whiteIn = [&](int32_t from, int32_t to) {
    for (const TRun& r : runs)
      if (!r.Red && r.From > from && r.To < to) return true;
    return false;
  };
  const bool shortFirst = gap1 < gap2;
  EXPECT_TRUE(shortFirst ? whiteIn(reds[0].To, reds[1].From) : whiteIn(reds[1].To, reds[2].From));
  EXPECT_FALSE(shortFirst ? whiteIn(reds[1].To, reds[2].From) : whiteIn(reds[0].To, reds[1].From));
  // Switched off: nothing red is left.
  model->SetShowJoints(false);
  Tick();
  for (int32_t y = 0; y < H; ++y) EXPECT_FALSE(NearColor(Probe(W / 2, y), claRed, 8)) << y;
}

}  // namespace
}  // namespace quorvel
