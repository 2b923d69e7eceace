#pragma once
// DirectDraw Surface files: 2D textures with mip levels, cube maps and volume textures in
// uncompressed, floating-point and block-compressed formats.
#include "lib/formats/Imaging.h"

namespace quorvel {

class TDDSFileFormat : public TImageFileFormat {
public:
  TDDSFileFormat();
  ~TDDSFileFormat() override;

  bool TestFormat(const TImagingIO& AIO) override;
  void CheckOptionsValidity() override;
  void RegisterOptions() override;

  bool GetLoadedCubeMap() const { return FLoadedCubeMap != 0; }
  bool GetLoadedVolume() const { return FLoadedVolume != 0; }
  int32_t GetLoadedMipMapCount() const { return FLoadedMipMapCount; }
  int32_t GetLoadedDepth() const { return FLoadedDepth; }
  bool GetSaveCubeMap() const { return FSaveCubeMap != 0; }
  void SetSaveCubeMap(bool AValue) { FSaveCubeMap = AValue; }
  bool GetSaveVolume() const { return FSaveVolume != 0; }
  void SetSaveVolume(bool AValue) { FSaveVolume = AValue; }
  int32_t GetSaveMipMapCount() const { return FSaveMipMapCount; }
  void SetSaveMipMapCount(int32_t AValue) { FSaveMipMapCount = AValue; }
  int32_t GetSaveDepth() const { return FSaveDepth; }
  void SetSaveDepth(int32_t AValue) { FSaveDepth = AValue; }

protected:
  bool DecodeImages(const TImagingIO& AIO, TDynImageDataArray& AImages, bool AOnlyFirstLevel) override;
  bool EncodeImages(const TImagingIO& AIO, const TDynImageDataArray& AImages, int32_t AIndex) override;
  void MakeFormatSupported(TImageData& AImage, const TImageFormatDescriptor& AInfo) override;

private:
  int32_t FLoadedCubeMap = 0;
  int32_t FLoadedVolume = 0;
  int32_t FLoadedMipMapCount = 1;
  int32_t FLoadedDepth = 1;
  int32_t FSaveCubeMap = 0;
  int32_t FSaveVolume = 0;
  int32_t FSaveMipMapCount = 1;
  int32_t FSaveDepth = 1;
};

}  // namespace quorvel
