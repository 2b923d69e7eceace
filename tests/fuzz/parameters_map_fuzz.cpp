// libFuzzer target for the parameters map's JSON form: any JSON text reads (or raises the
// invalid cast of a non-number in a float array), and what the map writes reads back to the
// same JSON.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "FuzzSupport.h"
#include "framework/io/Json.h"
#include "lib/game/ParametersMap.h"

using namespace quorvel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::InitializeOnce();
  const std::string text(reinterpret_cast<const char*>(data), size);
  TOwned<TJSONValue> value(TJSONObject::ParseJSONValue(text));
  auto* object = dynamic_cast<TJSONObject*>(value.get());
  if (!object) return 0;
  TQuorvelParametersMap map;
  try {
    map.FromJSON(object);
  } catch (const EInvalidCast&) {
  }
  TOwned<TJSONObject> written(map.ToJSON());
  const std::string first = written->ToJSON();
  TOwned<TJSONValue> reparsed(TJSONObject::ParseJSONValue(first, true));
  TQuorvelParametersMap back;
  back.FromJSON(dynamic_cast<TJSONObject*>(reparsed.get()));
  TOwned<TJSONObject> again(back.ToJSON());
  if (again->ToJSON() != first) std::abort();
  return 0;
}
