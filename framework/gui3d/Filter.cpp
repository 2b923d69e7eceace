#include "framework/gui3d/Filter.h"

#include <algorithm>
#include <cstring>

#include "framework/gui3d/Context3D.h"
#include "framework/rtl/Finally.h"
#include "framework/rtl/SysUtils.h"
#include "framework/rtl/Units.h"

namespace quorvel {

FW_CLASS_IMPL_META(TFilter, "Fw.Filter", TFilterClass)
FW_CLASS_NO_MEMBERS(TFilter)

namespace {

struct TCategory {
  std::string Name;
  std::vector<const TFilterClass*> Classes;
};

// One render target of the runner and the context drawing into it.
struct TTarget {
  TOwned<TTexture> Texture;
  TOwned<TContext3D> Context;
};

struct TFilterState {
  std::vector<TCategory> Categories;
  int32_t Width = 0, Height = 0;
  int32_t CurrentContext = 0;
  std::vector<TTarget> Targets;  // the ping-pong pair of the last size and format
  TContext3D* Drawing = nullptr;
  TTexture* LastOutput = nullptr;
  TContext3D* LastContext = nullptr;
};

TFilterState& State() {
  static TFilterState s;
  return s;
}

void FreeTargets() noexcept {
  TFilterState& s = State();
  s.Drawing = nullptr;
  s.LastOutput = nullptr;
  s.LastContext = nullptr;
  // Contexts first: each refers to its target texture.
  for (TTarget& t : s.Targets) FreeQuietlyAndNil(t.Context, "TFilterManager: freeing a filter context");
  for (TTarget& t : s.Targets) FreeQuietlyAndNil(t.Texture, "TFilterManager: freeing a filter target");
  s.Targets.clear();
  s.CurrentContext = 0;
}

void FinFilterUnit() {
  FreeTargets();
  State().Categories.clear();
}
const TUnitRegistration FilterUnit{{"Fw.Filter", {"Fw.Shaders"}, {}, &FinFilterUnit}};

const char* const kFilterVertexShader =
    "attribute vec3 a_Position;\r\n"
    "attribute vec2 a_TexCoord0;\r\n"
    "varying vec4 TEX0;\r\n"
    "void main() {\r\n"
    "  TEX0 = vec4(a_TexCoord0, 0.0, 1.0);\r\n"
    "  gl_Position = vec4(a_Position, 1.0);\r\n"
    "}\r\n";

struct TQuadVertex {
  float X, Y, Z, U, V;
};
// v = 0 on the bottom row (GL's row 0 of the target).
constexpr TQuadVertex kQuad[4] = {{-1, -1, 0, 0, 0}, {1, -1, 0, 1, 0}, {1, 1, 0, 1, 1}, {-1, 1, 0, 0, 1}};
constexpr uint16_t kQuadIndices[6] = {0, 1, 2, 2, 3, 0};

// A target of the size and format in slot AIndex, made (or remade) when it differs.
TTarget& EnsureTarget(size_t AIndex, int32_t W, int32_t H, TPixelFormat AFormat, bool AAntiAlias) {
  TFilterState& s = State();
  if (s.Targets.size() <= AIndex) s.Targets.resize(AIndex + 1);
  TTarget& t = s.Targets[AIndex];
  if (t.Texture &&
      (t.Texture->GetWidth() != W || t.Texture->GetHeight() != H || t.Texture->GetPixelFormat() != AFormat)) {
    t.Context.reset();
    t.Texture.reset();
  }
  const TTextureFilter filter = AAntiAlias ? TTextureFilter::Linear : TTextureFilter::Nearest;
  if (!t.Texture) {
    TOwned<TTexture> texture(New<TTexture>());
    texture->SetSize(W, H);
    texture->SetPixelFormat(AFormat);
    texture->SetStyle(TTextureStyles{TTextureStyle::RenderTarget});
    texture->SetMinFilter(filter);
    texture->SetMagFilter(filter);
    texture->Initialize();
    t.Context.reset(TContextManager::CreateFromTexture(texture.get(), TMultisample::None, false));
    t.Texture = std::move(texture);
  }
  return t;
}

void DrawPass(TFilter* AFilter, TContext3D* AContext) {
  TFilterState& s = State();
  if (!AContext->BeginScene()) throw EContext3DException("TFilterManager: cannot begin the filter scene");
  auto end = Finally([&] {
    s.Drawing = nullptr;
    AContext->EndScene();
  });
  s.Drawing = AContext;
  AContext->SetContextState(TContextState::csZTestOff);
  AContext->SetContextState(TContextState::csZWriteOff);
  AContext->SetContextState(TContextState::csAlphaBlendOff);
  AContext->SetContextState(TContextState::csStencilOff);
  AContext->SetContextState(TContextState::csColorWriteOn);
  AContext->SetContextState(TContextState::csScissorOff);
  AContext->SetContextState(TContextState::csAllFace);
  AContext->Clear(TClearTargets{TClearTarget::Color}, TAlphaColor(0), 1, 0);
  AFilter->LoadShaders();
  AContext->SetShaderVariable("Input", AFilter->GetInputTexture());
  const std::string& second = AFilter->GetNeedInternalSecondTex();
  if (!second.empty() && AFilter->HasValue(second) && !AFilter->GetTexture(second))
    AContext->SetShaderVariable(second, AFilter->GetInputTexture());
  static const TVertexDeclaration declaration{{TVertexFormat::Vertex, 0}, {TVertexFormat::TexCoord0, 12}};
  AContext->DrawPrimitives(TPrimitivesKind::Triangles, kQuad, kQuadIndices, declaration, sizeof(TQuadVertex), 4, 2, 6,
                           nullptr, 1);
}

std::string CheckedName(const TFilter* AFilter, const std::string& AName) {
  return Format("%s: no filter value \"%s\"", AFilter->ClassName(), AName);
}

}  // namespace

// --- values -------------------------------------------------------------------------------------

TFilterValueRec TFilterValueRec::Float(std::string AName, std::string ADesc, float ADefault, float AMin, float AMax) {
  return {std::move(AName), std::move(ADesc), TFilterValueType::Float, ADefault, ADefault, AMin, AMax};
}

TFilterValueRec TFilterValueRec::Point(std::string AName, std::string ADesc, TPointF ADefault, TPointF AMin,
                                       TPointF AMax) {
  return {std::move(AName), std::move(ADesc), TFilterValueType::Point, ADefault, ADefault, AMin, AMax};
}

TFilterValueRec TFilterValueRec::Color(std::string AName, std::string ADesc, TAlphaColor ADefault) {
  return {std::move(AName), std::move(ADesc), TFilterValueType::Color, ADefault, ADefault, TAlphaColor(0),
          TAlphaColor(0)};
}

TFilterValueRec TFilterValueRec::Bitmap(std::string AName, std::string ADesc) {
  const TValue none = static_cast<TTexture*>(nullptr);
  return {std::move(AName), std::move(ADesc), TFilterValueType::Bitmap, none, none, none, none};
}

TFilter* TFilterClass::CreateFilter() const { return CreateAs<TFilter>(); }

// --- TFilter ------------------------------------------------------------------------------------

TFilter::TFilter() = default;

void TFilter::AfterConstruction() {
  TObject::AfterConstruction();
  FValues = FilterAttr().Values;
  for (const TFilterValueRec& v : FValues)
    if (v.ValueType == TFilterValueType::Bitmap) {
      FNeedInternalSecondTex = v.Name;
      break;
    }
}

const TFilterClass* TFilter::GetFilterClass() const {
  const TFilterClass* cls = ClassType()->MetaAs<TFilterClass>();
  return cls ? cls : StaticMeta();
}

const TFilterValueRec* TFilter::FindValue(const std::string& AName) const {
  for (const TFilterValueRec& v : FValues)
    if (v.Name == AName) return &v;
  return nullptr;
}

TFilterValueRec& TFilter::ValueRef(const std::string& AName) {
  for (TFilterValueRec& v : FValues)
    if (v.Name == AName) return v;
  throw EArgumentException(CheckedName(this, AName));
}

TValue TFilter::GetValue(const std::string& AName) const {
  const TFilterValueRec* v = FindValue(AName);
  if (!v) throw EArgumentException(CheckedName(this, AName));
  return v->Value;
}

void TFilter::SetValue(const std::string& AName, const TValue& AValue) {
  TFilterValueRec& v = ValueRef(AName);
  switch (v.ValueType) {
    case TFilterValueType::Float: {
      const float f = AValue.AsType<float>();
      v.Value = std::clamp(f, v.Min.AsType<float>(), v.Max.AsType<float>());
      break;
    }
    case TFilterValueType::Point: v.Value = AValue.AsType<TPointF>(); break;
    case TFilterValueType::Color: v.Value = AValue.AsType<TAlphaColor>(); break;
    case TFilterValueType::Bitmap: v.Value = AValue.IsEmpty() ? nullptr : AValue.AsType<TTexture*>(); break;
  }
}

float TFilter::GetFloat(const std::string& AName) const { return GetValue(AName).AsType<float>(); }
TPointF TFilter::GetPoint(const std::string& AName) const { return GetValue(AName).AsType<TPointF>(); }
TAlphaColor TFilter::GetColor(const std::string& AName) const { return GetValue(AName).AsType<TAlphaColor>(); }
TTexture* TFilter::GetTexture(const std::string& AName) const {
  const TValue v = GetValue(AName);
  return v.IsEmpty() ? nullptr : v.AsType<TTexture*>();
}

TPointF TFilter::InputSize() const {
  return FInput ? TPointF(float(FInput->GetWidth()), float(FInput->GetHeight())) : TPointF();
}

TContextShader* TFilter::GetShader(int32_t APass) const {
  return APass >= 0 && APass < MaxPasses ? FShaders[APass] : nullptr;
}

void TFilter::CalcSize(int32_t& W, int32_t& H) {
  const TPointF size = InputSize();
  W = int32_t(size.X);
  H = int32_t(size.Y);
}

void TFilter::LoadShaders() {
  TContext3D* context = TFilterManager::FilterContext();
  if (!context) return;
  context->SetShaders(TFilterManager::FilterVertexShader(), GetShader(FPass));
  const TPointF size = InputSize();
  for (const TFilterValueRec& v : FValues) {
    switch (v.ValueType) {
      case TFilterValueType::Float: {
        const TVector3D data[1] = {TVector3D(v.Value.AsType<float>(), 0, 0, 0)};
        context->SetShaderVariable(v.Name, data);
        break;
      }
      case TFilterValueType::Point: {
        const TPointF p = v.Value.AsType<TPointF>();
        const TVector3D data[1] = {TVector3D(size.X > 0 ? p.X / size.X : 0, size.Y > 0 ? p.Y / size.Y : 0, 0, 0)};
        context->SetShaderVariable(v.Name, data);
        break;
      }
      case TFilterValueType::Color: {
        const TAlphaColorRec c(v.Value.AsType<TAlphaColor>());
        const TVector3D data[1] = {TVector3D(c.R / 255.0f, c.G / 255.0f, c.B / 255.0f, c.A / 255.0f)};
        context->SetShaderVariable(v.Name, data);
        break;
      }
      case TFilterValueType::Bitmap:
        if (TTexture* t = v.Value.IsEmpty() ? nullptr : v.Value.AsType<TTexture*>())
          context->SetShaderVariable(v.Name, t);
        break;
    }
  }
}

void TFilter::RegisterPass(int32_t APass, const std::string& AName, const std::string& AText,
                           const TContextShaderVariables& AVariables) {
  RegisterPass(APass, AName,
               {TContextShaderSource(TContextShaderArch::GLSL, TContextShaderSource::CodeFromText(AText), AVariables)});
}

void TFilter::RegisterPass(int32_t APass, const std::string& AName, const TContextShaderSources& ASources) {
  if (APass < 0 || APass >= MaxPasses) throw EArgumentOutOfRangeException("TFilter: pass out of range");
  FShaders[APass] = TShaderManager::RegisterShaderFromData(AName, TContextShaderKind::PixelShader, "", ASources);
}

// --- TFilterManager: registry -------------------------------------------------------------------

void TFilterManager::RegisterFilter(const std::string& ACategory, const TFilterClass* AFilter) {
  if (!AFilter) throw EArgumentNilException("TFilterManager.RegisterFilter: no filter class");
  auto& categories = State().Categories;
  for (const TCategory& c : categories)
    if (std::find(c.Classes.begin(), c.Classes.end(), AFilter) != c.Classes.end()) return;
  auto it = std::find_if(categories.begin(), categories.end(), [&](const TCategory& c) { return c.Name == ACategory; });
  if (it == categories.end()) it = categories.insert(categories.end(), TCategory{ACategory, {}});
  it->Classes.push_back(AFilter);
}

void TFilterManager::UnInitialize() { State().Categories.clear(); }

std::vector<std::string> TFilterManager::Categories() {
  std::vector<std::string> r;
  for (const TCategory& c : State().Categories) r.push_back(c.Name);
  return r;
}

std::vector<const TFilterClass*> TFilterManager::FiltersOfCategory(const std::string& ACategory) {
  for (const TCategory& c : State().Categories)
    if (c.Name == ACategory) return c.Classes;
  return {};
}

std::vector<const TFilterClass*> TFilterManager::FilterClasses() {
  std::vector<const TFilterClass*> r;
  for (const TCategory& c : State().Categories) r.insert(r.end(), c.Classes.begin(), c.Classes.end());
  return r;
}

const TFilterClass* TFilterManager::FilterByName(const std::string& AName) {
  for (const TFilterClass* cls : FilterClasses())
    if (SameText(cls->FilterAttr().Name, AName)) return cls;
  return nullptr;
}

const char* TFilterManager::FilterVertexShaderText() { return kFilterVertexShader; }

TContextShader* TFilterManager::FilterVertexShader() {
  return TShaderManager::RegisterShaderFromData(
      "filter.fvs", TContextShaderKind::VertexShader, "",
      {TContextShaderSource(TContextShaderArch::GLSL, TContextShaderSource::CodeFromText(kFilterVertexShader))});
}

// --- TFilterManager: contexts -------------------------------------------------------------------

TContext3D* TFilterManager::FilterContext() { return State().Drawing; }

void TFilterManager::ResetContexts() { FreeTargets(); }

void TFilterManager::ResizeContext(int32_t AWidth, int32_t AHeight) {
  State().Width = std::max(AWidth, 0);
  State().Height = std::max(AHeight, 0);
}

TPoint TFilterManager::GetContextSize() { return TPoint(State().Width, State().Height); }

int32_t TFilterManager::GetContextCount() {
  int32_t n = 0;
  for (const TTarget& t : State().Targets) n += t.Context ? 1 : 0;
  return n;
}

int32_t TFilterManager::GetCurrentContext() { return State().CurrentContext; }

// --- TFilterManager: running --------------------------------------------------------------------

TTexture* TFilterManager::Apply(TFilter* AFilter, TTexture* AInput, TPixelFormat AFormat) {
  if (!AFilter) throw EArgumentNilException("TFilterManager.Apply: no filter");
  if (!AInput) throw EArgumentNilException("TFilterManager.Apply: no input texture");
  TFilterState& s = State();
  s.LastOutput = nullptr;
  s.LastContext = nullptr;
  AFilter->SetOriginalTexture(AInput);
  AFilter->SetInputTexture(AInput);
  int32_t w = 0, h = 0;
  AFilter->CalcSize(w, h);
  if (w <= 0 || h <= 0) return nullptr;
  auto restore = Finally([&] {
    AFilter->SetInputTexture(AInput);
    AFilter->SetPass(0);
  });
  TTexture* input = AInput;
  for (int32_t pass = 0; pass < AFilter->GetPassCount(); ++pass) {
    const size_t slot = size_t(pass % 2);
    TTarget& target = EnsureTarget(slot, w, h, AFormat, AFilter->GetAntiAlias());
    s.CurrentContext = int32_t(slot);
    AFilter->SetPass(pass);
    AFilter->SetInputTexture(input);
    DrawPass(AFilter, target.Context.get());
    input = target.Texture.get();
    s.LastOutput = target.Texture.get();
    s.LastContext = target.Context.get();
  }
  return s.LastOutput;
}

TBitmap* TFilterManager::ReadBack() {
  TFilterState& s = State();
  TOwned<TBitmap> result(New<TBitmap>());
  if (!s.LastOutput || !s.LastContext) return result.release();
  result->SetSize(s.LastOutput->GetWidth(), s.LastOutput->GetHeight());
  {
    TBitmapData data;
    if (!result->Map(TMapAccess::Write, data))
      throw EContext3DException("TFilterManager.ReadBack: cannot map the bitmap");
    auto unmap = Finally([&] { result->Unmap(data); });
    s.LastContext->CopyToBits(data.Data, data.Pitch, TRect(0, 0, data.Width, data.Height));
  }
  return result.release();
}

TTexture* TFilterManager::TextureFromBitmap(TBitmap* ABitmap) {
  if (!ABitmap) throw EArgumentNilException("TFilterManager.TextureFromBitmap: no bitmap");
  TOwned<TTexture> texture(New<TTexture>());
  texture->SetSize(ABitmap->GetWidth(), ABitmap->GetHeight());
  texture->SetPixelFormat(TPixelFormat::BGRA);
  if (ABitmap->IsEmpty()) return texture.release();
  TBitmapData data;
  if (!ABitmap->Map(TMapAccess::Read, data)) throw EContext3DException("TFilterManager: cannot map the bitmap");
  std::vector<uint8_t> rows(size_t(data.Width) * 4 * size_t(data.Height));
  {
    auto unmap = Finally([&] { ABitmap->Unmap(data); });
    if (data.BytesPerPixel() != 4)
      throw ENotSupportedException("TFilterManager: only 32-bit bitmaps are filtered");
    const size_t row = size_t(data.Width) * 4;
    for (int32_t y = 0; y < data.Height; ++y)
      std::memcpy(rows.data() + size_t(data.Height - 1 - y) * row, data.GetScanline(y), row);
  }
  texture->Initialize();
  texture->UpdateTexture(rows.data(), data.Width * 4);
  return texture.release();
}

TBitmap* TFilterManager::ApplyToBitmap(TFilter* AFilter, TBitmap* AInput) {
  if (!AFilter) throw EArgumentNilException("TFilterManager.Apply: no filter");
  TOwned<TTexture> input(TextureFromBitmap(AInput));
  if (!Apply(AFilter, input.get())) return New<TBitmap>();
  return ReadBack();
}

}  // namespace quorvel
