#include "framework/gui/Bitmap.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>
#include <string_view>

#include "framework/gui/Canvas.h"
#include "framework/io/Stream.h"
#include "framework/rtl/Finally.h"
#include "framework/rtl/SysUtils.h"
#include "framework/rtl/Units.h"

// stb is compiled here, with internal linkage, so that no other library's copy can clash.
#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#define STBI_NO_STDIO
#define STBI_ONLY_PNG
#define STBI_ONLY_JPEG
#define STBI_ONLY_BMP
#define STBI_ONLY_GIF
#define STBI_MAX_DIMENSIONS 65536
#include <stb/stb_image.h>

#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STBI_WRITE_NO_STDIO
#include <stb/stb_image_write.h>

namespace quorvel {

namespace {
void InitUnit() { RegisterClass(TBitmap::StaticClass()); }
void FinUnit() { UnRegisterClass(TBitmap::StaticClass()); }
const TUnitRegistration Unit{{"Fw.Graphics", {}, &InitUnit, &FinUnit}};
}  // namespace

FW_CLASS_IMPL(TBitmap, "Fw.Graphics")
void TBitmap::Register(ClassBuilder<TBitmap>& b) {
  b.Prop("Width", &Self::GetWidth, &Self::SetWidth)
      .Prop("Height", &Self::GetHeight, &Self::SetHeight)
      .Prop("BitmapScale", &Self::GetBitmapScale, &Self::SetBitmapScale);
}

// ---- TBitmapData --------------------------------------------------------------------------

void* TBitmapData::GetScanline(int32_t y) const {
  if (Data == nullptr || y < 0 || y >= Height)
    throw EArgumentOutOfRangeException(Format("Scan line %d out of range (height %d)", {y, Height}));
  return static_cast<uint8_t*>(Data) + int64_t(y) * Pitch;
}

namespace {

uint8_t* PixelAddress(const TBitmapData& data, int32_t x, int32_t y) {
  if (data.PixelFormat != TPixelFormat::BGRA && data.PixelFormat != TPixelFormat::RGBA)
    throw ENotSupportedException("Pixel access needs a 32-bit colour format, not " + EnumToString(data.PixelFormat));
  if (x < 0 || x >= data.Width)
    throw EArgumentOutOfRangeException(Format("Pixel %d out of range (width %d)", {x, data.Width}));
  return static_cast<uint8_t*>(data.GetScanline(y)) + int64_t(x) * 4;
}

}  // namespace

TAlphaColor TBitmapData::GetPixel(int32_t x, int32_t y) const {
  const uint8_t* p = PixelAddress(*this, x, y);
  if (PixelFormat == TPixelFormat::RGBA) return MakeAlphaColor(p[0], p[1], p[2], p[3]);
  return MakeAlphaColor(p[2], p[1], p[0], p[3]);
}

void TBitmapData::SetPixel(int32_t x, int32_t y, TAlphaColor color) {
  uint8_t* p = PixelAddress(*this, x, y);
  const bool rgba = PixelFormat == TPixelFormat::RGBA;
  p[0] = rgba ? RedOf(color) : BlueOf(color);
  p[1] = GreenOf(color);
  p[2] = rgba ? BlueOf(color) : RedOf(color);
  p[3] = AlphaOf(color);
}

// ---- Decoders -----------------------------------------------------------------------------

namespace {

struct TDecoderEntry {
  int32_t Handle;
  TBitmapDecoder Decoder;
};

struct TDecoderList {
  std::mutex Mutex;
  std::vector<TDecoderEntry> Entries;
  int32_t NextHandle = 1;
};

TDecoderList& Decoders() {
  static TDecoderList list;
  return list;
}

bool StartsWith(std::span<const uint8_t> data, std::string_view magic) {
  return data.size() >= magic.size() && std::memcmp(data.data(), magic.data(), magic.size()) == 0;
}

// The formats stb decodes here, recognised by their signatures (stb's own probing would
// also take TGA-like data, which belongs to the engine's codec).
const char* StbFormatOf(std::span<const uint8_t> data) {
  if (StartsWith(data, "\x89PNG\r\n\x1a\n")) return "PNG";
  if (StartsWith(data, "\xFF\xD8\xFF")) return "JPEG";
  if (StartsWith(data, "GIF87a") || StartsWith(data, "GIF89a")) return "GIF";
  if (StartsWith(data, "BM")) return "BMP";
  return nullptr;
}

bool IsTiff(std::span<const uint8_t> data) {
  return StartsWith(data, std::string_view("II*\0", 4)) || StartsWith(data, std::string_view("MM\0*", 4));
}

void CheckImageSize(int64_t width, int64_t height) {
  if (width < 0 || height < 0 || width > TBitmap::MaxSide || height > TBitmap::MaxSide ||
      width * height * 4 > TBitmap::MaxBytes)
    throw EArgumentOutOfRangeException(
        Format("Bitmap size %dx%d is out of range", {int64_t(width), int64_t(height)}));
}

uint32_t BigEndian32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }
int64_t LittleEndian(const uint8_t* p, int bytes, bool isSigned) {
  uint64_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = v << 8 | p[i];
  if (isSigned && bytes == 4) return int32_t(uint32_t(v));
  return int64_t(v);
}

// The size a header declares, where it is at a fixed place; refusing oversized images by
// their header names the real problem (stb reports them as merely unreadable).
bool DeclaredSize(std::span<const uint8_t> data, std::string_view format, int64_t& width, int64_t& height) {
  if (format == "PNG" && data.size() >= 24) {
    width = BigEndian32(&data[16]);
    height = BigEndian32(&data[20]);
    return true;
  }
  if (format == "GIF" && data.size() >= 10) {
    width = LittleEndian(&data[6], 2, false);
    height = LittleEndian(&data[8], 2, false);
    return true;
  }
  if (format == "BMP" && data.size() >= 26 && LittleEndian(&data[14], 4, false) >= 40) {
    width = LittleEndian(&data[18], 4, true);
    height = LittleEndian(&data[22], 4, true);
    if (height < 0) height = -height;
    return true;
  }
  return false;
}

std::vector<uint8_t> DecodeWithStb(std::span<const uint8_t> data, const char* format, int32_t& width,
                                   int32_t& height) {
  const int length = static_cast<int>(data.size());
  int64_t declaredWidth = 0, declaredHeight = 0;
  if (DeclaredSize(data, format, declaredWidth, declaredHeight) &&
      (declaredWidth > TBitmap::MaxSide || declaredHeight > TBitmap::MaxSide ||
       declaredWidth * declaredHeight * 4 > TBitmap::MaxBytes))
    throw EBitmapLoadingFailed(Format("Cannot load bitmap: %s image of %dx%d is too large",
                                      {format, declaredWidth, declaredHeight}));
  int w = 0, h = 0, comp = 0;
  // stb's reason is of no use here: it tries every format and keeps the last one's.
  if (!stbi_info_from_memory(data.data(), length, &w, &h, &comp))
    throw EBitmapLoadingFailed(Format("Cannot load bitmap: corrupt %s image (unreadable header)", {format}));
  if (int64_t(w) * h * 4 > TBitmap::MaxBytes || w > TBitmap::MaxSide || h > TBitmap::MaxSide)
    throw EBitmapLoadingFailed(Format("Cannot load bitmap: %s image of %dx%d is too large", {format, w, h}));
  stbi_uc* pixels = stbi_load_from_memory(data.data(), length, &w, &h, &comp, 4);
  if (pixels == nullptr)
    throw EBitmapLoadingFailed(Format("Cannot load bitmap: corrupt %s image (%s)", {format, stbi_failure_reason()}));
  const size_t count = size_t(w) * size_t(h);
  std::vector<uint8_t> result(count * 4);
  for (size_t i = 0; i < count; ++i) {
    result[i * 4 + 0] = pixels[i * 4 + 2];
    result[i * 4 + 1] = pixels[i * 4 + 1];
    result[i * 4 + 2] = pixels[i * 4 + 0];
    result[i * 4 + 3] = pixels[i * 4 + 3];
  }
  stbi_image_free(pixels);
  width = w;
  height = h;
  return result;
}

std::string LowerExtension(const std::string& fileName) {
  const size_t slash = fileName.find_last_of("/\\");
  const size_t dot = fileName.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  std::string ext = fileName.substr(dot);
  for (char& c : ext) c = char(std::tolower(static_cast<unsigned char>(c)));
  return ext;
}

void WriteToStream(void* context, void* data, int size) {
  static_cast<TStream*>(context)->WriteBuffer(data, size);
}

}  // namespace

int32_t RegisterBitmapDecoder(TBitmapDecoder Decoder) {
  TDecoderList& list = Decoders();
  std::lock_guard lock(list.Mutex);
  const int32_t handle = list.NextHandle++;
  list.Entries.push_back({handle, std::move(Decoder)});
  return handle;
}

void UnregisterBitmapDecoder(int32_t Handle) {
  TDecoderList& list = Decoders();
  std::lock_guard lock(list.Mutex);
  std::erase_if(list.Entries, [Handle](const TDecoderEntry& e) { return e.Handle == Handle; });
}

// ---- TBitmap ------------------------------------------------------------------------------

TBitmap::TBitmap() = default;

TBitmap::TBitmap(int32_t AWidth, int32_t AHeight) {
  CheckImageSize(AWidth, AHeight);
  if (AWidth > 0 && AHeight > 0) {
    FWidth = AWidth;
    FHeight = AHeight;
    FData.assign(size_t(AWidth) * size_t(AHeight) * 4, 0);
    CreateHandle();
  }
}

TBitmap::~TBitmap() {
  FCanvas.reset();
  if (FHandle != 0) {
    Quietly("TBitmap: finalizing the bitmap", [&] { DefaultCanvasClass().FinalizeBitmap(FHandle); });
    FHandle = 0;
  }
}

const TCanvasClass& TBitmap::GetCanvasClass() const { return DefaultCanvasClass(); }

void TBitmap::CreateHandle() {
  if (IsEmpty()) return;
  TPixelFormat format = FPixelFormat;
  FHandle = GetCanvasClass().InitializeBitmap(FWidth, FHeight, FBitmapScale, format);
  FPixelFormat = format;
}

void TBitmap::FreeHandle() {
  if (FHandle != 0) GetCanvasClass().FinalizeBitmap(FHandle);
  FHandle = 0;
}

void TBitmap::SetImage(int32_t AWidth, int32_t AHeight, std::vector<uint8_t> Pixels) {
  CheckImageSize(AWidth, AHeight);
  if (AWidth == 0 || AHeight == 0) {
    AWidth = AHeight = 0;
    Pixels.clear();
  }
  if (Pixels.size() != size_t(AWidth) * size_t(AHeight) * 4)
    throw EArgumentException("Bitmap pixel data does not match its size");
  if (FMapCount > 0) throw EInvalidOperation("Cannot change the size of a mapped bitmap");
  const bool resized = AWidth != FWidth || AHeight != FHeight;
  if (resized) FreeHandle();
  FWidth = AWidth;
  FHeight = AHeight;
  FData = std::move(Pixels);
  if (resized) CreateHandle();
  BitmapChanged();
}

void TBitmap::SetSize(int32_t AWidth, int32_t AHeight) {
  CheckImageSize(AWidth, AHeight);
  if (AWidth == 0 || AHeight == 0) AWidth = AHeight = 0;
  if (AWidth == FWidth && AHeight == FHeight) return;
  SetImage(AWidth, AHeight, std::vector<uint8_t>(size_t(AWidth) * size_t(AHeight) * 4, 0));
}

void TBitmap::SetBitmapScale(float Value) {
  if (!(Value > 0) || !std::isfinite(Value)) throw EArgumentOutOfRangeException("Bitmap scale must be positive");
  if (Value == FBitmapScale) return;
  FBitmapScale = Value;
  BitmapChanged();
}

bool TBitmap::Map(TMapAccess Access, TBitmapData& Data) {
  if (IsEmpty()) return false;
  // The pixels are stored as BGRA whatever format tag the image carries.
  Data = TBitmapData(FWidth, FHeight, TPixelFormat::BGRA);
  Data.Data = FData.data();
  Data.Pitch = FWidth * 4;
  Data.Access = Access;
  ++FMapCount;
  return true;
}

void TBitmap::Unmap(TBitmapData& Data) {
  if (Data.Data == nullptr || FMapCount == 0) return;
  const bool written = Data.Access != TMapAccess::Read;
  --FMapCount;
  Data = TBitmapData();
  if (written) BitmapChanged();
}

void TBitmap::Clear(TAlphaColor Color) {
  if (IsEmpty()) return;
  const uint32_t value = ToCardinal(Color);
  uint8_t bytes[4] = {BlueOf(Color), GreenOf(Color), RedOf(Color), AlphaOf(Color)};
  if (value == 0) {
    std::fill(FData.begin(), FData.end(), uint8_t(0));
  } else {
    for (size_t i = 0; i < FData.size(); i += 4) std::memcpy(&FData[i], bytes, 4);
  }
  BitmapChanged();
}

void TBitmap::Resize(int32_t AWidth, int32_t AHeight) {
  CheckImageSize(AWidth, AHeight);
  if (AWidth == FWidth && AHeight == FHeight) return;
  if (IsEmpty() || AWidth == 0 || AHeight == 0) {
    SetSize(AWidth, AHeight);
    return;
  }
  TOwned<TBitmap> scaled(New<TBitmap>(AWidth, AHeight));
  TCanvas* canvas = scaled->GetCanvas();
  if (canvas->BeginScene()) {
    canvas->DrawBitmap(this, GetBoundsF(), scaled->GetBoundsF(), 1, false);
    canvas->EndScene();
  }
  SetImage(AWidth, AHeight, scaled->FData);
}

TCanvas* TBitmap::GetCanvas() {
  if (!FCanvas) FCanvas.reset(New<TBitmapCanvas>(this));
  return FCanvas.get();
}

void TBitmap::BitmapChanged() { OnChange(this); }

void TBitmap::Assign(TPersistent* Source) {
  if (Source == this) return;
  if (auto* source = dynamic_cast<TBitmap*>(Source)) {
    if (FMapCount > 0) throw EInvalidOperation("Cannot assign to a mapped bitmap");
    FBitmapScale = source->FBitmapScale;
    if (FPixelFormat != source->FPixelFormat) {
      FreeHandle();
      FPixelFormat = source->FPixelFormat;
      FWidth = FHeight = 0;
    }
    SetImage(source->FWidth, source->FHeight, source->FData);
    return;
  }
  TPersistent::Assign(Source);
}

void TBitmap::AssignTo(TPersistent* Dest) {
  if (auto* dest = dynamic_cast<TBitmap*>(Dest)) {
    dest->Assign(this);
    return;
  }
  TPersistent::AssignTo(Dest);
}

void TBitmap::LoadFromBytes(std::span<const uint8_t> Bytes, const std::string& FileName) {
  if (Bytes.empty()) throw EBitmapLoadingFailed("Cannot load bitmap: the data is empty");
  if (Bytes.size() > size_t(INT32_MAX)) throw EBitmapLoadingFailed("Cannot load bitmap: the data is too large");
  if (IsTiff(Bytes)) throw EBitmapLoadingFailed("Cannot load bitmap: TIFF images are not supported");
  if (const char* format = StbFormatOf(Bytes)) {
    int32_t width = 0, height = 0;
    std::vector<uint8_t> pixels = DecodeWithStb(Bytes, format, width, height);
    SetImage(width, height, std::move(pixels));
    return;
  }
  std::vector<TDecoderEntry> decoders;
  {
    TDecoderList& list = Decoders();
    std::lock_guard lock(list.Mutex);
    decoders = list.Entries;
  }
  for (auto it = decoders.rbegin(); it != decoders.rend(); ++it) {
    if (it->Decoder.CanDecode && it->Decoder.Decode && it->Decoder.CanDecode(Bytes, FileName)) {
      // Decoded into a scratch bitmap so that a failing decoder leaves this one unchanged.
      TOwned<TBitmap> decoded(New<TBitmap>());
      it->Decoder.Decode(Bytes, *decoded);
      SetImage(decoded->FWidth, decoded->FHeight, std::move(decoded->FData));
      return;
    }
  }
  throw EBitmapLoadingFailed("Cannot load bitmap: unknown image format");
}

void TBitmap::LoadFromStream(TStream* Stream) {
  if (Stream == nullptr) throw EArgumentNilException("Stream is nil");
  const int64_t size = Stream->GetSize() - Stream->GetPosition();
  if (size > int64_t(INT32_MAX)) throw EBitmapLoadingFailed("Cannot load bitmap: the data is too large");
  std::vector<uint8_t> bytes(size_t(std::max<int64_t>(size, 0)));
  if (!bytes.empty()) Stream->ReadBuffer(bytes.data(), int64_t(bytes.size()));
  LoadFromBytes(bytes);
}

void TBitmap::LoadFromFile(const std::string& FileName) {
  std::vector<uint8_t> bytes;
  {
    TFileStream file(FileName, fmOpenRead | fmShareDenyWrite);
    const int64_t size = file.GetSize();
    if (size > int64_t(INT32_MAX)) throw EBitmapLoadingFailed("Cannot load bitmap: the file is too large: " + FileName);
    bytes.resize(size_t(size));
    if (!bytes.empty()) file.ReadBuffer(bytes.data(), size);
  }
  try {
    LoadFromBytes(bytes, FileName);
  } catch (EBitmapLoadingFailed& e) {
    e.SetMessage(e.Message() + " (file \"" + FileName + "\")");
    throw;
  }
}

namespace {

std::vector<uint8_t> ToRGBA(const std::vector<uint8_t>& bgra) {
  std::vector<uint8_t> rgba(bgra.size());
  for (size_t i = 0; i < bgra.size(); i += 4) {
    rgba[i + 0] = bgra[i + 2];
    rgba[i + 1] = bgra[i + 1];
    rgba[i + 2] = bgra[i + 0];
    rgba[i + 3] = bgra[i + 3];
  }
  return rgba;
}

enum class TSaveFormat { Png, Jpeg, Bmp };

void Encode(const TBitmap& bitmap, TSaveFormat format, TStream* stream) {
  if (bitmap.IsEmpty()) throw EInvalidOperation("Cannot save an empty bitmap");
  const std::vector<uint8_t> rgba = ToRGBA(bitmap.Pixels());
  const int w = bitmap.GetWidth(), h = bitmap.GetHeight();
  int ok = 0;
  switch (format) {
    case TSaveFormat::Png:
      ok = stbi_write_png_to_func(&WriteToStream, stream, w, h, 4, rgba.data(), w * 4);
      break;
    case TSaveFormat::Jpeg:
      ok = stbi_write_jpg_to_func(&WriteToStream, stream, w, h, 4, rgba.data(), 90);
      break;
    case TSaveFormat::Bmp:
      ok = stbi_write_bmp_to_func(&WriteToStream, stream, w, h, 4, rgba.data());
      break;
  }
  if (!ok) throw EWriteError("Cannot encode the bitmap");
}

}  // namespace

void TBitmap::SaveToStream(TStream* Stream) const {
  if (Stream == nullptr) throw EArgumentNilException("Stream is nil");
  Encode(*this, TSaveFormat::Png, Stream);
}

void TBitmap::SaveToFile(const std::string& FileName) const {
  const std::string ext = LowerExtension(FileName);
  TSaveFormat format;
  if (ext == ".png")
    format = TSaveFormat::Png;
  else if (ext == ".jpg" || ext == ".jpeg")
    format = TSaveFormat::Jpeg;
  else if (ext == ".bmp")
    format = TSaveFormat::Bmp;
  else
    throw ENotSupportedException("Cannot save bitmap: unsupported file type \"" + ext + "\" (" + FileName + ")");
  if (IsEmpty()) throw EInvalidOperation("Cannot save an empty bitmap");
  // Encoded in memory first, so a failing encoder leaves no truncated file behind.
  TMemoryStream memory;
  Encode(*this, format, &memory);
  TFileStream file(FileName, fmCreate);
  memory.SaveToStream(&file);
}

}  // namespace quorvel
