// libFuzzer target for the whole model's JSON reader (materials, textures, samplers, shaders,
// lights, cameras, the node tree, the late pass). Whatever the input, a read either works or
// raises the run-time's exception; a model that was read writes text that reads again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "framework/io/Json.h"
#include "lib/defs/DefTypes.h"

using namespace quorvel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::unique_ptr<TJSONValue> value(TJSONObject::ParseJSONValue(text));
  auto* obj = dynamic_cast<TJSONObject*>(value.get());
  if (!obj) return 0;
  std::string written;
  {
    TOwned<TModelDef> model(New<TModelDef>());
    try {
      model->FromJSON(obj);
    } catch (const Exception&) {
      return 0;
    }
    if (model->GetLateResolveList()) std::abort();
    std::unique_ptr<TJSONObject> out(model->ToJSON());
    written = out->ToJSON();
  }
  std::unique_ptr<TJSONValue> again(TJSONObject::ParseJSONValue(written));
  auto* back = dynamic_cast<TJSONObject*>(again.get());
  if (!back) std::abort();
  TOwned<TModelDef> model(New<TModelDef>());
  try {
    model->FromJSON(back);
  } catch (const Exception&) {
    // The second read only has to be safe: a texture asset's names are joined to the model's
    // folder again, which may name nothing readable.
  }
  return 0;
}
