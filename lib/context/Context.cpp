#include "lib/context/Context.h"

#include <algorithm>
#include <cstring>
#include <cmath>
#include <exception>
#include <memory>
#include <numbers>
#include <random>

#include "framework/gui/Canvas.h"
#include "framework/math/AlphaColor.h"
#include "framework/math/Point.h"
#include "framework/math/Point3D.h"
#include "framework/rtl/Finally.h"
#include "framework/rtl/Log.h"
#include "framework/rtl/Units.h"

#include "lib/context/ContextBuffersFrameBuffers.h"
#include "lib/context/ContextShader.h"
#include "lib/context/ContextTexturing.h"
#include "lib/passes/Controller.h"
#include "framework/rtl/ResourceStrings.h"

namespace quorvel {

float DefaultNearPlane = 0.1f;
float DefaultFarPlane = 10000.0f;
bool ContextDesignTime = false;
bool RaiseShaderCompileErrors = true;
TContextMessageCallback ContextMessageCallback;
int32_t ContextMaxDrawBuffers = 0;
bool DefaultBlendingInitialized = false;

namespace {

TOwned<TExtensions> GSharedExtensions;  // freed at unit finalisation

void InitContextUnit() {
  DefaultNearPlane = 0.1f;
  DefaultFarPlane = 10000.0f;
  RaiseShaderCompileErrors = true;
}

void FinContextUnit() { FreeSharedExtensions(); }

const TUnitRegistration ContextUnit{{"Quorvel.Context", {"Fw.Context3D"}, &InitContextUnit, &FinContextUnit}};

[[noreturn]] void Abstract(const TClass& AClass, const char* AName) {
  throw EAbstractError("Abstract error: " + AClass.ClassName() + "." + AName);
}

int32_t ClampPlaneIndex(int32_t AIndex) { return AIndex < 0 ? 0 : (AIndex > ClipPlaneCount - 1 ? ClipPlaneCount - 1 : AIndex); }

}  // namespace

TExtensions& SharedExtensions() {
  if (!GSharedExtensions) GSharedExtensions.reset(ExtensionsClass->Create());
  return *GSharedExtensions;
}

void FreeSharedExtensions() { FreeAndNil(GSharedExtensions); }

// --- TQuorvelContextClass ----------------------------------------------------------------------

FW_CLASS_IMPL_META(TQuorvelContext, "Quorvel.Context", TQuorvelContextClass)
FW_CLASS_NO_MEMBERS(TQuorvelContext)

void TQuorvelContextClass::CreateSharedContext() const { Abstract(*this, "CreateSharedContext"); }
void TQuorvelContextClass::DestroySharedContext() const { Abstract(*this, "DestroySharedContext"); }
int32_t TQuorvelContextClass::PlatformDirectStateAccess() const { Abstract(*this, "PlatformDirectStateAccess"); }
void TQuorvelContextClass::PlatformSetTextureFiltering(TTexture*, TTextureStyles, uint32_t, uint32_t) const {
  Abstract(*this, "PlatformSetTextureFiltering");
}
void TQuorvelContextClass::PlatformSetPixelState(int32_t, int32_t, int32_t, int32_t, int32_t) const {
  Abstract(*this, "PlatformSetPixelState");
}
void TQuorvelContextClass::PlatformUnsetPixelState() const { Abstract(*this, "PlatformUnsetPixelState"); }
bool TQuorvelContextClass::PlatformIsContextAvailable() const { Abstract(*this, "PlatformIsContextAvailable"); }
std::string TQuorvelContextClass::PlatformGetVendorName() const { Abstract(*this, "PlatformGetVendorName"); }
std::string TQuorvelContextClass::PlatformGetRendererName() const { Abstract(*this, "PlatformGetRendererName"); }
std::string TQuorvelContextClass::PlatformGetVersion() const { Abstract(*this, "PlatformGetVersion"); }
std::string TQuorvelContextClass::PlatformGetExtensionString() const {
  Abstract(*this, "PlatformGetExtensionString");
}
bool TQuorvelContextClass::PlatformHasAnyErrors() const { Abstract(*this, "PlatformHasAnyErrors"); }
bool TQuorvelContextClass::PlatformHasAnyErrors(intptr_t&) const { Abstract(*this, "PlatformHasAnyErrors"); }
TContextShaderArch TQuorvelContextClass::PlatformGetShaderArch() const { Abstract(*this, "PlatformGetShaderArch"); }
int32_t TQuorvelContextClass::PlatformMaxTextureSize() const { Abstract(*this, "PlatformMaxTextureSize"); }
int32_t TQuorvelContextClass::PlatformMaxTexture3DSize() const { Abstract(*this, "PlatformMaxTexture3DSize"); }
int32_t TQuorvelContextClass::PlatformTextureUnitCount() const { Abstract(*this, "PlatformTextureUnitCount"); }
int32_t TQuorvelContextClass::PlatformMaxTextureImageUnits() const {
  Abstract(*this, "PlatformMaxTextureImageUnits");
}
int32_t TQuorvelContextClass::PlatformMaxVertexShaderUniformBlocks() const {
  Abstract(*this, "PlatformMaxVertexShaderUniformBlocks");
}
int32_t TQuorvelContextClass::PlatformMaxFragmentShaderUniformBlocks() const {
  Abstract(*this, "PlatformMaxFragmentShaderUniformBlocks");
}
int32_t TQuorvelContextClass::PlatformMaxUniformBlockSize() const { Abstract(*this, "PlatformMaxUniformBlockSize"); }
int32_t TQuorvelContextClass::PlatformMaxDrawBuffers() const { Abstract(*this, "PlatformMaxDrawBuffers"); }
int32_t TQuorvelContextClass::PlatformMaxLightCount() const { Abstract(*this, "PlatformMaxLightCount"); }
TContextStyles TQuorvelContextClass::PlatformStyle() const { Abstract(*this, "PlatformStyle"); }
bool TQuorvelContextClass::PlatformTextureCompressionAllowed() const {
  Abstract(*this, "PlatformTextureCompressionAllowed");
}
TBlendSetting TQuorvelContextClass::GetDefaultBlending() const { Abstract(*this, "GetDefaultBlending"); }
int32_t TQuorvelContextClass::GetTextureByTextureIndex(int32_t) const {
  Abstract(*this, "GetTextureByTextureIndex");
}

bool TQuorvelContextClass::TextureCompressionAllowed() const {
  return TQuorvelContext::PlatformClass()->PlatformTextureCompressionAllowed();
}
TContextStyles TQuorvelContextClass::Style() const { return TQuorvelContext::PlatformClass()->PlatformStyle(); }
int32_t TQuorvelContextClass::MaxLightCount() const {
  return TQuorvelContext::PlatformClass()->PlatformMaxLightCount();
}
int32_t TQuorvelContextClass::MaxTextureSize() const {
  return TQuorvelContext::PlatformClass()->PlatformMaxTextureSize();
}

TTexture* TQuorvelContextClass::DoBitmapToTexture(TBitmap* ABitmap) const {
  if (!ABitmap) return nullptr;
  TOwned<TQuorvelTexture> texture(TQuorvelTexture::Create());
  texture->Assign(ABitmap);
  return texture.release();
}

// --- TQuorvelContext: class functions ------------------------------------------------------------

const TQuorvelContextClass* TQuorvelContext::PlatformClass() {
  const TContextClass* cls = TContextManager::DefaultContextClass();
  const TQuorvelContextClass* engine = cls ? cls->MetaAs<TQuorvelContextClass>() : nullptr;
  // Without an engine class registered the abstract answers (EAbstractError) are the honest ones.
  return engine ? engine : StaticMeta();
}

int32_t TQuorvelContext::DirectStateAccess() { return PlatformClass()->PlatformDirectStateAccess(); }
void TQuorvelContext::DoSetTextureFiltering(TTexture* ATexture, TTextureStyles AStyles, uint32_t ATextureKind,
                                            uint32_t AInternalFormat) {
  PlatformClass()->PlatformSetTextureFiltering(ATexture, AStyles, ATextureKind, AInternalFormat);
}
void TQuorvelContext::SetPixelState(int32_t AWidth, int32_t AHeight, int32_t ADepth, int32_t ABytesPerPixel,
                                    int32_t APitch) {
  PlatformClass()->PlatformSetPixelState(AWidth, AHeight, ADepth, ABytesPerPixel, APitch);
}
void TQuorvelContext::UnsetPixelState() { PlatformClass()->PlatformUnsetPixelState(); }
bool TQuorvelContext::IsContextAvailable() { return PlatformClass()->PlatformIsContextAvailable(); }
std::string TQuorvelContext::GetVendorName() { return PlatformClass()->PlatformGetVendorName(); }
std::string TQuorvelContext::GetRendererName() { return PlatformClass()->PlatformGetRendererName(); }
std::string TQuorvelContext::GetVersion() { return PlatformClass()->PlatformGetVersion(); }
std::string TQuorvelContext::GetExtensionString() { return PlatformClass()->PlatformGetExtensionString(); }
bool TQuorvelContext::HasAnyErrors() { return PlatformClass()->PlatformHasAnyErrors(); }
bool TQuorvelContext::HasAnyErrors(intptr_t& AError) { return PlatformClass()->PlatformHasAnyErrors(AError); }
TContextShaderArch TQuorvelContext::GetShaderArch() { return PlatformClass()->PlatformGetShaderArch(); }
int32_t TQuorvelContext::MaxTexture3DSize() { return PlatformClass()->PlatformMaxTexture3DSize(); }
int32_t TQuorvelContext::MaxTextureImageUnits() { return PlatformClass()->PlatformMaxTextureImageUnits(); }
int32_t TQuorvelContext::MaxVertexShaderUniformBlocks() {
  return PlatformClass()->PlatformMaxVertexShaderUniformBlocks();
}
int32_t TQuorvelContext::MaxFragmentShaderUniformBlocks() {
  return PlatformClass()->PlatformMaxFragmentShaderUniformBlocks();
}
int32_t TQuorvelContext::MaxUniformBlockSize() { return PlatformClass()->PlatformMaxUniformBlockSize(); }
int32_t TQuorvelContext::MaxDrawBuffers() { return PlatformClass()->PlatformMaxDrawBuffers(); }
bool TQuorvelContext::TextureCompressionAllowed() { return PlatformClass()->TextureCompressionAllowed(); }

void TQuorvelContext::ResetDrawCallDiagnostics() {
  GlobalDrawCalls.exchange(0);
  GlobalDrawInstances.exchange(0);
  GlobalVertexCount.exchange(0);
  GlobalIndexCount.exchange(0);
}

const TQuorvelContextClass* TQuorvelContext::GetQuorvelClass() const {
  const TQuorvelContextClass* cls = ClassType()->MetaAs<TQuorvelContextClass>();
  return cls ? cls : StaticMeta();
}

// --- life cycle ----------------------------------------------------------------------------------

TQuorvelContext::TQuorvelContext(TWindowHandle AParent, int32_t AWidth, int32_t AHeight, TMultisample AMultisample,
                                 bool ADepthStencil)
    : TContext3D(AParent, AWidth, AHeight, AMultisample, ADepthStencil) {}

TQuorvelContext::TQuorvelContext(TTexture* ATexture, TMultisample AMultisample, bool ADepthStencil)
    : TContext3D(ATexture, AMultisample, ADepthStencil) {}

void TQuorvelContext::AfterConstruction() {
  TContext3D::AfterConstruction();  // DoInitContext
  FSmoothTargets.Clear();
  if (!FTexture) return;  // a window context has no registry and no buffers
  if (!Valid()) throw Exception("TQuorvelContext.CreateFromTexture failed - invalid context");
  FPointThreshold = 5.0f;
  FPointSizeMin = 1.0f;
  FPointSizeMax = 512.0f;
  CreateRenderPasses();
  if (Valid()) CreateBuffer();
}

TQuorvelContext::~TQuorvelContext() {
  // Normally freed by DoFreeBuffer already; not when construction failed after making them.
  FreeQuietlyAndNil(FDefaultMSFrameBuf, "TQuorvelContext.Destroy: multisample frame buffer");
  FreeQuietlyAndNil(FDefaultFrameBuf, "TQuorvelContext.Destroy: default frame buffer");
  FreeQuietlyAndNil(FTranslucentBuf, "TQuorvelContext.Destroy: translucent frame buffer");
  FFBOStack.clear();
  FRenderPassStack.clear();
  FIntermediatePasses.clear();
  if (FPasses) FPasses->OnPassFreed = nullptr;
  FreeQuietlyAndNil(FPasses, "TQuorvelContext.Destroy: render passes");
  // Freed here, not through the virtual FreeInstanceBuffer: no virtual calls in a destructor.
  FreeQuietlyAndNil(FInstanceVAO, "TQuorvelContext.Destroy: instance buffer");
}

void TQuorvelContext::DoInitContext() {
  TContext3D::DoInitContext();
  FNearPlane = DefaultNearPlane;
  FFarPlane = DefaultFarPlane;
}

void TQuorvelContext::DoFreeBuffer() {
  FreeAndNil(FDefaultMSFrameBuf);
  FreeAndNil(FDefaultFrameBuf);
  FreeAndNil(FTranslucentBuf);
}

void TQuorvelContext::DoResize() {
  if (!Valid()) return;
  if (FDefaultMSFrameBuf)
    FDefaultMSFrameBuf->Resize(FWidth, FHeight);
  else if (FDefaultFrameBuf)
    FDefaultFrameBuf->Resize(FWidth, FHeight);
  if (FTranslucentBuf) FTranslucentBuf->Resize(FWidth, FHeight);
}

// --- scenes --------------------------------------------------------------------------------------

void TQuorvelContext::SceneSize(int32_t& AWidth, int32_t& AHeight) const {
  if (TTexture* texture = GetCurrentTexture()) {
    AWidth = texture->GetWidth();
    AHeight = texture->GetHeight();
  } else {
    AWidth = int32_t(std::lround(double(FWidth) * FScale));
    AHeight = int32_t(std::lround(double(FHeight) * FScale));
  }
}

bool TQuorvelContext::DoBeginScene() {
  if (!Valid()) return false;
  StorePreviousContextSize();
  int32_t width = 0, height = 0;
  SceneSize(width, height);
  SetContextSize(0, 0, width, height);
  intptr_t error = 0;
  if (HasAnyErrors(error)) RaiseContextException(this, &SCannotBeginRenderingScene, {ClassName(), error});
  if (!CanBeginScene()) return false;
  const bool result = TContext3D::DoBeginScene();
  // The framework counted the scene already; a begin that raises must not leave it open. Its
  // end step pops a state entry when scenes are nested: give it one of its own, so that the
  // state stack is as before and the caller's rollback of its own entry is the only one.
  auto close = Finally([this] {
    if (GlobalBeginSceneCount() > 1) PushContextStates();
    TContext3D::DoEndScene();
  });
  if (FFBOStack.empty()) {
    BindDefaultBuffer();
    if (!FFBOStack.empty()) FDefaultBufferFallbackBind = true;
  }
  close.Dismiss();
  return result;
}

void TQuorvelContext::DoEndScene() {
  // Whatever raises here, the fallback unbind and the framework's end step still run, so the
  // context never stays "in scene" with its default frame buffer bound.
  std::exception_ptr error;
  if (Valid()) {
    try {
      SetContextSize(FOldViewport);
      intptr_t code = 0;
      if (HasAnyErrors(code)) RaiseContextException(this, &SCannotEndRenderingScene, {ClassName(), code});
    } catch (...) {
      error = std::current_exception();
    }
    if (FDefaultBufferFallbackBind && !FFBOStack.empty()) {
      try {
        UnbindDefaultBuffer();
      } catch (...) {
        if (!error) error = std::current_exception();
      }
    }
  }
  FDefaultBufferFallbackBind = false;
  TContext3D::DoEndScene();
  if (error) std::rethrow_exception(error);
}

bool TQuorvelContext::BeginSceneRendering() {
  TCanvas::Lock();
  if (FBeginSceneCount != 0) {
    const bool result = FBeginSceneCount > 0;
    if (result) ++FBeginSceneCount;
    return result;
  }
  // A begin that answers False or raises leaves nothing behind: neither the lock nor the state
  // entry it pushed, which the next end of an outer scene would restore in place of its own.
  bool pushed = false;
  auto rollback = Finally([&] {
    if (pushed) PopContextStates();
    TCanvas::Unlock();
  });
  if (GlobalBeginSceneCount() > 1) {
    PushContextStates();
    pushed = true;
  }
  if (!DoBeginScene()) return false;
  rollback.Dismiss();
  ++FBeginSceneCount;
  return true;
}

void TQuorvelContext::EndSceneRendering() {
  // Only a matching begin holds the lock; releasing it otherwise would unlock a mutex this
  // thread does not own.
  if (FBeginSceneCount <= 0) return;
  auto release = Finally([&] {
    --FBeginSceneCount;
    TCanvas::Unlock();
  });
  if (FBeginSceneCount == 1) DoEndScene();
}

// --- frame buffers -------------------------------------------------------------------------------

void TQuorvelContext::BindDefaultBuffer() {
  if (TFrameBufferObject* fbo = DefaultBuffer()) fbo->Bind(this);
}

void TQuorvelContext::UnbindDefaultBuffer() {
  if (TFrameBufferObject* fbo = DefaultBuffer()) fbo->Unbind(this);
}

void TQuorvelContext::PushFBO(TFrameBufferObject* AFBO) { FFBOStack.push_back(AFBO); }

TFrameBufferObject* TQuorvelContext::PopFBO() {
  if (FFBOStack.empty()) return nullptr;
  TFrameBufferObject* top = FFBOStack.back();
  FFBOStack.pop_back();
  return top;
}

TFrameBufferObject* TQuorvelContext::GetCurrentlyBoundBuffer() const {
  return FFBOStack.empty() ? nullptr : FFBOStack.back();
}

TTexture* TQuorvelContext::GetCurrentTexture() const {
  if (!FFBOStack.empty()) return FFBOStack.back() ? FFBOStack.back()->GetTextureByRenderTarget(TRenderTarget::Color_0) : nullptr;
  return FTexture;
}

TTexture* TQuorvelContext::GetDefaultTexture() const {
  return FDefaultFrameBuf ? FDefaultFrameBuf->GetTextureByRenderTarget(TRenderTarget::Color_0) : nullptr;
}

void TQuorvelContext::AttachTextureToDefaultBuffer(TTexture* ATexture, TRenderTarget ATarget) {
  if (!ATexture || !FDefaultFrameBuf) return;
  if (ATexture->GetHandle() == 0) ATexture->Initialize();
  FDefaultFrameBuf->AttachTexture(this, ATexture, ATarget);
}

void TQuorvelContext::AttachTextureToTranslucentBuffer(TTexture* ATexture, TRenderTarget ATarget) {
  if (!ATexture || !FTranslucentBuf) return;
  if (ATexture->GetHandle() == 0) ATexture->Initialize();
  FTranslucentBuf->AttachTexture(this, ATexture, ATarget);
}

void TQuorvelContext::LinkDepthBufferToTranslucentBuffer() {
  if (!FTranslucentBuf) return;
  int32_t width = 0, height = 0;
  SceneSize(width, height);
  if (TFrameBufferObject* source = DefaultBuffer()) FTranslucentBuf->AttachDepthBuffer(source->GetDepthBuf(), TPoint(width, height));
}

// --- matrices ------------------------------------------------------------------------------------

void TQuorvelContext::SetProjectionMatrix(const TMatrix3D& AMat) {
  FProjectionMatrix = AMat;
  FRecalcProjectionMatrix = false;
}

TPoint3D TQuorvelContext::ScreenToWorld(const TPointF& AScreenPos, TProjection AProjection) {
  TVector3D pos, dir;
  Pick(AScreenPos.X, AScreenPos.Y, AProjection, pos, dir);
  const TPoint3D p(pos.X, pos.Y, pos.Z);
  const TPoint3D d(dir.X, dir.Y, dir.Z);
  return p + d * p.Length();
}

// --- render states -------------------------------------------------------------------------------

void TQuorvelContext::SetContextStates(const TFwContextStates& AStates) {
  {
    FMultipleSetContextState.fetch_add(1);
    auto done = Finally([&] { FMultipleSetContextState.fetch_sub(1); });
    for (TContextState state : AStates) SetContextState(state);
  }
  DoSetContextStates(AStates);
}

void TQuorvelContext::ClearEx(const TRenderTargets& ATarget, TAlphaColor AColor, float ADepth, uint32_t AStencil) {
  DoClearEx(ATarget, AColor, ADepth, AStencil);
}

void TQuorvelContext::ClearBufferFloat(int32_t ABuf, const float* APtr) { DoClearBufferFloat(ABuf, APtr); }

void TQuorvelContext::SetTwoSidedRendering(TStencilOpEx AFrontFaceFail, TStencilOpEx AFrontFaceZFail,
                                           TStencilOpEx AFrontFaceZPass, TStencilOpEx ABackFaceFail,
                                           TStencilOpEx ABackFaceZFail, TStencilOpEx ABackFaceZPass,
                                           uint32_t AFrontStencilMask, uint32_t ABackStencilMask) {
  DoSetTwoSidedRendering(AFrontFaceFail, AFrontFaceZFail, AFrontFaceZPass, ABackFaceFail, ABackFaceZFail,
                         ABackFaceZPass, AFrontStencilMask, ABackStencilMask);
}

void TQuorvelContext::SetPolygonOffsetFill(TPolygonOffsetFill AMode, float AFactor, float AUnits) {
  DoSetPolygonOffsetFill(AMode, AFactor, AUnits);
}

void TQuorvelContext::SetSmoothMode(const TSmoothSetting& ASetting) { DoSetSmoothMode(ASetting); }

void TQuorvelContext::SetPointSprites(bool AEnabled) { DoSetPointSprites(AEnabled); }

void TQuorvelContext::SetPointSpriteTextureMode() { DoSetPointSpriteTextureMode(); }

uint32_t TQuorvelContext::MemoryBarrierFlagsToValue(const TMemoryBarrierFlags& AFlags) {
  uint32_t result = 0;
  for (TMemoryBarrierFlag flag : AFlags) result |= MemoryBarrierFlagToValue(flag);
  return result;
}

// --- blending ------------------------------------------------------------------------------------

TBlendSetting TQuorvelContext::GetGlobalBlending() const { return GetQuorvelClass()->GetDefaultBlending(); }

TBlendSettings TQuorvelContext::GetBlendings() {
  if (!DefaultBlendingInitialized) SetBlendingByIndex(0, GetQuorvelClass()->GetDefaultBlending());
  return FBlendingBuffers;
}

void TQuorvelContext::SetBlendings(const TBlendSettings& AValue) {
  const TBlendSettings value = AValue;  // AValue may be this context's own table
  FBlendingBuffers = {};
  for (uint32_t i = 0; i < uint32_t(BlendingBufferCount); ++i) SetBlendingByIndex(i, value[i]);
}

TBlendSetting TQuorvelContext::GetBlendingByIndex(uint32_t AIndex) const {
  if (ContextMaxDrawBuffers > 0 && AIndex < uint32_t(ContextMaxDrawBuffers) && AIndex < uint32_t(BlendingBufferCount))
    return FBlendingBuffers[AIndex];
  return TBlendSetting::Create(false);
}

// --- clip planes ---------------------------------------------------------------------------------

void TQuorvelContext::ActivateClipPlane(int32_t AIndex, const TPlaneF& APlane) {
  TClipPlaneF& entry = FClippingPlanes[size_t(ClampPlaneIndex(AIndex))];
  entry.Plane = APlane;
  entry.Enabled = true;
}

void TQuorvelContext::DeactivateClipPlane(int32_t AIndex) {
  TClipPlaneF& entry = FClippingPlanes[size_t(ClampPlaneIndex(AIndex))];
  entry.Plane = TPlaneF{};
  entry.Enabled = false;
}

PClipPlaneF TQuorvelContext::GetClippingPlane(int32_t AIndex) {
  return &FClippingPlanes[size_t(ClampPlaneIndex(AIndex))];
}

bool TQuorvelContext::IsClippingPlaneActive(int32_t AIndex) const {
  return FClippingPlanes[size_t(ClampPlaneIndex(AIndex))].Enabled;
}

void TQuorvelContext::SetFrustum(const TQuorvelFrustum& AFrustum) {
  FFrustum = AFrustum;
  FFrustumBox = AFrustum.ToBoundingBox();
}

// --- instancing ----------------------------------------------------------------------------------

void TQuorvelContext::CreateInstanceBuffer() {
  if (!FInstanceVAO) FInstanceVAO.reset(BufferObjectClass->Create(TBufferUsage::StaticDraw, TBufferBindingTarget::_Array, this));
}

void TQuorvelContext::FreeInstanceBuffer() { FreeAndNil(FInstanceVAO); }

void TQuorvelContext::SetInstances(int32_t AInstances, const void* AData) {
  FInstanceCount = AInstances;
  if (AInstances < 1) return;
  if (!FInstanceVAO) CreateInstanceBuffer();
  FInstanceVAO->Bind();
  auto unbind = Finally([&] { FInstanceVAO->Unbind(); });
  FInstanceVAO->Push(AData, intptr_t(AInstances) * intptr_t(sizeof(TMatrix3D)));
}

// --- shader variables ----------------------------------------------------------------------------

void TQuorvelContext::SetShaderVariable(const std::string& AName, const TMatrix3D& AMatrix, bool AAsMat4) {
  if (AAsMat4)
    DoSetShaderVariableMatrix4(AName, AMatrix);
  else
    DoSetShaderVariableMatrix(AName, AMatrix);
}

void TQuorvelContext::SetShaderVariableInt(const std::string& AName, std::span<const int32_t> AValue) {
  DoSetShaderVariableInt(AName, AValue);
}

void TQuorvelContext::SetShaderVariableArrayOfStruct(const std::string& AName, const TRecordFieldType* AType,
                                                     int32_t ACount, const void* AData) {
  const void* cursor = AData;
  DoSetShaderVariableArrayOfStruct(AName, AType, ACount, cursor);
}

namespace {

template <class T>
T ReadValue(const void* AAddress) {
  T value;
  std::memcpy(&value, AAddress, sizeof(T));  // packed records may leave fields unaligned
  return value;
}

[[noreturn]] void RaiseUnsupportedField(const std::string& AUniform) {
  throw Exception(Format("structure field \"%s\" - type not supported in shader language!", {AUniform}));
}

}  // namespace

void TQuorvelContext::DoSetShaderVariableArrayOfStruct(const std::string& AName, const TRecordFieldType* AType,
                                                       int32_t ACount, const void*& AData) {
  // Without data there is nothing to read the records from.
  if (!IsContextAvailable() || !GetCurrentProgram() || ACount <= 0 || !AData) return;
  const TRecordInfo* info =
      AType && AType->Kind == TRecordFieldKind::Record ? AType->Record : nullptr;
  if (!info) throw Exception("TQuorvelContext.DoSetShaderVariableArrayOfStruct - structure type not found by RTTI!");
  if (info->Fields().empty())
    throw Exception("TQuorvelContext.DoSetShaderVariableArrayOfStruct - structure fields missing");

  for (int32_t i = 0; i < ACount; ++i) {
    const char* record = static_cast<const char*>(AData);
    for (const TRecordField& field : info->Fields()) {
      const std::string uniform = AName + "[" + std::to_string(i) + "]." + field.Name;
      const void* at = field.Address(record);
      switch (field.Kind()) {
        case TRecordFieldKind::Integer:
        case TRecordFieldKind::Enumeration: {
          const int32_t value = static_cast<int32_t>(field.ReadOrdinal(record));
          DoSetShaderVariableInt(uniform, std::span<const int32_t>(&value, 1));
          break;
        }
        case TRecordFieldKind::Boolean: {
          const int32_t value = field.ReadOrdinal(record) != 0 ? 1 : 0;
          DoSetShaderVariableInt(uniform, std::span<const int32_t>(&value, 1));
          break;
        }
        case TRecordFieldKind::Float: {
          const TVector3D value(static_cast<float>(field.ReadFloat(record)), 0, 0, 0);
          DoSetShaderVariable(uniform, std::span<const TVector3D>(&value, 1));
          break;
        }
        case TRecordFieldKind::StaticArray: {
          const void* nested = at;
          DoSetShaderVariableArrayOfStruct(uniform, field.Type->Element, static_cast<int32_t>(field.Type->Count),
                                           nested);
          break;
        }
        case TRecordFieldKind::PointF: {
          const auto p = ReadValue<TPointF>(at);
          const TVector3D value(p.X, p.Y, 0, 0);
          DoSetShaderVariable(uniform, std::span<const TVector3D>(&value, 1));
          break;
        }
        case TRecordFieldKind::Point3D: {
          const auto p = ReadValue<TPoint3D>(at);
          const TVector3D value(p.X, p.Y, p.Z, 0);
          DoSetShaderVariable(uniform, std::span<const TVector3D>(&value, 1));
          break;
        }
        case TRecordFieldKind::Vector3D: {
          const auto value = ReadValue<TVector3D>(at);
          DoSetShaderVariable(uniform, std::span<const TVector3D>(&value, 1));
          break;
        }
        case TRecordFieldKind::AlphaColorF: {
          const auto c = ReadValue<TAlphaColorF>(at);
          const TVector3D value(c.R, c.G, c.B, c.A);
          DoSetShaderVariable(uniform, std::span<const TVector3D>(&value, 1));
          break;
        }
        case TRecordFieldKind::Matrix3D:
          DoSetShaderVariableMatrix4(uniform, ReadValue<TMatrix3D>(at));
          break;
        default:
          RaiseUnsupportedField(uniform);
      }
    }
    AData = static_cast<const char*>(AData) + info->Size();
  }
  if (HasAnyErrors()) RaiseContextException(this, &SCannotFindShaderVariable, {AName});
}

// --- lights --------------------------------------------------------------------------------------

int32_t TQuorvelContext::AddLight(const TLightDescription& ALight) {
  Lights().push_back(ALight);
  FShaderLights.push_back(TQuorvelShaderLight::Create(ALight));
  return int32_t(FShaderLights.size()) - 1;
}

int32_t TQuorvelContext::AddLight(const TQuorvelShaderLight& ALight) {
  Lights().push_back(ALight.ToLightDescription());
  FShaderLights.push_back(ALight);
  return int32_t(FShaderLights.size()) - 1;
}

void TQuorvelContext::RemoveLight(int32_t AIdx) {
  // Checked against both lists first, so that a bad index cannot leave them out of step.
  if (AIdx < 0 || size_t(AIdx) >= Lights().size() || size_t(AIdx) >= FShaderLights.size())
    throw EArgumentOutOfRangeException(Format("TQuorvelContext.RemoveLight: index %d out of range", AIdx));
  Lights().erase(Lights().begin() + AIdx);
  FShaderLights.erase(FShaderLights.begin() + AIdx);
}

void TQuorvelContext::ClearLights() {
  Lights().clear();
  FShaderLights.clear();
}

// --- shader programs -----------------------------------------------------------------------------

TShaderProgram* TQuorvelContext::GetOrCreateProgram(TContextShader* VS, TContextShader* GS, TContextShader* TSE,
                                                    TContextShader* TSC, TContextShader* PS) {
  return TShaderProgramCache::GetOrCreate(PlatformClass(), VS, GS, TSE, TSC, PS);
}

void TQuorvelContext::DoSetShaders(TContextShader* VS, TContextShader* GS, TContextShader* TSE, TContextShader* TSC,
                                   TContextShader* PS) {
  TShaderProgramCache::DoSetShaders(PlatformClass(), VS, GS, TSE, TSC, PS);
}

void TQuorvelContext::ClearProgramCache() { TShaderProgramCache::Clear(); }

TShaderProgram* TQuorvelContext::GetCurrentProgram() { return TShaderProgramCache::GetCurrent(); }

TShaderProgram* TQuorvelContext::GetProgram(TContextShader* VS, TContextShader* PS) {
  if (!VS || !PS || !IsContextAvailable() || VS->GetHandle() == 0 || PS->GetHandle() == 0) return nullptr;
  return TShaderProgramCache::Find(VS, PS);
}

void TQuorvelContext::RemoveProgram(TShaderProgram* AShaderProgram) {
  if (AShaderProgram) TShaderProgramCache::Remove(AShaderProgram);
}

void TQuorvelContext::RemoveProgram(TContextShader* VS, TContextShader* PS) { RemoveProgram(GetProgram(VS, PS)); }

void TQuorvelContext::SetShaders(TContextShader* VertexShader, TContextShader* PixelShader,
                                 TContextShader* GeometryShader, TContextShader* TessEvalShader,
                                 TContextShader* TessCtrlShader) {
  TShaderProgramCache::SetShaders(ClassType(), VertexShader, GeometryShader, TessEvalShader, TessCtrlShader,
                                  PixelShader);
}

int32_t TQuorvelContext::BuildShader(int32_t AType, const TContextShaderCode& ACode) {
  return TShaderProgramCache::BuildShader(ClassType(), AType, ACode);
}

void TQuorvelContext::DoSetVertexPixelShaders(TContextShader* VertexShader, TContextShader* PixelShader) {
  TShaderProgramCache::DoSetShaders(ClassType(), VertexShader, nullptr, nullptr, nullptr, PixelShader);
}

// --- drawing -------------------------------------------------------------------------------------

void TQuorvelContext::ApplyMaterial(TMaterial* AMaterial) {
  if (!AMaterial) return;
  AMaterial->Apply(this);
  using P = TMaterial::TProperty;
  std::string name = AMaterial->GetMaterialProperty(P::ModelViewProjection);
  if (!name.empty()) SetShaderVariable(name, GetCurrentModelViewProjectionMatrix(), false);
  name = AMaterial->GetMaterialProperty(P::ModelView);
  if (!name.empty()) SetShaderVariable(name, GetCurrentMatrix(), false);
  name = AMaterial->GetMaterialProperty(P::ModelViewInverseTranspose);
  if (!name.empty()) SetShaderVariable(name, GetCurrentMatrix().Inverse().Transpose(), false);
}

void TQuorvelContext::ResetMaterial(TMaterial* AMaterial) {
  if (AMaterial) AMaterial->Reset(this);
}

namespace {

TMaterial* PassMaterial(const TRenderPass* APass) {
  return TMaterialSource::ValidMaterial(dynamic_cast<TMaterialSource*>(APass->GetControllerShader()));
}

}  // namespace

void TQuorvelContext::DoDrawPrimitives(TPrimitivesKind AKind, const void* Vertices, const void* Indices,
                                       const TVertexDeclaration& VertexDeclaration, int32_t VertexSize,
                                       int32_t VertexCount, int32_t IndexSize, int32_t IndexCount) {
  try {
    TMaterial* material = nullptr;
    if (TRenderPass* pass = GetCurrentRenderPass()) {
      if (!pass->IsPrimitivesKindSupported(AKind)) return;
      material = PassMaterial(pass);
      if (material) {
        if (pass->FOnApplyMaterial) pass->FOnApplyMaterial(nullptr, material);
        ApplyMaterial(material);
      }
    }
    {
      // The substituted material must not stay applied, after a failed draw either (then the
      // draw's error is the one that counts).
      auto reset = Finally([&] {
        if (material) ResetMaterial(material);
      });
      TContext3D::DoDrawPrimitives(AKind, Vertices, Indices, VertexDeclaration, VertexSize, VertexCount, IndexSize,
                                   IndexCount);
      // A copy: a pass's draw may add intermediate passes, which must not disturb this walk.
      const std::vector<TRenderPass*> intermediates = FIntermediatePasses;
      for (TRenderPass* intermediate : intermediates) {
        TMaterial* own = PassMaterial(intermediate);
        if (!own) continue;
        ApplyMaterial(own);
        auto resetOwn = Finally([&] { ResetMaterial(own); });
        TContext3D::DoDrawPrimitives(AKind, Vertices, Indices, VertexDeclaration, VertexSize, VertexCount,
                                     IndexSize, IndexCount);
      }
    }
    if (HasAnyErrors()) RaiseContextException(this, &SErrorInContextMethod, {"DoDrawPrimitives"});
    if (IsContextAvailable()) ShaderProgramClass->ActivateDefault();
  } catch (const Exception&) {
    // At design time a failing draw must not take the designer down.
    if (!IsDesignTime()) throw;
  }
}

void TQuorvelContext::DirectDrawPrimitives(TPrimitivesKind AKind, const void* Vertices, const void* Indices,
                                           const TVertexDeclaration& VertexDeclaration, int32_t VertexSize,
                                           int32_t VertexCount, int32_t IndexSize, int32_t IndexCount) {
  DoDirectDrawPrimitives(AKind, Vertices, Indices, VertexDeclaration, VertexSize, VertexCount, IndexSize,
                         IndexCount);
}

void TQuorvelContext::DirectDrawPrimitives(TQuorvelPrimitivesKind AKind, const void* Vertices, const void* Indices,
                                           const TVertexDeclaration& VertexDeclaration, int32_t VertexSize,
                                           int32_t VertexCount, int32_t IndexSize, int32_t IndexCount) {
  DoDirectDrawPrimitives(AKind, Vertices, Indices, VertexDeclaration, VertexSize, VertexCount, IndexSize,
                         IndexCount);
}

void TQuorvelContext::DoDirectDrawPrimitives(TQuorvelPrimitivesKind AKind, const void* Vertices,
                                             const void* Indices, const TVertexDeclaration& VertexDeclaration,
                                             int32_t VertexSize, int32_t VertexCount, int32_t IndexSize,
                                             int32_t IndexCount) {
  static_assert(static_cast<int>(TQuorvelPrimitivesKind::Triangles) == static_cast<int>(TPrimitivesKind::Triangles));
  static_assert(static_cast<int>(TContextShaderKindEx::PixelShader) ==
                static_cast<int>(TContextShaderKind::PixelShader));
  // The kinds beyond Triangles travel in the framework's kind; the batch draw reads them back.
  DoDrawPrimitives(static_cast<TPrimitivesKind>(AKind), Vertices, Indices, VertexDeclaration, VertexSize,
                   VertexCount, IndexSize, IndexCount);
}

void TQuorvelContext::DoDirectDrawPrimitives(TPrimitivesKind AKind, const void* Vertices, const void* Indices,
                                             const TVertexDeclaration& VertexDeclaration, int32_t VertexSize,
                                             int32_t VertexCount, int32_t IndexSize, int32_t IndexCount) {
  DoDrawPrimitives(AKind, Vertices, Indices, VertexDeclaration, VertexSize, VertexCount, IndexSize, IndexCount);
}

// --- render passes -------------------------------------------------------------------------------

void TQuorvelContext::BeginRenderPass(TRenderPass* APass) {
  FRenderPassStack.push_back(APass);
  FCurrentPass = APass;
}

void TQuorvelContext::EndRenderPass() {
  // An unbalanced end must not pop what is not there.
  if (!FRenderPassStack.empty()) FRenderPassStack.pop_back();
  FCurrentPass = FRenderPassStack.empty() ? nullptr : FRenderPassStack.back();
}

void TQuorvelContext::CreateRenderPasses() {
  if (FPasses) return;
  FPasses.reset(New<TRenderPasses>(this));
  FPasses->OnPassFreed = [this](TRenderPass* APass) { ForgetRenderPass(APass); };
}

void TQuorvelContext::ForgetRenderPass(TRenderPass* APass) {
  // A freed pass must not be drawn with again nor restored as the current pass.
  std::erase(FIntermediatePasses, APass);
  std::erase(FRenderPassStack, APass);
  if (FCurrentPass == APass) FCurrentPass = FRenderPassStack.empty() ? nullptr : FRenderPassStack.back();
}

void TQuorvelContext::AddIntermediatePass(TRenderPass* APass) {
  if (!APass) return;
  if (std::find(FIntermediatePasses.begin(), FIntermediatePasses.end(), APass) == FIntermediatePasses.end())
    FIntermediatePasses.push_back(APass);
}

void TQuorvelContext::ExecuteRenderPass(TRenderPass* APass, PRenderContext ARenderContext) {
  // Without a controller there is no way to render the pass: nothing happens rather than a
  // null dereference.
  if (!APass || !APass->FOnBeginRendering || !ARenderContext || !APass->FController) return;
  TQuorvelRenderPassController* controller = APass->FController->As<TQuorvelRenderPassController>();
  const TRenderListProc& proc = controller->GetRenderProc() == TRenderPassRenderingProc::ListRendering
                                    ? ARenderContext->ListRenderingProc
                                    : ARenderContext->DefaultRenderingProc;
  if (!APass->BeginScene()) return;
  auto end = Finally([&] { APass->EndScene(); });
  // 0 counts as one run; a negative count runs none.
  const int32_t iterations = APass->GetIterations() == 0 ? 1 : APass->GetIterations();
  for (int32_t i = 0; i < iterations; ++i) {
    APass->FOnBeginRendering(this, i, APass);
    if (controller->GetMethod() == TRenderPassMethod::RenderListToFBO) {
      // The states record is process-wide: a screen rectangle drawn before (this pass's own
      // composition of the iteration before, or another pass's) left cs2DScene in it, and the
      // list would go through the screen matrix.
      SetContextState(TContextState::cs3DScene);
      if (proc) proc(ARenderContext);
    } else {
      // The rectangle is drawn on the pass's own context, in that context's pixels: a pass of
      // its own size (a 1024 x 1024 map run from a 640 x 480 viewport) covered only part of
      // its target with the viewport's rectangle.
      const TContext3D* target = controller->RendererContext();
      const TRect rect = target ? TRect(0, 0, target->GetWidth(), target->GetHeight())
                                : TRect(0, 0, GetWidth(), GetHeight());
      controller->RenderToContext(this, controller->GetOutputTexture(), rect, TPoint(0, 0));
    }
    if (APass->FOnEndRendering) APass->FOnEndRendering(this, i, APass);
  }
}

bool TQuorvelContext::ProcessRenderPasses(TRenderPassType AType, PRenderContext ARenderContext) {
  if (!ARenderContext || !FPasses || FPasses->Count() == 0) return false;
  std::vector<TRenderPass*> passes;
  if (AType == TRenderPassType::Pre)
    passes = FPasses->GetPreProcessingPasses();
  else if (AType == TRenderPassType::Post)
    passes = FPasses->GetPostProcessingPasses();
  for (TRenderPass* pass : passes) ExecuteRenderPass(pass, ARenderContext);
  return true;
}

bool TQuorvelContext::PreProcessing(PRenderContext ARenderContext) {
  return ProcessRenderPasses(TRenderPassType::Pre, ARenderContext);
}

bool TQuorvelContext::PostProcessing(PRenderContext ARenderContext) {
  return ProcessRenderPasses(TRenderPassType::Post, ARenderContext);
}

// --- debugging -----------------------------------------------------------------------------------

void TQuorvelContext::SaveBitmapToFile(TBitmap* ABitmap, const std::string& APrefix) {
  if (!ABitmap) return;
  static thread_local std::mt19937 random{std::random_device{}()};
  static constexpr char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::uniform_int_distribution<size_t> pick(0, sizeof(kChars) - 2);
  std::string name;
  for (int i = 0; i < 8; ++i) name += kChars[pick(random)];
  name += '.';
  for (int i = 0; i < 3; ++i) name += kChars[pick(random)];
  ABitmap->SaveToFile(APrefix + name + ".bmp");
}

void TQuorvelContext::LogTextureBinding(const std::string& APrefix, TObject* AProgram, TObject* ATexture,
                                        int32_t AIndex) {
  const std::string program = AProgram ? std::to_string(AProgram->GetHashCode()) : "?";
  const std::string texture = ATexture ? std::to_string(ATexture->GetHashCode()) : "?";
  Log::d(APrefix + " - Program = " + program + ", Texture = " + texture + ", Index = " + std::to_string(AIndex));
}

// --- texture units -------------------------------------------------------------------------------

int32_t TQuorvelContext::TextureUnitFromName(const std::string& AName) {
  constexpr std::string_view prefix = "texture";
  if (!StartsText(prefix, AName)) return 0;
  return StrToIntDef(std::string_view(AName).substr(prefix.size()), 0);
}

}  // namespace quorvel
