#pragma once
// TQuorvelControl: the base of the engine's scene objects (a framework 3D control with a
// registry of named sub-controls, a definition link, bounding boxes, a naming rule that never
// fails on a taken name and the translucent render states), and the matrix and pick routines
// that work on any TControl3D.
//
// The registry: AddControl(key, control) maps a key to a control; a control can be registered
// under several keys and in several registries. A registry forgets a control when the control
// is freed, wherever it was registered and under whatever keys (renames and re-parenting
// included), and a freed control removes only its own entries.
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "framework/gui3d/Control3D.h"
#include "lib/scene/ControlComponents.h"
#include "lib/scene/Duplication.h"

namespace quorvel {

class TCustomDef;

// Ordinals are stored in definitions: keep them.
enum class TDragMode : uint8_t { dmManual = 0, dmAutomatic = 1 };
FW_ENUM(TDragMode, dmManual, dmAutomatic)

class TQuorvelControl : public TControl3D, public IDuplicatable {
  FW_CLASS(TQuorvelControl, TControl3D)

public:
  // Keys in ordinal order: the order in which the registry enumerates them.
  using TControls = std::map<std::string, TQuorvelControl*>;

  explicit TQuorvelControl(TComponent* AOwner);
  ~TQuorvelControl() override;
  void BeforeDestruction() override;

  const std::string& GetQualifiedName() const { return FQualifiedName; }
  void SetQualifiedName(const std::string& Value);
  const TControls& GetControls() const { return FControls; }
  TCustomDef* GetDef() const { return FDef; }
  void SetDef(TCustomDef* Value) { FDef = Value; }
  bool GetFrustumCullingCheck() const { return FFrustumCullingCheck; }
  virtual void SetFrustumCullingCheck(bool Value) { FFrustumCullingCheck = Value; }

  // Stored for the property dictionary; the 3D controls have no cursor or drag handling.
  int32_t GetCursor() const { return FCursor; }
  void SetCursor(int32_t Value) { FCursor = Value; }
  TDragMode GetDragMode() const { return FDragMode; }
  void SetDragMode(TDragMode Value) { FDragMode = Value; }
  bool GetVisibleContextMenu() const { return FVisibleContextMenu; }
  void SetVisibleContextMenu(bool Value) { FVisibleContextMenu = Value; }

  void SetName(const std::string& NewName) override;
  void SetParent(TFwObject* Value) override;

  virtual void UpdateParent(TFwObject* AParent) {}
  // Abstract here: EAbstractError.
  virtual void LoadFromDefinition(TCustomDef* ADef);
  virtual void StoreToDefinition(TCustomDef* ADef);

  // The first key (in enumeration order) that maps to AControl; empty when none.
  virtual std::string GetControlName(TQuorvelControl* AControl) const;
  // Raises "control \"%s\" already exists in %s" for a taken key.
  virtual void AddControl(const std::string& AName, TQuorvelControl* AControl);
  virtual void RemoveControl(const std::string& AName);
  virtual void RemoveControl(TQuorvelControl* AControl);
  virtual void MoveControlTo(TQuorvelControl* AControl, TQuorvelControl* ANewOwner);
  virtual TComponent* FindControlByDeepSearch(const std::string& AName);
  virtual TComponent* FindControlByDefDeepSearch(TCustomDef* ADef);
  // AResult: control -> False when found by key, True when found by its referenced name.
  virtual void FindControlsByDeepSearch(const std::string& AName, std::map<TComponent*, bool>* AResult);
  // The referenced name a mesh answers the deep search by; none here.
  virtual std::string GetReferencedName() const { return {}; }

  // The size box in local space, and the box around its corners in absolute space.
  virtual TBoundingBox GetBoundingBox();
  virtual TBoundingBox GetAbsoluteBoundingBox();

  // Frees the owned components whose class is none of AClasses (nor a descendant).
  // A deep copy owned by AOwner (material sources stay shared), or with AAsProxy a proxy that
  // draws this control.
  TComponent* Duplicate(TComponent* AOwner, bool AAsProxy = false);
  // On the clone: refills the registry with the clones of the source's controls.
  void DoDuplicate(TComponent* ASource, TQuorvelDuplicator* ADuplicator) override;

  void DestroyComponentsButIgnoreClass(std::initializer_list<const TClass*> AClasses);

  void Render() override;

protected:
  void RenderChildren() override {}
  void Resize3D() override { UpdateParent(GetParent()); }

private:
  void Forget(TQuorvelControl* ARegistry);

  std::string FQualifiedName;
  TControls FControls;
  // The registries that hold this control under some key.
  std::set<TQuorvelControl*> FRegistries;
  TCustomDef* FDef = nullptr;  // not owned
  bool FFrustumCullingCheck = true;
  int32_t FCursor = 0;
  TDragMode FDragMode = TDragMode::dmManual;
  bool FVisibleContextMenu = true;
};

// The local matrix from Scale, the stored quaternion and Position (row vectors), with the
// thresholds 1e-4 (scale) and 0.001 (position); marks, rebuilds the rendering list, repaints.
void RebuildLocalMatrix(TControl3D* AControl);
// Stores AMatrix as the local matrix and derives Position, Scale and the rotation from it.
void SetLocalMatrixEx(TControl3D* AControl, const TMatrix3D& AMatrix, bool AUpdatePosition, bool AUpdateScale,
                      bool AUpdateRotation, bool ARepaint);
// The object under APoint (the lowest-indexed child that answers, else the control itself
// when its pick ray hits it nearer than the global pick distance); fills the ray and the hit.
void PickObject(TControl3D* AControl, IControl*& AResult, const TPointF& APoint, TVector3D& ARayPos,
                TVector3D& ARayDir, TPoint3D& AHit);
void ClearRenderingList(TControl3D* AControl);
void UpdateLocalMatrix(TControl3D* AControl);

}  // namespace quorvel
