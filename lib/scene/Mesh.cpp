#include "lib/scene/Mesh.h"
#include "lib/scene/MaterialFactory.h"

#include <algorithm>
#include <cmath>

#include "framework/gui3d/Context3D.h"
#include "framework/rtl/Finally.h"
#include "framework/rtl/SysUtils.h"
#include "framework/rtl/Thread.h"
#include "framework/rtl/Units.h"
#include "lib/animation/Animation.h"
#include "lib/context/Context.h"
#include "lib/context/windows/ContextGLESWindows.h"
#include "lib/defs/DefTypesArmature.h"
#include "lib/defs/DefTypesMaterial.h"
#include "lib/defs/DefTypesMesh.h"
#include "lib/defs/DefTypesModel.h"
#include "lib/defs/DefTypesText.h"
#include "lib/materials/MaterialDefault.h"
#include "lib/passes/Controller.h"
#include "lib/scene/Group.h"
#include "lib/scene/Model.h"
#include "lib/scene/Segment.h"
#include "lib/scene/Viewport.h"
#include "lib/utils/UtilsGeometry.h"

namespace quorvel {

FW_CLASS_IMPL(TQuorvelMesh, "Quorvel.Mesh")
void TQuorvelMesh::Register(ClassBuilder<TQuorvelMesh>& b) {
  b.Prop("WrapMode", &Self::GetWrapMode, &Self::SetWrapMode)
      .Prop("MaterialSource", &Self::GetMaterialSource, &Self::SetMaterialSource)
      .Prop("FrustumCullingCheck", &Self::GetFrustumCullingCheck, &Self::SetFrustumCullingCheck)
      .Prop("Instances", &Self::GetInstances, &Self::SetInstances)
      // The vertex positions for vertex-array key animations; "Vertices" is the name a
      // skeleton animation finds on its model (it never writes it).
      .Prop("Coordinates", [](const TQuorvelMesh* m) { return const_cast<TQuorvelMesh*>(m)->GetCoordinates(); },
            &Self::SetCoordinates)
      .Prop("Vertices", [](const TQuorvelMesh* m) { return const_cast<TQuorvelMesh*>(m)->GetCoordinates(); })
      .Field("FModel", &Self::FModel, Reference)
      .Field("FInstances", &Self::FInstances)
      .Field("FMaterialSource", &Self::FMaterialSource, Reference)
      .Field("FWrapMode", &Self::FWrapMode)
      .Field("FShowNormals", &Self::FShowNormals)
      .Field("FNormalsColor", &Self::FNormalsColor)
      .Field("FReferencedName", &Self::FReferencedName)
      .Field("FFlatShading", &Self::FFlatShading);
}
FW_CLASS_IMPL(TQuorvelVertexGroup, "Quorvel.Mesh")
FW_CLASS_NO_MEMBERS(TQuorvelVertexGroup)

namespace {

std::string Wrapped(const char* AOperation, const std::exception& e) {
  return std::string("TQuorvelMesh.") + AOperation + "(): " + e.what();
}

template <class F>
void WrapErrors(const char* AOperation, F&& AFunc) {
  try {
    AFunc();
  } catch (const std::exception& e) {
    throw Exception(Wrapped(AOperation, e));
  }
}

bool InDesign(const TComponent* c) { return c->GetComponentState().Contains(csDesigning); }

// The mesh's own OnRender handler, recognisable so that a copy does not draw its source's
// helpers.
struct TRenderHelpersHook {
  TQuorvelMesh* Mesh;
  void operator()(TObject* ASender, TContext3D* AContext) const { Mesh->DoRenderHelpers(ASender, AContext); }
};

}  // namespace

TQuorvelMesh::TQuorvelMesh(TComponent* AOwner) : TQuorvelTransform(AOwner) {
  FData.reset(New<TMeshData>());
  FInstances.reset(New<TQuorvelMeshInstances>(this, TQuorvelMeshInstance::StaticClass()));
  FMaterials.reset(New<TQuorvelMeshMaterialCollection>(this, TQuorvelMeshMaterialCollectionItem::StaticClass()));
  FMeshCollection.reset(New<TQuorvelMeshCollection>(this, TQuorvelMeshCollectionItem::StaticClass()));
  FBehaviours.reset(New<TQuorvelMeshBehaviourCollection>(this, TQuorvelMeshBehaviourCollectionItem::StaticClass()));
}

TQuorvelMesh::~TQuorvelMesh() = default;

void TQuorvelMesh::AfterConstruction() {
  TQuorvelTransform::AfterConstruction();
  WrapErrors("Create", [&] {
    FWrapMode = TMeshWrapMode::Original;
    FShowNormals = false;
    FNormalsColor = MakeAlphaColor(0xFFFF0000);
    if (!FData) throw EAbort("internal TMeshData not set");
    TOwned<TVertexBuffer> vb(CreateVertexBuffer());
    DirtyHackApplyMeshDataBuffers(FData.get(), vb.get(), nullptr);
    SetOnRender(TRenderEvent(TRenderHelpersHook{this}));
  });
}

void TQuorvelMesh::UnlinkDefs() {
  SetDef(nullptr);
  std::function<void(TFwObject*)> walk = [&](TFwObject* o) {
    for (int i = 0; i < o->GetChildrenCount(); ++i) {
      TFwObject* child = o->GetChild(i);
      if (auto* c = dynamic_cast<TQuorvelControl*>(child)) c->SetDef(nullptr);
      walk(child);
    }
  };
  walk(this);
}

void TQuorvelMesh::BeforeDestruction() {
  if (FMaterialSource) FMaterialSource->RemoveFreeNotification(this);
  FMaterialSource = nullptr;
  ClearVertexJoints();
  // Only a definition this mesh made is its own; one handed to LoadFromDefinition, or one of
  // a model definition, belongs to its caller or its model.
  if (TMeshDef* own = FOwnDef) {
    FOwnDef = nullptr;
    if (GetDef() == own) UnlinkDefs();
    Free(own);
  }
  TQuorvelTransform::BeforeDestruction();
}

void TQuorvelMesh::AdoptOwnDef(TMeshDef* ADef) {
  SetDef(ADef);
  FOwnDef = ADef;
}

void TQuorvelMesh::DoDuplicate(TComponent* ASource, TQuorvelDuplicator* ADuplicator) {
  TQuorvelTransform::DoDuplicate(ASource, ADuplicator);
  auto* source = dynamic_cast<TQuorvelMesh*>(ASource);
  if (!source) return;
  auto* parent = dynamic_cast<TQuorvelMesh*>(GetParent());
  if (!parent && !GetParent()) parent = dynamic_cast<TQuorvelMesh*>(Owner());
  if (parent && std::find(parent->FMeshes.begin(), parent->FMeshes.end(), this) == parent->FMeshes.end())
    parent->FMeshes.push_back(this);
  FData->Assign(source->FData.get());
  // The source frees a definition it made: the copy draws from its own instead.
  if (source->FOwnDef && source->GetDef() == source->FOwnDef) SetDef(FOwnDef);
  // The copied links were written without the notices that clear them when their target goes.
  if (TMaterialSource* material = FMaterialSource) {
    FMaterialSource = nullptr;
    SetMaterialSource(material);
  }
  if (FModel) FModel->FreeNotification(this);
  if (const auto* hook = GetOnRender().Function().target<TRenderHelpersHook>(); hook && hook->Mesh == source)
    SetOnRender(TRenderEvent(TRenderHelpersHook{this}));
  UpdateListings();
}

bool TQuorvelMesh::GetOwnsDef() const { return FOwnDef && GetDef() == FOwnDef; }

TMeshDef* TQuorvelMesh::GetMeshDef() const { return dynamic_cast<TMeshDef*>(GetDef()); }

TQuorvelControl* TQuorvelMesh::GetModel() {
  if (FModel) return FModel;
  // Asked on every draw: a parent that is no mesh (the viewport, mostly) is told by its class
  // without the failed casts.
  TFwObject* parent = GetParent();
  if (!parent || !parent->ClassType()->InheritsFrom(TQuorvelMesh::StaticClass())) return nullptr;
  if (auto* model = dynamic_cast<TQuorvelModel*>(parent))
    FModel = model;
  else if (auto* mesh = dynamic_cast<TQuorvelMesh*>(parent))
    FModel = mesh->GetModel();
  if (FModel) FModel->FreeNotification(this);
  return FModel;
}

void TQuorvelMesh::Loaded() {
  TQuorvelTransform::Loaded();
  RegisterWithParentMesh();
  if (FInstances) FInstances->InstancesChanged();
  UpdateListings();
}

void TQuorvelMesh::Notification(TComponent* AComponent, TOperation Operation) {
  TQuorvelTransform::Notification(AComponent, Operation);
  if (Operation != opRemove) return;
  if (AComponent == FModel) FModel = nullptr;
  if (AComponent == FMaterialSource) FMaterialSource = nullptr;
  if (GetComponentState().Contains(csDestroying)) return;
  if (FMaterials) FMaterials->Notification(AComponent, Operation);
  if (FMeshCollection) FMeshCollection->Notification(AComponent, Operation);
  if (FBehaviours) FBehaviours->Notification(AComponent, Operation);
  UpdateListings();
}

void TQuorvelMesh::SetInstances(TQuorvelMeshInstances* Value) {
  if (Value && FInstances) FInstances->Assign(Value);
}

void TQuorvelMesh::SetMaterialSource(TMaterialSource* Value) {
  if (Value == FMaterialSource) return;
  if (FMaterialSource) FMaterialSource->RemoveFreeNotification(this);
  FMaterialSource = Value;
  if (FMaterialSource) FMaterialSource->FreeNotification(this);
}

// ---- sub-meshes and listings ------------------------------------------------------------------

void TQuorvelMesh::RegisterWithParentMesh() {
  auto* parent = dynamic_cast<TQuorvelMesh*>(GetParent());
  if (!parent) return;
  if (std::find(parent->FMeshes.begin(), parent->FMeshes.end(), this) == parent->FMeshes.end())
    parent->FMeshes.push_back(this);
}

void TQuorvelMesh::UnregisterFromParentMesh() {
  auto* parent = dynamic_cast<TQuorvelMesh*>(GetParent());
  if (parent) std::erase(parent->FMeshes, this);
}

void TQuorvelMesh::ChildrenChanged() {
  if (FindParentViewport(this)) {
    RecalcAbsolute();
    Repaint();
  }
}

void TQuorvelMesh::DoAddObject(TFwObject* AObject) {
  WrapErrors("DoAddObject", [&] {
    TQuorvelTransform::DoAddObject(AObject);
    ChildrenChanged();
    if (auto* mesh = dynamic_cast<TQuorvelMesh*>(AObject)) mesh->RegisterWithParentMesh();
  });
}

void TQuorvelMesh::DoInsertObject(int Index, TFwObject* AObject) {
  WrapErrors("DoInsertObject", [&] {
    TQuorvelTransform::DoInsertObject(Index, AObject);
    ChildrenChanged();
    if (auto* mesh = dynamic_cast<TQuorvelMesh*>(AObject)) mesh->RegisterWithParentMesh();
  });
}

void TQuorvelMesh::DoRemoveObject(TFwObject* AObject) {
  WrapErrors("DoRemoveObject", [&] {
    // The child still has this mesh as parent while it leaves the list.
    if (auto* mesh = dynamic_cast<TQuorvelMesh*>(AObject)) std::erase(FMeshes, mesh);
    TQuorvelTransform::DoRemoveObject(AObject);
    if (!GetComponentState().Contains(csDestroying)) ChildrenChanged();
  });
}

void TQuorvelMesh::UpdateMaterialsCollection() {
  if (!FMaterials) return;
  FMaterials->Clear();
  if (!FMaterials->BeginUpdateEx()) return;
  auto end = Finally([&] { FMaterials->EndUpdateEx(); });
  TQuorvelMeshMaterialCollection::Update(FMaterials.get(), this);
}

void TQuorvelMesh::UpdateMeshCollection() {
  if (!FMeshCollection) return;
  FMeshCollection->Clear();
  TQuorvelMeshCollection::Update(FMeshCollection.get(), this);
}

void TQuorvelMesh::UpdateBehavioursCollection() {
  if (!FBehaviours) return;
  FBehaviours->Clear();
  if (!FBehaviours->BeginUpdateEx()) return;
  auto end = Finally([&] { FBehaviours->EndUpdateEx(); });
  TQuorvelMeshBehaviourCollection::Update(FBehaviours.get(), this);
}

void TQuorvelMesh::UpdateListings() {
  UpdateMaterialsCollection();
  UpdateMeshCollection();
  UpdateBehavioursCollection();
}

// ---- subtree setters --------------------------------------------------------------------------

void TQuorvelMesh::SetWrapMode(TMeshWrapMode Value) {
  FWrapMode = Value;
  for (TQuorvelMesh* m : FMeshes) m->SetWrapMode(Value);
  Repaint();
}

void TQuorvelMesh::SetFrustumCullingCheck(bool Value) {
  TQuorvelTransform::SetFrustumCullingCheck(Value);
  for (TQuorvelMesh* m : FMeshes) m->SetFrustumCullingCheck(Value);
}

void TQuorvelMesh::SetTwoSideValue(bool AValue) {
  SetTwoSide(AValue);
  for (TQuorvelMesh* m : FMeshes) m->SetTwoSideValue(AValue);
}

void TQuorvelMesh::SetOpacityValue(float AValue) {
  if (AValue > 1.0f) {
    SetOpaque(true);
    SetOpacity(1.0f);
  } else {
    SetOpaque(false);
    SetOpacity(AValue);
  }
  for (TQuorvelMesh* m : FMeshes) m->SetOpacityValue(AValue);
}

void TQuorvelMesh::SetVisibility(bool AValue) {
  SetVisible(AValue);
  for (TQuorvelMesh* m : FMeshes) m->SetVisibility(AValue);
}

void TQuorvelMesh::SetHitTestValue(bool AValue) {
  SetHitTest(AValue);
  for (TQuorvelMesh* m : FMeshes) m->SetHitTestValue(AValue);
}

void TQuorvelMesh::SetWidth(float Value) {
  TQuorvelTransform::SetWidth(Value);
  UpdateParent(GetParent());
}
void TQuorvelMesh::SetHeight(float Value) {
  TQuorvelTransform::SetHeight(Value);
  UpdateParent(GetParent());
}
void TQuorvelMesh::SetDepth(float Value) {
  TQuorvelTransform::SetDepth(Value);
  UpdateParent(GetParent());
}

bool TQuorvelMesh::GetIsStatic() const {
  TMeshDef* def = GetMeshDef();
  return def && (def->GetIsStatic() || FStaticPending);
}

void TQuorvelMesh::SetIsStatic(bool Value) {
  TMeshDef* def = GetMeshDef();
  if (!def) return;
  const bool old = GetIsStatic();
  FStaticPending = false;
  def->SetIsStatic(Value);
  if (Value) {
    FData->BoundingBoxNeedsUpdate();
    (void)FData->GetBoundingBox();
    UpdateParent(GetParent());
    FData->GetVertexBuffer()->SetLength(0);
    FData->GetIndexBuffer()->SetLength(0);
  } else if (old != Value) {
    LoadMeshDataFromDefinition(def, FData.get());
  }
  for (TQuorvelMesh* m : FMeshes) m->SetIsStatic(Value);
}

// ---- instances --------------------------------------------------------------------------------

int32_t TQuorvelMesh::AddInstance(const TMatrix3D& ATransform) { return FInstances->AddInstance(ATransform, false, {}); }
int32_t TQuorvelMesh::AddInstanceItem(const std::string& AName, const TMatrix3D& ATransform) {
  return FInstances->AddInstance(ATransform, true, AName);
}
TQuorvelMeshInstance* TQuorvelMesh::AddInstanceItem(const std::string& AName) {
  auto* item = FInstances->AddItem<TQuorvelMeshInstance>();
  item->SetDisplayName(AName);
  return item;
}
bool TQuorvelMesh::DeleteInstance(int32_t AIndex) { return FInstances->DeleteInstance(AIndex); }
void TQuorvelMesh::ClearInstances() { FInstances->ClearInstances(); }
TMatrix3D TQuorvelMesh::GetInstance(int32_t AIndex) const { return FInstances->GetInstance(AIndex); }
void TQuorvelMesh::SetInstance(int32_t AIndex, const TMatrix3D& AValue) { FInstances->SetInstance(AIndex, AValue); }

void TQuorvelMesh::UpdateInstanceCaches(const TMatrix3D& ABaseTransform, const std::vector<TMatrix3D>& AInstances) {
  for (TQuorvelMesh* m : FMeshes) {
    if (m->FInstances) m->FInstances->UpdateInstanceCache(ABaseTransform, AInstances);
    m->UpdateInstanceCaches(ABaseTransform, AInstances);
  }
}

TVertexBuffer* TQuorvelMesh::CreateVertexBuffer() {
  return New<TVertexBuffer>(TVertexFormats{TVertexFormat::Vertex, TVertexFormat::Normal, TVertexFormat::ColorF0,
                                           TVertexFormat::TexCoord0, TVertexFormat::BiNormal, TVertexFormat::Tangent},
                            0);
}

// ---- geometry ---------------------------------------------------------------------------------

TMatrix3D TQuorvelMesh::GetMeshMatrix() {
  try {
    TBoundingBox box;
    if (FWrapMode != TMeshWrapMode::Resize) {
      TMeshDef* def = GetMeshDef();
      if (def && GetIsStatic()) {
        box = def->GetBoundingBox();
        box = box.Offset(0, box.Height() / 2, 0);
      } else {
        box = FData->GetBoundingBox();
      }
      if (box.Left > box.Right || box.Top > box.Bottom || box.Near > box.Far) return TMatrix3D::Identity();
    }
    const TPoint3D size(GetWidth(), GetHeight(), GetDepth());
    TPoint3D p, s(1, 1, 1), t;
    switch (FWrapMode) {
      case TMeshWrapMode::Original:
        s = size;
        break;
      case TMeshWrapMode::Fit: {
        if (auto* parent = dynamic_cast<TQuorvelMesh*>(GetParent())) box = parent->GetUnwrappedBoundingBox();
        p = -box.MinPoint();
        float r = 1;
        const TBoundingBox fitted = box.FitInto(TBoundingBox(size * -0.5f, size * 0.5f), r);
        s = TPoint3D(1 / r, 1 / r, 1 / r);
        t = fitted.MinPoint();
        break;
      }
      case TMeshWrapMode::Stretch: {
        p = -box.MinPoint();
        s.X = box.Width() > 0.0001f ? size.X / box.Width() : 1;
        s.Y = box.Height() > 0.0001f ? size.Y / box.Height() : 1;
        s.Z = box.Depth() > 0.0001f ? size.Z / box.Depth() : 1;
        t = size * -0.5f;
        break;
      }
      case TMeshWrapMode::Resize:
        break;
    }
    return TMatrix3D::CreateTranslation(p) * TMatrix3D::CreateScaling(s) * TMatrix3D::CreateTranslation(t);
  } catch (const std::exception&) {
    return TMatrix3D::Identity();
  }
}

TBoundingBox TQuorvelMesh::GetBoundingBox() {
  TBoundingBox box;
  if (TMeshDef* def = GetMeshDef())
    box = def->GetBoundingBox();
  else
    box = FData->GetBoundingBox().Normalize();
  box = TransformBoundingBox(box, GetMeshMatrix());
  // Sub-mesh boxes join in their own mesh spaces, untransformed.
  for (TQuorvelMesh* m : FMeshes) {
    const TBoundingBox sub = m->GetBoundingBox();
    box = box.IsEmpty(0.0001f) ? sub : box.Union(sub);
  }
  return box;
}

TBoundingBox TQuorvelMesh::GetUnwrappedBoundingBox() {
  TMeshDef* def = GetMeshDef();
  TBoundingBox box = def ? def->GetBoundingBox() : FData->GetBoundingBox();
  for (TQuorvelMesh* m : FMeshes) box = box.Union(m->GetUnwrappedBoundingBox());
  return box;
}

bool TQuorvelMesh::RayCastIntersect(const TPoint3D& ARayPos, const TPoint3D& ARayDir, TPoint3D& AIntersection,
                                    TPoint3D& ANormal) {
  AIntersection = {};
  ANormal = {0, -1, 0};
  float best = 1000000;
  bool result = false;
  for (TQuorvelMesh* m : FMeshes) {
    if (!m->GetHitTest()) continue;
    TPoint3D hit, normal;
    if (m->RayCastIntersect(ARayPos, ARayDir, hit, normal)) {
      const float d = (hit - ARayPos).Length();
      if (d < best) {
        AIntersection = hit;
        ANormal = normal;
        best = d;
        result = true;
      }
    }
  }
  if (GetDef()) {
    TMeshDef* def = GetDef()->As<TMeshDef>();
    TPoint3D hit, normal;
    if (def->RayCastIntersect(ARayPos, ARayDir, GetMeshMatrix(), GetAbsoluteMatrix(), hit, normal)) {
      const float d = (hit - ARayPos).Length();
      if (d < best) {
        AIntersection = hit;
        ANormal = normal;
        result = true;
      }
    }
  } else {
    TPoint3D hit;
    if (FData->RayCastIntersect(ARayPos, ARayDir, hit)) {
      AIntersection = hit;
      ANormal = (ARayPos - hit).Normalize();
      result = true;
    }
  }
  return result;
}

bool TQuorvelMesh::DoRayCastIntersect(const TPoint3D& RayPos, const TPoint3D& RayDir, TPoint3D& Intersection) {
  TPoint3D normal;
  return RayCastIntersect(RayPos, RayDir, Intersection, normal);
}

// ---- drawing ----------------------------------------------------------------------------------

void TQuorvelMesh::Render() {
  TContext3D* context = GetContext();
  if (!context || !context->Valid()) return;
  auto* ctx = dynamic_cast<TQuorvelContext*>(context);
  if (!ctx) throw EInvalidCast("Invalid class typecast");
  if (InDesign(this)) {
    const TBoundingBox box = GetBoundingBox();
    if (dynamic_cast<TQuorvelModel*>(this) || !FModel)
      ctx->DrawCube(box.CenterPoint(), {box.Width(), box.Height(), box.Depth()}, 1.0f,
                    MakeAlphaColor(0xFF6495ED));
  }
  TMeshDef* def = GetMeshDef();
  if (!def || def->GetRenderByVertexGroups()) return;
  if (FStaticPending) {
    FStaticPending = false;
    def->SetIsStatic(true);
  }
  // The cache is one-shot: never left behind for the next object when this one draws nothing.
  auto dropCache = Finally([&] { ctx->SetCurrentCache(nullptr); });
  try {
    auto* model = dynamic_cast<TQuorvelModel*>(GetModel());
    TQuorvelAnimation* animation = nullptr;
    if (model && def->GetModel() && model->GetAnimationManager())
      animation = model->GetAnimationManager()->GetCurrent();
    if (animation) {
      TMeshBufferObject* frame = animation->GetCurrentCachedFrame(def);
      // Without a baked frame a static mesh still has its own buffer to draw.
      if (!frame && def->GetIsStatic()) frame = def->GetBufferObject();
      ctx->SetCurrentCache(frame);
    } else if (def->GetIsStatic()) {
      ctx->SetCurrentCache(def->GetBufferObject());
    }
    TQuorvelTransform::Render();
    if (dynamic_cast<TQuorvelModel*>(this)) return;
    switch (def->GetFaceOrientation()) {
      case TFaceOrientation::FrontFace: ctx->SetContextState(TContextState::csFrontFace); break;
      case TFaceOrientation::BackFace: ctx->SetContextState(TContextState::csBackFace); break;
      case TFaceOrientation::TwoFace: ctx->SetContextState(TContextState::csAllFace); break;
    }
    if (FFlatShading) ctx->SetFlatShading();
    auto smooth = Finally([&] {
      if (FFlatShading) ctx->SetSmoothShading();
    });
    ctx->SetMatrix(GetMeshMatrix() * GetAbsoluteMatrix());
    TMaterial* material = TMaterialSource::ValidMaterial(FMaterialSource);
    try {
      SetInstance(0, ctx->GetCurrentMatrix());
      ctx->SetInstances(FInstances->GetCachedInstancesCount(), FInstances->GetCachedInstancesPtr());
      const TVertexBuffer* vb = FData->GetVertexBuffer();
      if (vb->Length() == 0 && def->GetIsStatic()) {
        // A static mesh keeps no vertices of its own: the definition's buffers describe the
        // layout (and are drawn directly until its GPU copy exists).
        if (def->GetVertexSource() && def->GetIndexSource() && def->GetIndexSource()->Length() >= 3)
          ctx->DrawTriangles(def->GetVertexSource(), def->GetIndexSource(), material, GetAbsoluteOpacity());
      } else {
        FData->Render(ctx, material, GetAbsoluteOpacity());
      }
    } catch (const std::exception& e) {
      throw Exception(Format("failed to render object \"%s\" : %s", {GetName(), std::string(e.what())}));
    }
  } catch (const std::exception& e) {
    throw Exception(Wrapped("Render", e));
  }
}

void TQuorvelMesh::DoRenderHelpers(TObject*, TContext3D* AContext) {
  if (!AContext) return;
  const TVertexBuffer* vb = nullptr;
  const TIndexBuffer* ib = nullptr;
  TMeshDef* def = GetMeshDef();
  if (def && GetIsStatic()) {
    vb = def->GetVertexSource();
    ib = def->GetIndexSource();
  } else {
    vb = FData->GetVertexBuffer();
    ib = FData->GetIndexBuffer();
  }
  if (!vb || !ib) return;
  TAlphaColorF tangentF = TAlphaColorF::Create(FNormalsColor);
  std::swap(tangentF.R, tangentF.B);
  const TAlphaColor tangentColor = tangentF.ToAlphaColor();
  auto drawNormals = [&](TAlphaColor AColor) {
    const bool hasNormals = vb->HasFormat(TVertexFormat::Normal);
    const bool hasTangents = vb->HasFormat(TVertexFormat::Tangent);
    for (int32_t i = 0; i < vb->Length(); ++i) {
      const TPoint3D p = vb->GetVertices(i);
      if (hasNormals) AContext->DrawLine(p, p + vb->GetNormals(i) * 0.25f, 1.0f, AColor);
      if (hasTangents) AContext->DrawLine(p, p + vb->GetTangents(i) * 0.25f, 1.0f, tangentColor);
    }
  };
  if (auto* model = dynamic_cast<TQuorvelModel*>(GetModel())) {
    if (model->GetWireframe() && model->GetWireframeMaterial())
      AContext->DrawLines(vb, ib, TMaterialSource::ValidMaterial(model->GetWireframeMaterial()), 1.0f);
    if (model->GetShowNormals()) drawNormals(model->GetNormalsColor());
  } else if (FShowNormals) {
    drawNormals(FNormalsColor);
  }
}

// ---- definitions ------------------------------------------------------------------------------

void TQuorvelMesh::LoadMeshDataFromDefinition(TMeshDef* ADef, TMeshData* AData) {
  if (ADef && AData) ADef->ApplyToMeshData(AData);
}

void TQuorvelMesh::LoadFromDefinition(TCustomDef* ADef) {
  if (!ADef) return;
  WrapErrors("LoadFromDefinition", [&] {
    TQuorvelTransform::LoadFromDefinition(ADef);
    auto* def = ADef->As<TMeshDef>();
    SetDef(def);
    if (GetQualifiedName().empty()) SetQualifiedName(def->GetId());
    SetName(def->GetQualifiedComponentName());
    def->IncCopyCount();
    if (!def->GetIsStatic()) LoadMeshDataFromDefinition(def, FData.get());
    SetLocalMatrixEx(this, def->GetTransform(), true, true, true, false);
    LoadHierarchyFromDefinition(def);
    // The instances were read before the sub-meshes existed: hand them their copies now.
    if (FInstances->Count() > 0) FInstances->InstancesChanged();
    if (TMaterialRefDef* ref = def->GetMaterial()) {
      TThread::Synchronize(nullptr, [&] {
        if (TMaterialSource* source = TQuorvelMaterial::CreateMaterial(this, def->GetModel(), ref)) SetMaterialSource(source);
        if (TMaterialDef* material = ref->GetReference()) {
          if (material->GetUseOpacity()) {
            SetOpaque(false);
            SetOpacity(material->GetOpacity());
          } else if (!GetOpaque()) {
            SetOpaque(true);
          }
          if (material->GetDoubleSided()) {
            def->SetFaceOrientation(TFaceOrientation::TwoFace);
            SetTwoSideValue(true);
          }
        }
      });
    }
    UpdateListings();
  });
}

void TQuorvelMesh::LoadHierarchyFromDefinition(TTransformDef* ADef) {
  if (!ADef->GetChildren()) return;
  for (int32_t i = 0; i < ADef->ChildCount(); ++i) {
    TTransformDef* child = ADef->GetChildren()->Items(i);
    if (child->Is<TMeshDef>()) {
      TQuorvelMesh* mesh = child->Is<TVertexGroupDef>() ? New<TQuorvelVertexGroup>(this) : New<TQuorvelMesh>(this);
      mesh->SetStored(false);
      mesh->SetParent(this);
      mesh->RegisterWithParentMesh();
      mesh->LoadFromDefinition(child);
    } else if (child->Is<TSegmentDef>()) {
      auto* segment = New<TQuorvelSegment>(this);
      segment->SetStored(false);
      segment->SetParent(this);
      segment->LoadFromDefinition(child);
    } else if (child->Is<TGroupDef>()) {
      auto* group = New<TQuorvelGroup>(this);
      group->SetStored(false);
      group->SetParent(this);
      group->LoadFromDefinition(child);
    } else {
      throw Exception(Format("todo: %s type not supported yet in hierarchy", {child->ClassName()}));
    }
  }
}

void TQuorvelMesh::LoadPropertiesFromDefinition(TTransformDef* ADef) {
  TQuorvelTransform::LoadPropertiesFromDefinition(ADef);
  if (TProperties* props = ADef->GetProperties()) {
    TValue v;
    if (props->TryGetValue("WrapMode", v)) SetWrapMode(TMeshWrapMode(v.AsOrdinal()));
    if (props->TryGetValue("FlatShading", v)) SetFlatShading(v.AsType<bool>());
    if (props->TryGetValue("ShowNormals", v)) FShowNormals = v.AsType<bool>();
    if (props->TryGetValue("NormalsColor", v)) FNormalsColor = v.AsType<TAlphaColorF>().ToAlphaColor();
  }
  auto* meshDef = dynamic_cast<TCustomMeshDef*>(ADef);
  if (meshDef && meshDef->GetInstances() && meshDef->GetInstances()->Count() > 0) {
    ClearInstances();
    for (TMeshInstanceDef* inst : *meshDef->GetInstances()) {
      TQuorvelMeshInstance* item = AddInstanceItem(inst->GetId());
      item->GetPosition()->SetPoint(inst->GetPosition());
      item->GetScale()->SetPoint(inst->GetScale());
      item->GetRotationCenter()->SetPoint(inst->GetRotationCenter());
      item->GetRotationAngle()->SetPoint(inst->GetRotationAngle());
    }
  }
}

void TQuorvelMesh::StoreToDefinition(TCustomDef* ADef) {
  TQuorvelTransform::StoreToDefinition(ADef);
  auto* def = dynamic_cast<TCustomMeshDef*>(ADef);
  if (!def) return;
  if (FInstances && def->GetInstances()) {
    def->GetInstances()->Clear();
    for (int i = 0; i < FInstances->Count(); ++i) {
      auto* item = FInstances->Items<TQuorvelMeshInstance>(i);
      auto* inst = New<TMeshInstanceDef>(def);
      inst->SetId(item->GetDisplayName());
      inst->SetPosition(item->GetPosition()->GetPoint());
      inst->SetScale(item->GetScale()->GetPoint());
      inst->SetRotationAngle(item->GetRotationAngle()->GetPoint());
      inst->SetRotationCenter(item->GetRotationCenter()->GetPoint());
      def->GetInstances()->Add(inst);
    }
  }
  if (TProperties* p = def->GetProperties()) {
    p->AddOrSetValue("WrapMode", TValue::From(FWrapMode));
    p->AddOrSetValue("FlatShading", TValue(FFlatShading));
    p->AddOrSetValue("ShowNormals", TValue(FShowNormals));
    p->AddOrSetValue("NormalsColor", TValue(TAlphaColorF::Create(FNormalsColor)));
  }
}

void TQuorvelMesh::HandOverToDefinition() {
  TMeshDef* def = GetMeshDef();
  if (!def) return;
  def->SetIsStatic(false);
  auto restore = Finally([&] { def->SetIsStatic(true); });
  FData->BoundingBoxNeedsUpdate();
  (void)FData->GetBoundingBox();
  UpdateParent(GetParent());
  def->ApplyFromMeshData(FData.get());
  FData->GetVertexBuffer()->SetLength(0);
  FData->GetIndexBuffer()->SetLength(0);
  // Without a GL context (a form streams its primitives before the viewport made one) the GPU
  // copy waits for the first draw.
  if (!TCustomContextWindows::SharedContext()) {
    restore.Dismiss();
    FStaticPending = true;
  }
}

// ---- normals, tangents, vertex edits ----------------------------------------------------------

void TQuorvelMesh::SetFlatShading(bool Value) {
  FFlatShading = Value;
  if (TMeshDef* def = GetMeshDef()) {
    if (Value)
      def->CalcFaceNormals(true, true);
    else
      def->CalcSmoothNormals(TMeshDefCalculateNormalMethod::cnmSlowest, 0.001f, true);
  }
  if (FData->GetIndexBuffer()->Length() >= 3) {
    if (Value)
      FData->CalcFaceNormals(true);
    else
      FData->CalcSmoothNormals(TCalculateNormalMethod::Slowest, 0.001f);
  }
  ComputeTangentsAndBinormals();
  for (TQuorvelMesh* m : FMeshes) m->SetFlatShading(Value);
}

void TQuorvelMesh::SolveTangents(TMeshData* AData) {
  if (AData) TMeshDef::CalcTangentBinormals(AData->GetVertexBuffer(), AData->GetIndexBuffer());
}

void TQuorvelMesh::SolveMeshDataTangents() {
  if (FData) SolveTangents(FData.get());
}

void TQuorvelMesh::ComputeTangentsAndBinormals() {
  if (TMeshDef* def = GetMeshDef()) def->CalcTangentBinormals(false);
  SolveTangents(FData.get());
  for (TQuorvelMesh* m : FMeshes) m->ComputeTangentsAndBinormals();
}

void TQuorvelMesh::ComputeAllNormalsAndTangents() {
  if (TMeshDef* def = GetMeshDef()) {
    def->CalcFaceNormals(true, true);
    def->CalcTangentBinormals(false);
  }
  if (FData->GetIndexBuffer()->Length() >= 3) FData->CalcFaceNormals(true);
  ComputeTangentsAndBinormals();
  for (TQuorvelMesh* m : FMeshes) m->ComputeAllNormalsAndTangents();
}

std::vector<TPoint3D> TQuorvelMesh::GetCoordinates() {
  std::vector<TPoint3D> result;
  if (!FData) return result;
  const TVertexBuffer* vb = FData->GetVertexBuffer();
  result.reserve(size_t(vb->Length()));
  for (int32_t i = 0; i < vb->Length(); ++i) result.push_back(vb->GetVertices(i));
  return result;
}

void TQuorvelMesh::SetCoordinates(const std::vector<TPoint3D>& Value) {
  if (Value.empty()) return;
  TMeshDef* def = GetMeshDef();
  if (FData && def) {
    TVertexBuffer* vb = FData->GetVertexBuffer();
    auto write = [&](int64_t AIndex, const TPoint3D& APoint) {
      if (AIndex < 0 || AIndex >= vb->Length()) throw Exception("failed to set vertices in mesh - invalid index");
      vb->SetVertices(int32_t(AIndex), APoint);
    };
    TVertexIndexMap* map = def->GetVertexIndexMap();
    for (size_t i = 0; i < Value.size(); ++i) {
      const std::vector<uint32_t>* copies = map ? map->Find(uint32_t(i)) : nullptr;
      if (copies) {
        for (uint32_t c : *copies) write(c, Value[i]);
      } else {
        write(int64_t(i), Value[i]);
      }
    }
    FData->BoundingBoxNeedsUpdate();
  }
  Repaint();
}

void TQuorvelMesh::SetVertices(const std::map<uint32_t, TVertexData>& Value) {
  if (Value.empty() || !FData) return;
  TVertexBuffer* vb = FData->GetVertexBuffer();
  for (const auto& [index, vertex] : Value) {
    if (int64_t(index) >= vb->Length()) throw Exception("failed to set vertices in mesh - invalid index");
    vb->SetVertices(int32_t(index), vertex.Position);
  }
  FData->BoundingBoxNeedsUpdate();
  Repaint();
}

void TQuorvelMesh::GenerateVertexJoints(TControllerDef* AController, const TMatrix3D& ABindShapeMatrix) {
  if (FVertexJoints || !AController || !AController->GetSkin()) return;
  FVertexJoints = AController->GetSkin()->GenerateVertexJoints(ABindShapeMatrix, GetMeshDef());
}

void TQuorvelMesh::ClearVertexJoints() {
  Free(FVertexJoints);
  FVertexJoints = nullptr;
}

void TQuorvelMesh::ApplyMaterialSource(TMaterialSource* ASource) {
  SetMaterialSource(ASource);
  for (TQuorvelMesh* m : FMeshes) m->ApplyMaterialSource(ASource);
}

void TQuorvelMesh::ApplyMaterialToAll(TMaterialSource* AMaterial) {
  SetMaterialSource(AMaterial);
  for (TQuorvelMesh* m : FMeshes) m->ApplyMaterialToAll(AMaterial);
}

void TQuorvelMesh::ForEachDefaultSource(const std::function<void(TQuorvelDefaultMaterialSource*)>& AApply) {
  if (auto* source = dynamic_cast<TQuorvelDefaultMaterialSource*>(GetMaterialSource())) AApply(source);
  for (TQuorvelMesh* m : FMeshes) m->ForEachDefaultSource(AApply);
}

namespace {

void ResetEnvironment(TQuorvelDefaultMaterialSource* ASource) {
  ASource->SetEnvironmentPass(nullptr);
  ASource->SetEnvironment(false);
  ASource->SetReflectionPower(0);
  ASource->SetReflections(false);
  ASource->SetRefractionPower(0);
  ASource->SetRefractions(false);
}

}  // namespace

void TQuorvelMesh::SetEnvironmentMapping(TComponent* ARenderPass, float AReflections, float ARefractions) {
  auto* pass = dynamic_cast<TQuorvelRenderPassController*>(ARenderPass);
  if (!pass) return;
  ForEachDefaultSource([&](TQuorvelDefaultMaterialSource* source) {
    source->SetEnvironmentPass(pass);
    source->SetEnvironment(true);
    source->SetReflectionPower(AReflections);
    source->SetReflections(false);
    source->SetRefractionPower(ARefractions);
    source->SetRefractions(false);
  });
}

void TQuorvelMesh::UnsetEnvironmentMapping(TComponent* ARenderPass) {
  auto* pass = dynamic_cast<TQuorvelRenderPassController*>(ARenderPass);
  if (!pass) return;
  ForEachDefaultSource([&](TQuorvelDefaultMaterialSource* source) {
    if (source->GetEnvironmentPass() == pass) ResetEnvironment(source);
  });
}

void TQuorvelMesh::UnsetAllEnvironmentMappings() { ForEachDefaultSource(ResetEnvironment); }

void TQuorvelMesh::SetPBRProperties(float AReflections, float ARefractions, float AAOBias, float ARoughness,
                                    float AMetalness) {
  ForEachDefaultSource([&](TQuorvelDefaultMaterialSource* source) {
    source->SetReflectionPower(AReflections);
    source->SetReflections(false);
    source->SetRefractionPower(ARefractions);
    source->SetRefractions(false);
    source->SetAOBias(AAOBias);
    source->SetRoughnessBias(ARoughness);
    source->SetMetallicBias(AMetalness);
  });
}

void TQuorvelMesh::AttachMaterialBehaviour(TQuorvelMaterialBehaviour* ABehaviour) {
  ForEachDefaultSource([&](TQuorvelDefaultMaterialSource* source) { source->AttachMaterialBehaviour(ABehaviour); });
}

void TQuorvelMesh::DetachMaterialBehaviour(TQuorvelMaterialBehaviour* ABehaviour) {
  ForEachDefaultSource([&](TQuorvelDefaultMaterialSource* source) { source->DetachMaterialBehaviour(ABehaviour); });
}

bool TQuorvelMesh::MaterialBehaviourAttached(TQuorvelMaterialBehaviour* ABehaviour) const {
  if (auto* source = dynamic_cast<TQuorvelDefaultMaterialSource*>(GetMaterialSource());
      source && source->MaterialBehaviourAttached(ABehaviour))
    return true;
  return std::any_of(FMeshes.begin(), FMeshes.end(),
                     [&](const TQuorvelMesh* m) { return m->MaterialBehaviourAttached(ABehaviour); });
}

// =============================================================================================
// TQuorvelVertexGroup

TQuorvelVertexGroup::TQuorvelVertexGroup(TComponent* AOwner) : TQuorvelMesh(AOwner) {}

void TQuorvelVertexGroup::BeforeDestruction() {
  // The group's own buffer goes back before its mesh data frees it: the parent's is the
  // parent's to free.
  if (FStoredVertexBuffer) {
    (void)FData->ExchangeVertexBuffer(FStoredVertexBuffer);
    FStoredVertexBuffer = nullptr;
  }
  TQuorvelMesh::BeforeDestruction();
}

void TQuorvelVertexGroup::DoDuplicate(TComponent* ASource, TQuorvelDuplicator* ADuplicator) {
  TQuorvelMesh::DoDuplicate(ASource, ADuplicator);
  auto* source = dynamic_cast<TQuorvelVertexGroup*>(ASource);
  auto* parent = dynamic_cast<TQuorvelMesh*>(GetParent());
  if (!source || !source->FStoredVertexBuffer || !parent) return;
  // The parent copy fills its buffer in place after its children are done.
  TVertexBuffer* previous = FData->ExchangeVertexBuffer(parent->GetMeshData()->GetVertexBuffer());
  if (!FStoredVertexBuffer) FStoredVertexBuffer = previous;
}

void TQuorvelVertexGroup::LoadMeshDataFromDefinition(TMeshDef* ADef, TMeshData* AData) {
  TQuorvelMesh::LoadMeshDataFromDefinition(ADef, AData);
  if (!AData) return;
  auto* parent = GetParent() ? GetParent()->As<TQuorvelMesh>() : nullptr;
  if (!parent) throw EInvalidCast("Invalid class typecast");
  TVertexBuffer* previous = AData->ExchangeVertexBuffer(parent->GetMeshData()->GetVertexBuffer());
  if (!FStoredVertexBuffer) FStoredVertexBuffer = previous;
}

namespace {

void InitMeshUnit() { RegisterClasses({TQuorvelMesh::StaticClass(), TQuorvelVertexGroup::StaticClass()}); }
void FinMeshUnit() { UnRegisterClasses({TQuorvelMesh::StaticClass(), TQuorvelVertexGroup::StaticClass()}); }
const TUnitRegistration MeshUnit{{"Quorvel.Mesh", {"Quorvel.Transform"}, &InitMeshUnit, &FinMeshUnit}};

}  // namespace

}  // namespace quorvel
