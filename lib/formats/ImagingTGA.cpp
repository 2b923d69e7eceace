#include "lib/formats/ImagingTGA.h"

#include <algorithm>
#include <cstring>

#include "framework/gui/Bitmap.h"
#include "framework/rtl/Finally.h"
#include "framework/rtl/SysUtils.h"
#include "framework/rtl/Units.h"

namespace quorvel {

namespace {

#pragma pack(push, 1)
struct TargaHeader {
  uint8_t IDLength;
  uint8_t ColorMapType;
  uint8_t ImageType;
  uint16_t ColorMapOff;
  uint16_t ColorMapLength;
  uint8_t ColorEntrySize;
  uint16_t XOrg, YOrg;
  uint16_t Width, Height;
  uint8_t PixelSize;
  uint8_t Desc;
};
#pragma pack(pop)
static_assert(sizeof(TargaHeader) == 18);

constexpr int32_t ExtensionSize = 495;
constexpr int32_t FooterSize = 26;

TImageFormat FormatOf(const TargaHeader& h) {
  using F = TImageFormat;
  switch (h.ImageType) {
    case 1:
    case 9: return F::Index8;
    case 2:
    case 10:
      switch (h.PixelSize) {
        case 15: return F::X1R5G5B5;
        case 16: return F::A1R5G5B5;
        case 24: return F::R8G8B8;
        case 32: return F::A8R8G8B8;
        default: break;
      }
      break;
    case 3:
    case 11:
      // Gray with alpha is stored in 16 bits.
      return h.PixelSize == 16 ? F::A8Gray8 : F::Gray8;
    default: break;
  }
  switch (h.PixelSize) {
    case 8: return F::Gray8;
    case 15: return F::X1R5G5B5;
    case 16: return F::A1R5G5B5;
    case 24: return F::R8G8B8;
    case 32: return F::A8R8G8B8;
    default: return F::Unknown;
  }
}

// Reads through a small reused buffer: run-length data is read packet by packet, and a
// buffer of the whole remaining file would cost more in fresh pages than the decoding.
struct ChunkReader {
  const TImagingIO& IO;
  std::vector<uint8_t> Buf = std::vector<uint8_t>(size_t(65536));
  size_t Pos = 0, Len = 0;

  // The next n bytes (n at most the buffer), or nullptr when the data ends first.
  const uint8_t* Take(size_t n) {
    if (Len - Pos < n) {
      std::memmove(Buf.data(), Buf.data() + Pos, Len - Pos);
      Len -= Pos;
      Pos = 0;
      while (Len < Buf.size()) {
        const int64_t got = IO.Read(Buf.data() + Len, int64_t(Buf.size() - Len));
        if (got <= 0) break;
        Len += size_t(got);
      }
      if (Len < n) return nullptr;
    }
    const uint8_t* p = Buf.data() + Pos;
    Pos += n;
    return p;
  }
  // Gives the bytes read ahead back to the source.
  void Finish() { IO.Seek(-int64_t(Len - Pos), 1); }
};

// Decodes run-length packets until the image is full; a packet that reaches past the image
// is cut. The position ends right after the last consumed byte.
void DecodeRLE(const TImagingIO& io, TImageData& image, int32_t ps) {
  const int64_t total = int64_t(image.Width) * image.Height;
  ChunkReader in{io};
  int64_t out = 0;
  auto* dst = static_cast<uint8_t*>(image.Bits);
  const auto shortData = [] { throw EImagingError("unexpected end of image data"); };
  while (out < total) {
    const uint8_t* hp = in.Take(1);
    if (!hp) shortData();
    const uint8_t h = *hp;
    const int64_t count = (h & 0x7F) + 1;
    const int64_t n = std::min(count, total - out);
    uint8_t* d = dst + out * ps;
    if (h & 0x80) {
      const uint8_t* p = in.Take(size_t(ps));
      if (!p) shortData();
      if (ps == 4) {
        uint32_t v;
        std::memcpy(&v, p, 4);
        for (int64_t k = 0; k < n; ++k) std::memcpy(d + k * 4, &v, 4);
      } else if (ps == 1) {
        std::memset(d, *p, size_t(n));
      } else {
        for (int64_t k = 0; k < n; ++k) std::memcpy(d + k * ps, p, size_t(ps));
      }
    } else {
      const uint8_t* p = in.Take(size_t(n * ps));
      if (!p) shortData();
      std::memcpy(d, p, size_t(n * ps));
      // The cut part of a packet is consumed when it is there.
      for (int64_t k = n; k < count && in.Take(size_t(ps)); ++k) {
      }
    }
    out += n;
  }
  in.Finish();
}

void SkipTrailer(const TImagingIO& io) {
  bool extensionSkipped = false;
  while (!io.AtEnd()) {
    extensionSkipped = false;
    uint16_t size = 0;
    const int64_t got = io.Read(&size, 2);
    if (got == 2 && size == ExtensionSize && io.Remaining() >= ExtensionSize - 2) {
      io.Seek(ExtensionSize - 2, 1);
      extensionSkipped = true;
    } else {
      io.Seek(-got, 1);
    }
    uint8_t footer[FooterSize];
    const int64_t n = io.Read(footer, FooterSize);
    if (n < FooterSize) {
      io.Seek(-n, 1);
      if (!extensionSkipped) break;
      continue;
    }
    if (std::memcmp(footer + 8, "TRUEVISION-XFILE", 16) == 0) continue;
    io.Seek(-FooterSize, 1);
    if (!extensionSkipped) break;
  }
}

void EncodeRLERow(const uint8_t* row, int32_t width, int32_t ps, std::vector<uint8_t>& out) {
  auto same = [&](int32_t a, int32_t b) { return std::memcmp(row + a * ps, row + b * ps, size_t(ps)) == 0; };
  int32_t i = 0;
  while (i < width) {
    const int32_t left = width - i;
    int32_t raw;
    if (left == 1) {
      raw = 1;
    } else {
      raw = 0;
      while (raw < left - 1 && !same(i + raw, i + raw + 1)) ++raw;
    }
    int32_t rep = 1;
    while (rep < left && same(i, i + rep)) ++rep;
    raw = std::min(raw, 128);
    rep = std::min(rep, 128);
    if (raw > 0) {
      out.push_back(uint8_t(raw - 1));
      out.insert(out.end(), row + int64_t(i) * ps, row + int64_t(i + raw) * ps);
      i += raw;
    } else {
      out.push_back(uint8_t((rep - 1) | 0x80));
      out.insert(out.end(), row + int64_t(i) * ps, row + int64_t(i + 1) * ps);
      i += rep;
    }
  }
}

TImageFileFormat* MakeTarga() { return New<TTargaFileFormat>(); }

void InitTGA() { AddImageFileFormat(&MakeTarga); }

const TUnitRegistration ImagingTGAUnit{{"Quorvel.Imaging.TGA", {"Quorvel.Imaging"}, &InitTGA, {}}};

}  // namespace

TTargaFileFormat::TTargaFileFormat() {
  FName = "Truevision Targa Image";
  FCanLoad = true;
  FCanSave = true;
  FIsMultiImageFormat = false;
  FSupportedFormats = {TImageFormat::Index8, TImageFormat::Gray8, TImageFormat::A1R5G5B5, TImageFormat::R8G8B8,
                       TImageFormat::A8R8G8B8};
  AddMasks("*.tga");
  RegisterImagingOption(ImagingTargaRLE, &FUseRLE);
}

TTargaFileFormat::~TTargaFileFormat() { ReleaseOptions({{ImagingTargaRLE, &FUseRLE}}); }

void TTargaFileFormat::RegisterOptions() { RegisterImagingOption(ImagingTargaRLE, &FUseRLE); }

bool TTargaFileFormat::TestFormat(const TImagingIO& AIO) {
  if (!AIO.Handle) return false;
  TargaHeader h{};
  const int64_t got = AIO.Read(&h, sizeof(h));
  AIO.Seek(-got, 1);
  if (got != int64_t(sizeof(h))) return false;
  const uint8_t types[] = {0, 1, 2, 3, 9, 10, 11};
  const uint8_t depths[] = {1, 8, 15, 16, 24, 32};
  const uint8_t entries[] = {0, 16, 24, 32};
  return std::find(std::begin(types), std::end(types), h.ImageType) != std::end(types) &&
         std::find(std::begin(depths), std::end(depths), h.PixelSize) != std::end(depths) &&
         std::find(std::begin(entries), std::end(entries), h.ColorEntrySize) != std::end(entries);
}

bool TTargaFileFormat::DecodeImages(const TImagingIO& io, TDynImageDataArray& AImages, bool) {
  AImages.assign(1, TImageData{});
  TargaHeader h{};
  io.ReadExact(&h, sizeof(h));
  io.Seek(h.IDLength, 1);
  const TImageFormat format = FormatOf(h);
  if (format == TImageFormat::Unknown) throw EImagingError(Format("unsupported pixel depth %d", {int32_t(h.PixelSize)}));
  const TImageFormatDescriptor& info = *ImageFormatDescriptor(format);
  // Sizes are checked before anything is allocated: a few header bytes may declare more
  // pixels than the file holds or than the framework accepts.
  const int64_t pixels = int64_t(h.Width) * h.Height;
  const int64_t bytes = pixels * info.PixelSize;
  const int64_t mapBytes = h.ColorMapType == 1 ? int64_t((h.ColorEntrySize + 7) / 8) * h.ColorMapLength : 0;
  const int64_t needed = mapBytes + (h.ImageType >= 9 ? (pixels + 127) / 128 * (1 + info.PixelSize) : bytes);
  if (h.Width > TBitmap::GetDecodeMaxSide() || h.Height > TBitmap::GetDecodeMaxSide() ||
      bytes > TBitmap::GetDecodeMaxBytes())
    throw EImagingError(Format("image of %d x %d pixels is too large", {int32_t(h.Width), int32_t(h.Height)}));
  if (needed > io.Remaining()) throw EImagingError("unexpected end of image data");
  TImageData& image = AImages[0];
  AllocateImageData(h.Width, h.Height, format, image);

  if (h.ColorMapType == 1) {
    std::vector<uint8_t> map(static_cast<size_t>(mapBytes));
    io.ReadExact(map.data(), mapBytes);
    if ((h.ImageType == 1 || h.ImageType == 9) && image.Palette) {
      const int32_t entry = (h.ColorEntrySize + 7) / 8;
      // An entry size of 0 declares entries without bytes: nothing to convert.
      const int32_t n = entry > 0 ? std::min<int32_t>(h.ColorMapLength, 256) : 0;
      for (int32_t i = 0; i < n; ++i) {
        const uint8_t* e = map.data() + size_t(i) * size_t(entry);
        TColor32Rec& c = image.Palette[i];
        if (entry == 2) {
          const uint16_t v = uint16_t(e[0] | (e[1] << 8));
          c.B = uint8_t((v & 0x1F) << 3);
          c.G = uint8_t(((v >> 5) & 0x1F) << 3);
          c.R = uint8_t(((v >> 10) & 0x1F) << 3);
          c.A = (v & 0x8000) ? 255 : 0;
        } else if (entry >= 3) {
          c.B = e[0];
          c.G = e[1];
          c.R = e[2];
          c.A = entry == 4 ? e[3] : 255;
        }
      }
    }
  }

  if (h.ImageType >= 9)
    DecodeRLE(io, image, info.PixelSize);
  else
    io.ReadExact(image.Bits, image.Size);

  if (format == TImageFormat::A1R5G5B5) {
    const auto* p = static_cast<const uint8_t*>(image.Bits);
    bool alpha = false;
    for (int64_t i = 0; i < pixels && !alpha; ++i) alpha = (p[i * 2 + 1] & 0x80) != 0;
    if (!alpha) image.Format = TImageFormat::X1R5G5B5;
  }

  SkipTrailer(io);
  if (h.Desc < 31) MirrorImageVertically(image);
  // Bit 4: each row was stored from its right end.
  if (h.Desc & 0x10) MirrorImageHorizontally(image);
  return true;
}

void TTargaFileFormat::MakeFormatSupported(TImageData& AImage, const TImageFormatDescriptor& AInfo) {
  const TImageFormatDescriptor* d = &AInfo;
  if (d->IsBlockCompressed) d = ImageFormatDescriptor(d->DecodedFormat);
  TImageFormat target;
  if (d->IsGray)
    target = d->HasAlpha ? TImageFormat::A8R8G8B8 : TImageFormat::Gray8;
  else if (d->IsPaletted)
    target = TImageFormat::Index8;
  else if (d->HasAlpha)
    target = TImageFormat::A8R8G8B8;
  else if (d->IsPacked)
    target = TImageFormat::A1R5G5B5;
  else
    target = TImageFormat::R8G8B8;
  ChangeImageFormat(AImage, target);
}

bool TTargaFileFormat::EncodeImages(const TImagingIO& io, const TDynImageDataArray& AImages, int32_t AIndex) {
  TImageData image{};
  bool mustBeFreed = false;
  auto cleanup = Finally([&] {
    if (mustBeFreed) ReleaseImageData(image);
  });
  if (!MakeCompatible(AImages[size_t(AIndex)], image, mustBeFreed)) return false;
  const TImageFormatDescriptor& info = *ImageFormatDescriptor(image.Format);
  TargaHeader h{};
  h.ColorMapType = info.PaletteSize > 0 ? 1 : 0;
  h.ImageType = uint8_t((info.IsPaletted ? 1 : info.IsGray ? 3 : 2) + (FUseRLE ? 8 : 0));
  h.ColorMapLength = uint16_t(info.PaletteSize);
  h.ColorEntrySize = info.PaletteSize > 0 ? 24 : 0;
  if (image.Width > 0xFFFF || image.Height > 0xFFFF) throw EImagingError("image too large for a TGA file");
  h.Width = uint16_t(image.Width);
  h.Height = uint16_t(image.Height);
  h.PixelSize = uint8_t(info.PixelSize * 8);
  h.Desc = image.Format == TImageFormat::A8R8G8B8 ? 0x28 : image.Format == TImageFormat::A1R5G5B5 ? 0x21 : 0x20;
  io.WriteExact(&h, sizeof(h));
  if (info.PaletteSize > 0) {
    std::vector<uint8_t> pal(size_t(info.PaletteSize) * 3);
    for (int32_t i = 0; i < info.PaletteSize; ++i) {
      pal[size_t(i) * 3] = image.Palette[i].B;
      pal[size_t(i) * 3 + 1] = image.Palette[i].G;
      pal[size_t(i) * 3 + 2] = image.Palette[i].R;
    }
    io.WriteExact(pal.data(), int64_t(pal.size()));
  }
  if (FUseRLE) {
    // Worst case: one header byte per pixel.
    std::vector<uint8_t> out;
    out.reserve(size_t(image.Height) * size_t(image.Width) * size_t(info.PixelSize + 1));
    const int64_t rowBytes = int64_t(image.Width) * info.PixelSize;
    for (int32_t y = 0; y < image.Height; ++y)
      EncodeRLERow(static_cast<const uint8_t*>(image.Bits) + y * rowBytes, image.Width, info.PixelSize, out);
    io.WriteExact(out.data(), int64_t(out.size()));
  } else {
    io.WriteExact(image.Bits, image.Size);
  }
  return true;
}

}  // namespace quorvel
