#include "lib/scene/Segment.h"

#include "framework/rtl/Units.h"

#include "framework/rtl/SysUtils.h"
#include "lib/defs/DefTypesMesh.h"
#include "lib/defs/DefTypesTransform.h"
#include "lib/scene/Mesh.h"

namespace quorvel {

FW_CLASS_IMPL(TQuorvelSegment, "Quorvel.Segment")
FW_CLASS_NO_MEMBERS(TQuorvelSegment)

void TQuorvelSegment::LoadFromDefinition(TCustomDef* ADef) {
  TQuorvelTransform::LoadFromDefinition(ADef);
  auto* def = ADef->As<TSegmentDef>();
  SetDef(def);
  if (GetQualifiedName().empty()) SetQualifiedName(def->GetId());
  SetName(def->GetQualifiedComponentName());
  LoadHierarchyFromDefinition(def);
}

void TQuorvelSegment::LoadHierarchyFromDefinition(TTransformDef* ADef) {
  if (!ADef->GetChildren()) return;
  for (int32_t i = 0; i < ADef->ChildCount(); ++i) {
    TTransformDef* child = ADef->GetChildren()->Items(i);
    TQuorvelTransform* node = nullptr;
    if (child->Is<TVertexGroupDef>())
      node = New<TQuorvelVertexGroup>(this);
    else if (child->Is<TMeshDef>())
      node = New<TQuorvelMesh>(this);
    else if (child->Is<TSegmentDef>())
      node = New<TQuorvelSegment>(this);
    else
      throw Exception(Format("todo: %s type not supported yet in hierarchy", {child->ClassName()}));
    node->SetStored(false);
    node->SetParent(this);
    node->LoadFromDefinition(child);
  }
}


namespace {

void InitSegmentUnit() {
  RegisterClasses({TQuorvelSegment::StaticClass()});
}

void FinSegmentUnit() { UnRegisterClasses({TQuorvelSegment::StaticClass()}); }

const TUnitRegistration SegmentUnit{{"Quorvel.Segment", {"Quorvel.Transform"}, &InitSegmentUnit, &FinSegmentUnit}};

}  // namespace

}  // namespace quorvel
