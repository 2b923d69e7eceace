#pragma once
// The demo's only form: a 3D view in which a model turns above a floor, lit by three coloured
// spot lights moving on their own paths. Everything shown is built from the form resource
// "TFORM1" (Unit1.form); the form's own code is its two handlers.
#include "framework/gui/Form.h"
#include "framework/gui/Timer.h"
#include "framework/gui3d/Dummy.h"
#include "lib/materials/MaterialBlinn.h"
#include "lib/scene/Camera.h"
#include "lib/scene/Light.h"
#include "lib/scene/Model.h"
#include "lib/scene/Plane.h"
#include "lib/scene/Viewport.h"

namespace quorvel {

class TForm1 : public TForm {
  FW_CLASS(TForm1, TForm)

public:
  explicit TForm1(TComponent* AOwner) : TForm(AOwner) {}

  // Filled while the form reads its resource; the form owns them all.
  TQuorvelViewport* QuorvelViewport1 = nullptr;
  TQuorvelLight* QuorvelLight1 = nullptr;
  TQuorvelLight* QuorvelLight2 = nullptr;
  TQuorvelLight* QuorvelLight3 = nullptr;
  TQuorvelCamera* QuorvelCamera1 = nullptr;
  TDummy* Dummy1 = nullptr;
  TQuorvelPlane* QuorvelPlane1 = nullptr;
  TQuorvelBlinnMaterialSource* QuorvelBlinnMaterialSource1 = nullptr;
  TTimer* Timer1 = nullptr;
  TQuorvelModel* QuorvelModel1 = nullptr;

  // Loads the model ".\assets\monkey.obj" relative to the current folder; a load error
  // passes on to the form's creation.
  void FormCreate(TObject* Sender);
  // Every 16 ms: moves the lights one step along their paths and turns the model by 1°.
  void Timer1Timer(TObject* Sender);

  // The phase of the light paths in radians; grows by 0.05 per tick, never wrapped.
  float GetLightMove() const { return FLightMove; }

private:
  float FLightMove = 0;
};

// The model file the form loads, as the form names it.
inline constexpr const char* DemoModelFile = ".\\assets\\monkey.obj";

}  // namespace quorvel
