// Edit mode, its overlay, the viewport's hit test and picking: ObjectAtPoint, FindTarget and
// RayCastIntersect over real frames on llvmpipe.
#include <SDL2/SDL.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "framework/gui/Application.h"
#include "framework/gui/Canvas.h"
#include "lib/scene/CameraController.h"
#include "lib/scene/Mesh.h"
#include "lib/scene/Model.h"
#include "tests/scene/SceneTestSupport.h"

namespace quorvel {
namespace {

using testkit::NearColor;
using testkit::PixelOf;
using testkit::TViewportTest;

using ViewportEdit = TViewportTest;

TEST_F(ViewportEdit, EditModeSwitchesTheDesignCameraInAndRestoresWhatItStored) {
  auto* cam = New<TQuorvelCamera>(Form.get());
  cam->SetParent(Viewport);
  Viewport->SetCamera(cam);
  Viewport->SetUsingDesignCamera(false);
  Viewport->SetFrustumCulling(true);
  TQuorvelSmoothCameraController* target = Viewport->GetDesignCameraController();
  struct Case {
    const char* action;
    void (*apply)(TQuorvelViewport*);
    bool edit, designCamera, culling, locked, steering;
  };
  const Case cases[] = {
      {"toggle on", [](TQuorvelViewport* v) { v->ToggleEditMode(); }, true, true, false, false, true},
      // Not ignored: the stored values come back while the mode stays on.
      {"True again", [](TQuorvelViewport* v) { v->SetEditMode(true); }, true, false, true, false, false},
      {"False", [](TQuorvelViewport* v) { v->SetEditMode(false); }, false, false, true, true, false},
      {"toggle on", [](TQuorvelViewport* v) { v->ToggleEditMode(); }, true, true, false, false, true},
      {"toggle off", [](TQuorvelViewport* v) { v->ToggleEditMode(); }, false, false, true, true, false},
  };
  for (const Case& c : cases) {
    c.apply(Viewport);
    EXPECT_EQ(Viewport->GetEditMode(), c.edit) << c.action;
    EXPECT_EQ(Viewport->IsUsingDesignCamera(), c.designCamera) << c.action;
    EXPECT_EQ(Viewport->GetCurrentCamera(), c.designCamera ? Viewport->GetDesignCamera() : cam) << c.action;
    EXPECT_EQ(Viewport->GetFrustumCulling(), c.culling) << c.action;
    for (TControl3D* o : {static_cast<TControl3D*>(target), static_cast<TControl3D*>(Viewport->GetDesignCamera())}) {
      EXPECT_EQ(o->GetLocked(), c.locked) << c.action;
      EXPECT_EQ(o->GetDesignLocked(), c.locked) << c.action;
    }
    EXPECT_EQ(target->GetViewport3D(), c.steering ? Viewport : nullptr) << c.action;
    EXPECT_TRUE(target->GetEnabled()) << c.action;
  }
}

TEST_F(ViewportEdit, DesignPositionAndRotationSteerTheTarget) {
  TQuorvelSmoothCameraController* target = Viewport->GetDesignCameraController();
  Viewport->GetDesignPosition()->SetPoint({1, 2, 3});
  EXPECT_EQ(target->GetPosition()->GetPoint(), TPoint3D(1, 2, 3));
  // One axis sets only that angle of the target; the whole point starts from no rotation.
  target->GetRotationAngle()->SetX(30);
  Viewport->GetDesignRotationAngle()->SetY(45);
  EXPECT_EQ(target->GetRotationAngle()->GetPoint(), TPoint3D(30, 45, 0));
  Viewport->GetDesignRotationAngle()->SetPoint({0, 90, 0});
  EXPECT_EQ(target->GetRotationAngle()->GetPoint(), TPoint3D(0, 90, 0));
  const TVector3D dir = target->GetAbsoluteDirection();
  EXPECT_NEAR(std::fabs(dir.X), 1, 1e-5) << "turned 90° about Y from no rotation, not from (30, 45, 0)";
}

// The edit overlay on a black frame: a yellow frame three pixels wide and the design camera's
// place in white, as the same drawing on a bitmap gives it.
TEST_F(ViewportEdit, TheOverlayFramesTheViewAndShowsTheDesignCamera) {
  constexpr int32_t w = 420, h = 40;
  Form->SetClientWidth(w);
  Form->SetClientHeight(h);
  Viewport->SetColor(claBlack);
  Viewport->SetEditMode(true);
  Viewport->ResetDesignCamera();
  Form->GetWindowCanvas()->Fill().Color = claWhite;
  Tick();
  Application->ProcessMessages();
  TOwned<TBitmap> window(New<TBitmap>());
  ASSERT_TRUE(Form->GetWindowCanvas()->ReadWindowPixels(window.get()));
  ASSERT_EQ(window->GetWidth(), w);

  struct Probe {
    int x, y;
    bool yellow;
  };
  const Probe frame[] = {{0, h - 4, true},      {2, h - 4, true},      {3, h - 4, false},
                         {w - 1, h / 2, true},  {w - 3, h / 2, true},  {w - 4, h / 2, false},
                         {w / 2, 0, true},      {w / 2, 2, true},      {w / 2, 3, false},
                         {w / 2, h - 3, true},  {w / 2, h - 4, false}, {0, 0, true}};
  // (The text starts at the left edge: the left side is probed below it.)
  for (const Probe& p : frame)
    EXPECT_EQ(PixelOf(window.get(), p.x, p.y) == claYellow, p.yellow) << p.x << "," << p.y;

  auto expected = [&](const std::string& text) {
    TOwned<TBitmap> b(New<TBitmap>());
    b->SetSize(w, h);
    TBitmapCanvas canvas(b.get());
    EXPECT_TRUE(canvas.BeginScene());
    canvas.Clear(claBlack);
    canvas.DrawRect(TRectF(1.5f, 1.5f, w - 1.5f, h - 1.5f), 0, 0, AllCorners(), 1, TCanvasBrush{claYellow, 3});
    canvas.Fill().Color = claWhite;
    canvas.FillText(TRectF(0, 0, w, h), text, true, 0.5f, {}, TTextAlign::Leading, TTextAlign::Center);
    canvas.EndScene();
    int differing = 0, lit = 0;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        if (!NearColor(PixelOf(b.get(), x, y), PixelOf(window.get(), x, y), 1)) ++differing;
        if (x > 3 && y > 3 && x < w - 4 && y < h - 4 && PixelOf(b.get(), x, y) != claBlack) ++lit;
      }
    EXPECT_GT(lit, 100) << "the text draws";
    return differing;
  };
  EXPECT_EQ(expected("Pos=(0.00, -5.00, -20.00), Rotation=(0.00, 0.00, 0.00)"), 0);
  EXPECT_GT(expected("Pos=(0.00, -5.00, -20.00), Rotation=(0.00, 0.00, 1.00)"), 0) << "the probe tells texts apart";
}

TEST_F(ViewportEdit, NoHitsInEditModeNorUnderLeftAltInTheDesigner) {
  const TPointF centre = Viewport->LocalToScreen(TPointF(W / 2.0f, H / 2.0f));
  struct Case {
    const char* what;
    bool designing, edit;
    SDL_Keymod mod;
    bool hit;
  };
  const Case cases[] = {
      {"running", false, false, KMOD_NONE, true},
      {"edit mode", false, true, KMOD_NONE, false},
      {"left Alt while running", false, false, KMOD_LALT, true},
      {"designing", true, false, KMOD_NONE, true},
      {"left Alt while designing", true, false, KMOD_LALT, false},
      {"right Alt while designing", true, false, KMOD_RALT, true},
  };
  for (const Case& c : cases) {
    Viewport->SetDesigning(c.designing);
    if (c.edit) Viewport->SetEditMode(true);
    SDL_SetModState(c.mod);
    IControl* hit = Viewport->ObjectAtPoint(centre);
    SDL_SetModState(KMOD_NONE);
    EXPECT_EQ(hit, c.hit ? static_cast<IControl*>(Viewport) : nullptr) << c.what;
    if (c.edit) Viewport->SetEditMode(false);
  }
  Viewport->SetDesigning(false);
}

// ---- picking -----------------------------------------------------------------------------------

class ViewportPick : public TViewportTest {
protected:
  // Three cubes of size 2 along the design camera's view, their front faces at z -2, -1 and 0:
  // all three lie under the centre pixel.
  std::array<testkit::TFilledCube*, 3> AddCubes(const std::array<int, 3>& AOrder) {
    std::array<testkit::TFilledCube*, 3> cubes{};
    for (int i : AOrder) {
      cubes[i] = AddCube(claRed);
      cubes[i]->SetName("Cube" + std::to_string(i));
      cubes[i]->GetPosition()->SetZ(float(i) - 1);
      cubes[i]->OnMouseMove = [this, i](TObject*, TShiftState, float, float, TVector3D, TVector3D dir) {
        Moves.push_back(i);
        LastDir = dir;
      };
    }
    return cubes;
  }
  TPointF Centre() const { return Viewport->LocalToScreen(TPointF(W / 2.0f, H / 2.0f)); }
  static TFwObject* ObjectOf(IControl* c) { return c ? c->GetObject() : nullptr; }

  std::vector<int> Moves;
  TVector3D LastDir;
};

TEST_F(ViewportPick, TheNearestOfThreeOverlappingCubesAnswersInEveryOrder) {
  std::array<int, 3> order{0, 1, 2};
  do {
    auto cubes = AddCubes(order);
    Tick();
    const std::string o = std::to_string(order[0]) + std::to_string(order[1]) + std::to_string(order[2]);
    EXPECT_EQ(ObjectOf(Viewport->ObjectAtPoint(Centre())), cubes[0]) << o;
    EXPECT_EQ(ObjectOf(Viewport->FindTarget(Centre(), TDragObject{})), cubes[0]) << o;
    Moves.clear();
    EXPECT_EQ(Viewport->RayCastIntersect(Centre()), cubes[0]) << o;
    EXPECT_EQ(Moves, std::vector<int>{0}) << o << ": only the nearest gets OnMouseMove";
    EXPECT_NEAR(LastDir.Z, 1, 0.05) << o;
    // Without 3D mouse events the nearest is passed over by the ray cast only.
    cubes[0]->OnMouseMove = nullptr;
    EXPECT_EQ(Viewport->RayCastIntersect(Centre()), cubes[1]) << o;
    EXPECT_EQ(ObjectOf(Viewport->ObjectAtPoint(Centre())), cubes[0]) << o;
    // Off the cubes: the viewport itself, and no ray-cast hit.
    const TPointF corner = Viewport->LocalToScreen(TPointF(1, 1));
    EXPECT_EQ(ObjectOf(Viewport->ObjectAtPoint(corner)), Viewport) << o;
    EXPECT_EQ(Viewport->RayCastIntersect(corner), nullptr) << o;
    for (auto* c : cubes) Free(c);
  } while (std::next_permutation(order.begin(), order.end()));
  // Off the viewport: nothing.
  EXPECT_EQ(Viewport->ObjectAtPoint(TPointF(W + 5, H + 5)), nullptr);
  EXPECT_EQ(Viewport->FindTarget(TPointF(W + 5, H + 5), TDragObject{}), nullptr);
}

TEST_F(ViewportPick, RayCastPassesOverHiddenObjectsAndThoseTakingNoHits) {
  auto cubes = AddCubes({0, 1, 2});
  Tick();
  cubes[0]->SetVisible(false);
  cubes[1]->SetHitTest(false);
  EXPECT_EQ(Viewport->RayCastIntersect(Centre()), cubes[2]);
  cubes[2]->SetHitTest(false);
  Moves.clear();
  EXPECT_EQ(Viewport->RayCastIntersect(Centre()), nullptr);
  EXPECT_TRUE(Moves.empty());
}

TEST_F(ViewportPick, InTheDesignerAModelsMeshAnswersTheModel) {
  auto* model = New<TQuorvelModel>(Form.get());
  model->SetParent(Viewport);
  // A square facing the camera, as the part of a loaded model.
  auto* part = New<TQuorvelMesh>(Form.get());
  part->SetParent(model);
  TVertexBuffer* vb = part->GetMeshData()->GetVertexBuffer();
  const TPoint3D corners[4] = {{-1, -1, 0}, {1, -1, 0}, {1, 1, 0}, {-1, 1, 0}};
  vb->SetLength(4);
  for (int i = 0; i < 4; ++i) vb->SetVertices(i, corners[i]);
  TIndexBuffer* ib = part->GetMeshData()->GetIndexBuffer();
  const uint32_t indices[6] = {0, 1, 2, 0, 2, 3};
  ib->SetLength(6);
  for (int i = 0; i < 6; ++i) ib->SetIndices(i, indices[i]);
  part->SetHitTest(true);  // meshes take no hits by default at run time
  Tick();
  EXPECT_EQ(ObjectOf(Viewport->ObjectAtPoint(Centre())), part) << "at run time the part itself";
  Viewport->SetDesigning(true);
  Tick();
  EXPECT_EQ(ObjectOf(Viewport->ObjectAtPoint(Centre())), model);
  EXPECT_EQ(ObjectOf(Viewport->FindTarget(Centre(), TDragObject{})), model);
  Viewport->SetDesigning(false);
}

}  // namespace
}  // namespace quorvel
