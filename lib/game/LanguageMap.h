#pragma once
// A text in several languages: language code -> text, in insertion order. Dialogue texts,
// item names and skill names are such maps; their owners keep the language as an integer id
// of the fixed table below. The map has an XML form (elements "lang" with a CDATA text) and a
// JSON form ({"Values": [{"Key": code, "Value": text}, ...]}).
#include <functional>
#include <string>

#include "framework/io/Json.h"
#include "framework/rtl/Containers.h"
#include "lib/game/XmlNode.h"

namespace quorvel {

// "en-us" 0, "en-uk" 1, "de-de" 2, "de-at" 3, "de-ch" 4; codes compare exactly. Unknown
// codes give 0, unknown ids "en-us".
int LanguageCodeToId(const std::string& ACode);
std::string LanguageIdToCode(int AId);

class TQuorvelLanguageMap : public TDictionary<std::string, std::string> {
public:
  // An element without children is one entry (code from "id", else "lang"; text its raw
  // value) added to the map. Otherwise the map becomes the element's "lang" children with an
  // "id": a childless one gives its raw value, else its consecutive CDATA children joined from
  // the first one (a text holding "]]>" is written over several sections).
  virtual void FromXml(TMz_XmlElement* ANode);
  // Writes the entries under AParent, or under a new element ATagName (with type
  // "multilingual") when ACreateTag; answers the element holding them.
  virtual TMz_XmlElement* ToXml(const std::string& ATagName, bool ACreateTag, TMz_XmlElement* AParent);
  // A copy of ASource (empty for nil).
  virtual void Assign(const TQuorvelLanguageMap* ASource);
  // A new object the caller frees.
  TJSONObject* ToJSON() const;
  // Replaces the content; malformed elements are skipped.
  void FromJSON(const TJSONObject* AData);
  // Runs after every change of the entries; not copied by Assign.
  std::function<void()> OnChanged;

protected:
  void ValueNotify(const std::string& AValue, TCollectionNotification AAction) override;
};

}  // namespace quorvel
