// Unit Quorvel.Mesh: the instance collection and the read-only listings.
#include <cmath>

#include "framework/rtl/SysUtils.h"
#include "lib/materials/MaterialDefault.h"
#include "lib/scene/Mesh.h"

namespace quorvel {

FW_CLASS_IMPL(TQuorvelMeshInstance, "Quorvel.Mesh")
void TQuorvelMeshInstance::Register(ClassBuilder<TQuorvelMeshInstance>& b) {
  b.Prop("DisplayName", &Self::GetDisplayName, &Self::SetDisplayName)
      .Prop("Position", &Self::GetPosition)
      .Prop("Scale", &Self::GetScale)
      .Prop("RotationAngle", &Self::GetRotationAngle)
      .Prop("RotationCenter", &Self::GetRotationCenter);
}
FW_CLASS_IMPL(TQuorvelMeshInstances, "Quorvel.Mesh")
FW_CLASS_NO_MEMBERS(TQuorvelMeshInstances)
FW_CLASS_IMPL(TQuorvelReadOnlyCollection, "Quorvel.Mesh")
FW_CLASS_NO_MEMBERS(TQuorvelReadOnlyCollection)
FW_CLASS_IMPL(TQuorvelMeshMaterialCollectionItem, "Quorvel.Mesh")
void TQuorvelMeshMaterialCollectionItem::Register(ClassBuilder<TQuorvelMeshMaterialCollectionItem>& b) {
  b.Field("FMaterial", &Self::FMaterial, Reference);
}
FW_CLASS_IMPL(TQuorvelMeshMaterialCollection, "Quorvel.Mesh")
FW_CLASS_NO_MEMBERS(TQuorvelMeshMaterialCollection)
FW_CLASS_IMPL(TQuorvelMeshCollectionItem, "Quorvel.Mesh")
void TQuorvelMeshCollectionItem::Register(ClassBuilder<TQuorvelMeshCollectionItem>& b) {
  b.Field("FMesh", &Self::FMesh, Reference);
}
FW_CLASS_IMPL(TQuorvelMeshCollection, "Quorvel.Mesh")
FW_CLASS_NO_MEMBERS(TQuorvelMeshCollection)
FW_CLASS_IMPL(TQuorvelMeshBehaviourCollectionItem, "Quorvel.Mesh")
void TQuorvelMeshBehaviourCollectionItem::Register(ClassBuilder<TQuorvelMeshBehaviourCollectionItem>& b) {
  b.Field("FBehaviour", &Self::FBehaviour, Reference);
}
FW_CLASS_IMPL(TQuorvelMeshBehaviourCollection, "Quorvel.Mesh")
FW_CLASS_NO_MEMBERS(TQuorvelMeshBehaviourCollection)

namespace {

bool DiffersFrom(const TPoint3D& APoint, float AValue, float AEpsilon) {
  return std::fabs(APoint.X - AValue) > AEpsilon || std::fabs(APoint.Y - AValue) > AEpsilon ||
         std::fabs(APoint.Z - AValue) > AEpsilon;
}

}  // namespace

// =============================================================================================
// TQuorvelMeshInstance

TQuorvelMeshInstance::TQuorvelMeshInstance(TCollection* Collection)
    : TCollectionItem(Collection),
      FPosition(New<TPosition3D>()),
      FRotationAngle(New<TPosition3D>()),
      FScale(New<TPosition3D>()),
      FRotationCenter(New<TPosition3D>()) {
  FScale->SetPointNoChange({1, 1, 1});
  auto matrixChanged = [this](TObject* s) { MatrixChanged(s); };
  FPosition->OnChange = matrixChanged;
  FScale->OnChange = matrixChanged;
  FRotationCenter->OnChange = matrixChanged;
  FRotationAngle->OnChange = [this](TObject* s) { RotationChanged(s); };
  FRotationAngle->OnChangeX = [this](TObject* s) { RotationXChanged(s); };
  FRotationAngle->OnChangeY = [this](TObject* s) { RotationYChanged(s); };
  FRotationAngle->OnChangeZ = [this](TObject* s) { RotationZChanged(s); };
}

TQuorvelMeshInstance::~TQuorvelMeshInstance() = default;

void TQuorvelMeshInstance::AfterConstruction() {
  TCollectionItem::AfterConstruction();
  NotifyCollection();
}

void TQuorvelMeshInstance::BeforeDestruction() {
  TCollection* collection = GetCollection();
  TCollectionItem::BeforeDestruction();
  SetCollection(nullptr);
  if (auto* instances = dynamic_cast<TQuorvelMeshInstances*>(collection)) instances->InstancesChanged();
}

void TQuorvelMeshInstance::NotifyCollection() {
  if (auto* instances = dynamic_cast<TQuorvelMeshInstances*>(GetCollection())) instances->InstancesChanged();
}

void TQuorvelMeshInstance::SetTransform(const TMatrix3D& ATransform) {
  FTransform = ATransform;
  FPosition->SetPointNoChange(ExtractTranslation(ATransform));
  FScale->SetPointNoChange(ExtractScale(ATransform));
  FRotationCenter->SetPointNoChange({});
  FQuaternion = ExtractRotation(ATransform);
  FRotationAngle->SetPointNoChange(QuaternionToEuler(FQuaternion, 0));
  FSavedRotationAngle = {};
  NotifyCollection();
}

void TQuorvelMeshInstance::MatrixChanged(TObject*) {
  if (FUpdating > 0) return;
  TMatrix3D t = TMatrix3D::Identity();
  const TPoint3D scale = FScale->GetPoint();
  if (DiffersFrom(scale, 1, 1e-4f)) t = t * TMatrix3D::CreateScaling(scale);
  if (!DiffersFrom(FRotationAngle->GetPoint(), 0, 1e-4f)) {
    FSavedRotationAngle = {};
    FQuaternion = TQuaternion3D::Identity();
  } else {
    TMatrix3D r = QuaternionToRotationMatrix(FQuaternion);
    const TPoint3D center = FRotationCenter->GetPoint();
    if (DiffersFrom(center, 0, 0.001f))
      r = TMatrix3D::CreateTranslation(-center) * r * TMatrix3D::CreateTranslation(center);
    t = t * r;
  }
  const TPoint3D pos = FPosition->GetPoint();
  if (DiffersFrom(pos, 0, 0.001f)) t = t * TMatrix3D::CreateTranslation(pos);
  FTransform = t;
  NotifyCollection();
}

void TQuorvelMeshInstance::RotationChanged(TObject*) {
  if (FUpdating > 0) return;
  AccumulateRotation(FQuaternion, FSavedRotationAngle, *FRotationAngle, [this] { MatrixChanged(this); });
}

void TQuorvelMeshInstance::RotationXChanged(TObject*) {
  if (FUpdating == 0)
    AccumulateAxisRotation(FQuaternion, FSavedRotationAngle, *FRotationAngle, 0, [this] { MatrixChanged(this); });
}
void TQuorvelMeshInstance::RotationYChanged(TObject*) {
  if (FUpdating == 0)
    AccumulateAxisRotation(FQuaternion, FSavedRotationAngle, *FRotationAngle, 1, [this] { MatrixChanged(this); });
}
void TQuorvelMeshInstance::RotationZChanged(TObject*) {
  if (FUpdating == 0)
    AccumulateAxisRotation(FQuaternion, FSavedRotationAngle, *FRotationAngle, 2, [this] { MatrixChanged(this); });
}

void TQuorvelMeshInstance::ResetRotationAngle() {
  if (FUpdating > 0) return;
  FQuaternion = TQuaternion3D::Identity();
  MatrixChanged(this);
  FRotationAngle->SetPointNoChange({});
  FSavedRotationAngle = {};
}

void TQuorvelMeshInstance::AssignTo(TPersistent* Dest) {
  auto* dest = dynamic_cast<TQuorvelMeshInstance*>(Dest);
  if (!dest) {
    TCollectionItem::AssignTo(Dest);
    return;
  }
  auto* self = this;
  ++self->FUpdating;
  dest->FTransform = FTransform;
  dest->FQuaternion = FQuaternion;
  dest->FSavedRotationAngle = FSavedRotationAngle;
  dest->FPosition->SetPointNoChange(FPosition->GetPoint());
  dest->FRotationAngle->SetPointNoChange(FRotationAngle->GetPoint());
  dest->FScale->SetPointNoChange(FScale->GetPoint());
  dest->FRotationCenter->SetPointNoChange(FRotationCenter->GetPoint());
  --self->FUpdating;
  self->MatrixChanged(self);
}

// =============================================================================================
// TQuorvelMeshInstances

TQuorvelMeshInstances::TQuorvelMeshInstances(TPersistent* AOwner, const TClass* AItemClass)
    : TOwnedCollection(AOwner, AItemClass) {}

void TQuorvelMeshInstances::Update(TCollectionItem*) { InstancesChanged(); }

void TQuorvelMeshInstances::InstancesChanged() {
  FCacheUpdated = false;
  UpdateInstanceCache();
}

void TQuorvelMeshInstances::UpdateInstanceCache() {
  if (FCacheUpdated) return;
  FCachedInstances.assign(size_t(Count()) + 1, TMatrix3D::Identity());
  for (int i = 0; i < Count(); ++i) FCachedInstances[size_t(i) + 1] = Items<TQuorvelMeshInstance>(i)->GetTransform();
  FCacheUpdated = true;
  if (auto* mesh = dynamic_cast<TQuorvelMesh*>(GetOwner())) mesh->UpdateInstanceCaches(TMatrix3D::Identity(), FCachedInstances);
}

void TQuorvelMeshInstances::UpdateInstanceCache(const TMatrix3D& ABaseTransform, const std::vector<TMatrix3D>& AInstances) {
  FCachedInstances.resize(AInstances.size());
  for (size_t i = 0; i < AInstances.size(); ++i) FCachedInstances[i] = AInstances[i] * ABaseTransform;
  FCacheUpdated = true;
}

const std::vector<TMatrix3D>& TQuorvelMeshInstances::ToArray() {
  if (!FCacheUpdated) UpdateInstanceCache();
  return FCachedInstances;
}

const TMatrix3D* TQuorvelMeshInstances::GetCachedInstancesPtr() {
  if (FCachedInstances.empty()) FCachedInstances.push_back(TMatrix3D::Identity());
  return FCachedInstances.data();
}

int32_t TQuorvelMeshInstances::GetCachedInstancesCount() {
  if (FCachedInstances.empty()) FCachedInstances.push_back(TMatrix3D::Identity());
  return int32_t(FCachedInstances.size());
}

TMatrix3D TQuorvelMeshInstances::GetInstance(int32_t AIndex) const {
  if (AIndex < 0 || size_t(AIndex) >= FCachedInstances.size())
    throw Exception("failed to get instance transformation - invalid instance index");
  return FCachedInstances[size_t(AIndex)];
}

void TQuorvelMeshInstances::SetInstance(int32_t AIndex, const TMatrix3D& AValue) {
  if (FCachedInstances.empty()) FCachedInstances.push_back(TMatrix3D{});
  if (AIndex < 0 || size_t(AIndex) >= FCachedInstances.size())
    throw Exception("failed to set instance transformation - invalid instance index");
  FCachedInstances[size_t(AIndex)] = AValue;
}

int32_t TQuorvelMeshInstances::AddInstance(const TMatrix3D& ATransform, bool ACreateItem, const std::string& AName) {
  if (ACreateItem) {
    auto* item = AddItem<TQuorvelMeshInstance>();
    item->SetTransform(ATransform);
    item->SetDisplayName(AName);
    return item->GetIndex();
  }
  if (FCachedInstances.empty()) {
    FCachedInstances = {TMatrix3D::Identity(), ATransform};
  } else {
    FCachedInstances.push_back(ATransform);
  }
  FCacheUpdated = true;
  return int32_t(FCachedInstances.size()) - 1;
}

bool TQuorvelMeshInstances::DeleteInstance(int32_t AIndex) {
  if (Count() > 0) {
    if (AIndex < 0 || AIndex >= Count()) return false;
    Delete(AIndex);
    return true;
  }
  if (AIndex < 0 || size_t(AIndex) >= FCachedInstances.size()) return false;
  if (FCachedInstances.size() == 1) return true;
  if (size_t(AIndex) == FCachedInstances.size() - 1)
    FCachedInstances.pop_back();
  else if (AIndex == 0)
    FCachedInstances[0] = TMatrix3D::Identity();
  else
    FCachedInstances.erase(FCachedInstances.begin() + AIndex);
  return true;
}

void TQuorvelMeshInstances::ClearInstances() {
  Clear();
  FCachedInstances = {TMatrix3D::Identity()};
  FCacheUpdated = true;
}

// =============================================================================================
// read-only listings

bool TQuorvelReadOnlyCollection::Lists(const TObject* AObject) const {
  for (TCollectionItem* item : ItemList())
    if (Referenced(item) == AObject) return true;
  return false;
}

void TQuorvelReadOnlyCollection::Notification(TComponent* AComponent, TOperation AOperation) {
  if (AOperation != opRemove) return;
  for (TCollectionItem* item : ItemList())
    if (Referenced(item) == AComponent) ClearReference(item);
}

void TQuorvelMeshMaterialCollectionItem::AssignTo(TPersistent* Dest) {
  if (auto* dest = dynamic_cast<TQuorvelMeshMaterialCollectionItem*>(Dest)) {
    dest->FMaterial = FMaterial;
    return;
  }
  TCollectionItem::AssignTo(Dest);
}

TObject* TQuorvelMeshMaterialCollection::Referenced(TCollectionItem* AItem) const {
  return static_cast<TQuorvelMeshMaterialCollectionItem*>(AItem)->FMaterial;
}
void TQuorvelMeshMaterialCollection::ClearReference(TCollectionItem* AItem) {
  static_cast<TQuorvelMeshMaterialCollectionItem*>(AItem)->FMaterial = nullptr;
}

bool TQuorvelMeshMaterialCollection::BeginUpdateEx() {
  BeginUpdate();
  if (FUpdating > 0) return false;
  FUpdating = 1;
  return true;
}

void TQuorvelMeshMaterialCollection::EndUpdateEx() {
  --FUpdating;
  EndUpdate();
}

void TQuorvelMeshMaterialCollection::Update(TQuorvelMeshMaterialCollection* ACollection, TQuorvelMesh* AMesh) {
  if (!ACollection || !AMesh) return;
  if (TMaterialSource* source = AMesh->GetMaterialSource(); source && !ACollection->MaterialExists(source))
    ACollection->AddItem<TQuorvelMeshMaterialCollectionItem>()->FMaterial = source;
  for (TQuorvelMesh* sub : AMesh->GetMeshes()) Update(ACollection, sub);
}

std::string TQuorvelMeshCollectionItem::GetDisplayName() const {
  if (!FMesh) return {};
  return FMesh->GetName().empty() ? FMesh->GetQualifiedName() : FMesh->GetName();
}

void TQuorvelMeshCollectionItem::AssignTo(TPersistent* Dest) {
  if (auto* dest = dynamic_cast<TQuorvelMeshCollectionItem*>(Dest)) {
    dest->FMesh = FMesh;
    return;
  }
  TCollectionItem::AssignTo(Dest);
}

TObject* TQuorvelMeshCollection::Referenced(TCollectionItem* AItem) const {
  return static_cast<TQuorvelMeshCollectionItem*>(AItem)->FMesh;
}
void TQuorvelMeshCollection::ClearReference(TCollectionItem* AItem) {
  static_cast<TQuorvelMeshCollectionItem*>(AItem)->FMesh = nullptr;
}

void TQuorvelMeshCollection::Update(TQuorvelMeshCollection* ACollection, TQuorvelMesh* AMesh) {
  if (!ACollection || !AMesh || ACollection->FUpdating > 0) return;
  ACollection->BeginUpdateEx();
  ACollection->BeginUpdate();
  try {
    for (TQuorvelMesh* sub : AMesh->GetMeshes())
      if (!ACollection->MeshExists(sub)) ACollection->AddItem<TQuorvelMeshCollectionItem>()->FMesh = sub;
  } catch (...) {
    ACollection->EndUpdate();
    ACollection->EndUpdateEx();
    throw;
  }
  ACollection->EndUpdate();
  ACollection->EndUpdateEx();
}

std::string TQuorvelMeshBehaviourCollectionItem::GetDisplayName() const {
  if (!FBehaviour) return {};
  return FBehaviour->GetName().empty() ? FBehaviour->GetUniqueID() : FBehaviour->GetName();
}

void TQuorvelMeshBehaviourCollectionItem::SetBehaviour(TQuorvelMaterialBehaviour* Value) {
  auto* mesh = GetCollection() ? dynamic_cast<TQuorvelMesh*>(GetCollection()->GetOwner()) : nullptr;
  if (FBehaviour && mesh) mesh->DetachMaterialBehaviour(FBehaviour);
  FBehaviour = Value;
  if (mesh && FBehaviour) {
    FBehaviour->FreeNotification(mesh);
    mesh->AttachMaterialBehaviour(FBehaviour);
  }
}

void TQuorvelMeshBehaviourCollectionItem::AssignTo(TPersistent* Dest) {
  if (auto* dest = dynamic_cast<TQuorvelMeshBehaviourCollectionItem*>(Dest)) {
    dest->FBehaviour = FBehaviour;
    return;
  }
  TCollectionItem::AssignTo(Dest);
}

TObject* TQuorvelMeshBehaviourCollection::Referenced(TCollectionItem* AItem) const {
  return static_cast<TQuorvelMeshBehaviourCollectionItem*>(AItem)->FBehaviour;
}
void TQuorvelMeshBehaviourCollection::ClearReference(TCollectionItem* AItem) {
  static_cast<TQuorvelMeshBehaviourCollectionItem*>(AItem)->FBehaviour = nullptr;
}

bool TQuorvelMeshBehaviourCollection::BeginUpdateEx() {
  BeginUpdate();
  if (FUpdating > 0) return false;
  FUpdating = 1;
  return true;
}

void TQuorvelMeshBehaviourCollection::EndUpdateEx() {
  --FUpdating;
  EndUpdate();
}

void TQuorvelMeshBehaviourCollection::Update(TQuorvelMeshBehaviourCollection* ACollection, TQuorvelMesh* AMesh) {
  if (!ACollection || !AMesh) return;
  auto* source = dynamic_cast<TQuorvelDefaultMaterialSource*>(AMesh->GetMaterialSource());
  if (TQuorvelMaterialBehaviourCollection* list = source ? source->GetBehaviours() : nullptr) {
    auto* owner = dynamic_cast<TQuorvelMesh*>(ACollection->GetOwner());
    for (int i = 0; i < list->Count(); ++i) {
      TQuorvelMaterialBehaviour* behaviour = list->Items(i)->GetBehaviour();
      // One being freed is about to leave the material's list: listing it would leave the
      // item dangling.
      if (!behaviour || behaviour->GetComponentState().Contains(csDestroying) ||
          ACollection->BehaviourExists(behaviour))
        continue;
      ACollection->AddItem<TQuorvelMeshBehaviourCollectionItem>()->FBehaviour = behaviour;
      if (owner) behaviour->FreeNotification(owner);
    }
  }
  for (TQuorvelMesh* sub : AMesh->GetMeshes()) Update(ACollection, sub);
}

}  // namespace quorvel
