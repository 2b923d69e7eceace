#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "framework/rtl/Finally.h"
#include "framework/rtl/Log.h"
#include "lib/animation/Animation.h"
#include "lib/animation/DefTypesCache.h"
#include "lib/animation/KeyAnimation.h"
#include "lib/context/ContextBuffers.h"
#include "lib/formats/Loader.h"
#include "tests/animation/StripRig.h"
#include "tests/support/MemoryBufferObject.h"

namespace quorvel {
namespace {

using Bytes = std::vector<uint8_t>;

// Every test bakes with the memory buffer class: frames are buffer objects, and no GL context
// is current here.

// A strip model with the animation "Bend" of ADuration seconds.
struct TBakeRig {
  TStrip S;
  TAnimationDef* Bend;
  TOwned<TQuorvelModel> Model;
  explicit TBakeRig(float ADuration) {
    Bend = S.AddBend(ADuration);
    Model.reset(New<TQuorvelModel>(nullptr));
    Model->LoadFromDefinition(S.Def.get());
  }
  TQuorvelMesh* Mesh() const { return Model->GetFirstArmature()->GetMeshes()[0]; }
  TVertexBuffer* Own() const { return Mesh()->GetMeshData()->GetVertexBuffer(); }
  TQuorvelAnimation* Animation() const { return Model->GetAnimationManager()->GetAnimation("Bend"); }
};

Bytes BytesOf(const void* AData, size_t ASize) {
  const auto* p = static_cast<const uint8_t*>(AData);
  return Bytes(p, p + ASize);
}

TEST(Baking, EveryFrameFiresItsEventsAndTheThreadAndAnimationAreRestored) {
  test::TMemoryBufferClassScope memory;
  for (bool threadEnabled : {true, false}) {
    TBakeRig r(1.51f);
    TAniThread::Instance().Enabled = threadEnabled;
    auto restore = Finally([] { TAniThread::Instance().Enabled = true; });
    TOwned<TAnimationCaching> baker(New<TAnimationCaching>(r.S.Def.get(), TAnimationCachingFlags{TAnimationCachingFlag::VertexPosition}, r.Model.get()));
    std::vector<int32_t> begun, ended, cached;
    std::vector<TAnimationCachingState> states;
    baker->OnBeginAnimation = [&](TAnimationDef*, TObject*, TAnimationCachingState s) { states.push_back(s); };
    baker->OnEndAnimation = [&](TAnimationDef*, TObject*, TAnimationCachingState s) { states.push_back(s); };
    baker->OnBeginFrame = [&](TAnimationDef*, TObject* a, int32_t c, int32_t t) {
      EXPECT_EQ(t, 91);
      EXPECT_EQ(a, r.Animation());
      EXPECT_FALSE(TAniThread::Instance().Enabled);
      begun.push_back(c);
    };
    baker->OnEndFrame = [&](TAnimationDef*, TObject*, int32_t c, int32_t t) { ended.push_back(c); };
    baker->OnCached = [&](TAnimationDef*, TObject*, int32_t c, TAnimationBuffer* b) {
      EXPECT_EQ(b->GetMesh(), r.S.Strip);
      cached.push_back(c);
    };
    const Bytes before = BytesOf(r.Own()->Buffer(), size_t(r.Own()->Size()));
    r.Bend->Cache(baker.get());
    ASSERT_EQ(begun.size(), 91u);
    for (int32_t c = 0; c < 91; ++c) EXPECT_EQ(begun[size_t(c)], c);
    EXPECT_EQ(ended, begun);
    EXPECT_EQ(cached, begun);  // one mesh with a frame buffer
    EXPECT_EQ(states, (std::vector<TAnimationCachingState>{TAnimationCachingState::Started, TAnimationCachingState::Finished}));
    EXPECT_EQ(r.Bend->GetBufferingState(), TAnimationBufferingState::Ready);
    EXPECT_FALSE(r.Animation()->GetRunning());
    EXPECT_EQ(TAniThread::Instance().Enabled, threadEnabled);
    // Positions only: the mesh's own buffer is as it was.
    EXPECT_EQ(BytesOf(r.Own()->Buffer(), size_t(r.Own()->Size())), before);
    // Ready and current: the armature leaves the buffers to the baked frames.
    r.Model->GetFirstArmature()->FindJoint(r.S.Bone)->SetTransformMatrix(TStrip::BentBone());
    r.Model->GetFirstArmature()->AnimateSkin(nullptr);
    EXPECT_EQ(BytesOf(r.Own()->Buffer(), size_t(r.Own()->Size())), before);
  }
}

TEST(Baking, AnAnimationTheModelDoesNotPlayBakesNothing) {
  test::TMemoryBufferClassScope memory;
  TBakeRig r(0.5f);
  auto* other = New<TAnimationDef>(r.S.Def.get());
  other->SetId("Elsewhere");
  r.S.Def->AddAnimation(other);
  TOwned<TAnimationCaching> baker(New<TAnimationCaching>(r.S.Def.get(), TAnimationCachingFlags{}, r.Model.get()));
  int events = 0;
  baker->OnBeginAnimation = [&](TAnimationDef*, TObject*, TAnimationCachingState) { ++events; };
  baker->OnBeginFrame = [&](TAnimationDef*, TObject*, int32_t, int32_t) { ++events; };
  baker->Execute(other);
  EXPECT_EQ(events, 0);
  EXPECT_EQ(other->GetBufferingState(), TAnimationBufferingState::None);
  TOwned<TQuorvelTransform> notAModel(New<TQuorvelTransform>(nullptr));
  EXPECT_EQ(MessageOf([&] { TOwned<TAnimationCaching> b(New<TAnimationCaching>(r.S.Def.get(), TAnimationCachingFlags{}, notAModel.get())); }),
            "failed to cache model animations - model not a valid TQuorvelModel");
}

TEST(Baking, AHandlerRaisingMidBakeLeavesTheCacheShortOfReadyAndSkinningOn) {
  test::TMemoryBufferClassScope memory;
  TBakeRig r(0.5f);
  TOwned<TAnimationCaching> baker(New<TAnimationCaching>(
      r.S.Def.get(), TAnimationCachingFlags{TAnimationCachingFlag::Compressed, TAnimationCachingFlag::VertexPosition},
      r.Model.get()));
  int frames = 0;
  bool finished = false;
  baker->OnEndFrame = [&](TAnimationDef*, TObject*, int32_t c, int32_t) {
    ++frames;
    if (c == 10) throw Exception("handler failed");
  };
  baker->OnEndAnimation = [&](TAnimationDef*, TObject*, TAnimationCachingState) { finished = true; };
  EXPECT_EQ(MessageOf([&] { r.Bend->Cache(baker.get()); }), "handler failed");
  EXPECT_EQ(frames, 11);
  EXPECT_FALSE(finished);
  EXPECT_NE(r.Bend->GetBufferingState(), TAnimationBufferingState::Ready);
  EXPECT_FALSE(r.Animation()->GetRunning());
  EXPECT_TRUE(TAniThread::Instance().Enabled);
  EXPECT_EQ(r.Animation()->GetCurrentCachedFrame(r.S.Strip), nullptr);
  // Skinning goes on: no unfilled frame stands in for it.
  r.Animation()->Start();
  r.Model->GetFirstArmature()->FindJoint(r.S.Bone)->SetTransformMatrix(TStrip::BentBone());
  r.Model->GetFirstArmature()->AnimateSkin(nullptr);
  ExpectNear(r.Own()->GetVertices(7), {-1, 3, 0}, "skinned");
  r.Animation()->Stop();
}

TEST(Baking, ModelDefinitionBakesTheSelectedAnimationsNotCachedYet) {
  test::TMemoryBufferClassScope memory;
  TStrip s;
  s.AddBend(0.25f)->SetId("Walk");
  s.AddBend(0.25f)->SetId("Run");
  TOwned<TQuorvelModel> model(New<TQuorvelModel>(nullptr));
  model->LoadFromDefinition(s.Def.get());
  const TAnimationCachingFlags flags{TAnimationCachingFlag::Compressed};
  TLogCapture log;
  EXPECT_EQ(s.Def->CacheAnimations({TValue(std::string("Walk")), TValue(5)}, flags, model.get()), 1);
  EXPECT_TRUE(log.Contains("Caching 1 animations: elapsed time "));
  EXPECT_EQ(s.Def->FindAnimationById("Walk")->GetBufferingState(), TAnimationBufferingState::Ready);
  EXPECT_EQ(s.Def->FindAnimationById("Run")->GetBufferingState(), TAnimationBufferingState::None);
  // All: Walk is cached already.
  EXPECT_EQ(s.Def->CacheAnimations({}, flags, model.get()), 1);
  EXPECT_EQ(s.Def->FindAnimationById("Run")->GetBufferingState(), TAnimationBufferingState::Ready);
  // Without a model the baker builds its own.
  TStrip t;
  t.AddBend(0.25f);
  EXPECT_EQ(t.Def->CacheAnimations({}, flags), 1);
  EXPECT_EQ(t.Def->FindAnimationById("Bend")->GetBufferingState(), TAnimationBufferingState::Ready);
}

// A format whose every read gives the strip with the animations "Walk" and "Run".
class TStripLoader : public TQuorvelLoader {
public:
  TModelDef* LoadModelDefFromStream(TStream*, const TQuorvelLoadOptions&) override {
    TStrip s;
    s.AddBend(0.25f)->SetId("Walk");
    s.AddBend(0.25f)->SetId("Run");
    return s.Def.release();
  }
};

TEST(Baking, ALoadedModelBakesEveryAnimationWhenItsOptionsAskForCaching) {
  test::TMemoryBufferClassScope memory;
  const TAnimationCachingFlags compressed{TAnimationCachingFlag::Compressed, TAnimationCachingFlag::VertexPosition};
  const struct {
    TAnimationCachingFlags Caching;
    TAnimationBufferingState State;
  } cases[] = {{{}, TAnimationBufferingState::None}, {compressed, TAnimationBufferingState::Ready}};
  TStripLoader loader;
  auto expectStates = [](TQuorvelModel* AModel, TAnimationBufferingState AState) {
    ASSERT_NE(AModel, nullptr);
    ASSERT_NE(AModel->GetModelDef(), nullptr);
    for (const char* id : {"Walk", "Run"}) EXPECT_EQ(AModel->GetModelDef()->FindAnimationById(id)->GetBufferingState(), AState) << id;
    EXPECT_NE(AModel->GetAnimationManager()->GetAnimation("Walk"), nullptr);
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Caching.IsEmpty() ? "no caching" : "caching");
    const TQuorvelLoadOptions options = TQuorvelLoadOptions::Create("strip.strip", c.Caching, nullptr, nullptr);
    TLogCapture log;
    TOwned<TQuorvelModel> model(loader.LoadModelFromStream(nullptr, nullptr, options));
    expectStates(model.get(), c.State);
    EXPECT_EQ(log.Contains("Caching 2 animations: elapsed time "), !c.Caching.IsEmpty());
    TOwned<TQuorvelModel> existing(New<TQuorvelModel>(nullptr));
    loader.LoadExistingModelFromStream(existing.get(), nullptr, options);
    expectStates(existing.get(), c.State);
  }
  // From a definition the caller keeps.
  TStrip s;
  s.AddBend(0.25f)->SetId("Walk");
  s.AddBend(0.25f)->SetId("Run");
  TOwned<TQuorvelModel> model(TQuorvelLoader::LoadModelFromDef(nullptr, s.Def.get(), compressed));
  expectStates(model.get(), TAnimationBufferingState::Ready);
  EXPECT_EQ(TQuorvelLoader::LoadModelFromDef(nullptr, nullptr, compressed), nullptr);
  TOwned<TQuorvelModel> existing(New<TQuorvelModel>(nullptr));
  TQuorvelLoader::LoadExistingModelFromDef(existing.get(), s.Def.get(), compressed);  // cached already: kept
  expectStates(existing.get(), TAnimationBufferingState::Ready);
}

TEST(Baking, AOneFrameAnimationBakesItsEndPose) {
  test::TMemoryBufferClassScope memory;
  // 10 ms: one frame at sixty, so the bake has no interval to divide; its frame is the pose at
  // the end, the strip bent.
  const TPoint3D bent[8] = {{-1, 0, 0}, {1, 0, 0},      {-1, 1, 0}, {1, 1, 0},
                            {-0.5f, 1.5f, 0}, {0.5f, 2.5f, 0}, {-1, 1, 0}, {-1, 3, 0}};
  for (bool positionsOnly : {true, false}) {
    SCOPED_TRACE(positionsOnly ? "positions" : "all attributes");
    TBakeRig r(0.01f);
    const TAnimationCachingFlags flags = positionsOnly
                                             ? TAnimationCachingFlags{TAnimationCachingFlag::VertexPosition}
                                             : TAnimationCachingFlags{TAnimationCachingFlag::AllAttributes};
    TOwned<TAnimationCaching> baker(New<TAnimationCaching>(r.S.Def.get(), flags, r.Model.get()));
    std::vector<std::pair<int32_t, int32_t>> frames;
    int cached = 0;
    baker->OnBeginFrame = [&](TAnimationDef*, TObject*, int32_t c, int32_t t) { frames.emplace_back(c, t); };
    baker->OnCached = [&](TAnimationDef*, TObject*, int32_t, TAnimationBuffer*) { ++cached; };
    r.Bend->Cache(baker.get());
    EXPECT_EQ(r.Bend->GetFrameCount(), 1);
    EXPECT_EQ(frames, (std::vector<std::pair<int32_t, int32_t>>{{0, 1}}));
    EXPECT_EQ(cached, 1);
    EXPECT_EQ(r.Bend->GetBufferingState(), TAnimationBufferingState::Ready);
    TAnimationBuffer* buffer = nullptr;
    ASSERT_TRUE(r.Bend->GetBuffers()->TryGetValue(r.S.Strip, buffer));
    ASSERT_EQ(buffer->GetFrames()->Count(), 1);
    TMeshBufferObject* frame = buffer->GetFrames()->Items(0);
    ASSERT_NE(frame, nullptr);
    const Bytes data = test::MemoryComponent(frame, positionsOnly ? TMeshBufferComponent::Vertex
                                                                  : TMeshBufferComponent::All)->Data;
    const size_t stride = positionsOnly ? 12 : size_t(r.Own()->VertexSize());
    ASSERT_EQ(data.size(), stride * 8);
    for (int i = 0; i < 8; ++i) {
      TPoint3D p;
      std::memcpy(&p, data.data() + stride * size_t(i), 12);
      EXPECT_TRUE(std::isfinite(p.X) && std::isfinite(p.Y) && std::isfinite(p.Z)) << i;
      ExpectNear(p, bent[i], "frame 0 vertex " + std::to_string(i));
    }
    // Whatever the transition time, playing shows that frame.
    TQuorvelAnimation* a = r.Animation();
    a->Start();
    EXPECT_EQ(a->GetCurrentCachedFrame(r.S.Strip), frame);
    a->Stop();
  }
}

// The frames CPU skinning writes into an unbaked model stepped as the baker steps.
std::vector<Bytes> SkinnedFrames(float ADuration, bool APositionsOnly) {
  TBakeRig r(ADuration);
  std::vector<Bytes> out;
  StepAsTheBaker(r.Animation(), [&](int32_t) {
    r.Model->GetFirstArmature()->AnimateSkin(nullptr);
    const TVertexBuffer* vb = r.Own();
    if (APositionsOnly) {
      Bytes p;
      for (int32_t i = 0; i < vb->Length(); ++i) {
        const TPoint3D v = vb->GetVertices(i);
        const Bytes b = BytesOf(&v, 12);
        p.insert(p.end(), b.begin(), b.end());
      }
      out.push_back(p);
    } else {
      out.push_back(BytesOf(vb->Buffer(), size_t(vb->Size())));
    }
  });
  return out;
}

TEST(Baking, BakedFramesEqualWhatSkinningWritesAfterTheSameSteps) {
  test::TMemoryBufferClassScope memory;
  const float duration = 0.25f;
  for (bool compressedPositions : {false, true}) {
    SCOPED_TRACE(compressedPositions ? "compressed positions" : "plain full");
    TBakeRig r(duration);
    const TAnimationCachingFlags flags =
        compressedPositions
            ? TAnimationCachingFlags{TAnimationCachingFlag::Compressed, TAnimationCachingFlag::VertexPosition}
            : TAnimationCachingFlags{TAnimationCachingFlag::AllAttributes};
    ASSERT_EQ(r.S.Def->CacheAnimations({}, flags, r.Model.get()), 1);
    const std::vector<Bytes> expected = SkinnedFrames(duration, compressedPositions);
    ASSERT_EQ(int32_t(expected.size()), r.Bend->GetFrameCount());
    TAnimationBuffer* buffer = nullptr;
    ASSERT_TRUE(r.Bend->GetBuffers()->TryGetValue(r.S.Strip, buffer));
    for (int32_t c = 0; c < r.Bend->GetFrameCount(); ++c) {
      TMeshBufferObject* frame = buffer->GetFrames()->Items(c);
      Bytes got;
      if (compressedPositions) {
        const TOwned<TMemoryStream> inflated(frame->Decompress(TMeshBufferComponent::Vertex));
        got = BytesOf(inflated->GetMemory(), size_t(inflated->GetSize()));
      } else {
        got = test::MemoryComponent(frame, TMeshBufferComponent::All)->Data;
      }
      ASSERT_EQ(got.size(), expected[size_t(c)].size()) << c;
      EXPECT_EQ(std::memcmp(got.data(), expected[size_t(c)].data(), got.size()), 0) << "frame " << c;
    }
    // Playing: the frame of the moment comes from the cache, the end asking the first frame.
    TQuorvelAnimation* a = r.Animation();
    a->Start();
    a->SetFixedCacheFrame(3);
    EXPECT_EQ(a->GetCurrentCachedFrame(r.S.Strip), buffer->GetFrames()->Items(3));
    a->UnsetFixedCacheFrame();
    a->Stop();
  }
}

}  // namespace
}  // namespace quorvel
