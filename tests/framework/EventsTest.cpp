// Events made from methods compare as (method, object); plain handlers compare with nothing.
#include <gtest/gtest.h>

#include <string>

#include "framework/classes/Events.h"
#include "framework/gui/Control.h"

namespace quorvel {
namespace {

struct THandlers {
  std::string Log;
  void A(TObject*) { Log += "A"; }
  void B(TObject*) { Log += "B"; }
  void Wheel(TObject*, TShiftState, int32_t Delta, bool& Handled) {
    Log += std::to_string(Delta);
    Handled = true;
  }
};

TEST(Events, MethodEventsAreTheSameHandlerOnlyForTheSameMethodAndObject) {
  THandlers one, two;
  const TNotifyEvent oneA = TNotifyEvent::Method(&one, &THandlers::A);
  TNotifyEvent plain;
  plain = [](TObject*) {};
  TNotifyEvent reassigned = TNotifyEvent::Method(&one, &THandlers::A);
  reassigned = [](TObject*) {};
  struct Case {
    const char* what;
    TNotifyEvent other;
    bool same;
  };
  const Case cases[] = {
      {"same method, same object", TNotifyEvent::Method(&one, &THandlers::A), true},
      {"a copy", oneA, true},
      {"other method", TNotifyEvent::Method(&one, &THandlers::B), false},
      {"other object", TNotifyEvent::Method(&two, &THandlers::A), false},
      {"plain handler", plain, false},
      {"method replaced by a plain handler", reassigned, false},
      {"unassigned", TNotifyEvent(), false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(oneA.SameMethod(c.other), c.same) << c.what;
    EXPECT_EQ(c.other.SameMethod(oneA), c.same) << c.what;
  }
  EXPECT_FALSE(plain.SameMethod(plain)) << "a lambda has no identity";
  EXPECT_FALSE(TNotifyEvent().SameMethod(TNotifyEvent()));

  // Calls reach the method, reference parameters included.
  oneA(nullptr);
  TMouseWheelEvent wheel = TMouseWheelEvent::Method(&two, &THandlers::Wheel);
  bool handled = false;
  wheel(nullptr, {}, 120, handled);
  EXPECT_EQ(one.Log, "A");
  EXPECT_EQ(two.Log, "120");
  EXPECT_TRUE(handled);
}

}  // namespace
}  // namespace quorvel
