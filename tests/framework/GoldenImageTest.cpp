// The golden-image compare of tests/support: tolerance per channel, a count of pixels that
// may be off, size mismatches and missing files, and the frame kept for a failing check.
#include "tests/support/GoldenImage.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <unistd.h>

#include "framework/io/Path.h"

namespace quorvel {
namespace {

class GoldenImageTest : public ::testing::Test {
protected:
  void SetUp() override {
    Folder = TPath::Combine(TPath::GetTempPath(), "quorvel-golden-" + std::to_string(getpid()));
    std::filesystem::create_directories(Folder);
    unsetenv("QUORVEL_UPDATE_GOLDEN");
    // A 3x2 frame, bottom row first; the alpha of one pixel is not opaque.
    Frame = {{255, 0, 0, 255}, {0, 255, 0, 255}, {0, 0, 255, 255},
             {10, 20, 30, 255}, {200, 100, 50, 128}, {255, 255, 255, 255}};
    Golden = TPath::Combine(Folder, "frame.png");
    SavePng(Frame, 3, 2, Golden);
  }
  void TearDown() override {
    unsetenv("QUORVEL_UPDATE_GOLDEN");
    std::error_code ec;
    std::filesystem::remove_all(Folder, ec);
  }
  std::string Folder, Golden;
  std::vector<TRGBA8> Frame;
};

TEST_F(GoldenImageTest, PngRoundTripKeepsEveryChannelAndTheRowOrder) {
  int32_t w = 0, h = 0;
  EXPECT_EQ(LoadPng(Golden, w, h), Frame);
  EXPECT_EQ(w, 3);
  EXPECT_EQ(h, 2);
}

TEST_F(GoldenImageTest, DifferencesWithinTheToleranceMatchAndBeyondItFail) {
  struct Case {
    const char* Name;
    int Delta;                    // added to the green of pixel 4 (x 1, y 1)
    TGoldenTolerance Tolerance;
    bool Matches;
  } cases[] = {
      {"identical", 0, {0, 0}, true},
      {"within the channel tolerance", 2, {2, 0}, true},
      {"one over the channel tolerance", 3, {2, 0}, false},
      {"one pixel off, one allowed", 50, {2, 1}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    std::vector<TRGBA8> frame = Frame;
    frame[4].G = uint8_t(frame[4].G + c.Delta);
    const ::testing::AssertionResult r = MatchesGoldenImage(frame, 3, 2, Golden, c.Tolerance);
    EXPECT_EQ(bool(r), c.Matches) << r.message();
    if (!c.Matches) {
      // The message names the worst pixel and where the frame went.
      EXPECT_NE(std::string(r.message()).find("at (1,1)"), std::string::npos) << r.message();
      EXPECT_NE(std::string(r.message()).find("frame.actual.png"), std::string::npos) << r.message();
      int32_t w = 0, h = 0;
      EXPECT_EQ(LoadPng(TPath::Combine(TPath::GetTempPath(), "frame.actual.png"), w, h), frame);
    }
  }
}

TEST_F(GoldenImageTest, WrongSizeMissingGoldenAndShortFramesFail) {
  const ::testing::AssertionResult size = MatchesGoldenImage(Frame, 2, 3, Golden);
  EXPECT_FALSE(size);
  EXPECT_NE(std::string(size.message()).find("differs from the golden 3x2"), std::string::npos) << size.message();
  const std::string missing = TPath::Combine(Folder, "missing.png");
  const ::testing::AssertionResult none = MatchesGoldenImage(Frame, 3, 2, missing);
  EXPECT_FALSE(none);
  EXPECT_NE(std::string(none.message()).find("no golden image"), std::string::npos) << none.message();
  EXPECT_FALSE(std::filesystem::exists(missing));
  EXPECT_FALSE(MatchesGoldenImage({Frame.begin(), Frame.begin() + 5}, 3, 2, Golden));
}

TEST_F(GoldenImageTest, UpdateModeWritesTheGoldenFromTheFrame) {
  setenv("QUORVEL_UPDATE_GOLDEN", "1", 1);
  const std::string fresh = TPath::Combine(Folder, "fresh.png");
  EXPECT_TRUE(MatchesGoldenImage(Frame, 3, 2, fresh));
  unsetenv("QUORVEL_UPDATE_GOLDEN");
  EXPECT_TRUE(MatchesGoldenImage(Frame, 3, 2, fresh));
}

}  // namespace
}  // namespace quorvel
