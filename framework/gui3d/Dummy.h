#pragma once
// TDummy: an invisible 3D node that groups and moves its children (and serves as a target).
// TProxyObject: draws and hit-tests another 3D control (its SourceObject) in its own place.
#include "framework/gui3d/Control3D.h"

namespace quorvel {

class TDummy : public TControl3D {
  FW_CLASS(TDummy, TControl3D)

public:
  explicit TDummy(TComponent* AOwner);
};

class TProxyObject : public TControl3D {
  FW_CLASS(TProxyObject, TControl3D)

public:
  explicit TProxyObject(TComponent* AOwner);

  // Not owned; cleared when the source is freed.
  TControl3D* GetSourceObject() const { return FSourceObject; }
  void SetSourceObject(TControl3D* Value);

  void Render() override;
  void Notification(TComponent* AComponent, TOperation Operation) override;

protected:
  bool DoRayCastIntersect(const TPoint3D& RayPos, const TPoint3D& RayDir, TPoint3D& Intersection) override;

private:
  class TBorrow;

  TControl3D* FSourceObject = nullptr;
  bool FBusy = false;  // a proxy reached again through its own source (a cycle)
};

}  // namespace quorvel
