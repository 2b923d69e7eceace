#pragma once
// The shared GL context of the process and the context class registered with the framework.
// Every engine context draws with one GL context, made through the WGL calls on the stored
// window's DC the first time a context needs GL; each context renders into frame buffers of
// its own. The unit's initialisation registers TContextOpenGLWindows as the default context
// class; its finalisation unregisters it and frees the shared context.
#include <cstdint>
#include <string>

#include "framework/gui3d/Shader.h"
#include "framework/platform/Windows.h"
#include "framework/rtl/Set.h"
#include "lib/context/opengl/ContextGLES.h"

namespace quorvel {

struct TContextCreationSettings {
  bool IsES = false;
  int32_t MajorVersion = 0;
  int32_t MinorVersion = 0;
  bool ForwardCompatible = false;
  int32_t ColorBits = 0;  // the bit counts use their low byte
  int32_t DepthBits = 0;
  int32_t StencilBits = 0;
  int32_t AccumBits = 0;
  int32_t AuxBuffers = 0;
  int32_t LayerType = 0;  // 0 main plane, > 0 overlay, < 0 underlay
};

enum class TContextCreationOption : uint8_t { DoubleBuffered, SupportGDI, Stereo };
using TContextCreationOptions = TSet<TContextCreationOption>;

// OpenGL 4.3 compatibility profile, colour 24, depth 16.
inline constexpr TContextCreationSettings SharedContextSettings{false, 4, 3, false, 24, 16, 0, 0, 0, 0};

class TCustomContextWindows : public TQuorvelContextOpenGLES {
  FW_CLASS_META(TCustomContextWindows, TQuorvelContextOpenGLES, TQuorvelContextOpenGLESClass)

public:
  // The holder of the shared GL context: none of the context's own initialisation runs.
  TCustomContextWindows();
  TCustomContextWindows(TWindowHandle AParent, int32_t AWidth, int32_t AHeight, TMultisample AMultisample,
                        bool ADepthStencil);
  TCustomContextWindows(TTexture* ATexture, TMultisample AMultisample, bool ADepthStencil);
  // Raises the process-wide destroying flag; the shared instance also deletes its GL context
  // and releases its DC.
  ~TCustomContextWindows() override;

  // Makes the shared context unless it exists or a context has been destroyed; a failure is
  // reported through RaiseInitializationException ("Failed to initialize context: %s").
  static void CreateSharedContext();
  static void DestroySharedContext();
  // The shared instance, or null.
  static TCustomContextWindows* SharedContext();
  // The window the shared context will be made on (null: the platform's hidden window).
  static void SetWindowHandle(TWindowHandle pHandle);
  static TWindowHandle GetWindowHandle();
  // Compiles one shader on the shared context (a fragment shader gets a precision line in
  // front); raises a context exception when it does not compile. The result is empty.
  static std::string CompileShader(int32_t AType, const TContextShaderCode& ACode);

  HWND GetHWND() const { return FHWND; }
  HDC GetHDC() const { return FHDC; }
  HGLRC GetGLContext() const { return FContext; }

protected:
  // Scissor rectangles set through the framework have no effect.
  void DoSetScissorRect(const TRect&) override {}
  void DoCreateBuffer() override {}

  HWND FHWND = nullptr;
  HDC FHDC = nullptr;
  HGLRC FContext = nullptr;
};

class TContextOpenGLWindows : public TCustomContextWindows {
  FW_CLASS_META(TContextOpenGLWindows, TCustomContextWindows, TQuorvelContextOpenGLESClass)

public:
  // Stores AParent as the shared context's window; the shared context is made after
  // construction.
  TContextOpenGLWindows(TWindowHandle AParent, int32_t AWidth, int32_t AHeight, TMultisample AMultisample,
                        bool ADepthStencil);
  TContextOpenGLWindows(TTexture* ATexture, TMultisample AMultisample, bool ADepthStencil);
  void AfterConstruction() override;

protected:
  // A texture context's default frame buffer (its target texture as Color_0, a depth buffer
  // when asked) and its translucent frame buffer without attachments. Window contexts have
  // none.
  void DoCreateBuffer() override;
};

// Pushes the client pixel-store state. With AUseDefaultEXT (the EXT direct-state-access entry
// point exists) the EXT call resets the state to its defaults; otherwise the plain push is
// followed by an explicit reset of the unpack parameters, so both leave the same state.
void PushClientPixelStoreState(bool AUseDefaultEXT);

// A GL rendering context on ADC with the options and settings; not made current. Pixel-format
// failures raise the last system error; a driver without the attribute entry point raises
// Exception, a refused context EAbort.
HGLRC CreateRenderingContext(HDC ADC, const TContextCreationOptions& AOptions,
                             const TContextCreationSettings& ASettings);

void RegisterContextOpenGLWindows();
void UnregisterContextOpenGLWindows();

// Tests only: frees the shared context and lowers the destroying flag, so that the next
// CreateSharedContext makes a new one.
void ResetSharedContextForTesting();

}  // namespace quorvel
