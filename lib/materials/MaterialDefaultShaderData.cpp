#include "lib/materials/MaterialDefaultShaderData.h"

#include <cstring>
#include <type_traits>

namespace quorvel {

static_assert(std::is_trivially_copyable_v<TQuorvelShaderData>, "the block is copied as raw bytes");

TQuorvelShaderData TQuorvelShaderData::Create() {
  TQuorvelShaderData r;
  // Padding included: the bytes go to the GPU as they are.
  std::memset(static_cast<void*>(&r), 0, sizeof(r));
  r.ShadingModel = 2;
  r.ShadingIntensity = 1.0f;
  r.Brightness = 1.0f;
  r.ViewSize.Z = 1.0f;
  r.ViewSize.W = 1000.0f;
  r.ClippingPlane = TVector3D(0, 0, 0, 0);
  r.Material = CreateDefaultShaderMaterial();
  r.FogMode = ShaderDataFogEnabled | ShaderDataFogLinear;
  r.FogDensity = 0.001f;
  r.FogStart = 100.0f;
  r.FogEnd = 500.0f;
  r.FogColor = TAlphaColorF(0, 0, 0, 1);
  return r;
}

}  // namespace quorvel
