// libFuzzer target for the readers of lights, cameras and texture-asset descriptors: any
// JSON object reads without crashing (bad values raise the run-time's exceptions), and what
// was read writes text that reads back to itself.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "framework/io/Json.h"
#include "lib/defs/DefTypes.h"
#include "lib/formats/assets/AssetsManager.h"

using namespace quorvel;

namespace {

template <class T>
void RoundTrip(TModelDef* AModel, const TJSONObject* AObject) {
  TOwned<T> def(New<T>(static_cast<TCustomDef*>(AModel)));
  try {
    def->FromJSON(AModel, AObject);
  } catch (const Exception&) {
    return;
  }
  def->LateResolveFromJSON(AModel, AObject);
  // Children of kinds the class table does not know come back as meshes, so the text is
  // stable from the second write on.
  auto reread = [AModel](const TJSONObject* AText) {
    TOwned<T> copy(New<T>(static_cast<TCustomDef*>(AModel)));
    copy->FromJSON(AModel, AText);
    return std::unique_ptr<TJSONObject>(copy->ToJSON());
  };
  std::unique_ptr<TJSONObject> written(def->ToJSON());
  std::unique_ptr<TJSONObject> second(reread(written.get()));
  std::unique_ptr<TJSONObject> third(reread(second.get()));
  if (second->ToJSON() != third->ToJSON()) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::unique_ptr<TJSONValue> value(TJSONObject::ParseJSONValue(text));
  const auto* object = dynamic_cast<const TJSONObject*>(value.get());
  if (!object) return 0;

  TOwned<TModelDef> model(New<TModelDef>(nullptr, nullptr));
  RoundTrip<TLightDef>(model.get(), object);
  RoundTrip<TCameraDef>(model.get(), object);

  TOwned<TQuorvelTextureAsset> asset(New<TQuorvelTextureAsset>(nullptr));
  try {
    asset->FromJSON(object);
  } catch (const Exception&) {
    return 0;
  }
  std::unique_ptr<TJSONObject> written(asset->ToJSON());
  TOwned<TQuorvelTextureAsset> back(New<TQuorvelTextureAsset>(nullptr));
  back->FromJSON(written.get());
  if (back->GetId() != asset->GetId() || back->GetFilename() != asset->GetFilename()) std::abort();
  return 0;
}
