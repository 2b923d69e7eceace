// Normalising and checking the weights of a 100k-vertex skin with four joints per vertex,
// against a plain loop normalising the same weights kept flat (four per vertex) and checking
// their sums. The weights start at a sum of 1.2 every iteration in both.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "lib/defs/DefTypes.h"

using namespace quorvel;

namespace {

constexpr int VertexCount = 100000;
constexpr int JointCount = 8;
constexpr int PerVertex = 4;
constexpr float Start[PerVertex] = {0.1f, 0.2f, 0.3f, 0.6f};

struct TSkinSetup {
  TOwned<TModelDef> Model{New<TModelDef>(nullptr, nullptr)};
  TSkinDef* Skin;
  std::vector<std::vector<float>> Weights;  // per reference, the starting weights

  TSkinSetup() {
    auto* mesh = New<TMeshDef>(Model.get());
    mesh->SetId("Body");
    std::vector<TVertexData> v(VertexCount);
    for (int i = 0; i < VertexCount; ++i) v[size_t(i)].Position = {float(i), 0, 0};
    mesh->AddVertices(v, 0, VertexCount);
    mesh->AddIndices(std::vector<uint32_t>{0, 1, 2}, 0, 3, 0);
    Model->AddChild(mesh);
    auto* rig = New<TArmatureDef>(Model.get());
    Model->AddArmature(rig);
    auto* ctrl = New<TControllerDef>(mesh);
    Model->AddController(ctrl);
    Skin = New<TSkinDef>(ctrl);
    ctrl->SetSkin(Skin);
    std::vector<TJointDef*> joints;
    for (int j = 0; j < JointCount; ++j) {
      auto* joint = New<TJointDef>(rig);
      // Appended: g++ 12 at -O3 takes "text" + std::string for an overlapping copy (-Wrestrict).
      joint->SetId(std::string("J").append(std::to_string(j)));
      if (j == 0)
        rig->SetRoot(joint);
      else
        joints[0]->AddJoint(joint);
      joints.push_back(joint);
    }
    Skin->GetSkeletons()->Add(Skin->LinkJoint(joints[0]));
    Weights.resize(JointCount);
    for (int i = 0; i < VertexCount; ++i)
      for (int k = 0; k < PerVertex; ++k) {
        const int j = (i + k) % JointCount;
        Skin->LinkJoint(joints[size_t(j)])->Indices().push_back(i);
        Weights[size_t(j)].push_back(Start[k]);
      }
  }
  void Reset() {
    for (int j = 0; j < JointCount; ++j) Skin->GetLinkedJoints()->Items(j)->Weights() = Weights[size_t(j)];
  }
};

void BM_SkinNormaliseAndCheck(benchmark::State& state) {
  TSkinSetup setup;
  for (auto _ : state) {
    setup.Reset();
    setup.Skin->NormalizeJointVertexWeights(0.001f);
    benchmark::DoNotOptimize(setup.Skin->CheckMeshVerticesToBeAttachedCorrectly(0.001f));
  }
  state.SetItemsProcessed(state.iterations() * VertexCount);
}
BENCHMARK(BM_SkinNormaliseAndCheck)->Unit(benchmark::kMillisecond);

void BM_PlainLoopNormaliseAndCheck(benchmark::State& state) {
  std::vector<float> start(size_t(VertexCount) * PerVertex);
  for (int i = 0; i < VertexCount; ++i)
    for (int k = 0; k < PerVertex; ++k) start[size_t(i) * PerVertex + size_t(k)] = Start[k];
  std::vector<float> weights;
  for (auto _ : state) {
    weights = start;
    for (int i = 0; i < VertexCount; ++i) {
      float* w = &weights[size_t(i) * PerVertex];
      const float sum = w[0] + w[1] + w[2] + w[3];
      if (std::fabs(std::fabs(sum) - 1) > 0.001f)
        for (int k = 0; k < PerVertex; ++k) w[k] /= std::fabs(sum);
    }
    int bad = 0;
    for (int i = 0; i < VertexCount; ++i) {
      const float* w = &weights[size_t(i) * PerVertex];
      bad += std::fabs(std::fabs(w[0] + w[1] + w[2] + w[3]) - 1) > 0.001f;
    }
    benchmark::DoNotOptimize(bad);
  }
  state.SetItemsProcessed(state.iterations() * VertexCount);
}
BENCHMARK(BM_PlainLoopNormaliseAndCheck)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
