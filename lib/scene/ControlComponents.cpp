#include "lib/scene/ControlComponents.h"

#include <cmath>

#include "framework/rtl/SysUtils.h"
#include "lib/scene/Viewport.h"

namespace quorvel {

namespace {

template <class F>
void Walk(TComponent* AComponent, F&& AVisit) {
  if (!AVisit(AComponent)) return;
  const int count = AComponent->GetComponentCount();
  for (int i = 0; i < count && i < AComponent->GetComponentCount(); ++i) Walk(AComponent->GetComponents(i), AVisit);
}

TComponent* FindFirst(TComponent* AComponent, const std::function<bool(TComponent*)>& AMatch) {
  TComponent* found = nullptr;
  Walk(AComponent, [&](TComponent* c) {
    if (found) return false;
    if (AMatch(c)) found = c;
    return found == nullptr;
  });
  return found;
}

}  // namespace

TComponent* FindComponentDeepSearch(TComponent* AComponent, const std::string& AName) {
  return FindFirst(AComponent, [&](TComponent* c) { return c->GetName() == AName; });
}

TComponent* FindComponentDeepSearchByClass(TComponent* AComponent, const TClass* AClass) {
  return FindFirst(AComponent, [&](TComponent* c) { return c->InheritsFrom(AClass); });
}

TComponent* FindComponentDeepSearchByFilter(TComponent* AComponent, const TComponentSearchFunc& ACallback) {
  return FindFirst(AComponent, [&](TComponent* c) { return ACallback && ACallback(c); });
}

void FindAllComponentsByClass(TComponent* AComponent, const TClass* AClass, std::vector<TComponent*>& AReturn) {
  Walk(AComponent, [&](TComponent* c) {
    if (c->InheritsFrom(AClass)) AReturn.push_back(c);
    return true;
  });
}

std::string LogComponentHierarchy(TComponent* AComponent, const std::string& AIndent) {
  std::string s = AIndent + Format("%s (%s)", {AComponent->GetName(), AComponent->ClassName()}) + "\r\n";
  const int count = AComponent->GetComponentCount();
  for (int i = 0; i < count && i < AComponent->GetComponentCount(); ++i)
    s += LogComponentHierarchy(AComponent->GetComponents(i), AIndent + AIndent);
  return s;
}

void ReadPointField(TComponent*, TPoint& F, TReader* R) { ReadPointText(R->ReadString(), F); }
void WritePointField(TComponent*, const TPoint& F, TWriter* W) { W->WriteString(PointFieldText(F)); }
void ReadPointFField(TComponent*, TPointF& F, TReader* R) { ReadPointFText(R->ReadString(), F); }
void WritePointFField(TComponent*, const TPointF& F, TWriter* W) { W->WriteString(PointFFieldText(F)); }
void ReadPoint3DField(TComponent*, TPoint3D& F, TReader* R) { ReadPoint3DText(R->ReadString(), F); }
void WritePoint3DField(TComponent*, const TPoint3D& F, TWriter* W) { W->WriteString(Point3DFieldText(F)); }
void ReadSize3DField(TComponent*, TSize3D& F, TReader* R) { ReadSize3DText(R->ReadString(), F); }
void WriteSize3DField(TComponent*, const TSize3D& F, TWriter* W) { W->WriteString(Size3DFieldText(F)); }
void ReadVector3DField(TComponent*, TVector3D& F, TReader* R) { ReadVector3DText(R->ReadString(), F); }
void WriteVector3DField(TComponent*, const TVector3D& F, TWriter* W) { W->WriteString(Vector3DFieldText(F)); }
void ReadQuaternionField(TComponent*, TQuaternion3D& F, TReader* R) { ReadQuaternionText(R->ReadString(), F); }
void WriteQuaternionField(TComponent*, const TQuaternion3D& F, TWriter* W) { W->WriteString(QuaternionFieldText(F)); }
void ReadAlphaColorFField(TComponent*, TAlphaColorF& F, TReader* R) { ReadAlphaColorFText(R->ReadString(), F); }
void WriteAlphaColorFField(TComponent*, const TAlphaColorF& F, TWriter* W) {
  W->WriteString(AlphaColorFFieldText(F));
}

void ReadPlaneFField(TComponent*, TPlaneF& F, TReader* R) { ReadPlaneFText(R->ReadString(), F); }
void WritePlaneFField(TComponent*, const TPlaneF& F, TWriter* W) { W->WriteString(PlaneFFieldText(F)); }

void EnableDesigning(TComponent* AComponent) { AComponent->SetDesigning(true, true); }
void DisableDesigning(TComponent* AComponent) { AComponent->SetDesigning(false, true); }

TFwObject* FindComponentUpwards(TFwObject* AObject, const TClass* AClass) {
  TFwObject* p = AObject->GetParent();
  if (p == nullptr) p = dynamic_cast<TFwObject*>(AObject->Owner());
  for (; p; p = p->GetParent())
    if (p->InheritsFrom(AClass)) return p;
  return nullptr;
}

TFwObject* FindComponentUpwards(TFwObject* AObject, const std::string& AQualifiedName) {
  const TClass* cls = GetClass(AQualifiedName);
  return cls ? FindComponentUpwards(AObject, cls) : nullptr;
}

TFwObject* FindViewport(TFwObject* AObject) { return FindComponentUpwards(AObject, TQuorvelViewport::StaticClass()); }

TFwObject* FindTopOwner(TFwObject* AObject) {
  TFwObject* p = AObject->GetParent();
  if (!p) return nullptr;
  while (p->GetParent()) p = p->GetParent();
  return p;
}

}  // namespace quorvel
