#include "lib/defs/DefTypesJoints.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>

#include "framework/rtl/Containers.h"
#include "framework/rtl/SysUtils.h"
#include "lib/defs/DefTypesVertexCache.h"

namespace quorvel {

FW_CLASS_IMPL(TVertexJointsList, "Quorvel.DefTypes")
FW_CLASS_NO_MEMBERS(TVertexJointsList)

// ---- TVertexJoints ----

TVertexJoints TVertexJoints::Create(int32_t) {
  TVertexJoints result;
  result.Free();
  return result;
}

void TVertexJoints::Free() { std::memset(static_cast<void*>(this), 0, sizeof(*this)); }

bool TVertexJoints::JointExists(const TJointDef* AJoint) const {
  return std::find(JointsArray.begin(), JointsArray.end(), AJoint) != JointsArray.end();
}

void TVertexJoints::Add(TJointDef* AJoint, float AWeight) {
  if (JointExists(AJoint)) return;
  if (JointsCount >= VertexJointsMax)
    throw Exception(
        "TVertexJoints.Add(): failed to add joint for vertex - range exceeded - too many joints on a single vertex");
  JointsArray[JointsCount] = AJoint;
  WeightsArray[JointsCount] = AWeight;
  ++JointsCount;
}

// ---- TVertexJointsList ----

TVertexJointsList::TVertexJointsList(TControllerDef* AController, int32_t ACapacity) : FController(AController) {
  FItems.resize(size_t(std::max(ACapacity, 0)), TVertexJoints::Create(0));
  Touch();
}

void TVertexJointsList::Touch() noexcept {
  static std::atomic<uint64_t> counter{0};
  FStamp = counter.fetch_add(1, std::memory_order_relaxed) + 1;
}

TVertexJointsList::~TVertexJointsList() { Clear(); }

size_t TVertexJointsList::CheckIndex(int32_t AIndex) const {
  if (AIndex < 0 || AIndex >= Count()) containers_detail::RaiseOutOfRange();
  return size_t(AIndex);
}

PVertexJoints TVertexJointsList::GetItemPtr(int32_t AIndex) {
  PVertexJoints item = &FItems[CheckIndex(AIndex)];
  Touch();
  return item;
}

TVertexJoints TVertexJointsList::GetItem(int32_t AIndex) const { return FItems[CheckIndex(AIndex)]; }

void TVertexJointsList::SetItem(int32_t AIndex, const TVertexJoints& AValue) {
  TVertexJoints& item = FItems[CheckIndex(AIndex)];
  item.Free();
  item = AValue;
  Touch();
}

void TVertexJointsList::Clear() {
  for (TVertexJoints& item : FItems) item.Free();
  FItems.clear();
  Touch();
}

// ---- TVertexID ----

uint64_t TVertexID::GetHash() const {
  std::string s = IntToStr(Position) + ";" + IntToStr(Normal) + ";" + IntToStr(Binormal) + ";" + IntToStr(Tangent) +
                  ";" + IntToStr(SmoothGroup) + ";";
  for (int i = 0; i < std::min<int>(Textures.Count, int(Textures.Indices.size())); ++i)
    s += IntToStr(Textures.Indices[size_t(i)]) + ";";
  for (int i = 0; i < std::min<int>(Colors.Count, int(Colors.Indices.size())); ++i)
    s += IntToStr(Colors.Indices[size_t(i)]) + ";";
  // The text is ASCII, so its bytes are its UTF-16 code units.
  uint64_t h = 0;
  for (unsigned char c : s) {
    h ^= (c >= 'A' && c <= 'Z') ? uint64_t(c | 32) : uint64_t(c);
    h = (h >> 27) | (h << 5);
  }
  return h;
}

}  // namespace quorvel
