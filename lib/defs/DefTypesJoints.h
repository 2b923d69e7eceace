#pragma once
// Unit Quorvel.DefTypes, per-vertex skinning data: TVertexJoints (up to 16 joints with their
// weights for one vertex) and TVertexJointsList (one record per vertex of a skinned mesh).
#include <array>
#include <cstdint>
#include <vector>

#include "framework/math/Point3D.h"
#include "framework/rtl/Object.h"
#include "lib/defs/DefTypesTransform.h"

namespace quorvel {

class TControllerDef;
class TJointDef;

inline constexpr int VertexJointsMax = 16;

struct TVertexJoints {
  TPoint3D Position;
  uint8_t JointsCount;
  std::array<TJointDef*, VertexJointsMax> JointsArray;  // not owned; empty slots are null
  std::array<float, VertexJointsMax> WeightsArray;

  // Both clear the whole record; AIndex is not used.
  static TVertexJoints Create(int32_t AIndex);
  void Free();
  // Whether AJoint is in one of the 16 slots (null matches an empty slot).
  bool JointExists(const TJointDef* AJoint) const;
  // Appends the joint with its weight unless it is there already (the first weight stays);
  // a 17th joint raises.
  void Add(TJointDef* AJoint, float AWeight);
};
using PVertexJoints = TVertexJoints*;
static_assert(sizeof(TVertexJoints) == 208, "skinning code and stored data rely on this layout");

class TVertexJointsList : public TObject {
  FW_CLASS(TVertexJointsList, TObject)

public:
  // ACapacity zero records.
  TVertexJointsList(TControllerDef* AController, int32_t ACapacity);
  ~TVertexJointsList() override;

  TControllerDef* GetController() const noexcept { return FController; }
  int32_t Count() const noexcept { return int32_t(FItems.size()); }
  // Taken anew from a process-wide counter at creation and at every access that may write
  // (GetItemPtr, SetItem, Clear), so that readers keeping data derived from the records know
  // when to derive it again. A pointer kept from GetItemPtr and written through later is not seen.
  uint64_t GetStamp() const noexcept { return FStamp; }
  // The records for reading; nil when the list is empty.
  const TVertexJoints* Data() const noexcept { return FItems.empty() ? nullptr : FItems.data(); }
  // An index outside 0..Count-1 raises the list's range error.
  PVertexJoints GetItemPtr(int32_t AIndex);
  TVertexJoints GetItem(int32_t AIndex) const;
  void SetItem(int32_t AIndex, const TVertexJoints& AValue);
  // Zero-fills every record, then empties the list.
  void Clear();

private:
  size_t CheckIndex(int32_t AIndex) const;
  void Touch() noexcept;

  TControllerDef* FController;  // not owned
  uint64_t FStamp = 0;
  std::vector<TVertexJoints> FItems;
};

}  // namespace quorvel
