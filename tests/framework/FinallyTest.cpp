#include "framework/rtl/Finally.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "framework/rtl/Log.h"

namespace quorvel {
namespace {

class TRaisingOnFree : public TObject {
public:
  void BeforeDestruction() override { throw Exception("boom"); }
};

TEST(FinallyTest, RunsOnNormalExitAndOnException) {
  int runs = 0;
  { auto f = Finally([&] { ++runs; }); }
  EXPECT_EQ(runs, 1);
  EXPECT_THROW(
      {
        auto f = Finally([&] { ++runs; });
        throw Exception("x");
      },
      Exception);
  EXPECT_EQ(runs, 2);
}

TEST(FinallyTest, FailureWhileUnwindingIsLoggedAndFirstExceptionWins) {
  TLogCapture log;
  try {
    auto f = Finally([] { throw Exception("cleanup"); });
    throw std::runtime_error("first");
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "first");
  }
  EXPECT_TRUE(log.Contains("<ERROR> cleanup failed while unwinding: cleanup"));
}

TEST(FinallyTest, FailureOnNormalPathRaises) {
  EXPECT_THROW({ auto f = Finally([] { throw Exception("cleanup"); }); }, Exception);
}

TEST(FinallyTest, DismissAndRunOnce) {
  int runs = 0;
  {
    auto f = Finally([&] { ++runs; });
    f.Run();
    f.Run();
  }
  EXPECT_EQ(runs, 1);
  {
    auto f = Finally([&] { ++runs; });
    f.Dismiss();
  }
  EXPECT_EQ(runs, 1);
}

TEST(FinallyTest, FreeQuietlyLogsAndNils) {
  TLogCapture log;
  TObject* p = new TRaisingOnFree();
  FreeQuietlyAndNil(p, "test object");
  EXPECT_EQ(p, nullptr);
  EXPECT_TRUE(log.Contains("<ERROR> failed to free test object: boom"));
  FreeQuietly(nullptr, "nothing");
  EXPECT_EQ(log.Lines().size(), 1u);
}

}  // namespace
}  // namespace quorvel

namespace quorvel {
namespace {

class TFinallyCounted : public TObject {
public:
  explicit TFinallyCounted(int& frees) : FFrees(frees) {}
  ~TFinallyCounted() override { ++FFrees; }

private:
  int& FFrees;
};

TEST(MaybeOwnedTest, FreesOnlyWhatItOwns) {
  int frees = 0;
  TFinallyCounted borrowed(frees);
  {
    auto b = TMaybeOwned<TFinallyCounted>::Borrowed(&borrowed);
    auto o = TMaybeOwned<TFinallyCounted>::Owned(New<TFinallyCounted>(frees));
    EXPECT_FALSE(b.Owns());
    EXPECT_TRUE(o.Owns());
    b = std::move(o);  // the borrowed one is dropped, not freed
    EXPECT_TRUE(b.Owns());
    EXPECT_FALSE(o);
  }
  EXPECT_EQ(frees, 1);
  auto r = TMaybeOwned<TFinallyCounted>::Owned(New<TFinallyCounted>(frees));
  TFinallyCounted* p = r.Release();
  EXPECT_FALSE(r);
  Free(p);
  EXPECT_EQ(frees, 2);
}

// The owning fields' free helpers: the field is cleared first, an owned object freed (quietly
// in destructors), a borrowed one left to its owner.
TEST(MaybeOwnedTest, FreeHelpersClearTheFieldAndFreeOnlyWhatIsOwned) {
  int frees = 0;
  TOwned<TFinallyCounted> owned(New<TFinallyCounted>(frees));
  FreeAndNil(owned);
  EXPECT_FALSE(owned);
  EXPECT_EQ(frees, 1);
  owned.reset(New<TFinallyCounted>(frees));
  FreeQuietlyAndNil(owned, "owned");
  EXPECT_FALSE(owned);
  EXPECT_EQ(frees, 2);

  TFinallyCounted borrowed(frees);
  auto ref = TMaybeOwned<TFinallyCounted>::Borrowed(&borrowed);
  FreeQuietlyAndNil(ref, "borrowed");
  EXPECT_FALSE(ref);
  EXPECT_EQ(frees, 2);
  ref.ResetOwned(New<TFinallyCounted>(frees));
  FreeQuietlyAndNil(ref, "owned");
  EXPECT_FALSE(ref);
  EXPECT_EQ(frees, 3);

  TLogCapture log;
  TOwned<TObject> raising(new TRaisingOnFree());
  FreeQuietlyAndNil(raising, "raising field");
  EXPECT_FALSE(raising);
  EXPECT_TRUE(log.Contains("<ERROR> failed to free raising field: boom"));
}

}  // namespace
}  // namespace quorvel
