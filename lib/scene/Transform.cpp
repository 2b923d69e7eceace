#include "lib/scene/Transform.h"

#include "framework/rtl/Units.h"

#include "lib/defs/DefTypesTransform.h"
#include "lib/utils/UtilsMath.h"

namespace quorvel {

FW_CLASS_IMPL(TQuorvelTransform, "Quorvel.Transform")
void TQuorvelTransform::Register(ClassBuilder<TQuorvelTransform>& b) {
  // Views of RotationAngle and the local matrix for property paths; records are never
  // written into forms.
  b.Prop("Rotation", &Self::GetRotation, &Self::SetRotation)
      // The framework's quaternion rebuilt from the angles would drop a set value: the
      // rotation road keeps it.
      .Prop("Quaternion", &Self::GetQuaternion,
            [](TQuorvelTransform* t, const TQuaternion3D& q) {
              t->SetRotation({q.ImagPart.X, q.ImagPart.Y, q.ImagPart.Z, q.RealPart});
            })
      .Prop("TransformMatrix", &Self::GetTransformMatrix, &Self::SetTransformMatrix);
}

TQuorvelTransform::TQuorvelTransform(TComponent* AOwner) : TQuorvelControl(AOwner) { SetHitTest(false); }

TVector3D TQuorvelTransform::GetRotation() const {
  const TQuaternion3D q = AnglesToQuaternion(GetRotationAngle()->GetPoint(), 0);
  return {q.ImagPart.X, q.ImagPart.Y, q.ImagPart.Z, q.RealPart};
}

void TQuorvelTransform::SetRotation(const TVector3D& Value) {
  const TQuaternion3D q(Value.X, Value.Y, Value.Z, Value.W);
  GetRotationAngle()->SetPointNoChange(QuaternionToAngles(q, 0));
  SetQuaternionNoChange(q);
  SetSavedRotationAngle({});
  RebuildLocalMatrix(this);
}

void TQuorvelTransform::SetLocalTransformMatrix(const TMatrix3D& AMatrix) {
  GetPosition()->SetPointNoChange(ExtractTranslation(AMatrix));
  GetScale()->SetPointNoChange(ExtractScale(AMatrix));
  const TQuaternion3D q = ExtractRotation(AMatrix);
  SetQuaternionNoChange(q);
  GetRotationAngle()->SetPointNoChange(QuaternionToEuler(q, 0));
  SetSavedRotationAngle({});
  SetLocalMatrix(AMatrix);
  RebuildRenderingList();
  Repaint();
}

void TQuorvelTransform::LoadFromDefinition(TCustomDef* ADef) {
  auto* def = dynamic_cast<TTransformDef*>(ADef);
  if (!def) throw Exception("unexpected definition - no transformdef submitted");
  SetDef(def);
  SetLocalTransformMatrix(def->GetTransform());
  LoadPropertiesFromDefinition(def);
}

void TQuorvelTransform::LoadHierarchyFromDefinition(TTransformDef*) { throw EAbstractError("Abstract Error"); }

void TQuorvelTransform::LoadPropertiesFromDefinition(TTransformDef* ADef) {
  TProperties* props = ADef->GetProperties();
  if (!props) return;
  auto with = [&](const char* AKey, auto&& AApply) {
    TValue v;
    if (props->TryGetValue(AKey, v)) AApply(v);
  };
  with("FrustumCullingCheck", [&](const TValue& v) { SetFrustumCullingCheck(v.AsType<bool>()); });
  with("HitTest", [&](const TValue& v) { SetHitTest(v.AsType<bool>()); });
  with("Locked", [&](const TValue& v) { SetLocked(v.AsType<bool>()); });
  with("Opaque", [&](const TValue& v) { SetOpaque(v.AsType<bool>()); });
  with("Opacity", [&](const TValue& v) { SetOpacity(v.AsType<float>()); });
  with("VisibleContextMenu", [&](const TValue& v) { SetVisibleContextMenu(v.AsType<bool>()); });
  with("TwoSide", [&](const TValue& v) { SetTwoSide(v.AsType<bool>()); });
  with("Visible", [&](const TValue& v) { SetVisible(v.AsType<bool>()); });
  with("ZWrite", [&](const TValue& v) { SetZWrite(v.AsType<bool>()); });
  with("Projection", [&](const TValue& v) { SetProjection(TProjection(v.AsType<int32_t>())); });
  with("Cursor", [&](const TValue& v) { SetCursor(v.AsType<int32_t>()); });
  with("DragMode", [&](const TValue& v) { SetDragMode(TDragMode(v.AsType<int32_t>())); });
  with("Position", [&](const TValue& v) { GetPosition()->SetPoint(v.AsType<TPoint3D>()); });
  with("Scale", [&](const TValue& v) { GetScale()->SetPoint(v.AsType<TPoint3D>()); });
  with("RotationAngle", [&](const TValue& v) { GetRotationAngle()->SetPoint(v.AsType<TPoint3D>()); });
  with("Width", [&](const TValue& v) { SetWidth(v.AsType<float>()); });
  with("Height", [&](const TValue& v) { SetHeight(v.AsType<float>()); });
  with("Depth", [&](const TValue& v) { SetDepth(v.AsType<float>()); });
}

void TQuorvelTransform::StoreToDefinition(TCustomDef* ADef) {
  auto* def = dynamic_cast<TTransformDef*>(ADef);
  if (!def) return;
  def->SetTransform(GetTransformMatrix());
  TProperties* p = def->GetProperties();
  if (!p) return;
  p->AddOrSetValue("ExtendedClassName", TValue(QualifiedClassName()));
  p->AddOrSetValue("FrustumCullingCheck", TValue(GetFrustumCullingCheck()));
  p->AddOrSetValue("HitTest", TValue(GetHitTest()));
  p->AddOrSetValue("Locked", TValue(GetLocked()));
  p->AddOrSetValue("Opaque", TValue(GetOpaque()));
  p->AddOrSetValue("Opacity", TValue(GetOpacity()));
  p->AddOrSetValue("VisibleContextMenu", TValue(GetVisibleContextMenu()));
  p->AddOrSetValue("TwoSide", TValue(GetTwoSide()));
  p->AddOrSetValue("Visible", TValue(GetVisible()));
  p->AddOrSetValue("ZWrite", TValue(GetZWrite()));
  p->AddOrSetValue("Projection", TValue(int32_t(GetProjection())));
  p->AddOrSetValue("Cursor", TValue(GetCursor()));
  p->AddOrSetValue("DragMode", TValue(int32_t(GetDragMode())));
  p->AddOrSetValue("Position", TValue(GetPosition()->GetPoint()));
  p->AddOrSetValue("Scale", TValue(GetScale()->GetPoint()));
  p->AddOrSetValue("RotationAngle", TValue(GetRotationAngle()->GetPoint()));
  p->AddOrSetValue("Width", TValue(GetWidth()));
  p->AddOrSetValue("Height", TValue(GetHeight()));
  p->AddOrSetValue("Depth", TValue(GetDepth()));
}


namespace {

void InitTransformUnit() {
  RegisterClasses({TQuorvelTransform::StaticClass()});
}

void FinTransformUnit() { UnRegisterClasses({TQuorvelTransform::StaticClass()}); }

const TUnitRegistration TransformUnit{{"Quorvel.Transform", {"Quorvel.Control"}, &InitTransformUnit, &FinTransformUnit}};

}  // namespace

}  // namespace quorvel
