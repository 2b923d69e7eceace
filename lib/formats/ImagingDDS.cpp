#include "lib/formats/ImagingDDS.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "framework/gui/Bitmap.h"
#include "framework/rtl/Finally.h"
#include "framework/rtl/SysUtils.h"
#include "framework/rtl/Units.h"
#include "lib/formats/ImagingUtility.h"

namespace quorvel {

namespace {

using F = TImageFormat;

constexpr uint32_t Magic = 0x20534444;  // "DDS "
constexpr uint32_t FlagPitch = 0x8, FlagMipCount = 0x20000, FlagLinearSize = 0x80000, FlagDepth = 0x800000;
constexpr uint32_t PfAlphaPixels = 0x1, PfFourCC = 0x4, PfRGB = 0x40, PfLuminance = 0x20000;
constexpr uint32_t PfBump = 0x40000, PfBumpLuminance = 0x80000;
constexpr uint32_t Caps1Texture = 0x1000, Caps1Complex = 0x8, Caps1MipMap = 0x400000;
constexpr uint32_t Caps2CubeMap = 0x200, Caps2Volume = 0x200000, Caps2Faces = 0xFC00;

constexpr uint32_t FourCC(const char* s) {
  return uint32_t(uint8_t(s[0])) | uint32_t(uint8_t(s[1])) << 8 | uint32_t(uint8_t(s[2])) << 16 |
         uint32_t(uint8_t(s[3])) << 24;
}

struct DDSHeader {
  uint32_t Magic, Size, Flags, Height, Width, PitchOrLinearSize, Depth, MipMapCount;
  uint32_t Reserved1[11];
  uint32_t PfSize, PfFlags, PfFourCC, PfBitCount, PfRMask, PfGMask, PfBMask, PfAMask;
  uint32_t Caps1, Caps2, Caps3, Caps4, Reserved2;
};
static_assert(sizeof(DDSHeader) == 128);

const struct {
  uint32_t Code;
  F Format;
} FourCCs[] = {{36, F::A16B16G16R16},        {111, F::R16F},           {113, F::A16B16G16R16F},
               {114, F::R32F},               {116, F::A32B32G32R32F},  {FourCC("DXT1"), F::DXT1},
               {FourCC("DXT3"), F::DXT3},    {FourCC("DXT5"), F::DXT5}, {FourCC("ATI1"), F::ATI1N},
               {FourCC("ATI2"), F::ATI2N}};

bool MasksMatch(const DDSHeader& h, F f) {
  const TChannelMaskSet* m = ImageFormatDescriptor(f)->ChannelMasks;
  return m && h.PfRMask == m->RMask && h.PfGMask == m->GMask && h.PfBMask == m->BMask && h.PfAMask == m->AMask;
}

// The last matching candidate wins.
F ByMasks(const DDSHeader& h, std::initializer_list<F> candidates) {
  F found = F::Unknown;
  for (F f : candidates)
    if (MasksMatch(h, f)) found = f;
  return found;
}

F FormatOf(const DDSHeader& h, bool& swapRB) {
  swapRB = false;
  const uint32_t fl = h.PfFlags, bits = h.PfBitCount;
  if (fl & PfFourCC) {
    for (const auto& e : FourCCs)
      if (e.Code == h.PfFourCC) return e.Format;
    return F::Unknown;
  }
  if (fl & PfRGB) {
    if (fl & PfAlphaPixels) {
      if (bits == 16) return ByMasks(h, {F::A4R4G4B4, F::A1R5G5B5});
      if (bits == 32) {
        swapRB = h.PfBMask == 0xFF0000;
        return F::A8R8G8B8;
      }
      return F::Unknown;
    }
    if (bits == 8) return ByMasks(h, {F::R3G3B2});
    if (bits == 16) return ByMasks(h, {F::X4R4G4B4, F::X1R5G5B5, F::R5G6B5});
    if (bits == 24) return F::R8G8B8;
    if (bits == 32) {
      swapRB = h.PfBMask == 0xFF0000;
      return F::X8R8G8B8;
    }
    return F::Unknown;
  }
  if (fl & PfLuminance) {
    if (fl & PfAlphaPixels) return bits == 16 ? F::A8Gray8 : F::Unknown;
    return bits == 8 ? F::Gray8 : bits == 16 ? F::Gray16 : F::Unknown;
  }
  if ((fl & PfBump) && bits == 32 && h.PfBMask == 0xFF0000) {
    swapRB = true;
    return F::X8R8G8B8;
  }
  if (fl & PfBumpLuminance) {
    if (bits == 16) return F::A8Gray8;
    if (bits == 32 && h.PfAMask == 0xFF000000) {
      swapRB = true;
      return F::A8R8G8B8;
    }
    if (bits == 64) return F::A16B16G16R16;
  }
  return F::Unknown;
}

// Size of image i of a file with top size w × h, mip count m and depth d.
void LevelSize(int64_t i, int32_t w, int32_t h, int32_t m, int32_t d, bool volume, bool cube, int32_t& lw,
               int32_t& lh) {
  lw = w;
  lh = h;
  if (m <= 1) return;
  if (volume) {
    int64_t e = d;
    for (int k = 0; e - 1 < i; ++k) {
      lw = std::max(lw / 2, 1);
      lh = std::max(lh / 2, 1);
      if (lw == 1 && lh == 1) break;
      e += std::max(k < 31 ? d >> (k + 1) : 0, 1);
    }
    return;
  }
  if (cube) i %= m;
  for (int64_t k = 0; k < i && (lw > 1 || lh > 1); ++k) {
    lw = std::max(lw / 2, 1);
    lh = std::max(lh / 2, 1);
  }
}

TImageFileFormat* MakeDDS() { return New<TDDSFileFormat>(); }
void InitDDS() { AddImageFileFormat(&MakeDDS); }
const TUnitRegistration ImagingDDSUnit{{"Quorvel.Imaging.DDS", {"Quorvel.Imaging"}, &InitDDS, {}}};

}  // namespace

TDDSFileFormat::TDDSFileFormat() {
  FName = "DirectDraw Surface";
  FCanLoad = true;
  FCanSave = true;
  FIsMultiImageFormat = true;
  FSupportedFormats = {F::Gray8,    F::A8Gray8,  F::Gray16,   F::R3G3B2,       F::R5G6B5,        F::A1R5G5B5,
                       F::A4R4G4B4, F::X1R5G5B5, F::X4R4G4B4, F::R8G8B8,       F::A8R8G8B8,      F::X8R8G8B8,
                       F::A16B16G16R16, F::R32F, F::A32B32G32R32F, F::R16F,    F::A16B16G16R16F, F::DXT1,
                       F::DXT3,     F::DXT5,     F::ATI1N,    F::ATI2N};
  AddMasks("*.dds");
  TDDSFileFormat::RegisterOptions();
}

TDDSFileFormat::~TDDSFileFormat() {
  ReleaseOptions({{ImagingDDSLoadedCubeMap, &FLoadedCubeMap},
                  {ImagingDDSLoadedVolume, &FLoadedVolume},
                  {ImagingDDSLoadedMipMapCount, &FLoadedMipMapCount},
                  {ImagingDDSLoadedDepth, &FLoadedDepth},
                  {ImagingDDSSaveCubeMap, &FSaveCubeMap},
                  {ImagingDDSSaveVolume, &FSaveVolume},
                  {ImagingDDSSaveMipMapCount, &FSaveMipMapCount},
                  {ImagingDDSSaveDepth, &FSaveDepth}});
}

void TDDSFileFormat::RegisterOptions() {
  RegisterImagingOption(ImagingDDSLoadedCubeMap, &FLoadedCubeMap);
  RegisterImagingOption(ImagingDDSLoadedVolume, &FLoadedVolume);
  RegisterImagingOption(ImagingDDSLoadedMipMapCount, &FLoadedMipMapCount);
  RegisterImagingOption(ImagingDDSLoadedDepth, &FLoadedDepth);
  RegisterImagingOption(ImagingDDSSaveCubeMap, &FSaveCubeMap);
  RegisterImagingOption(ImagingDDSSaveVolume, &FSaveVolume);
  RegisterImagingOption(ImagingDDSSaveMipMapCount, &FSaveMipMapCount);
  RegisterImagingOption(ImagingDDSSaveDepth, &FSaveDepth);
}

bool TDDSFileFormat::TestFormat(const TImagingIO& AIO) {
  if (!AIO.Handle) return false;
  DDSHeader h{};
  const int64_t got = AIO.Read(&h, sizeof(h));
  AIO.Seek(-got, 1);
  return got == int64_t(sizeof(h)) && h.Magic == Magic && (h.Caps1 & Caps1Texture);
}

void TDDSFileFormat::CheckOptionsValidity() {
  if (FSaveCubeMap) FSaveVolume = false;
  if (FSaveVolume) FSaveCubeMap = false;
  FSaveDepth = std::max(FSaveDepth, 1);
  FSaveMipMapCount = std::max(FSaveMipMapCount, 1);
}

bool TDDSFileFormat::DecodeImages(const TImagingIO& io, TDynImageDataArray& AImages, bool) {
  FLoadedCubeMap = false;
  FLoadedVolume = false;
  FLoadedMipMapCount = 1;
  FLoadedDepth = 1;
  DDSHeader h{};
  io.ReadExact(&h, sizeof(h));
  bool swapRB = false;
  const F format = FormatOf(h, swapRB);
  if (format == F::Unknown) return false;
  const TImageFormatDescriptor& info = *ImageFormatDescriptor(format);

  const int32_t maxSide = TBitmap::GetDecodeMaxSide();
  if (h.Width < 1 || h.Height < 1 || h.Width > uint32_t(maxSide) || h.Height > uint32_t(maxSide))
    throw EImagingError(Format("invalid image size %u x %u", {int64_t(h.Width), int64_t(h.Height)}));
  const int32_t w = int32_t(h.Width), ht = int32_t(h.Height);
  int64_t count = 1;
  int32_t mips = 1;
  if (h.MipMapCount > 1) {
    mips = int32_t(std::min<uint32_t>(h.MipMapCount, INT32_MAX));
    count = mips;
    FLoadedMipMapCount = mips;
  }
  const bool volume = (h.Caps2 & Caps2Volume) && (h.Flags & FlagDepth);
  const bool cube = !volume && (h.Caps2 & Caps2CubeMap);
  int32_t depth = 1;
  if (volume) {
    if (h.Depth < 1 || h.Depth > uint32_t(maxSide)) throw EImagingError(Format("invalid volume depth %u", {int64_t(h.Depth)}));
    depth = int32_t(h.Depth);
    FLoadedVolume = true;
    FLoadedDepth = depth;
    count = VolumeSliceCount(depth, mips);
  } else if (cube) {
    const int32_t faces = std::popcount(h.Caps2 & Caps2Faces);
    FLoadedCubeMap = true;
    FLoadedDepth = faces;
    count *= faces;
  }
  const bool linear = (h.Flags & FlagLinearSize) || !(h.Flags & (FlagPitch | FlagLinearSize)) || info.IsBlockCompressed;

  // Every image's bytes are summed in 64 bits before anything is allocated: the header may
  // declare billions of levels or a huge pitch in a file of a few bytes.
  const int64_t available = io.Remaining();
  const int64_t maxBytes = TBitmap::GetDecodeMaxBytes();
  struct Plan {
    int32_t W, H;
    int64_t Size, Stored, Pitch;
  };
  std::vector<Plan> plans;
  int64_t stored = 0, held = 0;
  for (int64_t i = 0; i < count; ++i) {
    Plan p{};
    LevelSize(i, w, ht, mips, depth, volume, cube, p.W, p.H);
    int32_t aw = p.W, ah = p.H;
    AdjustDimensions(format, aw, ah);
    p.Size = DataSizeOf(format, aw, ah);
    const int64_t row = int64_t(p.W) * info.PixelSize;
    p.Pitch = (row + 3) / 4 * 4;
    if (linear) {
      p.Stored = p.Size;
      if (i == 0 && h.PitchOrLinearSize != 0) p.Stored = std::max<int64_t>(p.Size, h.PitchOrLinearSize);
    } else {
      if (i == 0 && h.PitchOrLinearSize != 0) p.Pitch = h.PitchOrLinearSize;
      if (p.Pitch < row) throw EImagingError(Format("row pitch %d is below a row of %d bytes", {p.Pitch, row}));
      p.Stored = p.Pitch * p.H;
    }
    stored += p.Stored;
    held += p.Size;
    if (stored > available) throw EImagingError("unexpected end of image data");
    if (held > maxBytes) throw EImagingError("images of the file are too large");
    plans.push_back(p);
  }

  AImages.assign(size_t(count), TImageData{});
  for (size_t i = 0; i < plans.size(); ++i) {
    const Plan& p = plans[i];
    TImageData& image = AImages[i];
    AllocateImageData(p.W, p.H, format, image);
    if (linear || p.Stored == image.Size) {
      io.ReadExact(image.Bits, image.Size);
      if (p.Stored > image.Size) io.Seek(p.Stored - image.Size, 1);
    } else {
      std::vector<uint8_t> tmp(static_cast<size_t>(p.Stored));
      io.ReadExact(tmp.data(), p.Stored);
      const int64_t row = int64_t(image.Width) * info.PixelSize;
      for (int32_t y = 0; y < image.Height; ++y)
        std::memcpy(static_cast<uint8_t*>(image.Bits) + y * row, tmp.data() + y * p.Pitch, size_t(row));
    }
    if (swapRB) ExchangeImageChannels(image, 2, 0);
  }
  return true;
}

void TDDSFileFormat::MakeFormatSupported(TImageData& AImage, const TImageFormatDescriptor& d) {
  F target;
  if (d.IsPaletted || d.IsBlockCompressed)
    target = F::A8R8G8B8;
  else if (d.IsFloat)
    target = d.FormatId == F::A16R16G16B16F ? F::A16B16G16R16F : F::A32B32G32R32F;
  else if (d.IsGray)
    target = d.HasAlpha ? F::A8Gray8 : d.PixelSize == 1 ? F::Gray8 : F::Gray16;
  else if (d.PixelSize >= 5)
    target = F::A16B16G16R16;
  else if (d.HasAlpha)
    target = F::A8R8G8B8;
  else
    target = F::X8R8G8B8;
  ChangeImageFormat(AImage, target);
}

bool TDDSFileFormat::EncodeImages(const TImagingIO& io, const TDynImageDataArray& AImages, int32_t) {
  const int32_t n = FLastIdx - FFirstIdx + 1;
  const bool cube = FSaveCubeMap && n >= int64_t(FSaveMipMapCount) * FSaveDepth;
  const bool volume = !cube && FSaveVolume && n >= VolumeSliceCount(FSaveDepth, FSaveMipMapCount);
  TImageData first{};
  bool mustBeFreed = false;
  auto cleanup = Finally([&] {
    if (mustBeFreed) ReleaseImageData(first);
  });
  if (!MakeCompatible(AImages[size_t(FFirstIdx)], first, mustBeFreed)) return false;
  const TImageFormatDescriptor& info = *ImageFormatDescriptor(first.Format);
  const int32_t levels = cube || volume ? FSaveMipMapCount : std::min(n, MipLevelCount(first.Width, first.Height));
  int64_t images = levels;
  DDSHeader h{};
  h.Magic = Magic;
  h.Size = 124;
  h.Flags = 0x81007;
  h.Height = uint32_t(first.Height);
  h.Width = uint32_t(first.Width);
  h.PitchOrLinearSize = uint32_t(first.Size);
  h.PfSize = 32;
  h.Caps1 = Caps1Texture;
  if (levels > 1) {
    h.Flags = 0xA1007;
    h.Caps1 = 0x401008;
    h.MipMapCount = uint32_t(levels);
  }
  if (cube) {
    h.Caps1 |= Caps1Complex;
    h.Caps2 = Caps2CubeMap;
    for (int32_t f = 0; f < std::min(FSaveDepth, 6); ++f) h.Caps2 |= 0x400u << f;
    images = int64_t(FSaveDepth) * FSaveMipMapCount;
  } else if (volume) {
    h.Flags |= FlagDepth;
    h.Caps1 |= Caps1Complex;
    h.Caps2 = Caps2Volume;
    h.Depth = uint32_t(FSaveDepth);
    images = VolumeSliceCount(FSaveDepth, FSaveMipMapCount);
  }
  if (info.IsFloat || info.IsBlockCompressed || info.PixelSize > 4) {
    h.PfFlags = PfFourCC;
    for (const auto& e : FourCCs)
      if (e.Format == first.Format) h.PfFourCC = e.Code;
  } else if (info.IsGray) {
    h.PfFlags = PfLuminance;
    h.PfBitCount = uint32_t(info.PixelSize * 8);
    if (first.Format == F::A8Gray8) {
      h.PfFlags = 0x20001;
      h.PfRMask = 0xFF;
      h.PfAMask = 0xFF00;
    } else {
      h.PfRMask = first.Format == F::Gray8 ? 0xFF : 0xFFFF;
    }
  } else {
    h.PfFlags = PfRGB;
    h.PfBitCount = uint32_t(info.PixelSize * 8);
    if (info.HasAlpha) {
      h.PfFlags = 0x41;
      h.PfAMask = 0xFF000000;
    }
    if (info.IsPacked) {
      h.PfRMask = info.ChannelMasks->RMask;
      h.PfGMask = info.ChannelMasks->GMask;
      h.PfBMask = info.ChannelMasks->BMask;
      h.PfAMask = info.ChannelMasks->AMask;
    } else {
      h.PfRMask = 0xFF0000;
      h.PfGMask = 0xFF00;
      h.PfBMask = 0xFF;
    }
  }
  io.WriteExact(&h, sizeof(h));
  io.WriteExact(first.Bits, first.Size);
  for (int64_t i = 1; i < images && FFirstIdx + i <= FLastIdx; ++i) {
    const TImageData& image = AImages[size_t(FFirstIdx + i)];
    int32_t lw, lh;
    LevelSize(i, first.Width, first.Height, int32_t(h.MipMapCount), int32_t(std::max<uint32_t>(h.Depth, 1)), volume,
              cube, lw, lh);
    int32_t aw = lw, ah = lh;
    AdjustDimensions(first.Format, aw, ah);
    if (image.Format == first.Format && image.Width == aw && image.Height == ah) {
      io.WriteExact(image.Bits, image.Size);
      continue;
    }
    TImageData fixed{};
    auto release = Finally([&] { ReleaseImageData(fixed); });
    DuplicateImageData(image, fixed);
    ChangeImageFormat(fixed, first.Format);
    ScaleImageData(fixed, lw, lh, TImageStretchMode::Bilinear);
    io.WriteExact(fixed.Bits, fixed.Size);
  }
  return true;
}

}  // namespace quorvel
