#include "lib/formats/Imaging.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "framework/io/Stream.h"
#include "framework/rtl/Finally.h"
#include "framework/rtl/SysUtils.h"
#include "framework/rtl/Units.h"
#include "lib/formats/ImagingUtility.h"

namespace quorvel {

namespace {

std::atomic<TImagingAllocHook> GAllocHook{nullptr};

// The routine's message, with the inner failure's text appended.
[[noreturn]] void RaiseImaging(const std::string& AMessage, const std::exception& AInner) {
  throw EImagingError(AMessage + " Exception Message: " + AInner.what());
}

void* AllocZeroed(int64_t ABytes) {
  if (TImagingAllocHook hook = GAllocHook.load()) hook(ABytes);
  if (ABytes <= 0 || ABytes > INT32_MAX) throw EImagingError(Format("cannot allocate %d bytes", {ABytes}));
  void* p = std::calloc(size_t(ABytes), 1);
  if (!p) throw EImagingError(Format("cannot allocate %d bytes", {ABytes}));
  return p;
}

const TImageFormatDescriptor& Info(TImageFormat f) {
  const TImageFormatDescriptor* d = ImageFormatDescriptor(f);
  if (!d) throw EAssertionFailed("invalid image format");
  return *d;
}

TImageFormat ResolveDefault(TImageFormat f) { return f == TImageFormat::Default ? DefaultImageFormat : f; }

void CheckPrecondition(bool ACondition, const char* AWhat) {
  if (!ACondition) throw EAssertionFailed(AWhat);
}

// ---------------------------------------------------------------------------------------
// Options

struct OptionRegistry {
  std::recursive_mutex Lock;
  std::vector<int32_t*> Vars;
  std::vector<std::vector<int32_t>> Stack;
};
OptionRegistry& Options() {
  static OptionRegistry registry;
  return registry;
}

int32_t GLoadOverrideFormat = 0;
int32_t GSaveOverrideFormat = 0;

// ---------------------------------------------------------------------------------------
// Format list

struct FormatList {
  std::mutex Lock;
  std::vector<TOwned<TImageFileFormat>> Items;
  // Without a unit shut-down (a program that exits without finalising): the codecs are
  // freed outside the list, since they look it up while they go.
  ~FormatList() {
    std::vector<TOwned<TImageFileFormat>> items;
    {
      std::lock_guard<std::mutex> guard(Lock);
      items.swap(Items);
    }
  }
};
FormatList& Formats() {
  static FormatList list;
  return list;
}

void InitImaging() {
  RegisterImagingOption(ImagingColorReductionMask, &GColorReductionMask);
  RegisterImagingOption(ImagingLoadOverrideFormat, &GLoadOverrideFormat);
  RegisterImagingOption(ImagingSaveOverrideFormat, &GSaveOverrideFormat);
}

void FinImaging() {
  std::vector<TOwned<TImageFileFormat>> items;
  {
    std::lock_guard<std::mutex> guard(Formats().Lock);
    items.swap(Formats().Items);
  }
  items.clear();  // outside the lock: codecs hand their options back while they go
  std::lock_guard<std::recursive_mutex> guard(Options().Lock);
  Options().Vars.clear();
  Options().Stack.clear();
}

const TUnitRegistration ImagingUnit{{"Quorvel.Imaging", {}, &InitImaging, &FinImaging}};

}  // namespace

void SetImagingAllocHook(TImagingAllocHook AHook) { GAllocHook = AHook; }

void ClearImageData(TImageData& AImage) { AImage = TImageData{}; }

bool IsImageDataValid(const TImageData& AImage) {
  const TImageFormatDescriptor* d = ImageFormatDescriptor(AImage.Format);
  return d && AImage.Format != TImageFormat::Unknown && AImage.Bits &&
         DataSizeOf(AImage.Format, AImage.Width, AImage.Height) == AImage.Size && AImage.Size > 0;
}

bool AreImagesValid(const TDynImageDataArray& AImages) {
  if (AImages.empty()) return false;
  return std::all_of(AImages.begin(), AImages.end(), IsImageDataValid);
}

bool AllocateImageData(int32_t AWidth, int32_t AHeight, TImageFormat AFormat, TImageData& AImage) {
  CheckPrecondition(AWidth >= 1 && AHeight >= 1 && ImageFormatExists(AFormat) && AFormat != TImageFormat::Unknown,
                    "invalid image size or format");
  try {
    if (IsImageDataValid(AImage)) ReleaseImageData(AImage);
    ClearImageData(AImage);
    const TImageFormat format = ResolveDefault(AFormat);
    const TImageFormatDescriptor& d = Info(format);
    AdjustDimensions(format, AWidth, AHeight);
    const int64_t size = DataSizeOf(format, AWidth, AHeight);
    if (size == 0) return false;
    AImage.Width = AWidth;
    AImage.Height = AHeight;
    AImage.Format = format;
    AImage.Bits = AllocZeroed(size);
    AImage.Size = int32_t(size);
    if (d.PaletteSize > 0) AImage.Palette = static_cast<TColor32Rec*>(AllocZeroed(int64_t(d.PaletteSize) * 4));
    return IsImageDataValid(AImage);
  } catch (const std::exception& e) {
    std::free(AImage.Bits);
    ClearImageData(AImage);
    RaiseImaging(Format("Error while creating image data with params: Width=%d Height=%d Format=%s.",
                        {AWidth, AHeight, ImageFormatName(AFormat)}),
                 e);
  }
}

void ReleaseImageData(TImageData& AImage) {
  if (IsImageDataValid(AImage)) {
    std::free(AImage.Bits);
    std::free(AImage.Palette);
  }
  ClearImageData(AImage);
}

void ReleaseImageArray(TDynImageDataArray& AImages) {
  for (TImageData& image : AImages) ReleaseImageData(image);
  AImages.clear();
}

bool DuplicateImageData(const TImageData& ASource, TImageData& ATarget) {
  if (!IsImageDataValid(ASource)) return false;
  try {
    if (IsImageDataValid(ATarget) && ATarget.Bits != ASource.Bits) ReleaseImageData(ATarget);
    ClearImageData(ATarget);
    TImageData copy = ASource;
    copy.Bits = nullptr;
    copy.Palette = nullptr;
    auto cleanup = Finally([&] {
      std::free(copy.Bits);
      std::free(copy.Palette);
    });
    copy.Bits = AllocZeroed(ASource.Size);
    std::memcpy(copy.Bits, ASource.Bits, size_t(ASource.Size));
    const int32_t entries = Info(ASource.Format).PaletteSize;
    if (entries > 0) {
      copy.Palette = static_cast<TColor32Rec*>(AllocZeroed(int64_t(entries) * 4));
      if (ASource.Palette) std::memcpy(copy.Palette, ASource.Palette, size_t(entries) * 4);
    }
    ATarget = copy;
    copy.Bits = nullptr;
    copy.Palette = nullptr;
    return true;
  } catch (const std::exception& e) {
    RaiseImaging(Format("Error while cloning image. %s", {DescribeImageData(ASource)}), e);
  }
}

bool ChangeImageFormat(TImageData& AImage, TImageFormat AFormat) {
  CheckPrecondition(ImageFormatExists(AFormat) && AFormat != TImageFormat::Unknown, "invalid target format");
  if (!IsImageDataValid(AImage)) return false;
  const TImageFormat target = ResolveDefault(AFormat);
  try {
    const TImageFormatDescriptor& s = Info(AImage.Format);
    const TImageFormatDescriptor& t = Info(target);
    if (&s == &t || s.FormatId == t.FormatId) return true;
    if (s.SwappedTwin == t.FormatId && t.SwappedTwin == s.FormatId) {
      ExchangeImageChannels(AImage, 2, 0);
      AImage.Format = target;
      return true;
    }
    if (s.IsBlockCompressed || t.IsBlockCompressed) {
      TImageData work{};
      auto cleanup = Finally([&] { ReleaseImageData(work); });
      if (s.IsBlockCompressed) {
        AllocateImageData(AImage.Width, AImage.Height, s.DecodedFormat, work);
        DecodeBlockImage(s.FormatId, AImage.Bits, AImage.Width, AImage.Height, work.Bits);
      } else {
        DuplicateImageData(AImage, work);
      }
      if (t.IsBlockCompressed) {
        if (work.Format != t.DecodedFormat) ChangeImageFormat(work, t.DecodedFormat);
        int32_t w = work.Width, h = work.Height;
        AdjustDimensions(target, w, h);
        if (w != work.Width || h != work.Height) ScaleImageData(work, w, h, TImageStretchMode::NearestPixel);
        TImageData encoded{};
        AllocateImageData(w, h, target, encoded);
        EncodeBlockImage(target, work.Bits, w, h, encoded.Bits);
        std::swap(work, encoded);
        ReleaseImageData(encoded);
      } else {
        ChangeImageFormat(work, target);
      }
      ReleaseImageData(AImage);
      AImage = work;
      ClearImageData(work);
      return true;
    }
    const int64_t count = int64_t(AImage.Width) * AImage.Height;
    void* bits = AllocZeroed(count * t.PixelSize);
    TColor32Rec* pal = nullptr;
    auto cleanup = Finally([&] {
      std::free(bits);
      std::free(pal);
    });
    if (t.PaletteSize > 0) pal = static_cast<TColor32Rec*>(AllocZeroed(int64_t(t.PaletteSize) * 4));
    ConvertPixelRun(count, AImage.Bits, bits, s, t, AImage.Palette, pal);
    std::free(AImage.Bits);
    std::free(AImage.Palette);
    AImage.Bits = bits;
    AImage.Palette = pal;
    AImage.Format = target;
    AImage.Size = int32_t(count * t.PixelSize);
    bits = nullptr;
    pal = nullptr;
    return true;
  } catch (const std::exception& e) {
    RaiseImaging(Format("Error while converting image to format \"%s\". %s",
                        {ImageFormatName(target), DescribeImageData(AImage)}),
                 e);
  }
}

bool MirrorImageVertically(TImageData& AImage) {
  if (!IsImageDataValid(AImage)) return false;
  try {
    const TImageFormat old = AImage.Format;
    const bool block = Info(old).IsBlockCompressed;
    if (block) ChangeImageFormat(AImage, DefaultImageFormat);
    const size_t row = size_t(AImage.Width) * size_t(Info(AImage.Format).PixelSize);
    std::vector<uint8_t> tmp(row);
    auto* bits = static_cast<uint8_t*>(AImage.Bits);
    for (int32_t i = 0; i < AImage.Height / 2; ++i) {
      uint8_t* a = bits + size_t(i) * row;
      uint8_t* b = bits + size_t(AImage.Height - 1 - i) * row;
      std::memcpy(tmp.data(), a, row);
      std::memcpy(a, b, row);
      std::memcpy(b, tmp.data(), row);
    }
    if (block) ChangeImageFormat(AImage, old);
    return true;
  } catch (const std::exception& e) {
    RaiseImaging(Format("Error while flipping image. %s", {DescribeImageData(AImage)}), e);
  }
}

bool MirrorImageHorizontally(TImageData& AImage) {
  if (!IsImageDataValid(AImage)) return false;
  if (AImage.Width < 2) return true;
  try {
    const TImageFormat old = AImage.Format;
    const bool block = Info(old).IsBlockCompressed;
    if (block) ChangeImageFormat(AImage, DefaultImageFormat);
    const size_t ps = size_t(Info(AImage.Format).PixelSize);
    const size_t row = size_t(AImage.Width) * ps;
    auto* bits = static_cast<uint8_t*>(AImage.Bits);
    for (int32_t y = 0; y < AImage.Height; ++y)
      for (size_t a = size_t(y) * row, b = a + row - ps; a < b; a += ps, b -= ps)
        std::swap_ranges(bits + a, bits + a + ps, bits + b);
    if (block) ChangeImageFormat(AImage, old);
    return true;
  } catch (const std::exception& e) {
    RaiseImaging(Format("Error while flipping image. %s", {DescribeImageData(AImage)}), e);
  }
}

bool ScaleImageData(TImageData& AImage, int32_t AWidth, int32_t AHeight, TImageStretchMode AMode) {
  CheckPrecondition(AWidth >= 1 && AHeight >= 1, "invalid image size");
  if (!IsImageDataValid(AImage)) return false;
  if (AImage.Width == AWidth && AImage.Height == AHeight) return true;
  try {
    TImageData scaled{};
    auto cleanup = Finally([&] { ReleaseImageData(scaled); });
    AllocateImageData(AWidth, AHeight, AImage.Format, scaled);
    StretchImageArea(AImage, 0, 0, AImage.Width, AImage.Height, scaled, 0, 0, scaled.Width, scaled.Height, AMode);
    std::free(AImage.Bits);
    std::free(scaled.Palette);
    AImage.Width = scaled.Width;
    AImage.Height = scaled.Height;
    AImage.Size = scaled.Size;
    AImage.Bits = scaled.Bits;
    ClearImageData(scaled);
    return true;
  } catch (const std::exception& e) {
    RaiseImaging(Format("Error while resizing image.  %s", {DescribeImageData(AImage)}), e);
  }
}

bool ExchangeImageChannels(TImageData& AImage, int32_t c1, int32_t c2) {
  CheckPrecondition(c1 >= 0 && c1 <= 3 && c2 >= 0 && c2 <= 3, "invalid channel index");
  if (!IsImageDataValid(AImage)) return false;
  // Alpha only where the format has it (or its palette does): a 3-byte pixel has no fourth
  // byte to swap.
  const TImageFormatDescriptor& format = Info(AImage.Format);
  CheckPrecondition((c1 != 3 && c2 != 3) || format.HasAlpha || format.IsPaletted, "invalid channel index");
  if (c1 == c2) return true;
  try {
    const TImageFormatDescriptor& d = format;
    const int64_t count = int64_t(AImage.Width) * AImage.Height;
    auto* p = static_cast<uint8_t*>(AImage.Bits);
    if (d.FormatId == TImageFormat::R8G8B8 || (d.FormatId == TImageFormat::A8R8G8B8 && c1 != 3 && c2 != 3)) {
      for (int64_t i = 0; i < count; ++i, p += d.PixelSize) std::swap(p[c1], p[c2]);
    } else if (d.IsPaletted) {
      if (AImage.Palette) ExchangePaletteChannels(AImage.Palette, d.PaletteSize, c1, c2);
    } else if (d.IsFloat) {
      for (int64_t i = 0; i < count; ++i, p += d.PixelSize) {
        TColorFPRec c = ReadPixelFloat(p, d, nullptr);
        std::swap((&c.B)[c1], (&c.B)[c2]);
        WritePixelFloat(p, d, nullptr, c);
      }
    } else if (d.IsBlockCompressed) {
      const TImageFormat old = AImage.Format;
      ChangeImageFormat(AImage, DefaultImageFormat);
      ExchangeImageChannels(AImage, c1, c2);
      ChangeImageFormat(AImage, old);
    } else if (d.IsGray) {
      if (d.HasAlpha && (c1 == 3 || c2 == 3)) {
        const int32_t half = d.PixelSize / 2;
        for (int64_t i = 0; i < count; ++i, p += d.PixelSize)
          std::swap_ranges(p, p + half, p + half);
      }
    } else {
      for (int64_t i = 0; i < count; ++i, p += d.PixelSize) {
        TColor64Rec c = ReadColor64(p, d);
        std::swap((&c.B)[c1], (&c.B)[c2]);
        WriteColor64(p, d, c);
      }
    }
    return true;
  } catch (const std::exception& e) {
    RaiseImaging(Format("Error while swapping channels of image. %s", {DescribeImageData(AImage)}), e);
  }
}

void ExchangePaletteChannels(TColor32Rec* APalette, int32_t ACount, int32_t c1, int32_t c2) {
  try {
    CheckPrecondition(c1 >= 0 && c1 <= 3 && c2 >= 0 && c2 <= 3, "invalid channel index");
    for (int32_t i = 0; i < ACount; ++i) {
      auto* b = reinterpret_cast<uint8_t*>(&APalette[i]);
      std::swap(b[c1], b[c2]);
    }
  } catch (const std::exception& e) {
    RaiseImaging(Format("Error while swapping channels of palette @%p with %d entries.",
                        {static_cast<void*>(APalette), ACount}),
                 e);
  }
}

namespace {

// Runs AAction on a target in an ordinary format: a block target is decoded first and
// encoded again afterwards.
template <class A>
bool WithOrdinaryTarget(TImageData& ATarget, A&& AAction) {
  const TImageFormat old = ATarget.Format;
  if (!Info(old).IsBlockCompressed) return AAction(ATarget);
  ChangeImageFormat(ATarget, DefaultImageFormat);
  const bool result = AAction(ATarget);
  ChangeImageFormat(ATarget, old);
  return result;
}

TStretchImage StretchOf(const TImageData& AImage) {
  return {AImage.Bits, AImage.Width, AImage.Height, &Info(AImage.Format)};
}

}  // namespace

bool CopyImageArea(const TImageData& ASource, int32_t AX, int32_t AY, int32_t AWidth, int32_t AHeight,
                   TImageData& ATarget, int32_t ATargetX, int32_t ATargetY) {
  if (!IsImageDataValid(ASource) || !IsImageDataValid(ATarget)) return false;
  try {
    ClipCopyRectangle(AX, AY, AWidth, AHeight, ATargetX, ATargetY, ASource.Width, ASource.Height,
                      TRect(0, 0, ATarget.Width, ATarget.Height));
    if (AWidth < 1 || AHeight < 1) return false;
    return WithOrdinaryTarget(ATarget, [&](TImageData& target) {
      TImageData converted{};
      auto cleanup = Finally([&] { ReleaseImageData(converted); });
      const TImageData* src = &ASource;
      if (ASource.Format != target.Format) {
        DuplicateImageData(ASource, converted);
        ChangeImageFormat(converted, target.Format);
        src = &converted;
      }
      const int64_t ps = Info(target.Format).PixelSize;
      for (int32_t y = 0; y < AHeight; ++y)
        std::memcpy(static_cast<uint8_t*>(target.Bits) + ((int64_t(ATargetY) + y) * target.Width + ATargetX) * ps,
                    static_cast<const uint8_t*>(src->Bits) + ((int64_t(AY) + y) * src->Width + AX) * ps,
                    size_t(AWidth * ps));
      return true;
    });
  } catch (const std::exception& e) {
    RaiseImaging(Format("Error while copying rect from image %s to image %s.",
                        {DescribeImageData(ASource), DescribeImageData(ATarget)}),
                 e);
  }
}

bool StretchImageArea(const TImageData& ASource, int32_t AX, int32_t AY, int32_t AWidth, int32_t AHeight,
                      TImageData& ATarget, int32_t ATargetX, int32_t ATargetY, int32_t ATargetWidth,
                      int32_t ATargetHeight, TImageStretchMode AMode) {
  if (!IsImageDataValid(ASource) || !IsImageDataValid(ATarget)) return false;
  try {
    ClipStretchRectangles(AX, AY, AWidth, AHeight, ATargetX, ATargetY, ATargetWidth, ATargetHeight, ASource.Width,
                          ASource.Height, TRect(0, 0, ATarget.Width, ATarget.Height));
    if (AWidth < 1 || AHeight < 1 || ATargetWidth < 1 || ATargetHeight < 1) return false;
    if (AWidth == ATargetWidth && AHeight == ATargetHeight)
      return CopyImageArea(ASource, AX, AY, AWidth, AHeight, ATarget, ATargetX, ATargetY);
    return WithOrdinaryTarget(ATarget, [&](TImageData& target) {
      TImageData converted{};
      auto cleanup = Finally([&] { ReleaseImageData(converted); });
      const TImageData* src = &ASource;
      if (ASource.Format != target.Format) {
        DuplicateImageData(ASource, converted);
        ChangeImageFormat(converted, target.Format);
        src = &converted;
      }
      const TStretchImage s = StretchOf(*src);
      TStretchImage t = StretchOf(target);
      if (AMode == TImageStretchMode::NearestPixel || Info(target.Format).IsPaletted)
        return StretchNearest(s, AX, AY, AWidth, AHeight, t, ATargetX, ATargetY, ATargetWidth, ATargetHeight);
      return StretchFiltered(s, AX, AY, AWidth, AHeight, t, ATargetX, ATargetY, ATargetWidth, ATargetHeight,
                             AMode == TImageStretchMode::Bilinear ? TSamplingKernel::Triangle
                                                                  : TSamplingKernel::CatmullRom);
    });
  } catch (const std::exception& e) {
    RaiseImaging(Format("Error while stretching rect from image %s to image %s.",
                        {DescribeImageData(ASource), DescribeImageData(ATarget)}),
                 e);
  }
}

std::string ImageFormatName(TImageFormat AFormat) {
  const TImageFormatDescriptor* d = ImageFormatDescriptor(AFormat);
  return d ? d->DisplayName : "Unknown and unsupported format";
}

std::string DescribeImageData(const TImageData& AImage) {
  if (!IsImageDataValid(AImage))
    return Format("Access violation encountered when getting info on image at address %p.",
                  {static_cast<const void*>(&AImage)});
  const bool kib = AImage.Size > 8192;
  return Format("Image @%p info: Width = %dpx, Height = %dpx, Format = %s, Size = %.0n %s, Bits @%p, Palette @%p.",
                {static_cast<const void*>(&AImage), AImage.Width, AImage.Height, ImageFormatName(AImage.Format),
                 kib ? double(AImage.Size) / 1024.0 : double(AImage.Size), std::string(kib ? "KiB" : "B"),
                 AImage.Bits, static_cast<void*>(AImage.Palette)});
}

// ---------------------------------------------------------------------------------------
// Options

int32_t GetImagingOption(int32_t AId) {
  OptionRegistry& r = Options();
  std::lock_guard<std::recursive_mutex> guard(r.Lock);
  if (AId < 0 || AId >= int32_t(r.Vars.size()) || !r.Vars[size_t(AId)]) return ImagingOptionNotFound;
  return *r.Vars[size_t(AId)];
}

bool SetImagingOption(int32_t AId, int32_t AValue) {
  OptionRegistry& r = Options();
  std::lock_guard<std::recursive_mutex> guard(r.Lock);
  if (AId < 0 || AId >= int32_t(r.Vars.size()) || !r.Vars[size_t(AId)]) return false;
  *r.Vars[size_t(AId)] = AValue;
  return true;
}

bool RegisterImagingOption(int32_t AId, int32_t* AVariable) {
  CheckPrecondition(AVariable != nullptr, "option variable not assigned");
  if (AId < 0) return false;
  OptionRegistry& r = Options();
  std::lock_guard<std::recursive_mutex> guard(r.Lock);
  if (r.Vars.empty()) r.Vars.resize(256);
  if (AId >= int32_t(r.Vars.size())) r.Vars.resize(size_t(AId) + 256);
  r.Vars[size_t(AId)] = AVariable;
  return true;
}

bool PushImagingOptions() {
  OptionRegistry& r = Options();
  std::lock_guard<std::recursive_mutex> guard(r.Lock);
  if (r.Stack.size() >= 8) return false;
  std::vector<int32_t> level(r.Vars.size(), 0);
  for (size_t i = 0; i < r.Vars.size(); ++i)
    if (r.Vars[i]) level[i] = *r.Vars[i];
  r.Stack.push_back(std::move(level));
  return true;
}

bool PopImagingOptions() {
  OptionRegistry& r = Options();
  std::lock_guard<std::recursive_mutex> guard(r.Lock);
  if (r.Stack.empty()) return false;
  const std::vector<int32_t> level = std::move(r.Stack.back());
  r.Stack.pop_back();
  r.Vars.resize(level.size());
  for (size_t i = 0; i < level.size(); ++i)
    if (r.Vars[i]) *r.Vars[i] = level[i];
  return true;
}

// ---------------------------------------------------------------------------------------
// TImageFileFormat

TImageFileFormat::TImageFileFormat() = default;
TImageFileFormat::~TImageFileFormat() = default;

void TImageFileFormat::AddMasks(const std::string& AMasks) {
  FExtensions.clear();
  FMasks.clear();
  size_t start = 0;
  while (start <= AMasks.size()) {
    size_t end = AMasks.find(',', start);
    if (end == std::string::npos) end = AMasks.size();
    const std::string mask = Trim(AMasks.substr(start, end - start));
    if (!mask.empty()) {
      FMasks.push_back(mask);
      const size_t dot = mask.rfind('.');
      const std::string ext = dot == std::string::npos ? std::string() : mask.substr(dot + 1);
      if (!ext.empty() && ext != "*") FExtensions.push_back(ext);
    }
    start = end + 1;
  }
}

void TImageFileFormat::ReleaseOptions(std::initializer_list<std::pair<int32_t, int32_t*>> AOptions) {
  OptionRegistry& r = Options();
  std::lock_guard<std::recursive_mutex> guard(r.Lock);
  bool mine = false;
  for (const auto& [id, variable] : AOptions) {
    if (id >= 0 && id < int32_t(r.Vars.size()) && r.Vars[size_t(id)] == variable) {
      r.Vars[size_t(id)] = nullptr;
      mine = true;
    }
  }
  if (!mine) return;
  std::lock_guard<std::mutex> listGuard(Formats().Lock);
  for (const auto& f : Formats().Items) {
    if (!f) continue;
    TImageFileFormat& other = *f;
    if (&other != this && typeid(other) == typeid(*this)) {
      other.RegisterOptions();
      break;
    }
  }
}

bool TImageFileFormat::TestFormat(const TImagingIO&) { return false; }

bool TImageFileFormat::TestFileName(const std::string& AFileName) const {
  const size_t slash = AFileName.find_last_of("/\\");
  const std::string name = slash == std::string::npos ? AFileName : AFileName.substr(slash + 1);
  for (const std::string& mask : FMasks)
    if (MatchFileMask(name, mask, false)) return true;
  return false;
}

bool TImageFileFormat::SupportsFormat(TImageFormat AFormat) const {
  if (int32_t(AFormat) > 231 || int32_t(AFormat) < 0) return false;
  return std::find(FSupportedFormats.begin(), FSupportedFormats.end(), AFormat) != FSupportedFormats.end();
}

bool TImageFileFormat::DecodeImages(const TImagingIO&, TDynImageDataArray&, bool) {
  throw EImagingError(Format("Image Format \"%s\" does not support loading images.", {FName}));
}

bool TImageFileFormat::EncodeImages(const TImagingIO&, const TDynImageDataArray&, int32_t) {
  throw EImagingError(Format("Image Format \"%s\" does not support saving images.", {FName}));
}

void TImageFileFormat::MakeFormatSupported(TImageData&, const TImageFormatDescriptor&) {}

bool TImageFileFormat::Load(const TImagingIOCallbacks& AIO, const void* ASource, TDynImageDataArray& AImages,
                            bool AOnlyFirstLevel, const std::string& ATestFailed) {
  TImagingIO io{&AIO, AIO.OpenReader(ASource)};
  auto release = Finally([&] { AIO.Release(io.Handle); });
  if (!TestFormat(io)) throw EImagingError(ATestFailed);
  ReleaseImageArray(AImages);
  if (!io.Handle) return false;
  if (!DecodeImages(io, AImages, AOnlyFirstLevel)) return false;
  if (!AreImagesValid(AImages)) return false;
  const int32_t override = GetImagingOption(ImagingLoadOverrideFormat);
  if (override != 0 && override != ImagingOptionNotFound && ImageFormatExists(TImageFormat(override)))
    for (TImageData& image : AImages) ChangeImageFormat(image, TImageFormat(override));
  return true;
}

bool TImageFileFormat::LoadFromFile(const std::string& AFileName, TDynImageDataArray& AImages, bool AOnlyFirstLevel) {
  if (!FCanLoad) return false;
  try {
    return Load(FileIO, &AFileName, AImages, AOnlyFirstLevel,
                Format("File \"%s\" is not valid image in \"%s\" format.", {AFileName, FName}));
  } catch (const std::exception& e) {
    ReleaseImageArray(AImages);
    RaiseImaging(Format("Error while loading images from file \"%s\" (file format: %s).", {AFileName, FirstExtension()}),
                 e);
  }
}

bool TImageFileFormat::LoadFromStream(TStream* AStream, TDynImageDataArray& AImages, bool AOnlyFirstLevel) {
  if (!FCanLoad) return false;
  CheckPrecondition(AStream != nullptr, "stream not assigned");
  const int64_t start = AStream->GetPosition();
  try {
    return Load(StreamIO, AStream, AImages, AOnlyFirstLevel,
                Format("Stream %p does not contain valid image in \"%s\" format.", {static_cast<void*>(AStream), FName}));
  } catch (const std::exception& e) {
    ReleaseImageArray(AImages);
    try {
      AStream->SetPosition(start);
    } catch (const std::exception&) {
    }
    RaiseImaging(Format("Error while loading images from stream %p (file format: %s).",
                        {static_cast<void*>(AStream), FirstExtension()}),
                 e);
  }
}

bool TImageFileFormat::LoadFromMemory(const void* AData, int64_t ASize, TDynImageDataArray& AImages,
                                      bool AOnlyFirstLevel) {
  if (!FCanLoad) return false;
  TMemoryBlockRec block{const_cast<void*>(AData), 0, std::max<int64_t>(ASize, 0)};
  try {
    return Load(MemoryIO, &block, AImages, AOnlyFirstLevel,
                Format("Memory %p (%d Bytes) does not contain valid image in \"%s\" format.",
                       {const_cast<void*>(AData), ASize, FName}));
  } catch (const std::exception& e) {
    ReleaseImageArray(AImages);
    RaiseImaging(Format("Error while loading images from memory %p (%d Bytes) (file format: %s).",
                        {const_cast<void*>(AData), ASize, FirstExtension()}),
                 e);
  }
}

bool TImageFileFormat::PrepareSave(const TDynImageDataArray& AImages, int32_t& AIndex) {
  CheckOptionsValidity();
  if (!FCanSave) return false;
  CheckPrecondition(!AImages.empty(), "no images to save");
  const int32_t n = int32_t(AImages.size());
  if (!FIsMultiImageFormat) {
    if (AIndex < 0 || AIndex >= n) AIndex = 0;
    FFirstIdx = FLastIdx = AIndex;
    return IsImageDataValid(AImages[size_t(AIndex)]);
  }
  if (AIndex >= n) AIndex = 0;
  if (AIndex < 0) {
    FFirstIdx = 0;
    FLastIdx = n - 1;
  } else {
    FFirstIdx = FLastIdx = AIndex;
  }
  for (int32_t i = FFirstIdx; i <= FLastIdx; ++i)
    if (!IsImageDataValid(AImages[size_t(i)])) return false;
  return true;
}

bool TImageFileFormat::SaveOne(const TImagingIOCallbacks& AIO, const void* ATarget, const TDynImageDataArray& AImages,
                               int32_t AIndex) {
  if (!PrepareSave(AImages, AIndex)) return false;
  TImagingIO io{&AIO, AIO.OpenWriter(ATarget)};
  bool ok = false;
  {
    auto release = Finally([&] { AIO.Release(io.Handle); });
    ok = EncodeImages(io, AImages, AIndex);
  }
  return ok;
}

bool TImageFileFormat::SaveToFile(const std::string& AFileName, const TDynImageDataArray& AImages,
                                  bool AOnlyFirstLevel) {
  if (!FCanSave || !AreImagesValid(AImages)) return false;
  try {
    if (FIsMultiImageFormat || AOnlyFirstLevel || AImages.size() == 1)
      return SaveOne(FileIO, &AFileName, AImages, AOnlyFirstLevel ? 0 : -1);
    const size_t dot = AFileName.rfind('.');
    const size_t slash = AFileName.find_last_of("/\\");
    const std::string ext =
        dot == std::string::npos || (slash != std::string::npos && dot < slash) ? std::string() : AFileName.substr(dot);
    const std::string base = AFileName.substr(0, AFileName.size() - ext.size());
    for (size_t i = 0; i < AImages.size(); ++i) {
      const std::string name = base + Format("%.3d", {int32_t(i)}) + ext;
      if (!SaveOne(FileIO, &name, AImages, int32_t(i))) return false;
    }
    return true;
  } catch (const std::exception& e) {
    RaiseImaging(Format("Error while saving images to file \"%s\" (file format: %s).", {AFileName, FirstExtension()}),
                 e);
  }
}

bool TImageFileFormat::SaveToStream(TStream* AStream, const TDynImageDataArray& AImages, bool AOnlyFirstLevel) {
  if (!FCanSave || !AreImagesValid(AImages)) return false;
  try {
    CheckPrecondition(AStream != nullptr, "stream not assigned");
    if (FIsMultiImageFormat || AOnlyFirstLevel) return SaveOne(StreamIO, AStream, AImages, AOnlyFirstLevel ? 0 : -1);
    for (size_t i = 0; i < AImages.size(); ++i)
      if (!SaveOne(StreamIO, AStream, AImages, int32_t(i))) return false;
    return true;
  } catch (const std::exception& e) {
    RaiseImaging(Format("Error while saving images to stream %p (file format: %s).",
                        {static_cast<void*>(AStream), FirstExtension()}),
                 e);
  }
}

bool TImageFileFormat::SaveToMemory(void* AData, int64_t& ASize, const TDynImageDataArray& AImages,
                                    bool AOnlyFirstLevel) {
  if (!FCanSave || !AreImagesValid(AImages)) return false;
  const int64_t capacity = ASize;
  TMemoryBlockRec block{AData, 0, std::max<int64_t>(capacity, 0)};
  try {
    bool ok = true;
    if (FIsMultiImageFormat || AOnlyFirstLevel) {
      ok = SaveOne(MemoryIO, &block, AImages, AOnlyFirstLevel ? 0 : -1);
    } else {
      for (size_t i = 0; i < AImages.size() && ok; ++i) ok = SaveOne(MemoryIO, &block, AImages, int32_t(i));
    }
    ASize = block.Position;
    return ok;
  } catch (const std::exception& e) {
    RaiseImaging(Format("Error while saving images to memory %p (%d Bytes) (file format: %s).",
                        {AData, capacity, FirstExtension()}),
                 e);
  }
}

bool TImageFileFormat::MakeCompatible(const TImageData& AImage, TImageData& ACompatible, bool& AMustBeFreed) {
  ClearImageData(ACompatible);
  AMustBeFreed = false;
  const int32_t override = GetImagingOption(ImagingSaveOverrideFormat);
  bool result;
  if (override != 0 && override != ImagingOptionNotFound && ImageFormatExists(TImageFormat(override))) {
    DuplicateImageData(AImage, ACompatible);
    ChangeImageFormat(ACompatible, TImageFormat(override));
    if (!SupportsFormat(ACompatible.Format)) MakeFormatSupported(ACompatible, Info(ACompatible.Format));
    result = SupportsFormat(ACompatible.Format);
  } else if (SupportsFormat(AImage.Format)) {
    ACompatible = AImage;
    result = true;
  } else {
    DuplicateImageData(AImage, ACompatible);
    MakeFormatSupported(ACompatible, Info(ACompatible.Format));
    result = SupportsFormat(ACompatible.Format);
  }
  AMustBeFreed = ACompatible.Bits != AImage.Bits;
  return result;
}

void AddImageFileFormat(TImageFileFormatFactory AFactory) {
  TOwned<TImageFileFormat> format(AFactory());
  std::lock_guard<std::mutex> guard(Formats().Lock);
  Formats().Items.push_back(std::move(format));
}

std::vector<TImageFileFormat*> ImageFileFormats() {
  std::lock_guard<std::mutex> guard(Formats().Lock);
  std::vector<TImageFileFormat*> out;
  for (const auto& f : Formats().Items) out.push_back(f.get());
  return out;
}

}  // namespace quorvel
