#pragma once
// Imaging helpers: file-mask matching, mip-level arithmetic and rectangle clipping.
#include <cstdint>
#include <string_view>

#include "framework/math/Rect.h"

namespace quorvel {

bool MatchFileMask(std::string_view AText, std::string_view AMask, bool ACaseSensitive);
int32_t MipLevelCount(int32_t AWidth, int32_t AHeight);
int64_t VolumeSliceCount(int32_t ADepth, int32_t ALevels);
// Clips a copy of w×h pixels from (sx, sy) of a srcWidth×srcHeight image to (dx, dy) inside
// the target clip rectangle.
void ClipCopyRectangle(int32_t& ASx, int32_t& ASy, int32_t& AWidth, int32_t& AHeight, int32_t& ADx, int32_t& ADy,
                       int32_t ASrcWidth, int32_t ASrcHeight, const TRect& ADstClip);
void ClipStretchRectangles(int32_t& ASx, int32_t& ASy, int32_t& ASw, int32_t& ASh, int32_t& ADx, int32_t& ADy,
                           int32_t& ADw, int32_t& ADh, int32_t ASrcWidth, int32_t ASrcHeight, const TRect& ADstClip);

}  // namespace quorvel
