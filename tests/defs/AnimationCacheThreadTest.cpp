// The frame cache across threads: a worker bakes while the main thread asks for frames and a
// third thread changes the frame rate.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "framework/rtl/Thread.h"
#include "lib/animation/DefTypesCache.h"
#include "lib/context/ContextBuffers.h"
#include "lib/defs/DefTypes.h"
#include "tests/support/MemoryBufferObject.h"

namespace quorvel {
namespace {

constexpr int MeshCount = 3;
constexpr int Frames = 60;
constexpr int VertexCount = 5;

// Frame f of mesh m: vertex i at (f, m, i).
TPoint3D Baked(int AFrame, int AMesh, int AVertex) { return {float(AFrame), float(AMesh), float(AVertex)}; }

class TThreadBaker : public TAnimationCaching {
public:
  TThreadBaker(TModelDef* ADef, std::vector<TMeshDef*> AMeshes)
      : TAnimationCaching(ADef, {TAnimationCachingFlag::Compressed, TAnimationCachingFlag::VertexPosition}),
        FMeshes(std::move(AMeshes)) {}

  std::atomic<bool> Started{false};
  std::atomic<bool> Finished{false};

  void Execute(TAnimationDef* AAnim) override {
    Started = true;
    AAnim->PrepareAnimationData();
    AAnim->InitializeCaching(GetDef());
    std::vector<TOwned<TVertexBuffer>> captured;
    for (TMeshDef* mesh : FMeshes)
      captured.emplace_back(New<TVertexBuffer>(mesh->GetVertexSource()->Format(), VertexCount));
    for (int frame = 0; frame < AAnim->GetFrameCount(); ++frame) {
      for (size_t m = 0; m < FMeshes.size(); ++m) {
        for (int i = 0; i < VertexCount; ++i) captured[m]->SetVertices(i, Baked(frame, int(m), i));
        if (TAnimationBuffer* buffer = AAnim->StartCaching(FMeshes[m])) {
          AAnim->CacheFrame(buffer, captured[m].get(), FMeshes[m]->GetIndexSource(), GetFlags());
          if (AAnim->GetBufferingState() == TAnimationBufferingState::Cached) AAnim->StopCaching(buffer);
        }
      }
      std::this_thread::yield();
    }
    Finished = true;
    AAnim->FinalizeCaching();
  }

private:
  std::vector<TMeshDef*> FMeshes;
};

TEST(AnimationCacheThreads, BakeWhileTheMainThreadAsksForFrames) {
  test::TMemoryBufferClassScope scope;
  TOwned<TModelDef> model(New<TModelDef>(nullptr, nullptr));
  std::vector<TMeshDef*> meshes;
  for (int m = 0; m < MeshCount; ++m) {
    auto* mesh = New<TMeshDef>(model.get());
    // Appended, not "m" + ...: g++ 12 at -O3 takes that concatenation for an overlapping copy.
    std::string id = "m";
    id += std::to_string(m);
    mesh->SetId(id);
    std::vector<TVertexData> v(VertexCount);
    for (int i = 0; i < VertexCount; ++i) v[size_t(i)].Position = {0, 0, float(i)};
    mesh->AddVertices(v, 0, VertexCount);
    mesh->AddIndices(std::vector<uint32_t>{0, 1, 2}, 0, 3, 0);
    model->AddChild(mesh);
    meshes.push_back(mesh);
  }
  auto* anim = New<TAnimationDef>(model.get());
  model->AddAnimation(anim);
  auto* stage = New<TAnimationStageDef>(anim);
  anim->AddStage(stage);
  auto* track = New<TPoint3DInterpolatorDef>(stage);
  track->SetDuration(1.0f);  // 60 frames at 60 per second
  stage->AddInterpolator(track);

  TThreadBaker baker(model.get(), meshes);
  std::thread worker([&] { anim->Cache(&baker); });
  std::atomic<bool> rateWaited{false};
  std::thread third([&] {
    while (!baker.Started) std::this_thread::yield();
    anim->SetFrameRate(60);  // the same rate: waits for the bake, changes nothing
    rateWaited = baker.Finished.load();
  });

  bool sawReady = false;
  while (!sawReady) {
    const TAnimationBufferingState state = anim->GetBufferingState();
    CheckSynchronize();
    TMeshBufferObject* frame = anim->GetNextCacheFrame(meshes[0], 0);
    if (frame) {
      EXPECT_EQ(anim->GetBufferingState(), TAnimationBufferingState::Ready);
      sawReady = true;
    } else {
      EXPECT_NE(state, TAnimationBufferingState::Ready);
      std::this_thread::yield();
    }
  }
  worker.join();
  third.join();
  CheckSynchronize();
  EXPECT_TRUE(rateWaited);
  ASSERT_EQ(anim->GetFrameCount(), Frames);
  for (int m = 0; m < MeshCount; ++m)
    for (int f = 0; f < Frames; ++f) {
      TMeshBufferObject* frame = anim->GetNextCacheFrame(meshes[size_t(m)], f);
      ASSERT_NE(frame, nullptr);
      TOwned<TMemoryStream> inflated(frame->Decompress(TMeshBufferComponent::Vertex));
      ASSERT_EQ(inflated->GetSize(), int64_t(VertexCount * sizeof(TPoint3D)));
      std::vector<TPoint3D> points(VertexCount);
      inflated->ReadBuffer(points.data(), inflated->GetSize());
      for (int i = 0; i < VertexCount; ++i) EXPECT_EQ(points[size_t(i)], Baked(f, m, i));
    }
}

}  // namespace
}  // namespace quorvel
