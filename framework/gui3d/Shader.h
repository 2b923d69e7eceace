#pragma once
// Shaders of the 3D layer: a TContextShader is a named shader with one source per shader
// architecture; the context class compiles it (InitializeShader) into a GPU handle. Shaders
// are made and owned by the process-wide TShaderManager:
//
//   TContextShader* vs = TShaderManager::RegisterShaderFromData("Color.fvs",
//       TContextShaderKind::VertexShader, "",
//       {TContextShaderSource(TContextShaderArch::GLSL, TContextShaderSource::CodeFromText(text),
//                             {{"MVPMatrix", TContextShaderVariableKind::Matrix, 0, 4}})});
//
// Registering the same name again with the same kind and code answers the same shader;
// with other code the shader object keeps its identity and takes the new text (its GPU
// handle is released, so the next use compiles the new text).
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "framework/rtl/Enum.h"
#include "framework/rtl/Object.h"

namespace quorvel {

// Mac: GLSL for the platform whose filter textures arrive upside down.
enum class TContextShaderArch : uint8_t { Undefined = 0, GLSL = 1, HLSL = 2, Metal = 3, Mac = 4 };
FW_ENUM(TContextShaderArch, Undefined, GLSL, HLSL, Metal, Mac)

// The engine stores further stage kinds (geometry 2, tessellation 3 and 4) in the same field.
enum class TContextShaderKind : uint8_t { VertexShader = 0, PixelShader = 1 };
FW_ENUM(TContextShaderKind, VertexShader, PixelShader)

// Int and IntArray are the engine's integer kinds; the framework itself only sets 0..5.
enum class TContextShaderVariableKind : uint8_t {
  Float = 0,
  Float2 = 1,
  Float3 = 2,
  Vector = 3,
  Matrix = 4,
  Texture = 5,
  Int = 6,
  IntArray = 7
};
FW_ENUM(TContextShaderVariableKind, Float, Float2, Float3, Vector, Matrix, Texture, Int, IntArray)

using TContextShaderCode = std::vector<uint8_t>;
using TContextShaderHandle = uintptr_t;

struct TContextShaderVariable {
  std::string Name;
  TContextShaderVariableKind Kind = TContextShaderVariableKind::Float;
  int32_t Index = 0;  // uniform location (textures: the unit the filters give)
  int32_t Size = 0;   // element count
  TContextShaderKind ShaderKind = TContextShaderKind::VertexShader;
  int32_t TextureUnit = 0;

  TContextShaderVariable() = default;
  TContextShaderVariable(std::string AName, TContextShaderVariableKind AKind, int32_t AIndex, int32_t ASize)
      : Name(std::move(AName)), Kind(AKind), Index(AIndex), Size(ASize) {}
  friend bool operator==(const TContextShaderVariable&, const TContextShaderVariable&) = default;
};
using TContextShaderVariables = std::vector<TContextShaderVariable>;

struct TContextShaderSource {
  TContextShaderArch Arch = TContextShaderArch::Undefined;
  TContextShaderCode Code;
  TContextShaderVariables Variables;

  TContextShaderSource() = default;
  TContextShaderSource(TContextShaderArch AArch, TContextShaderCode ACode, TContextShaderVariables AVariables = {})
      : Arch(AArch), Code(std::move(ACode)), Variables(std::move(AVariables)) {}

  bool IsDefined() const { return Arch != TContextShaderArch::Undefined; }
  // The variable of that name (exact compare), or null.
  const TContextShaderVariable* FindVariable(std::string_view AName) const;
  // The bytes of a text, as shader code.
  static TContextShaderCode CodeFromText(std::string_view AText) { return {AText.begin(), AText.end()}; }
  std::string CodeAsText() const { return {Code.begin(), Code.end()}; }
  friend bool operator==(const TContextShaderSource&, const TContextShaderSource&) = default;
};
using TContextShaderSources = std::vector<TContextShaderSource>;

class TContextShader : public TObject {
  FW_CLASS(TContextShader, TObject)

public:
  TContextShader(std::string AName, TContextShaderKind AKind, std::string AOriginalSource,
                 TContextShaderSources ASources);

  const std::string& GetName() const { return FName; }
  TContextShaderKind GetKind() const { return FKind; }
  // The GPU handle the context class gave it (0: not compiled).
  TContextShaderHandle GetHandle() const { return FHandle; }
  void SetHandle(TContextShaderHandle Value) { FHandle = Value; }
  const std::string& GetOriginalSource() const { return FOriginalSource; }
  const TContextShaderSources& GetSources() const { return FSources; }
  // The source for an architecture; an undefined (empty) source when there is none.
  const TContextShaderSource& GetSourceByArch(TContextShaderArch AArch) const;

private:
  friend class TShaderManager;
  bool SameAs(TContextShaderKind AKind, const TContextShaderSources& ASources) const;

  std::string FName;
  TContextShaderKind FKind;
  std::string FOriginalSource;
  TContextShaderSources FSources;
  TContextShaderHandle FHandle = 0;
};

class TShaderManager {
public:
  // The shader registered under AName (see the header comment). An empty name raises
  // EArgumentException. The manager owns every shader it answers.
  static TContextShader* RegisterShaderFromData(const std::string& AName, TContextShaderKind AKind,
                                                const std::string& AOriginalSource,
                                                const TContextShaderSources& ASources);
  static TContextShader* FindShader(std::string_view AName);
  // Releases the GPU object and frees the shader of that name; an unknown name does nothing.
  // Callers' pointers to it become invalid.
  static void UnregisterShader(std::string_view AName);
  static size_t ShaderCount();
  // Releases the GPU handles (through the context manager) and frees every shader; callers'
  // pointers become invalid. Run at unit finalisation.
  static void UnInitialize();
};

}  // namespace quorvel
