#include "lib/context/windows/ContextGLESWindows.h"

#include <epoxy/gl.h>

#include <vector>

#include "framework/platform/Platform.h"
#include "framework/rtl/Log.h"
#include "framework/rtl/Monitor.h"
#include "framework/rtl/Units.h"

#include "lib/context/ContextBuffersFrameBuffers.h"

namespace quorvel {

namespace {

inline constexpr TResourceString SFailedToInitializeContext{"SFailedToInitializeContext",
                                                            "Failed to initialize context: %s"};

TCustomContextWindows* GShared = nullptr;
TThreadList<TCustomContextWindows*>* GSharedList = nullptr;
TWindowHandle GWindowHandle = nullptr;
bool GDestroying = false;
PFNWGLCREATECONTEXTATTRIBSARBPROC GCreateContextAttribsARB = nullptr;

constexpr char kFragmentPrecision[] = "precision highp   float;\r";


// Frees the objects still listed (the shared instance among them) and the list.
void FreeSharedList() {
  if (!GSharedList) return;
  std::vector<TCustomContextWindows*> objects;
  {
    std::vector<TCustomContextWindows*>& list = GSharedList->LockList();
    objects.swap(list);
    GSharedList->UnlockList();
  }
  for (TCustomContextWindows* object : objects) Free(object);
  TThreadList<TCustomContextWindows*>* list = GSharedList;
  GSharedList = nullptr;
  Free(list);
}

struct TCustomContextWindowsClass : TQuorvelContextOpenGLESClass {
  using TQuorvelContextOpenGLESClass::TQuorvelContextOpenGLESClass;

  bool Valid() const override { throw Exception("Missing method: TCustomContextWindows.Valid()"); }
  void CreateSharedContext() const override { TCustomContextWindows::CreateSharedContext(); }
  void DestroySharedContext() const override { TCustomContextWindows::DestroySharedContext(); }
  bool PlatformIsContextAvailable() const override {
    TCustomContextWindows::CreateSharedContext();
    return GShared && GShared->GetGLContext();
  }
  TContextShaderArch PlatformGetShaderArch() const override { return TContextShaderArch::GLSL; }
  int32_t PlatformMaxLightCount() const override { return 32; }
  TContextStyles PlatformStyle() const override { return {TContextStyle::RenderTargetFlipped}; }
  bool PlatformTextureCompressionAllowed() const override {
    return SharedExtensions().GetExtension("GL_ARB_texture_compression");
  }
  void PlatformSetPixelState(int32_t AWidth, int32_t AHeight, int32_t ADepth, int32_t ABytesPerPixel,
                             int32_t APitch) const override;
};

struct TContextOpenGLWindowsClass : TContextClassOf<TContextOpenGLWindows, TCustomContextWindowsClass> {
  using TContextClassOf::TContextClassOf;
  // A failed initialisation leaves the holder without a GL context: that is not valid.
  bool Valid() const override {
    TCustomContextWindows::CreateSharedContext();
    return GShared && GShared->GetGLContext();
  }
};

void TCustomContextWindowsClass::PlatformSetPixelState(int32_t AWidth, int32_t, int32_t ADepth,
                                                       int32_t ABytesPerPixel, int32_t APitch) const {
  if (!IsGLContextCurrent()) return;
  // The EXT form exists only with the EXT extension (level 2000); the ARB one has no such call.
  PushClientPixelStoreState(TQuorvelContext::DirectStateAccess() == 2000 &&
                            epoxy_has_gl_extension("GL_EXT_direct_state_access"));
  GLint depth = 0;
  glGetIntegerv(GL_CLIENT_ATTRIB_STACK_DEPTH, &depth);
  ClientAttribStackDepth = depth;
  if (ADepth <= 0 && int64_t(AWidth) * ABytesPerPixel != APitch && ABytesPerPixel == 4) {
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, APitch / 4);
  } else {
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
  }
}

void InitContextGLESWindowsUnit() { RegisterContextOpenGLWindows(); }

void FinContextGLESWindowsUnit() {
  UnregisterContextOpenGLWindows();
  FreeSharedList();
}

const TUnitRegistration ContextGLESWindowsUnit{{"Quorvel.Context.GLES.Windows",
                              {"Fw.Context3D", "Quorvel.Context", "Quorvel.Context.Extension.OpenGL"},
                              &InitContextGLESWindowsUnit,
                              &FinContextGLESWindowsUnit}};

std::string CompileShaderAs(const std::string& AClassName, int32_t AType, const TContextShaderCode& ACode) {
  TCustomContextWindows::CreateSharedContext();
  if (!GShared || !GShared->GetGLContext() || !IsGLContextCurrent()) return {};
  std::string source;
  if (uint32_t(AType) == GL_FRAGMENT_SHADER) source = kFragmentPrecision;
  source.append(ACode.begin(), ACode.end());
  const GLuint shader = glCreateShader(GLenum(AType));
  const GLchar* text = source.c_str();
  const GLint length = GLint(source.size());
  glShaderSource(shader, 1, &text, &length);
  glCompileShader(shader);
  GLint status = 0;
  glGetShaderiv(shader, GL_COMPILE_STATUS, &status);
  GLint logLength = 0;
  glGetShaderiv(shader, GL_INFO_LOG_LENGTH, &logLength);
  if (status == 0 && logLength > 0) {
    std::string log(size_t(logLength), '\0');
    glGetShaderInfoLog(shader, logLength, nullptr, log.data());
    log.resize(log.find('\0') == std::string::npos ? log.size() : log.find('\0'));
    glDeleteShader(shader);
    Log::d(log);
    RaiseContextException(GShared,
                          uint32_t(AType) == GL_VERTEX_SHADER ? &SCannotCreateVertexShader : &SCannotCreatePixelShader,
                          {AClassName});
  }
  // Nothing uses the compiled object; it is not kept.
  glDeleteShader(shader);
  if (TQuorvelContext::HasAnyErrors()) RaiseContextException(GShared, &SCannotCreateShader, {AClassName});
  return {};
}

}  // namespace

FW_CLASS_IMPL_META(TCustomContextWindows, "Quorvel.Context.GLES.Windows", TCustomContextWindowsClass)
FW_CLASS_NO_MEMBERS(TCustomContextWindows)
FW_CLASS_IMPL_META(TContextOpenGLWindows, "Quorvel.Context.GLES.Windows", TContextOpenGLWindowsClass)
FW_CLASS_NO_MEMBERS(TContextOpenGLWindows)

// --- pixel state -------------------------------------------------------------------------------

void PushClientPixelStoreState(bool AUseDefaultEXT) {
  if (AUseDefaultEXT) {
    glPushClientAttribDefaultEXT(GL_CLIENT_PIXEL_STORE_BIT);
    return;
  }
  glPushClientAttrib(GL_CLIENT_PIXEL_STORE_BIT);
  // The plain push keeps the current values; the EXT call would have reset them.
  glPixelStorei(GL_UNPACK_SWAP_BYTES, GL_FALSE);
  glPixelStorei(GL_UNPACK_LSB_FIRST, GL_FALSE);
  glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
  glPixelStorei(GL_UNPACK_IMAGE_HEIGHT, 0);
  glPixelStorei(GL_UNPACK_SKIP_ROWS, 0);
  glPixelStorei(GL_UNPACK_SKIP_PIXELS, 0);
  glPixelStorei(GL_UNPACK_SKIP_IMAGES, 0);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
}

// --- rendering context -----------------------------------------------------------------------------

HGLRC CreateRenderingContext(HDC ADC, const TContextCreationOptions& AOptions,
                             const TContextCreationSettings& ASettings) {
  PIXELFORMATDESCRIPTOR pfd{};
  pfd.nSize = 40;
  pfd.nVersion = 1;
  pfd.dwFlags = PFD_SUPPORT_OPENGL;
  const DWORD objectType = GetObjectType(ADC);
  if (objectType == 0) RaiseLastOSError();
  if (objectType == OBJ_MEMDC || objectType == OBJ_METADC || objectType == OBJ_ENHMETADC)
    pfd.dwFlags |= PFD_DRAW_TO_BITMAP;
  else
    pfd.dwFlags |= PFD_DRAW_TO_WINDOW;
  if (AOptions.Contains(TContextCreationOption::DoubleBuffered)) pfd.dwFlags |= PFD_DOUBLEBUFFER;
  if (AOptions.Contains(TContextCreationOption::SupportGDI)) pfd.dwFlags |= PFD_SUPPORT_GDI;
  if (AOptions.Contains(TContextCreationOption::Stereo)) pfd.dwFlags |= PFD_STEREO;
  pfd.iPixelType = PFD_TYPE_RGBA;
  pfd.cColorBits = BYTE(ASettings.ColorBits & 0xFF);
  pfd.cDepthBits = BYTE(ASettings.DepthBits & 0xFF);
  pfd.cStencilBits = BYTE(ASettings.StencilBits & 0xFF);
  pfd.cAccumBits = BYTE(ASettings.AccumBits & 0xFF);
  pfd.cAuxBuffers = BYTE(ASettings.AuxBuffers & 0xFF);
  pfd.iLayerType = ASettings.LayerType == 0 ? PFD_MAIN_PLANE
                                            : (ASettings.LayerType > 0 ? PFD_OVERLAY_PLANE : PFD_UNDERLAY_PLANE);

  const int format = ChoosePixelFormat(ADC, &pfd);
  if (format == 0) RaiseLastOSError();
  if (GetPixelFormat(ADC) != format && !SetPixelFormat(ADC, format, &pfd)) RaiseLastOSError();
  DescribePixelFormat(ADC, format, sizeof(pfd), &pfd);

  HGLRC temporary = wglCreateContext(ADC);
  if (!temporary) RaiseLastOSError();
  // The previous context comes back afterwards: making this one current is only for the
  // entry-point lookup.
  HDC previousDC = wglGetCurrentDC();
  HGLRC previous = wglGetCurrentContext();
  auto dropTemporary = [&]() {
    wglMakeCurrent(previousDC, previous);
    wglDeleteContext(temporary);
  };
  if (!wglMakeCurrent(ADC, temporary)) {
    const int code = GetLastError();
    dropTemporary();
    RaiseLastOSError(code);
  }

  std::vector<int> attributes{WGL_CONTEXT_MAJOR_VERSION_ARB, ASettings.MajorVersion, WGL_CONTEXT_MINOR_VERSION_ARB,
                              ASettings.MinorVersion};
  if (ASettings.IsES) {
    attributes.insert(attributes.end(), {WGL_CONTEXT_FLAGS_ARB, 0, WGL_CONTEXT_PROFILE_MASK_ARB,
                                         WGL_CONTEXT_ES2_PROFILE_BIT_EXT});
  } else if (ASettings.ForwardCompatible) {
    attributes.insert(attributes.end(), {WGL_CONTEXT_FLAGS_ARB, WGL_CONTEXT_FORWARD_COMPATIBLE_BIT_ARB});
  } else {
    attributes.insert(attributes.end(), {WGL_CONTEXT_PROFILE_MASK_ARB, WGL_CONTEXT_COMPATIBILITY_PROFILE_BIT_ARB});
  }
  attributes.push_back(0);

  GCreateContextAttribsARB =
      reinterpret_cast<PFNWGLCREATECONTEXTATTRIBSARBPROC>(wglGetProcAddress("wglCreateContextAttribsARB"));
  if (!GCreateContextAttribsARB) {
    dropTemporary();
    throw Exception(
        "Could not get function pointer adress for wglCreateContextAttribsARB - OpenGL 3.x and above not supported!");
  }
  HGLRC result = GCreateContextAttribsARB(ADC, nullptr, attributes.data());
  dropTemporary();
  if (!result) throw EAbort("Could not create the desired OpenGL rendering context!");
  return result;
}

// --- TCustomContextWindows ---------------------------------------------------------------------------

TCustomContextWindows::TCustomContextWindows() : TQuorvelContextOpenGLES(nullptr, 0, 0, TMultisample::None, false) {}

TCustomContextWindows::TCustomContextWindows(TWindowHandle AParent, int32_t AWidth, int32_t AHeight,
                                             TMultisample AMultisample, bool ADepthStencil)
    : TQuorvelContextOpenGLES(AParent, AWidth, AHeight, AMultisample, ADepthStencil) {}

TCustomContextWindows::TCustomContextWindows(TTexture* ATexture, TMultisample AMultisample, bool ADepthStencil)
    : TQuorvelContextOpenGLES(ATexture, AMultisample, ADepthStencil) {}

TCustomContextWindows::~TCustomContextWindows() {
  GDestroying = true;
  if (this != GShared) return;
  GShared = nullptr;
  wglMakeCurrent(nullptr, nullptr);
  if (FContext) wglDeleteContext(FContext);
  if (FHDC) ReleaseDC(FHWND, FHDC);
}

TCustomContextWindows* TCustomContextWindows::SharedContext() { return GShared; }

void TCustomContextWindows::SetWindowHandle(TWindowHandle pHandle) { GWindowHandle = pHandle; }

TWindowHandle TCustomContextWindows::GetWindowHandle() { return GWindowHandle; }

void TCustomContextWindows::CreateSharedContext() {
  if (GDestroying || GShared) return;
  try {
    if (!GSharedList) GSharedList = New<TThreadList<TCustomContextWindows*>>();
    GShared = new TCustomContextWindows();
    GSharedList->Add(GShared);
    PlatformInitialize();
    GShared->FHWND = GWindowHandle;
    GShared->FHDC = GetDC(GShared->FHWND);
    GShared->FContext = CreateRenderingContext(GShared->FHDC, {TContextCreationOption::DoubleBuffered},
                                               SharedContextSettings);
    if (!wglMakeCurrent(GShared->FHDC, GShared->FContext)) RaiseLastOSError();
    const TQuorvelContextOpenGLESClass* gl = TContextOpenGLWindows::StaticMeta();
    Log::d(gl->PlatformGetVendorName());
    Log::d(gl->PlatformGetRendererName());
    Log::d(gl->PlatformGetVersion());
    Log::d(gl->PlatformGetExtensionString());
    // libepoxy resolves the entry points; what remains is to make sure the driver has them.
    if (epoxy_gl_version() < 43)
      throw Exception(Format("OpenGL 4.3 is required, the driver offers %d.%d", epoxy_gl_version() / 10,
                             epoxy_gl_version() % 10));
    GLint drawBuffers = 0;
    glGetIntegerv(GL_MAX_DRAW_BUFFERS, &drawBuffers);
    ContextMaxDrawBuffers = drawBuffers;
  } catch (const Exception& e) {
    RaiseInitializationException(GShared, &SFailedToInitializeContext, {e.Message()});
  }
}

void TCustomContextWindows::DestroySharedContext() {
  TCustomContextWindows* shared = GShared;
  if (!shared) return;
  if (GSharedList) {
    std::vector<TCustomContextWindows*>& list = GSharedList->LockList();
    for (TCustomContextWindows*& entry : list)
      if (entry == shared) entry = nullptr;
    std::erase(list, nullptr);
    GSharedList->UnlockList();
  }
  Free(shared);
  GShared = nullptr;
}

std::string TCustomContextWindows::CompileShader(int32_t AType, const TContextShaderCode& ACode) {
  return CompileShaderAs(StaticMeta()->ClassName(), AType, ACode);
}

// --- TContextOpenGLWindows -------------------------------------------------------------------------

TContextOpenGLWindows::TContextOpenGLWindows(TWindowHandle AParent, int32_t AWidth, int32_t AHeight,
                                             TMultisample AMultisample, bool ADepthStencil)
    : TCustomContextWindows(AParent, AWidth, AHeight, AMultisample, ADepthStencil) {
  FSupportMS = false;
  GWindowHandle = AParent;
}

TContextOpenGLWindows::TContextOpenGLWindows(TTexture* ATexture, TMultisample AMultisample, bool ADepthStencil)
    : TCustomContextWindows(ATexture, AMultisample, ADepthStencil) {
  FSupportMS = false;
}

void TContextOpenGLWindows::AfterConstruction() {
  TCustomContextWindows::AfterConstruction();
  if (!FTexture) CreateSharedContext();
}

void TContextOpenGLWindows::DoCreateBuffer() {
  if (!GShared || !FTexture) return;
  // FSupportMS is never set, so the multisample default frame buffer is never made.
  FDefaultFrameBuf.reset(FrameBufferObjectClass->Create(this, false, TMultisample::None, nullptr));
  FDefaultFrameBuf->AttachTexture(this, FTexture, TRenderTarget::Color_0);
  if (FDepthStencil) FDefaultFrameBuf->CreateDepthBuffer(FWidth, FHeight);
  FTranslucentBuf.reset(FrameBufferObjectClass->Create(this, false, TMultisample::None, nullptr));
  if (HasAnyErrors()) throw EContext3DException(Format("error: cannot create render buffers %s", ClassName()));
}

// --- registration ------------------------------------------------------------------------------------

void RegisterContextOpenGLWindows() {
  Log::d("Registering Quorvel3D TContextOpenGLWindows context ...");
  TContextManager::RegisterContext(TContextOpenGLWindows::StaticMeta(), true);
  Log::d("Quorvel3D TContextOpenGLWindows context registered");
}

void UnregisterContextOpenGLWindows() {
  Log::d("Unregistering Quorvel3D TContextOpenGLWindows context...");
  TCustomContextWindows::DestroySharedContext();
  // Nothing may reach a class whose GL context is gone.
  TContextManager::UnregisterContext(TContextOpenGLWindows::StaticMeta());
  Log::d("Quorvel3D TContextOpenGLWindows context unregistered");
}

void ResetSharedContextForTesting() {
  TCustomContextWindows::DestroySharedContext();
  GDestroying = false;
}

}  // namespace quorvel
