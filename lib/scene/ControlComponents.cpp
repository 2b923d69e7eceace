#include "lib/scene/ControlComponents.h"

#include <cmath>

#include "framework/rtl/SysUtils.h"
#include "lib/scene/Viewport.h"

namespace quorvel {

namespace {

template <class F>
void Walk(TComponent* AComponent, F&& AVisit) {
  if (!AVisit(AComponent)) return;
  const int count = AComponent->GetComponentCount();
  for (int i = 0; i < count && i < AComponent->GetComponentCount(); ++i) Walk(AComponent->GetComponents(i), AVisit);
}

TComponent* FindFirst(TComponent* AComponent, const std::function<bool(TComponent*)>& AMatch) {
  TComponent* found = nullptr;
  Walk(AComponent, [&](TComponent* c) {
    if (found) return false;
    if (AMatch(c)) found = c;
    return found == nullptr;
  });
  return found;
}

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

TComponent* FindComponentDeepSearch(TComponent* AComponent, const std::string& AName) {
  return FindFirst(AComponent, [&](TComponent* c) { return c->GetName() == AName; });
}

TComponent* FindComponentDeepSearchByClass(TComponent* AComponent, const TClass* AClass) {
  return FindFirst(AComponent, [&](TComponent* c) { return c->InheritsFrom(AClass); });
}

TComponent* FindComponentDeepSearchByFilter(TComponent* AComponent, const TComponentSearchFunc& ACallback) {
  return FindFirst(AComponent, [&](TComponent* c) { return ACallback && ACallback(c); });
}

void FindAllComponentsByClass(TComponent* AComponent, const TClass* AClass, std::vector<TComponent*>& AReturn) {
  Walk(AComponent, [&](TComponent* c) {
    if (c->InheritsFrom(AClass)) AReturn.push_back(c);
    return true;
  });
}

std::string LogComponentHierarchy(TComponent* AComponent, const std::string& AIndent) {
  std::string s = AIndent + Format("%s (%s)", {AComponent->GetName(), AComponent->ClassName()}) + "\r\n";
  const int count = AComponent->GetComponentCount();
  for (int i = 0; i < count && i < AComponent->GetComponentCount(); ++i)
    s += LogComponentHierarchy(AComponent->GetComponents(i), AIndent + AIndent);
  return s;
}

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

void ReadPointField(TComponent*, TPoint& F, TReader* R) { ReadPointText(R->ReadString(), F); }
void WritePointField(TComponent*, const TPoint& F, TWriter* W) { W->WriteString(PointFieldText(F)); }
void ReadPointFField(TComponent*, TPointF& F, TReader* R) { ReadPointFText(R->ReadString(), F); }
void WritePointFField(TComponent*, const TPointF& F, TWriter* W) { W->WriteString(PointFFieldText(F)); }
void ReadPoint3DField(TComponent*, TPoint3D& F, TReader* R) { ReadPoint3DText(R->ReadString(), F); }
void WritePoint3DField(TComponent*, const TPoint3D& F, TWriter* W) { W->WriteString(Point3DFieldText(F)); }
void ReadSize3DField(TComponent*, TSize3D& F, TReader* R) { ReadSize3DText(R->ReadString(), F); }
void WriteSize3DField(TComponent*, const TSize3D& F, TWriter* W) { W->WriteString(Size3DFieldText(F)); }
void ReadVector3DField(TComponent*, TVector3D& F, TReader* R) { ReadVector3DText(R->ReadString(), F); }
void WriteVector3DField(TComponent*, const TVector3D& F, TWriter* W) { W->WriteString(Vector3DFieldText(F)); }
void ReadQuaternionField(TComponent*, TQuaternion3D& F, TReader* R) { ReadQuaternionText(R->ReadString(), F); }
void WriteQuaternionField(TComponent*, const TQuaternion3D& F, TWriter* W) { W->WriteString(QuaternionFieldText(F)); }
void ReadAlphaColorFField(TComponent*, TAlphaColorF& F, TReader* R) { ReadAlphaColorFText(R->ReadString(), F); }
void WriteAlphaColorFField(TComponent*, const TAlphaColorF& F, TWriter* W) {
  W->WriteString(AlphaColorFFieldText(F));
}

void EnableDesigning(TComponent* AComponent) { AComponent->SetDesigning(true, true); }
void DisableDesigning(TComponent* AComponent) { AComponent->SetDesigning(false, true); }

TFwObject* FindComponentUpwards(TFwObject* AObject, const TClass* AClass) {
  TFwObject* p = AObject->GetParent();
  if (p == nullptr) p = dynamic_cast<TFwObject*>(AObject->Owner());
  for (; p; p = p->GetParent())
    if (p->InheritsFrom(AClass)) return p;
  return nullptr;
}

TFwObject* FindComponentUpwards(TFwObject* AObject, const std::string& AQualifiedName) {
  const TClass* cls = GetClass(AQualifiedName);
  return cls ? FindComponentUpwards(AObject, cls) : nullptr;
}

TFwObject* FindViewport(TFwObject* AObject) { return FindComponentUpwards(AObject, TQuorvelViewport::StaticClass()); }

TFwObject* FindTopOwner(TFwObject* AObject) {
  TFwObject* p = AObject->GetParent();
  if (!p) return nullptr;
  while (p->GetParent()) p = p->GetParent();
  return p;
}

}  // namespace quorvel
