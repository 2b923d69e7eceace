// Two threads decoding and converting at once: each load hands its own I/O set to its codec,
// and the shared option registry and colour-reduction tables are locked.
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <thread>

#include "framework/io/Stream.h"
#include "lib/formats/ImagingDDS.h"
#include "lib/formats/ImagingTGA.h"

using namespace quorvel;

namespace {

TBytes ReadWholeFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return TBytes(std::istreambuf_iterator<char>(f), {});
}

}  // namespace

TEST(ImagingThreads, TwoThreadsDecodeAtOnce) {
  const std::string dir = std::string(QUORVEL_TEST_DATA_DIR) + "/";
  const TBytes files[2] = {ReadWholeFile(dir + "dds/dxt5.dds"), ReadWholeFile(dir + "tga/duckCM.tga")};
  std::atomic<int> ok{0};
  auto work = [&](int which) {
    for (int i = 0; i < 3; ++i) {
      TOwned<TImageFileFormat> codec(which == 0 ? static_cast<TImageFileFormat*>(New<TDDSFileFormat>())
                                                : New<TTargaFileFormat>());
      TDynImageDataArray images;
      TBytesStream stream(files[which]);
      if (codec->LoadFromStream(&stream, images) && !images.empty()) {
        // Index8 goes through the colour reduction's shared tables.
        TImageData small{};
        AllocateImageData(16, 16, TImageFormat::A8R8G8B8, small);
        CopyImageArea(images[0], 0, 0, 16, 16, small, 0, 0);
        if (ChangeImageFormat(small, TImageFormat::Index8)) ++ok;
        ReleaseImageData(small);
        GetImagingOption(ImagingTargaRLE);
      }
      ReleaseImageArray(images);
    }
  };
  std::thread a(work, 0), b(work, 1);
  a.join();
  b.join();
  EXPECT_EQ(ok.load(), 6);
}
