#pragma once
// TQuorvelSegment: a node that builds its child meshes, vertex groups and segments from a
// segment definition.
#include "lib/scene/Transform.h"

namespace quorvel {

class TQuorvelSegment : public TQuorvelTransform {
  FW_CLASS(TQuorvelSegment, TQuorvelTransform)

public:
  using TQuorvelTransform::TQuorvelTransform;

  void LoadFromDefinition(TCustomDef* ADef) override;
  // Mesh, vertex-group and segment definitions become not-stored children of their kind; any
  // other child definition raises "todo: %s type not supported yet in hierarchy" (the children
  // built before stay).
  void LoadHierarchyFromDefinition(TTransformDef* ADef) override;
};

}  // namespace quorvel
