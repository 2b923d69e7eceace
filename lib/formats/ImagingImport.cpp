#include "lib/formats/ImagingImport.h"

#include <cstring>

#include "framework/gui/Bitmap.h"
#include "framework/rtl/Finally.h"

namespace quorvel {

void ImportImageToBitmap(const TImageData& AImage, TBitmap* ABitmap) {
  if (!ABitmap || !IsImageDataValid(AImage)) return;
  // The bitmap's pixels are always BGRA, so every other format (Index8, R5G6B5 and R8G8B8
  // included) is converted; their raw rows would not fill a row of 4-byte pixels.
  const TImageData* image = &AImage;
  TImageData converted{};
  auto release = Finally([&] { ReleaseImageData(converted); });
  if (AImage.Format != TImageFormat::A8R8G8B8) {
    DuplicateImageData(AImage, converted);
    ChangeImageFormat(converted, TImageFormat::A8R8G8B8);
    image = &converted;
  }
  ABitmap->SetSize(image->Width, image->Height);
  TBitmapData data;
  if (!ABitmap->Map(TMapAccess::ReadWrite, data)) return;
  auto unmap = Finally([&] { ABitmap->Unmap(data); });
  const size_t row = size_t(image->Width) * 4;
  for (int32_t y = 0; y < image->Height; ++y)
    std::memcpy(data.GetScanline(y), static_cast<const uint8_t*>(image->Bits) + row * size_t(y), row);
}

}  // namespace quorvel
