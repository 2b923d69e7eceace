// libFuzzer target for the language map's two forms. The first byte picks the form; the rest
// is an XML document (every element is read as a map) or a JSON text. Whatever the input, a
// map written and read back in either form has the same entries.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "framework/io/Json.h"
#include "framework/rtl/Utf8.h"
#include "lib/game/LanguageMap.h"
#include "lib/game/XmlDocument.h"

using namespace quorvel;

namespace {

std::string JsonOf(const TQuorvelLanguageMap& AMap) {
  TOwned<TJSONObject> json(AMap.ToJSON());
  return json->ToJSON();
}

void CheckRoundTrips(TQuorvelLanguageMap& AMap) {
  const std::string expected = JsonOf(AMap);
  TOwned<TJSONValue> parsed(TJSONObject::ParseJSONValue(expected, true));
  TQuorvelLanguageMap fromJson;
  fromJson.FromJSON(dynamic_cast<TJSONObject*>(parsed.get()));
  if (JsonOf(fromJson) != expected) std::abort();

  // The XML form carries text as it is: malformed UTF-8 reads back as U+FFFD.
  for (const auto& pair : AMap)
    if (!Utf8Validate(pair.Key) || !Utf8Validate(pair.Value)) return;
  TMz_XmlDocument doc;
  auto* root = New<TMz_XmlElement>(&doc, nullptr, "", "xml");
  root->setKind(mzDocument);
  doc.setRoot(root);
  AMap.ToXml("texts", true, root);
  std::string saved;
  try {
    saved = doc.saveToString(true);
  } catch (const EMz_XmlStoringError&) {
    return;  // texts that no XML form can hold are refused, not written
  }
  TMz_XmlDocument again;
  again.loadFromString(saved);
  TQuorvelLanguageMap fromXml;
  fromXml.FromXml(dynamic_cast<TMz_XmlElement*>(again.root())->find("texts"));
  if (JsonOf(fromXml) != expected) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::InitializeOnce();
  if (size == 0) return 0;
  const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  if (data[0] & 1) {
    TOwned<TJSONValue> value(TJSONObject::ParseJSONValue(text));
    auto* object = dynamic_cast<TJSONObject*>(value.get());
    if (!object) return 0;
    TQuorvelLanguageMap map;
    map.FromJSON(object);
    CheckRoundTrips(map);
    return 0;
  }
  TMz_XmlDocument doc;
  try {
    doc.loadFromString(text);
  } catch (const EMz_XmlParseError&) {
    return 0;
  }
  auto* root = dynamic_cast<TMz_XmlElement*>(doc.root());
  if (!root) return 0;
  std::vector<TMz_XmlElement*> work{root};
  for (size_t visited = 0; !work.empty() && visited < 64; ++visited) {
    TMz_XmlElement* e = work.back();
    work.pop_back();
    TQuorvelLanguageMap map;
    map.FromXml(e);
    CheckRoundTrips(map);
    if (e->nodes())
      for (TMz_XmlElement* child : *e->nodes()) work.push_back(child);
  }
  return 0;
}
