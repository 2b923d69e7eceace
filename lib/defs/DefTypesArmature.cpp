#include "lib/defs/DefTypesArmature.h"

#include <cmath>
#include <memory>

#include "framework/rtl/Finally.h"
#include "framework/rtl/Log.h"
#include "framework/rtl/SysUtils.h"
#include "lib/defs/DefTypesModel.h"
#include "lib/defs/DefTypesText.h"

namespace quorvel {

FW_CLASS_IMPL(TArmatureDef, "Quorvel.DefTypes")
FW_CLASS_NO_MEMBERS(TArmatureDef)
FW_CLASS_IMPL(TControllerDef, "Quorvel.DefTypes")
FW_CLASS_NO_MEMBERS(TControllerDef)
FW_CLASS_IMPL(TJointDef, "Quorvel.DefTypes")
FW_CLASS_NO_MEMBERS(TJointDef)
FW_CLASS_IMPL(TSkinDef, "Quorvel.DefTypes")
FW_CLASS_NO_MEMBERS(TSkinDef)
FW_CLASS_IMPL(TJointRefDef, "Quorvel.DefTypes")
FW_CLASS_NO_MEMBERS(TJointRefDef)

namespace {

// Joint levels being read on this thread: a deep "Joints" nesting raises before the stack
// runs out (writing and freeing the tree recurse once per level too).
thread_local int32_t JointNesting = 0;

const TJSONArray* ArrayPair(const TJSONObject* AValue, std::string_view AName) {
  const TJSONValue* v = AValue ? AValue->GetValue(AName) : nullptr;
  return v ? v->As<TJSONArray>() : nullptr;
}

// A JSON string proper (the JSON layer counts numbers as strings too).
bool IsJSONText(const TJSONValue* AValue) {
  return AValue && AValue->Is<TJSONString>() && !AValue->Is<TJSONNumber>();
}

}  // namespace

// ---------------------------------------------------------------------------------------
// TJointDef

TJointDef::TJointDef(TCustomDef* AArmature) : TTransformDef(AArmature) {
  if (auto* armature = dynamic_cast<TArmatureDef*>(AArmature)) {
    armature->IncJointsCount();
    FArmatureIndex = armature->GetJointsCount();
  }
}

TJointDef::~TJointDef() {
  FParent = nullptr;
  FreeQuietly(FJoints, "child joints");
}

TArmatureDef* TJointDef::GetArmature() const {
  TCustomDef* owner = GetOwnerRef();
  if (!owner) return nullptr;
  if (auto* armature = dynamic_cast<TArmatureDef*>(owner)) return armature;
  throw EInvalidCast("Invalid class typecast");
}

void TJointDef::SetArmature(TArmatureDef* AValue) { DoSetOwner(AValue); }

bool TJointDef::AddJoint(TJointDef* AJoint) {
  if (!AJoint) return false;
  if (!FJoints) FJoints = new TJointDictionary(TDictionaryOwnerships{doOwnsValues});
  return FJoints->TryAdd(AJoint->GetId(), AJoint);
}

TJointDef* TJointDef::FindJointById(std::string_view AId) const {
  if (!FJoints) return nullptr;
  for (const auto& pair : *FJoints) {
    if (pair.Value->GetId() == AId) return pair.Value;
    if (TJointDef* found = pair.Value->FindJointById(AId)) return found;
  }
  return nullptr;
}

int32_t TJointDef::JointsCount() const {
  if (!FJoints) return 0;
  int32_t count = 0;
  for (const auto& pair : *FJoints) count += 1 + pair.Value->JointsCount();
  return count;
}

TModelDef* TJointDef::GetModel() const {
  // Joints of a node tree (built by the class table) have no armature and no model.
  auto* armature = dynamic_cast<TArmatureDef*>(GetOwnerRef());
  return armature ? armature->GetModel() : nullptr;
}

TMatrix3D TJointDef::EvaluateGlobalTransformation() const {
  if (!FParent) return GetTransform();
  return GetTransform() * FParent->EvaluateGlobalTransformation();
}

int64_t TJointDef::GetSize() const {
  int64_t size = TCustomDef::GetSize();
  if (FJoints) size += int64_t(sizeof(TJointDictionary)) + 8 * int64_t(FJoints->Count());
  return size;
}

TJSONObject* TJointDef::ToJSON() const {
  std::unique_ptr<TJSONObject> obj(TTransformDef::ToJSON());
  if (FParent)
    obj->AddPair("Parent", FParent->GetId());
  else
    obj->AddPair("Parent", new TJSONNull);
  if (FJoints) {
    auto* arr = new TJSONArray;
    obj->AddPair("Joints", arr);
    for (const auto& pair : *FJoints) arr->AddElement(pair.Value->ToJSON());
  }
  return obj.release();
}

void TJointDef::FromJSONTree(TModelDef* AModel, const TJSONObject* AValue) {
  TTransformDef::FromJSON(AModel, AValue);
  const TJSONArray* joints = ArrayPair(AValue, "Joints");
  if (!joints) return;
  if (JointNesting >= MaxNestingDepth)
    throw Exception(Format("definitions nested deeper than %d levels", MaxNestingDepth));
  ++JointNesting;
  auto leave = Finally([] { --JointNesting; });
  for (const TJSONValue* element : *joints) {
    const TJSONObject* item = element->As<TJSONObject>();
    TOwned<TJointDef> child(New<TJointDef>(GetArmature()));
    child->SetParent(this);
    child->FromJSONTree(AModel, item);
    // A second child of the same id is not kept: it goes with its subtree.
    if (AddJoint(child.get()))
      child.release();
    else
      Log::d("joint %s: a second child joint %s is dropped", GetId(), child->GetId());
  }
}

// ---------------------------------------------------------------------------------------
// TJointRefDef

TJointRefDef::TJointRefDef(TJointDef* AJoint, TControllerDef* AController, bool AIsStandalone)
    : FIsStandalone(AIsStandalone), FJoint(AJoint), FController(AController) {
  if (AJoint) SetId(AJoint->GetId());
}

bool TJointRefDef::IsSkeletonRoot(const TSkinDef* ASkin) const {
  if (!ASkin) throw Exception("armature parameter expected - parameter is empty");
  for (const TJointRefDef* ref : *ASkin->GetSkeletons())
    if (ref->FJoint == FJoint) return true;
  return false;
}

TMatrix3D TJointRefDef::EvaluateGlobalTransformation() const {
  return FJoint ? FJoint->EvaluateGlobalTransformation() : TMatrix3D::Identity();
}

void TJointRefDef::ClearWeightsAndIndices(int32_t ALength) {
  const size_t n = size_t(std::max(ALength, 0));
  FWeights.assign(n, 0.0f);
  FIndices.assign(n, 0);
  FLowerLimit.clear();
  FUpperLimit.clear();
}

void TJointRefDef::AdjustLengthOfWeightsAndIndices(int32_t ALength) {
  const size_t n = size_t(std::max(ALength, 0));
  FWeights.resize(n, 0.0f);
  FIndices.resize(n, 0);
}

void TJointRefDef::ApplyBindPose(const TSkinDef* ASkin) {
  if (!ASkin) {
    FInvBindMatrix = TMatrix3D::Identity();
    FInvBindMatAvail = false;
    return;
  }
  const int32_t i = ASkin->GetJointIndex(GetId());
  // A link without bind pose counts as not linked: there is nothing to apply.
  if (i < 0 || size_t(i) >= ASkin->GetBindPoses().size()) {
    Log::d("failed to apply bind pose - joint %s in linked list not found", GetId());
    return;
  }
  SetInvBindMatrix(ASkin->GetBindPoses()[size_t(i)]);
}

int64_t TJointRefDef::GetSize() const {
  return TCustomDef::GetSize() +
         4 * int64_t(FWeights.size() + FIndices.size() + FLowerLimit.size() + FUpperLimit.size());
}

TJSONObject* TJointRefDef::ToJSON() const {
  std::unique_ptr<TJSONObject> obj(TCustomDef::ToJSON());
  obj->AddPair("Joint", FJoint ? FJoint->GetId() : std::string());
  obj->AddPair("Controller", FController ? FController->GetId() : std::string());
  obj->AddPair("Weights", SingleArrayToStr(FWeights));
  obj->AddPair("Indices", IntegerArrayToStr(FIndices));
  obj->AddPair("LowerLimit", SingleArrayToStr(FLowerLimit));
  obj->AddPair("UpperLimit", SingleArrayToStr(FUpperLimit));
  obj->AddPair("InvBindMatrix", Matrix3DToStr(FInvBindMatrix));
  obj->AddPair("InvBindMatAvail", FInvBindMatAvail);
  return obj.release();
}

void TJointRefDef::FromJSON(TModelDef* AModel, const TJSONObject* AValue) {
  TCustomDef::FromJSON(AModel, AValue);
  if (JSONValueExists(AValue, "Weights")) FWeights = StrToSingleArray(ReadJSONValue(AValue, "Weights", ""));
  if (JSONValueExists(AValue, "Indices")) FIndices = StrToIntegerArray(ReadJSONValue(AValue, "Indices", ""));
  if (JSONValueExists(AValue, "LowerLimit")) FLowerLimit = StrToSingleArray(ReadJSONValue(AValue, "LowerLimit", ""));
  if (JSONValueExists(AValue, "UpperLimit")) FUpperLimit = StrToSingleArray(ReadJSONValue(AValue, "UpperLimit", ""));
  FInvBindMatrix = ReadJSONMatrix3D(AValue, "InvBindMatrix", FInvBindMatrix);
  FInvBindMatAvail = ReadJSONBoolean(AValue, "InvBindMatAvail", false);
}

// ---------------------------------------------------------------------------------------
// TSkinDef

TSkinDef::TSkinDef(TCustomDef* AController)
    : TTransformDef(AController), FLinkedJoints(new TJointRefList(true)), FSkeletons(new TJointRefList(false)) {}

TSkinDef::~TSkinDef() {
  if (FSkeletons)
    for (TJointRefDef* ref : *FSkeletons)
      if (ref->GetIsStandalone()) FreeQuietly(ref, "skeleton joint reference");
  FreeQuietly(FSkeletons, "skeleton list");
  FreeQuietly(FLinkedJoints, "linked joints");
}

TControllerDef* TSkinDef::GetController() const {
  TCustomDef* owner = GetOwnerRef();
  if (!owner) return nullptr;
  if (auto* controller = dynamic_cast<TControllerDef*>(owner)) return controller;
  throw EInvalidCast("Invalid class typecast");
}

void TSkinDef::SetController(TControllerDef* AValue) { DoSetOwner(AValue); }

TTransformDef* TSkinDef::GetTarget() const {
  TControllerDef* controller = GetController();
  return controller ? controller->GetTarget() : nullptr;
}

void TSkinDef::SetTarget(TTransformDef* AValue) {
  if (TControllerDef* controller = GetController()) controller->SetTarget(AValue);
}

TJointRefDef* TSkinDef::LinkJoint(TJointRefDef* AJointRef) {
  if (!AJointRef) return nullptr;
  // The list owns its references: one listed twice would be freed twice. Another reference to
  // a joint already linked is still appended.
  const int32_t at = AJointRef->FLinkIndex;
  if ((at >= 0 && at < FLinkedJoints->Count() && FLinkedJoints->Items(at) == AJointRef) ||
      FLinkedJoints->Contains(AJointRef))
    return AJointRef;
  AJointRef->FLinkIndex = FLinkedJoints->Add(AJointRef);
  return AJointRef;
}

TJointRefDef* TSkinDef::LinkJoint(TJointDef* AJoint, TJointRefDefFactory AFactory) {
  if (!AJoint) return nullptr;
  if (TJointRefDef* existing = GetJointRef(AJoint)) return existing;
  TJointRefDef* ref = AFactory ? AFactory(AJoint, GetController(), false)
                               : New<TJointRefDef>(AJoint, GetController(), false);
  return LinkJoint(ref);
}

TJointRefDef* TSkinDef::GetJointRef(std::string_view AId) const {
  for (TJointRefDef* ref : *FLinkedJoints)
    if (ref->GetJoint() && ref->GetJoint()->GetId() == AId) return ref;
  return nullptr;
}

TJointRefDef* TSkinDef::GetJointRef(const TJointDef* AJoint) const {
  for (TJointRefDef* ref : *FLinkedJoints)
    if (ref->GetJoint() == AJoint) return ref;
  return nullptr;
}

int32_t TSkinDef::GetJointIndex(std::string_view AId) const {
  for (int32_t i = 0; i < FLinkedJoints->Count(); ++i)
    if (FLinkedJoints->Items(i)->GetId() == AId) return i;
  return -1;
}

int32_t TSkinDef::GetJointIndex(const TJointDef* AJoint) const {
  for (int32_t i = 0; i < FLinkedJoints->Count(); ++i)
    if (FLinkedJoints->Items(i)->GetJoint() == AJoint) return i;
  return -1;
}

std::string TSkinDef::LinkedJointsToString() const {
  std::string result;
  for (const TJointRefDef* ref : *FLinkedJoints) {
    if (!result.empty()) result += ", ";
    result += ref->GetId();
  }
  return result;
}

void TSkinDef::SetBindPosesArrayLength(int32_t ACount) { FBindPoses.resize(size_t(std::max(ACount, 0)), TMatrix3D{}); }

void TSkinDef::AdjustBindPosesArrayLength(int32_t AIndex) {
  if (AIndex >= 0 && int64_t(FBindPoses.size()) - 1 < AIndex) FBindPoses.resize(size_t(AIndex) + 1, TMatrix3D{});
}

void TSkinDef::ApplyBindPoses() {
  for (TJointRefDef* ref : *FLinkedJoints) ref->ApplyBindPose(this);
}

bool TSkinDef::BindShapeMatrixIsIdentity() const {
  const TMatrix3D identity = TMatrix3D::Identity();
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c)
      if (!(std::fabs(FBindShapeMatrix.Get(r, c) - identity.Get(r, c)) <= 1e-40f)) return false;
  return true;
}

void TSkinDef::GetSkeletonJointTransformations(std::vector<TMatrix3D>& AJointTransfArr,
                                               const TMatrix3D& ATransform) const {
  const size_t n = size_t(FLinkedJoints->Count());
  if (AJointTransfArr.size() < n) AJointTransfArr.resize(n);
  for (size_t i = 0; i < n; ++i) {
    const TJointRefDef* ref = FLinkedJoints->Items(int32_t(i));
    const TMatrix3D local = ref->GetJoint() ? ref->GetJoint()->GetTransform() : TMatrix3D::Identity();
    const TMatrix3D pose = i < FBindPoses.size() ? local * FBindPoses[i].Inverse() : local;
    AJointTransfArr[i] = ATransform * pose;
  }
}

void TSkinDef::CalculateInverseBindTransformMatrix(const TMatrix3D&) { throw Exception("TODO: not working yet!"); }

int64_t TSkinDef::GetSize() const {
  int64_t size = TCustomDef::GetSize();
  if (FLinkedJoints) size += int64_t(sizeof(TJointRefList)) + 8 * int64_t(FLinkedJoints->Count());
  return size + 64 * int64_t(FBindPoses.size());
}

TJSONObject* TSkinDef::ToJSON() const {
  std::unique_ptr<TJSONObject> obj(TTransformDef::ToJSON());
  const TControllerDef* controller = dynamic_cast<const TControllerDef*>(GetOwnerRef());
  obj->AddPair("Controller", controller ? controller->GetId() : std::string());
  auto* linked = new TJSONArray;
  obj->AddPair("LinkedJoints", linked);
  for (const TJointRefDef* ref : *FLinkedJoints) linked->AddElement(ref->ToJSON());
  auto* skeletons = new TJSONArray;
  obj->AddPair("Skeletons", skeletons);
  for (const TJointRefDef* ref : *FSkeletons) skeletons->Add(ref->GetId());
  obj->AddPair("BindShapeMatrix", Matrix3DToStr(FBindShapeMatrix));
  auto* poses = new TJSONArray;
  obj->AddPair("BindPoses", poses);
  for (const TMatrix3D& pose : FBindPoses) poses->Add(Matrix3DToStr(pose));
  return obj.release();
}

void TSkinDef::FromJSON(TModelDef* AModel, const TJSONObject* AValue) {
  TTransformDef::FromJSON(AModel, AValue);
  try {
    ReadJSONBody(AModel, AValue);
  } catch (const std::exception& e) {
    throw Exception(Format("failed to load skin definition %s - %s", {GetId(), std::string(e.what())}));
  }
}

void TSkinDef::ReadJSONBody(TModelDef* AModel, const TJSONObject* AValue) {
  TControllerDef* controller = dynamic_cast<TControllerDef*>(GetOwnerRef());
  if (const TJSONArray* linked = ArrayPair(AValue, "LinkedJoints")) {
    for (const TJSONValue* element : *linked) {
      const auto* item = dynamic_cast<const TJSONObject*>(element);
      if (!item) throw EAbort("invalid json value");
      if (!AModel) throw EAbort("model not assigned in controller-mesh");
      const TJSONValue* jointId = item->GetValue("Joint");
      if (!IsJSONText(jointId)) throw EAbort("invalid json value for \"Joint\"");
      const std::string id = jointId->Value();
      TJointDef* joint = AModel->FindJointById(id);
      if (!joint) throw EAbort(Format("joint %s not found in model", {id}));
      LinkJoint(New<TJointRefDef>(joint, controller, false))->FromJSON(AModel, item);
    }
  }
  auto addSkeleton = [&](const std::string& AId) {
    if (!AModel) throw EAbort("model not assigned in controller-mesh");
    TJointDef* joint = AModel->FindJointById(AId);
    if (!joint) throw EAbort(Format("skeleton joint %s not found in model", {AId}));
    TOwned<TJointRefDef> ref(New<TJointRefDef>(joint, controller, true));
    FSkeletons->Add(ref.get());
    ref.release();
  };
  if (const TJSONValue* skeleton = AValue->GetValue("Skeleton")) addSkeleton(skeleton->Value());
  if (const auto* skeletons = dynamic_cast<const TJSONArray*>(AValue->GetValue("Skeletons")))
    for (const TJSONValue* element : *skeletons)
      if (IsJSONText(element)) addSkeleton(element->Value());
  FBindShapeMatrix = ReadJSONMatrix3D(AValue, "BindShapeMatrix", FBindShapeMatrix);
  if (const TJSONArray* poses = ArrayPair(AValue, "BindPoses")) {
    FBindPoses.assign(size_t(poses->Count()), TMatrix3D{});
    for (int32_t i = 0; i < poses->Count(); ++i) FBindPoses[size_t(i)] = StrToMatrix3D(poses->Items(i)->Value());
  }
}

// ---------------------------------------------------------------------------------------
// TArmatureDef

TArmatureDef::TArmatureDef(TCustomDef* AModel) : TTransformDef(AModel), FControllers(new TControllerList(false)) {
  SetId("default");
}

TArmatureDef::~TArmatureDef() {
  FreeQuietly(FRoot, "armature root joint");
  FreeQuietly(FControllers, "armature controller list");
}

TJointDef* TArmatureDef::FindJointById(std::string_view AId) const {
  if (!FRoot) return nullptr;
  if (FRoot->GetId() == AId) return FRoot;
  return FRoot->FindJointById(AId);
}

void TArmatureDef::AddController(TControllerDef* ACtrl) {
  if (ACtrl && !FControllers->Contains(ACtrl)) FControllers->Add(ACtrl);
}

TControllerDef* TArmatureDef::FindControllerByTransform(const TTransformDef* ATransform) const {
  for (TControllerDef* ctrl : *FControllers)
    if (ctrl->GetTarget() == ATransform) return ctrl;
  return nullptr;
}

TModelDef* TArmatureDef::GetModel() const {
  TCustomDef* owner = GetOwnerRef();
  if (!owner) return nullptr;
  if (auto* model = dynamic_cast<TModelDef*>(owner)) return model;
  // An armature placed in a node tree belongs to the tree's model.
  if (auto* node = dynamic_cast<TTransformDef*>(owner)) return node->GetModel();
  throw EInvalidCast("Invalid class typecast");
}

TJSONObject* TArmatureDef::ToJSON() const {
  std::unique_ptr<TJSONObject> obj(TTransformDef::ToJSON());
  if (FRoot)
    obj->AddPair("Root", FRoot->ToJSON());
  else
    obj->AddPair("Root", new TJSONNull);
  auto* controllers = new TJSONArray;
  obj->AddPair("Controllers", controllers);
  for (const TControllerDef* ctrl : *FControllers) controllers->Add(ctrl->GetId());
  return obj.release();
}

void TArmatureDef::FromJSON(TModelDef* AModel, const TJSONObject* AValue) {
  TTransformDef::FromJSON(AModel, AValue);
  const auto* root = dynamic_cast<const TJSONObject*>(AValue ? AValue->GetValue("Root") : nullptr);
  if (!root) return;
  // The tree read before goes; the new root keeps what it read should reading fail.
  FreeQuietlyAndNil(FRoot, "armature root joint");
  FRoot = New<TJointDef>(this);
  FRoot->FromJSONTree(AModel, root);
}

bool TArmatureDef::LateResolveFromJSON(TModelDef* AModel, const TJSONObject* AValue) {
  const auto* controllers = dynamic_cast<const TJSONArray*>(AValue ? AValue->GetValue("Controllers") : nullptr);
  if (!controllers || !AModel) return true;
  for (const TJSONValue* element : *controllers)
    if (IsJSONText(element)) AddController(AModel->FindControllerById(element->Value(), true));
  return true;
}

// ---------------------------------------------------------------------------------------
// TControllerDef

TControllerDef::~TControllerDef() {
  FTarget = nullptr;
  FreeQuietly(FSkin, "controller skin");
}

int64_t TControllerDef::GetSize() const { return TCustomDef::GetSize() + (FSkin ? FSkin->GetSize() : 0); }

TJSONObject* TControllerDef::ToJSON() const {
  std::unique_ptr<TJSONObject> obj(TCustomDef::ToJSON());
  obj->AddPair("Target", FTarget ? FTarget->GetId() : std::string());
  if (FSkin)
    obj->AddPair("Skin", FSkin->ToJSON());
  else
    obj->AddPair("Skin", new TJSONNull);
  return obj.release();
}

void TControllerDef::FromJSON(TModelDef* AModel, const TJSONObject* AValue) {
  TCustomDef::FromJSON(AModel, AValue);
  if (const auto* skin = dynamic_cast<const TJSONObject*>(AValue ? AValue->GetValue("Skin") : nullptr)) {
    // A second "Skin" replaces the first; the controller keeps a skin that fails to read.
    FreeQuietlyAndNil(FSkin, "controller skin");
    FSkin = New<TSkinDef>(this);
    FSkin->FromJSON(AModel, skin);
  }
  if (!FSkin) return;
  for (const TJointRefDef* ref : *FSkin->GetSkeletons())
    if (ref->GetJoint())
      if (auto* armature = dynamic_cast<TArmatureDef*>(ref->GetJoint()->GetOwnerRef())) armature->AddController(this);
}

}  // namespace quorvel
