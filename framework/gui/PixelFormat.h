#pragma once
// The framework's pixel formats. The ordinals are persisted and shared with the engine's
// extended pixel-format table (its first 24 values carry the same names and ordinals), so
// they are explicit and must never be reordered.
#include <cstdint>

#include "framework/rtl/Enum.h"

namespace quorvel {

enum class TPixelFormat : uint8_t {
  None = 0,
  RGB = 1,
  RGBA = 2,
  BGR = 3,
  BGRA = 4,
  RGBA16 = 5,
  BGR_565 = 6,
  BGRA4 = 7,
  BGR4 = 8,
  BGR5_A1 = 9,
  BGR5 = 10,
  BGR10_A2 = 11,
  RGB10_A2 = 12,
  L = 13,
  LA = 14,
  LA4 = 15,
  L16 = 16,
  Alpha = 17,
  R16F = 18,
  RG16F = 19,
  RGBA16F = 20,
  R32F = 21,
  RG32F = 22,
  RGBA32F = 23
};
FW_ENUM(TPixelFormat, None, RGB, RGBA, BGR, BGRA, RGBA16, BGR_565, BGRA4, BGR4, BGR5_A1, BGR5, BGR10_A2, RGB10_A2,
        L, LA, LA4, L16, Alpha, R16F, RG16F, RGBA16F, R32F, RG32F, RGBA32F)

// Bytes per pixel of a format (0 for None and for ordinals outside the enumeration).
constexpr int32_t PixelFormatBytes(TPixelFormat format) {
  constexpr int32_t bytes[] = {0, 3, 4, 3, 4, 8, 2, 2, 2, 2, 2, 4, 4, 1, 2, 1, 2, 1, 2, 4, 8, 4, 8, 16};
  const auto i = static_cast<uint32_t>(format);
  return i < sizeof(bytes) / sizeof(bytes[0]) ? bytes[i] : 0;
}

}  // namespace quorvel
