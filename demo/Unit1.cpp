#include "demo/Unit1.h"

#include <cmath>

#include "framework/rtl/Finally.h"
#include "framework/rtl/Units.h"

namespace quorvel {

FW_CLASS_IMPL(TForm1, "Unit1")
void TForm1::Register(ClassBuilder<TForm1>& b) {
  b.Field("QuorvelViewport1", &Self::QuorvelViewport1, Reference)
      .Field("QuorvelLight1", &Self::QuorvelLight1, Reference)
      .Field("QuorvelLight2", &Self::QuorvelLight2, Reference)
      .Field("QuorvelLight3", &Self::QuorvelLight3, Reference)
      .Field("QuorvelCamera1", &Self::QuorvelCamera1, Reference)
      .Field("Dummy1", &Self::Dummy1, Reference)
      .Field("QuorvelPlane1", &Self::QuorvelPlane1, Reference)
      .Field("QuorvelBlinnMaterialSource1", &Self::QuorvelBlinnMaterialSource1, Reference)
      .Field("Timer1", &Self::Timer1, Reference)
      .Field("QuorvelModel1", &Self::QuorvelModel1, Reference)
      .Method("FormCreate", &Self::FormCreate)
      .Method("Timer1Timer", &Self::Timer1Timer);
}

void TForm1::FormCreate(TObject* Sender) {
  FLightMove = 0;
  // No asset package, no animation caching: the model finds the OBJ loader by the extension.
  QuorvelModel1->LoadFromFile(DemoModelFile);
}

void TForm1::Timer1Timer(TObject* Sender) {
  FLightMove = float(double(FLightMove) + 0.05);
  QuorvelViewport1->BeginUpdate();
  auto endUpdate = Finally([&] { QuorvelViewport1->EndUpdate(); });
  const double t = FLightMove;
  QuorvelLight1->SetAbsolutePosition(TVector3D(float(2.5 * std::sin(t) - 5), -10, float(5 * std::cos(t)), 1));
  QuorvelLight2->SetAbsolutePosition(TVector3D(float(5 - 2.5 * std::cos(t)), -10, float(5 * std::sin(t)), 1));
  QuorvelLight3->SetAbsolutePosition(TVector3D(0, -10, float(5 * std::sin(t)), 1));
  TPosition3D* angle = QuorvelModel1->GetRotationAngle();
  angle->SetY(float(double(angle->GetY()) + 1));
}

namespace {
void InitUnit1Unit() { RegisterClass(TForm1::StaticClass()); }
void FinUnit1Unit() { UnRegisterClass(TForm1::StaticClass()); }
const TUnitRegistration Unit1Unit{{"Unit1", {"Quorvel.Viewport", "Quorvel.Light", "Quorvel.Camera", "Quorvel.Model", "Quorvel.Plane"}, &InitUnit1Unit, &FinUnit1Unit}};
}  // namespace

}  // namespace quorvel
