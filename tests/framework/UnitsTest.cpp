#include "framework/rtl/Units.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework/rtl/Exceptions.h"

using namespace quorvel;

namespace {

struct TUnitSpec {
  std::string Name;
  std::vector<std::string> Needs;
};

// A private unit list whose inits and finals record themselves as "+Name" / "-Name".
class UnitsTest : public ::testing::Test {
protected:
  TUnitList FList;
  std::vector<std::string> FTrace;

  void Add(const TUnitSpec& u) {
    FList.Register({u.Name, u.Needs, [this, n = u.Name] { FTrace.push_back("+" + n); },
                    [this, n = u.Name] { FTrace.push_back("-" + n); }});
  }
  void AddAll(const std::vector<TUnitSpec>& units) {
    for (const auto& u : units) Add(u);
  }
};

std::vector<std::string> Reversed(std::vector<std::string> v) {
  return {v.rbegin(), v.rend()};
}

}  // namespace

TEST_F(UnitsTest, InitsRunNeedsFirstOtherwiseInRegistrationOrderAndFinalsInReverse) {
  struct TCase {
    const char* Name;
    std::vector<TUnitSpec> Units;
    std::vector<std::string> InitOrder;
  };
  const TCase cases[] = {
      {"no needs", {{"A", {}}, {"B", {}}, {"C", {}}}, {"A", "B", "C"}},
      {"a later need moves forward", {{"A", {"C"}}, {"B", {}}, {"C", {}}}, {"C", "A", "B"}},
      {"chain", {{"A", {"B"}}, {"B", {"C"}}, {"C", {}}}, {"C", "B", "A"}},
      {"diamond", {{"D", {"B", "C"}}, {"C", {"A"}}, {"B", {"A"}}, {"A", {}}}, {"A", "B", "C", "D"}},
      {"needs in listed order", {{"A", {"C", "B"}}, {"B", {}}, {"C", {}}}, {"C", "B", "A"}},
      {"names ignore ASCII case", {{"Quorvel.Scene", {"quorvel.defs"}}, {"Quorvel.Defs", {}}},
       {"Quorvel.Defs", "Quorvel.Scene"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TUnitList list;
    std::vector<std::string> trace;
    for (const auto& u : c.Units)
      list.Register({u.Name, u.Needs, [&trace, n = u.Name] { trace.push_back(n); },
                     [&trace, n = u.Name] { trace.push_back("~" + n); }});
    list.Initialize();
    EXPECT_EQ(trace, c.InitOrder);
    EXPECT_EQ(list.InitializedUnits(), c.InitOrder);
    trace.clear();
    list.Finalize();
    std::vector<std::string> expected;
    for (const auto& n : Reversed(c.InitOrder)) expected.push_back("~" + n);
    EXPECT_EQ(trace, expected);
    EXPECT_TRUE(list.InitializedUnits().empty());
  }
}

TEST_F(UnitsTest, InitializeRunsEachInitOnceAndPicksUpLaterRegistrations) {
  AddAll({{"A", {}}, {"B", {"A"}}});
  FList.Initialize();
  FList.Initialize();
  EXPECT_EQ(FTrace, (std::vector<std::string>{"+A", "+B"}));
  Add({"C", {"A"}});  // needs a unit that is already initialised
  FList.Initialize();
  EXPECT_EQ(FTrace, (std::vector<std::string>{"+A", "+B", "+C"}));
  FTrace.clear();
  FList.Finalize();
  FList.Finalize();
  EXPECT_EQ(FTrace, (std::vector<std::string>{"-C", "-B", "-A"}));
}

TEST_F(UnitsTest, BadListsRaiseBeforeAnyInitRuns) {
  struct TCase {
    const char* Name;
    std::vector<TUnitSpec> Units;
    std::vector<std::string> MessageParts;
  };
  const TCase cases[] = {
      {"unknown need", {{"A", {}}, {"B", {"Missing"}}}, {"\"B\"", "\"Missing\"", "not registered"}},
      {"cycle", {{"A", {"B"}}, {"B", {"C"}}, {"C", {"A"}}},
       {"cycle", "\"A\" -> \"B\" -> \"C\" -> \"A\""}},
      {"needs itself", {{"A", {"A"}}}, {"cycle", "\"A\" -> \"A\""}},
      {"registered twice", {{"A", {}}, {"a", {}}}, {"\"a\"", "registered twice"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TUnitList list;
    bool anyInit = false;
    for (const auto& u : c.Units) list.Register({u.Name, u.Needs, [&] { anyInit = true; }, {}});
    try {
      list.Initialize();
      ADD_FAILURE() << "no exception";
    } catch (const EInvalidOperation& e) {
      for (const auto& part : c.MessageParts)
        EXPECT_NE(e.Message().find(part), std::string::npos) << e.Message();
    }
    EXPECT_FALSE(anyInit);
    EXPECT_TRUE(list.InitializedUnits().empty());
  }
}

TEST_F(UnitsTest, FailingInitKeepsTheUnitsBeforeItForFinalize) {
  Add({"A", {}});
  FList.Register({"B", {"A"}, [] { throw EInvalidOperation("B cannot start"); }, [this] {
                    FTrace.push_back("-B");
                  }});
  Add({"C", {"B"}});
  EXPECT_THROW(FList.Initialize(), EInvalidOperation);
  EXPECT_EQ(FList.InitializedUnits(), (std::vector<std::string>{"A"}));
  FList.Finalize();
  EXPECT_EQ(FTrace, (std::vector<std::string>{"+A", "-A"}));
}

TEST_F(UnitsTest, FinalizeRunsEveryFinalAndRaisesTheFirstFailure) {
  FList.Register({"A", {}, {}, [this] { FTrace.push_back("-A"); }});
  FList.Register({"B", {}, {}, [] { throw EInvalidOperation("B failed"); }});
  FList.Register({"C", {}, {}, [] { throw EConvertError("C failed"); }});
  FList.Register({"D", {}, {}, {}});  // neither init nor final
  FList.Initialize();
  try {
    FList.Finalize();
    ADD_FAILURE() << "no exception";
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "C failed");  // finals run D, C, B, A: C fails first
  }
  EXPECT_EQ(FTrace, (std::vector<std::string>{"-A"}));
  EXPECT_TRUE(FList.InitializedUnits().empty());
}

TEST(UnitsGlobalTest, TestMainHasInitialisedEveryRegisteredUnit) {
  EXPECT_EQ(Units().InitializedUnits().size(), Units().RegisteredUnits().size());
}
