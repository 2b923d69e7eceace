#include "framework/gui3d/Control3D.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

#include "framework/classes/Filer.h"
#include "framework/gui3d/Camera.h"
#include "framework/gui3d/Context3D.h"
#include "framework/gui3d/Dummy.h"
#include "framework/gui3d/Light.h"
#include "framework/rtl/SysUtils.h"
#include "framework/rtl/Units.h"

namespace quorvel {

FW_CLASS_IMPL(TControlPosition3D, "Fw.Controls3D")
FW_CLASS_IMPL(TControl3D, "Fw.Controls3D")

void TControlPosition3D::Register(ClassBuilder<TControlPosition3D>& b) {
  b.Prop("X", &Self::GetX, &Self::SetX)
      .Prop("Y", &Self::GetY, &Self::SetY)
      .Prop("Z", &Self::GetZ, &Self::SetZ)
      .Prop("Point", &Self::GetPoint, &Self::SetPoint)
      .Prop("Vector", &Self::GetVector, &Self::SetVector)
      .Method("Assign", [](TControlPosition3D* self, TObject* ASource) {
        auto* source = dynamic_cast<TPosition3D*>(ASource);
        if (!source) throw EConvertError("Cannot assign to a TControlPosition3D");
        self->Assign(*source);
      });
}

void TControl3D::Register(ClassBuilder<TControl3D>& b) {
  b.Prop("Position", &Self::GetPosition, &Self::SetPosition)
      .Prop("RotationAngle", &Self::GetRotationAngle, &Self::SetRotationAngle)
      .Prop("Scale", &Self::GetScale, &Self::SetScale)
      .Prop("Quaternion", &Self::GetQuaternion, &Self::SetQuaternion)
      .Prop("RotationCenter", &Self::GetRotationCenter, &Self::SetRotationCenter)
      .Prop("Width", &Self::GetWidth, &Self::SetWidth)
      .Prop("Height", &Self::GetHeight, &Self::SetHeight)
      .Prop("Depth", &Self::GetDepth, &Self::SetDepth)
      .Prop("Opaque", &Self::GetOpaque, &Self::SetOpaque)
      .Prop("Opacity", &Self::GetOpacity, &Self::SetOpacity)
      .Prop("Visible", [](const TControl3D* c) { return c->GetVisible(); }, &Self::SetVisible)
      .Prop("HitTest", &Self::GetHitTest, &Self::SetHitTest)
      .Prop("Locked", &Self::GetLocked, &Self::SetLocked)
      .Prop("Projection", &Self::GetProjection, &Self::SetProjection)
      .Prop("TwoSide", &Self::GetTwoSide, &Self::SetTwoSide)
      .Prop("ZWrite", &Self::GetZWrite, &Self::SetZWrite)
      .Prop("OnRender", &Self::GetOnRender, &Self::SetOnRender)
      .PropField("OnMouseDown", &Self::OnMouseDown)
      .PropField("OnMouseMove", &Self::OnMouseMove)
      .PropField("OnMouseUp", &Self::OnMouseUp)
      // Copied by the duplicator: the position objects through their Assign (which rebuilds
      // the clone's matrix), then the rotation state and the matrix exactly as the source has
      // them. The viewport link, the absolute matrices and the rendering list are the clone's.
      .Field("FPosition", &Self::FPosition)
      .Field("FRotationAngle", &Self::FRotationAngle)
      .Field("FScale", &Self::FScale)
      .Field("FRotationCenter", &Self::FRotationCenter)
      .Field("FQuaternion", &Self::FQuaternion)
      .Field("FSavedRotationAngle", &Self::FSavedRotationAngle)
      .Field("FLocalMatrix", &Self::FLocalMatrix)
      .Field("FWidth", &Self::FWidth)
      .Field("FHeight", &Self::FHeight)
      .Field("FDepth", &Self::FDepth)
      .Field("FOpaque", &Self::FOpaque)
      .Field("FOpacity", &Self::FOpacity)
      .Field("FVisible", &Self::FVisible)
      .Field("FHitTest", &Self::FHitTest)
      .Field("FLocked", &Self::FLocked)
      .Field("FDesignLocked", &Self::FDesignLocked)
      .Field("FProjection", &Self::FProjection)
      .Field("FTwoSide", &Self::FTwoSide)
      .Field("FZWrite", &Self::FZWrite)
      .Field("FOnRender", &Self::FOnRender)
      .Field("OnMouseDown", &Self::OnMouseDown)
      .Field("OnMouseMove", &Self::OnMouseMove)
      .Field("OnMouseUp", &Self::OnMouseUp);
}

namespace {

void InitControls3D() {
  RegisterFwClasses({TControl3D::StaticClass(), TCamera::StaticClass(), TLight::StaticClass(), TDummy::StaticClass(),
                     TProxyObject::StaticClass()});
}

void FinalizeControls3D() {
  UnRegisterClasses({TControl3D::StaticClass(), TCamera::StaticClass(), TLight::StaticClass(), TDummy::StaticClass(),
                     TProxyObject::StaticClass()});
}

const TUnitRegistration Controls3DUnit{{"Fw.Controls3D", {}, &InitControls3D, &FinalizeControls3D}};

constexpr double kDegToRad = std::numbers::pi / 180.0;

float GGlobalDistance = 0;
TProjection GGlobalProjection = TProjection::Camera;

// v - Int(v / 360) * 360, plus 360 when negative: [0, 360) for finite v.
double NormalizeAngle(double v) {
  double r = v - std::trunc(v / 360.0) * 360.0;
  if (r < 0) r += 360.0;
  return r;
}

bool Within(float a, float b, float e) { return std::fabs(a - b) <= e; }

bool DiffersFrom(const TPoint3D& p, float v, float e) {
  return !Within(p.X, v, e) || !Within(p.Y, v, e) || !Within(p.Z, v, e);
}

float Axis(const TPoint3D& p, int a) { return a == 0 ? p.X : a == 1 ? p.Y : p.Z; }
float& Axis(TPoint3D& p, int a) { return a == 0 ? p.X : a == 1 ? p.Y : p.Z; }

TPoint3D UnitAxis(int a) { return a == 0 ? TPoint3D(1, 0, 0) : a == 1 ? TPoint3D(0, 1, 0) : TPoint3D(0, 0, 1); }

// Calls Proc for each TControl3D below AObject, descending through children that are not 3D
// controls but not into 3D controls (they handle their own subtree).
template <class F>
void ForEachChildControl(const TFwObject* AObject, const F& Proc) {
  for (TFwObject* child : AObject->Children()) {
    if (auto* c = dynamic_cast<TControl3D*>(child))
      Proc(c);
    else
      ForEachChildControl(child, Proc);
  }
}

TBoundingBox TransformBox(const TBoundingBox& b, const TMatrix3D& m) {
  TPoint3D corners[8];
  for (int i = 0; i < 8; ++i)
    corners[i] = TPoint3D(i & 1 ? b.Right : b.Left, i & 2 ? b.Bottom : b.Top, i & 4 ? b.Far : b.Near) * m;
  return TBoundingBox::Create(corners);
}

TVector3D Direction(const TVector3D& row) {
  const TPoint3D d = TPoint3D(row.X, row.Y, row.Z).Normalize();
  return TVector3D(d, 0.0f);
}

}  // namespace

std::string QuaternionToText(const TQuaternion3D& AValue) {
  return "(" + FloatToStr(AValue.ImagPart.X) + "," + FloatToStr(AValue.ImagPart.Y) + "," +
         FloatToStr(AValue.ImagPart.Z) + "," + FloatToStr(AValue.RealPart) + ")";
}

TQuaternion3D TextToQuaternion(std::string_view AText) {
  const std::string text = Trim(std::string(AText));
  auto fail = [&]() -> TQuaternion3D {
    throw EConvertError(Format("'%s' is not a valid quaternion", {std::string(AText)}));
  };
  if (text.size() < 2 || text.front() != '(' || text.back() != ')') return fail();
  const std::string_view inner = std::string_view(text).substr(1, text.size() - 2);
  float v[4];
  size_t start = 0;
  for (int i = 0; i < 4; ++i) {
    const size_t comma = inner.find(',', start);
    if ((i < 3) != (comma != std::string_view::npos)) return fail();
    const size_t length = comma == std::string_view::npos ? std::string_view::npos : comma - start;
    const std::string part = Trim(inner.substr(start, length));
    double d;
    if (!TryStrToFloat(part, d) || !std::isfinite(d) || std::fabs(d) > std::numeric_limits<float>::max())
      return fail();
    v[i] = static_cast<float>(d);
    start = comma + 1;
  }
  if (v[0] == 0 && v[1] == 0 && v[2] == 0 && v[3] == 0) return TQuaternion3D::Identity();
  return {v[0], v[1], v[2], v[3]};
}

TMatrix3D QuaternionToRotationMatrix(const TQuaternion3D& AValue) { return AValue.ToMatrix3D(); }

// ---------------------------------------------------------------------------------------

TControl3D::TControl3D(TComponent* AOwner)
    : TFwObject(AOwner),
      FPosition(New<TControlPosition3D>()),
      FRotationAngle(New<TControlPosition3D>()),
      FScale(New<TControlPosition3D>(TPoint3D(1, 1, 1))),
      FRotationCenter(New<TControlPosition3D>()) {
  auto matrixChanged = [this](TObject* s) { MatrixChanged(s); };
  FPosition->OnChange = matrixChanged;
  FScale->OnChange = matrixChanged;
  FRotationCenter->OnChange = matrixChanged;
  FRotationAngle->OnChange = [this](TObject* s) { RotationChanged(s); };
  FRotationAngle->OnChangeX = [this](TObject* s) { RotationXChanged(s); };
  FRotationAngle->OnChangeY = [this](TObject* s) { RotationYChanged(s); };
  FRotationAngle->OnChangeZ = [this](TObject* s) { RotationZChanged(s); };
}

TControl3D::~TControl3D() {
  // The position objects call back into this object: cut them off first.
  for (TPosition3D* p : {FPosition.get(), FRotationAngle.get(), FScale.get(), FRotationCenter.get()}) {
    p->OnChange = nullptr;
    p->OnChangeX = p->OnChangeY = p->OnChangeZ = nullptr;
  }
}

void TControl3D::BeforeDestruction() {
  TFwObject::BeforeDestruction();
  FRenderingList.clear();
}

void TControl3D::DefineProperties(TFiler* Filer) {
  TFwObject::DefineProperties(Filer);
  const TQuaternion3D& q = FQuaternion;
  const bool hasData = !(q.ImagPart.X == 0 && q.ImagPart.Y == 0 && q.ImagPart.Z == 0 && q.RealPart == 1);
  Filer->DefineProperty(
      "Quanternion", [this](TReader* r) { SetQuaternion(TextToQuaternion(r->ReadString())); },
      [this](TWriter* w) { w->WriteString(QuaternionToText(FQuaternion)); }, hasData);
}

// --- transform objects --------------------------------------------------------------------

void TControl3D::SetPosition(TPosition3D* Value) {
  if (Value) FPosition->Assign(*Value);
}
void TControl3D::SetRotationAngle(TPosition3D* Value) {
  if (Value) FRotationAngle->Assign(*Value);
}
void TControl3D::SetScale(TPosition3D* Value) {
  if (Value) FScale->Assign(*Value);
}
void TControl3D::SetRotationCenter(TPosition3D* Value) {
  if (Value) FRotationCenter->Assign(*Value);
}

void TControl3D::SetQuaternion(const TQuaternion3D& Value) {
  FQuaternion = Value;
  MatrixChanged(this);
}

void TControl3D::SetLocalMatrix(const TMatrix3D& Value) {
  FLocalMatrix = Value;
  RecalcAbsolute();
}

// --- rotation -----------------------------------------------------------------------------

bool AccumulateAxisRotation(TQuaternion3D& AQuaternion, TPoint3D& ASaved, TPosition3D& AAngles, int AAxis,
                            const std::function<void()>& AMatrixChanged) {
  TPoint3D angles = AAngles.GetPoint();
  const float set = Axis(angles, AAxis);
  const double d = NormalizeAngle(double(set) - double(Axis(ASaved, AAxis)));
  // A non-finite angle would poison the stored rotation for good: it turns nothing.
  if (d == 0 || !std::isfinite(d)) return false;
  AQuaternion = AQuaternion * TQuaternion3D(UnitAxis(AAxis), static_cast<float>(d * kDegToRad));
  AMatrixChanged();
  Axis(ASaved, AAxis) = set;
  Axis(angles, AAxis) = static_cast<float>(NormalizeAngle(set));
  AAngles.SetPointNoChange(angles);
  return true;
}

bool AccumulateRotation(TQuaternion3D& AQuaternion, TPoint3D& ASaved, TPosition3D& AAngles,
                        const std::function<void()>& AMatrixChanged) {
  const TPoint3D angles = AAngles.GetPoint();
  TPoint3D noted = angles;
  bool changed = false;
  for (int a = 0; a < 3; ++a) {
    const double d = NormalizeAngle(double(Axis(angles, a)) - double(Axis(ASaved, a)));
    if (d == 0 || !std::isfinite(d)) continue;
    AQuaternion = AQuaternion * TQuaternion3D(UnitAxis(a), static_cast<float>(d * kDegToRad));
    Axis(noted, a) = static_cast<float>(NormalizeAngle(Axis(angles, a)));
    changed = true;
  }
  if (!changed) return false;
  for (int a = 0; a < 3; ++a)
    if (std::isfinite(Axis(angles, a))) Axis(ASaved, a) = Axis(angles, a);
  AAngles.SetPointNoChange(noted);
  AMatrixChanged();
  return true;
}

void TControl3D::RotateAxis(int a) {
  AccumulateAxisRotation(FQuaternion, FSavedRotationAngle, *FRotationAngle, a, [this] { MatrixChanged(this); });
}

void TControl3D::RotationXChanged(TObject*) { RotateAxis(0); }
void TControl3D::RotationYChanged(TObject*) { RotateAxis(1); }
void TControl3D::RotationZChanged(TObject*) { RotateAxis(2); }

void TControl3D::RotationChanged(TObject*) {
  AccumulateRotation(FQuaternion, FSavedRotationAngle, *FRotationAngle, [this] { MatrixChanged(this); });
}

void TControl3D::ResetRotationAngle() {
  FQuaternion = TQuaternion3D::Identity();
  FSavedRotationAngle = {};
  FRotationAngle->SetPointNoChange({});
  MatrixChanged(this);
}

// --- matrices -----------------------------------------------------------------------------

TMatrix3D TControl3D::BuildLocalMatrix() {
  TMatrix3D m = TMatrix3D::Identity();
  const TPoint3D scale = FScale->GetPoint();
  if (DiffersFrom(scale, 1, 1e-4f)) m = m * TMatrix3D::CreateScaling(scale);
  if (!DiffersFrom(FRotationAngle->GetPoint(), 0, 1e-4f)) {
    FSavedRotationAngle = {};
    FQuaternion = TQuaternion3D::Identity();
  } else {
    TMatrix3D r = QuaternionToRotationMatrix(FQuaternion);
    const TPoint3D center = FRotationCenter->GetPoint();
    if (DiffersFrom(center, 0, 0.001f))
      r = TMatrix3D::CreateTranslation(-center) * r * TMatrix3D::CreateTranslation(center);
    m = m * r;
  }
  const TPoint3D pos = FPosition->GetPoint();
  if (DiffersFrom(pos, 0, 0.001f)) m = m * TMatrix3D::CreateTranslation(pos);
  return m;
}

void TControl3D::MatrixChanged(TObject*) {
  if (GetComponentState().Contains(csDestroying)) return;
  FLocalMatrix = BuildLocalMatrix();
  RecalcAbsolute();
  RebuildRenderingList();
  Repaint();
}

void TControl3D::RecalcAbsolute() {
  FRecalcAbsolute = true;
  ForEachChildControl(this, [](TControl3D* c) { c->RecalcAbsolute(); });
}

TControl3D* TControl3D::ParentControl3D() const { return dynamic_cast<TControl3D*>(GetParent()); }

const TMatrix3D& TControl3D::GetAbsoluteMatrix() const {
  if (FRecalcAbsolute) {
    const TControl3D* parent = ParentControl3D();
    FAbsoluteMatrix = parent ? FLocalMatrix * parent->GetAbsoluteMatrix() : FLocalMatrix;
    FInvAbsoluteMatrix = FAbsoluteMatrix.Inverse();
    FRecalcAbsolute = false;
  }
  return FAbsoluteMatrix;
}

const TMatrix3D& TControl3D::GetInvertAbsoluteMatrix() const {
  GetAbsoluteMatrix();
  return FInvAbsoluteMatrix;
}

TVector3D TControl3D::GetAbsolutePosition() const {
  const TMatrix3D& m = GetAbsoluteMatrix();
  return {m.m41, m.m42, m.m43, 1};
}

void TControl3D::SetAbsolutePosition(const TVector3D& AValue) {
  const TPoint3D p(AValue);
  const TControl3D* parent = ParentControl3D();
  FPosition->SetPoint(parent ? p * parent->GetInvertAbsoluteMatrix() : p);
}

TVector3D TControl3D::GetAbsoluteLeft() const { return Direction(GetAbsoluteMatrix().Row(0)); }
TVector3D TControl3D::GetAbsoluteUp() const { return Direction(GetAbsoluteMatrix().Row(1)); }
TVector3D TControl3D::GetAbsoluteDirection() const { return Direction(GetAbsoluteMatrix().Row(2)); }

TVector3D TControl3D::AbsoluteToLocalVector(const TVector3D& AValue) const {
  return AValue * GetInvertAbsoluteMatrix();
}
TVector3D TControl3D::LocalToAbsoluteVector(const TVector3D& AValue) const { return AValue * GetAbsoluteMatrix(); }
TVector3D TControl3D::AbsoluteToLocalDirection(const TVector3D& AValue) const {
  return TVector3D(AValue.X, AValue.Y, AValue.Z, 0) * GetInvertAbsoluteMatrix();
}
TVector3D TControl3D::LocalToAbsoluteDirection(const TVector3D& AValue) const {
  return TVector3D(AValue.X, AValue.Y, AValue.Z, 0) * GetAbsoluteMatrix();
}
TPoint3D TControl3D::AbsoluteToLocal(const TPoint3D& AValue) const { return AValue * GetInvertAbsoluteMatrix(); }
TPoint3D TControl3D::LocalToAbsolute(const TPoint3D& AValue) const { return AValue * GetAbsoluteMatrix(); }

TBoundingBox TControl3D::GetLocalBounds() const {
  return {-FWidth / 2, -FHeight / 2, -FDepth / 2, FWidth / 2, FHeight / 2, FDepth / 2};
}

TBoundingBox TControl3D::GetGlobalBounds() const { return TransformBox(GetLocalBounds(), GetAbsoluteMatrix()); }

// --- size and flags -----------------------------------------------------------------------

void TControl3D::SetWidth(float Value) {
  if (FWidth == Value) return;
  FWidth = Value;
  Resize3D();
  Repaint();
}

void TControl3D::SetHeight(float Value) {
  if (FHeight == Value) return;
  FHeight = Value;
  Resize3D();
  Repaint();
}

void TControl3D::SetDepth(float Value) {
  if (FDepth == Value) return;
  FDepth = Value;
  Resize3D();
  Repaint();
}

void TControl3D::SetOpaque(bool Value) {
  if (FOpaque == Value) return;
  FOpaque = Value;
  if (TControl3D* parent = ParentControl3D()) parent->RebuildRenderingList();
  Repaint();
}

void TControl3D::SetOpacity(float Value) {
  const float v = std::isnan(Value) ? 1.0f : std::clamp(Value, 0.0f, 1.0f);
  if (FOpacity == v) return;
  FOpacity = v;
  Repaint();
}

float TControl3D::GetAbsoluteOpacity() const {
  const TControl3D* parent = ParentControl3D();
  return parent ? FOpacity * parent->GetAbsoluteOpacity() : FOpacity;
}

void TControl3D::SetVisible(bool Value) {
  if (FVisible == Value) return;
  FVisible = Value;
  Repaint();
}

void TControl3D::SetProjection(TProjection Value) {
  if (FProjection == Value) return;
  FProjection = Value;
  Repaint();
}

void TControl3D::SetTwoSide(bool Value) {
  if (FTwoSide == Value) return;
  FTwoSide = Value;
  Repaint();
}

void TControl3D::SetZWrite(bool Value) {
  if (FZWrite == Value) return;
  FZWrite = Value;
  Repaint();
}

// --- tree and viewport ----------------------------------------------------------------------

TContext3D* TControl3D::GetContext() const { return FViewport ? FViewport->GetContext() : nullptr; }

void TControl3D::SetNewViewport(IViewport3D* AViewport) {
  FViewport = AViewport;
  ForEachChildControl(this, [AViewport](TControl3D* c) { c->SetNewViewport(AViewport); });
}

void TControl3D::ChildAdded(TFwObject* AObject) {
  if (auto* c = dynamic_cast<TControl3D*>(AObject))
    c->SetNewViewport(FViewport);
  else
    ForEachChildControl(AObject, [this](TControl3D* c) { c->SetNewViewport(FViewport); });
  RebuildRenderingList();
  Repaint();
}

void TControl3D::DoAddObject(TFwObject* AObject) {
  TFwObject::DoAddObject(AObject);
  ChildAdded(AObject);
}

void TControl3D::DoInsertObject(int Index, TFwObject* AObject) {
  TFwObject::DoInsertObject(Index, AObject);
  ChildAdded(AObject);
}

void TControl3D::DoRemoveObject(TFwObject* AObject) {
  TFwObject::DoRemoveObject(AObject);
  std::erase(FRenderingList, AObject);
  if (auto* c = dynamic_cast<TControl3D*>(AObject))
    c->SetNewViewport(nullptr);
  else
    ForEachChildControl(AObject, [](TControl3D* c) { c->SetNewViewport(nullptr); });
  Repaint();
}

void TControl3D::ParentChanged() {
  TFwObject::ParentChanged();
  RecalcAbsolute();
}

void TControl3D::EndUpdate() {
  if (FUpdating > 0 && --FUpdating == 0) Repaint();
}

void TControl3D::Repaint() {
  if (!FViewport || FUpdating > 0) return;
  const TComponentState& state = GetComponentState();
  if (state.Contains(csDestroying) || state.Contains(csLoading)) return;
  FViewport->NeedRender();
}

// --- rendering ------------------------------------------------------------------------------

void TControl3D::RebuildRenderingList() {
  FRenderingList.clear();
  for (TFwObject* child : Children())
    if (auto* c = dynamic_cast<TControl3D*>(child); c && c->FOpaque) FRenderingList.push_back(c);
  for (TFwObject* child : Children())
    if (auto* c = dynamic_cast<TControl3D*>(child); c && !c->FOpaque) FRenderingList.push_back(c);
}

void TControl3D::RenderInternal() {
  TContext3D* context = GetContext();
  if (!context) return;
  context->SetMatrix(GetAbsoluteMatrix());
  context->SetContextState(FTwoSide ? TContextState::csAllFace : TContextState::csFrontFace);
  context->SetContextState(FZWrite ? TContextState::csZWriteOn : TContextState::csZWriteOff);
  Render();
  FOnRender(this, context);
  RenderChildren();
}

void TControl3D::RenderChildren() {
  // By index: a child's drawing may change the list.
  for (size_t i = 0; i < FRenderingList.size(); ++i) {
    TControl3D* c = FRenderingList[i];
    if (c->FVisible || (IsDesigning() && !c->FLocked)) c->RenderInternal();
  }
}

// --- picking --------------------------------------------------------------------------------

float TControl3D::GetGlobalDistance() { return GGlobalDistance; }
void TControl3D::SetGlobalDistance(float Value) { GGlobalDistance = Value; }
TProjection TControl3D::GetGlobalProjection() { return GGlobalProjection; }
void TControl3D::SetGlobalProjection(TProjection Value) { GGlobalProjection = Value; }

bool TControl3D::CheckHitTest(bool AHitTest) const {
  if (IsDesigning()) return FVisible && !FLocked && !FDesignLocked;
  return AHitTest;
}

bool TControl3D::RayCastIntersect(const TPoint3D& RayPos, const TPoint3D& RayDir, TPoint3D& Intersection) {
  return DoRayCastIntersect(RayPos, RayDir, Intersection);
}

bool TControl3D::DoRayCastIntersect(const TPoint3D& RayPos, const TPoint3D& RayDir, TPoint3D& Intersection) {
  // Slab test against the size box.
  const TBoundingBox box = GetLocalBounds().Normalize();
  const float lo[3] = {box.Left, box.Top, box.Near};
  const float hi[3] = {box.Right, box.Bottom, box.Far};
  const float pos[3] = {RayPos.X, RayPos.Y, RayPos.Z};
  const float dir[3] = {RayDir.X, RayDir.Y, RayDir.Z};
  if (dir[0] == 0 && dir[1] == 0 && dir[2] == 0) return false;
  double tNear = -std::numeric_limits<double>::infinity();
  double tFar = std::numeric_limits<double>::infinity();
  for (int a = 0; a < 3; ++a) {
    if (dir[a] == 0) {
      if (pos[a] < lo[a] || pos[a] > hi[a]) return false;
      continue;
    }
    double t1 = (double(lo[a]) - pos[a]) / dir[a];
    double t2 = (double(hi[a]) - pos[a]) / dir[a];
    if (t1 > t2) std::swap(t1, t2);
    tNear = std::max(tNear, t1);
    tFar = std::min(tFar, t2);
    if (!(tNear <= tFar)) return false;
  }
  if (tFar < 0) return false;
  const double t = tNear >= 0 ? tNear : tFar;
  const TPoint3D local(float(pos[0] + t * dir[0]), float(pos[1] + t * dir[1]), float(pos[2] + t * dir[2]));
  Intersection = LocalToAbsolute(local);
  return true;
}

bool TControl3D::PickRay(const TPointF& P, TVector3D& RayPos, TVector3D& RayDir) {
  TContext3D* context = GetContext();
  if (!context) return false;
  context->Pick(P.X, P.Y, FProjection, RayPos, RayDir);
  return true;
}

TPointF TControl3D::ScreenToLocal(const TPointF& P) const { return FViewport ? FViewport->ScreenToLocal(P) : P; }

void TControl3D::MouseDown(TMouseButton Button, TShiftState Shift, float X, float Y) {
  TVector3D rayPos, rayDir;
  if (PickRay({X, Y}, rayPos, rayDir)) OnMouseDown(this, Button, Shift, X, Y, rayPos, rayDir);
}

void TControl3D::MouseMove(TShiftState Shift, float X, float Y) {
  TVector3D rayPos, rayDir;
  if (PickRay({X, Y}, rayPos, rayDir)) OnMouseMove(this, Shift, X, Y, rayPos, rayDir);
}

void TControl3D::MouseUp(TMouseButton Button, TShiftState Shift, float X, float Y) {
  TVector3D rayPos, rayDir;
  if (PickRay({X, Y}, rayPos, rayDir)) OnMouseUp(this, Button, Shift, X, Y, rayPos, rayDir);
}

IControl* TControl3D::ObjectAtPoint(const TPointF& P) {
  return PickChildrenOrSelf(P, [&P](IControl* c) { return c->ObjectAtPoint(P); });
}

IControl* TControl3D::FindTarget(const TPointF& P, const TDragObject& AData) {
  return PickChildrenOrSelf(P, [&P, &AData](IControl* c) { return c->FindTarget(P, AData); });
}

IControl* TControl3D::PickChildrenOrSelf(const TPointF& P, const std::function<IControl*(IControl*)>& AAskChild) {
  IControl* result = nullptr;
  const auto& children = Children();
  for (size_t i = children.size(); i-- > 0;) {
    auto* control = dynamic_cast<IControl*>(children[i]);
    if (!control || !control->GetVisible()) continue;
    if (IControl* hit = AAskChild(control)) result = hit;
  }
  if (result) return result;
  if (!GetContext() || !FVisible || FProjection != GGlobalProjection || !CheckHitTest(FHitTest)) return nullptr;
  const TPointF local = ScreenToLocal(P);
  TVector3D rayPos, rayDir;
  if (!PickRay(local, rayPos, rayDir)) return nullptr;
  const TVector3D localPos = AbsoluteToLocalVector(rayPos);
  const TVector3D localDir = AbsoluteToLocalDirection(rayDir);
  TPoint3D hit;
  if (!RayCastIntersect(TPoint3D(localPos), {localDir.X, localDir.Y, localDir.Z}, hit)) return nullptr;
  float distance;
  if (FProjection == TProjection::Screen) {
    distance = hit.Distance(TPoint3D(rayPos));
  } else {
    TCamera* camera = FViewport ? FViewport->GetCurrentCamera() : nullptr;
    if (!camera) return nullptr;
    distance = hit.Distance(TPoint3D(camera->GetAbsolutePosition()));
  }
  if (GGlobalDistance > distance) {
    GGlobalDistance = distance;
    return this;
  }
  return nullptr;
}

}  // namespace quorvel
