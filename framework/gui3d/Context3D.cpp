#include "framework/gui3d/Context3D.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>
#include <numbers>

#include "framework/gui/Canvas.h"
#include "framework/gui3d/Material.h"
#include "framework/rtl/Finally.h"
#include "framework/rtl/Log.h"
#include "framework/rtl/Units.h"

namespace quorvel {

FW_CLASS_IMPL_META(TContext3D, "Fw.Types3D", TContextClass)
FW_CLASS_NO_MEMBERS(TContext3D)

namespace {

// Process-wide scene and render-state bookkeeping; contexts live on the main thread.
struct TSceneState {
  std::vector<TContext3D*> SceneStack;  // one entry per open scene, innermost last
  TContextStates Current;
  std::vector<TContextStates> StateStack;
};

TSceneState& Scenes() {
  static TSceneState* state = new TSceneState;  // outlives every static destructor
  return *state;
}

struct TContextRegistry {
  std::mutex Mutex;
  std::vector<const TContextClass*> Classes;
  const TContextClass* Default = nullptr;  // explicitly chosen default
};

TContextRegistry& ContextRegistry() {
  static TContextRegistry* registry = new TContextRegistry;
  return *registry;
}

const TContextClass* ClassForOperations() {
  const TContextClass* cls = TContextManager::DefaultContextClass();
  return cls ? cls : TContext3D::StaticMeta();
}

// The states that exclude one another: a pair, or the three face states.
TContextStates StateGroup(TContextState AState) {
  using S = TContextState;
  switch (AState) {
    case S::csFrontFace:
    case S::csBackFace:
    case S::csAllFace:
      return {S::csFrontFace, S::csBackFace, S::csAllFace};
    default: {
      // Pairs are (even, odd) ordinals from cs2DScene to csScissorOff.
      const auto first = static_cast<uint8_t>(static_cast<uint8_t>(AState) & ~1u);
      return {static_cast<S>(first), static_cast<S>(first + 1)};
    }
  }
}

void EraseLastScene(TContext3D* AContext) {
  auto& stack = Scenes().SceneStack;
  for (size_t i = stack.size(); i-- > 0;)
    if (stack[i] == AContext) {
      stack.erase(stack.begin() + std::ptrdiff_t(i));
      return;
    }
}

bool IdentityLike(const TMatrix3D& M) { return M.m41 == 0 && M.m11 == 1; }

constexpr float kNearPlane = 1;
constexpr float kFarPlane = 1000;

void FinContext3DUnit() {
  TContextRegistry& r = ContextRegistry();
  {
    std::lock_guard lock(r.Mutex);
    r.Classes.clear();
    r.Default = nullptr;
  }
  Scenes().StateStack.clear();
  Scenes().Current.Clear();
}
const TUnitRegistration Context3DUnit{{"Fw.Context3D", {"Fw.Graphics"}, {}, &FinContext3DUnit}};

}  // namespace

// --- TContextClass --------------------------------------------------------------------------

TContext3D* TContextClass::CreateFromWindow(TWindowHandle, int32_t, int32_t, TMultisample, bool) const {
  throw EAbstractError("Abstract error: " + ClassName() + " cannot be constructed");
}

TContext3D* TContextClass::CreateFromTexture(TTexture*, TMultisample, bool) const {
  throw EAbstractError("Abstract error: " + ClassName() + " cannot be constructed");
}

void TContextClass::DoInitializeTexture(TTexture*) const {}

void TContextClass::DoFinalizeTexture(TTexture* ATexture) const {
  if (auto* access = dynamic_cast<ITextureAccess*>(ATexture)) access->SetHandle(0);
}

void TContextClass::DoUpdateTexture(TTexture*, const void*, int32_t) const {}

TTexture* TContextClass::DoBitmapToTexture(TBitmap* ABitmap) const {
  if (!ABitmap) return nullptr;
  TOwned<TTexture> texture(New<TTexture>());
  texture->Assign(ABitmap);
  return texture.release();
}

void TContextClass::DoInitializeShader(TContextShader*) const {}

void TContextClass::DoFinalizeShader(TContextShader* AShader) const {
  if (AShader) AShader->SetHandle(0);
}

// --- TContext3D: life cycle -----------------------------------------------------------------

TContext3D::TContext3D(TWindowHandle AParent, int32_t AWidth, int32_t AHeight, TMultisample AMultisample,
                       bool ADepthStencil)
    : FParent(AParent), FWidth(AWidth), FHeight(AHeight), FMultisample(AMultisample), FDepthStencil(ADepthStencil) {
  if (AWidth < 0 || AHeight < 0) throw EArgumentOutOfRangeException("TContext3D.CreateFromWindow: negative size");
}

TContext3D::TContext3D(TTexture* ATexture, TMultisample AMultisample, bool ADepthStencil)
    : FTexture(ATexture), FMultisample(AMultisample), FDepthStencil(ADepthStencil) {
  if (!ATexture) throw EArgumentNilException("TContext3D.CreateFromTexture: no texture");
  FWidth = ATexture->GetWidth();
  FHeight = ATexture->GetHeight();
  FScale = ATexture->GetTextureScale();
}

TContext3D::~TContext3D() {
  // A context freed inside its scene must not stay the scene context nor keep the lock.
  auto& stack = Scenes().SceneStack;
  std::erase(stack, this);
  for (; FBeginSceneCount > 0; --FBeginSceneCount) TCanvas::Unlock();
  FreeQuietlyAndNil(FHelperMaterial, "TContext3D.Destroy: helper material");
}

void TContext3D::AfterConstruction() {
  TObject::AfterConstruction();
  DoInitContext();
}

void TContext3D::BeforeDestruction() {
  Quietly("TContext3D.DoFreeBuffer", [&] { DoFreeBuffer(); });
  TObject::BeforeDestruction();
}

void TContext3D::DoInitContext() {
  FRecalcProjectionMatrix = true;
  FRecalcScreenMatrix = true;
}

void TContext3D::CreateBuffer() { DoCreateBuffer(); }

// --- class level ----------------------------------------------------------------------------

const TContextClass* TContext3D::GetContextClass() const {
  const TContextClass* cls = ClassType()->MetaAs<TContextClass>();
  return cls ? cls : StaticMeta();
}

void TContext3D::InitializeTexture(TTexture* ATexture) {
  if (ATexture) ClassForOperations()->DoInitializeTexture(ATexture);
}

void TContext3D::FinalizeTexture(TTexture* ATexture) {
  if (ATexture) ClassForOperations()->DoFinalizeTexture(ATexture);
}

void TContext3D::UpdateTexture(TTexture* ATexture, const void* ABits, int32_t APitch) {
  if (ATexture) ClassForOperations()->DoUpdateTexture(ATexture, ABits, APitch);
}

TTexture* TContext3D::BitmapToTexture(TBitmap* ABitmap) {
  return ABitmap ? ClassForOperations()->DoBitmapToTexture(ABitmap) : nullptr;
}

// --- size -----------------------------------------------------------------------------------

void TContext3D::SetSize(int32_t AWidth, int32_t AHeight) {
  if (AWidth < 0 || AHeight < 0) throw EArgumentOutOfRangeException("TContext3D.SetSize: negative size");
  if (AWidth == FWidth && AHeight == FHeight) return;
  FWidth = AWidth;
  FHeight = AHeight;
  FRecalcProjectionMatrix = true;
  FRecalcScreenMatrix = true;
  DoResize();
}

void TContext3D::SetScale(float Value) {
  if (!(Value > 0) || !std::isfinite(Value))
    throw EArgumentOutOfRangeException("TContext3D.SetScale: scale must be positive");
  FScale = Value;
}

// --- scenes ---------------------------------------------------------------------------------

int32_t TContext3D::GlobalBeginSceneCount() { return int32_t(Scenes().SceneStack.size()); }

TContext3D* TContext3D::CurrentSceneContext() {
  auto& stack = Scenes().SceneStack;
  return stack.empty() ? nullptr : stack.back();
}

bool TContext3D::BeginScene() {
  TCanvas::Lock();
  if (FBeginSceneCount > 0) {
    ++FBeginSceneCount;
    return true;
  }
  TSceneState& s = Scenes();
  const size_t depth = s.SceneStack.size();
  const size_t pushedStates = s.StateStack.size();
  // Undoes what a failed begin left behind, whether DoBeginScene answered False or raised
  // after the inherited step had counted the scene.
  auto rollback = Finally([&]() noexcept {
    if (s.SceneStack.size() > depth) s.SceneStack.resize(depth);
    if (s.StateStack.size() > pushedStates) s.StateStack.resize(pushedStates);
    TCanvas::Unlock();
  });
  if (depth > 0) PushContextStates();
  FRecalcProjectionMatrix = true;
  FRecalcScreenMatrix = true;
  FCurrentMatrix = TMatrix3D::Identity();
  if (!DoBeginScene()) return false;
  rollback.Dismiss();
  ++FBeginSceneCount;
  return true;
}

void TContext3D::EndScene() {
  if (FBeginSceneCount <= 0) return;
  const bool outermost = FBeginSceneCount == 1;
  auto release = Finally([&] {
    --FBeginSceneCount;
    TCanvas::Unlock();
  });
  auto forget = Finally([&] {
    if (outermost) EraseLastScene(this);
  });
  if (outermost) DoEndScene();
  forget.Dismiss();
}

bool TContext3D::DoBeginScene() {
  Scenes().SceneStack.push_back(this);
  return true;
}

void TContext3D::DoEndScene() {
  if (Scenes().SceneStack.size() > 1) PopContextStates();
  EraseLastScene(this);
}

void TContext3D::PushContextStates() {
  TSceneState& s = Scenes();
  s.StateStack.push_back(s.Current);
}

void TContext3D::PopContextStates() {
  TSceneState& s = Scenes();
  if (s.StateStack.empty()) return;
  const TContextStates saved = s.StateStack.back();
  s.StateStack.pop_back();
  TContext3D* context = CurrentSceneContext();
  if (!context) {
    // Nothing can re-apply the saved states, so nothing about the GPU state is known.
    s.Current.Clear();
    return;
  }
  for (TContextState state : saved) context->SetContextState(state);
  // A group the outer scene had not set is unknown to it again: a state the inner scene set
  // there (cs2DScene of a screen rectangle) would otherwise go on ruling the outer drawing.
  s.Current = saved;
}

// --- states ---------------------------------------------------------------------------------

void TContext3D::SetContextState(TContextState AState) {
  TContextStates& current = Scenes().Current;
  if (current.Contains(AState)) return;
  DoSetContextState(AState);
  current -= StateGroup(AState);
  current += AState;
}

bool TContext3D::GetCurrentState(TContextState AState) { return Scenes().Current.Contains(AState); }

TContextStates TContext3D::GetCurrentStates() { return Scenes().Current; }

void TContext3D::ResetCurrentStates() { Scenes().Current.Clear(); }

// --- clears, stencil, scissor -----------------------------------------------------------------

void TContext3D::Clear(const TClearTargets& ATarget, TAlphaColor AColor, float ADepth, uint32_t AStencil) {
  DoClear(ATarget, AColor, ADepth, AStencil);
}

void TContext3D::Clear(TAlphaColor AColor) {
  DoClear({TClearTarget::Color, TClearTarget::Depth, TClearTarget::Stencil}, AColor, 1.0f, 0);
}

void TContext3D::SetStencilOp(TStencilOp AFail, TStencilOp AZFail, TStencilOp AZPass) {
  DoSetStencilOp(AFail, AZFail, AZPass);
}

void TContext3D::SetStencilFunc(TStencilFunc AFunc, uint32_t ARef, uint32_t AMask) {
  DoSetStencilFunc(AFunc, ARef, AMask);
}

void TContext3D::SetScissorRect(const TRect& ARect) { DoSetScissorRect(ARect); }

// --- matrices -------------------------------------------------------------------------------

void TContext3D::SetCameraMatrix(const TMatrix3D& AMatrix) {
  FCurrentCameraMatrix = AMatrix;
  FCurrentCameraInvMatrix = AMatrix.Inverse();
}

void TContext3D::SetCameraAngleOfView(float AAngle) {
  if (AAngle == FCurrentAngleOfView) return;
  FCurrentAngleOfView = AAngle;
  FRecalcProjectionMatrix = true;
}

void TContext3D::SetRenderToMatrix(const TMatrix3D& AMatrix) {
  FRenderToMatrix = AMatrix;
  FRecalcProjectionMatrix = true;
  FRecalcScreenMatrix = true;
}

void TContext3D::SetCenterOffset(const TPointF& AOffset) {
  FCenterOffset = AOffset;
  FRecalcProjectionMatrix = true;
}

TMatrix3D TContext3D::GetCurrentProjectionMatrix() {
  if (FRecalcProjectionMatrix) {
    const float aspect = FHeight == 0 ? 1.0f : float(double(FWidth) / double(FHeight));
    TMatrix3D m = TMatrix3D::CreatePerspectiveFovRH(float(FCurrentAngleOfView * std::numbers::pi / 180.0), aspect,
                                                    ProjectionNearPlane(), ProjectionFarPlane(), false);
    if (!IdentityLike(FRenderToMatrix)) m = m * FRenderToMatrix;
    TMatrix3D offset = TMatrix3D::Identity();
    offset.m41 = FCenterOffset.X;
    offset.m42 = FCenterOffset.Y;
    m = m * offset;
    FProjectionMatrix = m;
    FInvProjectionMatrix = m.Inverse();
    FRecalcProjectionMatrix = false;
  }
  return FProjectionMatrix;
}

TMatrix3D TContext3D::GetCurrentScreenMatrix() {
  if (FRecalcScreenMatrix) {
    TMatrix3D m;
    if (!IdentityLike(FRenderToMatrix)) {
      m = FRenderToMatrix;
    } else {
      const float w = float(FWidth), h = float(FHeight);
      const float nearPlane = ProjectionNearPlane(), farPlane = ProjectionFarPlane();
      const float pi6 = float(std::numbers::pi / 6);
      const TMatrix3D ortho = TMatrix3D::CreateOrthoOffCenterRH(0, h, w, 0, nearPlane, farPlane);
      TMatrix3D p = FHeight == 0 ? TMatrix3D::CreatePerspectiveFovRH(pi6, 1, 1, 1000, false)
                                 : TMatrix3D::CreatePerspectiveFovRH(pi6, float(double(FWidth) / double(FHeight)),
                                                                     nearPlane, farPlane, false);
      p = TMatrix3D::CreateTranslation({0, 0, -2}) * p;
      const float k = p.m11 != 0 ? ortho.m11 / p.m11 : 0;
      p = TMatrix3D::CreateScaling({2 * k, -2 * k, -2 * k}) * p;
      p = TMatrix3D::CreateTranslation({-w / 2, -h / 2, 0}) * p;
      m = p;
    }
    FScreenMatrix = m;
    FInvScreenMatrix = m.Inverse();
    FRecalcScreenMatrix = false;
  }
  return FScreenMatrix;
}

float TContext3D::ProjectionNearPlane() const { return kNearPlane; }
float TContext3D::ProjectionFarPlane() const { return kFarPlane; }

TMatrix3D TContext3D::GetCurrentModelViewProjectionMatrix() {
  if (GetCurrentState(TContextState::cs2DScene)) return FCurrentMatrix * GetCurrentScreenMatrix();
  return FCurrentMatrix * FCurrentCameraMatrix * GetCurrentProjectionMatrix();
}

namespace {
TPoint3D Unproject(const TMatrix3D& AInverse, float X, float Y, float Z) {
  const TVector3D v = TVector3D(X, Y, Z, 1) * AInverse;
  if (std::fabs(v.W) < 1e-12f) return {v.X, v.Y, v.Z};
  return {v.X / v.W, v.Y / v.W, v.Z / v.W};
}
}  // namespace

void TContext3D::Pick(float X, float Y, TProjection AProjection, TVector3D& RayPos, TVector3D& RayDir) {
  const float nx = FWidth > 0 ? 2 * X / float(FWidth) - 1 : 0;
  const float ny = FHeight > 0 ? 1 - 2 * Y / float(FHeight) : 0;
  TPoint3D start, farPoint;
  if (AProjection == TProjection::Screen) {
    const TMatrix3D inv = GetCurrentScreenMatrix().Inverse();
    start = Unproject(inv, nx, ny, -1);
    farPoint = Unproject(inv, nx, ny, 1);
  } else {
    const TMatrix3D inv = (FCurrentCameraMatrix * GetCurrentProjectionMatrix()).Inverse();
    start = FCurrentCameraMatrix.EyePosition();
    farPoint = Unproject(inv, nx, ny, 1);
  }
  RayPos = TVector3D(start, 1);
  RayDir = TVector3D((farPoint - start).Normalize(), 0);
}

TPoint3D TContext3D::WorldToScreen(TProjection AProjection, const TPoint3D& APoint) {
  const TMatrix3D m = AProjection == TProjection::Screen ? GetCurrentScreenMatrix()
                                                         : FCurrentCameraMatrix * GetCurrentProjectionMatrix();
  TVector3D v = TVector3D(APoint, 1) * m;
  if (std::fabs(v.W) >= 1e-12f) v = TVector3D(v.X / v.W, v.Y / v.W, v.Z / v.W, 1);
  return {(v.X + 1) / 2 * float(FWidth), (1 - v.Y) / 2 * float(FHeight), v.Z};
}

// --- drawing --------------------------------------------------------------------------------

void TContext3D::DrawPrimitives(TPrimitivesKind AKind, const void* Vertices, const void* Indices,
                                const TVertexDeclaration& VertexDeclaration, int32_t VertexSize,
                                int32_t VertexCount, int32_t IndexSize, int32_t IndexCount, TMaterial* AMaterial,
                                float AOpacity) {
  if (VertexSize < 0 || VertexCount < 0 || IndexSize < 0 || IndexCount < 0)
    throw EArgumentOutOfRangeException("TContext3D.DrawPrimitives: negative size or count");
  FCurrentOpacity = AOpacity;
  if (!AMaterial) {
    DoDrawPrimitives(AKind, Vertices, Indices, VertexDeclaration, VertexSize, VertexCount, IndexSize, IndexCount);
    return;
  }
  AMaterial->Apply(this);
  // After a failed draw the draw's error is the one that counts; the reset's is logged.
  auto reset = Finally([&] { AMaterial->Reset(this); });
  ApplyMaterialMatrices(AMaterial);
  DoDrawPrimitives(AKind, Vertices, Indices, VertexDeclaration, VertexSize, VertexCount, IndexSize, IndexCount);
}

void TContext3D::ApplyMaterialMatrices(TMaterial* AMaterial) {
  using P = TMaterial::TProperty;
  std::string name = AMaterial->GetMaterialProperty(P::ModelViewProjection);
  if (!name.empty()) SetShaderVariable(name, GetCurrentModelViewProjectionMatrix());
  name = AMaterial->GetMaterialProperty(P::ModelView);
  if (!name.empty()) SetShaderVariable(name, FCurrentMatrix);
  name = AMaterial->GetMaterialProperty(P::ModelViewInverseTranspose);
  if (!name.empty()) SetShaderVariable(name, FCurrentMatrix.Inverse().Transpose());
}

void TContext3D::DoDrawPrimitives(TPrimitivesKind AKind, const void* Vertices, const void* Indices,
                                  const TVertexDeclaration& VertexDeclaration, int32_t VertexSize,
                                  int32_t VertexCount, int32_t IndexSize, int32_t IndexCount) {
  if (IndexSize != 4 || IndexCount == 0 || !Indices || GetIndexBufferSupport() != TIndexBufferSupport::Int16) {
    DoDrawPrimitivesBatch(AKind, Vertices, Indices, VertexDeclaration, VertexSize, VertexCount, IndexSize,
                          IndexCount);
    return;
  }
  FNarrowIndices.resize(size_t(IndexCount));
  const auto* wide = static_cast<const uint8_t*>(Indices);
  for (int32_t i = 0; i < IndexCount; ++i) {
    uint32_t index;
    std::memcpy(&index, wide + size_t(i) * 4, 4);
    if (index > 0xFFFF)
      throw EContext3DException("TContext3D.DoDrawPrimitives: index " + std::to_string(index) +
                                " needs 32-bit indices, which this context does not support");
    FNarrowIndices[size_t(i)] = uint16_t(index);
  }
  DoDrawPrimitivesBatch(AKind, Vertices, FNarrowIndices.data(), VertexDeclaration, VertexSize, VertexCount, 2,
                        IndexCount);
}

namespace {
void DrawBuffers(TContext3D* AContext, TPrimitivesKind AKind, const TVertexBuffer* Vertices,
                 const TIndexBuffer* Indices, TMaterial* AMaterial, float AOpacity) {
  if (!Vertices || !Indices) return;
  AContext->DrawPrimitives(AKind, Vertices->Buffer(), Indices->Buffer(), Vertices->GetVertexDeclarations(),
                           Vertices->VertexSize(), Vertices->Length(), Indices->IndexSize(), Indices->Length(),
                           AMaterial, AOpacity);
}
}  // namespace

void TContext3D::DrawTriangles(const TVertexBuffer* Vertices, const TIndexBuffer* Indices, TMaterial* AMaterial,
                               float AOpacity) {
  DrawBuffers(this, TPrimitivesKind::Triangles, Vertices, Indices, AMaterial, AOpacity);
}

void TContext3D::DrawLines(const TVertexBuffer* Vertices, const TIndexBuffer* Indices, TMaterial* AMaterial,
                           float AOpacity) {
  DrawBuffers(this, TPrimitivesKind::Lines, Vertices, Indices, AMaterial, AOpacity);
}

void TContext3D::DrawPoints(const TVertexBuffer* Vertices, const TIndexBuffer* Indices, TMaterial* AMaterial,
                            float AOpacity) {
  DrawBuffers(this, TPrimitivesKind::Points, Vertices, Indices, AMaterial, AOpacity);
}

TColorMaterial* TContext3D::HelperMaterial(TAlphaColor AColor) {
  if (!FHelperMaterial) FHelperMaterial.reset(New<TColorMaterial>());
  FHelperMaterial->SetColor(AColor);
  return FHelperMaterial.get();
}

void TContext3D::DrawHelper(TPrimitivesKind AKind, const TPoint3D* AVertices, int32_t AVertexCount,
                            const uint16_t* AIndices, int32_t AIndexCount, float AOpacity, TAlphaColor AColor) {
  static_assert(sizeof(TPoint3D) == 12);
  static const TVertexDeclaration declaration{{TVertexFormat::Vertex, 0}};
  DrawPrimitives(AKind, AVertices, AIndices, declaration, int32_t(sizeof(TPoint3D)), AVertexCount, 2, AIndexCount,
                 HelperMaterial(AColor), AOpacity);
}

namespace {
// Corner i of a box: bit 0 picks +X, bit 1 +Y, bit 2 +Z.
void BoxCorners(const TPoint3D& ACenter, const TPoint3D& ASize, TPoint3D (&ACorners)[8]) {
  const TPoint3D h(ASize.X / 2, ASize.Y / 2, ASize.Z / 2);
  for (int i = 0; i < 8; ++i)
    ACorners[i] = {ACenter.X + ((i & 1) ? h.X : -h.X), ACenter.Y + ((i & 2) ? h.Y : -h.Y),
                   ACenter.Z + ((i & 4) ? h.Z : -h.Z)};
}
}  // namespace

void TContext3D::DrawLine(const TPoint3D& AStart, const TPoint3D& AEnd, float AOpacity, TAlphaColor AColor) {
  const TPoint3D vertices[2] = {AStart, AEnd};
  static constexpr uint16_t indices[2] = {0, 1};
  DrawHelper(TPrimitivesKind::Lines, vertices, 2, indices, 2, AOpacity, AColor);
}

void TContext3D::DrawCube(const TPoint3D& ACenter, const TPoint3D& ASize, float AOpacity, TAlphaColor AColor) {
  TPoint3D corners[8];
  BoxCorners(ACenter, ASize, corners);
  static constexpr uint16_t edges[24] = {0, 1, 2, 3, 4, 5, 6, 7, 0, 2, 1, 3, 4, 6, 5, 7, 0, 4, 1, 5, 2, 6, 3, 7};
  DrawHelper(TPrimitivesKind::Lines, corners, 8, edges, 24, AOpacity, AColor);
}

void TContext3D::FillCube(const TPoint3D& ACenter, const TPoint3D& ASize, float AOpacity, TAlphaColor AColor) {
  TPoint3D corners[8];
  BoxCorners(ACenter, ASize, corners);
  // Two triangles per face, counter-clockwise seen from outside.
  static constexpr uint16_t faces[36] = {0, 2, 3, 0, 3, 1, 4, 5, 7, 4, 7, 6, 0, 4, 6, 0, 6, 2,
                                         1, 3, 7, 1, 7, 5, 0, 1, 5, 0, 5, 4, 2, 6, 7, 2, 7, 3};
  DrawHelper(TPrimitivesKind::Triangles, corners, 8, faces, 36, AOpacity, AColor);
}

// --- copies ---------------------------------------------------------------------------------

void TContext3D::CopyToBitmap(TBitmap* Dest, const TRect& ARect) {
  if (Dest) DoCopyToBitmap(Dest, ARect);
}

void TContext3D::CopyToBits(void* Bits, int32_t Pitch, const TRect& ARect) {
  if (!Bits || ARect.IsEmpty()) return;
  if (int64_t(Pitch) < int64_t(ARect.Width()) * 4)
    throw EArgumentOutOfRangeException("TContext3D.CopyToBits: pitch smaller than a row");
  DoCopyToBits(Bits, Pitch, ARect);
}

void TContext3D::DoCopyToBitmap(TBitmap* Dest, const TRect& ARect) {
  if (FWidth <= 0 || FHeight <= 0) return;
  const TRect r(std::max(ARect.Left, 0), std::max(ARect.Top, 0), std::min(ARect.Right, FWidth),
                std::min(ARect.Bottom, FHeight));
  if (r.IsEmpty()) return;
  const size_t pitch = size_t(FWidth) * 4;
  std::vector<uint8_t> frame(pitch * size_t(FHeight));
  CopyToBits(frame.data(), int32_t(pitch), TRect(0, 0, FWidth, FHeight));
  TBitmapData data;
  if (!Dest->Map(TMapAccess::ReadWrite, data)) return;
  const int32_t right = std::min(r.Right, data.Width);
  const int32_t bottom = std::min(r.Bottom, data.Height);
  for (int32_t y = r.Top; y < bottom && r.Left < right; ++y)
    std::memcpy(static_cast<uint8_t*>(data.GetScanline(y)) + size_t(r.Left) * 4,
                frame.data() + size_t(y) * pitch + size_t(r.Left) * 4, size_t(right - r.Left) * 4);
  Dest->Unmap(data);
}

// --- shaders --------------------------------------------------------------------------------

void TContext3D::SetShaders(TContextShader* VertexShader, TContextShader* PixelShader) {
  if (!VertexShader || !PixelShader) return;
  if (VertexShader->GetHandle() == 0) TContextManager::InitializeShader(VertexShader);
  if (PixelShader->GetHandle() == 0) TContextManager::InitializeShader(PixelShader);
  DoSetVertexPixelShaders(VertexShader, PixelShader);
}

void TContext3D::SetShaderVariable(const std::string& AName, std::span<const TVector3D> AData) {
  DoSetShaderVariable(AName, AData);
}

void TContext3D::SetShaderVariable(const std::string& AName, TTexture* ATexture) {
  DoSetShaderVariable(AName, ATexture);
}

void TContext3D::SetShaderVariable(const std::string& AName, const TMatrix3D& AMatrix) {
  DoSetShaderVariableMatrix(AName, AMatrix);
}

void TContext3D::SetShaderVariable(const std::string& AName, TAlphaColor AColor) {
  const TAlphaColorF c(AColor);
  const TVector3D v(c.R, c.G, c.B, c.A);
  DoSetShaderVariable(AName, std::span<const TVector3D>(&v, 1));
}

void TContext3D::DoSetShaderVariableMatrix(const std::string& AName, const TMatrix3D& AMatrix) {
  const TMatrix3D t = AMatrix.Transpose();
  const TVector3D rows[4] = {t.Row(0), t.Row(1), t.Row(2), t.Row(3)};
  DoSetShaderVariable(AName, std::span<const TVector3D>(rows, 4));
}

// --- TContextManager ------------------------------------------------------------------------

void TContextManager::RegisterContext(const TContextClass* AClass, bool ADefault) {
  if (!AClass) throw EArgumentNilException("TContextManager.RegisterContext: no class");
  TContextRegistry& r = ContextRegistry();
  std::lock_guard lock(r.Mutex);
  if (std::find(r.Classes.begin(), r.Classes.end(), AClass) == r.Classes.end()) r.Classes.push_back(AClass);
  if (ADefault) r.Default = AClass;
}

void TContextManager::UnregisterContext(const TContextClass* AClass) {
  TContextRegistry& r = ContextRegistry();
  std::lock_guard lock(r.Mutex);
  std::erase(r.Classes, AClass);
  if (r.Default == AClass) r.Default = nullptr;
}

const TContextClass* TContextManager::DefaultContextClass() {
  TContextRegistry& r = ContextRegistry();
  std::lock_guard lock(r.Mutex);
  if (r.Default) return r.Default;
  return r.Classes.empty() ? nullptr : r.Classes.front();
}

std::vector<const TContextClass*> TContextManager::ContextClasses() {
  TContextRegistry& r = ContextRegistry();
  std::lock_guard lock(r.Mutex);
  return r.Classes;
}

namespace {
const TContextClass* RequireDefault() {
  const TContextClass* cls = TContextManager::DefaultContextClass();
  if (!cls) throw EContext3DException("No 3D context class is registered");
  return cls;
}
}  // namespace

TContext3D* TContextManager::CreateFromWindow(TWindowHandle AParent, int32_t AWidth, int32_t AHeight,
                                              TMultisample AMultisample, bool ADepthStencil) {
  return RequireDefault()->CreateFromWindow(AParent, AWidth, AHeight, AMultisample, ADepthStencil);
}

TContext3D* TContextManager::CreateFromTexture(TTexture* ATexture, TMultisample AMultisample, bool ADepthStencil) {
  return RequireDefault()->CreateFromTexture(ATexture, AMultisample, ADepthStencil);
}

void TContextManager::InitializeShader(TContextShader* AShader) {
  if (!AShader) return;
  if (const TContextClass* cls = DefaultContextClass()) cls->DoInitializeShader(AShader);
}

void TContextManager::FinalizeShader(TContextShader* AShader) {
  if (!AShader) return;
  if (const TContextClass* cls = DefaultContextClass())
    cls->DoFinalizeShader(AShader);
  else
    AShader->SetHandle(0);
}

}  // namespace quorvel
