// libFuzzer target for package descriptors: any text either parses into an object that a
// texture asset reads (or refuses with an exception), or raises a clear exception.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "FuzzSupport.h"
#include "lib/formats/assets/AssetsLayout.h"
#include "lib/formats/assets/AssetsManager.h"

using namespace quorvel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  try {
    std::unique_ptr<TJSONObject> json(assets_layout::ParseDescriptor(text, "F/asset.json"));
    TOwned<TQuorvelTextureAsset> asset(New<TQuorvelTextureAsset>(nullptr));
    asset->FromJSON(json.get());
    std::unique_ptr<TJSONObject> back(asset->ToJSON());
    (void)assets_layout::DescriptorText(back.get(), "F/asset.json");
  } catch (const Exception&) {
  }
  return 0;
}
