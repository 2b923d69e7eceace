#include "lib/animation/DefTypesCache.h"

#include "framework/gui3d/Animation.h"
#include "framework/gui3d/MeshData.h"
#include "framework/rtl/Finally.h"
#include "lib/animation/Animation.h"
#include "lib/animation/Armature.h"
#include "lib/animation/KeyAnimation.h"
#include "lib/defs/DefTypesModel.h"
#include "lib/scene/Model.h"

namespace quorvel {

FW_CLASS_IMPL(TAnimationCaching, "Quorvel.DefTypes.Cache")
FW_CLASS_NO_MEMBERS(TAnimationCaching)

TAnimationCaching::TAnimationCaching(TModelDef* ADef, TAnimationCachingFlags AFlags, TComponent* AModel)
    : TComponent(nullptr), FModelDef(ADef), FFlags(AFlags), FModel(AModel) {
  if (AModel && !dynamic_cast<TQuorvelModel*>(AModel))
    throw Exception("failed to cache model animations - model not a valid TQuorvelModel");
}

TAnimationCaching::~TAnimationCaching() {
  if (FIsModelTemp) FreeQuietly(FModel, "baker's model");
}

TComponent* TAnimationCaching::GetModel() const noexcept { return FModel; }

TQuorvelModel* TAnimationCaching::Model() {
  if (!FModel && FModelDef) {
    TOwned<TQuorvelModel> model(New<TQuorvelModel>(nullptr));
    model->LoadFromDefinition(FModelDef);
    FModel = model.release();
    FIsModelTemp = true;
  }
  return static_cast<TQuorvelModel*>(FModel);
}

void TAnimationCaching::ForEachMesh(const std::function<void(TQuorvelMesh*)>& AProc) const {
  std::function<void(TQuorvelMesh*)> walk = [&](TQuorvelMesh* AMesh) {
    AProc(AMesh);
    for (TQuorvelMesh* sub : AMesh->GetMeshes()) walk(sub);
  };
  if (auto* model = dynamic_cast<TQuorvelModel*>(FModel)) walk(model);
}

void TAnimationCaching::Execute(TAnimationDef* AAnimDef) {
  TQuorvelModel* model = Model();
  FAnimDef = AAnimDef;
  if (!model || !AAnimDef) return;
  AAnimDef->PrepareAnimationData();
  TQuorvelAnimationManager* manager = model->GetAnimationManager();
  TQuorvelAnimation* animation = manager ? manager->GetAnimation(AAnimDef) : nullptr;
  const int32_t frames = AAnimDef->GetFrameCount();
  if (!animation || frames < 1) return;
  FAnimation = animation;
  FTotalTime = 0;
  FLastTime = 0;
  // One frame steps by the whole duration (there is no interval to divide).
  FFrameTime = frames > 1 ? AAnimDef->GetDuration() / (frames - 1) : AAnimDef->GetDuration();
  animation->Start();
  TAniThread& thread = TAniThread::Instance();
  const bool threadEnabled = thread.Enabled;
  thread.Enabled = false;
  TSkeletonKeyAnimation* skeleton = animation->GetSkeleton();
  auto resetInterpolators = [&] {
    if (skeleton)
      for (TPropertyKeyAnimation* inter : skeleton->GetInterpolators()) inter->ResetCaching();
  };
  bool complete = false;
  auto cleanup = Finally([&] {
    resetInterpolators();
    FMeshBuffers.clear();
    // Only a complete bake is Ready: the armatures stop skinning for it and its frames are drawn.
    if (complete) AAnimDef->FinalizeCaching();
    animation->Stop();
    thread.Enabled = threadEnabled;
  });
  if (OnBeginAnimation) OnBeginAnimation(AAnimDef, animation, TAnimationCachingState::Started);
  if (FFlags.Contains(TAnimationCachingFlag::VertexPosition))
    ForEachMesh([&](TQuorvelMesh* AMesh) {
      const TVertexBuffer* own = AMesh->GetMeshData() ? AMesh->GetMeshData()->GetVertexBuffer() : nullptr;
      TMeshDef* def = AMesh->GetMeshDef();
      if (!own || own->Length() == 0 || !def) return;
      TOwned<TVertexBuffer> positions(New<TVertexBuffer>(TVertexFormats{TVertexFormat::Vertex}, own->Length()));
      for (int32_t i = 0; i < own->Length(); ++i) positions->SetVertices(i, own->GetVertices(i));
      FMeshBuffers[def] = std::move(positions);
    });
  AAnimDef->InitializeCaching(FModelDef);
  resetInterpolators();
  TQuorvelArmature::TMeshBuffers buffers;
  for (auto& [def, buffer] : FMeshBuffers) buffers[def] = buffer.get();
  for (int32_t c = 0; c < frames; ++c) {
    BeginFrame(c, frames);
    auto end = Finally([&] { EndFrame(c, frames); });
    if (skeleton) skeleton->ProcessAnimationRemote(float(FLastTime), float(FFrameTime));
    for (int i = 0; i < model->GetComponentCount(); ++i)
      if (auto* armature = dynamic_cast<TQuorvelArmature*>(model->GetComponents(i)))
        armature->AnimateSkin(FMeshBuffers.empty() ? nullptr : &buffers);
    FLastTime += FFrameTime;
  }
  complete = true;
  cleanup.Run();
  if (OnEndAnimation) OnEndAnimation(AAnimDef, animation, TAnimationCachingState::Finished);
}

void TAnimationCaching::BeginFrame(int32_t ACurrent, int32_t ATotal) {
  if (OnBeginFrame) OnBeginFrame(FAnimDef, FAnimation, ACurrent, ATotal);
}

void TAnimationCaching::EndFrame(int32_t ACurrent, int32_t ATotal) {
  if (FAnimDef)
    ForEachMesh([&](TQuorvelMesh* AMesh) {
      TMeshDef* def = AMesh->GetMeshDef();
      TAnimationBuffer* buffer = def ? FAnimDef->StartCaching(def) : nullptr;
      if (!buffer || !AMesh->GetMeshData()) return;
      auto stop = Finally([&] {
        if (FAnimDef->GetBufferingState() == TAnimationBufferingState::Cached) FAnimDef->StopCaching(buffer);
      });
      auto it = FMeshBuffers.find(def);
      TVertexBuffer* source = it != FMeshBuffers.end() ? it->second.get() : AMesh->GetMeshData()->GetVertexBuffer();
      FAnimDef->CacheFrame(buffer, source, AMesh->GetMeshData()->GetIndexBuffer(), FFlags);
      if (OnCached) OnCached(FAnimDef, FAnimation, ACurrent, buffer);
    });
  FTotalTime += FFrameTime;
  if (OnEndFrame) OnEndFrame(FAnimDef, FAnimation, ACurrent, ATotal);
}

}  // namespace quorvel
