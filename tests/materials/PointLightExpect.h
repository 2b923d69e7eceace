#pragma once
// The lit quad both pixel tests draw: the quad at z = 0 facing +z, the eye at (0, 0, 3), one
// point light at (0.3, 0.2, 1.5) with linear attenuation 0.25, material diffuse (0.8, 0.6,
// 0.4), ambient 0.2 against the light's 0.1, specular 0.5, shininess 16. The expected colour is
// Blinn-Phong computed here in doubles.
#include <algorithm>
#include <cmath>

namespace quorvel::point_light {

struct TVec {
  double X, Y, Z;
  TVec operator-(const TVec& A) const { return {X - A.X, Y - A.Y, Z - A.Z}; }
  TVec operator+(const TVec& A) const { return {X + A.X, Y + A.Y, Z + A.Z}; }
  double Dot(const TVec& A) const { return X * A.X + Y * A.Y + Z * A.Z; }
  double Length() const { return std::sqrt(Dot(*this)); }
  TVec Normalized() const {
    const double l = Length();
    return {X / l, Y / l, Z / l};
  }
};

inline constexpr double Diffuse[3] = {0.8, 0.6, 0.4};

// The highlight term alone (0 for Lambert).
inline double Specular(double AX, double AY, bool ABlinn) {
  const TVec p{AX, AY, 0};
  const TVec toLight = TVec{0.3, 0.2, 1.5} - p;
  const TVec l = toLight.Normalized();
  const TVec v = (TVec{0, 0, 3} - p).Normalized();
  const double att = 1.0 / (1.0 + 0.25 * toLight.Length());
  return ABlinn ? std::pow(std::max(0.0, (v + l).Normalized().Dot(TVec{0, 0, 1})), 16.0) * att : 0.0;
}

// Channel AChannel of the colour at quad point (AX, AY), unclamped.
inline double Expected(double AX, double AY, bool ABlinn, int AChannel) {
  const TVec p{AX, AY, 0};
  const TVec toLight = TVec{0.3, 0.2, 1.5} - p;
  const double att = 1.0 / (1.0 + 0.25 * toLight.Length());
  const double shadeDiffuse = std::max(0.0, TVec{0, 0, 1}.Dot(toLight.Normalized())) * att;
  // Ambient and diffuse by the material, specular by the specular colour, all times the base
  // colour (the material's diffuse), scaled by the clamped scene attenuation.
  const double sum = 0.2 * 0.1 + Diffuse[AChannel] * shadeDiffuse + 0.5 * Specular(AX, AY, ABlinn);
  return std::clamp(att, 0.0, 1.0) * sum * Diffuse[AChannel];
}

}  // namespace quorvel::point_light
