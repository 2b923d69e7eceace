#include "framework/gui3d/Context3D.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <thread>

#include "framework/gui/Canvas.h"
#include "framework/gui3d/Material.h"

namespace quorvel {
namespace context3d_test {

// Every hook of every recording context appends "<tag>:<call>" here.
std::vector<std::string> GJournal;

class TRecordingContext : public TContext3D {
  FW_CLASS_META(TRecordingContext, TContext3D, TContextClass)

public:
  using TContext3D::TContext3D;

  std::string Tag = "ctx";
  bool BeginAnswer = true;
  bool RaiseAfterBegin = false;
  bool RaiseInBatch = false;
  TIndexBufferSupport IndexSupport = TIndexBufferSupport::Int32;
  // What the last batch received.
  TPrimitivesKind BatchKind = TPrimitivesKind::Points;
  float BatchOpacity = -1;
  int32_t BatchIndexSize = 0;
  std::vector<uint32_t> BatchIndices;
  std::vector<TPoint3D> BatchVertices;
  std::vector<TContextState> States;
  std::vector<std::pair<std::string, std::vector<TVector3D>>> Variables;

  TIndexBufferSupport GetIndexBufferSupport() const override { return IndexSupport; }
  int32_t InitWidth = -1;  // FWidth as DoInitContext saw it

protected:
  void Note(const std::string& ACall) { GJournal.push_back(Tag + ":" + ACall); }
  void DoInitContext() override {
    TContext3D::DoInitContext();
    InitWidth = FWidth;
    Note("DoInitContext");
  }
  void DoCreateBuffer() override { Note("DoCreateBuffer"); }
  void DoFreeBuffer() override { Note("DoFreeBuffer"); }
  void DoResize() override { Note("DoResize"); }
  bool DoBeginScene() override {
    Note("DoBeginScene");
    if (!BeginAnswer) return false;
    const bool result = TContext3D::DoBeginScene();
    if (RaiseAfterBegin) throw EContext3DException("begin failed");
    return result;
  }
  void DoEndScene() override {
    Note("DoEndScene");
    TContext3D::DoEndScene();
  }
  void DoSetContextState(TContextState AState) override {
    Note("State");
    States.push_back(AState);
  }
  void DoClear(const TClearTargets&, TAlphaColor, float, uint32_t) override { Note("DoClear"); }
  void DoDrawPrimitivesBatch(TPrimitivesKind AKind, const void* Vertices, const void* Indices,
                             const TVertexDeclaration& Declaration, int32_t VertexSize, int32_t VertexCount,
                             int32_t IndexSize, int32_t IndexCount) override {
    Note("Batch");
    BatchKind = AKind;
    BatchOpacity = GetCurrentOpacity();
    BatchIndexSize = IndexSize;
    BatchIndices.clear();
    for (int32_t i = 0; i < IndexCount; ++i) {
      uint32_t v = 0;
      std::memcpy(&v, static_cast<const uint8_t*>(Indices) + size_t(i) * size_t(IndexSize), size_t(IndexSize));
      BatchIndices.push_back(v);
    }
    BatchVertices.clear();
    if (!Declaration.empty() && Declaration[0].Format == TVertexFormat::Vertex)
      for (int32_t i = 0; i < VertexCount; ++i) {
        TPoint3D p;
        std::memcpy(&p, static_cast<const uint8_t*>(Vertices) + size_t(i) * size_t(VertexSize), sizeof p);
        BatchVertices.push_back(p);
      }
    if (RaiseInBatch) throw EContext3DException("draw failed");
  }
  void DoSetVertexPixelShaders(TContextShader* VS, TContextShader* PS) override {
    Note("Shaders:" + VS->GetName() + "," + PS->GetName());
  }
  void DoSetShaderVariable(const std::string& AName, std::span<const TVector3D> AData) override {
    Note("Var:" + AName);
    Variables.emplace_back(AName, std::vector<TVector3D>(AData.begin(), AData.end()));
  }
  // Pixel (x, y) of the frame reads 0xFF00yyxx.
  void DoCopyToBits(void* Bits, int32_t Pitch, const TRect& ARect) override {
    Note("DoCopyToBits");
    for (int32_t y = ARect.Top; y < ARect.Bottom; ++y)
      for (int32_t x = ARect.Left; x < ARect.Right; ++x) {
        const uint32_t v = 0xFF000000u | uint32_t(y) << 8 | uint32_t(x);
        std::memcpy(static_cast<uint8_t*>(Bits) + size_t(y - ARect.Top) * size_t(Pitch) + size_t(x - ARect.Left) * 4,
                    &v, 4);
      }
  }
};

struct TRecordingContextClass : TContextClassOf<TRecordingContext> {
  using TContextClassOf::TContextClassOf;
  bool Valid() const override { return true; }
  TContextStyles Style() const override { return {TContextStyle::RenderTargetFlipped}; }
  int32_t MaxTextureSize() const override { return 4096; }
  void DoInitializeShader(TContextShader* AShader) const override {
    GJournal.push_back("class:InitShader:" + AShader->GetName());
    AShader->SetHandle(7);
  }
};

}  // namespace context3d_test

FW_CLASS_IMPL_META(context3d_test::TRecordingContext, "Test.Context3D", context3d_test::TRecordingContextClass)
FW_CLASS_NO_MEMBERS(context3d_test::TRecordingContext)

namespace context3d_test {
namespace {

using CS = TContextState;
using TJournal = std::vector<std::string>;

class TRecordingMaterial : public TMaterial {
public:
  std::string GetMaterialProperty(TProperty AProperty) const override {
    if (AProperty == TProperty::ModelViewProjection) return "MVPMatrix";
    if (AProperty == TProperty::ModelView) return "ModelView";
    return "";
  }

protected:
  void DoApply(TContext3D*) override { GJournal.push_back("material:Apply"); }
  void DoReset(TContext3D*) override { GJournal.push_back("material:Reset"); }
};

class Context3DTest : public ::testing::Test {
protected:
  void SetUp() override {
    GJournal.clear();
    TContext3D::ResetCurrentStates();
    TContextManager::RegisterContext(TRecordingContext::StaticMeta(), true);
    FTexture->SetSize(64, 32);
  }
  void TearDown() override { TContextManager::UnregisterContext(TRecordingContext::StaticMeta()); }

  TOwned<TRecordingContext> Make(const std::string& ATag = "ctx") {
    TContext3D* ctx = TContextManager::CreateFromTexture(FTexture.get(), TMultisample::None, true);
    TOwned<TRecordingContext> result(dynamic_cast<TRecordingContext*>(ctx));
    EXPECT_NE(result, nullptr);
    result->Tag = ATag;
    GJournal.clear();
    return result;
  }
  static bool CanvasLockFreeForOtherThreads() {
    bool free = false;
    std::thread t([&] {
      free = TCanvas::TryLock();
      if (free) TCanvas::Unlock();
    });
    t.join();
    return free;
  }

  TOwned<TTexture> FTexture{New<TTexture>()};
};

TEST_F(Context3DTest, LifeCycleRunsInitAfterConstructionAndBufferHooksOnlyWhenAsked) {
  TContext3D* raw = TContextManager::CreateFromTexture(FTexture.get(), TMultisample::TwoSamples, true);
  auto* ctx = dynamic_cast<TRecordingContext*>(raw);
  ASSERT_NE(ctx, nullptr);
  // The override ran, after the constructor had stored the texture's size.
  EXPECT_EQ(GJournal, TJournal({"ctx:DoInitContext"}));
  EXPECT_EQ(ctx->InitWidth, 64);
  EXPECT_EQ(ctx->GetHeight(), 32);
  EXPECT_EQ(ctx->GetTexture(), FTexture.get());
  EXPECT_EQ(ctx->GetMultisample(), TMultisample::TwoSamples);
  EXPECT_TRUE(ctx->GetDepthStencil());

  GJournal.clear();
  ctx->CreateBuffer();
  ctx->SetSize(64, 32);  // unchanged: no resize
  ctx->SetSize(128, 32);
  Free(ctx);
  EXPECT_EQ(GJournal, TJournal({"ctx:DoCreateBuffer", "ctx:DoResize", "ctx:DoFreeBuffer"}));
}

TEST_F(Context3DTest, CreationFailuresRaiseNamedExceptions) {
  EXPECT_THROW(TContextManager::CreateFromTexture(nullptr, TMultisample::None, false), EArgumentNilException);
  EXPECT_THROW(TContextManager::CreateFromWindow(nullptr, -1, 10, TMultisample::None, false),
               EArgumentOutOfRangeException);
  // The framework's own metaclass cannot construct.
  EXPECT_THROW(TContext3D::StaticMeta()->CreateFromTexture(FTexture.get(), TMultisample::None, false),
               EAbstractError);
  TContextManager::UnregisterContext(TRecordingContext::StaticMeta());
  EXPECT_EQ(TContextManager::DefaultContextClass(), nullptr);
  EXPECT_THROW(TContextManager::CreateFromTexture(FTexture.get(), TMultisample::None, false), EContext3DException);
}

TEST_F(Context3DTest, ManagerKeepsOneEntryPerClassAndFallsBackWhenTheDefaultGoes) {
  const TContextClass* base = TContext3D::StaticMeta();
  TContextManager::RegisterContext(base, false);
  TContextManager::RegisterContext(base, false);
  EXPECT_EQ(TContextManager::ContextClasses().size(), 2u);
  EXPECT_EQ(TContextManager::DefaultContextClass(), TRecordingContext::StaticMeta());
  TContextManager::UnregisterContext(TRecordingContext::StaticMeta());
  EXPECT_EQ(TContextManager::DefaultContextClass(), base);  // the first one left
  TContextManager::UnregisterContext(base);
  TContextManager::RegisterContext(TRecordingContext::StaticMeta(), true);
}

TEST_F(Context3DTest, ClassFunctionsComeFromTheObjectsMetaclass) {
  auto ctx = Make();
  EXPECT_TRUE(ctx->Valid());
  EXPECT_EQ(ctx->MaxTextureSize(), 4096);
  EXPECT_TRUE(ctx->Style().Contains(TContextStyle::RenderTargetFlipped));
  EXPECT_EQ(ctx->MaxLightCount(), 8);  // inherited default
  EXPECT_EQ(ctx->GetContextClass(), TRecordingContext::StaticMeta());
  EXPECT_FALSE(TContext3D::StaticMeta()->Valid());
}

TEST_F(Context3DTest, DrawPrimitivesAppliesTheMaterialBeforeTheDrawAndResetsAfter) {
  auto ctx = Make();
  TRecordingMaterial material;
  ctx->SetMatrix(TMatrix3D::CreateTranslation({1, 2, 3}));
  const TPoint3D vertices[3] = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
  const uint16_t indices[3] = {0, 1, 2};
  const TVertexDeclaration decl{{TVertexFormat::Vertex, 0}};
  ctx->DrawPrimitives(TPrimitivesKind::Triangles, vertices, indices, decl, 12, 3, 2, 3, &material, 0.25f);

  EXPECT_EQ(GJournal, TJournal({"material:Apply", "ctx:Var:MVPMatrix", "ctx:Var:ModelView", "ctx:Batch",
                                "material:Reset"}));
  EXPECT_FLOAT_EQ(ctx->BatchOpacity, 0.25f);
  EXPECT_EQ(ctx->BatchIndices, (std::vector<uint32_t>{0, 1, 2}));
  // Matrices travel as the rows of their transpose.
  const TMatrix3D mvp = ctx->GetCurrentModelViewProjectionMatrix().Transpose();
  ASSERT_EQ(ctx->Variables[0].second.size(), 4u);
  for (int r = 0; r < 4; ++r) {
    EXPECT_FLOAT_EQ(ctx->Variables[0].second[size_t(r)].X, mvp.Row(r).X);
    EXPECT_FLOAT_EQ(ctx->Variables[0].second[size_t(r)].W, mvp.Row(r).W);
  }
  // ModelView: vector j is column j, so the translation arrives in the W components.
  EXPECT_FLOAT_EQ(ctx->Variables[1].second[0].W, 1);
  EXPECT_FLOAT_EQ(ctx->Variables[1].second[2].W, 3);
}

TEST_F(Context3DTest, AFailingDrawStillResetsTheMaterialAndReportsTheDrawsError) {
  auto ctx = Make();
  ctx->RaiseInBatch = true;
  TRecordingMaterial material;
  const TPoint3D v{};
  EXPECT_THROW(ctx->DrawPrimitives(TPrimitivesKind::Points, &v, nullptr, {}, 12, 1, 2, 0, &material, 1),
               EContext3DException);
  ASSERT_FALSE(GJournal.empty());
  EXPECT_EQ(GJournal.back(), "material:Reset");
  EXPECT_THROW(ctx->DrawPrimitives(TPrimitivesKind::Points, &v, nullptr, {}, 12, -1, 2, 0, nullptr, 1),
               EArgumentOutOfRangeException);
}

TEST_F(Context3DTest, ThirtyTwoBitIndicesAreNarrowedForContextsWithoutThem) {
  auto ctx = Make();
  const TPoint3D v[2]{};
  uint32_t indices[3] = {0, 1, 65535};
  ctx->DrawPrimitives(TPrimitivesKind::Lines, v, indices, {}, 12, 2, 4, 3, nullptr, 1);
  EXPECT_EQ(ctx->BatchIndexSize, 4);  // passed through as they are
  ctx->IndexSupport = TContext3D::TIndexBufferSupport::Int16;
  ctx->DrawPrimitives(TPrimitivesKind::Lines, v, indices, {}, 12, 2, 4, 3, nullptr, 1);
  EXPECT_EQ(ctx->BatchIndexSize, 2);
  EXPECT_EQ(ctx->BatchIndices, (std::vector<uint32_t>{0, 1, 65535}));
  indices[2] = 65536;
  EXPECT_THROW(ctx->DrawPrimitives(TPrimitivesKind::Lines, v, indices, {}, 12, 2, 4, 3, nullptr, 1),
               EContext3DException);
}

TEST_F(Context3DTest, RepeatedStatesAreSkippedAndOppositesForgotten) {
  auto a = Make("a");
  auto b = Make("b");
  a->SetContextState(CS::csZTestOn);
  a->SetContextState(CS::csZTestOn);
  b->SetContextState(CS::csZTestOn);  // the record is shared: one GPU context for all
  a->SetContextState(CS::csZTestOff);
  a->SetContextState(CS::csZTestOn);
  a->SetContextState(CS::csFrontFace);
  a->SetContextState(CS::csAllFace);
  a->SetContextState(CS::csFrontFace);
  EXPECT_EQ(a->States, (std::vector<CS>{CS::csZTestOn, CS::csZTestOff, CS::csZTestOn, CS::csFrontFace,
                                        CS::csAllFace, CS::csFrontFace}));
  EXPECT_TRUE(b->States.empty());
  EXPECT_TRUE(TContext3D::GetCurrentState(CS::csFrontFace));
  EXPECT_FALSE(TContext3D::GetCurrentState(CS::csAllFace));
  EXPECT_FALSE(TContext3D::GetCurrentState(CS::csZTestOff));
  TContext3D::ResetCurrentStates();
  a->SetContextState(CS::csZTestOn);
  EXPECT_EQ(a->States.size(), 7u);
}

TEST_F(Context3DTest, NestedScenesBeginAndEndOnceAndHoldTheCanvasLock) {
  auto ctx = Make();
  ASSERT_TRUE(ctx->BeginScene());
  ASSERT_TRUE(ctx->BeginScene());
  EXPECT_EQ(ctx->GetBeginSceneCount(), 2);
  EXPECT_EQ(TContext3D::GlobalBeginSceneCount(), 1);
  EXPECT_EQ(TContext3D::CurrentSceneContext(), ctx.get());
  EXPECT_FALSE(CanvasLockFreeForOtherThreads());
  ctx->EndScene();
  EXPECT_FALSE(CanvasLockFreeForOtherThreads());
  ctx->EndScene();
  ctx->EndScene();  // unmatched: nothing, and no unlock of a lock not held
  EXPECT_EQ(GJournal, TJournal({"ctx:DoBeginScene", "ctx:DoEndScene"}));
  EXPECT_EQ(TContext3D::GlobalBeginSceneCount(), 0);
  EXPECT_EQ(TContext3D::CurrentSceneContext(), nullptr);
  EXPECT_TRUE(CanvasLockFreeForOtherThreads());
}

TEST_F(Context3DTest, AFailedBeginLeavesNoSceneAndNoLock) {
  auto ctx = Make();
  ctx->BeginAnswer = false;
  EXPECT_FALSE(ctx->BeginScene());
  EXPECT_EQ(ctx->GetBeginSceneCount(), 0);
  EXPECT_TRUE(CanvasLockFreeForOtherThreads());

  ctx->BeginAnswer = true;
  ctx->RaiseAfterBegin = true;  // raises after the inherited step counted the scene
  EXPECT_THROW(ctx->BeginScene(), EContext3DException);
  EXPECT_EQ(ctx->GetBeginSceneCount(), 0);
  EXPECT_EQ(TContext3D::GlobalBeginSceneCount(), 0);
  EXPECT_EQ(TContext3D::CurrentSceneContext(), nullptr);
  EXPECT_TRUE(CanvasLockFreeForOtherThreads());
}

TEST_F(Context3DTest, AnInnerSceneOfAnotherContextRestoresTheOuterStatesWhenItEnds) {
  auto outer = Make("outer");
  auto inner = Make("inner");
  ASSERT_TRUE(outer->BeginScene());
  outer->SetContextState(CS::csZTestOn);
  outer->SetContextState(CS::csAlphaBlendOn);
  ASSERT_TRUE(inner->BeginScene());
  EXPECT_EQ(TContext3D::GlobalBeginSceneCount(), 2);
  inner->SetContextState(CS::csZTestOff);
  inner->SetContextState(CS::cs2DScene);
  inner->EndScene();
  // csZTestOn came back through the inner context (still the scene context when it ends);
  // csAlphaBlendOn was never changed, so it is not sent again.
  EXPECT_EQ(inner->States, (std::vector<CS>{CS::csZTestOff, CS::cs2DScene, CS::csZTestOn}));
  EXPECT_TRUE(TContext3D::GetCurrentState(CS::csZTestOn));
  EXPECT_TRUE(TContext3D::GetCurrentState(CS::csAlphaBlendOn));
  // The outer scene never chose between 2D and 3D: the inner 2D rectangle's choice does not
  // stay (before, the outer scene's next objects went through the screen matrix).
  EXPECT_FALSE(TContext3D::GetCurrentState(CS::cs2DScene));
  EXPECT_EQ(TContext3D::CurrentSceneContext(), outer.get());
  outer->EndScene();
  EXPECT_EQ(TContext3D::GlobalBeginSceneCount(), 0);
  TContext3D::PopContextStates();  // without a push: nothing
  EXPECT_TRUE(TContext3D::GetCurrentState(CS::csZTestOn));
}

TEST_F(Context3DTest, FreeingAContextInsideItsSceneReleasesTheLockAndTheSceneStack) {
  auto ctx = Make();
  ASSERT_TRUE(ctx->BeginScene());
  ASSERT_TRUE(ctx->BeginScene());
  ctx.reset();
  EXPECT_EQ(TContext3D::CurrentSceneContext(), nullptr);
  EXPECT_EQ(TContext3D::GlobalBeginSceneCount(), 0);
  EXPECT_TRUE(CanvasLockFreeForOtherThreads());
}

TEST_F(Context3DTest, ProjectionFollowsSizeAndAngleAndZeroHeightUsesAspectOne) {
  auto ctx = Make();
  ctx->SetSize(200, 100);
  const TMatrix3D wide = ctx->GetCurrentProjectionMatrix();
  EXPECT_NEAR(wide.m22 / wide.m11, 2.0f, 1e-5f);
  EXPECT_FLOAT_EQ(wide.m22, 1 / std::tan(45.0f * 3.14159265f / 360.0f));
  ctx->SetCameraAngleOfView(90);
  EXPECT_NEAR(ctx->GetCurrentProjectionMatrix().m22, 1.0f, 1e-5f);
  ctx->SetSize(200, 0);
  const TMatrix3D flat = ctx->GetCurrentProjectionMatrix();
  EXPECT_FLOAT_EQ(flat.m11, flat.m22);
  EXPECT_TRUE(std::isfinite(ctx->GetCurrentScreenMatrix().m11));
}

TEST_F(Context3DTest, ScreenMatrixMapsContextUnitsToTheWholeTarget) {
  auto ctx = Make();
  ctx->SetSize(200, 100);
  const struct {
    TPoint3D In;
    float X, Y;
  } cases[] = {{{0, 0, 0}, 0, 0}, {{200, 100, 0}, 200, 100}, {{50, 75, 0}, 50, 75}};
  for (const auto& c : cases) {
    const TPoint3D p = ctx->WorldToScreen(TProjection::Screen, c.In);
    EXPECT_NEAR(p.X, c.X, 1e-2f);
    EXPECT_NEAR(p.Y, c.Y, 1e-2f);
  }
  // In a 2D scene the model-view-projection is model × screen matrix.
  ctx->SetContextState(CS::cs2DScene);
  ctx->SetMatrix(TMatrix3D::CreateTranslation({10, 0, 0}));
  EXPECT_EQ(ctx->GetCurrentModelViewProjectionMatrix(),
            TMatrix3D::CreateTranslation({10, 0, 0}) * ctx->GetCurrentScreenMatrix());
}

TEST_F(Context3DTest, PickCastsTheRayThatWorldToScreenProjectsBack) {
  auto ctx = Make();
  ctx->SetSize(320, 240);
  ctx->SetCameraMatrix(TMatrix3D::CreateLookAtRH({0, 0, -5}, {0, 0, 0}, {0, -1, 0}));
  for (const TPointF& screen : {TPointF(160, 120), TPointF(10, 200), TPointF(300, 15)}) {
    TVector3D pos, dir;
    ctx->Pick(screen.X, screen.Y, TProjection::Camera, pos, dir);
    EXPECT_NEAR(pos.Z, -5, 1e-4f);
    EXPECT_NEAR(TPoint3D(dir.X, dir.Y, dir.Z).Length(), 1, 1e-5f);
    const TPoint3D onRay(pos.X + 3 * dir.X, pos.Y + 3 * dir.Y, pos.Z + 3 * dir.Z);
    const TPoint3D back = ctx->WorldToScreen(TProjection::Camera, onRay);
    EXPECT_NEAR(back.X, screen.X, 0.05f);
    EXPECT_NEAR(back.Y, screen.Y, 0.05f);
  }
  TVector3D pos, dir;
  ctx->Pick(160, 120, TProjection::Camera, pos, dir);
  EXPECT_NEAR(dir.Z, 1, 1e-4f);  // the centre looks at the target
}

TEST_F(Context3DTest, HelpersDrawWithTheContextsColourMaterial) {
  auto ctx = Make();
  // The colour shaders are process-wide; earlier tests may have compiled them.
  for (const char* name : {"Fw.ColorMaterial.fvs", "Fw.ColorMaterial.fps"})
    if (TContextShader* s = TShaderManager::FindShader(name)) s->SetHandle(0);
  ctx->DrawCube({0, 0, 0}, {2, 4, 6}, 0.5f, claRed);
  EXPECT_EQ(ctx->BatchKind, TPrimitivesKind::Lines);
  EXPECT_EQ(ctx->BatchIndices.size(), 24u);
  ASSERT_EQ(ctx->BatchVertices.size(), 8u);
  EXPECT_EQ(ctx->BatchVertices[0], TPoint3D(-1, -2, -3));
  EXPECT_EQ(ctx->BatchVertices[7], TPoint3D(1, 2, 3));
  // Shaders compiled through the class, then the colour, premultiplied with the opacity.
  EXPECT_EQ(GJournal[0], "class:InitShader:Fw.ColorMaterial.fvs");
  EXPECT_EQ(GJournal[2], "ctx:Shaders:Fw.ColorMaterial.fvs,Fw.ColorMaterial.fps");
  const auto& color = ctx->Variables[0];
  EXPECT_EQ(color.first, "Color");
  EXPECT_FLOAT_EQ(color.second[0].X, 0.5f);
  EXPECT_FLOAT_EQ(color.second[0].W, 0.5f);
  EXPECT_EQ(ctx->Variables[1].first, "MVPMatrix");

  ctx->FillCube({1, 1, 1}, {1, 1, 1}, 1, claRed);
  EXPECT_EQ(ctx->BatchKind, TPrimitivesKind::Triangles);
  EXPECT_EQ(ctx->BatchIndices.size(), 36u);
  ctx->DrawLine({0, 0, 0}, {5, 0, 0}, 1, claRed);
  EXPECT_EQ(ctx->BatchVertices, (std::vector<TPoint3D>{{0, 0, 0}, {5, 0, 0}}));
}

TEST_F(Context3DTest, CopyToBitmapWritesTheRectangleAtItsPlaceClipped) {
  auto ctx = Make();
  ctx->SetSize(8, 6);
  TBitmap bitmap(6, 6);
  bitmap.Clear(claBlack);
  ctx->CopyToBitmap(&bitmap, TRect(4, 2, 12, 4));  // right part falls outside the bitmap
  TBitmapData data;
  ASSERT_TRUE(bitmap.Map(TMapAccess::Read, data));
  EXPECT_EQ(uint32_t(data.GetPixel(4, 2)), 0xFF000204u);
  EXPECT_EQ(uint32_t(data.GetPixel(5, 3)), 0xFF000305u);
  EXPECT_EQ(data.GetPixel(3, 2), claBlack);
  EXPECT_EQ(data.GetPixel(4, 4), claBlack);
  bitmap.Unmap(data);

  uint32_t row[4] = {};
  EXPECT_THROW(ctx->CopyToBits(row, 8, TRect(0, 0, 4, 1)), EArgumentOutOfRangeException);
  ctx->CopyToBits(row, 16, TRect(0, 1, 4, 2));
  EXPECT_EQ(row[3], 0xFF000103u);
  ctx->CopyToBitmap(nullptr, TRect(0, 0, 1, 1));
}

TEST_F(Context3DTest, PersistedOrdinalsStayPut) {
  EXPECT_EQ(int(CS::cs2DScene), 0);
  EXPECT_EQ(int(CS::csScissorOff), 13);
  EXPECT_EQ(int(CS::csAllFace), 16);
  EXPECT_EQ(int(TPrimitivesKind::Triangles), 2);
  EXPECT_EQ(int(TStencilFunc::Always), 7);
  EXPECT_EQ(int(TMultisample::FourSamples), 2);
  EXPECT_EQ(int(TContextShaderVariableKind::Texture), 5);
  EXPECT_EQ(int(TContextShaderVariableKind::IntArray), 7);
  EXPECT_EQ(int(TTextureStyle::Volatile), 3);
}

}  // namespace
}  // namespace context3d_test
}  // namespace quorvel
