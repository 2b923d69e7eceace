#pragma once
// Pixel formats of the imaging units: one descriptor per format, pixel readers and writers
// (32-bit colour, 16 bits per channel, float), run conversions between ordinary formats,
// half floats and palette reduction. Topics: ImagingFormatsBlocks.cpp (4×4 block formats)
// and ImagingFormatsResample.cpp (stretching and filtered resampling).
//
// Channel order in memory is always blue, green, red, alpha from the lowest address.
#include <cstdint>
#include <string>
#include <vector>

#include "framework/rtl/Exceptions.h"

namespace quorvel {

QUORVEL_EXCEPTION(EImagingError, Exception);

enum class TImageFormat : int32_t {
  Unknown = 0,
  Default = 1,
  Index8 = 10,
  Gray8 = 40,
  A8Gray8 = 41,
  Gray16 = 42,
  Gray32 = 43,
  Gray64 = 44,
  A16Gray16 = 45,
  X5R1G1B1 = 80,
  R3G3B2 = 81,
  R5G6B5 = 82,
  A1R5G5B5 = 83,
  A4R4G4B4 = 84,
  X1R5G5B5 = 85,
  X4R4G4B4 = 86,
  R8G8B8 = 87,
  A8R8G8B8 = 88,
  X8R8G8B8 = 89,
  R16G16B16 = 90,
  A16R16G16B16 = 91,
  B16G16R16 = 92,
  A16B16G16R16 = 93,
  R32F = 170,
  A32R32G32B32F = 171,
  A32B32G32R32F = 172,
  R16F = 173,
  A16R16G16B16F = 174,
  A16B16G16R16F = 175,
  DXT1 = 220,
  DXT3 = 221,
  DXT5 = 222,
  BTC = 223,
  ATI1N = 224,
  ATI2N = 225,
};
constexpr int32_t ImageFormatSlots = 226;

struct TColor24Rec {
  uint8_t B, G, R;
};
union TColor32Rec {
  uint32_t Color;
  struct {
    uint8_t B, G, R, A;
  };
};
static_assert(sizeof(TColor32Rec) == 4);
struct TColor64Rec {
  uint16_t B, G, R, A;
};
struct TColorFPRec {
  float B, G, R, A;
};
using PPalette32 = TColor32Rec*;

struct TChannelMaskSet {
  uint8_t ABits, RBits, GBits, BBits;
  uint32_t AMask, RMask, GMask, BMask;
  uint8_t AShift, RShift, GShift, BShift;
  uint8_t AMax, RMax, GMax, BMax;
};

struct TImageFormatDescriptor {
  TImageFormat FormatId;
  const char* DisplayName;
  int32_t PixelSize;
  int32_t Channels;
  int32_t PaletteSize;
  bool IsGray, HasAlpha, IsFloat, IsPacked, IsSwappedOrder;
  TImageFormat SwappedTwin;
  bool IsPaletted, IsBlockCompressed;
  const TChannelMaskSet* ChannelMasks;
  TImageFormat DecodedFormat;
};

// Nil for an empty slot or an ordinal outside the table.
const TImageFormatDescriptor* ImageFormatDescriptor(TImageFormat AFormat);
bool ImageFormatExists(TImageFormat AFormat);
// Bytes of pixel data, in 64 bits so that callers can refuse sizes before allocating.
int64_t DataSizeOf(TImageFormat AFormat, int64_t AWidth, int64_t AHeight);
void AdjustDimensions(TImageFormat AFormat, int32_t& AWidth, int32_t& AHeight);

uint32_t ReadPixel32(const void* APixel, const TImageFormatDescriptor& AInfo, const TColor32Rec* APalette);
void WritePixel32(void* APixel, const TImageFormatDescriptor& AInfo, const TColor32Rec* APalette,
                  uint32_t AColor);
TColorFPRec ReadPixelFloat(const void* APixel, const TImageFormatDescriptor& AInfo, const TColor32Rec* APalette);
void WritePixelFloat(void* APixel, const TImageFormatDescriptor& AInfo, const TColor32Rec* APalette,
                     const TColorFPRec& AColor);

// Count pixels between two different ordinary formats; target pixels and palette come
// zero-filled in the target's sizes.
void ConvertPixelRun(int64_t ACount, const void* ASrc, void* ADst, const TImageFormatDescriptor& ASrcInfo,
                     const TImageFormatDescriptor& ADstInfo, const TColor32Rec* ASrcPal, TColor32Rec* ADstPal);

float HalfToSingle(uint16_t AHalf);
uint16_t SingleToHalf(float AValue);

// Channel mask of the colour reduction (imaging option 128).
extern int32_t GColorReductionMask;

// Stages: 1 clear, 2 add pixels, 4 build palette, 8 map pixels (15 = all).
void ReducePaletteColors(int64_t ACount, const void* ASrc, void* ADst, const TImageFormatDescriptor& ASrcInfo,
                         const TImageFormatDescriptor& ADstInfo, int32_t AMaxColors, uint8_t AChannelMask,
                         TColor32Rec* APalette, uint8_t AStages = 15);
void FillGrayPalette(TColor32Rec* APalette, int32_t ACount);
int32_t NearestPaletteIndex(const TColor32Rec* APalette, int32_t ACount, uint32_t AColor);

// 16 bits per channel access of the colour formats (not gray, float, indexed, block).
TColor64Rec ReadColor64(const uint8_t* APixel, const TImageFormatDescriptor& AInfo);
void WriteColor64(uint8_t* APixel, const TImageFormatDescriptor& AInfo, TColor64Rec AColor);

// Block formats (ImagingFormatsBlocks.cpp). AWidth and AHeight are the image's (multiples
// of 4); ADst holds pixels of the descriptor's DecodedFormat.
void DecodeBlockImage(TImageFormat AFormat, const void* ASrc, int32_t AWidth, int32_t AHeight, void* ADst);
void EncodeBlockImage(TImageFormat AFormat, const void* ASrc, int32_t AWidth, int32_t AHeight, void* ADst);

// Resampling (ImagingFormatsResample.cpp). Images are plain pixel blocks of one ordinary,
// non-indexed format; rectangles lie inside them.
struct TStretchImage {
  void* Bits;
  int32_t Width, Height;
  const TImageFormatDescriptor* Info;
};
enum class TSamplingKernel : int32_t {
  Box = 0, Triangle = 1, Cosine = 2, Hermite = 3, Quadratic = 4, Gaussian = 5,
  BSpline = 6, Lanczos = 7, Mitchell = 8, CatmullRom = 9,
};
float KernelValue(TSamplingKernel AKernel, float AX);
float KernelRadius(TSamplingKernel AKernel);
struct TPointRec {
  int32_t Pos;
  float Weight;
};
// One cluster of contributors per target pixel of [ATargetStart, ATargetEnd).
std::vector<std::vector<TPointRec>> BuildMappingTable(int32_t ATargetStart, int32_t ATargetEnd, int32_t ASrcStart,
                                                      int32_t ASrcEnd, TSamplingKernel AKernel);
// False (nothing done) when a side is below 1.
bool StretchNearest(const TStretchImage& ASrc, int32_t ASx, int32_t ASy, int32_t ASw, int32_t ASh,
                    TStretchImage& ADst, int32_t ADx, int32_t ADy, int32_t ADw, int32_t ADh);
bool StretchFiltered(const TStretchImage& ASrc, int32_t ASx, int32_t ASy, int32_t ASw, int32_t ASh,
                     TStretchImage& ADst, int32_t ADx, int32_t ADy, int32_t ADw, int32_t ADh,
                     TSamplingKernel AKernel);

}  // namespace quorvel
