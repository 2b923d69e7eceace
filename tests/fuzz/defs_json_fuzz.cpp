// libFuzzer target for the definition reader: a model definition read from JSON (nodes,
// meshes, vertex groups, instances, properties, material references), the late pass, written,
// read back and written again. Whatever the input, reading answers a model or raises the
// run-time's exception (never crashes, hangs or allocates beyond the data), and a model that
// was read writes text that reads back; written once more, the text no longer changes.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "framework/io/Json.h"
#include "lib/defs/DefTypes.h"

using namespace quorvel;

namespace {

// Reads AText into a new model with its late pass; null when the text is no object or the
// read raised.
TOwned<TModelDef> ReadModel(std::string_view AText, std::unique_ptr<TJSONValue>& AHolder) {
  AHolder.reset(TJSONObject::ParseJSONValue(AText));
  const auto* json = dynamic_cast<const TJSONObject*>(AHolder.get());
  if (!json) return nullptr;
  TOwned<TModelDef> model(New<TModelDef>(nullptr, nullptr));
  try {
    TLateResolveScope scope(model.get());
    model->FromJSON(model.get(), json);
    model->LateResolve();
  } catch (const Exception&) {
    return nullptr;
  }
  return model;
}

// Says what broke (and the texts involved) before the crash that libFuzzer records.
[[noreturn]] void Fail(const char* AWhat, const std::string& AFirst, const std::string& ASecond = {}) {
  std::fprintf(stderr, "defs_json_fuzz: %s\n--- first:\n%s\n--- second:\n%s\n", AWhat, AFirst.c_str(), ASecond.c_str());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::unique_ptr<TJSONValue> source;
  TOwned<TModelDef> model = ReadModel(text, source);
  if (!model) return 0;

  // What was read can be written: every value read is one a writer can store.
  std::string first;
  {
    std::unique_ptr<TJSONObject> json(model->ToJSON());
    first = json->ToJSON();
  }
  (void)model->GetSize();
  (void)model->GetCombinedBoundingBox();
  model->AcquireBVH();
  TPoint3D hit, normal;
  (void)model->RayCastIntersect({0, 0, 10}, {0, 0, -1}, TMatrix3D::Identity(), TMatrix3D::Identity(), hit, normal);

  // A written model reads back. The first write may still drop what the reader ignores (a
  // vertex index map without indices); from then on the text is a fixed point.
  std::string second;
  {
    std::unique_ptr<TJSONValue> written;
    TOwned<TModelDef> back = ReadModel(first, written);
    if (!back) Fail("a written model does not read back", first);
    std::unique_ptr<TJSONObject> json(back->ToJSON());
    second = json->ToJSON();
  }
  std::unique_ptr<TJSONValue> written;
  TOwned<TModelDef> back = ReadModel(second, written);
  if (!back) Fail("a written model does not read back", second);
  std::unique_ptr<TJSONObject> again(back->ToJSON());
  if (again->ToJSON() != second) Fail("a written model reads back to another text", second, again->ToJSON());
  return 0;
}
