#include "framework/math/AlphaColor.h"

#include <algorithm>
#include <cmath>

namespace quorvel {

namespace {
struct NamedColor {
  std::string_view Name;  // without "cla"
  TAlphaColor Color;
};
#define QUORVEL_COLOR_ENTRY(Name, Value) {#Name, TAlphaColor(Value##u)},
constexpr NamedColor kNamedColors[] = {QUORVEL_NAMED_COLORS(QUORVEL_COLOR_ENTRY)};
#undef QUORVEL_COLOR_ENTRY

bool SameTextAscii(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

uint8_t ToByte(float v) {
  const float c = std::clamp(std::isnan(v) ? 0.0f : v, 0.0f, 1.0f);
  return uint8_t(std::nearbyint(c * 255.0f));
}
}  // namespace

TAlphaColor TAlphaColorF::ToAlphaColor() const { return MakeAlphaColor(ToByte(R), ToByte(G), ToByte(B), ToByte(A)); }

TAlphaColorF TAlphaColorF::Clamp() const {
  auto c = [](float v) { return std::clamp(v, 0.0f, 1.0f); };
  return {c(R), c(G), c(B), c(A)};
}

bool IdentToAlphaColor(std::string_view AIdent, TAlphaColor& AColor) {
  if (AIdent.size() > 3 && SameTextAscii(AIdent.substr(0, 3), "cla")) AIdent.remove_prefix(3);
  for (const NamedColor& n : kNamedColors)
    if (SameTextAscii(n.Name, AIdent)) {
      AColor = n.Color;
      return true;
    }
  return false;
}

bool AlphaColorToIdent(TAlphaColor AColor, std::string& AIdent) {
  for (const NamedColor& n : kNamedColors)
    if (n.Color == AColor) {
      AIdent = "cla" + std::string(n.Name);
      return true;
    }
  return false;
}

}  // namespace quorvel
