#include "lib/game/LanguageMap.h"

#include <array>
#include <utility>

#include "framework/rtl/Monitor.h"

namespace quorvel {

namespace {

constexpr std::array<std::pair<const char*, int>, 5> Languages{
    {{"en-us", 0}, {"en-uk", 1}, {"de-de", 2}, {"de-at", 3}, {"de-ch", 4}}};

}  // namespace

int LanguageCodeToId(const std::string& ACode) {
  for (const auto& [code, id] : Languages)
    if (ACode == code) return id;
  return 0;
}

std::string LanguageIdToCode(int AId) {
  for (const auto& [code, id] : Languages)
    if (AId == id) return code;
  return "en-us";
}

void TQuorvelLanguageMap::FromXml(TMz_XmlElement* ANode) {
  TMonitorGuard lock(this);
  if (!ANode->nodes()) {
    std::string code;
    if (ANode->getAttribute("id", code) || ANode->getAttribute("lang", code))
      AddOrSetValue(ANode->attribute_raw(ANode->attributes()->ContainsKey("id") ? "id" : "lang"),
                    ANode->getRawValue());
    return;
  }
  Clear();
  for (TMz_XmlElement* child : *ANode->nodes()) {
    if (child->name() != "lang") continue;
    TMz_XmlAttributes* attrs = child->attributes();
    if (!attrs || !attrs->ContainsKey("id")) continue;
    const std::string code = child->attribute_raw("id");
    if (!child->nodes()) {
      AddOrSetValue(code, child->getRawValue());
      continue;
    }
    std::string text;
    bool found = false;
    for (TMz_XmlElement* data : *child->nodes()) {
      if (data->kind() == mzData) {
        text += data->getRawValue();
        found = true;
      } else if (found) {
        break;
      }
    }
    if (found) AddOrSetValue(code, text);
  }
}

TMz_XmlElement* TQuorvelLanguageMap::ToXml(const std::string& ATagName, bool ACreateTag, TMz_XmlElement* AParent) {
  TMonitorGuard lock(this);
  TMz_XmlElement* container = AParent;
  if (!ACreateTag && !container) return nullptr;
  if (ACreateTag) {
    container = New<TMz_XmlElement>(AParent ? AParent->document() : nullptr, AParent, std::string(), ATagName);
    container->addAttribute("type", "multilingual");
  }
  for (const auto& pair : *this) {
    auto* lang = New<TMz_XmlElement>(container->document(), container, std::string(), std::string("lang"));
    lang->setAttribute_raw("id", pair.Key);
    auto* data = New<TMz_XmlElement>(container->document(), lang, std::string(), std::string());
    data->setKind(mzData);
    data->setRawValue(pair.Value);
  }
  return container;
}

void TQuorvelLanguageMap::Assign(const TQuorvelLanguageMap* ASource) {
  Clear();
  if (!ASource) return;
  TMonitorGuard lock(this);
  for (const auto& pair : *ASource) AddOrSetValue(pair.Key, pair.Value);
}

TJSONObject* TQuorvelLanguageMap::ToJSON() const {
  TOwned<TJSONObject> result(New<TJSONObject>());
  auto* values = New<TJSONArray>();
  result->AddPair("Values", values);
  for (const auto& pair : *this) {
    auto* entry = New<TJSONObject>();
    values->Add(entry);
    entry->AddPair("Key", pair.Key);
    entry->AddPair("Value", pair.Value);
  }
  return result.release();
}

void TQuorvelLanguageMap::FromJSON(const TJSONObject* AData) {
  Clear();
  if (!AData) return;
  auto* values = dynamic_cast<TJSONArray*>(AData->GetValue("Values"));
  if (!values) return;
  for (TJSONValue* element : *values) {
    auto* entry = dynamic_cast<TJSONObject*>(element);
    if (!entry) continue;
    TJSONValue* key = entry->GetValue("Key");
    TJSONValue* value = entry->GetValue("Value");
    if (!key || !value || key->Kind() != TJSONValue::TKind::String || value->Kind() != TJSONValue::TKind::String)
      continue;
    AddOrSetValue(key->Value(), value->Value());
  }
}

void TQuorvelLanguageMap::ValueNotify(const std::string& AValue, TCollectionNotification AAction) {
  TDictionary::ValueNotify(AValue, AAction);
  if (OnChanged) OnChanged();
}

}  // namespace quorvel
