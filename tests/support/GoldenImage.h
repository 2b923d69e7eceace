#pragma once
// Whole-frame checks against a PNG golden image, within a per-channel tolerance.
//
//   EXPECT_TRUE(MatchesGoldenImage(target.ReadPixels(), w, h, TestDataPath("golden/scene.png")));
//
// A mismatch writes the frame into the temporary folder as "<golden name>.actual.png" and
// names it in the message. With QUORVEL_UPDATE_GOLDEN=1 in the environment a missing or
// different golden file is (re)written from the frame instead, and the check passes.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/GLTestSupport.h"

namespace quorvel {

struct TGoldenTolerance {
  int Channel = 2;          // the largest difference of one channel that still matches
  size_t OffPixels = 0;     // how many pixels may differ by more
};

// `pixels`: RGBA8 rows bottom-up, as TGLTestFramebuffer::ReadPixels gives them.
::testing::AssertionResult MatchesGoldenImage(const std::vector<TRGBA8>& pixels, int32_t width, int32_t height,
                                              const std::string& goldenPath, TGoldenTolerance tolerance = {});

// Writes RGBA8 rows bottom-up as a PNG file (rows top-down in the file).
void SavePng(const std::vector<TRGBA8>& pixels, int32_t width, int32_t height, const std::string& path);
// Reads a PNG into RGBA8 rows bottom-up.
std::vector<TRGBA8> LoadPng(const std::string& path, int32_t& width, int32_t& height);

}  // namespace quorvel
