// The TGA and DDS codecs, the bitmap import and the texture asset's DDS and TGA branches.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <random>
#include <thread>

#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wsign-compare"
#include <stb/stb_image.h>
#include <stb/stb_image_write.h>
#pragma GCC diagnostic pop

#include "framework/gui/Bitmap.h"
#include "framework/io/Path.h"
#include "framework/io/Stream.h"
#include "lib/formats/ImagingDDS.h"
#include "lib/formats/ImagingImport.h"
#include "lib/formats/ImagingTGA.h"
#include "lib/formats/assets/AssetsManager.h"

using namespace quorvel;
using F = TImageFormat;

namespace {

const TImageFormatDescriptor& D(F f) { return *ImageFormatDescriptor(f); }

const std::string CodecsDataDir = std::string(QUORVEL_TEST_DATA_DIR) + "/";

TBytes ReadAll(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return TBytes(std::istreambuf_iterator<char>(f), {});
}

struct Images {
  TDynImageDataArray List;
  ~Images() { ReleaseImageArray(List); }
  TImageData& operator[](size_t i) { return List[i]; }
};

std::string ClassAndMessageOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const Exception& e) {
    return std::string(e.ClassName()) + ": " + e.what();
  }
  return "(nothing raised)";
}

// The image as RGBA bytes, as stb_image delivers them.
std::vector<uint8_t> Rgba(const TImageData& img) {
  TImageData c{};
  DuplicateImageData(img, c);
  ChangeImageFormat(c, F::A8R8G8B8);
  std::vector<uint8_t> out(size_t(c.Size));
  const auto* p = static_cast<const uint8_t*>(c.Bits);
  for (int32_t i = 0; i < c.Width * c.Height; ++i) {
    out[size_t(i) * 4] = p[i * 4 + 2];
    out[size_t(i) * 4 + 1] = p[i * 4 + 1];
    out[size_t(i) * 4 + 2] = p[i * 4];
    out[size_t(i) * 4 + 3] = p[i * 4 + 3];
  }
  ReleaseImageData(c);
  return out;
}

std::vector<uint8_t> StbRgba(const TBytes& file, int& w, int& h) {
  int n = 0;
  uint8_t* p = stbi_load_from_memory(file.data(), int(file.size()), &w, &h, &n, 4);
  if (!p) return {};
  std::vector<uint8_t> out(p, p + size_t(w) * size_t(h) * 4);
  stbi_image_free(p);
  return out;
}

bool LoadTga(const TBytes& file, Images& out) {
  TOwned<TTargaFileFormat> tga(New<TTargaFileFormat>());
  return tga->LoadFromMemory(file.data(), int64_t(file.size()), out.List);
}

TBytes SaveWith(TImageFileFormat& codec, const TDynImageDataArray& images) {
  TBytesStream s;
  EXPECT_TRUE(codec.SaveToStream(&s, images));
  return s.GetBytes();
}

TBytes Tga(uint8_t type, uint16_t w, uint16_t h, uint8_t depth, uint8_t desc, const std::vector<uint8_t>& body,
           uint8_t mapType = 0, uint16_t mapLen = 0, uint8_t entry = 0) {
  const uint8_t header[18] = {0, mapType, type, 0, 0, uint8_t(mapLen), uint8_t(mapLen >> 8), entry, 0, 0, 0, 0,
                              uint8_t(w), uint8_t(w >> 8), uint8_t(h), uint8_t(h >> 8), depth, desc};
  // Sized once, then copied: g++ 12 at -O3 takes an insert behind an 18-byte list for an
  // access out of bounds (-Warray-bounds).
  TBytes f(sizeof header + body.size());
  std::copy(header, header + sizeof header, f.begin());
  std::copy(body.begin(), body.end(), f.begin() + sizeof header);
  return f;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// TGA

TEST(TargaCodec, AssimpFilesEqualStbImageAndEndWhereTheirDataEnds) {
  struct Case {
    const char* Name;
    int64_t EndFromBack;
  } cases[] = {{"tga/duckCM.tga", 0}, {"tga/holygrail.tga", 37}};
  for (const Case& c : cases) {
    const TBytes file = ReadAll(CodecsDataDir + c.Name);
    ASSERT_FALSE(file.empty()) << c.Name;
    TBytesStream stream(file);
    Images img;
    TOwned<TTargaFileFormat> tga(New<TTargaFileFormat>());
    ASSERT_TRUE(tga->LoadFromStream(&stream, img.List)) << c.Name;
    EXPECT_EQ(stream.GetPosition(), int64_t(file.size()) - c.EndFromBack) << c.Name;
    int w, h;
    const auto expected = StbRgba(file, w, h);
    ASSERT_EQ(img[0].Width, w);
    ASSERT_EQ(img[0].Height, h);
    EXPECT_TRUE(Rgba(img[0]) == expected) << c.Name;
  }
}

TEST(TargaCodec, FilesOfStbImageWriteAndOursEqualStbImage) {
  std::mt19937 rng(11);
  for (int comp = 1; comp <= 4; ++comp) {
    for (int rle = 0; rle <= 1; ++rle) {
      const int w = 13, h = 7;
      std::vector<uint8_t> px(size_t(w * h * comp));
      for (size_t i = 0; i < px.size(); ++i) px[i] = uint8_t(i % 5 < 3 ? 50 : rng());  // runs and noise
      stbi_write_tga_with_rle = rle;
      TBytes file;
      stbi_write_tga_to_func(
          [](void* ctx, void* data, int size) {
            auto* f = static_cast<TBytes*>(ctx);
            f->insert(f->end(), static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + size);
          },
          &file, w, h, comp, px.data());
      Images img;
      ASSERT_TRUE(LoadTga(file, img)) << comp << " " << rle;
      int sw, sh;
      EXPECT_TRUE(Rgba(img[0]) == StbRgba(file, sw, sh)) << "stb_image_write comp " << comp << " rle " << rle;
    }
  }
  // Ours: every supported format, plain and run-length encoded.
  for (F f : {F::Index8, F::Gray8, F::A1R5G5B5, F::R8G8B8, F::A8R8G8B8, F::X1R5G5B5, F::A8Gray8}) {
    for (int rle = 0; rle <= 1; ++rle) {
      TDynImageDataArray src(1);
      AllocateImageData(9, 5, f, src[0]);
      auto* b = static_cast<uint8_t*>(src[0].Bits);
      for (int32_t i = 0; i < src[0].Size; ++i) b[i] = uint8_t(i % 7 < 4 ? 0x3C : rng());
      if (src[0].Palette)
        for (int i = 0; i < 256; ++i) src[0].Palette[i].Color = 0xFF000000 | uint32_t(rng());
      TOwned<TTargaFileFormat> tga(New<TTargaFileFormat>());
      tga->SetUseRLE(rle);
      const TBytes file = SaveWith(*tga, src);
      Images back;
      ASSERT_TRUE(LoadTga(file, back));
      int sw, sh;
      auto stb = StbRgba(file, sw, sh);
      auto ours = Rgba(back[0]);
      if (f == F::A1R5G5B5 || f == F::X1R5G5B5)  // stb_image reads 16-bit files without alpha
        for (size_t i = 3; i < ours.size(); i += 4) ours[i] = stb[i];
      EXPECT_TRUE(ours == stb) << ImageFormatName(f) << " rle " << rle;
      if (f == F::A8R8G8B8 || f == F::R8G8B8 || f == F::Gray8) {
        EXPECT_TRUE(Rgba(back[0]) == Rgba(src[0])) << ImageFormatName(f);
      }
      ReleaseImageArray(src);
    }
  }
}

TEST(TargaCodec, HeaderCases) {
  {  // bottom-left origin flips; 0x20 keeps the rows
    const std::vector<uint8_t> rows = {1, 2, 3, 4, 5, 6};
    Images a, b;
    ASSERT_TRUE(LoadTga(Tga(2, 1, 2, 24, 0, rows), a));
    ASSERT_TRUE(LoadTga(Tga(2, 1, 2, 24, 0x20, rows), b));
    EXPECT_EQ(static_cast<uint8_t*>(a[0].Bits)[0], 4);
    EXPECT_EQ(static_cast<uint8_t*>(b[0].Bits)[0], 1);
    EXPECT_EQ(a[0].Format, F::R8G8B8);
  }
  {  // 16 bits without any alpha bit: X1R5G5B5
    Images a;
    ASSERT_TRUE(LoadTga(Tga(2, 2, 1, 16, 0x20, {0xFF, 0x7F, 0x00, 0x00}), a));
    EXPECT_EQ(a[0].Format, F::X1R5G5B5);
  }
  {  // 16-bit map entries shift left by 3; a 300-entry map fills 256 entries
    std::vector<uint8_t> body;
    for (int i = 0; i < 300; ++i) {
      const uint16_t v = i == 0 ? 0x8000 : i == 1 ? 0x7FFF : 0x8000;
      body.push_back(uint8_t(v));
      body.push_back(uint8_t(v >> 8));
    }
    body.push_back(1);
    body.push_back(0);
    Images a;
    ASSERT_TRUE(LoadTga(Tga(1, 2, 1, 8, 0x20, body, 1, 300, 16), a));
    EXPECT_EQ(a[0].Palette[0].Color, 0xFF000000u);
    EXPECT_EQ(a[0].Palette[1].Color, 0x00F8F8F8u);
    EXPECT_EQ(Rgba(a[0])[0], 248);
  }
  {  // a true-colour file with a colour map decodes as without one
    const std::vector<uint8_t> px = {10, 20, 30, 40, 50, 60};
    std::vector<uint8_t> withMap = {1, 2, 3, 4, 5, 6};  // two 24-bit entries
    withMap.insert(withMap.end(), px.begin(), px.end());
    Images a, b;
    ASSERT_TRUE(LoadTga(Tga(2, 2, 1, 24, 0x20, withMap, 1, 2, 24), a));
    ASSERT_TRUE(LoadTga(Tga(2, 2, 1, 24, 0x20, px), b));
    EXPECT_EQ(std::memcmp(a[0].Bits, b[0].Bits, 6), 0);
  }
  {  // gray at depth 16 is gray with alpha
    Images a;
    ASSERT_TRUE(LoadTga(Tga(3, 1, 1, 16, 0x28, {0x40, 0x80}), a));
    EXPECT_EQ(a[0].Format, F::A8Gray8);
    EXPECT_EQ(Rgba(a[0])[3], 0x80);
  }
}

// Descriptor bits 5 (top) and 4 (right) say where the first stored pixel lies: every depth,
// plain and run-length, comes out top-left first. A 2x2 file per origin and depth.
TEST(TargaCodec, OriginBitsPlaceThePixelsForEveryDepth) {
  const struct {
    const char* Name;
    uint8_t Type, Depth, AlphaBits;
    size_t Size;  // bytes per stored pixel
  } depths[] = {{"colour-mapped", 1, 8, 0, 1}, {"grey", 3, 8, 0, 1},   {"grey with alpha", 3, 16, 8, 2},
                {"15-bit", 2, 15, 0, 2},       {"16-bit", 2, 16, 1, 2}, {"24-bit", 2, 24, 0, 3},
                {"32-bit", 2, 32, 8, 4}};
  for (const auto& d : depths)
    for (const bool rle : {false, true})
      for (const uint8_t origin : {0x00, 0x10, 0x20, 0x30}) {
        const bool mapped = d.Type == 1;
        std::vector<std::vector<uint8_t>> stored(4);  // in file order
        for (size_t k = 0; k < 4; ++k)
          for (size_t j = 0; j < d.Size; ++j) stored[k].push_back(uint8_t(mapped ? k : 0x11 * (k + 1) + j));
        std::vector<uint8_t> body;
        if (mapped)
          for (int k = 0; k < 4 * 3; ++k) body.push_back(uint8_t(k * 20));  // four 24-bit entries
        if (rle) body.push_back(0x03);  // one raw packet of the four pixels
        for (const auto& p : stored) body.insert(body.end(), p.begin(), p.end());
        Images img;
        ASSERT_TRUE(LoadTga(Tga(uint8_t(d.Type + (rle ? 8 : 0)), 2, 2, d.Depth, uint8_t(origin | d.AlphaBits), body,
                                mapped ? 1 : 0, mapped ? 4 : 0, mapped ? 24 : 0),
                            img));
        std::vector<uint8_t> expected;
        for (int y = 0; y < 2; ++y)
          for (int x = 0; x < 2; ++x) {
            const int sy = origin & 0x20 ? y : 1 - y, sx = origin & 0x10 ? 1 - x : x;
            expected.insert(expected.end(), stored[size_t(sy * 2 + sx)].begin(), stored[size_t(sy * 2 + sx)].end());
          }
        const auto* bits = static_cast<const uint8_t*>(img[0].Bits);
        EXPECT_EQ(std::vector<uint8_t>(bits, bits + img[0].Size), expected)
            << d.Name << (rle ? " run-length" : " plain") << " origin 0x" << std::hex << int(origin);
        if (mapped) {
          EXPECT_EQ(img[0].Palette[1].Color, 0xFF64503Cu);  // the map is not reordered
        }
      }
}

TEST(TargaCodec, RunLengthEncoding) {
  struct Case {
    std::vector<uint8_t> Row;
    std::vector<uint8_t> Packets;
  } cases[] = {
      {{'A', 'A', 'A', 'B', 'C'}, {0x82, 'A', 0x00, 'B', 0x00, 'C'}},
      {std::vector<uint8_t>(200, 7), {0xFF, 7, 0xC7, 7}},
      {{1, 2, 3}, {0x01, 1, 2, 0x00, 3}},
  };
  for (const Case& c : cases) {
    TDynImageDataArray img(1);
    AllocateImageData(int32_t(c.Row.size()), 1, F::Gray8, img[0]);
    std::memcpy(img[0].Bits, c.Row.data(), c.Row.size());
    TOwned<TTargaFileFormat> tga(New<TTargaFileFormat>());
    tga->SetUseRLE(true);
    const TBytes file = SaveWith(*tga, img);
    EXPECT_EQ(TBytes(file.begin() + 18, file.end()), c.Packets);
    ReleaseImageArray(img);
  }
  {  // one pixel wide Gray8: the worst case of the encoder reads back whole
    TDynImageDataArray img(1);
    AllocateImageData(1, 300, F::Gray8, img[0]);
    for (int i = 0; i < 300; ++i) static_cast<uint8_t*>(img[0].Bits)[i] = uint8_t(i * 7);
    TOwned<TTargaFileFormat> tga(New<TTargaFileFormat>());
    tga->SetUseRLE(true);
    const TBytes file = SaveWith(*tga, img);
    EXPECT_EQ(file.size(), 18u + 600u);
    Images back;
    ASSERT_TRUE(LoadTga(file, back));
    EXPECT_EQ(std::memcmp(back[0].Bits, img[0].Bits, 300), 0);
    ReleaseImageArray(img);
  }
  {  // a packet past the image's end is cut
    Images a;
    ASSERT_TRUE(LoadTga(Tga(11, 2, 1, 8, 0x20, {0x84, 9}), a));
    EXPECT_EQ(static_cast<uint8_t*>(a[0].Bits)[1], 9);
  }
  {  // X1R5G5B5 saves as A1R5G5B5 with every alpha bit set and descriptor 0x21
    TDynImageDataArray img(1);
    AllocateImageData(1, 1, F::X1R5G5B5, img[0]);
    TOwned<TTargaFileFormat> tga(New<TTargaFileFormat>());
    const TBytes file = SaveWith(*tga, img);
    EXPECT_EQ(file[17], 0x21);
    EXPECT_EQ(file[19] & 0x80, 0x80);
    ReleaseImageArray(img);
  }
}

TEST(TargaCodec, EveryPrefixFailsOrLoadsTheSamePixels) {
  std::vector<TBytes> files;
  TDynImageDataArray img(1);
  AllocateImageData(5, 4, F::A8R8G8B8, img[0]);
  for (int32_t i = 0; i < img[0].Size; ++i) static_cast<uint8_t*>(img[0].Bits)[i] = uint8_t(i / 8);
  for (bool rle : {false, true}) {
    TOwned<TTargaFileFormat> tga(New<TTargaFileFormat>());
    tga->SetUseRLE(rle);
    files.push_back(SaveWith(*tga, img));
  }
  TBytes footer = files[0];
  const char tail[] = "\0\0\0\0\0\0\0\0TRUEVISION-XFILE.";
  footer.insert(footer.end(), tail, tail + 26);
  files.push_back(footer);
  for (size_t f = 0; f < files.size(); ++f) {
    Images full;
    ASSERT_TRUE(LoadTga(files[f], full));
    const size_t pixelEnd = f == 2 ? files[0].size() : files[f].size();
    for (size_t n = 0; n < files[f].size(); ++n) {
      TBytes cut(files[f].begin(), files[f].begin() + int64_t(n));
      Images part;
      if (n < pixelEnd) {
        const std::string m = ClassAndMessageOf([&] { LoadTga(cut, part); });
        EXPECT_EQ(m.rfind("EImagingError: ", 0), 0u) << f << " " << n << " " << m;
      } else {
        ASSERT_TRUE(LoadTga(cut, part)) << n;
        EXPECT_EQ(std::memcmp(part[0].Bits, full[0].Bits, size_t(full[0].Size)), 0);
      }
    }
  }
  ReleaseImageArray(img);
}

namespace {
std::atomic<int64_t> GLargestAllocation{0};
void RecordAllocation(int64_t bytes) {
  int64_t prev = GLargestAllocation.load();
  while (bytes > prev && !GLargestAllocation.compare_exchange_weak(prev, bytes)) {
  }
}
}  // namespace

TEST(ImagingCodecs, HugeHeadersAreRefusedBeforeAllocating) {
  SetImagingAllocHook(&RecordAllocation);
  GLargestAllocation = 0;
  // TGA: 65535 × 65535 × 4 bytes declared in 18 bytes.
  Images a;
  EXPECT_EQ(ClassAndMessageOf([&] { LoadTga(Tga(2, 0xFFFF, 0xFFFF, 32, 0x20, {1, 2, 3, 4}), a); }).rfind("EImagingError", 0),
            0u);
  EXPECT_EQ(ClassAndMessageOf([&] { LoadTga(Tga(2, 4000, 4000, 32, 0x20, {1, 2, 3, 4}), a); }).rfind("EImagingError", 0), 0u);
  // DDS: mip count 2^32 - 1, and a huge pitch.
  TBytes dds = ReadAll(CodecsDataDir + "dds/rgba.dds");
  TBytes mips = dds;
  mips[8] |= 0x02;  // mip-map count flag
  mips[28] = mips[29] = mips[30] = mips[31] = 0xFF;
  TBytes pitch = dds;
  pitch[20] = pitch[21] = pitch[22] = 0xFF;
  pitch[23] = 0x7F;
  for (const TBytes& file : {mips, pitch}) {
    TOwned<TDDSFileFormat> codec(New<TDDSFileFormat>());
    Images b;
    EXPECT_EQ(ClassAndMessageOf([&] { codec->LoadFromMemory(file.data(), int64_t(file.size()), b.List); })
                  .rfind("EImagingError", 0),
              0u);
  }
  SetImagingAllocHook(nullptr);
  EXPECT_EQ(GLargestAllocation.load(), 0);
}

// ---------------------------------------------------------------------------------------
// DDS

namespace {

bool LoadDds(const TBytes& file, Images& out, TDDSFileFormat* codec = nullptr) {
  TOwned<TDDSFileFormat> own;
  if (!codec) {
    own.reset(New<TDDSFileFormat>());
    codec = own.get();
  }
  return codec->LoadFromMemory(file.data(), int64_t(file.size()), out.List);
}

}  // namespace

TEST(DDSCodec, NvidiaFilesMatchTheirDecompressedTga) {
  struct Case {
    const char* Name;
    F Format;
    int Levels;
  } cases[] = {{"dxt1", F::DXT1, 7}, {"dxt5", F::DXT5, 7}, {"ati2", F::ATI2N, 7}};
  for (const Case& c : cases) {
    const TBytes file = ReadAll(CodecsDataDir + "dds/" + c.Name + ".dds");
    Images img;
    TOwned<TDDSFileFormat> codec(New<TDDSFileFormat>());
    ASSERT_TRUE(LoadDds(file, img, codec.get())) << c.Name;
    ASSERT_EQ(int(img.List.size()), c.Levels);
    EXPECT_EQ(codec->GetLoadedMipMapCount(), c.Levels);
    EXPECT_EQ(img[0].Format, c.Format);
    EXPECT_EQ(img[0].Width, 64);
    EXPECT_EQ(img[1].Width, 32);
    EXPECT_EQ(img[6].Width, 4);  // 1×1 held as one block
    // Each level's first block is the file's bytes.
    size_t offset = 128;
    for (int level = 0; level < c.Levels; ++level) {
      const size_t block = c.Format == F::DXT1 ? 8 : 16;
      EXPECT_EQ(std::memcmp(img[size_t(level)].Bits, file.data() + offset, block), 0) << c.Name << " " << level;
      offset += size_t(img[size_t(level)].Size);
    }
    EXPECT_EQ(offset, file.size());
    Images ref;
    ASSERT_TRUE(LoadTga(ReadAll(CodecsDataDir + "dds/" + c.Name + ".tga"), ref));
    const auto ours = Rgba(img[0]), theirs = Rgba(ref[0]);
    ASSERT_EQ(ours.size(), theirs.size());
    int worst = 0;
    for (size_t i = 0; i < ours.size(); ++i) {
      if (c.Format == F::ATI2N && i % 4 >= 2) continue;  // blue and alpha are conventions
      worst = std::max(worst, std::abs(int(ours[i]) - int(theirs[i])));
    }
    EXPECT_LE(worst, 1) << c.Name;
  }
}

TEST(DDSCodec, UncompressedAndCube) {
  Images rgba;
  ASSERT_TRUE(LoadDds(ReadAll(CodecsDataDir + "dds/rgba.dds"), rgba));
  ASSERT_EQ(rgba.List.size(), 1u);
  EXPECT_EQ(rgba[0].Format, F::A8R8G8B8);
  Images ref;
  ASSERT_TRUE(LoadTga(ReadAll(CodecsDataDir + "dds/dxt5.tga"), ref));  // same source, lossy
  TOwned<TDDSFileFormat> codec(New<TDDSFileFormat>());
  Images cube;
  ASSERT_TRUE(LoadDds(ReadAll(CodecsDataDir + "dds/cube.dds"), cube, codec.get()));
  EXPECT_EQ(cube.List.size(), 6u);
  EXPECT_TRUE(codec->GetLoadedCubeMap());
  EXPECT_EQ(codec->GetLoadedDepth(), 6);
  EXPECT_EQ(Rgba(cube[3])[2], 3 * 40);  // face f has blue f × 40
}

namespace {

TBytes DdsHeader(uint32_t flags, uint32_t w, uint32_t h, uint32_t pitch, uint32_t pfFlags, uint32_t bits,
                 uint32_t r, uint32_t g, uint32_t b, uint32_t a, uint32_t fourcc = 0) {
  uint32_t words[32] = {};
  words[0] = 0x20534444;
  words[1] = 124;
  words[2] = flags;
  words[3] = h;
  words[4] = w;
  words[5] = pitch;
  words[19] = 32;
  words[20] = pfFlags;
  words[21] = fourcc;
  words[22] = bits;
  words[23] = r;
  words[24] = g;
  words[25] = b;
  words[26] = a;
  words[27] = 0x1000;
  TBytes out(128);
  std::memcpy(out.data(), words, 128);
  return out;
}

}  // namespace

TEST(DDSCodec, HeaderCases) {
  {  // swapped masks: X8R8G8B8 with red and blue exchanged
    TBytes f = DdsHeader(0x1007, 1, 1, 0, 0x40, 32, 0xFF, 0xFF00, 0xFF0000, 0);
    for (uint8_t v : {1, 2, 3, 4}) f.push_back(v);
    Images img;
    ASSERT_TRUE(LoadDds(f, img));
    EXPECT_EQ(img[0].Format, F::X8R8G8B8);
    EXPECT_EQ(static_cast<uint8_t*>(img[0].Bits)[0], 3);
  }
  {  // 24 bits: R8G8B8 whatever the masks; pitch 12 rows lose their padding
    TBytes f = DdsHeader(0x100F, 2, 2, 12, 0x40, 24, 0, 0, 0, 0);
    for (int i = 0; i < 24; ++i) f.push_back(uint8_t(i));
    Images img;
    ASSERT_TRUE(LoadDds(f, img));
    EXPECT_EQ(img[0].Format, F::R8G8B8);
    const uint8_t* p = static_cast<uint8_t*>(img[0].Bits);
    EXPECT_EQ(p[5], 5);
    EXPECT_EQ(p[6], 12);
  }
  {  // a pitch below a row raises
    TBytes f = DdsHeader(0x100F, 2, 2, 4, 0x40, 24, 0, 0, 0, 0);
    f.resize(f.size() + 24);
    Images img;
    EXPECT_EQ(ClassAndMessageOf([&] { LoadDds(f, img); }).rfind("EImagingError", 0), 0u);
  }
  {  // unsupported FourCC: False, no images
    TBytes f = DdsHeader(0x1007, 4, 4, 0, 0x4, 0, 0, 0, 0, 0, 0x30315844);
    f.resize(f.size() + 64);
    Images img;
    EXPECT_FALSE(LoadDds(f, img));
    EXPECT_TRUE(img.List.empty());
  }
  {  // 127 bytes are not a DDS file; the message carries the test's text
    TBytes f = DdsHeader(0x1007, 1, 1, 0, 0x40, 32, 0xFF0000, 0xFF00, 0xFF, 0);
    f.resize(127);
    TBytesStream s(f);
    s.SetPosition(5);
    TOwned<TDDSFileFormat> codec(New<TDDSFileFormat>());
    Images img;
    char ptr[32];
    std::snprintf(ptr, sizeof ptr, "%016llX", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(&s)));
    const std::string m = ClassAndMessageOf([&] { codec->LoadFromStream(&s, img.List); });
    EXPECT_EQ(m, std::string("EImagingError: Error while loading images from stream ") + ptr +
                     " (file format: dds). Exception Message: Stream " + ptr +
                     " does not contain valid image in \"DirectDraw Surface\" format.");
    EXPECT_EQ(s.GetPosition(), 5);
  }
}

TEST(DDSCodec, SaveAndLoadEveryFormatWithLevelsCubesAndVolumes) {
  for (F f : {F::Gray8, F::A8Gray8, F::Gray16, F::R3G3B2, F::R5G6B5, F::A1R5G5B5, F::A4R4G4B4, F::X1R5G5B5,
              F::X4R4G4B4, F::R8G8B8, F::A8R8G8B8, F::X8R8G8B8, F::A16B16G16R16, F::R32F, F::A32B32G32R32F, F::R16F,
              F::A16B16G16R16F, F::DXT1, F::DXT3, F::DXT5, F::ATI1N, F::ATI2N}) {
    TDynImageDataArray src(3);
    for (int i = 0; i < 3; ++i) {
      AllocateImageData(16 >> i, 8 >> i, f, src[size_t(i)]);
      for (int32_t k = 0; k < src[size_t(i)].Size; ++k)
        static_cast<uint8_t*>(src[size_t(i)].Bits)[k] = D(f).IsFloat ? 0 : uint8_t(k * 13 + i);
    }
    TOwned<TDDSFileFormat> codec(New<TDDSFileFormat>());
    const TBytes file = SaveWith(*codec, src);
    uint32_t flags, caps1, mips;
    std::memcpy(&flags, &file[8], 4);
    std::memcpy(&mips, &file[28], 4);
    std::memcpy(&caps1, &file[108], 4);
    EXPECT_EQ(flags, 0xA1007u);
    EXPECT_EQ(caps1, 0x401008u);
    EXPECT_EQ(mips, 3u);
    Images back;
    ASSERT_TRUE(LoadDds(file, back)) << ImageFormatName(f);
    ASSERT_EQ(back.List.size(), 3u);
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(back[size_t(i)].Format, f);
      EXPECT_EQ(std::memcmp(back[size_t(i)].Bits, src[size_t(i)].Bits, size_t(src[size_t(i)].Size)), 0)
          << ImageFormatName(f) << " level " << i;
    }
    ReleaseImageArray(src);
  }
  {  // one image: flags 0x81007, linear size, no mip count; Index8 saved as A8R8G8B8
    TDynImageDataArray one(1);
    AllocateImageData(64, 64, F::Index8, one[0]);
    TOwned<TDDSFileFormat> codec(New<TDDSFileFormat>());
    const TBytes file = SaveWith(*codec, one);
    uint32_t flags, linear, mips;
    std::memcpy(&flags, &file[8], 4);
    std::memcpy(&linear, &file[20], 4);
    std::memcpy(&mips, &file[28], 4);
    EXPECT_EQ(flags, 0x81007u);
    EXPECT_EQ(linear, 16384u);
    EXPECT_EQ(mips, 0u);
    Images back;
    ASSERT_TRUE(LoadDds(file, back));
    EXPECT_EQ(back[0].Format, F::A8R8G8B8);
    ReleaseImageArray(one);
  }
  for (bool cube : {true, false}) {  // cube of 6 faces × 2 levels, volume of depth 4 × 2 levels
    const int count = cube ? 12 : 6;
    TDynImageDataArray src(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
      const int side = cube ? (i % 2 ? 4 : 8) : (i < 4 ? 8 : 4);
      AllocateImageData(side, side, F::A8R8G8B8, src[size_t(i)]);
      std::memset(src[size_t(i)].Bits, i * 10, size_t(src[size_t(i)].Size));
    }
    TOwned<TDDSFileFormat> codec(New<TDDSFileFormat>());
    codec->SetSaveCubeMap(cube);
    codec->SetSaveVolume(!cube);
    codec->SetSaveMipMapCount(2);
    codec->SetSaveDepth(cube ? 6 : 4);
    const TBytes file = SaveWith(*codec, src);
    TOwned<TDDSFileFormat> reader(New<TDDSFileFormat>());
    Images back;
    ASSERT_TRUE(LoadDds(file, back, reader.get()));
    ASSERT_EQ(int(back.List.size()), count);
    EXPECT_EQ(reader->GetLoadedCubeMap(), cube);
    EXPECT_EQ(reader->GetLoadedVolume(), !cube);
    for (int i = 0; i < count; ++i) {
      EXPECT_EQ(back[size_t(i)].Width, src[size_t(i)].Width) << i;
      EXPECT_EQ(static_cast<uint8_t*>(back[size_t(i)].Bits)[0], i * 10) << i;
    }
    ReleaseImageArray(src);
  }
}

TEST(DDSCodec, EveryPrefixFails) {
  for (const char* name : {"dds/dxt1.dds", "dds/cube.dds"}) {
    const TBytes file = ReadAll(CodecsDataDir + name);
    for (size_t n = 0; n < file.size(); ++n) {
      TBytes cut(file.begin(), file.begin() + int64_t(n));
      Images img;
      const std::string m = ClassAndMessageOf([&] { LoadDds(cut, img); });
      ASSERT_EQ(m.rfind("EImagingError: ", 0), 0u) << name << " " << n << " " << m;
    }
  }
}

TEST(ImagingCodecs, SavingSeveralImagesToOneTgaNameWritesNumberedFiles) {
  const std::string dir = TPath::Combine(TPath::GetTempPath(), "quorvel_sky_" + std::to_string(getpid()));
  TDirectory::CreateDirectory(dir);
  TDynImageDataArray src(3);
  for (auto& img : src) AllocateImageData(2, 2, F::R8G8B8, img);
  TOwned<TTargaFileFormat> tga(New<TTargaFileFormat>());
  ASSERT_TRUE(tga->SaveToFile(TPath::Combine(dir, "sky.tga"), src));
  for (const char* n : {"sky000.tga", "sky001.tga", "sky002.tga"}) EXPECT_TRUE(TFile::Exists(TPath::Combine(dir, n)));
  EXPECT_FALSE(TFile::Exists(TPath::Combine(dir, "sky.tga")));
  Images back;
  EXPECT_TRUE(tga->LoadFromFile(TPath::Combine(dir, "sky001.tga"), back.List));
  EXPECT_FALSE(tga->SaveToFile(TPath::Combine(dir, "none.tga"), {}));
  ReleaseImageArray(src);
  TDirectory::Delete(dir, true);
}

TEST(ImagingCodecs, FreeingACodecHandsItsOptionsBack) {
  const int32_t registered = GetImagingOption(ImagingTargaRLE);
  {
    TOwned<TTargaFileFormat> tga(New<TTargaFileFormat>());
    tga->SetUseRLE(true);
    EXPECT_EQ(GetImagingOption(ImagingTargaRLE), 1);
  }
  EXPECT_EQ(GetImagingOption(ImagingTargaRLE), registered);  // not a freed field
  SetImagingOption(ImagingDDSSaveDepth, 3);
  EXPECT_EQ(GetImagingOption(ImagingDDSSaveDepth), 3);
  SetImagingOption(ImagingDDSSaveDepth, 1);
}

// ---------------------------------------------------------------------------------------
// Import into bitmaps and the texture asset

TEST(ImagingImport, BlockAndGrayImagesArriveAsBgra) {
  TImageData dxt{};
  AllocateImageData(256, 256, F::A8R8G8B8, dxt);
  for (int32_t i = 0; i < 256 * 256; ++i) static_cast<uint32_t*>(dxt.Bits)[i] = 0x80000000u | uint32_t(i & 0xFF) << 8;
  ChangeImageFormat(dxt, F::DXT5);
  TOwned<TBitmap> bmp(New<TBitmap>());
  ImportImageToBitmap(dxt, bmp.get());
  EXPECT_EQ(bmp->GetWidth(), 256);
  TBitmapData data;
  ASSERT_TRUE(bmp->Map(TMapAccess::Read, data));
  const uint32_t p = uint32_t(data.GetPixel(10, 3));
  bmp->Unmap(data);
  EXPECT_NEAR(int(p >> 24), 0x80, 1);
  EXPECT_NEAR(int((p >> 8) & 0xFF), 10, 4);
  EXPECT_EQ(dxt.Format, F::DXT5);  // the image is left as it was
  ReleaseImageData(dxt);

  TImageData gray{};
  AllocateImageData(2, 1, F::Gray8, gray);
  static_cast<uint8_t*>(gray.Bits)[1] = 0x5A;
  ImportImageToBitmap(gray, bmp.get());
  ASSERT_TRUE(bmp->Map(TMapAccess::Read, data));
  EXPECT_EQ(uint32_t(data.GetPixel(1, 0)), 0xFF5A5A5Au);
  bmp->Unmap(data);
  ReleaseImageData(gray);
}

TEST(ImagingImport, TextureAssetReadsDdsAndTga) {
  const std::string dir = TPath::Combine(TPath::GetTempPath(), "quorvel_tex_" + std::to_string(getpid()));
  TDirectory::CreateDirectory(dir);
  TFile::Copy(CodecsDataDir + "dds/dxt1.dds", TPath::Combine(dir, "a.dds"));
  TFile::Copy(CodecsDataDir + "tga/holygrail.tga", TPath::Combine(dir, "b.tga"));
  {  // a DDS whose format no codec path reads ("DX10")
    TBytes f = DdsHeader(0x1007, 4, 4, 0, 0x4, 0, 0, 0, 0, 0, 0x30315844);
    f.resize(f.size() + 64);
    TFileStream s(TPath::Combine(dir, "c.dds"), fmCreate);
    s.WriteBuffer(f.data(), int64_t(f.size()));
  }
  struct Case {
    const char* Name;
    int32_t Width, Height;
  } cases[] = {{"a.dds", 64, 32}, {"b.tga", 256, 512}};
  for (const Case& c : cases) {
    TOwned<TQuorvelTextureAsset> asset(New<TQuorvelTextureAsset>(nullptr));
    asset->ImportFromStream(TPath::Combine(dir, c.Name), nullptr, {});
    TBitmap* bmp = asset->GetBitmap();
    ASSERT_NE(bmp, nullptr) << c.Name;
    EXPECT_EQ(bmp->GetWidth(), c.Width);
    EXPECT_EQ(bmp->GetHeight(), c.Height);
  }
  TOwned<TQuorvelTextureAsset> bad(New<TQuorvelTextureAsset>(nullptr));
  const std::string path = TPath::Combine(dir, "c.dds");
  bad->ImportFromStream(path, nullptr, {});
  EXPECT_EQ(ClassAndMessageOf([&] { bad->GetBitmap(); }), "EImagingError: failed to decode image \"" + path + "\"");
  TDirectory::Delete(dir, true);
}
