#pragma once
// TBitmap: a 2D image held in memory as 32-bit BGRA with straight (not premultiplied)
// alpha, one row after another, top row first. Pixels are reached through Map/Unmap:
//
//   TBitmapData data;
//   if (bitmap->Map(TMapAccess::Write, data)) {
//     auto* row = static_cast<uint32_t*>(data.GetScanline(y));  // 0xAARRGGBB per pixel
//     ...
//     bitmap->Unmap(data);                                       // write access: BitmapChanged
//   }
//
// Files and streams load by content (PNG through libpng, JPEG through libjpeg-turbo, GIF's
// first frame through giflib, BMP through stb_image; decoders registered with
// RegisterBitmapDecoder for other formats); TIFF is recognised and refused. Decoding checks
// the size a file declares against the decode limits before it allocates the pixels.
// Saving writes PNG, JPEG or BMP by file extension.
//
// Descendants (the texture bitmap of the 3D layer) reach the image through the protected
// members and react to every change of size or pixels in the virtual BitmapChanged.
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "framework/classes/Events.h"
#include "framework/classes/Persistent.h"
#include "framework/gui/PixelFormat.h"
#include "framework/math/AlphaColor.h"
#include "framework/math/Rect.h"

namespace quorvel {

class TCanvas;
class TCanvasClass;
class TStream;

enum class TMapAccess : uint8_t { Read = 0, Write = 1, ReadWrite = 2 };
FW_ENUM(TMapAccess, Read, Write, ReadWrite)

// A bitmap handle made by a canvas class (0 = none).
using TBitmapHandle = uintptr_t;

struct TBitmapData {
  void* Data = nullptr;
  int32_t Pitch = 0;  // bytes from one row to the next
  int32_t Width = 0;
  int32_t Height = 0;
  TPixelFormat PixelFormat = TPixelFormat::None;
  TMapAccess Access = TMapAccess::Read;

  TBitmapData() = default;
  TBitmapData(int32_t AWidth, int32_t AHeight, TPixelFormat APixelFormat)
      : Width(AWidth), Height(AHeight), PixelFormat(APixelFormat) {}

  int32_t BytesPerPixel() const { return PixelFormatBytes(PixelFormat); }
  int32_t BytesPerLine() const { return Width * BytesPerPixel(); }
  // Row y; EArgumentOutOfRangeException outside 0..Height-1 or when nothing is mapped.
  void* GetScanline(int32_t y) const;
  // One pixel as 0xAARRGGBB. Only the 32-bit colour formats (BGRA, RGBA) are understood;
  // others raise ENotSupportedException. Coordinates outside the image raise
  // EArgumentOutOfRangeException.
  TAlphaColor GetPixel(int32_t x, int32_t y) const;
  void SetPixel(int32_t x, int32_t y, TAlphaColor color);
};

// A decoder for image formats not built in (TGA, DDS...). CanDecode sees the
// first bytes of the data (and the file name when loading from a file, "" otherwise);
// Decode fills the bitmap or raises EBitmapLoadingFailed.
struct TBitmapDecoder {
  std::string Name;
  std::function<bool(std::span<const uint8_t> Data, const std::string& FileName)> CanDecode;
  std::function<void(std::span<const uint8_t> Data, class TBitmap& Bitmap)> Decode;
};
// Answers a handle for UnregisterBitmapDecoder. Later registrations are asked first.
int32_t RegisterBitmapDecoder(TBitmapDecoder Decoder);
void UnregisterBitmapDecoder(int32_t Handle);

class TBitmap : public TPersistent {
  FW_CLASS(TBitmap, TPersistent)

public:
  // Side limit and byte limit of one image; SetSize and decoding refuse anything larger.
  static constexpr int32_t MaxSide = 65536;
  static constexpr int64_t MaxBytes = int64_t(1) << 30;
  // Decoding refuses images larger than these (EBitmapLoadingFailed "... is too large"):
  // a few bytes of file may declare gigabytes of pixels. Process-wide; callers that need
  // larger images raise them, up to MaxSide and MaxBytes (beyond: EArgumentOutOfRangeException).
  static constexpr int32_t DefaultDecodeMaxSide = 16384;
  static constexpr int64_t DefaultDecodeMaxBytes = int64_t(256) << 20;
  static void SetDecodeLimits(int32_t AMaxSide, int64_t AMaxBytes);
  static int32_t GetDecodeMaxSide();
  static int64_t GetDecodeMaxBytes();

  TBitmap();
  TBitmap(int32_t AWidth, int32_t AHeight);
  ~TBitmap() override;

  void Assign(TPersistent* Source) override;
  void AssignTo(TPersistent* Dest) override;
  // Form streaming: the image travels as one binary "Data" property (PNG), so that a bitmap
  // held by a published property keeps its pixels.
  void DefineProperties(TFiler* Filer) override;

  int32_t GetWidth() const { return FWidth; }
  int32_t GetHeight() const { return FHeight; }
  void SetWidth(int32_t Value) { SetSize(Value, FHeight); }
  void SetHeight(int32_t Value) { SetSize(FWidth, Value); }
  // New pixels are transparent black; a changed size discards the old pixels. Negative or
  // too large sizes raise EArgumentOutOfRangeException. A width or height of 0 empties the
  // bitmap.
  void SetSize(int32_t AWidth, int32_t AHeight);
  bool IsEmpty() const { return FWidth == 0 || FHeight == 0; }
  TRect GetBounds() const { return TRect(0, 0, FWidth, FHeight); }
  TRectF GetBoundsF() const { return TRectF(0, 0, float(FWidth), float(FHeight)); }

  // Pixels per logical unit (1 by default); values <= 0 or not finite raise.
  float GetBitmapScale() const { return FBitmapScale; }
  void SetBitmapScale(float Value);
  // The image's format tag (BGRA unless a descendant sets another); the pixels in memory
  // are BGRA in every case, and Map reports them so.
  TPixelFormat GetPixelFormat() const { return FPixelFormat; }
  TBitmapHandle GetHandle() const { return FHandle; }
  // The canvas class that makes this bitmap's handles and canvases.
  virtual const TCanvasClass& GetCanvasClass() const;

  // False for an empty bitmap. Maps may nest; each needs its Unmap. Unmapping a map made
  // with write access announces the change (BitmapChanged).
  bool Map(TMapAccess Access, TBitmapData& Data);
  void Unmap(TBitmapData& Data);
  int32_t GetMapCount() const { return FMapCount; }

  // Every pixel := Color.
  void Clear(TAlphaColor Color);
  // Scales the image to the new size (bilinear).
  void Resize(int32_t AWidth, int32_t AHeight);

  // Mirror the image top to bottom / left to right in place (a change, as any pixel write).
  void FlipVertical();
  void FlipHorizontal();
  // The pixels (BGRA rows, Width * 4 bytes each).
  const std::vector<uint8_t>& Pixels() const { return FData; }

  // The canvas that draws into this bitmap, made on first use and owned by the bitmap.
  TCanvas* GetCanvas();

  // Loading replaces size and pixels; BitmapScale stays. Bad or unsupported data raises
  // EBitmapLoadingFailed and leaves the bitmap as it was; a missing file raises EFOpenError.
  void LoadFromFile(const std::string& FileName);
  // Reads from the stream's position to its end.
  void LoadFromStream(TStream* Stream);
  void LoadFromBytes(std::span<const uint8_t> Bytes, const std::string& FileName = {});
  // By extension: ".png", ".jpg"/".jpeg" (alpha dropped), ".bmp"; others raise
  // ENotSupportedException. An empty bitmap raises EInvalidOperation.
  void SaveToFile(const std::string& FileName) const;
  // As PNG.
  void SaveToStream(TStream* Stream) const;

  TNotifyEvent OnChange;

protected:
  // Every change of size or pixels ends here; the default fires OnChange.
  virtual void BitmapChanged();

  // Replaces the image by the given BGRA pixels (Width * Height * 4 bytes).
  void SetImage(int32_t AWidth, int32_t AHeight, std::vector<uint8_t> Pixels);
  // Stores the pixel format of the image without touching the pixels (which stay 32-bit).
  void SetImagePixelFormat(TPixelFormat Value) { FPixelFormat = Value; }
  void SetImageHandle(TBitmapHandle Value) { FHandle = Value; }
  void CreateHandle();
  void FreeHandle();

  int32_t FWidth = 0;
  int32_t FHeight = 0;
  float FBitmapScale = 1;
  TPixelFormat FPixelFormat = TPixelFormat::BGRA;
  TBitmapHandle FHandle = 0;
  std::vector<uint8_t> FData;  // BGRA, straight alpha, Width * 4 bytes per row
  int32_t FMapCount = 0;

private:
  std::unique_ptr<TCanvas, TObjectDeleter> FCanvas;
};

}  // namespace quorvel
