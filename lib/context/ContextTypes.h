#pragma once
// Value types of the render context (blend settings, smoothing, stencil and polygon-offset
// modes, orthographic data, planes, memory barriers), the error routines every context and
// GPU object reports through, the GL error drain and the blend enumerations.
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <span>
#include <string>

#include "framework/gui3d/Context3D.h"
#include "framework/math/Point3D.h"
#include "framework/rtl/Object.h"
#include "framework/rtl/ResourceStrings.h"
#include "framework/rtl/Set.h"
#include "framework/rtl/SysUtils.h"

namespace quorvel {

// --- primitive and shader kinds --------------------------------------------------------------

// The first three have the values of the framework's TPrimitivesKind.
enum class TQuorvelPrimitivesKind : uint8_t { Points, Lines, Triangles, LineLoop, LineStrip, TriangleStrip, TriangleFan };
// The first two have the values of the framework's TContextShaderKind.
enum class TContextShaderKindEx : uint8_t { VertexShader, PixelShader, GeometryShader, TessEvalShader, TessCtrlShader };

// --- error reporting -------------------------------------------------------------------------

enum class TContextMessageKind : uint8_t { cmkContext = 0, cmkShaderCompile = 1, cmkInitialization = 2 };
using TContextMessageCallback =
    std::function<void(TObject* ASender, TContextMessageKind AKind, const std::string& AText)>;

inline constexpr TResourceString SCannotCreateShaderProgram{"SCannotCreateShaderProgram",
                                                            "cannot create shader program: %s - %s"};
inline constexpr TResourceString SCannotActivateCreatedShaderProgram{"SCannotActivateCreatedShaderProgram",
                                                                     "cannot activated created shader program"};
inline constexpr TResourceString SCannotUseShaderProgram{"SCannotUseShaderProgram", "cannot use shader program"};
inline constexpr TResourceString SCannotBeginRenderingScene{"SCannotBeginRenderingScene",
                                                            "cannot begin rendering scene for %s: %d"};
inline constexpr TResourceString SCannotEndRenderingScene{"SCannotEndRenderingScene",
                                                          "cannot end rendering scene for %s: %d"};
inline constexpr TResourceString SCannotCreateVertexShaderFor{"SCannotCreateVertexShaderFor",
                                                              "Cannot create Vertex-Shader for '%s':\r\n%s"};
inline constexpr TResourceString SCannotCreateGeometryShaderFor{"SCannotCreateGeometryShaderFor",
                                                                "Cannot create Geometry-Shader for '%s':\r\n%s"};
inline constexpr TResourceString SCannotCreateTessEvalShaderFor{
    "SCannotCreateTessEvalShaderFor", "Cannot create Tessellation-Evaluation-Shader for '%s':\r\n%s"};
inline constexpr TResourceString SCannotCreateTessCtrlShaderFor{
    "SCannotCreateTessCtrlShaderFor", "Cannot create Tessellation-Control-Shader for '%s':\r\n%s"};
inline constexpr TResourceString SCannotCreateFragmentShaderFor{"SCannotCreateFragmentShaderFor",
                                                                "Cannot create Fragment-Shader for '%s':\r\n%s"};
inline constexpr TResourceString SErrorInContextMethodCode{"SErrorInContextMethodCode",
                                                           "error in context method \"%s\" (error = %d)"};

inline constexpr char SContextExceptionPrefix[] = "[Context Exception]: ";
inline constexpr char SInitializationExceptionPrefix[] = "[Initialization Exception]: ";
inline constexpr char SShaderCompileExceptionPrefix[] = "[Shader Compile Exception]: ";

// Log, callback, then EContext3DException with the text without prefix.
[[noreturn]] void RaiseContextException(TObject* ASender, PResStringRec AResString,
                                        std::span<const TVarRec> AArgs);
[[noreturn]] inline void RaiseContextException(TObject* ASender, PResStringRec AResString,
                                               std::initializer_list<TVarRec> AArgs = {}) {
  RaiseContextException(ASender, AResString, std::span<const TVarRec>(AArgs.begin(), AArgs.size()));
}
// Log, callback, then the run-time's base Exception.
[[noreturn]] void RaiseInitializationException(TObject* ASender, PResStringRec AResString,
                                               std::span<const TVarRec> AArgs);
[[noreturn]] inline void RaiseInitializationException(TObject* ASender, PResStringRec AResString,
                                                      std::initializer_list<TVarRec> AArgs = {}) {
  RaiseInitializationException(ASender, AResString, std::span<const TVarRec>(AArgs.begin(), AArgs.size()));
}
// AArgs: name, the compiler's info log, the shader source. Logs the annotated log and calls
// the callback; raises EContext3DException only when ADesignTime and RaiseShaderCompileErrors
// hold, otherwise returns.
void RaiseShaderCompileException(TObject* ASender, bool ADesignTime, PResStringRec AResString,
                                 std::span<const TVarRec> AArgs);
inline void RaiseShaderCompileException(TObject* ASender, bool ADesignTime, PResStringRec AResString,
                                        std::initializer_list<TVarRec> AArgs) {
  RaiseShaderCompileException(ASender, ADesignTime, AResString,
                              std::span<const TVarRec>(AArgs.begin(), AArgs.size()));
}
// The info log with each line that names a source line ("ERROR: 0:12: ...") followed by that
// line of the source, indented by a TAB.
std::string AnnotateShaderLog(const std::string& AInfoLog, const std::string& ASource);

// --- GL error drain --------------------------------------------------------------------------

inline constexpr int MaxDrainedGLErrors = 16;

// The glGetError that the drain and the context's checks call. Tests install a fake; null
// installs the real one. Answers the function installed before.
using TGLGetErrorFunc = uint32_t (*)();
TGLGetErrorFunc SetGLGetErrorFunc(TGLGetErrorFunc AFunc);
uint32_t GLGetError();
// glGetError itself (the OpenGL side of this unit).
uint32_t RealGLGetError();

// The OR of the pending GL error codes; at most 16 are taken per call.
uint32_t DrainGLErrors();
bool HasGLError();

// --- blending --------------------------------------------------------------------------------

enum class TBlendFactor : uint8_t {
  bfZero,
  bfOne,
  bfSrcColor,
  bfOneMinusSrcColor,
  bfSrcAlpha,
  bfOneMinusSrcAlpha,
  bfDstAlpha,
  bfOneMinusDstAlpha,
  bfDstColor,
  bfOneMinusDstColor,
  bfSrcAlphaSaturate
};
enum class TBlendEquationFunc : uint8_t { befAdd, befSubtract, befReverseSubtract, befMin, befMax };

uint32_t BlendFactorToGL(TBlendFactor AFactor);
uint32_t BlendEquationToGL(TBlendEquationFunc AFunc);

struct TBlendSetting {
  bool Enabled = false;
  TBlendEquationFunc Func = TBlendEquationFunc::befAdd;
  TBlendEquationFunc AlphaFunc = TBlendEquationFunc::befAdd;
  TBlendFactor ColorSource = TBlendFactor::bfZero;
  TBlendFactor ColorDest = TBlendFactor::bfZero;
  TBlendFactor AlphaSource = TBlendFactor::bfZero;
  TBlendFactor AlphaDest = TBlendFactor::bfZero;

  // Enabled, Add/Add, colour One to OneMinusSrcColor, alpha One to OneMinusSrcAlpha.
  static TBlendSetting Create(bool AEnabled = true);
  static TBlendSetting Create(bool AEnabled, TBlendEquationFunc AFunc, TBlendFactor AColorSource,
                              TBlendFactor AColorDest, TBlendFactor AAlphaSource, TBlendFactor AAlphaDest);
  static TBlendSetting Create(bool AEnabled, TBlendEquationFunc AFunc, TBlendFactor AColorSource,
                              TBlendFactor AColorDest);
  // Premultiplied alpha: One to OneMinusSrcAlpha for colour and alpha.
  static TBlendSetting CreateForFramework();

  bool operator==(const TBlendSetting&) const = default;
};
static_assert(sizeof(TBlendSetting) == 7);

inline constexpr int BlendingBufferCount = 32;
using TBlendSettings = std::array<TBlendSetting, BlendingBufferCount>;

// --- smoothing, stencil, polygon offset ------------------------------------------------------

enum class TSmoothTarget : uint8_t { stPoints, stLines, stPolygons };
using TSmoothTargets = TSet<TSmoothTarget>;
struct TSmoothSetting {
  TSmoothTargets Targets;
  // All three targets.
  static TSmoothSetting Create();
};

enum class TStencilOpEx : uint8_t { Keep, Zero, Replace, Increase, Decrease, Invert, IncreaseWrap, DecreaseWrap };
enum class TPolygonOffsetFill : uint8_t { pofOffsetFillOn, pofOffsetFillOff };

struct TOrthographicData {
  float Left = 0, Top = 0, Right = 0, Bottom = 0, _Near = 0, _Far = 0;
  static TOrthographicData Create(float ALeft, float ATop, float ARight, float ABottom, float ANear, float AFar) {
    return {ALeft, ATop, ARight, ABottom, ANear, AFar};
  }
};

// --- planes ----------------------------------------------------------------------------------

struct TPlaneF {
  float NX = 0, NY = 0, NZ = 0, D = 0;

  static TPlaneF Create(const TPoint3D& ANormal, float ADistance) { return {ANormal.X, ANormal.Y, ANormal.Z, ADistance}; }
  static TPlaneF Create(double ANX, double ANY, double ANZ, double ADistance) {
    return {float(ANX), float(ANY), float(ANZ), float(ADistance)};
  }
  TPoint3D Normal() const { return {NX, NY, NZ}; }
  float Distance() const { return D; }
  TVector3D AsVector3D() const { return {NX, NY, NZ, D}; }
  // The four values in order (NX, NY, NZ, D).
  const float* GetPointer() const { return &NX; }
  float* GetPointer() { return &NX; }
  bool operator==(const TPlaneF&) const = default;
};
static_assert(sizeof(TPlaneF) == 16);

struct TClipPlaneF {
  bool Enabled = false;
  TPlaneF Plane;
};
using PClipPlaneF = TClipPlaneF*;

inline constexpr int ClipPlaneCount = 8;

// --- memory barriers -------------------------------------------------------------------------

enum class TMemoryBarrierFlag : uint8_t {
  VertexAttribArrayBarrierBit,
  ElementArrayBarrierBit,
  UniformBarrierBit,
  TextureFetchBarrierBit,
  ShaderImageAccessBarrierBit,
  CommandBarrierBit,
  PixelBufferBarrierBit,
  TextureUpdateBarrierBit,
  BufferUpdateBarrierBit,
  FrameBufferBarrierBit,
  TransformFeedbackBarrierBit,
  AtomicCounterBarrierBit,
  ShaderStorageBarrierBit
};
using TMemoryBarrierFlags = TSet<TMemoryBarrierFlag>;

// --- render targets --------------------------------------------------------------------------

// Attachment points of a frame buffer: Color_0, Depth, Stencil, then Color_1..Color_15.
enum class TRenderTarget : uint8_t {
  Color_0, Depth, Stencil, Color_1, Color_2, Color_3, Color_4, Color_5, Color_6, Color_7, Color_8,
  Color_9, Color_10, Color_11, Color_12, Color_13, Color_14, Color_15
};
using TRenderTargets = TSet<TRenderTarget>;

// --- framework states, draw counters ---------------------------------------------------------

using TFwContextStates = TContextStates;

// Added to by the batch draw, copied and reset by the viewport each frame.
extern std::atomic<int64_t> GlobalDrawCalls;
extern std::atomic<int64_t> GlobalDrawInstances;
extern std::atomic<int64_t> GlobalVertexCount;
extern std::atomic<int64_t> GlobalIndexCount;

}  // namespace quorvel
#include "lib/context/ContextTypesLights.h"
