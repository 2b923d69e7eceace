// CPU skinning of a 100k-vertex mesh with four joints per vertex out of 64, through the
// armature (offset matrices computed for every joint, then every record blended), against a
// plain linear-blend loop over flat arrays (positions, joint indices, weights, the same 64
// matrices) writing the same positions.
#include <benchmark/benchmark.h>

#include <cmath>
#include <string>
#include <vector>

#include "framework/gui3d/MeshData.h"
#include "lib/animation/Armature.h"
#include "lib/animation/Joint.h"
#include "lib/defs/DefTypes.h"
#include "lib/scene/Model.h"

using namespace quorvel;

namespace {

constexpr int VertexCount = 100000;
constexpr int JointCount = 64;
constexpr int PerVertex = 4;
constexpr float Weights[PerVertex] = {0.1f, 0.2f, 0.3f, 0.4f};

int JointOf(int AVertex, int AK) { return (AVertex * 7 + AK * 13) % JointCount; }

struct TSkinRig {
  TOwned<TModelDef> Def{New<TModelDef>(nullptr, nullptr)};
  TOwned<TQuorvelModel> Model;
  TQuorvelArmature* Armature = nullptr;
  std::vector<TJointDef*> Joints;

  TSkinRig() {
    Def->SetId("Bench");
    auto* mesh = New<TMeshDef>(Def.get());
    mesh->SetId("Body");
    std::vector<TVertexData> v(VertexCount);
    for (int i = 0; i < VertexCount; ++i) v[size_t(i)].Position = {float(i % 100) * 0.01f, float(i / 100) * 0.01f, 0};
    mesh->AddVertices(v, 0, VertexCount);
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
      joint->SetId("J" + std::to_string(j));
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
    for (int i = 0; i < VertexCount; ++i)
      for (int k = 0; k < PerVertex; ++k) {
        TJointRefDef* ref = skin->LinkJoint(Joints[size_t(JointOf(i, k))]);
        ref->Indices().push_back(i);
        ref->Weights().push_back(Weights[k]);
      }
    Model.reset(New<TQuorvelModel>(nullptr));
    Model->LoadFromDefinition(Def.get());
    Armature = Model->GetFirstArmature();
    // A pose: every joint turned a little about Z.
    for (TJointDef* d : Joints)
      if (TQuorvelJoint* joint = Armature->FindJoint(d))
        joint->SetTransformMatrix(TMatrix3D::CreateRotationZ(0.02f) * d->GetTransform());
  }
};

TSkinRig& Rig() {
  static TSkinRig rig;
  return rig;
}

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

// The peer: the same blend over flat arrays, with the matrices the armature computed.
void BM_PlainLinearBlend(benchmark::State& state) {
  TSkinRig& rig = Rig();
  rig.Armature->AnimateSkin(nullptr);
  const TControllerDef* ctrl = rig.Def->GetControllers()->Items(0);
  std::vector<TMatrix3D> matrices;
  for (TJointDef* d : rig.Joints) matrices.push_back(rig.Armature->FindJoint(d)->GetCurrentOffsetMatrix(ctrl));
  std::vector<TPoint3D> positions(VertexCount), out(VertexCount);
  std::vector<int32_t> indices(size_t(VertexCount) * PerVertex);
  std::vector<float> weights(size_t(VertexCount) * PerVertex);
  for (int i = 0; i < VertexCount; ++i) {
    positions[size_t(i)] = {float(i % 100) * 0.01f, float(i / 100) * 0.01f, 0};
    for (int k = 0; k < PerVertex; ++k) {
      indices[size_t(i) * PerVertex + size_t(k)] = JointOf(i, k);
      weights[size_t(i) * PerVertex + size_t(k)] = Weights[k];
    }
  }
  for (auto _ : state) {
    for (size_t i = 0; i < size_t(VertexCount); ++i) {
      const TPoint3D p = positions[i];
      float x = 0, y = 0, z = 0, s = 0;
      for (size_t k = 0; k < PerVertex; ++k) {
        const float w = weights[i * PerVertex + k];
        const TMatrix3D& m = matrices[size_t(indices[i * PerVertex + k])];
        s += w;
        x += w * (p.X * m.m11 + p.Y * m.m21 + p.Z * m.m31 + m.m41);
        y += w * (p.X * m.m12 + p.Y * m.m22 + p.Z * m.m32 + m.m42);
        z += w * (p.X * m.m13 + p.Y * m.m23 + p.Z * m.m33 + m.m43);
      }
      out[i] = {p.X * (1 - s) + x, p.Y * (1 - s) + y, p.Z * (1 - s) + z};
    }
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * VertexCount);
}
BENCHMARK(BM_PlainLinearBlend)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
