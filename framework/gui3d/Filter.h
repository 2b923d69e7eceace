#pragma once
// Image filters. A TFilter describes itself through its metaclass (FilterAttr: name,
// description, values with defaults and ranges), holds its values by name, its input and
// original textures and one pixel shader per pass. TFilterManager keeps the registered filter
// classes by category and runs filters on texture contexts of the default context class:
//
//   TOwned<TFilter> f(TFilterManager::FilterByName("GaussianBlur")->CreateFilter());
//   f->SetValue("BlurAmount", 2.0f);
//   TOwned<TBitmap> out(TFilterManager::ApplyToBitmap(f.get(), input));
//
// Every pass draws one quad into a texture. The quad's texture coordinate arrives in the
// varying "TEX0" with v = 0 at the image's bottom row (GL's row 0), and input textures keep
// that convention, so that output textures can be inputs again. Views tell the manager when
// the size of their picture changes; the manager then forgets the contexts it made.
// Main thread only.
#include <cstdint>
#include <string>
#include <vector>

#include "framework/gui/Bitmap.h"
#include "framework/gui/PixelFormat.h"
#include "framework/gui3d/Shader.h"
#include "framework/gui3d/Texture.h"
#include "framework/math/AlphaColor.h"
#include "framework/math/Point.h"
#include "framework/rtl/Enum.h"
#include "framework/rtl/Object.h"
#include "framework/rtl/Value.h"

namespace quorvel {

class TContext3D;
class TFilter;

enum class TFilterValueType : uint8_t { Float = 0, Point = 1, Color = 2, Bitmap = 3 };
FW_ENUM(TFilterValueType, Float, Point, Color, Bitmap)

// One value of a filter: floats hold float, points TPointF (pixels), colours TAlphaColor,
// bitmaps a TTexture* (not owned).
struct TFilterValueRec {
  std::string Name;
  std::string Desc;
  TFilterValueType ValueType = TFilterValueType::Float;
  TValue Value;
  TValue Default;
  TValue Min;
  TValue Max;

  static TFilterValueRec Float(std::string AName, std::string ADesc, float ADefault, float AMin, float AMax);
  static TFilterValueRec Point(std::string AName, std::string ADesc, TPointF ADefault, TPointF AMin, TPointF AMax);
  static TFilterValueRec Color(std::string AName, std::string ADesc, TAlphaColor ADefault);
  static TFilterValueRec Bitmap(std::string AName, std::string ADesc);
};

struct TFilterRec {
  std::string Name;
  std::string Desc;
  std::vector<TFilterValueRec> Values;
};

// The metaclass of the filters: the virtual constructor (TClass::Create) and FilterAttr.
class TFilterClass : public TClass {
public:
  using TClass::TClass;
  virtual TFilterRec FilterAttr() const { return {}; }
  // Create, as a filter.
  TFilter* CreateFilter() const;
};

// The metaclass of a filter class T whose static T::FilterAttr() describes it.
template <class T>
class TFilterClassOf : public TFilterClass {
public:
  using TFilterClass::TFilterClass;
  TFilterRec FilterAttr() const override { return T::FilterAttr(); }
};

class TFilter : public TObject {
  FW_CLASS_META(TFilter, TObject, TFilterClass)

public:
  static constexpr int32_t MaxPasses = 8;

  TFilter();
  // Takes the values of the class's FilterAttr at their defaults; the first bitmap value
  // becomes the one that gets an internal second texture.
  void AfterConstruction() override;

  const TFilterClass* GetFilterClass() const;
  TFilterRec FilterAttr() const { return GetFilterClass()->FilterAttr(); }

  // --- values by name (exact names; an unknown name raises EArgumentException) ---------------
  const std::vector<TFilterValueRec>& GetValues() const { return FValues; }
  bool HasValue(const std::string& AName) const { return FindValue(AName) != nullptr; }
  TValue GetValue(const std::string& AName) const;
  // Floats are clamped to the value's range; a value of another type raises EInvalidCast.
  void SetValue(const std::string& AName, const TValue& AValue);
  float GetFloat(const std::string& AName) const;
  TPointF GetPoint(const std::string& AName) const;
  TAlphaColor GetColor(const std::string& AName) const;
  TTexture* GetTexture(const std::string& AName) const;

  // --- textures (not owned) -----------------------------------------------------------------
  // The texture the current pass reads; the runner sets it before each pass.
  TTexture* GetInputTexture() const { return FInput; }
  void SetInputTexture(TTexture* Value) { FInput = Value; }
  // The texture the first pass read.
  TTexture* GetOriginalTexture() const { return FOriginal; }
  void SetOriginalTexture(TTexture* Value) { FOriginal = Value; }
  // The input's size in pixels (0 × 0 without input).
  TPointF InputSize() const;

  // --- passes -------------------------------------------------------------------------------
  int32_t GetPassCount() const { return FPassCount; }
  int32_t GetPass() const { return FPass; }
  void SetPass(int32_t Value) { FPass = Value; }
  TContextShader* GetShader(int32_t APass) const;
  bool GetAntiAlias() const { return FAntiAlias; }
  const std::string& GetNeedInternalSecondTex() const { return FNeedInternalSecondTex; }

  // The output size for the input: the input size here.
  virtual void CalcSize(int32_t& W, int32_t& H);
  // On the filter context: the filter vertex shader and the current pass's pixel shader, then
  // every value under its own name: floats as (v, 0, 0, 0), points divided by the input size,
  // colours as bytes / 255, bitmaps as textures.
  virtual void LoadShaders();

protected:
  const TFilterValueRec* FindValue(const std::string& AName) const;
  TFilterValueRec& ValueRef(const std::string& AName);
  // Registers AText as a GLSL pixel program AName and keeps it in slot APass.
  void RegisterPass(int32_t APass, const std::string& AName, const std::string& AText,
                    const TContextShaderVariables& AVariables);
  void RegisterPass(int32_t APass, const std::string& AName, const TContextShaderSources& ASources);

  TContextShader* FShaders[MaxPasses] = {};  // owned by the shader manager
  int32_t FPassCount = 1;
  int32_t FPass = 0;
  bool FAntiAlias = false;
  std::string FNeedInternalSecondTex;
  std::vector<TFilterValueRec> FValues;
  TTexture* FInput = nullptr;
  TTexture* FOriginal = nullptr;
};

class TFilterManager {
public:
  // --- registry -----------------------------------------------------------------------------
  // Appends the class to the category (made on first use, after the existing ones). A class
  // registered again stays where it is.
  static void RegisterFilter(const std::string& ACategory, const TFilterClass* AFilter);
  // Empties the registry.
  static void UnInitialize();
  static std::vector<std::string> Categories();
  static std::vector<const TFilterClass*> FiltersOfCategory(const std::string& ACategory);
  // Every registered class, category by category.
  static std::vector<const TFilterClass*> FilterClasses();
  // The class whose FilterAttr name is AName (ASCII case-insensitive), or null.
  static const TFilterClass* FilterByName(const std::string& AName);

  // --- the filter vertex shader -------------------------------------------------------------
  // Old dialect: the quad's position as given, its texture coordinate into "TEX0".
  static const char* FilterVertexShaderText();
  static TContextShader* FilterVertexShader();

  // --- contexts -----------------------------------------------------------------------------
  // The context of the pass being drawn (null outside a run).
  static TContext3D* FilterContext();
  // Frees every filter context and target (current context 0, none made).
  static void ResetContexts();
  // The size the views' pictures have.
  static void ResizeContext(int32_t AWidth, int32_t AHeight);
  static TPoint GetContextSize();
  static int32_t GetContextCount();
  static int32_t GetCurrentContext();

  // --- running ------------------------------------------------------------------------------
  // Runs every pass of the filter on AInput (v = 0 at its bottom row): one quad a pass into a
  // texture of the size CalcSize gives and of AFormat, the previous pass's output being the
  // next one's input. Answers the last pass's texture (owned by the manager, kept until the
  // next run or ResetContexts), or null when the size is 0 × 0. A nil input or filter raises
  // EArgumentNilException.
  static TTexture* Apply(TFilter* AFilter, TTexture* AInput, TPixelFormat AFormat = TPixelFormat::BGRA);
  // The bitmap through a texture of its own (uploaded bottom row first) and back: a new
  // bitmap owned by the caller, empty when the output size is 0 × 0.
  static TBitmap* ApplyToBitmap(TFilter* AFilter, TBitmap* AInput);
  // The image of an output texture of the last run, top row first (BGRA bytes).
  static TBitmap* ReadBack();
  // A texture holding the bitmap with its bottom row at v = 0 (owned by the caller).
  static TTexture* TextureFromBitmap(TBitmap* ABitmap);
};

}  // namespace quorvel
