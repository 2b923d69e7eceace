#include "lib/defs/DefTypesAnimation.h"

#include <cmath>
#include <limits>
#include <memory>

#include "framework/rtl/Log.h"
#include "framework/rtl/Monitor.h"
#include "framework/rtl/SysUtils.h"
#include "lib/animation/AnimationFrameCompression.h"
#include "lib/animation/DefTypesCache.h"
#include "lib/context/ContextBuffers.h"
#include "lib/defs/DefTypesArmature.h"
#include "lib/defs/DefTypesMesh.h"
#include "lib/defs/DefTypesModel.h"
#include "lib/utils/UtilsMath.h"

namespace quorvel {

FW_CLASS_IMPL(TAnimationDef, "Quorvel.DefTypes")
FW_CLASS_NO_MEMBERS(TAnimationDef)
FW_CLASS_IMPL(TAnimationStageDef, "Quorvel.DefTypes")
FW_CLASS_NO_MEMBERS(TAnimationStageDef)
FW_CLASS_IMPL(TAnimationBuffer, "Quorvel.DefTypes")
FW_CLASS_NO_MEMBERS(TAnimationBuffer)

namespace {

constexpr std::string_view SDefTypesPrefix = "Quorvel.DefTypes.";

TCustomDef* MakeInterpolator(std::string_view AType, TAnimationStageDef* AStage) {
  if (AType == "TTransformationInterpolatorDef") return New<TTransformationInterpolatorDef>(AStage);
  if (AType == "TPoint3DInterpolatorDef") return New<TPoint3DInterpolatorDef>(AStage);
  if (AType == "TVector3DInterpolatorDef") return New<TVector3DInterpolatorDef>(AStage);
  if (AType == "TQuaternion3DInterpolatorDef") return New<TQuaternion3DInterpolatorDef>(AStage);
  if (AType == "TMeshInterpolatorDef") return New<TMeshInterpolatorDef>(AStage);
  return nullptr;
}

// Ceiling into the Integer range (a frame count from any duration, without overflow).
int32_t CeilToInt(double AValue) {
  if (!(AValue > -2147483648.0)) return AValue != AValue ? 0 : std::numeric_limits<int32_t>::min();
  if (AValue >= 2147483647.0) return std::numeric_limits<int32_t>::max();
  return int32_t(std::ceil(AValue));
}

}  // namespace

// ---------------------------------------------------------------------------------------
// TAnimationStageDef

TAnimationStageDef::TAnimationStageDef(TAnimationDef* AAnimation)
    : FAnimation(AAnimation), FInterpolators(new TInterpolatorList(true)) {}

TAnimationStageDef::~TAnimationStageDef() {
  FAnimation = nullptr;
  FreeQuietly(FInterpolators, "stage interpolators");
}

void TAnimationStageDef::AddInterpolator(TCustomDef* AInter) { FInterpolators->Add(AInter); }

TCustomDef* TAnimationStageDef::FindInterpolatorById(std::string_view AName) const {
  if (!FInterpolators) return nullptr;
  for (TCustomDef* inter : *FInterpolators)
    if (inter->GetId() == AName) return inter;
  return nullptr;
}

float TAnimationStageDef::GetDurationInSeconds() const {
  float result = 0;
  for (const TCustomDef* def : *FInterpolators)
    if (const auto* inter = dynamic_cast<const TCustomInterpolatorDef*>(def))
      if (inter->GetDuration() > result) result = inter->GetDuration();
  return result;
}

int64_t TAnimationStageDef::GetSize() const {
  int64_t size = TCustomDef::GetSize();
  if (FInterpolators) {
    size += int64_t(sizeof(TInterpolatorList));
    for (const TCustomDef* inter : *FInterpolators) size += inter->GetSize();
  }
  return size;
}

TJSONObject* TAnimationStageDef::ToJSON() const {
  std::unique_ptr<TJSONObject> obj(TCustomDef::ToJSON());
  obj->AddPair("Animation", FAnimation ? FAnimation->GetId() : std::string());
  if (FReference)
    obj->AddPair("Reference", FReference->GetId());
  else
    obj->AddPair("Reference", new TJSONNull);
  if (FInterpolators) {
    auto* arr = new TJSONArray;
    obj->AddPair("Interpolators", arr);
    for (const TCustomDef* inter : *FInterpolators) arr->AddElement(inter->ToJSON());
  }
  return obj.release();
}

void TAnimationStageDef::FromJSON(TModelDef* AModel, const TJSONObject* AValue) {
  TCustomDef::FromJSON(AModel, AValue);
  try {
    ReadJSONBody(AModel, AValue);
  } catch (const std::exception& e) {
    throw Exception(Format("failed to load animation stage %s - %s", {GetId(), std::string(e.what())}));
  }
}

void TAnimationStageDef::ReadJSONBody(TModelDef* AModel, const TJSONObject* AValue) {
  // A stage without reference is written with null: it reads back without one.
  const TJSONValue* refValue = AValue->GetValue("Reference");
  if (refValue && refValue->Kind() == TJSONValue::TKind::Null) {
    SetReference(nullptr);
  } else {
    const std::string ref = ReadJSONString(AValue, "Reference", "");
    // The stage's own model decides, not the one being read.
    TModelDef* model = FAnimation ? FAnimation->GetModel() : nullptr;
    TCustomDef* found = model ? model->FindJointById(ref) : nullptr;
    if (!found && model) found = model->FindChildById(ref, true);
    if (!found) throw Exception(Format("transform with id \"%s\" not found", {ref}));
    SetReference(found);
  }

  const TJSONValue* inters = AValue->GetValue("Interpolators");
  if (!inters) return;
  for (const TJSONValue* element : *inters->As<TJSONArray>()) {
    const TJSONObject* item = element->As<TJSONObject>();
    const std::string typeText = ReadJSONString(item, "Type", "");
    std::string_view type = typeText;
    if (type.starts_with(SDefTypesPrefix)) type.remove_prefix(SDefTypesPrefix.size());
    TCustomDef* inter = MakeInterpolator(type, this);
    if (!inter) throw EAbort(Format("invalid interpolator type found: %s", {typeText}));
    AddInterpolator(inter);
    inter->FromJSON(AModel, item);
  }
}

// ---------------------------------------------------------------------------------------
// TAnimationBuffer

TAnimationBuffer::TAnimationBuffer(TMeshDef* AMesh, TAnimationDef* AAnim)
    : FMesh(AMesh), FAnimation(AAnim), FFrames(new TFrameList(true)) {
  if (AMesh) AMesh->SetIsStatic(true);
}

TAnimationBuffer::~TAnimationBuffer() { FreeQuietly(FFrames, "animation frames"); }

void TAnimationBuffer::SetFrameCount(int32_t AFrameCount) {
  TMonitorGuard guard(this);
  if (AFrameCount == FFrames->Count()) return;
  FIsBuffered = false;
  FBufferedFrames = 0;
  FFrames->Clear();
  for (int32_t i = 0; i < AFrameCount; ++i)
    FFrames->Add(New<TMeshBufferObject>(FMesh ? FMesh->GetBufferObjectLocked() : nullptr));
}

// ---------------------------------------------------------------------------------------
// TAnimationDef

TAnimationDef::TAnimationDef(TModelDef* AModel) : FModel(AModel), FStages(new TStageList(true)) {}

TAnimationDef::~TAnimationDef() {
  FreeQuietly(FStages, "animation stages");
  FreeQuietly(FBuffers, "animation buffers");
}

TAnimationCachingFlags TAnimationDef::GetCachingFlags() const noexcept {
  TAnimationCachingFlags flags;
  const uint8_t bits = FCachingFlags.load();
  for (uint8_t i = 0; i < 3; ++i)
    if (bits & (1u << i)) flags.Include(TAnimationCachingFlag(i));
  return flags;
}

void TAnimationDef::SetCachingFlags(TAnimationCachingFlags AValue) noexcept {
  uint8_t bits = 0;
  for (uint8_t i = 0; i < 3; ++i)
    if (AValue.Contains(TAnimationCachingFlag(i))) bits |= uint8_t(1u << i);
  FCachingFlags.store(bits);
}

void TAnimationDef::AddStage(TAnimationStageDef* AStage) {
  if (!AStage) return;
  if (!FStages) throw Exception("TAnimationDef: Stages-List not assigned");
  if (FindStageById(AStage->GetId()))
    throw Exception(Format("TAnimationDef: Stage with id %s already exists", {AStage->GetId()}));
  if (!FStages->Contains(AStage)) FStages->Add(AStage);
}

TAnimationStageDef* TAnimationDef::FindStageById(std::string_view AId) const {
  for (TAnimationStageDef* stage : *FStages)
    if (stage->GetId() == AId) return stage;
  return nullptr;
}

double TAnimationDef::GetDurationInSeconds() const {
  double result = 0;
  for (const TAnimationStageDef* stage : *FStages) result = std::max(result, double(stage->GetDurationInSeconds()));
  return result;
}

int64_t TAnimationDef::GetDurationInMilliseconds() const {
  const double ms = std::ceil(GetDurationInSeconds() * 1000);
  return std::isfinite(ms) ? int64_t(std::clamp(ms, -9.2e18, 9.2e18)) : 0;
}

int32_t TAnimationDef::ComputeFrameCount(double ADurationInSeconds) const {
  return CeilToInt(ADurationInSeconds * FFrameRate);
}

int32_t TAnimationDef::ComputeFrameCountMS(int64_t ADurationInMS) const {
  return ComputeFrameCount(double(ADurationInMS) / 1000);
}

int32_t TAnimationDef::ComputeFrameCount() const { return ComputeFrameCount(GetDurationInSeconds()); }

void TAnimationDef::PrepareAnimationData() {
  // A bake in progress holds the monitor: its frames are not dropped under it.
  TMonitorGuard guard(this);
  FDuration = GetDurationInSeconds();
  FFrameCount = ComputeFrameCount(FDuration);
  if (!FBuffers) return;
  bool emptied = false;
  for (const auto& pair : *FBuffers) {
    emptied = emptied || pair.Value->GetFrames()->Count() != FFrameCount;
    pair.Value->SetFrameCount(FFrameCount);
  }
  // Frames of another count hold nothing: the cache is empty again and waits for the next
  // bake, which makes its buffers anew.
  if (emptied) {
    FreeAndNil(FBuffers);
    FBufferingState.store(TAnimationBufferingState::None);
  }
}

void TAnimationDef::SetFrameRate(int32_t AValue) {
  TMonitorGuard guard(this);
  if (AValue == FFrameRate) return;
  FFrameRate = AValue;
  PrepareAnimationData();
}

int64_t TAnimationDef::GetSize() const {
  int64_t size = TCustomDef::GetSize() + int64_t(sizeof(TStageList));
  for (const TAnimationStageDef* stage : *FStages) size += stage->GetSize();
  return size;
}

TJSONObject* TAnimationDef::ToJSON() const {
  std::unique_ptr<TJSONObject> obj(TCustomDef::ToJSON());
  if (FStages) {
    auto* arr = new TJSONArray;
    obj->AddPair("Stages", arr);
    for (const TAnimationStageDef* stage : *FStages) arr->AddElement(stage->ToJSON());
  }
  return obj.release();
}

void TAnimationDef::FromJSON(TModelDef* AModel, const TJSONObject* AValue) {
  TCustomDef::FromJSON(AModel, AValue);
  const TJSONValue* stages = AValue->GetValue("Stages");
  if (!stages) return;
  for (const TJSONValue* element : *stages->As<TJSONArray>()) {
    const TJSONObject* item = element->As<TJSONObject>();
    // A stage that fails to read (or to join) is never added, and goes.
    TOwned<TAnimationStageDef> stage(New<TAnimationStageDef>(this));
    stage->FromJSON(AModel, item);
    AddStage(stage.get());
    stage.release();
  }
}

// ---- frame cache ----

void TAnimationDef::Cache(TObject* ACache) {
  TMonitorGuard guard(this);
  auto* caching = dynamic_cast<TAnimationCaching*>(ACache);
  if (!caching) throw EInvalidCast("Invalid class typecast");
  SetCachingFlags(caching->GetFlags());
  caching->Execute(this);
}

void TAnimationDef::InitializeCaching(TMeshDef* AMesh) {
  if (!AMesh) return;
  {
    TMonitorGuard guard(this);
    if (!FBuffers) FBuffers = new TBufferDictionary(TDictionaryOwnerships{doOwnsValues});
    if (!dynamic_cast<TModelDef*>(AMesh)) {
      TOwned<TAnimationBuffer> buffer(New<TAnimationBuffer>(AMesh, this));
      FBuffers->Add(AMesh, buffer.get());
      TAnimationBuffer* added = buffer.release();
      added->SetBufferedFrames(0);
      added->SetFrameCount(FFrameCount);
    }
    AMesh->Traverse(false, [this](TTransformDef*, int32_t, TTransformDef* AChild) {
      if (auto* mesh = dynamic_cast<TMeshDef*>(AChild)) InitializeCaching(mesh);
      return true;
    });
  }
  FBufferingState.store(TAnimationBufferingState::Started);
}

TAnimationBuffer* TAnimationDef::StartCaching(TMeshDef* AMesh) {
  TMonitorGuard guard(this);
  if (GetBufferingState() == TAnimationBufferingState::Ready || !FBuffers) return nullptr;
  TAnimationBuffer* buffer = nullptr;
  return FBuffers->TryGetValue(AMesh, buffer) ? buffer : nullptr;
}

void TAnimationDef::CacheFrame(TAnimationBuffer* ABuffer, TVertexBuffer* AVertices, TIndexBuffer* AIndices,
                               TAnimationCachingFlags AFlags) {
  TMonitorGuard guard(this);
  if (!ABuffer || !AVertices || !AIndices) return;
  if (ABuffer->GetBufferedFrames() >= FFrameCount) {
    FBufferingState.store(TAnimationBufferingState::Cached);
    return;
  }
  FBufferingState.store(TAnimationBufferingState::Caching);
  TMeshBufferObject* frame = ABuffer->GetFrames()->Items(ABuffer->GetBufferedFrames());
  const bool compressed = AFlags.Contains(TAnimationCachingFlag::Compressed);
  const bool positions = AFlags.Contains(TAnimationCachingFlag::VertexPosition);
  if (compressed && positions)
    frame->SetCompressed(TMeshBufferComponent::Vertex, TAnimationFrameCompression::Compress(TVertexFormat::Vertex, AVertices));
  else if (compressed)
    frame->SetCompressed(TMeshBufferComponent::All, TAnimationFrameCompression::Compress(AVertices->Buffer(), AVertices->Size()));
  else if (positions)
    frame->PushData(TMeshBufferComponent::Vertex, AVertices);
  else
    frame->PushData(TMeshBufferComponent::All, AVertices->Buffer(), intptr_t(AVertices->Size()));
  ABuffer->SetBufferedFrames(ABuffer->GetBufferedFrames() + 1);
  if (ABuffer->GetBufferedFrames() >= FFrameCount) FBufferingState.store(TAnimationBufferingState::Cached);
}

void TAnimationDef::StopCaching(TAnimationBuffer* ABuffer) {
  TMonitorGuard guard(this);
  if (ABuffer) ABuffer->SetIsBuffered(true);
}

void TAnimationDef::FinalizeCaching() { FBufferingState.store(TAnimationBufferingState::Ready); }

TMeshBufferObject* TAnimationDef::GetNextCacheFrame(TMeshDef* AMesh, int32_t AFrame) {
  TMonitorGuard guard(this);
  try {
    if (GetBufferingState() != TAnimationBufferingState::Ready || !FBuffers) return nullptr;
    TAnimationBuffer* buffer = nullptr;
    if (!FBuffers->TryGetValue(AMesh, buffer)) return nullptr;
    TAnimationBuffer::TFrameList* frames = buffer->GetFrames();
    // Frames made anew by a frame-count change hold nothing to draw.
    if (frames->Count() == 0 || buffer->GetBufferedFrames() < frames->Count()) return nullptr;
    return AFrame >= 0 && AFrame < frames->Count() ? frames->Items(AFrame) : frames->Items(0);
  } catch (const std::exception& e) {
    Log::d("GetNextCacheFrame failed - " + std::string(e.what()));
    throw;
  }
}

// ---- stage unification ----

void TAnimationDef::UnifyInterpolators(TUnifyInterpolatorOptions AOptions,
                                       const TUnifyInterpolatorTransformationProc& ACallback) {
  if (!FStages) return;
  uint8_t order = 0;
  for (uint8_t i = 0; i < 6; ++i)
    if (AOptions.Contains(TUnifyInterpolatorOption(i))) {
      order = i;
      break;
    }
  for (TAnimationStageDef* stage : *FStages) UnifyStage(stage, order, ACallback);
}

void TAnimationDef::UnifyStage(TAnimationStageDef* AStage, uint8_t AOrder,
                               const TUnifyInterpolatorTransformationProc& ACallback) {
  const TKeyUnifyFlags flags = AStage->GetKeyUnifyFlags();
  TMatrix3D base = TMatrix3D::Identity();
  auto* node = dynamic_cast<TTransformDef*>(AStage->GetReference());
  if (node && !flags.Contains(TKeyUnifyFlag::AbsoluteKeyTransform))
    base = flags.Contains(TKeyUnifyFlag::EvaluateGlobalTransform) ? node->EvaluateGlobalTransformation()
                                                                   : node->GetTransform();
  try {
    TPoint3DInterpolatorDef *position = nullptr, *scale = nullptr, *angles = nullptr;
    TVector3DInterpolatorDef* vector = nullptr;
    TQuaternion3DInterpolatorDef* quaternion = nullptr;
    float duration = 1.0f;
    for (TCustomDef* def : *AStage->GetInterpolators()) {
      auto* inter = dynamic_cast<TCustomInterpolatorDef*>(def);
      if (!inter) continue;
      const std::string& path = inter->GetPath();
      bool taken = true;
      if (auto* p = dynamic_cast<TPoint3DInterpolatorDef*>(inter)) {
        if (path == "Position.Point")
          position = p;
        else if (path == "Scale.Point")
          scale = p;
        else if (path == "RotationAngle.Point")
          angles = p;
        else
          taken = false;
      } else if (auto* v = dynamic_cast<TVector3DInterpolatorDef*>(inter); v && path == "RotationAngle.Vector") {
        vector = v;
      } else if (auto* q = dynamic_cast<TQuaternion3DInterpolatorDef*>(inter); q && path == "Quaternion") {
        quaternion = q;
      } else {
        taken = false;
      }
      if (taken && inter->GetDuration() > duration) duration = inter->GetDuration();
    }
    const TCustomInterpolatorDef* reference = vector     ? static_cast<TCustomInterpolatorDef*>(vector)
                                              : quaternion ? static_cast<TCustomInterpolatorDef*>(quaternion)
                                              : angles     ? static_cast<TCustomInterpolatorDef*>(angles)
                                              : position   ? static_cast<TCustomInterpolatorDef*>(position)
                                                           : static_cast<TCustomInterpolatorDef*>(scale);
    if (!reference) return;
    const int32_t n = reference->KeyCount();

    TOwned<TTransformationInterpolatorDef> merged(New<TTransformationInterpolatorDef>(AStage));
    merged->SetId(Format("%s_transform_merged_%d", {AStage->GetId(), AStage->GetInterpolators()->Count()}));
    merged->SetDuration(duration);
    TTransformationInterpolatorDef* track = merged.get();
    AStage->AddInterpolator(merged.release());

    // Key i of a track with n keys, else the track sampled at i / (n - 1) (at 0 for a single
    // reference key, where that fraction has no value).
    struct TPart {
      float Time = 0;
      TInterpolationType Kind = TInterpolationType::Linear;
    };
    auto valueOf = [n](const auto* ATrack, int32_t AIndex, auto AStart, TPart& AComp) {
      auto value = AStart;
      if (ATrack->KeyCount() == n) {
        const auto& key = *ATrack->GetKeys()[size_t(AIndex)];
        AComp.Time = key.Key;
        AComp.Kind = key.Interpolation;
        return key.Value;
      }
      const double u = n > 1 ? double(AIndex) / double(n - 1) : 0.0;
      float time = 0;
      TInterpolationType kind = TInterpolationType::Linear;
      if (ATrack->ComputeInterpolatedKey(float(u), time, kind, value)) AComp.Time = float(u);
      return value;
    };

    bool equalChecked = false;
    for (int32_t i = 0; i < n; ++i) {
      TMatrix3D s = TMatrix3D::Identity(), r = TMatrix3D::Identity(), t = TMatrix3D::Identity();
      TPart cs, cr, cp;
      if (scale) s = TMatrix3D::CreateScaling(valueOf(scale, i, TPoint3D(1, 1, 1), cs));
      const bool rotation = vector || quaternion || angles;
      if (vector) {
        const TVector3D v = valueOf(vector, i, TVector3D(0, 0, 0, 0), cr);
        r = TQuaternion3D(v.X, v.Y, v.Z, v.W).ToMatrix3D();
      } else if (quaternion) {
        r = valueOf(quaternion, i, TQuaternion3D(TPoint3D(0, 0, 0), 0), cr).ToMatrix3D();
      } else if (angles) {
        r = MatrixToMatrix3D(EulerToMatrix(valueOf(angles, i, TPoint3D(0, 0, 0), cr), AOrder));
      }
      if (position) t = TMatrix3D::CreateTranslation(valueOf(position, i, TPoint3D(0, 0, 0), cp));
      float time = -1.0f;
      TInterpolationType kind = TInterpolationType::Linear;
      if (rotation) {
        time = std::max(time, cr.Time);
        kind = cr.Kind;
      }
      if (position) {
        time = std::max(time, cp.Time);
        kind = cp.Kind;
      }
      if (scale) {
        time = std::max(time, cs.Time);
        kind = cs.Kind;
      }
      TMatrix3D m = s * r * t;
      if (ACallback) ACallback(AStage, time, m, kind);
      if (flags.Contains(TKeyUnifyFlag::InverseTransform)) m = m.Inverse();
      if (flags.Contains(TKeyUnifyFlag::EqualBaseTransformCheck) && !equalChecked) {
        equalChecked = true;
        bool equal = true;
        for (int row = 0; row < 4; ++row)
          for (int col = 0; col < 4; ++col) equal = equal && std::fabs(m.Get(row, col) - base.Get(row, col)) <= 1e-4f;
        if (equal) base = TMatrix3D::Identity();
      }
      m = flags.Contains(TKeyUnifyFlag::InverseBaseTransform) ? base * m : m * base;
      track->AddKey(time, m, kind);
    }
    for (TCustomDef* gone : {static_cast<TCustomDef*>(scale), static_cast<TCustomDef*>(position),
                             static_cast<TCustomDef*>(vector), static_cast<TCustomDef*>(quaternion),
                             static_cast<TCustomDef*>(angles)})
      if (gone) AStage->GetInterpolators()->Remove(gone);
  } catch (const std::exception& e) {
    Log::d("failed to unify stage interpolators: %s\r\n%s", AStage->GetId(), std::string(e.what()));
  }
}

}  // namespace quorvel
