#include "framework/rtl/Log.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

using namespace quorvel;

TEST(LogTest, CaptureTakesOneWholeLinePerCallFromEveryThread) {
  TLogCapture log;
  constexpr int kThreads = 4, kLines = 200;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([t] {
      for (int i = 0; i < kLines; ++i)
        Log::d("thread " + std::to_string(t) + " line " + std::to_string(i));
    });
  for (auto& th : threads) th.join();
  std::vector<std::string> lines = log.Lines();
  ASSERT_EQ(lines.size(), size_t(kThreads * kLines));
  std::vector<std::string> expected;
  for (int t = 0; t < kThreads; ++t)
    for (int i = 0; i < kLines; ++i) expected.push_back("thread " + std::to_string(t) + " line " + std::to_string(i));
  std::sort(lines.begin(), lines.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(lines, expected);
}

TEST(LogTest, FormatOverloadWritesTheFormattedLine) {
  TLogCapture log;
  Log::d("ERROR: Illegal viewport resize(%d, %d)", 0, -3);
  EXPECT_EQ(log.Lines(), (std::vector<std::string>{"ERROR: Illegal viewport resize(0, -3)"}));
}

TEST(LogTest, NestedCapturesRestoreTheOuterOne) {
  TLogCapture outer;
  Log::d("a");
  {
    TLogCapture inner;
    Log::d("b");
    EXPECT_EQ(inner.Lines(), (std::vector<std::string>{"b"}));
  }
  Log::d("c");
  EXPECT_EQ(outer.Lines(), (std::vector<std::string>{"a", "c"}));
  EXPECT_TRUE(outer.Contains("c"));
  EXPECT_FALSE(outer.Contains("b"));
  outer.Clear();
  EXPECT_TRUE(outer.Lines().empty());
}

TEST(LogTest, WithoutCaptureLinesGoToStderrUnlessQuiet) {
  const bool wasQuiet = Log::GetQuiet();
  Log::SetQuiet(false);
  testing::internal::CaptureStderr();
  Log::d("to stderr");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "to stderr\n");
  Log::SetQuiet(true);
  testing::internal::CaptureStderr();
  Log::d("dropped");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  Log::SetQuiet(wasQuiet);
}

TEST(LogTest, ASinkThatLogsOrThrowsDoesNotHangOrFailTheCaller) {
  const bool wasQuiet = Log::GetQuiet();
  Log::SetQuiet(false);
  std::vector<std::string> seen;
  Log::TSink previous = Log::SetCapture([&](const std::string& line) {
    seen.push_back(line);
    Log::d("from the sink");  // re-entry goes to stderr instead of recursing
    throw std::runtime_error("sink failure");
  });
  testing::internal::CaptureStderr();
  EXPECT_NO_THROW(Log::d("hello"));
  const std::string err = testing::internal::GetCapturedStderr();
  Log::SetCapture(std::move(previous));
  Log::SetQuiet(wasQuiet);
  EXPECT_EQ(seen, (std::vector<std::string>{"hello"}));
  // The line the failing sink lost is not dropped silently: it goes to stderr, marked.
  EXPECT_EQ(err, "from the sink\nhello (log capture failed)\n");
}
