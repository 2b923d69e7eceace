#include "lib/context/ContextTypesLights.h"

#include <cmath>
#include <numbers>

namespace quorvel {

TQuorvelShaderLight TQuorvelShaderLight::Create(const TLightDescription& ALight) {
  TQuorvelShaderLight r;
  r.LightType = static_cast<int32_t>(ALight.LightType);
  r.Position = TVector3D(ALight.Position, 1);
  r.Direction = TVector3D(ALight.Direction, 1);
  r.Diffuse = TAlphaColorF(ALight.Color);
  r.Ambient = TAlphaColorF(0, 0, 0, 1);
  r.Specular = TAlphaColorF(1, 1, 1, 1);
  r.Scattering = TVector3D(0.1f, 0.0034f, 1.0f, 0.84f);
  r.SpotCutoff = ALight.SpotCutOff;
  r.SpotCosCutoff = static_cast<float>(std::cos(double(ALight.SpotCutOff) * std::numbers::pi / 180.0));
  r.SpotExponent = ALight.SpotExponent;
  r.ConstantAttenuation = 1.0f;
  r.LinearAttenuation = 0;
  r.QuadraticAttenuation = 0;
  r.Intensity = 1.0f;
  r.Enabled = ALight.Enabled ? 1 : 0;
  return r;
}

TLightDescription TQuorvelShaderLight::ToLightDescription() const {
  TLightDescription d;
  d.Enabled = IsEnabled();
  // Only the low byte counts; a value outside the enumeration falls back to directional
  // rather than producing an enumerator that does not exist.
  const uint8_t type = static_cast<uint8_t>(LightType & 0xFF);
  d.LightType = type <= static_cast<uint8_t>(TLightType::Spot) ? static_cast<TLightType>(type) : TLightType::Directional;
  d.Color = Diffuse.ToAlphaColor();
  d.SpotCutOff = SpotCutoff;
  d.SpotExponent = SpotExponent;
  d.Position = TPoint3D(Position.X, Position.Y, Position.Z);
  d.Direction = TPoint3D(Direction.X, Direction.Y, Direction.Z);
  return d;
}

TQuorvelShaderMaterial CreateDefaultShaderMaterial() {
  TQuorvelShaderMaterial m;
  m.Emissive = TAlphaColorF(0, 0, 0, 1);
  m.Ambient = TAlphaColorF(0.5f, 0.5f, 0.5f, 1);
  m.Diffuse = TAlphaColorF(1, 1, 1, 1);
  m.Specular = TAlphaColorF(0.75f, 0.75f, 0.75f, 1);
  m.Clipping = TAlphaColorF(0, 0, 0, 0);
  m.AlphaCutoff = TPointF(0, 0);
  m.ToneMapExp = 1.0f;
  m.Displacement = TVector3D(0.1f, 0.1f, 0.1f, 1);
  m.Features = TVector3D(1, 0, 0, 0);
  m.Shininess = 32.0f;
  m.Textures = 1;
  m.PoolTexturesOffset = 0;
  m.PoolTextures = 0;
  for (TQuorvelShaderMaterialTexture& t : m.Texture) t.Tiling = TPointF(1, 1);
  return m;
}

}  // namespace quorvel
