#pragma once
// Truevision TGA files: colour-mapped, true-colour and gray, plain or run-length encoded.
#include "lib/formats/Imaging.h"

namespace quorvel {

class TTargaFileFormat : public TImageFileFormat {
public:
  TTargaFileFormat();
  ~TTargaFileFormat() override;

  bool TestFormat(const TImagingIO& AIO) override;
  void RegisterOptions() override;

  bool GetUseRLE() const { return FUseRLE != 0; }
  void SetUseRLE(bool AValue) { FUseRLE = AValue; }

protected:
  bool DecodeImages(const TImagingIO& AIO, TDynImageDataArray& AImages, bool AOnlyFirstLevel) override;
  bool EncodeImages(const TImagingIO& AIO, const TDynImageDataArray& AImages, int32_t AIndex) override;
  void MakeFormatSupported(TImageData& AImage, const TImageFormatDescriptor& AInfo) override;

private:
  int32_t FUseRLE = 0;
};

}  // namespace quorvel
