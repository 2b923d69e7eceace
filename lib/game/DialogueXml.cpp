#include "lib/game/DialogueXml.h"
#include "lib/game/GameText.h"

#include <array>
#include <utility>

#include "framework/rtl/Finally.h"
#include "framework/rtl/SysUtils.h"
#include "lib/game/XmlDocument.h"

namespace quorvel {

// --- enumeration texts ---------------------------------------------------------------------

namespace {

template <class E, size_t N>
E FromText(const std::array<std::pair<E, const char*>, N>& ATable, const std::string& AText, E AFallback) {
  const std::string lowered = LowerCase(AText);
  for (const auto& [value, text] : ATable)
    if (LowerCase(text) == lowered) return value;
  return AFallback;
}

template <class E, size_t N>
std::string ToText(const std::array<std::pair<E, const char*>, N>& ATable, E AValue) {
  for (const auto& [value, text] : ATable)
    if (value == AValue) return text;
  return {};
}

using IK = TQuorvelDialogueItemKind;
using EK = TQuorvelDialogueEventKind;
using ET = TQuorvelDialogueEventTrigger;

constexpr std::array<std::pair<IK, const char*>, 5> ItemKinds{{
    {IK::Question, "question"}, {IK::Answer, "answer"}, {IK::Flow, "flow"}, {IK::Reference, "reference"},
    {IK::None, "none"}}};
constexpr std::array<std::pair<EK, const char*>, 10> EventKinds{{
    {EK::Text, "text"}, {EK::Image, "image"}, {EK::Audio, "audio"}, {EK::Video, "video"},
    {EK::Animation, "animation"}, {EK::Method, "method"}, {EK::ObjProperty, "property"},
    {EK::Redirect, "redirect"}, {EK::Timer, "timer"}, {EK::Misc, "misc"}}};
constexpr std::array<std::pair<ET, const char*>, 4> Triggers{{
    {ET::OnBegin, "onBegin"}, {ET::OnEnd, "onEnd"}, {ET::OnTimeout, "onTimeout"}, {ET::Undefined, "undefined"}}};

}  // namespace

TQuorvelDialogueItemKind StringToDialogueItemKind(const std::string& AText) {
  return FromText(ItemKinds, AText, IK::None);
}
std::string DialogueItemKindToString(TQuorvelDialogueItemKind AKind) { return ToText(ItemKinds, AKind); }
TQuorvelDialogueEventKind StringToDialogueEventKind(const std::string& AText) {
  return FromText(EventKinds, AText, EK::Misc);
}
std::string DialogueEventKindToString(TQuorvelDialogueEventKind AKind) { return ToText(EventKinds, AKind); }
TQuorvelDialogueEventTrigger StringToDialogueEventTrigger(const std::string& AText) {
  return FromText(Triggers, AText, ET::Undefined);
}
std::string DialogueEventTriggerToString(TQuorvelDialogueEventTrigger ATrigger) { return ToText(Triggers, ATrigger); }

// --- reader --------------------------------------------------------------------------------

namespace {

// Ident, "enabled" and "position", shared by every element of the model.
void ReadCommon(TMz_XmlElement* ANode, TQuorvelDialogueCustomItem* AItem) {
  AItem->SetIdent(ANode->attribute_raw("id"));
  if (HasAttribute(ANode, "enabled")) AItem->SetEnabled(LowerCase(ANode->attribute_raw("enabled")) == "true");
  if (HasAttribute(ANode, "position")) AItem->SetPosition(ParsePosition(ANode->attribute_raw("position")));
}

void ReadParams(TMz_XmlElement* ANode, TQuorvelDialogueParameterizedItem* AItem) {
  if (!ANode->nodes()) return;
  for (TMz_XmlElement* param : *ANode->nodes())
    if (param->name() == "param") AItem->AddParameter(param->attribute_raw("name"), param->value());
}

bool ReadInteger(TMz_XmlElement* ANode, const char* AName, int32_t& AValue) {
  return HasAttribute(ANode, AName) && TryStrToInt(Trim(ANode->attribute_raw(AName)), AValue);
}

}  // namespace

TQuorvelDialogueSystem* TQuorvelDialogueReader::LoadFromStream(TStream* AStream) {
  TOwned<TQuorvelDialogueSystem> system(New<TQuorvelDialogueSystem>(nullptr));
  AddFromStream(AStream, system.get());
  return system.release();
}

TQuorvelDialogueSystem* TQuorvelDialogueReader::LoadFromFile(const std::string& AFileName) {
  TOwned<TFileStream> stream(New<TFileStream>(AFileName, fmOpenRead | fmShareDenyWrite));
  return LoadFromStream(stream.get());
}

void TQuorvelDialogueReader::AddFromFile(const std::string& AFileName, TQuorvelDialogueSystem* ASystem) {
  TOwned<TFileStream> stream(New<TFileStream>(AFileName, fmOpenRead | fmShareDenyWrite));
  AddFromStream(stream.get(), ASystem);
}

void TQuorvelDialogueReader::AddFromStream(TStream* AStream, TQuorvelDialogueSystem* ASystem) {
  TOwned<TMz_XmlDocument> document(New<TMz_XmlDocument>());
  FDocument = document.get();
  FSystem = ASystem;
  auto reset = Finally([this] {
    FDocument = nullptr;
    FSystem = nullptr;
  });
  FDocument->loadFromStream(AStream);

  auto* root = dynamic_cast<TMz_XmlElement*>(FDocument->root());
  TMz_XmlElement* dialogues = nullptr;
  if (root && root->name() == "xml") dialogues = root->find("dialogues");
  else if (root && root->name() == "dialogues") dialogues = root;
  if (!dialogues) throw EQuorvelDialogueReaderException("invalid xml structure - \"dialogues\" tag expected");

  FSystem->SetId(dialogues->attribute_raw("id"));
  FSystem->SetLanguage(LanguageCodeToId(dialogues->attribute_raw("default-lang")));
  if (!dialogues->nodes() || dialogues->nodes()->Count() == 0)
    throw EQuorvelDialogueReaderException("invalid xml structure - no child nodes inside of \"dialogues\" tag");
  for (TMz_XmlElement* child : *dialogues->nodes())
    if (child->name() == "dialogue") ReadDialogue(child);
}

void TQuorvelDialogueReader::ReadDialogue(TMz_XmlElement* ANode) {
  auto* dialogue = New<TQuorvelDialogue>(FSystem->Dialogues());
  ReadCommon(ANode, dialogue);
  if (TMz_XmlElement* characters = ANode->find("characters"); characters && characters->nodes())
    for (TMz_XmlElement* child : *characters->nodes())
      if (child->name() == "character") ReadCharacter(child, dialogue);
  if (TMz_XmlElement* items = ANode->find("items"); items && items->nodes())
    for (TMz_XmlElement* child : *items->nodes())
      if (child->name() == "item") ReadItem(child, dialogue, 1);
}

void TQuorvelDialogueReader::ReadCharacter(TMz_XmlElement* ANode, TPersistent* AParent) {
  auto* dialogue = dynamic_cast<TQuorvelDialogue*>(AParent);
  if (!dialogue)
    throw EQuorvelDialogueReaderException(
        "failed to read dialogue file - invalid parent component in dialog character " + ANode->attribute_raw("id"));
  auto* character = dialogue->Characters()->AddCharacter();
  ReadCommon(ANode, character);
  if (HasAttribute(ANode, "name")) character->SetName(Trim(ANode->attribute_raw("name")));
  if (ANode->nodes())
    for (TMz_XmlElement* child : *ANode->nodes())
      if (child->name() == "params") ReadParams(child, character);
}

void TQuorvelDialogueReader::ReadItem(TMz_XmlElement* ANode, TPersistent* AParent, int ADepth) {
  auto* parent = dynamic_cast<TQuorvelDialogueParentItem*>(AParent);
  if (!dynamic_cast<TQuorvelDialogue*>(AParent) && !dynamic_cast<TQuorvelDialogueItem*>(AParent))
    parent = nullptr;
  if (!parent)
    throw EQuorvelDialogueReaderException(
        "failed to read dialogue file - invalid parent component in dialog item " + ANode->attribute_raw("id"));
  if (ADepth > MaxItemDepth)
    throw EQuorvelDialogueReaderException("failed to read dialogue file - items nested too deeply in dialog item " +
                                          ANode->attribute_raw("id"));
  TQuorvelDialogueItem* item = parent->Items()->AddItem();
  ReadCommon(ANode, item);
  item->SetKind(StringToDialogueItemKind(ANode->attribute_raw("kind")));
  if (HasAttribute(ANode, "character")) item->SetCharacter(Trim(ANode->attribute_raw("character")));
  if (HasAttribute(ANode, "display-name")) item->SetDisplayName(Trim(ANode->attribute_raw("display-name")));
  if (item->Kind() == TQuorvelDialogueItemKind::Reference && HasAttribute(ANode, "ref"))
    item->SetReference(Trim(ANode->attribute_raw("ref")));
  if (int32_t time = 0; ReadInteger(ANode, "display-time", time)) item->SetDisplayTime(time);
  if (!ANode->nodes()) return;
  for (TMz_XmlElement* child : *ANode->nodes()) {
    if (child->name() == "text") {
      item->Text()->FromXml(child);
    } else if (child->name() == "params") {
      ReadParams(child, item);
    } else if (child->name() == "events") {
      if (child->nodes())
        for (TMz_XmlElement* e : *child->nodes())
          if (e->name() == "event") ReadEvent(e, item);
    } else if (child->name() == "items") {
      if (child->nodes())
        for (TMz_XmlElement* sub : *child->nodes())
          if (sub->name() == "item") ReadItem(sub, item, ADepth + 1);
    }
  }
}

void TQuorvelDialogueReader::ReadEvent(TMz_XmlElement* ANode, TQuorvelDialogueItem* AItem) {
  TQuorvelDialogueItemEvent* event = AItem->Events()->AddEvent();
  ReadCommon(ANode, event);
  if (HasAttribute(ANode, "owner")) event->SetOwnerEvent(ANode->attribute_raw("owner"));
  event->SetKind(HasAttribute(ANode, "kind") ? StringToDialogueEventKind(ANode->attribute_raw("kind"))
                                    : TQuorvelDialogueEventKind::Misc);
  event->SetTrigger(StringToDialogueEventTrigger(ANode->attribute_raw("trigger")));
  // The scope names an item or a variable: taken as written, like the identifiers.
  event->SetScope(ANode->attribute_raw("scope"));
  if (int32_t n = 0; ReadInteger(ANode, "iterations", n)) event->SetIterations(n);
  if (!ANode->nodes()) return;
  for (TMz_XmlElement* child : *ANode->nodes()) {
    if (child->name() == "data") event->Data()->FromXml(child);
    else if (child->name() == "params") ReadParams(child, event);
  }
}

// --- writer --------------------------------------------------------------------------------

TQuorvelDialogueWriter::TQuorvelDialogueWriter() : FFormat(TFormatSettings::Create("en-US")) {}

void TQuorvelDialogueWriter::SaveToFile(TQuorvelDialogueSystem* ASystem, const std::string& AFileName) {
  if (!ASystem) return;
  Write(ASystem, [&](TMz_XmlDocument* ADocument) { ADocument->saveToFile(AFileName, true); });
}

void TQuorvelDialogueWriter::SaveToStream(TQuorvelDialogueSystem* ASystem, TStream* AStream) {
  if (!ASystem || !AStream) return;
  Write(ASystem, [&](TMz_XmlDocument* ADocument) { ADocument->saveToStream(AStream, true); });
}

void TQuorvelDialogueWriter::Write(TQuorvelDialogueSystem* ASystem,
                                   const std::function<void(TMz_XmlDocument*)>& AWrite) {
  TOwned<TMz_XmlDocument> document(New<TMz_XmlDocument>());
  FDocument = document.get();
  FSystem = ASystem;
  auto reset = Finally([this] {
    FDocument = nullptr;
    FSystem = nullptr;
  });
  auto* header = New<TMz_XmlElement>(FDocument, nullptr, std::string(), std::string("xml"));
  header->setKind(mzDocument);
  FDocument->setRoot(header);
  header->setAttribute_raw("version", "1.0");
  header->setAttribute_raw("encoding", "UTF-8");
  header->setAttribute_raw("standalone", "yes");
  auto* dialogues = New<TMz_XmlElement>(FDocument, header, std::string(), std::string("dialogues"));
  dialogues->setAttribute_raw("id", ASystem->Id());
  dialogues->setAttribute_raw("default-lang", LanguageIdToCode(ASystem->Language()));
  for (int i = 0; i < ASystem->Dialogues()->Count(); ++i) WriteDialogue(ASystem->Dialogues()->Items(i), dialogues);
  AWrite(FDocument);
}

void TQuorvelDialogueWriter::WriteCommon(TQuorvelDialogueCustomItem* AItem, TMz_XmlElement* ANode,
                                         bool AWithPosition) {
  if (AWithPosition)
    ANode->setAttribute_raw("position",
                            Mz_SingleToStr(AItem->Position().X, FFormat) + ";" + Mz_SingleToStr(AItem->Position().Y, FFormat));
  if (!AItem->Enabled()) ANode->setAttribute_raw("enabled", "false");
}

void TQuorvelDialogueWriter::WriteParams(TQuorvelDialogueParameters* AParams, TMz_XmlElement* AParent) {
  if (AParams->Count() == 0) return;
  auto* params = New<TMz_XmlElement>(FDocument, AParent, std::string(), std::string("params"));
  for (const auto& pair : *AParams) {
    auto* param = New<TMz_XmlElement>(FDocument, params, std::string(), std::string("param"));
    param->setAttribute_raw("name", pair.Key);
    param->setValue(pair.Value);
  }
}

void TQuorvelDialogueWriter::WriteDialogue(TQuorvelDialogue* ADialogue, TMz_XmlElement* AParent) {
  auto* node = New<TMz_XmlElement>(FDocument, AParent, std::string(), std::string("dialogue"));
  node->setAttribute_raw("id", ADialogue->Ident());
  WriteCommon(ADialogue, node, true);
  if (ADialogue->Characters()->Count() > 0) {
    auto* characters = New<TMz_XmlElement>(FDocument, node, std::string(), std::string("characters"));
    for (int i = 0; i < ADialogue->Characters()->Count(); ++i) {
      TQuorvelDialogueCharacter* character = ADialogue->Characters()->Items(i);
      auto* c = New<TMz_XmlElement>(FDocument, characters, std::string(), std::string("character"));
      c->setAttribute_raw("id", character->Ident());
      WriteCommon(character, c, true);
      c->setAttribute_raw("name", character->Name());
      WriteParams(character->Parameters(), c);
    }
  }
  if (ADialogue->Items()->Count() > 0) {
    auto* items = New<TMz_XmlElement>(FDocument, node, std::string(), std::string("items"));
    for (int i = 0; i < ADialogue->Items()->Count(); ++i) WriteItem(ADialogue->Items()->Items(i), items);
  }
}

void TQuorvelDialogueWriter::WriteItem(TQuorvelDialogueItem* AItem, TMz_XmlElement* AParent) {
  auto* node = New<TMz_XmlElement>(FDocument, AParent, std::string(), std::string("item"));
  node->setAttribute_raw("id", AItem->Ident());
  node->setAttribute_raw("kind", DialogueItemKindToString(AItem->Kind()));
  WriteCommon(AItem, node, true);
  if (const std::string name = AItem->GetDisplayName(); !name.empty()) node->setAttribute_raw("display-name", name);
  if (!AItem->Character().empty()) node->setAttribute_raw("character", AItem->Character());
  if (AItem->Kind() == TQuorvelDialogueItemKind::Reference) node->setAttribute_raw("ref", AItem->Reference());
  if (AItem->DisplayTime() > 0) node->setAttribute_raw("display-time", std::to_string(AItem->DisplayTime()));
  WriteParams(AItem->Parameters(), node);
  if (AItem->Text()->Count() > 0) AItem->Text()->ToXml("text", true, node);
  if (AItem->Events()->Count() > 0) {
    auto* events = New<TMz_XmlElement>(FDocument, node, std::string(), std::string("events"));
    for (int i = 0; i < AItem->Events()->Count(); ++i) WriteEvent(AItem->Events()->Items(i), events);
  }
  if (AItem->Items()->Count() > 0) {
    auto* items = New<TMz_XmlElement>(FDocument, node, std::string(), std::string("items"));
    for (int i = 0; i < AItem->Items()->Count(); ++i) WriteItem(AItem->Items()->Items(i), items);
  }
}

void TQuorvelDialogueWriter::WriteEvent(TQuorvelDialogueItemEvent* AEvent, TMz_XmlElement* AParent) {
  auto* node = New<TMz_XmlElement>(FDocument, AParent, std::string(), std::string("event"));
  node->setAttribute_raw("id", AEvent->Ident());
  if (!AEvent->OwnerEvent().empty()) node->setAttribute_raw("owner", AEvent->OwnerEvent());
  node->setAttribute_raw("kind", DialogueEventKindToString(AEvent->Kind()));
  WriteCommon(AEvent, node, true);
  node->setAttribute_raw("trigger", DialogueEventTriggerToString(AEvent->Trigger()));
  if (!AEvent->Scope().empty()) node->setAttribute_raw("scope", AEvent->Scope());
  if (AEvent->Iterations() > 0) node->setAttribute_raw("iterations", std::to_string(AEvent->Iterations()));
  WriteParams(AEvent->Parameters(), node);
  if (AEvent->Data()->Count() > 0) AEvent->Data()->ToXml("data", true, node);
}

// --- the system's own file operations ------------------------------------------------------

void TQuorvelDialogueSystem::LoadFromStream(TStream* AStream) {
  TOwned<TQuorvelDialogueReader> reader(New<TQuorvelDialogueReader>());
  reader->AddFromStream(AStream, this);
}

void TQuorvelDialogueSystem::LoadFromFile(const std::string& AFileName) {
  TOwned<TFileStream> stream(New<TFileStream>(AFileName, fmOpenRead | fmShareDenyWrite));
  stream->SetPosition(0);
  LoadFromStream(stream.get());
}

void TQuorvelDialogueSystem::SaveToStream(TStream* AStream) {
  TOwned<TQuorvelDialogueWriter> writer(New<TQuorvelDialogueWriter>());
  writer->SaveToStream(this, AStream);
}

void TQuorvelDialogueSystem::SaveToFile(const std::string& AFileName) {
  TOwned<TQuorvelDialogueWriter> writer(New<TQuorvelDialogueWriter>());
  writer->SaveToFile(this, AFileName);
}

}  // namespace quorvel
