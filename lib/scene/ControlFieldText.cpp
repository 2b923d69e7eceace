#include <cmath>
#include <functional>

#include "framework/rtl/SysUtils.h"
#include "lib/scene/ControlComponents.h"

namespace quorvel {

namespace {

std::string FloatText(float AValue) { return FloatToStr(double(AValue), TFormatSettings::Invariant()); }

std::string Join(std::initializer_list<std::string> AParts) {
  std::string s = "(";
  bool first = true;
  for (const std::string& p : AParts) {
    if (!first) s += ',';
    s += p;
    first = false;
  }
  return s + ")";
}

// The token up to the next ",", "(" or ")" (consumed with it); the rest when none remains.
std::string NextToken(std::string& AText) {
  const size_t i = AText.find_first_of(",()");
  if (i == std::string::npos) {
    std::string t = std::move(AText);
    AText.clear();
    return t;
  }
  std::string t = AText.substr(0, i);
  AText.erase(0, i + 1);
  return t;
}

// Reads the tokens after the first into the setters in order; a conversion error stops.
void ReadTokens(std::string AText, std::initializer_list<std::function<void(const std::string&)>> ASetters) {
  NextToken(AText);
  try {
    for (const auto& set : ASetters) set(NextToken(AText));
  } catch (const std::exception&) {
  }
}

float ToFloat(const std::string& s) { return float(StrToFloat(s, TFormatSettings::Invariant())); }
int32_t ToRoundedInt(const std::string& s) { return int32_t(Round(StrToFloat(s, TFormatSettings::Invariant()))); }

}  // namespace

std::string PointFieldText(const TPoint& F) { return Join({std::to_string(F.X), std::to_string(F.Y)}); }
std::string PointFFieldText(const TPointF& F) { return Join({FloatText(F.X), FloatText(F.Y)}); }
std::string Point3DFieldText(const TPoint3D& F) { return Join({FloatText(F.X), FloatText(F.Y), FloatText(F.Z)}); }
std::string Size3DFieldText(const TSize3D& F) {
  return Join({std::to_string(F.Width), std::to_string(F.Height), std::to_string(F.Depth)});
}
std::string Vector3DFieldText(const TVector3D& F) {
  return Join({FloatText(F.X), FloatText(F.Y), FloatText(F.Z), FloatText(F.W)});
}
std::string QuaternionFieldText(const TQuaternion3D& F) {
  return Join({FloatText(F.ImagPart.X), FloatText(F.ImagPart.Y), FloatText(F.ImagPart.Z), FloatText(F.RealPart)});
}
std::string AlphaColorFFieldText(const TAlphaColorF& F) {
  return Join({FloatText(F.R), FloatText(F.G), FloatText(F.B), FloatText(F.A)});
}

std::string PlaneFFieldText(const TPlaneF& F) {
  return Join({FloatText(F.NX), FloatText(F.NY), FloatText(F.NZ), FloatText(F.D)});
}

void ReadPointText(std::string T, TPoint& F) {
  ReadTokens(std::move(T), {[&](const std::string& s) { F.X = StrToInt(s); },
                            [&](const std::string& s) { F.Y = StrToInt(s); }});
}
void ReadPointFText(std::string T, TPointF& F) {
  ReadTokens(std::move(T), {[&](const std::string& s) { F.X = ToFloat(s); },
                            [&](const std::string& s) { F.Y = ToFloat(s); }});
}
void ReadPoint3DText(std::string T, TPoint3D& F) {
  ReadTokens(std::move(T), {[&](const std::string& s) { F.X = ToFloat(s); },
                            [&](const std::string& s) { F.Y = ToFloat(s); },
                            [&](const std::string& s) { F.Z = ToFloat(s); }});
}
void ReadSize3DText(std::string T, TSize3D& F) {
  ReadTokens(std::move(T), {[&](const std::string& s) { F.Width = ToRoundedInt(s); },
                            [&](const std::string& s) { F.Height = ToRoundedInt(s); },
                            [&](const std::string& s) { F.Depth = ToRoundedInt(s); }});
}
void ReadVector3DText(std::string T, TVector3D& F) {
  ReadTokens(std::move(T), {[&](const std::string& s) { F.X = ToFloat(s); },
                            [&](const std::string& s) { F.Y = ToFloat(s); },
                            [&](const std::string& s) { F.Z = ToFloat(s); },
                            [&](const std::string& s) { F.W = ToFloat(s); }});
}
void ReadQuaternionText(std::string T, TQuaternion3D& F) {
  ReadTokens(std::move(T), {[&](const std::string& s) { F.ImagPart.X = ToFloat(s); },
                            [&](const std::string& s) { F.ImagPart.Y = ToFloat(s); },
                            [&](const std::string& s) { F.ImagPart.Z = ToFloat(s); },
                            [&](const std::string& s) { F.RealPart = ToFloat(s); }});
}
void ReadAlphaColorFText(std::string T, TAlphaColorF& F) {
  ReadTokens(std::move(T), {[&](const std::string& s) { F.R = ToFloat(s); },
                            [&](const std::string& s) { F.G = ToFloat(s); },
                            [&](const std::string& s) { F.B = ToFloat(s); },
                            [&](const std::string& s) { F.A = ToFloat(s); }});
}

void ReadPlaneFText(std::string T, TPlaneF& F) {
  ReadTokens(std::move(T), {[&](const std::string& s) { F.NX = ToFloat(s); },
                            [&](const std::string& s) { F.NY = ToFloat(s); },
                            [&](const std::string& s) { F.NZ = ToFloat(s); },
                            [&](const std::string& s) { F.D = ToFloat(s); }});
}

}  // namespace quorvel
