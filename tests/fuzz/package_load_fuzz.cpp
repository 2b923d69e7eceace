// libFuzzer target for asset packages: any bytes loaded as a package either give the packages
// and assets they validly describe or raise a clear exception; what was loaded stores back.
#include <cstddef>
#include <cstdint>

#include "FuzzSupport.h"
#include "framework/io/Stream.h"
#include "lib/formats/assets/AssetsManager.h"

using namespace quorvel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::InitializeOnce();
  TOwned<TQuorvelAssetsManager> manager(New<TQuorvelAssetsManager>(nullptr));
  try {
    TQuorvelAssetsPackage* package = manager->AddEmptyPackage("fuzz");
    TBytesStream input(TBytes(data, data + size));
    package->LoadFromStream(&input);
    (void)package->Log();
    (void)package->GetSize();
    TMemoryStream output;
    package->SaveToStream(&output);
  } catch (const std::exception&) {
  }
  return 0;
}
