#include <gtest/gtest.h>

#include <epoxy/gl.h>

#include <set>
#include <string>

#include "framework/rtl/Log.h"
#include "lib/context/opengl/ContextExtensionOpenGL.h"
#include "lib/context/opengl/ContextMemoryOpenGL.h"
#include "tests/context/ContextTestFixture.h"

namespace quorvel {
namespace {

using testkit::GLInt;
using testkit::UseSharedContext;

std::string GLStr(GLenum AName) { return reinterpret_cast<const char*>(glGetString(AName)); }

TOwned<TTexture> MakeTexture(int32_t AWidth, int32_t AHeight) {
  TOwned<TTexture> texture(New<TTexture>());
  texture->SetSize(AWidth, AHeight);
  return texture;
}

TEST(SharedContextRegistration, LogsBothLinesAndBecomesTheDefaultClass) {
  TLogCapture log;
  RegisterContextOpenGLWindows();
  const std::vector<std::string> expected{"Registering Quorvel3D TContextOpenGLWindows context ...",
                                          "Quorvel3D TContextOpenGLWindows context registered"};
  EXPECT_EQ(log.Lines(), expected);
  EXPECT_EQ(TContextManager::DefaultContextClass(), TContextOpenGLWindows::StaticMeta());
  EXPECT_EQ(TQuorvelContext::PlatformClass(), TContextOpenGLWindows::StaticMeta());
}

TEST(SharedContext, TextureContextsShareOneGLContextThatOutlivesThem) {
  UseSharedContext();
  TCustomContextWindows* shared = TCustomContextWindows::SharedContext();
  const HGLRC gl = shared->GetGLContext();
  TOwned<TTexture> t1 = MakeTexture(8, 8), t2 = MakeTexture(4, 4);
  TOwned<TContext3D> c1(TContextManager::CreateFromTexture(t1.get(), TMultisample::None, true));
  TOwned<TContext3D> c2(TContextManager::CreateFromTexture(t2.get(), TMultisample::TwoSamples, false));
  ASSERT_TRUE(c1->Is<TContextOpenGLWindows>());
  EXPECT_EQ(TCustomContextWindows::SharedContext(), shared);
  EXPECT_EQ(shared->GetGLContext(), gl);
  EXPECT_EQ(c1->As<TQuorvelContext>()->GetCurrentTexture(), t1.get());
  EXPECT_NE(c1->As<TQuorvelContext>()->GetRenderPasses(), nullptr);
  c1.reset();
  EXPECT_EQ(TCustomContextWindows::SharedContext(), shared);
  EXPECT_EQ(wglGetCurrentContext(), gl);
  EXPECT_TRUE(TContextOpenGLWindows::StaticMeta()->Valid());
  c2.reset();
  EXPECT_EQ(wglGetCurrentContext(), gl);
}

TEST(SharedContext, AWindowContextHasNoRegistryAndNoTexture) {
  UseSharedContext();
  TOwned<TQuorvelContext> window(New<TContextOpenGLWindows>(nullptr, 32, 16, TMultisample::None, false));
  EXPECT_EQ(window->GetRenderPasses(), nullptr);
  EXPECT_EQ(window->GetCurrentTexture(), nullptr);
  EXPECT_EQ(window->GetDefaultFrameBuf(), nullptr);
  EXPECT_FLOAT_EQ(window->GetNearPlane(), 0.1f);
  EXPECT_FLOAT_EQ(window->GetFarPlane(), 10000.0f);
}

TEST(Capabilities, LimitsAndStringsAreWhatGLReports) {
  UseSharedContext();
  struct TCase {
    const char* Name;
    int32_t (*Answer)();
    GLenum Query;
  };
  const TCase cases[] = {
      {"MaxTextureSize", [] { return TContextOpenGLWindows::StaticMeta()->MaxTextureSize(); }, GL_MAX_TEXTURE_SIZE},
      {"MaxTexture3DSize", &TQuorvelContext::MaxTexture3DSize, GL_MAX_3D_TEXTURE_SIZE},
      {"PlatformTextureUnitCount",
       [] { return TQuorvelContext::PlatformClass()->PlatformTextureUnitCount(); },
       GL_MAX_COMBINED_TEXTURE_IMAGE_UNITS},
      {"MaxTextureImageUnits", &TQuorvelContext::MaxTextureImageUnits, GL_MAX_TEXTURE_IMAGE_UNITS},
      {"MaxVertexShaderUniformBlocks", &TQuorvelContext::MaxVertexShaderUniformBlocks, GL_MAX_VERTEX_UNIFORM_BLOCKS},
      {"MaxFragmentShaderUniformBlocks", &TQuorvelContext::MaxFragmentShaderUniformBlocks,
       GL_MAX_FRAGMENT_UNIFORM_BLOCKS},
      {"MaxUniformBlockSize", &TQuorvelContext::MaxUniformBlockSize, GL_MAX_UNIFORM_BLOCK_SIZE},
      {"MaxDrawBuffers", &TQuorvelContext::MaxDrawBuffers, GL_MAX_DRAW_BUFFERS},
      {"ContextMaxDrawBuffers", [] { return ContextMaxDrawBuffers; }, GL_MAX_DRAW_BUFFERS},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_GT(c.Answer(), 0);
    EXPECT_EQ(c.Answer(), GLInt(c.Query));
  }
  EXPECT_EQ(TQuorvelContext::GetVendorName(), GLStr(GL_VENDOR));
  EXPECT_EQ(TQuorvelContext::GetRendererName(), GLStr(GL_RENDERER));
  EXPECT_EQ(TQuorvelContext::GetVersion(), GLStr(GL_VERSION));
  EXPECT_EQ(TQuorvelContext::GetExtensionString(), GLStr(GL_EXTENSIONS));
  EXPECT_FALSE(TQuorvelContext::HasAnyErrors());
}

TEST(Capabilities, FixedAnswersOfTheInstalledClasses) {
  UseSharedContext();
  const TContextClass* cls = TContextOpenGLWindows::StaticMeta();
  EXPECT_EQ(cls->TextureUnitCount(), 8);
  EXPECT_EQ(cls->MaxLightCount(), 32);
  EXPECT_EQ(cls->PixelFormat(), TPixelFormat::BGRA);
  EXPECT_EQ(cls->Style(), TContextStyles{TContextStyle::RenderTargetFlipped});
  EXPECT_EQ(TQuorvelContext::GetShaderArch(), TContextShaderArch::GLSL);
  TOwned<TQuorvelContextOpenGLES> window(New<TContextOpenGLWindows>(nullptr, 4, 4, TMultisample::None, false));
  EXPECT_EQ(window->GetIndexBufferSupport(), TContext3D::TIndexBufferSupport::Int32);
  EXPECT_EQ(TQuorvelContext::TextureCompressionAllowed(),
            epoxy_has_gl_extension("GL_ARB_texture_compression"));

  const int expectedLevel = epoxy_has_gl_extension("GL_EXT_direct_state_access")   ? 2000
                            : epoxy_has_gl_extension("GL_ARB_direct_state_access") ? 1000
                                                                                    : 1;
  EXPECT_EQ(TQuorvelContext::DirectStateAccess(), expectedLevel);

  try {
    TCustomContextWindows::StaticMeta()->Valid();
    ADD_FAILURE() << "the holder class answered Valid";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "Missing method: TCustomContextWindows.Valid()");
  }

  const auto* gl = TContextOpenGLWindows::StaticMeta();
  const std::pair<int32_t, int32_t> units[] = {{0, 0x84C0}, {-1, 0x84C0}, {32, 0x84C0}, {1, 0x84C1}, {31, 0x84DF}};
  for (const auto& [index, unit] : units) EXPECT_EQ(gl->GetTextureByTextureIndex(index), unit) << index;
}

TEST(Extensions, SharedListHoldsEveryExtensionGLEnumerates) {
  UseSharedContext();
  const TExtensions& list = SharedExtensions();
  GLint count = 0;
  glGetIntegerv(GL_NUM_EXTENSIONS, &count);
  ASSERT_GT(count, 0);
  std::set<std::string> names;
  for (GLint i = 0; i < count; ++i) names.insert(reinterpret_cast<const char*>(glGetStringi(GL_EXTENSIONS, GLuint(i))));
  EXPECT_EQ(size_t(list.GetExtensions().GetCount()), names.size());
  for (const std::string& name : names) EXPECT_TRUE(list.GetExtension(name)) << name;
  // Case does not matter.
  const std::string first = *names.begin();
  std::string lower = first;
  for (char& ch : lower) ch = char(std::tolower(static_cast<unsigned char>(ch)));
  EXPECT_TRUE(list.GetExtension(lower));
  EXPECT_FALSE(list.GetExtension("GL_QUORVEL_no_such_extension"));
  EXPECT_EQ(list.GetRenderer(), UpperCase(GLStr(GL_RENDERER)));
}

TEST(Extensions, SplitAtSpacesWithoutAnEmptyLastEntry) {
  struct TCase {
    const char* Text;
    std::vector<std::string> Expected;
  };
  const TCase cases[] = {
      {"GL_a GL_b GL_c", {"GL_a", "GL_b", "GL_c"}},
      {"GL_a GL_b ", {"GL_a", "GL_b"}},
      {"GL_a", {"GL_a"}},
      {"", {}},
  };
  for (const TCase& c : cases) {
    TOwned<TStringList> list(New<TStringList>());
    SplitExtensionString(c.Text, *list);
    std::vector<std::string> got;
    for (int i = 0; i < list->GetCount(); ++i) got.push_back(list->Get(i));
    EXPECT_EQ(got, c.Expected) << c.Text;
  }
}

TEST(GPUMemory, MissingExtensionAnswersZeroWithoutAPendingError) {
  UseSharedContext();
  const bool nvx = epoxy_has_gl_extension("GL_NVX_gpu_memory_info");
  const int64_t total = TQuorvelMemoryManager::GetTotalMemory();
  const int64_t current = TQuorvelMemoryManager::GetCurrentMemory();
  EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
  if (!nvx) {
    EXPECT_EQ(total, 0);
    EXPECT_EQ(current, 0);
  }
  // Without the OpenGL class installed the base class's abstract answer shows.
  const TQuorvelMemoryManagerClass* installed = SetMemoryManagerClass(nullptr);
  EXPECT_THROW(TQuorvelMemoryManager::GetTotalMemory(), EAbstractError);
  SetMemoryManagerClass(installed);
}

TEST(PixelState, UnpackAlignmentAndRowLengthFollowThePitch) {
  UseSharedContext();
  struct TCase {
    int32_t Width, Depth, BytesPerPixel, Pitch;
    GLint Alignment, RowLength;
  };
  const TCase cases[] = {
      {16, 0, 4, 64, 1, 0},   // tight rows
      {16, 0, 4, 80, 4, 20},  // padded 32-bit rows
      {16, 0, 3, 64, 1, 0},   // padded rows of another size
      {16, 2, 4, 80, 1, 0},   // volumes
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Pitch);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 2);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 7);
    const GLint depthBefore = GLInt(GL_CLIENT_ATTRIB_STACK_DEPTH);
    TQuorvelContext::SetPixelState(c.Width, 4, c.Depth, c.BytesPerPixel, c.Pitch);
    EXPECT_EQ(ClientAttribStackDepth, depthBefore + 1);
    EXPECT_EQ(GLInt(GL_UNPACK_ALIGNMENT), c.Alignment);
    EXPECT_EQ(GLInt(GL_UNPACK_ROW_LENGTH), c.RowLength);
    glPopClientAttrib();
    EXPECT_EQ(GLInt(GL_UNPACK_ALIGNMENT), 2);
    EXPECT_EQ(GLInt(GL_UNPACK_ROW_LENGTH), 7);
  }
  EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

TEST(PixelState, PlainPushResetsTheUnpackStateAsTheDefaultPushDoes) {
  UseSharedContext();
  const bool haveExt = epoxy_has_gl_extension("GL_EXT_direct_state_access");
  for (bool useExt : {false, true}) {
    if (useExt && !haveExt) continue;
    SCOPED_TRACE(useExt);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 9);
    glPixelStorei(GL_UNPACK_SKIP_ROWS, 3);
    glPixelStorei(GL_UNPACK_SKIP_PIXELS, 2);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    PushClientPixelStoreState(useExt);
    EXPECT_EQ(GLInt(GL_UNPACK_ROW_LENGTH), 0);
    EXPECT_EQ(GLInt(GL_UNPACK_SKIP_ROWS), 0);
    EXPECT_EQ(GLInt(GL_UNPACK_SKIP_PIXELS), 0);
    EXPECT_EQ(GLInt(GL_UNPACK_ALIGNMENT), 4);
    glPopClientAttrib();
    EXPECT_EQ(GLInt(GL_UNPACK_ROW_LENGTH), 9);
    EXPECT_EQ(GLInt(GL_UNPACK_SKIP_ROWS), 3);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    glPixelStorei(GL_UNPACK_SKIP_ROWS, 0);
    glPixelStorei(GL_UNPACK_SKIP_PIXELS, 0);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
  }
  EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

TEST(CompileShader, CompilesOrRaisesTheFrameworkMessageForItsKind) {
  UseSharedContext();
  const TContextShaderCode good = TContextShaderSource::CodeFromText("void main() { gl_Position = vec4(0.0); }");
  EXPECT_EQ(TCustomContextWindows::CompileShader(GL_VERTEX_SHADER, good), "");
  const TContextShaderCode bad = TContextShaderSource::CodeFromText("void main() { undeclared = 1; }");
  struct TCase {
    GLenum Type;
    const char* Message;
  };
  const TCase cases[] = {
      {GL_VERTEX_SHADER, "Vertex-Schattierer für 'TCustomContextWindows' kann nicht erstellt werden."},
      {GL_FRAGMENT_SHADER, "Pixel-Schattierer für 'TCustomContextWindows' kann nicht erstellt werden."},
  };
  for (const TCase& c : cases) {
    TLogCapture log;
    try {
      TCustomContextWindows::CompileShader(int32_t(c.Type), bad);
      ADD_FAILURE() << "compiled";
    } catch (const EContext3DException& e) {
      EXPECT_EQ(e.Message(), c.Message);
    }
    // The compiler's log is written first. (Desktop GLSL without a version line rejects the
    // precision line a fragment shader gets in front, so that kind fails at line 1.)
    EXPECT_TRUE(log.Contains(c.Type == GL_VERTEX_SHADER ? "undeclared" : "0:1(")) << ::testing::PrintToString(log.Lines());
    EXPECT_TRUE(log.Contains(std::string("[Context Exception]: ") + c.Message));
  }
  EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

// These two tests take the shared context down and bring it back.
TEST(SharedContextLifecycle, FailedInitialisationIsNotValidAndRaisesItsMessage) {
  UseSharedContext();
  ResetSharedContextForTesting();
  const TWindowHandle stored = TCustomContextWindows::GetWindowHandle();
  TCustomContextWindows::SetWindowHandle(reinterpret_cast<TWindowHandle>(uintptr_t(0x7ffffff0)));
  std::vector<TContextMessageKind> kinds;
  ContextMessageCallback = [&](TObject*, TContextMessageKind AKind, const std::string&) { kinds.push_back(AKind); };
  {
    TLogCapture log;
    try {
      TCustomContextWindows::CreateSharedContext();
      ADD_FAILURE() << "made a context on a window that does not exist";
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message().rfind("Failed to initialize context: ", 0), 0u) << e.Message();
    }
    EXPECT_TRUE(log.Contains("[Initialization Exception]: Failed to initialize context: "));
  }
  ContextMessageCallback = nullptr;
  ASSERT_EQ(kinds.size(), 1u);
  EXPECT_EQ(kinds[0], TContextMessageKind::cmkInitialization);
  ASSERT_NE(TCustomContextWindows::SharedContext(), nullptr);
  EXPECT_EQ(TCustomContextWindows::SharedContext()->GetGLContext(), nullptr);
  EXPECT_FALSE(TContextOpenGLWindows::StaticMeta()->Valid());
  EXPECT_FALSE(TQuorvelContext::IsContextAvailable());
  EXPECT_EQ(TQuorvelContext::PlatformClass()->PlatformMaxTextureSize(), 0);

  TOwned<TTexture> texture = MakeTexture(4, 4);
  try {
    TOwned<TContext3D> context(New<TContextOpenGLWindows>(texture.get(), TMultisample::None, false));
    ADD_FAILURE() << "made a texture context without GL";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "TQuorvelContext.CreateFromTexture failed - invalid context");
  }

  TCustomContextWindows::SetWindowHandle(stored);
  ResetSharedContextForTesting();
  UseSharedContext();
}

TEST(SharedContextLifecycle, UnregisteringFreesTheGLContextOnceForGood) {
  UseSharedContext();
  TCustomContextWindows* shared = TCustomContextWindows::SharedContext();
  HDC dc = shared->GetHDC();
  HGLRC gl = shared->GetGLContext();
  {
    TLogCapture log;
    UnregisterContextOpenGLWindows();
    UnregisterContextOpenGLWindows();
    const std::vector<std::string> once{"Unregistering Quorvel3D TContextOpenGLWindows context...",
                                        "Quorvel3D TContextOpenGLWindows context unregistered"};
    std::vector<std::string> twice = once;
    twice.insert(twice.end(), once.begin(), once.end());
    EXPECT_EQ(log.Lines(), twice);
  }
  EXPECT_EQ(TCustomContextWindows::SharedContext(), nullptr);
  EXPECT_EQ(wglGetCurrentContext(), nullptr);
  EXPECT_FALSE(wglMakeCurrent(dc, gl));  // deleted
  EXPECT_NE(TContextManager::DefaultContextClass(), TContextOpenGLWindows::StaticMeta());
  // Once freed it is not made again.
  EXPECT_FALSE(TContextOpenGLWindows::StaticMeta()->Valid());
  EXPECT_EQ(TCustomContextWindows::SharedContext(), nullptr);

  ResetSharedContextForTesting();
  {
    TLogCapture quiet;
    RegisterContextOpenGLWindows();
  }
  UseSharedContext();
}

}  // namespace
}  // namespace quorvel
