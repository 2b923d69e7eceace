#pragma once
// The viewport stand-in shared by the 3D-control tests.
#include <algorithm>
#include <vector>

#include "framework/classes/FwObject.h"
#include "framework/gui3d/Camera.h"
#include "framework/gui3d/Context3D.h"
#include "framework/gui3d/Control3D.h"
#include "framework/gui3d/Light.h"

namespace quorvel::testing3d {

// A stand-in for the viewport: hands itself to the 3D controls placed in it and keeps the
// light list as the viewport does.
class TC3dViewport : public TFwObject, public IViewport3D {
  FW_CLASS(TC3dViewport, TFwObject)

public:
  explicit TC3dViewport(TComponent* AOwner) : TFwObject(AOwner) {}

  TFwObject* GetObject() override { return this; }
  TContext3D* GetContext() override { return Context; }
  bool GetUsingDesignCamera() override { return false; }
  TCamera* GetViewportCamera() override { return nullptr; }
  float GetViewportScale() override { return 1; }
  int GetLightCount() override { return static_cast<int>(Lights.size()); }
  TLight* GetLight(int AIndex) override { return Lights.at(static_cast<size_t>(AIndex)); }
  TCamera* GetCurrentCamera() override { return Camera; }
  void SetViewportCamera(TCamera*) override {}
  void AddLight(TLight* ALight) override { Lights.push_back(ALight); }
  void RemoveLight(TLight* ALight) override { std::erase(Lights, ALight); }
  TPointF ScreenToLocal(const TPointF& P) override { return P; }
  TPointF LocalToScreen(const TPointF& P) override { return P; }
  void NeedRender() override { ++Redraws; }

  std::vector<TLight*> Lights;
  int Redraws = 0;
  TContext3D* Context = nullptr;
  TCamera* Camera = nullptr;

protected:
  void DoAddObject(TFwObject* AObject) override {
    TFwObject::DoAddObject(AObject);
    if (auto* c = dynamic_cast<TControl3D*>(AObject)) c->SetNewViewport(this);
  }
  void DoRemoveObject(TFwObject* AObject) override {
    TFwObject::DoRemoveObject(AObject);
    if (auto* c = dynamic_cast<TControl3D*>(AObject)) c->SetNewViewport(nullptr);
  }
};

}  // namespace quorvel::testing3d
