#pragma once
// Decoded images in memory and the base of the image file codecs.
//
// TImageData is a plain record that owns its pixel buffer and palette; the free routines
// below create, validate, copy, convert, flip, resize, re-channel and blit such records and
// report failures as EImagingError. TImageFileFormat loads and saves through one I/O set
// (ImagingIO.h) that it hands to the codec's DecodeImages/EncodeImages with the open handle.
#include <cstdint>
#include <string>
#include <vector>

#include "framework/rtl/Object.h"
#include "lib/formats/ImagingFormats.h"
#include "lib/formats/ImagingIO.h"

namespace quorvel {

class TStream;

struct TImageData {
  int32_t Width = 0;
  int32_t Height = 0;
  TImageFormat Format = TImageFormat::Unknown;
  int32_t Size = 0;
  void* Bits = nullptr;
  TColor32Rec* Palette = nullptr;
};
using TDynImageDataArray = std::vector<TImageData>;

enum class TImageStretchMode : int32_t { NearestPixel = 0, Bilinear = 1, Bicubic = 2 };

// The format Default stands for.
constexpr TImageFormat DefaultImageFormat = TImageFormat::A8R8G8B8;

void ClearImageData(TImageData& AImage);
bool AllocateImageData(int32_t AWidth, int32_t AHeight, TImageFormat AFormat, TImageData& AImage);
bool IsImageDataValid(const TImageData& AImage);
bool AreImagesValid(const TDynImageDataArray& AImages);
void ReleaseImageData(TImageData& AImage);
void ReleaseImageArray(TDynImageDataArray& AImages);
bool DuplicateImageData(const TImageData& ASource, TImageData& ATarget);
bool ChangeImageFormat(TImageData& AImage, TImageFormat AFormat);
bool MirrorImageVertically(TImageData& AImage);
bool MirrorImageHorizontally(TImageData& AImage);
bool ScaleImageData(TImageData& AImage, int32_t AWidth, int32_t AHeight, TImageStretchMode AMode);
bool ExchangeImageChannels(TImageData& AImage, int32_t AChannel1, int32_t AChannel2);
bool CopyImageArea(const TImageData& ASource, int32_t AX, int32_t AY, int32_t AWidth, int32_t AHeight,
                   TImageData& ATarget, int32_t ATargetX, int32_t ATargetY);
bool StretchImageArea(const TImageData& ASource, int32_t AX, int32_t AY, int32_t AWidth, int32_t AHeight,
                      TImageData& ATarget, int32_t ATargetX, int32_t ATargetY, int32_t ATargetWidth,
                      int32_t ATargetHeight, TImageStretchMode AMode);
void ExchangePaletteChannels(TColor32Rec* APalette, int32_t ACount, int32_t AChannel1, int32_t AChannel2);
std::string ImageFormatName(TImageFormat AFormat);
std::string DescribeImageData(const TImageData& AImage);

// Called with the byte count of every pixel or palette allocation before it is made (tests
// use it to show that hostile headers are refused first). Null: none.
using TImagingAllocHook = void (*)(int64_t ABytes);
void SetImagingAllocHook(TImagingAllocHook AHook);

// Options: ids mapped to 32-bit variables. The registry is shared and locked.
constexpr int32_t ImagingOptionNotFound = int32_t(0x80000001);
constexpr int32_t ImagingTargaRLE = 13;
constexpr int32_t ImagingDDSLoadedCubeMap = 14;
constexpr int32_t ImagingDDSLoadedVolume = 15;
constexpr int32_t ImagingDDSLoadedMipMapCount = 16;
constexpr int32_t ImagingDDSLoadedDepth = 17;
constexpr int32_t ImagingDDSSaveCubeMap = 18;
constexpr int32_t ImagingDDSSaveVolume = 19;
constexpr int32_t ImagingDDSSaveMipMapCount = 20;
constexpr int32_t ImagingDDSSaveDepth = 21;
constexpr int32_t ImagingColorReductionMask = 128;
constexpr int32_t ImagingLoadOverrideFormat = 129;
constexpr int32_t ImagingSaveOverrideFormat = 130;

int32_t GetImagingOption(int32_t AId);
bool SetImagingOption(int32_t AId, int32_t AValue);
bool RegisterImagingOption(int32_t AId, int32_t* AVariable);
// Up to 8 levels of saved option values.
bool PushImagingOptions();
bool PopImagingOptions();

class TImageFileFormat : public TObject {
public:
  TImageFileFormat();
  ~TImageFileFormat() override;

  const std::string& GetName() const { return FName; }
  bool GetCanLoad() const { return FCanLoad; }
  bool GetCanSave() const { return FCanSave; }
  bool GetIsMultiImageFormat() const { return FIsMultiImageFormat; }
  const std::vector<std::string>& GetExtensions() const { return FExtensions; }
  const std::vector<std::string>& GetMasks() const { return FMasks; }

  bool LoadFromFile(const std::string& AFileName, TDynImageDataArray& AImages, bool AOnlyFirstLevel = false);
  bool LoadFromStream(TStream* AStream, TDynImageDataArray& AImages, bool AOnlyFirstLevel = false);
  bool LoadFromMemory(const void* AData, int64_t ASize, TDynImageDataArray& AImages, bool AOnlyFirstLevel = false);
  bool SaveToFile(const std::string& AFileName, const TDynImageDataArray& AImages, bool AOnlyFirstLevel = false);
  bool SaveToStream(TStream* AStream, const TDynImageDataArray& AImages, bool AOnlyFirstLevel = false);
  // ASize: capacity in, bytes written out.
  bool SaveToMemory(void* AData, int64_t& ASize, const TDynImageDataArray& AImages, bool AOnlyFirstLevel = false);

  bool MakeCompatible(const TImageData& AImage, TImageData& ACompatible, bool& AMustBeFreed);
  virtual bool TestFormat(const TImagingIO& AIO);
  bool TestFileName(const std::string& AFileName) const;
  virtual void CheckOptionsValidity() {}
  virtual bool SupportsFormat(TImageFormat AFormat) const;

  // Points this codec's option ids at its fields (none in the base).
  virtual void RegisterOptions() {}

protected:
  virtual bool DecodeImages(const TImagingIO& AIO, TDynImageDataArray& AImages, bool AOnlyFirstLevel);
  virtual bool EncodeImages(const TImagingIO& AIO, const TDynImageDataArray& AImages, int32_t AIndex);
  virtual void MakeFormatSupported(TImageData& AImage, const TImageFormatDescriptor& AInfo);
  // Masks as comma-separated text ("*.dds"); their extensions follow.
  void AddMasks(const std::string& AMasks);
  // For a codec's destructor: its option ids that point into this instance go back to the
  // registered instance of the same class, or to nothing.
  void ReleaseOptions(std::initializer_list<std::pair<int32_t, int32_t*>> AOptions);

  std::vector<std::string> FExtensions;
  std::vector<std::string> FMasks;
  std::string FName = "Unknown and unsupported format";
  bool FCanLoad = false;
  bool FCanSave = false;
  bool FIsMultiImageFormat = false;
  std::vector<TImageFormat> FSupportedFormats;
  int32_t FFirstIdx = 0;
  int32_t FLastIdx = 0;

private:
  bool Load(const TImagingIOCallbacks& AIO, const void* ASource, TDynImageDataArray& AImages, bool AOnlyFirstLevel,
            const std::string& ATestFailed);
  bool SaveOne(const TImagingIOCallbacks& AIO, const void* ATarget, const TDynImageDataArray& AImages, int32_t AIndex);
  bool PrepareSave(const TDynImageDataArray& AImages, int32_t& AIndex);
  std::string FirstExtension() const { return FExtensions.empty() ? std::string() : FExtensions.front(); }
};

using TImageFileFormatFactory = TImageFileFormat* (*)();
// Creates one instance and adds it to the shared format list (freed at unit shut-down).
void AddImageFileFormat(TImageFileFormatFactory AFactory);
// A snapshot of the registered instances.
std::vector<TImageFileFormat*> ImageFileFormats();

}  // namespace quorvel
