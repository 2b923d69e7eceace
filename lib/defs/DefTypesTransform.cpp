#include "lib/defs/DefTypesTransform.h"

#include <memory>

#include "framework/rtl/Finally.h"
#include "framework/rtl/SysUtils.h"
#include "lib/defs/DefTypesModel.h"
#include "lib/defs/DefTypesText.h"

namespace quorvel {

FW_CLASS_IMPL(TTransformDef, "Quorvel.DefTypes")
void TTransformDef::Register(ClassBuilder<TTransformDef>& b) {
  b.Prop("Owner", &Self::GetOwner, &Self::SetOwner);
}
FW_CLASS_IMPL(TSegmentDef, "Quorvel.DefTypes")
FW_CLASS_NO_MEMBERS(TSegmentDef)
FW_CLASS_IMPL(TGroupDef, "Quorvel.DefTypes")
FW_CLASS_NO_MEMBERS(TGroupDef)

namespace {
constexpr const char* GroupTimestampFormat = "yyyy-mm-dd hh:nn:ss";
constexpr const char* GroupNoTimestamp = "0000-00-00 00:00:00";

// Definitions being read on this thread, one level per child object.
thread_local int32_t ReadNesting = 0;

bool IsInSubtree(const TTransformDef* ARoot, const TCustomDef* ANode) {
  const TTransformDef::TChildList* children = ARoot->GetChildren();
  if (!children) return false;
  for (const TTransformDef* child : *children)
    if (child == ANode || IsInSubtree(child, ANode)) return true;
  return false;
}
}  // namespace

// ---------------------------------------------------------------------------------------
// TTransformDef

TTransformDef::TTransformDef(TCustomDef* AOwner) : FProperties(new TProperties) {
  // The base part of DoSetOwner; AfterConstruction repeats it virtually.
  FOwner = AOwner;
  if (AOwner) FOwnerId = AOwner->GetId();
}

TTransformDef::~TTransformDef() {
  Free(FChildren);
  Free(FProperties);
}

void TTransformDef::AfterConstruction() {
  TCustomDef::AfterConstruction();
  DoSetOwner(FOwner);
}

void TTransformDef::CheckOwner(const TCustomDef* AOwner) const {
  if (!AOwner) return;
  bool cycle = AOwner == this;
  // Up the owners of AOwner: reaching this node means AOwner hangs below it.
  for (const auto* t = dynamic_cast<const TTransformDef*>(AOwner); t && !cycle;
       t = dynamic_cast<const TTransformDef*>(t->FOwner))
    cycle = t->FOwner == this;
  if (!cycle) cycle = IsInSubtree(this, AOwner);
  if (cycle)
    throw Exception(Format("invalid owner \"%s\" of \"%s\" - the owner is the node itself or one of its descendants",
                           AOwner->GetId(), GetId()));
}

void TTransformDef::DoSetOwner(TCustomDef* AOwner) {
  CheckOwner(AOwner);
  FOwner = AOwner;
  FOwnerId = AOwner ? AOwner->GetId() : std::string();
}

TTransformDef* TTransformDef::GetOwner() const {
  if (!FOwner) return nullptr;
  if (auto* t = dynamic_cast<TTransformDef*>(FOwner)) return t;
  throw EInvalidCast("Invalid class typecast");
}

void TTransformDef::SetOwner(TTransformDef* AValue) { DoSetOwner(AValue); }

TCustomDef* TTransformDef::GetOwnerRef() const { return FOwner; }

void TTransformDef::SetOwnerRef(TCustomDef* AValue) { DoSetOwner(AValue); }

TJSONObject* TTransformDef::ToJSON() const {
  std::unique_ptr<TJSONObject> obj(TCustomDef::ToJSON());
  if (FOwner)
    obj->AddPair("Owner", FOwner->GetId());
  else
    obj->AddPair("Owner", new TJSONNull);
  FProperties->ToJSON(obj.get());
  obj->AddPair("Transform", Matrix3DToStr(FTransform));
  if (FChildren) {
    auto* arr = new TJSONArray;
    obj->AddPair("Children", arr);
    arr->Reserve(static_cast<size_t>(FChildren->Count()));
    for (const TTransformDef* child : *FChildren) arr->AddElement(child->ToJSON());
  }
  return obj.release();
}

void TTransformDef::FromJSON(TModelDef* AModel, const TJSONObject* AValue) {
  TCustomDef::FromJSON(AModel, AValue);
  if (!FOwner) {
    FOwnerId = ReadJSONString(AValue, "Owner", "");
    // The owner may come later in the file; then it stays unknown here.
    if (!FOwnerId.empty() && AModel) {
      if (TCustomDef* owner = AModel->FindDefById(FOwnerId)) {
        CheckOwner(owner);
        FOwner = owner;
      }
    }
  } else if (FOwnerId.empty()) {
    FOwnerId = FOwner->GetId();
  }
  FProperties->FromJSON(AValue);
  FTransform = ReadJSONMatrix3D(AValue, "Transform", FTransform);

  const auto* children = dynamic_cast<const TJSONArray*>(AValue ? AValue->GetValue("Children") : nullptr);
  if (!children) return;
  for (const TJSONValue* element : *children) ReadChild(AModel, element);
}

void TTransformDef::ReadChild(TModelDef* AModel, const TJSONValue* AElement) {
  const TJSONObject* item = AElement->As<TJSONObject>();
  // Reading, writing and freeing a tree all recurse once per level.
  if (ReadNesting >= MaxNestingDepth)
    throw Exception(Format("definitions nested deeper than %d levels", MaxNestingDepth));
  ++ReadNesting;
  auto leave = Finally([] { --ReadNesting; });
  const TClass* cls = FindDefClass(ReadJSONString(item, "Type", ""));
  TOwned<TTransformDef> child(cls->CreateAs<TTransformDef>(this));
  child->FromJSON(AModel, item);
  AddChild(child.release());
}

std::string TTransformDef::GetQualifiedComponentName() const {
  std::string name = GetUniqueComponentName(nullptr, GetId());
  if (FCopyCount > 0) name += "_Copy" + IntToStr(FCopyCount);
  return name;
}

TModelDef* TTransformDef::GetModel() const {
  if (auto* model = dynamic_cast<TModelDef*>(FOwner)) return model;
  if (auto* transform = dynamic_cast<TTransformDef*>(FOwner)) return transform->GetModel();
  return nullptr;
}

int32_t TTransformDef::AddChild(TTransformDef* ATransform) {
  if (!ATransform) return -1;
  if (!FChildren) FChildren = new TChildList(true);
  if (FChildren->Contains(ATransform)) return -1;
  return FChildren->Add(ATransform);
}

void TTransformDef::RemoveChild(TTransformDef* ATransform) {
  if (!FChildren) return;
  const int32_t i = FChildren->IndexOf(ATransform);
  if (i >= 0) FChildren->Delete(i);
}

TTransformDef* TTransformDef::ExtractChild(TTransformDef* ATransform) {
  if (!FChildren || !FChildren->Contains(ATransform)) return nullptr;
  return FChildren->Extract(ATransform);
}

void TTransformDef::ClearChildren() {
  if (FChildren) FChildren->Clear();
}

TTransformDef* TTransformDef::FindChildById(std::string_view AId, bool AThrowException) const {
  TTransformDef* found = nullptr;
  Traverse(true, [&](TTransformDef*, int32_t, TTransformDef* AChild) {
    const std::string& id = AChild->GetId();
    const bool match = (AId.size() == id.size() + 1 && AId[0] == '#' && SameText(AId.substr(1), id)) ||
                       SameText(AId, id);
    if (match) found = AChild;
    return !match;
  });
  if (!found && AThrowException) throw Exception(Format("transform with id \"%s\" not found", AId));
  return found;
}

void TTransformDef::AddMesh(TMeshDef* AMesh) { AddChild(AMesh); }

TMatrix3D TTransformDef::GetAbsoluteTransformation() const {
  const TTransformDef* owner = GetOwner();
  if (!owner) return FTransform;
  return owner->GetAbsoluteTransformation() * FTransform;
}

TMatrix3D TTransformDef::EvaluateGlobalTransformation() const { return FTransform; }

void TTransformDef::Traverse(bool ADeepTraverse, const TTransformTraverseProc& AProc) const {
  if (!FChildren || !AProc) return;
  const int32_t count = FChildren->Count();
  auto* self = const_cast<TTransformDef*>(this);
  for (int32_t i = 0; i < count; ++i) {
    TTransformDef* child = FChildren->Items(i);
    if (!AProc(self, i, child)) break;
    if (ADeepTraverse) child->Traverse(true, AProc);
  }
}

// ---------------------------------------------------------------------------------------
// TSegmentDef

TJSONObject* TSegmentDef::ToJSON() const {
  std::unique_ptr<TJSONObject> obj(TTransformDef::ToJSON());
  obj->AddPair("Reference", FReferenceId);
  return obj.release();
}

void TSegmentDef::FromJSON(TModelDef* AModel, const TJSONObject* AValue) {
  TTransformDef::FromJSON(AModel, AValue);
  FReferenceId = ReadJSONString(AValue, "Reference", "");
  // Searched now: a node later in the file is not found (segments take no late pass).
  if (!FReferenceId.empty() && AModel) {
    if (TTransformDef* ref = AModel->FindChildById(FReferenceId, false)) FReference = ref;
  }
}

// ---------------------------------------------------------------------------------------
// TGroupDef

TJSONObject* TGroupDef::ToJSON() const {
  std::unique_ptr<TJSONObject> obj(TTransformDef::ToJSON());
  if (!FAuthor.empty()) obj->AddPair("Author", FAuthor);
  if (FTimestamp.Value > 0) obj->AddPair("Timestamp", FormatDateTime(GroupTimestampFormat, FTimestamp));
  if (!FVersion.empty()) obj->AddPair("Version", FVersion);
  if (!FLicense.empty()) obj->AddPair("License", FLicense);
  if (!FLink.empty()) obj->AddPair("Link", FLink);
  if (!FDescr.empty()) obj->AddPair("Descr", FDescr);
  return obj.release();
}

void TGroupDef::FromJSON(TModelDef* AModel, const TJSONObject* AValue) {
  TTransformDef::FromJSON(AModel, AValue);
  FAuthor = ReadJSONString(AValue, "Author", "");
  FVersion = ReadJSONString(AValue, "Version", "");
  FLicense = ReadJSONString(AValue, "License", "");
  FLink = ReadJSONString(AValue, "Link", "");
  FDescr = ReadJSONString(AValue, "Descr", "");
  const std::string stamp = ReadJSONString(AValue, "Timestamp", GroupNoTimestamp);
  if (!stamp.empty()) {
    TDateTime dt;
    FTimestamp = TryStrToDateTime(stamp, dt) ? dt : TDateTime(0);
  }
}

}  // namespace quorvel
