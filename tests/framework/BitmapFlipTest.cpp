// Bitmap flips: rows or columns mirrored in place, odd and even sizes, each flip a change.
#include <gtest/gtest.h>

#include <vector>

#include "framework/gui/Bitmap.h"

namespace quorvel {
namespace {

// Pixel (x, y) holds 0xFF000000 + 16 * y + x.
TOwned<TBitmap> Numbered(int32_t AWidth, int32_t AHeight) {
  TOwned<TBitmap> bmp(New<TBitmap>(AWidth, AHeight));
  TBitmapData data;
  EXPECT_TRUE(bmp->Map(TMapAccess::Write, data));
  for (int32_t y = 0; y < AHeight; ++y)
    for (int32_t x = 0; x < AWidth; ++x) data.SetPixel(x, y, TAlphaColor(0xFF000000u + 16u * y + x));
  bmp->Unmap(data);
  return bmp;
}

std::vector<uint32_t> Pixels(TBitmap* ABitmap) {
  std::vector<uint32_t> out;
  TBitmapData data;
  EXPECT_TRUE(ABitmap->Map(TMapAccess::Read, data));
  for (int32_t y = 0; y < data.Height; ++y)
    for (int32_t x = 0; x < data.Width; ++x) out.push_back(ToCardinal(data.GetPixel(x, y)) & 0xFFu);
  ABitmap->Unmap(data);
  return out;
}

TEST(BitmapFlip, MirrorsRowsOrColumnsInPlaceAndAnnouncesTheChange) {
  struct Case {
    int32_t Width, Height;
    bool Vertical;
    std::vector<uint32_t> Expected;  // low byte 16 * y + x of each pixel, row by row
  };
  const Case cases[] = {
      {2, 3, true, {0x20, 0x21, 0x10, 0x11, 0x00, 0x01}},
      {2, 3, false, {0x01, 0x00, 0x11, 0x10, 0x21, 0x20}},
      {3, 2, true, {0x10, 0x11, 0x12, 0x00, 0x01, 0x02}},
      {3, 2, false, {0x02, 0x01, 0x00, 0x12, 0x11, 0x10}},
      {1, 1, true, {0x00}},
  };
  for (const Case& c : cases) {
    TOwned<TBitmap> bmp = Numbered(c.Width, c.Height);
    int changes = 0;
    bmp->OnChange = [&](TObject*) { ++changes; };
    c.Vertical ? bmp->FlipVertical() : bmp->FlipHorizontal();
    EXPECT_EQ(Pixels(bmp.get()), c.Expected) << c.Width << "x" << c.Height << (c.Vertical ? " vertical" : " horizontal");
    EXPECT_EQ(changes, 1);
    // A second flip restores the image.
    c.Vertical ? bmp->FlipVertical() : bmp->FlipHorizontal();
    EXPECT_EQ(Pixels(bmp.get()), Pixels(Numbered(c.Width, c.Height).get()));
  }
  TOwned<TBitmap> empty(New<TBitmap>());
  int changes = 0;
  empty->OnChange = [&](TObject*) { ++changes; };
  empty->FlipVertical();
  empty->FlipHorizontal();
  EXPECT_EQ(changes, 0);
}

}  // namespace
}  // namespace quorvel
