#pragma once
// The view the material pixel tests draw through: the eye three units in front of a quad at
// z = 0 facing it, a projection that only squeezes z into the clip range, no blending and no
// depth test, so a quad from -1 to 1 fills the target.
#include "tests/context/ContextTestFixture.h"

namespace quorvel::testkit {

inline void LookAtQuad(TProbeContext* AContext) {
  TMatrix3D camera = TMatrix3D::Identity();
  camera.m43 = -3;
  AContext->SetCameraMatrix(camera);
  TMatrix3D projection = TMatrix3D::Identity();
  projection.m33 = 0.1f;
  AContext->SetProjectionMatrix(projection);
  AContext->SetContextState(TContextState::csAlphaBlendOff);
  AContext->SetContextState(TContextState::csZTestOff);
}

}  // namespace quorvel::testkit
