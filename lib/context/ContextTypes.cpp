#include "lib/context/ContextTypes.h"

#include <vector>

#include "lib/context/Context.h"
#include "framework/rtl/Log.h"

namespace quorvel {

std::atomic<int64_t> GlobalDrawCalls{0};
std::atomic<int64_t> GlobalDrawInstances{0};
std::atomic<int64_t> GlobalVertexCount{0};
std::atomic<int64_t> GlobalIndexCount{0};

namespace {

void Report(TObject* ASender, TContextMessageKind AKind, const std::string& ALine) {
  Log::d(ALine);
  if (ContextMessageCallback) ContextMessageCallback(ASender, AKind, ALine);
}

// Lines of a text as a string list reads them: CR LF, CR or LF end a line; a final line
// break adds no empty line.
std::vector<std::string> TextLines(const std::string& AText) {
  std::vector<std::string> lines;
  size_t start = 0;
  const size_t n = AText.size();
  while (start < n) {
    size_t end = AText.find_first_of("\r\n", start);
    if (end == std::string::npos) {
      lines.emplace_back(AText, start);
      break;
    }
    lines.emplace_back(AText, start, end - start);
    start = end + ((AText[end] == '\r' && end + 1 < n && AText[end + 1] == '\n') ? 2 : 1);
  }
  return lines;
}

std::vector<std::string> Split(const std::string& AText, char ASeparator) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    size_t end = AText.find(ASeparator, start);
    if (end == std::string::npos) {
      parts.emplace_back(AText, start);
      return parts;
    }
    parts.emplace_back(AText, start, end - start);
    start = end + 1;
  }
}

std::atomic<TGLGetErrorFunc> GetErrorFunc{&RealGLGetError};

}  // namespace

// --- error reporting -------------------------------------------------------------------------

void RaiseContextException(TObject* ASender, PResStringRec AResString, std::span<const TVarRec> AArgs) {
  std::string text = Format(LoadResString(AResString), AArgs);
  Report(ASender, TContextMessageKind::cmkContext, SContextExceptionPrefix + text);
  throw EContext3DException(std::move(text));
}

void RaiseInitializationException(TObject* ASender, PResStringRec AResString, std::span<const TVarRec> AArgs) {
  std::string text = Format(LoadResString(AResString), AArgs);
  Report(ASender, TContextMessageKind::cmkInitialization, SInitializationExceptionPrefix + text);
  throw Exception(std::move(text));
}

std::string AnnotateShaderLog(const std::string& AInfoLog, const std::string& ASource) {
  if (AInfoLog.empty()) return {};
  const std::vector<std::string> source = TextLines(ASource);
  std::vector<std::string> entries;
  // Only LF separates log lines; a CR stays part of its line.
  for (const std::string& line : Split(AInfoLog, '\n')) {
    if (line.empty()) continue;
    entries.push_back("\r\n" + line + "\r\n");
    const std::vector<std::string> parts = Split(line, ':');
    int32_t n = 0;
    if (parts.size() > 2 && !parts[2].empty() && TryStrToInt(parts[2], n)) {
      const int64_t i = n - 1 < 0 ? 0 : int64_t(n) - 1;
      if (i < int64_t(source.size())) entries.push_back("\t" + source[size_t(i)] + "\r\n");
    }
  }
  std::string result;
  for (const std::string& entry : entries) result += entry + "\r\n";
  return result;
}

void RaiseShaderCompileException(TObject* ASender, bool ADesignTime, PResStringRec AResString,
                                 std::span<const TVarRec> AArgs) {
  auto arg = [&](size_t i) {
    return i < AArgs.size() && AArgs[i].Kind == TVarRec::TKind::String ? std::string(AArgs[i].VString)
                                                                       : std::string();
  };
  const std::string name = arg(0);
  const std::string annotated = AnnotateShaderLog(arg(1), arg(2));
  std::string text = Format(LoadResString(AResString), {TVarRec(name), TVarRec(annotated)});
  Report(ASender, TContextMessageKind::cmkShaderCompile, SShaderCompileExceptionPrefix + text);
  if (ADesignTime && RaiseShaderCompileErrors) throw EContext3DException(std::move(text));
}

// --- GL error drain --------------------------------------------------------------------------

TGLGetErrorFunc SetGLGetErrorFunc(TGLGetErrorFunc AFunc) {
  return GetErrorFunc.exchange(AFunc ? AFunc : &RealGLGetError);
}

uint32_t GLGetError() { return GetErrorFunc.load(std::memory_order_relaxed)(); }

uint32_t DrainGLErrors() {
  uint32_t result = 0;
  for (int calls = 0; calls < MaxDrainedGLErrors; ++calls) {
    const uint32_t e = GLGetError();
    if (e == 0) break;
    result |= e;
  }
  return result;
}

bool HasGLError() { return DrainGLErrors() != 0; }

// --- blending --------------------------------------------------------------------------------

TBlendSetting TBlendSetting::Create(bool AEnabled) {
  using F = TBlendFactor;
  return Create(AEnabled, TBlendEquationFunc::befAdd, F::bfOne, F::bfOneMinusSrcColor, F::bfOne,
                F::bfOneMinusSrcAlpha);
}

TBlendSetting TBlendSetting::Create(bool AEnabled, TBlendEquationFunc AFunc, TBlendFactor AColorSource,
                                    TBlendFactor AColorDest, TBlendFactor AAlphaSource, TBlendFactor AAlphaDest) {
  return {AEnabled, AFunc, AFunc, AColorSource, AColorDest, AAlphaSource, AAlphaDest};
}

TBlendSetting TBlendSetting::Create(bool AEnabled, TBlendEquationFunc AFunc, TBlendFactor AColorSource,
                                    TBlendFactor AColorDest) {
  return Create(AEnabled, AFunc, AColorSource, AColorDest, AColorSource, AColorDest);
}

TBlendSetting TBlendSetting::CreateForFramework() {
  using F = TBlendFactor;
  return Create(true, TBlendEquationFunc::befAdd, F::bfOne, F::bfOneMinusSrcAlpha, F::bfOne, F::bfOneMinusSrcAlpha);
}

TSmoothSetting TSmoothSetting::Create() {
  return {TSmoothTargets{TSmoothTarget::stPoints, TSmoothTarget::stLines, TSmoothTarget::stPolygons}};
}

}  // namespace quorvel
