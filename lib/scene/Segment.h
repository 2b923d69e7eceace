#pragma once
// TQuorvelSegment: a node that builds its child segments from a segment definition.
#include "lib/scene/Transform.h"

namespace quorvel {

class TQuorvelSegment : public TQuorvelTransform {
  FW_CLASS(TQuorvelSegment, TQuorvelTransform)

public:
  using TQuorvelTransform::TQuorvelTransform;

  void LoadFromDefinition(TCustomDef* ADef) override;
  // Child segments become not-stored TQuorvelSegment children; any other child definition
  // raises "todo: %s type not supported yet in hierarchy" (the children built before stay).
  void LoadHierarchyFromDefinition(TTransformDef* ADef) override;
};

}  // namespace quorvel
