#include "framework/gui3d/Dummy.h"

namespace quorvel {

FW_CLASS_IMPL(TDummy, "Fw.Controls3D")
FW_CLASS_NO_MEMBERS(TDummy)
FW_CLASS_IMPL(TProxyObject, "Fw.Controls3D")

void TProxyObject::Register(ClassBuilder<TProxyObject>& b) {
  b.Prop("SourceObject", &Self::GetSourceObject, &Self::SetSourceObject);
}

TDummy::TDummy(TComponent* AOwner) : TControl3D(AOwner) {}

TProxyObject::TProxyObject(TComponent* AOwner) : TControl3D(AOwner) {}

void TProxyObject::SetSourceObject(TControl3D* Value) {
  if (Value == this) Value = nullptr;
  if (FSourceObject == Value) return;
  if (FSourceObject) FSourceObject->RemoveFreeNotification(this);
  FSourceObject = Value;
  if (FSourceObject) FSourceObject->FreeNotification(this);
  Repaint();
}

void TProxyObject::Notification(TComponent* AComponent, TOperation Operation) {
  TControl3D::Notification(AComponent, Operation);
  if (Operation == opRemove && AComponent == FSourceObject) FSourceObject = nullptr;
}

// Lends the proxy's place (absolute matrices and viewport) to the source for one call. The
// source's subtree is marked before and after: descendants cache matrices of either place.
class TProxyObject::TBorrow {
public:
  TBorrow(TProxyObject& AProxy, TControl3D& ASource)
      : FProxy(AProxy),
        FSource(ASource),
        FAbsolute(ASource.FAbsoluteMatrix),
        FInverse(ASource.FInvAbsoluteMatrix),
        FViewport(ASource.FViewport) {
    FProxy.FBusy = true;
    FSource.RecalcAbsolute();
    FSource.FAbsoluteMatrix = AProxy.GetAbsoluteMatrix();
    FSource.FInvAbsoluteMatrix = AProxy.GetInvertAbsoluteMatrix();
    FSource.FRecalcAbsolute = false;
    FSource.FViewport = AProxy.FViewport;
  }
  ~TBorrow() {
    FSource.FAbsoluteMatrix = FAbsolute;
    FSource.FInvAbsoluteMatrix = FInverse;
    FSource.FViewport = FViewport;
    FSource.RecalcAbsolute();
    FProxy.FBusy = false;
  }
  TBorrow(const TBorrow&) = delete;
  TBorrow& operator=(const TBorrow&) = delete;

private:
  TProxyObject& FProxy;
  TControl3D& FSource;
  TMatrix3D FAbsolute, FInverse;
  IViewport3D* FViewport;
};

void TProxyObject::Render() {
  if (!FSourceObject || FBusy) return;
  TBorrow borrow(*this, *FSourceObject);
  FSourceObject->RenderInternal();
}

bool TProxyObject::DoRayCastIntersect(const TPoint3D& RayPos, const TPoint3D& RayDir, TPoint3D& Intersection) {
  if (!FSourceObject || FBusy) return false;
  TBorrow borrow(*this, *FSourceObject);
  return FSourceObject->DoRayCastIntersect(RayPos, RayDir, Intersection);
}

}  // namespace quorvel
