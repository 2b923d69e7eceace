#include <gtest/gtest.h>

#include <epoxy/gl.h>

#include "framework/gui/Canvas.h"
#include "tests/context/ContextTestFixture.h"

namespace quorvel {
namespace {

using testkit::GLEnabled;
using testkit::TFakeGLErrors;
using testkit::TProbeContext;
using testkit::TSharedGLTest;
using S = TContextState;

using ContextSceneRollback = TSharedGLTest;

// Three scenes deep, the innermost begin pushes the render-state record. Whether it succeeds,
// is refused or raises, the outer scenes afterwards end with the states they set themselves:
// a failed begin must not leave its entry for the next end to restore.
TEST_F(ContextSceneRollback, AFailedNestedBeginLeavesNoStateEntryForALaterEnd) {
  enum class Outcome { Begins, Refused, Raises };
  const struct {
    const char* Name;
    Outcome How;
  } cases[] = {{"begins", Outcome::Begins}, {"refused", Outcome::Refused}, {"raises", Outcome::Raises}};
  TProbeContext& outer = *Context;
  TOwned<TProbeContext> middle(New<TProbeContext>(nullptr, 16, 16, TMultisample::None, true));
  TOwned<TProbeContext> inner(New<TProbeContext>(nullptr, 16, 16, TMultisample::None, true));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TContext3D::ResetCurrentStates();
    ASSERT_TRUE(outer.BeginSceneRendering());
    ASSERT_TRUE(middle->BeginSceneRendering());
    middle->SetContextState(S::csZTestOn);

    inner->AllowBegin = c.How != Outcome::Refused;
    switch (c.How) {
      case Outcome::Begins:
        ASSERT_TRUE(inner->BeginSceneRendering());
        inner->SetContextState(S::csZTestOff);
        inner->EndSceneRendering();
        // The inner end restored what the middle scene had set.
        EXPECT_TRUE(TContext3D::GetCurrentState(S::csZTestOn));
        EXPECT_TRUE(GLEnabled(GL_DEPTH_TEST));
        break;
      case Outcome::Refused:
        EXPECT_FALSE(inner->BeginSceneRendering());
        break;
      case Outcome::Raises: {
        TFakeGLErrors fake;
        TFakeGLErrors::Queue = {GL_INVALID_OPERATION};
        EXPECT_THROW(inner->BeginSceneRendering(), EContext3DException);
        break;
      }
    }
    EXPECT_EQ(inner->GetBeginSceneCount(), 0);
    EXPECT_EQ(TContext3D::GlobalBeginSceneCount(), 2);
    EXPECT_EQ(TContext3D::CurrentSceneContext(), middle.get());

    middle->SetContextState(S::csZTestOff);
    middle->EndSceneRendering();
    EXPECT_TRUE(TContext3D::GetCurrentState(S::csZTestOff));
    EXPECT_FALSE(TContext3D::GetCurrentState(S::csZTestOn));
    EXPECT_FALSE(GLEnabled(GL_DEPTH_TEST));
    outer.EndSceneRendering();
    EXPECT_EQ(TContext3D::GlobalBeginSceneCount(), 0);
    // The lock is free again: another thread can take it.
    EXPECT_TRUE(TCanvas::TryLock());
    TCanvas::Unlock();
  }
}

}  // namespace
}  // namespace quorvel
