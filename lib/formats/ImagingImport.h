#pragma once
// Copies a decoded image into a framework bitmap (32-bit BGRA).
#include "lib/formats/Imaging.h"

namespace quorvel {

class TBitmap;

// Resizes ABitmap to the image and fills its pixels; the image stays unchanged.
void ImportImageToBitmap(const TImageData& AImage, TBitmap* ABitmap);

}  // namespace quorvel
