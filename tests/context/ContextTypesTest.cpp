#include <gtest/gtest.h>

#include <epoxy/gl.h>

#include "framework/rtl/Log.h"
#include "lib/context/Context.h"
#include "tests/context/ContextTestFixture.h"

namespace quorvel {
namespace {

using testkit::TFakeGLErrors;

struct TCallbackRecord {
  int Calls = 0;
  TObject* Sender = nullptr;
  TContextMessageKind Kind = TContextMessageKind::cmkContext;
  std::string Text;
};

// Installs a recording ContextMessageCallback for its lifetime.
class TCallbackScope {
public:
  TCallbackScope() {
    ContextMessageCallback = [this](TObject* ASender, TContextMessageKind AKind, const std::string& AText) {
      ++Record.Calls;
      Record.Sender = ASender;
      Record.Kind = AKind;
      Record.Text = AText;
    };
  }
  ~TCallbackScope() { ContextMessageCallback = nullptr; }
  TCallbackRecord Record;
};

inline constexpr TResourceString STestMessage{"STestMessage", "failure in %s: %d"};

TEST(ContextErrorRoutines, LogCallbackAndRaiseWithTheirPrefixKindAndClass) {
  TOwned<TObject> sender(New<TObject>());
  struct TCase {
    const char* Prefix;
    TContextMessageKind Kind;
    bool ContextClass;
    void (*Raise)(TObject*);
  };
  const TCase cases[] = {
      {"[Context Exception]: ", TContextMessageKind::cmkContext, true,
       [](TObject* s) { RaiseContextException(s, &STestMessage, {"Draw", 7}); }},
      {"[Initialization Exception]: ", TContextMessageKind::cmkInitialization, false,
       [](TObject* s) { RaiseInitializationException(s, &STestMessage, {"Draw", 7}); }},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Prefix);
    for (bool withCallback : {false, true}) {
      TLogCapture log;
      std::unique_ptr<TCallbackScope> callback;
      if (withCallback) callback = std::make_unique<TCallbackScope>();
      try {
        c.Raise(sender.get());
        FAIL() << "no exception";
      } catch (const EContext3DException& e) {
        EXPECT_TRUE(c.ContextClass);
        EXPECT_EQ(e.Message(), "failure in Draw: 7");
      } catch (const Exception& e) {
        EXPECT_FALSE(c.ContextClass);
        EXPECT_STREQ(e.ClassName(), "Exception");
        EXPECT_EQ(e.Message(), "failure in Draw: 7");
      }
      const std::string line = std::string(c.Prefix) + "failure in Draw: 7";
      ASSERT_EQ(log.Lines().size(), 1u);
      EXPECT_EQ(log.Lines()[0], line);
      if (withCallback) {
        EXPECT_EQ(callback->Record.Calls, 1);
        EXPECT_EQ(callback->Record.Sender, sender.get());
        EXPECT_EQ(callback->Record.Kind, c.Kind);
        EXPECT_EQ(callback->Record.Text, line);
      }
    }
  }
}

TEST(ContextErrorRoutines, FrameworkTextsAndArgumentRules) {
  TLogCapture log;
  // German framework texts pass through unchanged; extra arguments are dropped.
  try {
    RaiseContextException(nullptr, &SErrorInContextMethod, {"DoClear", 5});
    FAIL();
  } catch (const EContext3DException& e) {
    EXPECT_EQ(e.Message(), "Fehler im Kontext: Methode='DoClear'.");
  }
  // Too few arguments: the run-time's format error instead of the context exception.
  EXPECT_THROW(RaiseContextException(nullptr, &STestMessage, {"only"}), EConvertError);
}

TEST(ShaderCompileErrors, AnnotateLogLinesWithTheSourceLineTheyName) {
  const std::string source = "line1\r\nline2\nline3\rline4\n";
  struct TCase {
    const char* Log;
    const char* Expected;
  };
  const TCase cases[] = {
      {"ERROR: 0:3: x", "\r\nERROR: 0:3: x\r\n\r\n\tline3\r\n\r\n"},
      // Mesa's form names no line in the third ':' part.
      {"0:3(7): error: y", "\r\n0:3(7): error: y\r\n\r\n"},
      {"ERROR: 0:4: last", "\r\nERROR: 0:4: last\r\n\r\n\tline4\r\n\r\n"},
      {"ERROR: 0:5: beyond", "\r\nERROR: 0:5: beyond\r\n\r\n"},
      {"ERROR: 0:0: before", "\r\nERROR: 0:0: before\r\n\r\n\tline1\r\n\r\n"},
      // Only LF separates log lines; a CR stays in its line, and empty lines are skipped.
      {"a\r\n\nERROR: 0:2: z", "\r\na\r\r\n\r\n\r\nERROR: 0:2: z\r\n\r\n\tline2\r\n\r\n"},
      {"", ""},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Log);
    EXPECT_EQ(AnnotateShaderLog(c.Log, source), c.Expected);
  }
}

TEST(ShaderCompileErrors, RaiseOnlyAtDesignTimeAndAlwaysLogAndCall) {
  TOwned<TObject> sender(New<TObject>());
  struct TCase {
    bool DesignTime;
    bool RaiseErrors;
    bool Raises;
  };
  const TCase cases[] = {{false, true, false}, {true, true, true}, {true, false, false}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.DesignTime << c.RaiseErrors);
    RaiseShaderCompileErrors = c.RaiseErrors;
    TLogCapture log;
    TCallbackScope callback;
    const std::string expected = "Cannot create Fragment-Shader for 'TMyClass':\r\n\r\nERROR: 0:1: bad\r\n\r\n\tvoid main\r\n\r\n";
    bool raised = false;
    try {
      RaiseShaderCompileException(sender.get(), c.DesignTime, &SCannotCreateFragmentShaderFor,
                                  {"TMyClass", "ERROR: 0:1: bad", "void main"});
    } catch (const EContext3DException& e) {
      raised = true;
      EXPECT_EQ(e.Message(), expected);
    }
    EXPECT_EQ(raised, c.Raises);
    ASSERT_EQ(log.Lines().size(), 1u);
    EXPECT_EQ(log.Lines()[0], "[Shader Compile Exception]: " + expected);
    EXPECT_EQ(callback.Record.Kind, TContextMessageKind::cmkShaderCompile);
    EXPECT_EQ(callback.Record.Sender, sender.get());
  }
  RaiseShaderCompileErrors = true;
}

TEST(ShaderCompileErrors, EmptyLogStillNamesTheClass) {
  TLogCapture log;
  RaiseShaderCompileException(nullptr, false, &SCannotCreateVertexShaderFor, {"TOwner", "", "src"});
  ASSERT_EQ(log.Lines().size(), 1u);
  EXPECT_EQ(log.Lines()[0], "[Shader Compile Exception]: Cannot create Vertex-Shader for 'TOwner':\r\n");
}

TEST(GLErrorDrain, StopsAfterSixteenAndOrsTheCodes) {
  TFakeGLErrors fake;
  EXPECT_EQ(DrainGLErrors(), 0u);
  EXPECT_EQ(TFakeGLErrors::Calls, 1);

  TFakeGLErrors::Queue.assign(20, GL_INVALID_VALUE);
  TFakeGLErrors::Calls = 0;
  EXPECT_EQ(DrainGLErrors(), uint32_t(GL_INVALID_VALUE));
  EXPECT_EQ(TFakeGLErrors::Calls, 16);
  EXPECT_EQ(TFakeGLErrors::Queue.size(), 4u);
  EXPECT_TRUE(HasGLError());
  EXPECT_TRUE(TFakeGLErrors::Queue.empty());
  EXPECT_FALSE(HasGLError());

  TFakeGLErrors::Queue = {GL_INVALID_ENUM, GL_INVALID_OPERATION};
  EXPECT_EQ(DrainGLErrors(), 0x0502u);
}

TEST(BlendEnumerations, MapToGLWithDefaultsForUnknownValues) {
  const std::pair<TBlendFactor, uint32_t> factors[] = {
      {TBlendFactor::bfZero, GL_ZERO},
      {TBlendFactor::bfOne, GL_ONE},
      {TBlendFactor::bfSrcColor, GL_SRC_COLOR},
      {TBlendFactor::bfOneMinusSrcColor, GL_ONE_MINUS_SRC_COLOR},
      {TBlendFactor::bfSrcAlpha, GL_SRC_ALPHA},
      {TBlendFactor::bfOneMinusSrcAlpha, GL_ONE_MINUS_SRC_ALPHA},
      {TBlendFactor::bfDstAlpha, GL_DST_ALPHA},
      {TBlendFactor::bfOneMinusDstAlpha, GL_ONE_MINUS_DST_ALPHA},
      {TBlendFactor::bfDstColor, GL_DST_COLOR},
      {TBlendFactor::bfOneMinusDstColor, GL_ONE_MINUS_DST_COLOR},
      {TBlendFactor::bfSrcAlphaSaturate, GL_SRC_ALPHA_SATURATE},
      {static_cast<TBlendFactor>(77), GL_ONE},
  };
  for (const auto& [factor, gl] : factors) EXPECT_EQ(BlendFactorToGL(factor), gl) << int(factor);
  const std::pair<TBlendEquationFunc, uint32_t> equations[] = {
      {TBlendEquationFunc::befAdd, GL_FUNC_ADD},
      {TBlendEquationFunc::befSubtract, GL_FUNC_SUBTRACT},
      {TBlendEquationFunc::befReverseSubtract, GL_FUNC_REVERSE_SUBTRACT},
      {TBlendEquationFunc::befMin, GL_MIN},
      {TBlendEquationFunc::befMax, GL_MAX},
      {static_cast<TBlendEquationFunc>(9), GL_FUNC_ADD},
  };
  for (const auto& [func, gl] : equations) EXPECT_EQ(BlendEquationToGL(func), gl) << int(func);
}

TEST(BlendSettings, ConstructorsFillTheSevenFields) {
  using F = TBlendFactor;
  using E = TBlendEquationFunc;
  EXPECT_EQ(TBlendSetting::Create(), (TBlendSetting{true, E::befAdd, E::befAdd, F::bfOne, F::bfOneMinusSrcColor,
                                                    F::bfOne, F::bfOneMinusSrcAlpha}));
  EXPECT_EQ(TBlendSetting::Create(false).Enabled, false);
  EXPECT_EQ(TBlendSetting::CreateForFramework(),
            (TBlendSetting{true, E::befAdd, E::befAdd, F::bfOne, F::bfOneMinusSrcAlpha, F::bfOne,
                           F::bfOneMinusSrcAlpha}));
  EXPECT_EQ(TBlendSetting::Create(true, E::befMax, F::bfSrcAlpha, F::bfDstColor),
            (TBlendSetting{true, E::befMax, E::befMax, F::bfSrcAlpha, F::bfDstColor, F::bfSrcAlpha, F::bfDstColor}));
  const TPlaneF plane = TPlaneF::Create(1.0, 2.0, 3.0, 4.0);
  EXPECT_EQ(plane.GetPointer()[3], 4.0f);
  EXPECT_EQ(plane.Distance(), 4.0f);
}

}  // namespace
}  // namespace quorvel
