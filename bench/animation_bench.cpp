// CPU skinning of a 100k-vertex mesh with four joints per vertex out of 64, through the
// armature (offset matrices computed for every joint, then every record blended into the mesh's
// vertex buffer), against a plain linear-blend loop over flat arrays (positions, joint indices,
// weights, the same 64 matrices) writing the same positions: packed (range 0), or into a buffer
// of the mesh's vertex layout as the armature does (range 1). Baking 90 frames of a 20k-vertex
// mesh, positions plain and compressed, against that loop run 90 times (plus zlib's compress2
// at level 9 on the same bytes for the compressed bake; range 2: each frame's positions stored
// in a GL buffer object of its own with glBufferData, as the bake stores its frames).
#include <benchmark/benchmark.h>
#include <epoxy/gl.h>
#include <zlib.h>

#include <cstring>
#include <cmath>
#include <string>
#include <vector>

#include "bench/EngineGL.h"
#include "framework/gui3d/MeshData.h"
#include "framework/rtl/Thread.h"
#include "framework/rtl/Units.h"
#include "lib/animation/Animation.h"
#include "lib/animation/Armature.h"
#include "lib/animation/DefTypesCache.h"
#include "lib/animation/Joint.h"
#include "lib/context/ContextBuffers.h"
#include "lib/context/windows/ContextGLESWindows.h"
#include "lib/defs/DefTypes.h"
#include "lib/scene/Model.h"

using namespace quorvel;

namespace {

constexpr int VertexCount = 100000;
constexpr int BakeVertexCount = 20000;
constexpr int JointCount = 64;
constexpr int PerVertex = 4;
constexpr float Weights[PerVertex] = {0.1f, 0.2f, 0.3f, 0.4f};

int JointOf(int AVertex, int AK) { return (AVertex * 7 + AK * 13) % JointCount; }

struct TSkinRig {
  TOwned<TModelDef> Def{New<TModelDef>(nullptr, nullptr)};
  TOwned<TQuorvelModel> Model;
  TQuorvelArmature* Armature = nullptr;
  std::vector<TJointDef*> Joints;
  TMeshDef* Mesh = nullptr;

  const int Vertices;

  // With AAnimated, the animation "Wave" turns joint 1 about Z over 1.5 s: 90 frames.
  explicit TSkinRig(int AVertices, bool AAnimated = false) : Vertices(AVertices) {
    Def->SetId("Bench");
    auto* mesh = New<TMeshDef>(Def.get());
    mesh->SetId("Body");
    Mesh = mesh;
    std::vector<TVertexData> v(static_cast<size_t>(AVertices));
    for (int i = 0; i < AVertices; ++i) v[size_t(i)].Position = Position(i);
    mesh->AddVertices(v, 0, AVertices);
    mesh->AddIndices(std::vector<uint32_t>{0, 1, 2}, 0, 3, 0);
    Def->AddChild(mesh);
    auto* rig = New<TArmatureDef>(Def.get());
    rig->SetId("Rig");
    Def->AddArmature(rig);
    auto* ctrl = New<TControllerDef>(mesh);
    ctrl->SetId("C");
    Def->AddController(ctrl);
    rig->AddController(ctrl);
    auto* skin = New<TSkinDef>(ctrl);
    ctrl->SetSkin(skin);
    for (int j = 0; j < JointCount; ++j) {
      auto* joint = New<TJointDef>(rig);
      std::string id = "J";
      id += std::to_string(j);  // not "J" + ...: GCC 12 warns wrongly about that concatenation here
      joint->SetId(id);
      joint->SetTransform(TMatrix3D::CreateTranslation({0, j == 0 ? 0.0f : 0.1f, 0}));
      if (j == 0) {
        rig->SetRoot(joint);
      } else {
        joint->SetParent(Joints[size_t(j - 1)]);
        Joints[size_t(j - 1)]->AddJoint(joint);
      }
      Joints.push_back(joint);
    }
    skin->GetSkeletons()->Add(skin->LinkJoint(Joints[0]));
    for (int i = 0; i < AVertices; ++i)
      for (int k = 0; k < PerVertex; ++k) {
        TJointRefDef* ref = skin->LinkJoint(Joints[size_t(JointOf(i, k))]);
        ref->Indices().push_back(i);
        ref->Weights().push_back(Weights[k]);
      }
    if (AAnimated) {
      auto* anim = New<TAnimationDef>(Def.get());
      anim->SetId("Wave");
      Def->AddAnimation(anim);
      auto* stage = New<TAnimationStageDef>(anim);
      stage->SetId("Stage");
      stage->SetReference(Joints[1]);
      anim->AddStage(stage);
      auto* track = New<TTransformationInterpolatorDef>(stage);
      track->SetId("Track");
      track->SetDuration(1.5f);
      track->AddKey(0, Joints[1]->GetTransform(), TInterpolationType::Linear);
      track->AddKey(1, TMatrix3D::CreateRotationZ(0.5f) * Joints[1]->GetTransform(), TInterpolationType::Linear);
      stage->AddInterpolator(track);
    }
    Model.reset(New<TQuorvelModel>(nullptr));
    Model->LoadFromDefinition(Def.get());
    Armature = Model->GetFirstArmature();
    // A pose: every joint turned a little about Z.
    for (TJointDef* d : Joints)
      if (TQuorvelJoint* joint = Armature->FindJoint(d))
        joint->SetTransformMatrix(TMatrix3D::CreateRotationZ(0.02f) * d->GetTransform());
  }

  static TPoint3D Position(int i) { return {float(i % 100) * 0.01f, float(i / 100) * 0.01f, 0}; }
};

// The rigs live until the process ends: freed among the statics at exit they would outlive the
// engine's units.
TSkinRig& Rig() {
  static TSkinRig& rig = *new TSkinRig(VertexCount);
  return rig;
}

// The peer's flat arrays: positions, four joint indices and weights per vertex, and the offset
// matrices the armature computed for its pose.
struct TFlatSkin {
  std::vector<TMatrix3D> Matrices;
  std::vector<TPoint3D> Positions, Out;
  std::vector<int32_t> Indices;
  std::vector<float> Weights;
  // Where the positions go: Out, or a buffer laid out as the mesh's vertex buffer.
  std::vector<uint8_t> Layout;
  uint8_t* Target;
  size_t Stride = 12;

  // AMeshLayout: the positions go into a buffer of the mesh's vertex size at its position offset.
  explicit TFlatSkin(TSkinRig& ARig, bool AMeshLayout = false) {
    ARig.Armature->AnimateSkin(nullptr);
    const TControllerDef* ctrl = ARig.Def->GetControllers()->Items(0);
    for (TJointDef* d : ARig.Joints) Matrices.push_back(ARig.Armature->FindJoint(d)->GetCurrentOffsetMatrix(ctrl));
    const size_t n = size_t(ARig.Vertices);
    Positions.resize(n);
    Out.resize(n);
    Indices.resize(n * PerVertex);
    Weights.resize(n * PerVertex);
    for (size_t i = 0; i < n; ++i) {
      Positions[i] = TSkinRig::Position(int(i));
      for (size_t k = 0; k < PerVertex; ++k) {
        Indices[i * PerVertex + k] = JointOf(int(i), int(k));
        Weights[i * PerVertex + k] = ::Weights[k];
      }
    }
    Target = reinterpret_cast<uint8_t*>(Out.data());
    if (AMeshLayout) {
      const TVertexBuffer* vb = ARig.Armature->GetMeshes()[0]->GetMeshData()->GetVertexBuffer();
      Stride = size_t(vb->VertexSize());
      Layout.assign(n * Stride, 0);
      Target = Layout.data() + std::max(0, vb->OffsetOf(TVertexFormat::Vertex));
    }
  }
  void Blend() {
    for (size_t i = 0; i < Positions.size(); ++i) {
      const TPoint3D p = Positions[i];
      float x = 0, y = 0, z = 0, s = 0;
      for (size_t k = 0; k < PerVertex; ++k) {
        const float w = Weights[i * PerVertex + k];
        const TMatrix3D& m = Matrices[size_t(Indices[i * PerVertex + k])];
        s += w;
        x += w * (p.X * m.m11 + p.Y * m.m21 + p.Z * m.m31 + m.m41);
        y += w * (p.X * m.m12 + p.Y * m.m22 + p.Z * m.m32 + m.m42);
        z += w * (p.X * m.m13 + p.Y * m.m23 + p.Z * m.m33 + m.m43);
      }
      const TPoint3D v{p.X * (1 - s) + x, p.Y * (1 - s) + y, p.Z * (1 - s) + z};
      std::memcpy(Target + i * Stride, &v, 12);
    }
    benchmark::DoNotOptimize(Target);
  }
};

void BM_ArmatureSkinning(benchmark::State& state) {
  TSkinRig& rig = Rig();
  TVertexBuffer* vb = rig.Armature->GetMeshes()[0]->GetMeshData()->GetVertexBuffer();
  for (auto _ : state) {
    rig.Armature->AnimateSkin(nullptr);
    benchmark::DoNotOptimize(vb->Buffer());
  }
  state.SetItemsProcessed(state.iterations() * VertexCount);
}
BENCHMARK(BM_ArmatureSkinning)->Unit(benchmark::kMillisecond);

// The peer: the same blend over flat arrays, with the matrices the armature computed; range 0
// packed positions, 1 into the mesh's vertex layout.
void BM_PlainLinearBlend(benchmark::State& state) {
  TFlatSkin flat(Rig(), state.range(0) == 1);
  for (auto _ : state) flat.Blend();
  state.SetItemsProcessed(state.iterations() * VertexCount);
}
BENCHMARK(BM_PlainLinearBlend)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// Frames become GL buffer objects: a context has to be current.
constexpr int BakeFrames = 90;

// Bakes "Wave" (90 frames) again and again; range 0 plain positions, 1 compressed positions.
void BM_Bake(benchmark::State& state) {
  bench::SetupEngineGL();
  static TSkinRig& rig = *new TSkinRig(BakeVertexCount, true);
  const bool compressed = state.range(0) == 1;
  TAnimationCachingFlags flags{TAnimationCachingFlag::VertexPosition};
  if (compressed) flags.Include(TAnimationCachingFlag::Compressed);
  TOwned<TAnimationCaching> baker(New<TAnimationCaching>(rig.Def.get(), flags, rig.Model.get()));
  TAnimationDef* def = rig.Def->FindAnimationById("Wave");
  int64_t bytes = 0;
  for (auto _ : state) {
    state.PauseTiming();
    if (def->GetBuffers()) def->GetBuffers()->Clear();
    state.ResumeTiming();
    def->Cache(baker.get());
  }
  if (def->GetFrameCount() != BakeFrames || def->GetBufferingState() != TAnimationBufferingState::Ready)
    state.SkipWithError("the bake did not make 90 ready frames");
  TAnimationBuffer* buffer = nullptr;
  if (def->GetBuffers() && def->GetBuffers()->TryGetValue(rig.Mesh, buffer))
    for (int32_t c = 0; c < buffer->GetFrames()->Count(); ++c) {
      TMeshBufferObject* frame = buffer->GetFrames()->Items(c);
      bytes += compressed ? frame->GetCompressed(TMeshBufferComponent::Vertex)->GetSize()
                          : frame->GetComponent(TMeshBufferComponent::Vertex)->GetSize();
    }
  state.counters["frames/s"] = benchmark::Counter(double(state.iterations()) * BakeFrames, benchmark::Counter::kIsRate);
  state.counters["MB"] = double(bytes) / 1e6;
}
BENCHMARK(BM_Bake)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The peer: the loop 90 times; for the compressed bake each frame's positions through
// compress2 at level 9; range 2 stores each frame's positions in a new GL buffer object.
void BM_PlainBlendFrames(benchmark::State& state) {
  bench::SetupEngineGL();
  static TSkinRig& rig = *new TSkinRig(BakeVertexCount);
  TFlatSkin flat(rig);
  const bool compressed = state.range(0) == 1;
  const bool stored = state.range(0) == 2;
  std::vector<Bytef> out(compressBound(uLong(flat.Out.size() * 12)));
  std::vector<GLuint> frames(BakeFrames, 0);
  int64_t bytes = 0;
  for (auto _ : state) {
    if (stored) {
      state.PauseTiming();
      glDeleteBuffers(GLsizei(frames.size()), frames.data());
      state.ResumeTiming();
      glGenBuffers(GLsizei(frames.size()), frames.data());
    }
    bytes = 0;
    for (int f = 0; f < BakeFrames; ++f) {
      flat.Matrices[1].m41 += 1e-4f;  // a pose of its own per frame
      flat.Blend();
      if (stored) {
        glBindBuffer(GL_ARRAY_BUFFER, frames[size_t(f)]);
        glBufferData(GL_ARRAY_BUFFER, GLsizeiptr(flat.Out.size() * 12), flat.Out.data(), GL_STATIC_DRAW);
        glBindBuffer(GL_ARRAY_BUFFER, 0);
        bytes += int64_t(flat.Out.size() * 12);
      } else if (compressed) {
        uLongf len = uLongf(out.size());
        compress2(out.data(), &len, reinterpret_cast<const Bytef*>(flat.Out.data()), uLong(flat.Out.size() * 12), 9);
        bytes += int64_t(len);
      } else {
        bytes += int64_t(flat.Out.size() * 12);
      }
    }
  }
  glDeleteBuffers(GLsizei(frames.size()), frames.data());
  state.counters["frames/s"] = benchmark::Counter(double(state.iterations()) * BakeFrames, benchmark::Counter::kIsRate);
  state.counters["MB"] = double(bytes) / 1e6;
}
BENCHMARK(BM_PlainBlendFrames)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
