// TBitmap: decoding by content into straight-alpha BGRA, clear errors for bad data, saving,
// Map/Unmap with scan lines, the change notifications, Assign, and the pixel-format table.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "framework/gui/Bitmap.h"
#include "framework/gui/PixelFormat.h"
#include "framework/io/Stream.h"
#include "framework/rtl/Finally.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;

const std::string DataDir = QUORVEL_TEST_DATA_DIR;

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteFile(const fs::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

struct TRgba {
  uint8_t R, G, B, A;
};

// The pixels tests/data/make_bitmap_fixtures.py writes into BitmapRgba4x3.png.
const TRgba Png4x3[3][4] = {
    {{255, 0, 0, 255}, {0, 255, 0, 255}, {0, 0, 255, 255}, {255, 255, 255, 255}},
    {{0, 0, 0, 255}, {128, 128, 128, 255}, {10, 20, 30, 128}, {200, 100, 50, 0}},
    {{1, 2, 3, 4}, {250, 240, 230, 220}, {0, 128, 255, 64}, {255, 255, 0, 255}},
};

void ExpectPng4x3(TBitmap& bitmap) {
  ASSERT_EQ(bitmap.GetWidth(), 4);
  ASSERT_EQ(bitmap.GetHeight(), 3);
  TBitmapData data;
  ASSERT_TRUE(bitmap.Map(TMapAccess::Read, data));
  EXPECT_EQ(data.PixelFormat, TPixelFormat::BGRA);
  EXPECT_EQ(data.Pitch, 16);
  for (int y = 0; y < 3; ++y) {
    const auto* row = static_cast<const uint8_t*>(data.GetScanline(y));
    for (int x = 0; x < 4; ++x) {
      const TRgba& e = Png4x3[y][x];
      // Straight alpha: colour bytes are untouched by alpha, even where alpha is 0.
      EXPECT_EQ(row[x * 4 + 0], e.B) << x << "," << y;
      EXPECT_EQ(row[x * 4 + 1], e.G) << x << "," << y;
      EXPECT_EQ(row[x * 4 + 2], e.R) << x << "," << y;
      EXPECT_EQ(row[x * 4 + 3], e.A) << x << "," << y;
      EXPECT_EQ(data.GetPixel(x, y), MakeAlphaColor(e.R, e.G, e.B, e.A));
    }
  }
  bitmap.Unmap(data);
}

TEST(Bitmap, LoadsPngFileAndStreamAsStraightAlphaBgra) {
  TOwned<TBitmap> fromFile(New<TBitmap>());
  fromFile->LoadFromFile(DataDir + "/BitmapRgba4x3.png");
  ExpectPng4x3(*fromFile);

  // From a stream: reads from the stream's position on.
  std::vector<uint8_t> bytes = ReadFile(DataDir + "/BitmapRgba4x3.png");
  TMemoryStream stream;
  stream.WriteBuffer("junk", 4);
  stream.WriteBuffer(bytes.data(), int64_t(bytes.size()));
  stream.SetPosition(4);
  TOwned<TBitmap> fromStream(New<TBitmap>());
  fromStream->LoadFromStream(&stream);
  ExpectPng4x3(*fromStream);
}

TEST(Bitmap, LoadsJpegWithinTolerance) {
  TOwned<TBitmap> bitmap(New<TBitmap>());
  bitmap->LoadFromFile(DataDir + "/BitmapBlocks16x8.jpg");
  ASSERT_EQ(bitmap->GetWidth(), 16);
  ASSERT_EQ(bitmap->GetHeight(), 8);
  TBitmapData data;
  ASSERT_TRUE(bitmap->Map(TMapAccess::Read, data));
  for (int y = 0; y < 8; ++y) {
    for (int x = 0; x < 16; ++x) {
      const TAlphaColor c = data.GetPixel(x, y);
      const int r = x < 8 ? 255 : 0, b = x < 8 ? 0 : 255;
      EXPECT_NEAR(RedOf(c), r, 6) << x << "," << y;
      EXPECT_NEAR(GreenOf(c), 0, 6) << x << "," << y;
      EXPECT_NEAR(BlueOf(c), b, 6) << x << "," << y;
      EXPECT_EQ(AlphaOf(c), 255);
    }
  }
  bitmap->Unmap(data);
}

TEST(Bitmap, DecodesByContentNotByExtension) {
  // A 1x1 GIF (palette: red, black) saved under a ".png" name.
  const std::vector<uint8_t> gif = {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0x80, 0, 0, 0xFF, 0, 0, 0, 0, 0,
                                    ',', 0, 0, 0, 0, 1, 0, 1, 0, 0, 2, 2, 'D', 1, 0, ';'};
  const fs::path path = fs::temp_directory_path() / "quorvel-bitmap-gif.png";
  WriteFile(path, gif);
  TOwned<TBitmap> bitmap(New<TBitmap>());
  bitmap->LoadFromFile(path.string());
  fs::remove(path);
  ASSERT_EQ(bitmap->GetWidth(), 1);
  ASSERT_EQ(bitmap->GetHeight(), 1);
  EXPECT_EQ(bitmap->Pixels(), (std::vector<uint8_t>{0, 0, 255, 255}));
}

TEST(Bitmap, BadDataRaisesBitmapLoadingFailedAndKeepsTheImage) {
  const std::vector<uint8_t> png = ReadFile(DataDir + "/BitmapRgba4x3.png");
  std::vector<uint8_t> badDeflate = png;
  // The IDAT payload starts after signature (8), IHDR (25) and the IDAT length/type (8).
  for (size_t i = 8 + 25 + 8 + 2; i < 8 + 25 + 8 + 12; ++i) badDeflate[i] ^= 0xA5;
  std::vector<uint8_t> hugePng = png;
  // IHDR width and height := 60000 (stb does not check CRCs).
  const uint8_t big[4] = {0, 0, 0xEA, 0x60};
  std::copy(big, big + 4, hugePng.begin() + 16);
  std::copy(big, big + 4, hugePng.begin() + 20);
  const std::vector<uint8_t> jpegHead = {0xFF, 0xD8, 0xFF, 0xE0, 0, 16, 'J', 'F', 'I', 'F', 0};
  const std::vector<uint8_t> bmpHead = {'B', 'M', 0, 0, 0, 0};
  const std::vector<uint8_t> tiff = {'I', 'I', 42, 0, 8, 0, 0, 0, 0, 0};
  const std::vector<uint8_t> tiffBigEndian = {'M', 'M', 0, 42, 0, 0, 0, 8};
  const std::vector<uint8_t> text = {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd'};

  struct TCase {
    const char* Name;
    std::vector<uint8_t> Bytes;
    const char* Message;  // part of the message
  } cases[] = {
      {"truncated PNG", std::vector<uint8_t>(png.begin(), png.begin() + 40), "corrupt PNG"},
      {"damaged deflate stream", badDeflate, "corrupt PNG"},
      {"PNG declaring 60000x60000", hugePng, "too large"},
      {"JPEG header only", jpegHead, "corrupt JPEG"},
      {"BMP header only", bmpHead, "corrupt BMP"},
      {"TIFF little-endian", tiff, "TIFF images are not supported"},
      {"TIFF big-endian", tiffBigEndian, "TIFF images are not supported"},
      {"text", text, "unknown image format"},
      {"empty", {}, "empty"},
  };
  TOwned<TBitmap> bitmap(New<TBitmap>());
  bitmap->LoadFromFile(DataDir + "/BitmapRgba4x3.png");
  for (const TCase& c : cases) {
    try {
      bitmap->LoadFromBytes(c.Bytes);
      ADD_FAILURE() << c.Name << ": no exception";
    } catch (const EBitmapLoadingFailed& e) {
      EXPECT_NE(std::string(e.what()).find(c.Message), std::string::npos) << c.Name << ": " << e.what();
    }
    ExpectPng4x3(*bitmap);
  }

  // A file names itself in the message; a missing file is a file error.
  const fs::path path = fs::temp_directory_path() / "quorvel-bitmap-corrupt.png";
  WriteFile(path, std::vector<uint8_t>(png.begin(), png.begin() + 40));
  try {
    bitmap->LoadFromFile(path.string());
    ADD_FAILURE() << "no exception";
  } catch (const EBitmapLoadingFailed& e) {
    EXPECT_NE(std::string(e.what()).find(path.string()), std::string::npos) << e.what();
  }
  fs::remove(path);
  EXPECT_THROW(bitmap->LoadFromFile((fs::temp_directory_path() / "quorvel-no-such.png").string()), EFOpenError);
  EXPECT_THROW(bitmap->LoadFromStream(nullptr), EArgumentNilException);
}

TEST(Bitmap, SavesPngBmpAndJpegThatLoadBack) {
  TOwned<TBitmap> source(New<TBitmap>());
  source->LoadFromFile(DataDir + "/BitmapRgba4x3.png");
  const fs::path dir = fs::temp_directory_path() / "quorvel-bitmap-save";
  fs::create_directories(dir);

  // PNG keeps every byte, alpha included.
  source->SaveToFile((dir / "a.PNG").string());
  TOwned<TBitmap> png(New<TBitmap>());
  png->LoadFromFile((dir / "a.PNG").string());
  EXPECT_EQ(png->Pixels(), source->Pixels());

  // BMP and JPEG of an opaque image.
  TOwned<TBitmap> opaque(New<TBitmap>(8, 8));
  opaque->Clear(MakeAlphaColor(0x20, 0x80, 0xE0));
  opaque->SaveToFile((dir / "b.bmp").string());
  TOwned<TBitmap> bmp(New<TBitmap>());
  bmp->LoadFromFile((dir / "b.bmp").string());
  EXPECT_EQ(bmp->Pixels(), opaque->Pixels());
  opaque->SaveToFile((dir / "c.jpeg").string());
  TOwned<TBitmap> jpeg(New<TBitmap>());
  jpeg->LoadFromFile((dir / "c.jpeg").string());
  ASSERT_EQ(jpeg->GetWidth(), 8);
  TBitmapData data;
  ASSERT_TRUE(jpeg->Map(TMapAccess::Read, data));
  const TAlphaColor c = data.GetPixel(3, 4);
  jpeg->Unmap(data);
  EXPECT_NEAR(RedOf(c), 0x20, 4);
  EXPECT_NEAR(GreenOf(c), 0x80, 4);
  EXPECT_NEAR(BlueOf(c), 0xE0, 4);

  // SaveToStream writes PNG.
  TBytesStream stream;
  source->SaveToStream(&stream);
  ASSERT_GE(stream.GetBytes().size(), 8u);
  EXPECT_EQ(stream.GetBytes()[1], 'P');
  stream.SetPosition(0);
  TOwned<TBitmap> fromStream(New<TBitmap>());
  fromStream->LoadFromStream(&stream);
  EXPECT_EQ(fromStream->Pixels(), source->Pixels());

  // Unsupported type and empty bitmaps refuse, and leave no file behind.
  EXPECT_THROW(source->SaveToFile((dir / "d.tif").string()), ENotSupportedException);
  EXPECT_FALSE(fs::exists(dir / "d.tif"));
  TOwned<TBitmap> empty(New<TBitmap>());
  EXPECT_THROW(empty->SaveToFile((dir / "e.png").string()), EInvalidOperation);
  EXPECT_FALSE(fs::exists(dir / "e.png"));
  fs::remove_all(dir);
}

// Counts the virtual change notification, as the texture bitmap of the 3D layer does.
class TCountingBitmap : public TBitmap {
public:
  int Changes = 0;
  using TBitmap::FData;

protected:
  void BitmapChanged() override {
    ++Changes;
    TBitmap::BitmapChanged();
  }
};

TEST(Bitmap, MapUnmapGivesScanlinesAndWritesAnnounceTheChange) {
  TOwned<TCountingBitmap> bitmap(New<TCountingBitmap>());
  int onChange = 0;
  bitmap->OnChange = [&](TObject* sender) {
    EXPECT_EQ(sender, bitmap.get());
    ++onChange;
  };
  TBitmapData data;
  EXPECT_FALSE(bitmap->Map(TMapAccess::Write, data)) << "an empty bitmap has nothing to map";

  bitmap->SetSize(3, 2);
  EXPECT_EQ(bitmap->Changes, 1);
  EXPECT_EQ(onChange, 1);
  EXPECT_EQ(bitmap->Pixels(), std::vector<uint8_t>(24, 0)) << "new pixels are transparent black";
  bitmap->SetSize(3, 2);
  EXPECT_EQ(bitmap->Changes, 1) << "the same size changes nothing";

  ASSERT_TRUE(bitmap->Map(TMapAccess::Write, data));
  EXPECT_EQ(data.Width, 3);
  EXPECT_EQ(data.Height, 2);
  EXPECT_EQ(data.BytesPerPixel(), 4);
  static_cast<uint32_t*>(data.GetScanline(1))[2] = 0x80112233u;
  data.SetPixel(0, 0, MakeAlphaColor(0xFF, 0x10, 0x20, 0x30));
  EXPECT_THROW(data.GetScanline(2), EArgumentOutOfRangeException);
  EXPECT_THROW(data.GetScanline(-1), EArgumentOutOfRangeException);
  EXPECT_THROW(data.GetPixel(3, 0), EArgumentOutOfRangeException);
  // The image cannot change size under a map.
  EXPECT_THROW(bitmap->SetSize(5, 5), EInvalidOperation);
  EXPECT_EQ(bitmap->Changes, 1) << "no notification while mapped";
  bitmap->Unmap(data);
  EXPECT_EQ(data.Data, nullptr);
  EXPECT_EQ(bitmap->Changes, 2);
  EXPECT_EQ(bitmap->GetMapCount(), 0);
  const std::vector<uint8_t>& px = bitmap->Pixels();
  EXPECT_EQ((std::vector<uint8_t>(px.begin(), px.begin() + 4)), (std::vector<uint8_t>{0x20, 0x10, 0xFF, 0x30}));
  EXPECT_EQ((std::vector<uint8_t>(px.begin() + 20, px.end())), (std::vector<uint8_t>{0x33, 0x22, 0x11, 0x80}));

  // Reading announces nothing; unmapping twice does nothing more.
  ASSERT_TRUE(bitmap->Map(TMapAccess::Read, data));
  TBitmapData copy = data;
  bitmap->Unmap(data);
  bitmap->Unmap(data);
  bitmap->Unmap(copy);
  EXPECT_EQ(bitmap->Changes, 2);
  EXPECT_EQ(bitmap->GetMapCount(), 0);

  bitmap->Clear(MakeAlphaColor(1, 2, 3, 4));
  EXPECT_EQ(bitmap->Changes, 3);
  EXPECT_EQ(onChange, 3);
  EXPECT_EQ((std::vector<uint8_t>(px.begin(), px.begin() + 4)), (std::vector<uint8_t>{3, 2, 1, 4}));
  bitmap->LoadFromFile(DataDir + "/BitmapRgba4x3.png");
  EXPECT_EQ(bitmap->Changes, 4);
}

TEST(Bitmap, SizeAndScaleRejectBadValues) {
  TOwned<TBitmap> bitmap(New<TBitmap>(4, 4));
  EXPECT_NE(bitmap->GetHandle(), 0u) << "a non-empty image has a handle from its canvas class";
  EXPECT_THROW(bitmap->SetSize(-1, 4), EArgumentOutOfRangeException);
  EXPECT_THROW(bitmap->SetSize(4, TBitmap::MaxSide + 1), EArgumentOutOfRangeException);
  EXPECT_THROW(bitmap->SetSize(60000, 60000), EArgumentOutOfRangeException) << "more than the byte limit";
  EXPECT_THROW((void)New<TBitmap>(-5, 5), EArgumentOutOfRangeException);
  EXPECT_EQ(bitmap->GetWidth(), 4);
  bitmap->SetSize(0, 7);
  EXPECT_TRUE(bitmap->IsEmpty());
  EXPECT_EQ(bitmap->GetHeight(), 0) << "an empty bitmap is 0x0";
  EXPECT_EQ(bitmap->GetHandle(), 0u);

  EXPECT_FLOAT_EQ(bitmap->GetBitmapScale(), 1);
  bitmap->SetBitmapScale(2);
  EXPECT_FLOAT_EQ(bitmap->GetBitmapScale(), 2);
  for (float bad : {0.0f, -1.0f, std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity()})
    EXPECT_THROW(bitmap->SetBitmapScale(bad), EArgumentOutOfRangeException) << bad;
  EXPECT_FLOAT_EQ(bitmap->GetBitmapScale(), 2);
}

TEST(Bitmap, AssignCopiesImageAndScaleAndRefusesOthers) {
  TOwned<TBitmap> source(New<TBitmap>());
  source->LoadFromFile(DataDir + "/BitmapRgba4x3.png");
  source->SetBitmapScale(1.5f);
  TOwned<TCountingBitmap> dest(New<TCountingBitmap>());
  dest->Assign(source.get());
  EXPECT_EQ(dest->Changes, 1);
  EXPECT_FLOAT_EQ(dest->GetBitmapScale(), 1.5f);
  ExpectPng4x3(*dest);
  // A deep copy: changing the source leaves the copy alone.
  source->Clear(claNull);
  ExpectPng4x3(*dest);
  dest->Assign(dest.get());
  EXPECT_EQ(dest->Changes, 1) << "assigning itself changes nothing";

  TOwned<TPersistent> other(New<TPersistent>());
  EXPECT_THROW(dest->Assign(nullptr), EConvertError);
  EXPECT_THROW(dest->Assign(other.get()), EConvertError);
  ExpectPng4x3(*dest);
}

TEST(Bitmap, ResizeScalesTheImage) {
  TOwned<TBitmap> bitmap(New<TBitmap>(2, 2));
  bitmap->Clear(MakeAlphaColor(10, 200, 30, 255));
  bitmap->Resize(5, 3);
  ASSERT_EQ(bitmap->GetWidth(), 5);
  ASSERT_EQ(bitmap->GetHeight(), 3);
  for (size_t i = 0; i < bitmap->Pixels().size(); i += 4)
    EXPECT_EQ((std::vector<uint8_t>(bitmap->Pixels().begin() + i, bitmap->Pixels().begin() + i + 4)),
              (std::vector<uint8_t>{30, 200, 10, 255}));
}

TEST(Bitmap, RegisteredDecoderTakesFormatsStbDoesNot) {
  const std::vector<uint8_t> blob = {'Q', 'I', 'M', 'G', 2, 1, 0xAA, 0xBB, 0xCC, 0xDD, 1, 2, 3, 4};
  TBitmapDecoder decoder;
  decoder.Name = "qimg";
  decoder.CanDecode = [](std::span<const uint8_t> d, const std::string&) {
    return d.size() >= 4 && d[0] == 'Q' && d[1] == 'I' && d[2] == 'M' && d[3] == 'G';
  };
  decoder.Decode = [](std::span<const uint8_t> d, TBitmap& b) {
    if (d.size() != 6 + size_t(d[4]) * d[5] * 4) throw EBitmapLoadingFailed("qimg: truncated");
    b.SetSize(d[4], d[5]);
    TBitmapData data;
    b.Map(TMapAccess::Write, data);
    std::copy(d.begin() + 6, d.end(), static_cast<uint8_t*>(data.Data));
    b.Unmap(data);
  };
  const int32_t handle = RegisterBitmapDecoder(decoder);
  TOwned<TBitmap> bitmap(New<TBitmap>());
  bitmap->LoadFromBytes(blob);
  EXPECT_EQ(bitmap->GetWidth(), 2);
  EXPECT_EQ(bitmap->Pixels(), (std::vector<uint8_t>(blob.begin() + 6, blob.end())));
  // A failing decoder leaves the bitmap as it was.
  EXPECT_THROW(bitmap->LoadFromBytes(std::vector<uint8_t>(blob.begin(), blob.end() - 1)), EBitmapLoadingFailed);
  EXPECT_EQ(bitmap->GetWidth(), 2);
  UnregisterBitmapDecoder(handle);
  EXPECT_THROW(bitmap->LoadFromBytes(blob), EBitmapLoadingFailed);
}

// ---- Decoders and their limits ----------------------------------------------------------

const std::string CorpusDir = DataDir + "/../fuzz/corpus/bitmap";

// Expected decodes of the seed images (tests/fuzz/make_seeds.py writes them): the channel
// conversions of each decoder, interlacing, transparency and GIF frames inside the screen.
TEST(BitmapDecoders, SeedImagesDecodeToTheirKnownPixels) {
  struct TCase {
    const char* File;
    int Width, Height;
    std::vector<TRgba> Pixels;  // row by row
  } cases[] = {
      {"png-gray16.png", 2, 2, {{0x12, 0x12, 0x12, 255}, {255, 255, 255, 255}, {0, 0, 0, 255}, {0x80, 0x80, 0x80, 255}}},
      {"png-palette-trns.png", 3, 2,
       {{255, 0, 0, 0x80}, {0, 255, 0, 255}, {0, 0, 255, 255}, {0, 0, 255, 255}, {0, 255, 0, 255}, {255, 0, 0, 0x80}}},
      {"png-gray1.png", 9, 1,
       {{255, 255, 255, 255}, {0, 0, 0, 255}, {255, 255, 255, 255}, {0, 0, 0, 255}, {255, 255, 255, 255},
        {0, 0, 0, 255}, {255, 255, 255, 255}, {0, 0, 0, 255}, {255, 255, 255, 255}}},
      {"bmp-24-3x2.bmp", 3, 2, std::vector<TRgba>(6, TRgba{30, 20, 10, 255})},
      // Stored rows 0..3 arrive in interlace order (0, 2, 1, 3); index 3 is transparent.
      {"gif-interlaced-transparent-4x4.gif", 4, 4, {}},
      {"gif-local-table-frame-inside.gif", 5, 5, {}},
  };
  const TRgba red{255, 0, 0, 255}, green{0, 255, 0, 255}, blue{0, 0, 255, 255}, black{0, 0, 0, 255}, clear{0, 0, 0, 0};
  for (const TRgba& row : {red, blue, green, clear})
    for (int x = 0; x < 4; ++x) cases[4].Pixels.push_back(row);
  cases[5].Pixels.assign(25, clear);  // no background colour: transparent outside the 3x2 frame
  const TRgba frame[2][3] = {{black, red, black}, {red, black, red}};
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) cases[5].Pixels[size_t((y + 1) * 5 + x + 1)] = frame[y][x];

  for (const TCase& c : cases) {
    TOwned<TBitmap> bitmap(New<TBitmap>());
    bitmap->LoadFromFile(CorpusDir + "/" + c.File);
    ASSERT_EQ(bitmap->GetWidth(), c.Width) << c.File;
    ASSERT_EQ(bitmap->GetHeight(), c.Height) << c.File;
    std::vector<uint8_t> expected;
    for (const TRgba& p : c.Pixels) expected.insert(expected.end(), {p.B, p.G, p.R, p.A});
    EXPECT_EQ(bitmap->Pixels(), expected) << c.File;
  }

  // Interlaced PNG (Adam7) and a progressive JPEG: every pixel in place.
  TOwned<TBitmap> interlaced(New<TBitmap>());
  interlaced->LoadFromFile(CorpusDir + "/png-interlaced-9x9.png");
  ASSERT_EQ(interlaced->GetWidth(), 9);
  for (int y = 0; y < 9; ++y)
    for (int x = 0; x < 9; ++x) {
      const uint8_t* p = &interlaced->Pixels()[size_t(y * 9 + x) * 4];
      EXPECT_EQ((std::vector<int>{p[0], p[1], p[2], p[3]}), (std::vector<int>{99, y * 30, x * 30, 255})) << x << "," << y;
    }
  TOwned<TBitmap> baseline(New<TBitmap>()), progressive(New<TBitmap>());
  baseline->LoadFromFile(CorpusDir + "/jpeg-420-24x16.jpg");
  progressive->LoadFromFile(CorpusDir + "/jpeg-progressive-24x16.jpg");
  ASSERT_EQ(progressive->GetWidth(), 24);
  ASSERT_EQ(progressive->GetHeight(), 16);
  for (size_t i = 0; i < progressive->Pixels().size(); ++i) {
    // The same gradient (quality 75 and the default 75): within the codec's rounding.
    EXPECT_NEAR(progressive->Pixels()[i], baseline->Pixels()[i], 24) << i;
    if (i % 4 == 3) {
      EXPECT_EQ(progressive->Pixels()[i], 255);
    }
  }
}

// Inputs that once made the old decoder write past its tables, read uninitialised memory,
// shift out of range or allocate 2 GB: each fails cleanly and keeps the image.
TEST(BitmapDecoders, HostileInputsFailCleanly) {
  const std::vector<uint8_t> jpeg = ReadFile(DataDir + "/BitmapBlocks16x8.jpg");
  struct TCase {
    const char* Name;
    std::vector<uint8_t> Bytes;
    const char* Message;
  } cases[] = {
      {"Huffman table overflow", ReadFile(CorpusDir + "/regress-jpeg-dht-overflow.jpg"), "corrupt JPEG"},
      {"scan with an undefined table", ReadFile(CorpusDir + "/regress-jpeg-undefined-table.jpg"), "corrupt JPEG"},
      {"cut scan", ReadFile(CorpusDir + "/regress-jpeg-cut-scan.jpg"), "corrupt JPEG"},
      {"JPEG cut 8 bytes before its end", std::vector<uint8_t>(jpeg.begin(), jpeg.end() - 8), "corrupt JPEG"},
      {"34-byte GIF of 16898x13645", ReadFile(CorpusDir + "/regress-gif-16898x13645.gif"), "GIF image of 16898x13645 is too large"},
      {"GIF without image", {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0, 0, 0, ';'}, "corrupt GIF image (no image)"},
      {"GIF frame outside the screen",
       {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0x80, 0, 0, 0xFF, 0, 0, 0, 0, 0, ',', 0, 0, 0, 0, 2, 0, 1, 0, 0, 2, 2,
        'D', 1, 0, ';'},
       "frame outside the screen"},
      {"PNG of 0x0", [] {
         std::vector<uint8_t> png = ReadFile(DataDir + "/BitmapRgba4x3.png");
         std::fill(png.begin() + 16, png.begin() + 24, uint8_t(0));
         return png;
       }(), "corrupt PNG"},
  };
  ASSERT_EQ(cases[0].Bytes.size(), 23u);
  ASSERT_EQ(cases[4].Bytes.size(), 34u);
  TOwned<TBitmap> bitmap(New<TBitmap>());
  bitmap->LoadFromFile(DataDir + "/BitmapRgba4x3.png");
  for (const TCase& c : cases) {
    try {
      bitmap->LoadFromBytes(c.Bytes);
      ADD_FAILURE() << c.Name << ": no exception";
    } catch (const EBitmapLoadingFailed& e) {
      EXPECT_NE(std::string(e.what()).find(c.Message), std::string::npos) << c.Name << ": " << e.what();
    }
    ExpectPng4x3(*bitmap);
  }
}

// Every prefix of every seed image loads or raises the loading exception, and a failure
// keeps the image that was there.
TEST(BitmapDecoders, EveryCutOfTheSeedImagesFailsCleanly) {
  TOwned<TBitmap> bitmap(New<TBitmap>());
  const std::vector<uint8_t> png = ReadFile(DataDir + "/BitmapRgba4x3.png");
  bitmap->LoadFromBytes(png);
  for (const auto& entry : fs::directory_iterator(CorpusDir)) {
    const std::vector<uint8_t> bytes = ReadFile(entry.path().string());
    const std::string name = entry.path().filename().string();
    for (size_t length = 1; length < bytes.size(); ++length) {
      try {
        bitmap->LoadFromBytes(std::span<const uint8_t>(bytes.data(), length));
        bitmap->LoadFromBytes(png);
      } catch (const EBitmapLoadingFailed&) {
        ExpectPng4x3(*bitmap);
        if (::testing::Test::HasFailure()) FAIL() << name << " cut at " << length;
      }
    }
  }
}

// PNG, JPEG or BMP bytes of a width x height image, encoded by the bitmap's own writers.
std::vector<uint8_t> Encoded(const char* extension, int width, int height) {
  TOwned<TBitmap> image(New<TBitmap>(width, height));
  image->Clear(MakeAlphaColor(200, 100, 50, 255));
  const fs::path path = fs::temp_directory_path() / (std::string("quorvel-bitmap-limit") + extension);
  image->SaveToFile(path.string());
  std::vector<uint8_t> bytes = ReadFile(path.string());
  fs::remove(path);
  return bytes;
}

TEST(BitmapDecoders, DeclaredSizesAreCheckedAgainstTheLimits) {
  EXPECT_EQ(TBitmap::GetDecodeMaxSide(), 16384);
  EXPECT_EQ(TBitmap::GetDecodeMaxBytes(), int64_t(256) << 20);
  auto restore = Finally([] { TBitmap::SetDecodeLimits(TBitmap::DefaultDecodeMaxSide, TBitmap::DefaultDecodeMaxBytes); });
  struct TCase {
    const char* Extension;
    int Width, Height;
    int32_t MaxSide;  // 0: the defaults
    int64_t MaxBytes;
    bool Loads;
  } cases[] = {
      {".png", 16384, 1, 0, 0, true},  // a side at the default limit
      {".png", 16385, 1, 0, 0, false},
      {".jpg", 1, 16385, 0, 0, false},
      {".bmp", 16385, 1, 0, 0, false},
      {".png", 64, 32, 64, 64 * 32 * 4, true},  // both limits met exactly
      {".png", 64, 33, 64, 64 * 32 * 4, false},  // one row over the byte limit
      {".jpg", 33, 64, 64, 64 * 32 * 4, false},
      {".bmp", 64, 33, 64, 64 * 32 * 4, false},
      {".png", 65, 1, 64, 64 * 32 * 4, false},  // one pixel over the side limit
      {".jpg", 65, 1, 64, 64 * 32 * 4, false},
      {".png", 16385, 1, 20000, TBitmap::DefaultDecodeMaxBytes, true},  // raised by the setter
      {".jpg", 20000, 1, 20000, TBitmap::DefaultDecodeMaxBytes, true},
  };
  for (const TCase& c : cases) {
    const std::vector<uint8_t> bytes = Encoded(c.Extension, c.Width, c.Height);
    TBitmap::SetDecodeLimits(c.MaxSide ? c.MaxSide : TBitmap::DefaultDecodeMaxSide,
                             c.MaxBytes ? c.MaxBytes : TBitmap::DefaultDecodeMaxBytes);
    TOwned<TBitmap> bitmap(New<TBitmap>());
    const std::string what = std::string(c.Extension) + " " + std::to_string(c.Width) + "x" + std::to_string(c.Height);
    if (c.Loads) {
      EXPECT_NO_THROW(bitmap->LoadFromBytes(bytes)) << what;
      EXPECT_EQ(bitmap->GetWidth(), c.Width) << what;
      continue;
    }
    try {
      bitmap->LoadFromBytes(bytes);
      ADD_FAILURE() << what << ": loaded";
    } catch (const EBitmapLoadingFailed& e) {
      const std::string size = std::to_string(c.Width) + "x" + std::to_string(c.Height) + " is too large";
      EXPECT_NE(std::string(e.what()).find(size), std::string::npos) << what << ": " << e.what();
    }
    EXPECT_TRUE(bitmap->IsEmpty()) << what;
  }

  // A progressive JPEG keeps 6 bytes a pixel of coefficients at 4:4:4: they count too.
  TBitmap::SetDecodeLimits(64, 64 * 64 * 4);
  TOwned<TBitmap> jpeg(New<TBitmap>());
  jpeg->LoadFromFile(CorpusDir + "/jpeg-444-64x64.jpg");
  EXPECT_EQ(jpeg->GetWidth(), 64);
  try {
    jpeg->LoadFromFile(CorpusDir + "/jpeg-progressive-444-64x64.jpg");
    ADD_FAILURE() << "progressive JPEG loaded";
  } catch (const EBitmapLoadingFailed& e) {
    EXPECT_NE(std::string(e.what()).find("JPEG image of 64x64 is too large"), std::string::npos) << e.what();
  }
  TBitmap::SetDecodeLimits(64, 64 * 64 * 16);
  jpeg->LoadFromFile(CorpusDir + "/jpeg-progressive-444-64x64.jpg");
  EXPECT_EQ(jpeg->GetWidth(), 64);

  // The setter takes at most the bitmap's own limits and keeps the old values on refusal.
  TBitmap::SetDecodeLimits(100, 4000);
  for (auto [side, bytes] : {std::pair<int32_t, int64_t>{0, 4000}, {TBitmap::MaxSide + 1, 4000}, {100, 3},
                             {100, TBitmap::MaxBytes + 1}}) {
    EXPECT_THROW(TBitmap::SetDecodeLimits(side, bytes), EArgumentOutOfRangeException) << side << " " << bytes;
    EXPECT_EQ(TBitmap::GetDecodeMaxSide(), 100);
    EXPECT_EQ(TBitmap::GetDecodeMaxBytes(), 4000);
  }
  TBitmap::SetDecodeLimits(TBitmap::MaxSide, TBitmap::MaxBytes);
  EXPECT_EQ(TBitmap::GetDecodeMaxSide(), TBitmap::MaxSide);
}

TEST(PixelFormat, OrdinalsNamesAndSizesFollowTheSharedTable) {
  struct TRow {
    const char* Name;
    int32_t Bytes;
  } rows[] = {{"None", 0},    {"RGB", 3},      {"RGBA", 4},     {"BGR", 3},      {"BGRA", 4},     {"RGBA16", 8},
              {"BGR_565", 2}, {"BGRA4", 2},    {"BGR4", 2},     {"BGR5_A1", 2},  {"BGR5", 2},     {"BGR10_A2", 4},
              {"RGB10_A2", 4}, {"L", 1},       {"LA", 2},       {"LA4", 1},      {"L16", 2},      {"Alpha", 1},
              {"R16F", 2},    {"RG16F", 4},    {"RGBA16F", 8},  {"R32F", 4},     {"RG32F", 8},    {"RGBA32F", 16}};
  ASSERT_EQ(std::size(rows), 24u);
  for (int i = 0; i < 24; ++i) {
    const auto format = static_cast<TPixelFormat>(i);
    EXPECT_EQ(EnumToString(format), rows[i].Name) << i;
    EXPECT_EQ(StringToEnum<TPixelFormat>(rows[i].Name), format);
    EXPECT_EQ(PixelFormatBytes(format), rows[i].Bytes) << rows[i].Name;
  }
  EXPECT_EQ(PixelFormatBytes(static_cast<TPixelFormat>(24)), 0);
}

}  // namespace
}  // namespace quorvel
