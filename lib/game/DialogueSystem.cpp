#include "lib/game/DialogueSystem.h"
#include "lib/game/GameText.h"

#include "framework/classes/Filer.h"
#include "framework/classes/StoredProperties.h"
#include "framework/gui/Timer.h"
#include "framework/io/Json.h"
#include "framework/rtl/Log.h"
#include "framework/rtl/Random.h"
#include "framework/rtl/SysUtils.h"
#include "lib/game/GeneratedNames.h"

namespace quorvel {

FW_CLASS_IMPL(TQuorvelDialogueSystemCollection, "Quorvel.Utils.Dialogue.System")
FW_CLASS_NO_MEMBERS(TQuorvelDialogueSystemCollection)
FW_CLASS_IMPL(TQuorvelDialogueCollection, "Quorvel.Utils.Dialogue.System")
FW_CLASS_NO_MEMBERS(TQuorvelDialogueCollection)
FW_CLASS_IMPL(TQuorvelDialogueCustomCollection, "Quorvel.Utils.Dialogue.System")
FW_CLASS_NO_MEMBERS(TQuorvelDialogueCustomCollection)
FW_CLASS_IMPL(TQuorvelDialogueItemCollection, "Quorvel.Utils.Dialogue.System")
FW_CLASS_NO_MEMBERS(TQuorvelDialogueItemCollection)
FW_CLASS_IMPL(TQuorvelDialogueItemEventCollection, "Quorvel.Utils.Dialogue.System")
FW_CLASS_NO_MEMBERS(TQuorvelDialogueItemEventCollection)
FW_CLASS_IMPL(TQuorvelDialogueCharacterCollection, "Quorvel.Utils.Dialogue.System")
FW_CLASS_NO_MEMBERS(TQuorvelDialogueCharacterCollection)
FW_CLASS_IMPL(TQuorvelDialogueCustomItem, "Quorvel.Utils.Dialogue.System")
FW_CLASS_IMPL(TQuorvelDialogueParameterizedItem, "Quorvel.Utils.Dialogue.System")
FW_CLASS_IMPL(TQuorvelDialogueParentItem, "Quorvel.Utils.Dialogue.System")
FW_CLASS_IMPL(TQuorvelDialogueItemEvent, "Quorvel.Utils.Dialogue.System")
FW_CLASS_IMPL(TQuorvelDialogueItem, "Quorvel.Utils.Dialogue.System")
FW_CLASS_IMPL(TQuorvelDialogue, "Quorvel.Utils.Dialogue.System")
FW_CLASS_IMPL(TQuorvelDialogueCharacter, "Quorvel.Utils.Dialogue.System")
FW_CLASS_IMPL(TQuorvelDialogueSystem, "Quorvel.Utils.Dialogue.System")

// Published for form streaming. The maps travel as defined properties ("ParameterMap",
// "TextMap", "DataMap") and the variables name objects that live elsewhere, so the writer skips
// their published forms; the position travels as a defined property too.
void TQuorvelDialogueCustomItem::Register(ClassBuilder<TQuorvelDialogueCustomItem>& b) {
  b.Prop("Ident", &Self::Ident, &Self::SetIdent).Prop("Enabled", &Self::Enabled, &Self::SetEnabled);
}
void TQuorvelDialogueParameterizedItem::Register(ClassBuilder<TQuorvelDialogueParameterizedItem>& b) {
  b.Prop("Parameters", &Self::Parameters, [](Self* s, TQuorvelDialogueParameters* v) { s->SetParameters(v); });
  SetPropertyNotStored(&b.Class(), "Parameters");
}
void TQuorvelDialogueParentItem::Register(ClassBuilder<TQuorvelDialogueParentItem>& b) {
  b.Prop("Items", &Self::Items, &Self::SetItems);
}
void TQuorvelDialogueItemEvent::Register(ClassBuilder<TQuorvelDialogueItemEvent>& b) {
  b.Prop("OwnerEvent", &Self::OwnerEvent, &Self::SetOwnerEvent)
      .Prop("Kind", &Self::Kind, &Self::SetKind)
      .Prop("Trigger", &Self::Trigger, &Self::SetTrigger)
      .Prop("Scope", &Self::Scope, &Self::SetScope)
      .Prop("Data", &Self::Data)
      .Prop("Iterations", &Self::Iterations, &Self::SetIterations);
  SetPropertyNotStored(&b.Class(), "Data");
}
void TQuorvelDialogueItem::Register(ClassBuilder<TQuorvelDialogueItem>& b) {
  // The stored display name: the read fallbacks are not the item's own.
  b.Prop("Kind", &Self::Kind, &Self::SetKind)
      .Prop("DisplayName", &Self::StoredDisplayName, [](Self* s, std::string v) { s->SetDisplayName(v); })
      .Prop("Reference", &Self::Reference, &Self::SetReference)
      .Prop("DisplayTime", &Self::DisplayTime, &Self::SetDisplayTime)
      .Prop("Character", &Self::Character, [](Self* s, std::string v) { s->SetCharacter(v); })
      .Prop("Text", &Self::Text)
      .Prop("Events", [](const Self* s) { return s->Events(); });
  SetPropertyNotStored(&b.Class(), "Text");
}
void TQuorvelDialogue::Register(ClassBuilder<TQuorvelDialogue>& b) {
  b.Prop("Characters", [](const Self* s) { return s->Characters(); });
}
void TQuorvelDialogueCharacter::Register(ClassBuilder<TQuorvelDialogueCharacter>& b) {
  b.Prop("Name", &Self::Name, &Self::SetName);
}
void TQuorvelDialogueSystem::Register(ClassBuilder<TQuorvelDialogueSystem>& b) {
  b.Prop("Id", &Self::Id, &Self::SetId)
      .Prop("Language", &Self::Language, &Self::SetLanguage)
      .Prop("Dialogues", &Self::Dialogues, &Self::SetDialogues)
      .Prop("Variables", &Self::Variables, [](Self* s, TQuorvelDialogueVariables* v) { s->SetVariables(v); })
      .PropField("OnBeginDialogueItemEvent", &Self::OnBeginDialogueItemEvent)
      .PropField("OnEndDialogueItemEvent", &Self::OnEndDialogueItemEvent)
      .PropField("OnBeginDialogueItem", &Self::OnBeginDialogueItem)
      .PropField("OnEndDialogueItem", &Self::OnEndDialogueItem)
      .PropField("OnStartDialogue", &Self::OnStartDialogue)
      .PropField("OnStopDialogue", &Self::OnStopDialogue)
      .PropField("OnPauseDialogue", &Self::OnPauseDialogue)
      .PropField("OnSkippedDialogue", &Self::OnSkippedDialogue)
      .PropField("OnSkipAvailability", &Self::OnSkipAvailability)
      .PropField("OnBeginItemTimeout", &Self::OnBeginItemTimeout)
      .PropField("OnEndItemTimeout", &Self::OnEndItemTimeout);
  SetPropertyNotStored(&b.Class(), "Variables");
}

namespace {

// A map's JSON text as a defined property: reading replaces the content; a text that is no
// JSON object leaves the map empty.
template <class Map>
void DefineMapProperty(TFiler* AFiler, const char* AName, Map* AMap) {
  AFiler->DefineProperty(
      AName,
      [AMap](TReader* r) {
        const std::string text = r->ReadString();
        AMap->Clear();
        TOwned<TJSONValue> value(TJSONObject::ParseJSONValue(text));
        if (auto* object = dynamic_cast<TJSONObject*>(value.get())) AMap->FromJSON(object);
      },
      [AMap](TWriter* w) {
        TOwned<TJSONObject> json(AMap->ToJSON());
        w->WriteString(json->ToJSON());
      },
      true);
}

}  // namespace

void TQuorvelDialogueVariables::Assign(const TQuorvelDialogueVariables* ASource) {
  if (!ASource) return;
  Clear();
  for (const auto& pair : *ASource) AddOrSetValue(pair.Key, pair.Value);
}

void SetObjectProperty(TObject* AObject, const std::string& AName, const TValue& AValue) {
  if (!AObject || !AObject->ClassType()->FindProperty(AName)) return;
  SetPropValue(AObject, AName, AValue);
}

// --- collections ---------------------------------------------------------------------------

void TQuorvelDialogueSystemCollection::Notify(TCollectionItem* Item, TCollectionNotification Action) {
  TOwnedCollection::Notify(Item, Action);
  if (Action == cnAdded) {
    if (auto* item = dynamic_cast<TQuorvelDialogueCustomItem*>(Item)) FIdents.Set(Item, item->Ident());
  } else if (Action == cnExtracting) {
    FIdents.Forget(Item);
  }
}

TQuorvelDialogueSystem* TQuorvelDialogueSystemCollection::DialogueSystem() const {
  return dynamic_cast<TQuorvelDialogueSystem*>(GetOwner());
}

TQuorvelDialogueCollection::TQuorvelDialogueCollection(TQuorvelDialogueSystem* AOwner)
    : TQuorvelDialogueSystemCollection(AOwner, TQuorvelDialogue::StaticClass()) {}

TQuorvelDialogue* TQuorvelDialogueCollection::Items(int AIndex) const {
  return static_cast<TQuorvelDialogue*>(GetItem(AIndex));
}

TQuorvelDialogueSystem* TQuorvelDialogueCustomCollection::DialogueSystem() const {
  TQuorvelDialogue* dialogue = Dialogue();
  return dialogue ? dialogue->DialogueSystem() : nullptr;
}

TQuorvelDialogue* TQuorvelDialogueCustomCollection::Dialogue() const {
  return dynamic_cast<TQuorvelDialogue*>(GetOwner());
}

TQuorvelDialogueItemCollection::TQuorvelDialogueItemCollection(TPersistent* AOwner)
    : TQuorvelDialogueCustomCollection(AOwner, TQuorvelDialogueItem::StaticClass()) {}

TQuorvelDialogue* TQuorvelDialogueItemCollection::Dialogue() const {
  if (auto* dialogue = dynamic_cast<TQuorvelDialogue*>(GetOwner())) return dialogue;
  if (auto* item = dynamic_cast<TQuorvelDialogueItem*>(GetOwner())) {
    if (TQuorvelDialogue* dialogue = item->Dialogue()) return dialogue;
  }
  throw Exception("invalid owner of TQuorvelDialogueItem - GetDialogue() failed");
}

TQuorvelDialogueSystem* TQuorvelDialogueItemCollection::DialogueSystem() const {
  TQuorvelDialogue* dialogue = nullptr;
  if (auto* d = dynamic_cast<TQuorvelDialogue*>(GetOwner())) dialogue = d;
  else if (auto* item = dynamic_cast<TQuorvelDialogueItem*>(GetOwner())) dialogue = item->Dialogue();
  if (!dialogue) throw Exception("invalid owner of TQuorvelDialogueItem - GetDialogueSystem() failed");
  return dialogue->DialogueSystem();
}

TQuorvelDialogueItem* TQuorvelDialogueItemCollection::Items(int AIndex) const {
  return static_cast<TQuorvelDialogueItem*>(GetItem(AIndex));
}

TQuorvelDialogueItem* TQuorvelDialogueItemCollection::AddItem() { return New<TQuorvelDialogueItem>(this); }

TQuorvelDialogueItemEventCollection::TQuorvelDialogueItemEventCollection(TQuorvelDialogueItem* AOwner)
    : TQuorvelDialogueCustomCollection(AOwner, TQuorvelDialogueItemEvent::StaticClass()) {}

TQuorvelDialogueItem* TQuorvelDialogueItemEventCollection::DialogueItem() const {
  return dynamic_cast<TQuorvelDialogueItem*>(GetOwner());
}

TQuorvelDialogue* TQuorvelDialogueItemEventCollection::Dialogue() const {
  TQuorvelDialogueItem* item = DialogueItem();
  return item ? item->Dialogue() : nullptr;
}

TQuorvelDialogueSystem* TQuorvelDialogueItemEventCollection::DialogueSystem() const {
  TQuorvelDialogueItem* item = DialogueItem();
  return item ? item->DialogueSystem() : nullptr;
}

TQuorvelDialogueItemEvent* TQuorvelDialogueItemEventCollection::Items(int AIndex) const {
  return static_cast<TQuorvelDialogueItemEvent*>(GetItem(AIndex));
}

TQuorvelDialogueItemEvent* TQuorvelDialogueItemEventCollection::AddEvent() {
  return New<TQuorvelDialogueItemEvent>(this);
}

TQuorvelDialogueCharacterCollection::TQuorvelDialogueCharacterCollection(TQuorvelDialogue* AOwner)
    : TQuorvelDialogueCustomCollection(AOwner, TQuorvelDialogueCharacter::StaticClass()) {}

TQuorvelDialogueCharacter* TQuorvelDialogueCharacterCollection::Items(int AIndex) const {
  return static_cast<TQuorvelDialogueCharacter*>(GetItem(AIndex));
}

TQuorvelDialogueCharacter* TQuorvelDialogueCharacterCollection::AddCharacter() {
  return New<TQuorvelDialogueCharacter>(this);
}

// --- custom item ---------------------------------------------------------------------------

TQuorvelDialogueCustomItem::TQuorvelDialogueCustomItem(TCollection* Collection) : TCollectionItem(Collection) {}

void TQuorvelDialogueCustomItem::AfterConstruction() {
  TCollectionItem::AfterConstruction();
  // The class name is only final here, after every constructor has run.
  // Class name, "_" and a number below 10000 that no sibling's ident has.
  const std::string prefix = ClassName() + "_";
  auto* collection = dynamic_cast<TQuorvelDialogueSystemCollection*>(GetCollection());
  SetIdent(collection ? collection->FreeIdent(prefix) : TFreeNameFinder(prefix, 10000).Generate());
}

void TQuorvelDialogueCustomItem::SetIdent(std::string AValue) {
  FIdent = std::move(AValue);
  if (auto* collection = dynamic_cast<TQuorvelDialogueSystemCollection*>(GetCollection()))
    collection->FIdents.Set(static_cast<TCollectionItem*>(this), FIdent);
}

TQuorvelDialogueSystem* TQuorvelDialogueCustomItem::DialogueSystem() const {
  auto* collection = dynamic_cast<TQuorvelDialogueSystemCollection*>(GetCollection());
  return collection ? collection->DialogueSystem() : nullptr;
}

std::string TQuorvelDialogueCustomItem::PositionText() const {
  return "(" + FloatToStr(FPosition.X, EnUs()) + "," + FloatToStr(FPosition.Y, EnUs()) + ")";
}

void TQuorvelDialogueCustomItem::SetPositionText(const std::string& AText) {
  const size_t open = AText.find('(');
  const size_t comma = AText.find(',', open == std::string::npos ? 0 : open);
  const size_t close = AText.find(')', comma == std::string::npos ? 0 : comma);
  if (open == std::string::npos || comma == std::string::npos || close == std::string::npos) return;
  float x = FPosition.X, y = FPosition.Y;
  if (TryStrToFloat(std::string_view(AText).substr(open + 1, comma - open - 1), x, EnUs())) FPosition.X = x;
  if (TryStrToFloat(std::string_view(AText).substr(comma + 1, close - comma - 1), y, EnUs())) FPosition.Y = y;
}

TQuorvelDialogueCustomItem* TQuorvelDialogueCustomItem::Clone(TCollection* ACollection) const {
  auto* copy = New<TQuorvelDialogueCustomItem>(ACollection);
  copy->Assign(const_cast<TQuorvelDialogueCustomItem*>(this));
  return copy;
}

void TQuorvelDialogueCustomItem::AssignTo(TPersistent* Dest) {
  auto* dest = dynamic_cast<TQuorvelDialogueCustomItem*>(Dest);
  if (!dest) {
    TCollectionItem::AssignTo(Dest);
    return;
  }
  dest->SetIdent(FIdent);
  dest->FEnabled = FEnabled;
  dest->FUIElement = FUIElement;
  dest->FPosition = FPosition;
}

void TQuorvelDialogueCustomItem::DefineProperties(TFiler* Filer) {
  TCollectionItem::DefineProperties(Filer);
  Filer->DefineProperty(
      "Position", [this](TReader* r) { SetPositionText(r->ReadString()); },
      [this](TWriter* w) { w->WriteString(PositionText()); }, true);
}

// --- parameterised item --------------------------------------------------------------------

TQuorvelDialogueParameterizedItem::TQuorvelDialogueParameterizedItem(TCollection* Collection)
    : TQuorvelDialogueCustomItem(Collection), FParameters(New<TQuorvelDialogueParameters>()) {}

TQuorvelDialogueParameterizedItem::~TQuorvelDialogueParameterizedItem() { Free(FParameters); }

TValue TQuorvelDialogueParameterizedItem::GetParameter(const std::string& AName) const {
  TValue value;
  FParameters->TryGetValue(AName, value);
  return value;
}

void TQuorvelDialogueParameterizedItem::AssignTo(TPersistent* Dest) {
  TQuorvelDialogueCustomItem::AssignTo(Dest);
  if (auto* dest = dynamic_cast<TQuorvelDialogueParameterizedItem*>(Dest))
    for (const auto& pair : *FParameters) dest->FParameters->AddOrSetValue(pair.Key, pair.Value);
}

void TQuorvelDialogueParameterizedItem::DefineProperties(TFiler* Filer) {
  TQuorvelDialogueCustomItem::DefineProperties(Filer);
  DefineMapProperty(Filer, "ParameterMap", FParameters);
}

// --- parent item ---------------------------------------------------------------------------

TQuorvelDialogueParentItem::TQuorvelDialogueParentItem(TCollection* Collection)
    : TQuorvelDialogueParameterizedItem(Collection), FItems(nullptr) {
  if (Collection && !dynamic_cast<TQuorvelDialogueSystemCollection*>(Collection))
    throw Exception(Format("invalid collection type - TQuorvelDialogueSystemCollection expected, but %s found",
                           {Collection->ClassName()}));
  FItems = New<TQuorvelDialogueItemCollection>(this);
}

TQuorvelDialogueParentItem::~TQuorvelDialogueParentItem() { FreeItems(); }

void TQuorvelDialogueParentItem::FreeItems() {
  // Cleared before the collection goes, so that a walk during the freeing skips it.
  TQuorvelDialogueItemCollection* items = FItems;
  FItems = nullptr;
  Free(items);
}

TQuorvelDialogueItems TQuorvelDialogueParentItem::GetAvailableItems() const {
  TQuorvelDialogueItems result;
  if (!FItems) return result;
  for (int i = 0; i < FItems->Count(); ++i)
    if (FItems->Items(i)->Enabled()) result.push_back(FItems->Items(i));
  return result;
}

TQuorvelDialogueItem* TQuorvelDialogueParentItem::FindItem(const std::string& AId) const {
  if (auto* self = dynamic_cast<const TQuorvelDialogueItem*>(this); self && self->Ident() == AId)
    return const_cast<TQuorvelDialogueItem*>(self);
  if (!FItems) return nullptr;
  for (int i = 0; i < FItems->Count(); ++i)
    if (TQuorvelDialogueItem* found = FItems->Items(i)->FindItem(AId)) return found;
  return nullptr;
}

int TQuorvelDialogueParentItem::FindItemIndex(const std::string& AId) const {
  if (FItems)
    for (int i = 0; i < FItems->Count(); ++i)
      if (FItems->Items(i)->Ident() == AId) return i;
  return -1;
}

void TQuorvelDialogueParentItem::ClearItems() {
  if (FItems) FItems->Clear();
}

void TQuorvelDialogueParentItem::UnrefCharacter(TQuorvelDialogueCharacter* ACharacter) {
  if (!FItems) return;
  for (int i = 0; i < FItems->Count(); ++i) {
    TQuorvelDialogueItem* child = FItems->Items(i);
    if (child->FCharacterRef == ACharacter) child->SetCharacterRef(nullptr);
    child->UnrefCharacter(ACharacter);
  }
}

void TQuorvelDialogueParentItem::AssignTo(TPersistent* Dest) {
  TQuorvelDialogueParameterizedItem::AssignTo(Dest);
  auto* dest = dynamic_cast<TQuorvelDialogueParentItem*>(Dest);
  if (!dest || !FItems) return;
  for (int i = 0; i < FItems->Count(); ++i) FItems->Items(i)->Clone(dest->FItems);
}

// --- event ---------------------------------------------------------------------------------

TQuorvelDialogueItemEvent::TQuorvelDialogueItemEvent(TCollection* Collection)
    : TQuorvelDialogueParameterizedItem(Collection), FData(New<TQuorvelLanguageMap>()) {}

TQuorvelDialogueItemEvent::~TQuorvelDialogueItemEvent() { Free(FData); }

TQuorvelDialogueItem* TQuorvelDialogueItemEvent::DialogueItem() const {
  auto* collection = dynamic_cast<TQuorvelDialogueItemEventCollection*>(GetCollection());
  return collection ? collection->DialogueItem() : nullptr;
}

namespace {
std::string CurrentEntry(const TQuorvelLanguageMap* AMap, TQuorvelDialogueSystem* ASystem) {
  std::string text;
  if (ASystem && AMap->TryGetValue(ASystem->LanguageName(), text)) return text;
  if (AMap->TryGetValue("*", text)) return text;
  if (AMap->TryGetValue("en-us", text)) return text;
  return {};
}
}  // namespace

std::string TQuorvelDialogueItemEvent::GetCurrentData() const { return CurrentEntry(FData, DialogueSystem()); }

TObject* TQuorvelDialogueItemEvent::ResolveScope() {
  if (FScope.empty() || SameText(FScope, "self")) return this;
  TQuorvelDialogueItem* item = DialogueItem();
  if (SameText(FScope, "ui")) return item ? item->UIElement() : nullptr;
  if (item)
    if (TQuorvelDialogue* dialogue = item->Dialogue())
      if (TQuorvelDialogueItem* found = dialogue->FindItem(FScope)) return found;
  TQuorvelDialogueSystem* system = DialogueSystem();
  return system ? system->GetVariable(FScope) : nullptr;
}

void TQuorvelDialogueItemEvent::Execute() {
  if (!Enabled()) return;
  TObject* scope = ResolveScope();
  bool handled = false;
  TQuorvelDialogueSystem* system = DialogueSystem();
  if (system && system->OnBeginDialogueItemEvent) system->OnBeginDialogueItemEvent(this, scope, handled);
  if (FIterations > 0) {
    ++FIterationCount;
    if (FIterationCount < FIterations) handled = true;
  }
  if (handled) return;
  TQuorvelDialogueItem* item = DialogueItem();
  switch (FKind) {
    case TQuorvelDialogueEventKind::Method: {
      const std::string name = GetCurrentData();
      if (!item || !scope || name.empty()) return;
      const TMethodInfo* method = scope->ClassType()->FindMethod(name);
      if (!method) return;
      std::vector<TValue> args;
      for (const auto& pair : *Parameters()) args.push_back(pair.Value);
      try {
        method->Invoke(scope, std::span<const TValue>(args.data(), args.size()));
      } catch (const std::exception& e) {
        Log::d("failure in event.execute(method) on calling method: \"" + name + "\" - " + e.what());
      }
      return;
    }
    case TQuorvelDialogueEventKind::ObjProperty: {
      if (!item || !scope || Parameters()->Count() == 0) return;
      const auto& first = *Parameters()->begin();
      try {
        SetObjectProperty(scope, first.Key, first.Value);
      } catch (const std::exception& e) {
        Log::d("failure in event.execute(method) on setting property: \"" + first.Key + "\" - " + e.what());
      }
      return;
    }
    case TQuorvelDialogueEventKind::Redirect: {
      if (!item) return;
      TQuorvelDialogue* dialogue = item->Dialogue();
      if (!dialogue) return;
      if (TQuorvelDialogueItem* target = dialogue->FindItem(GetCurrentData())) dialogue->StartItem(target);
      return;
    }
    default:
      return;
  }
}

void TQuorvelDialogueItemEvent::DefineProperties(TFiler* Filer) {
  TQuorvelDialogueParameterizedItem::DefineProperties(Filer);
  DefineMapProperty(Filer, "DataMap", FData);
}

TQuorvelDialogueCustomItem* TQuorvelDialogueItemEvent::Clone(TCollection* ACollection) const {
  auto* copy = New<TQuorvelDialogueItemEvent>(ACollection);
  copy->Assign(const_cast<TQuorvelDialogueItemEvent*>(this));
  return copy;
}

void TQuorvelDialogueItemEvent::AssignTo(TPersistent* Dest) {
  TQuorvelDialogueParameterizedItem::AssignTo(Dest);
  auto* dest = dynamic_cast<TQuorvelDialogueItemEvent*>(Dest);
  if (!dest) return;
  dest->FOwnerEvent = FOwnerEvent;
  dest->FKind = FKind;
  dest->FTrigger = FTrigger;
  dest->FScope = FScope;
  dest->FIterations = FIterations;
  dest->FIterationCount = FIterationCount;
  for (const auto& pair : *FData) dest->FData->AddOrSetValue(pair.Key, pair.Value);
}

// --- item ----------------------------------------------------------------------------------

namespace {
TCollection* CheckedItemCollection(TCollection* Collection) {
  if (Collection && !dynamic_cast<TQuorvelDialogueCustomCollection*>(Collection))
    throw Exception(Format("invalid collection type - TQuorvelDialogueCustomCollection expected, but %s found",
                           {Collection->ClassName()}));
  return Collection;
}
}  // namespace

TQuorvelDialogueItem::TQuorvelDialogueItem(TCollection* Collection)
    : TQuorvelDialogueParentItem(CheckedItemCollection(Collection)),
      FText(New<TQuorvelLanguageMap>()),
      FEvents(New<TQuorvelDialogueItemEventCollection>(this)) {}

TTimer* TQuorvelDialogueItem::ExecTimer() const {
  if (!FExecTimer) {
    FExecTimer = New<TTimer>(nullptr);
    FExecTimer->SetEnabled(false);
    FExecTimer->SetInterval(3600000);
    auto* self = const_cast<TQuorvelDialogueItem*>(this);
    FExecTimer->SetOnTimer(TNotifyEvent([self](TObject* Sender) { self->DoTimeout(Sender); }));
  }
  return FExecTimer;
}

void TQuorvelDialogueItem::StopTimer() {
  if (FExecTimer) FExecTimer->SetEnabled(false);
}

TQuorvelDialogueItem::~TQuorvelDialogueItem() {
  StopTimer();
  Free(FExecTimer);
  // A dialogue must not keep pointing at an item that is gone.
  if (auto* collection = dynamic_cast<TQuorvelDialogueItemCollection*>(GetCollection())) {
    TQuorvelDialogue* dialogue = nullptr;
    try {
      dialogue = collection->Dialogue();
    } catch (const Exception&) {
    }
    if (dialogue) {
      if (dialogue->FCurrentItem == this) dialogue->FCurrentItem = nullptr;
      std::erase(dialogue->FPausedItems, this);
    }
  }
  FreeItems();
  Free(FEvents);
  Free(FText);
}

TPersistent* TQuorvelDialogueItem::Parent() const { return GetCollection() ? GetCollection()->GetOwner() : nullptr; }

TQuorvelDialogue* TQuorvelDialogueItem::Dialogue() const {
  auto* collection = dynamic_cast<TQuorvelDialogueItemCollection*>(GetCollection());
  return collection ? collection->Dialogue() : nullptr;
}

std::string TQuorvelDialogueItem::GetDisplayName() const {
  if (!FDisplayName.empty()) return FDisplayName;
  if (TQuorvelDialogueCharacter* character = const_cast<TQuorvelDialogueItem*>(this)->CharacterRef())
    return character->Name();
  return TCollectionItem::GetDisplayName();
}

void TQuorvelDialogueItem::SetCharacter(const std::string& AValue) {
  FCharacter = AValue;
  FCharacterRef = nullptr;
  if (!FCharacter.empty()) CharacterRef();
}

TQuorvelDialogueCharacter* TQuorvelDialogueItem::CharacterRef() {
  if (!FCharacterRef && !FCharacter.empty()) {
    TQuorvelDialogue* dialogue = nullptr;
    try {
      dialogue = Dialogue();
    } catch (const Exception&) {
    }
    if (dialogue) {
      FCharacterRef = dialogue->FindCharacterById(FCharacter);
      if (!FCharacterRef) FCharacterRef = dialogue->FindCharacterByName(FCharacter);
    }
  }
  return FCharacterRef;
}

void TQuorvelDialogueItem::SetCharacterRef(TQuorvelDialogueCharacter* AValue) {
  FCharacterRef = AValue;
  FCharacter = AValue ? AValue->Ident() : std::string();
}

std::vector<TQuorvelDialogueItemEvent*> TQuorvelDialogueItem::GetAvailableEvents(
    TQuorvelDialogueEventTrigger ATrigger) const {
  std::vector<TQuorvelDialogueItemEvent*> result;
  for (int i = 0; i < FEvents->Count(); ++i) {
    TQuorvelDialogueItemEvent* event = FEvents->Items(i);
    if (event->Enabled() && event->Trigger() == ATrigger) result.push_back(event);
  }
  return result;
}

TQuorvelDialogueItemEvent* TQuorvelDialogueItem::FindEventById(const std::string& AId) const {
  for (int i = 0; i < FEvents->Count(); ++i)
    if (FEvents->Items(i)->Ident() == AId) return FEvents->Items(i);
  return nullptr;
}

std::string TQuorvelDialogueItem::GetCurrentText() const { return CurrentEntry(FText, DialogueSystem()); }

bool TQuorvelDialogueItem::TimerRunning() const { return FExecTimer && FExecTimer->GetEnabled(); }

void TQuorvelDialogueItem::ExecuteEvents(TQuorvelDialogueEventTrigger ATrigger) {
  for (TQuorvelDialogueItemEvent* event : GetAvailableEvents(ATrigger)) event->Execute();
}

void TQuorvelDialogueItem::Start() {
  if (FStarted) return;
  FStarted = true;
  TQuorvelDialogue* dialogue = Dialogue();
  if (dialogue && !dialogue->FCurrentItem) dialogue->FCurrentItem = this;
  TQuorvelDialogueSystem* system = DialogueSystem();
  if (system && system->OnBeginDialogueItem) system->OnBeginDialogueItem(this, GetAvailableItems());
  StopTimer();
  if (FDisplayTime > 0) {
    ExecTimer()->SetInterval(uint32_t(FDisplayTime));
    ExecTimer()->SetEnabled(true);
    if (system && system->OnBeginItemTimeout) system->OnBeginItemTimeout(this, FDisplayTime);
  }
  ExecuteEvents(TQuorvelDialogueEventTrigger::OnBegin);
}

void TQuorvelDialogueItem::DoTimeout(TObject*) {
  StopTimer();
  TQuorvelDialogueSystem* system = DialogueSystem();
  if (system && system->OnEndItemTimeout) system->OnEndItemTimeout(this);
  ExecuteEvents(TQuorvelDialogueEventTrigger::OnTimeout);
  TQuorvelDialogue* dialogue = Dialogue();
  switch (FKind) {
    case TQuorvelDialogueItemKind::Question:
      Stop(false);
      break;
    case TQuorvelDialogueItemKind::Flow: {
      TQuorvelDialogueItems children = GetAvailableItems();
      if (!children.empty() && dialogue) dialogue->StartItem(children.front());
      Stop(false);
      break;
    }
    case TQuorvelDialogueItemKind::Reference:
      if (dialogue)
        if (TQuorvelDialogueItem* target = dialogue->FindItem(FReference)) dialogue->StartItem(target);
      break;
    default:
      break;
  }
}

void TQuorvelDialogueItem::Stop(bool ADeep) {
  if (ADeep && Items())
    for (int i = 0; i < Items()->Count(); ++i) Items()->Items(i)->Stop(true);
  StopTimer();
  if (!FStarted) return;
  FStarted = false;
  ExecuteEvents(TQuorvelDialogueEventTrigger::OnEnd);
  StopEvents();
  TQuorvelDialogueSystem* system = DialogueSystem();
  if (system && system->OnEndDialogueItem) system->OnEndDialogueItem(this);
  if (FKind == TQuorvelDialogueItemKind::Flow && Items() && Items()->Count() == 0)
    if (TQuorvelDialogue* dialogue = Dialogue()) dialogue->Stop();
}

void TQuorvelDialogueItem::StopItems(TQuorvelDialogueItemKind AKind) {
  for (TQuorvelDialogueItem* child : GetAvailableItems())
    if (child->Kind() == AKind) child->Stop(false);
}

void TQuorvelDialogueItem::StopEvents() {
  TQuorvelDialogueSystem* system = DialogueSystem();
  if (!system || !system->OnEndDialogueItemEvent) return;
  for (int i = 0; i < FEvents->Count(); ++i)
    if (FEvents->Items(i)->Enabled()) system->OnEndDialogueItemEvent(FEvents->Items(i), nullptr);
}

TQuorvelDialogueCustomItem* TQuorvelDialogueItem::Clone(TCollection* ACollection) const {
  auto* copy = New<TQuorvelDialogueItem>(ACollection);
  copy->Assign(const_cast<TQuorvelDialogueItem*>(this));
  return copy;
}

void TQuorvelDialogueItem::DefineProperties(TFiler* Filer) {
  TQuorvelDialogueParentItem::DefineProperties(Filer);
  DefineMapProperty(Filer, "TextMap", FText);
}

void TQuorvelDialogueItem::AssignTo(TPersistent* Dest) {
  TQuorvelDialogueParentItem::AssignTo(Dest);
  auto* dest = dynamic_cast<TQuorvelDialogueItem*>(Dest);
  if (!dest) return;
  dest->FKind = FKind;
  dest->FDisplayName = FDisplayName;
  dest->FReference = FReference;
  dest->FDisplayTime = FDisplayTime;
  dest->FCharacter = FCharacter;
  dest->FCharacterRef = nullptr;
  for (int i = 0; i < FEvents->Count(); ++i) FEvents->Items(i)->Clone(dest->FEvents);
  for (const auto& pair : *FText) dest->FText->AddOrSetValue(pair.Key, pair.Value);
}

// --- dialogue ------------------------------------------------------------------------------

TQuorvelDialogue::TQuorvelDialogue(TCollection* Collection)
    : TQuorvelDialogueParentItem(Collection), FCharacters(New<TQuorvelDialogueCharacterCollection>(this)) {}

void TQuorvelDialogue::BeforeDestruction() {
  FreeItems();
  FCurrentItem = nullptr;
  FPausedItems.clear();
  TQuorvelDialogueParentItem::BeforeDestruction();
}

TQuorvelDialogue::~TQuorvelDialogue() {
  FreeItems();
  Free(FCharacters);
}

TQuorvelDialogueCharacter* TQuorvelDialogue::FindCharacterById(const std::string& AId) const {
  for (int i = 0; i < FCharacters->Count(); ++i)
    if (FCharacters->Items(i)->Ident() == AId) return FCharacters->Items(i);
  return nullptr;
}

TQuorvelDialogueCharacter* TQuorvelDialogue::FindCharacterByName(const std::string& AName) const {
  for (int i = 0; i < FCharacters->Count(); ++i)
    if (FCharacters->Items(i)->Name() == AName) return FCharacters->Items(i);
  return nullptr;
}

void TQuorvelDialogue::Start() {
  FStarted = false;
  FPaused = false;
  if (!Items() || Items()->Count() == 0) return;
  FStarted = true;
  TQuorvelDialogueSystem* system = DialogueSystem();
  if (system && system->OnStartDialogue) system->OnStartDialogue(this, GetAvailableItems());
}

void TQuorvelDialogue::Stop() {
  if (Items())
    for (int i = 0; i < Items()->Count(); ++i) Items()->Items(i)->Stop(true);
  const bool wasStarted = FStarted;
  FStarted = false;
  FPaused = false;
  FCurrentItem = nullptr;
  // A stale pause list would let a later resume restart a stopped item's timer.
  FPausedItems.clear();
  TQuorvelDialogueSystem* system = DialogueSystem();
  if (wasStarted && system && system->OnStopDialogue) system->OnStopDialogue(this);
}

void TQuorvelDialogue::StartItem(TQuorvelDialogueItem* AItem) {
  if (!AItem) throw Exception("invalid dialogue item - empty");
  if (AItem->Dialogue() != this) throw Exception("invalid dialogue item - not belonging to this dialogue");
  if (AItem->Kind() == TQuorvelDialogueItemKind::Reference) {
    TQuorvelDialogueItem* target = FindItem(AItem->Reference());
    if (!target) throw Exception("invalid dialogue item - reference not found");
    AItem = target;
  }
  if (AItem == FCurrentItem) return;
  if (FStarted && FCurrentItem) {
    FCurrentItem->Stop(false);
    FCurrentItem = nullptr;
  }
  FCurrentItem = AItem;
  AItem->Start();
  TQuorvelDialogueSystem* system = DialogueSystem();
  if (system && system->OnSkipAvailability)
    system->OnSkipAvailability(this, FCurrentItem,
                               FCurrentItem && FCurrentItem->Kind() == TQuorvelDialogueItemKind::Flow);
}

void TQuorvelDialogue::SelectItem(TQuorvelDialogueItem* AItem) {
  if (!AItem || AItem->Kind() != TQuorvelDialogueItemKind::Answer) return;
  if (auto* parent = dynamic_cast<TQuorvelDialogueItem*>(AItem->Parent()))
    parent->StopItems(TQuorvelDialogueItemKind::Answer);
  TQuorvelDialogueItems children = AItem->GetAvailableItems();
  if (!children.empty()) StartItem(children.front());
  else if (TQuorvelDialogue* dialogue = AItem->Dialogue()) dialogue->Stop();
}

void TQuorvelDialogue::Skip(bool ASingleSkip) {
  if (!FStarted || !FCurrentItem || FCurrentItem->Kind() != TQuorvelDialogueItemKind::Flow) return;
  TQuorvelDialogueItem* start = FCurrentItem;
  TQuorvelDialogueItem* walked = start;
  for (;;) {
    TQuorvelDialogueItems children = walked->GetAvailableItems();
    if (children.empty()) {
      Stop();
      break;
    }
    TQuorvelDialogueItem* child = children.front();
    if (ASingleSkip || child->Kind() != TQuorvelDialogueItemKind::Flow) {
      StartItem(child);
      break;
    }
    walked = child;
  }
  TQuorvelDialogueSystem* system = DialogueSystem();
  if (system && system->OnSkippedDialogue) system->OnSkippedDialogue(this, start, FCurrentItem);
}

void TQuorvelDialogue::Pause() {
  if (!FStarted) return;
  if (FPaused) {
    TQuorvelDialogueItems paused = std::move(FPausedItems);
    FPausedItems.clear();
    // Only items still started resume: a stopped one must not tick into its children.
    for (TQuorvelDialogueItem* item : paused)
      if (item->Started()) item->ExecTimer()->SetEnabled(true);
    FPaused = false;
    return;
  }
  FPaused = true;
  if (FCurrentItem) {
    if (FCurrentItem->Kind() == TQuorvelDialogueItemKind::Question) {
      for (TQuorvelDialogueItem* child : FCurrentItem->GetAvailableItems())
        if (child->TimerRunning()) {
          child->StopTimer();
          FPausedItems.push_back(child);
        }
    } else {
      FPausedItems.clear();
    }
    if (FCurrentItem->TimerRunning()) {
      FCurrentItem->StopTimer();
      FPausedItems.push_back(FCurrentItem);
    }
  }
  TQuorvelDialogueSystem* system = DialogueSystem();
  if (system && system->OnPauseDialogue) system->OnPauseDialogue(this);
}

TQuorvelDialogueCustomItem* TQuorvelDialogue::Clone(TCollection* ACollection) const {
  auto* copy = New<TQuorvelDialogue>(ACollection);
  copy->Assign(const_cast<TQuorvelDialogue*>(this));
  return copy;
}

void TQuorvelDialogue::AssignTo(TPersistent* Dest) {
  TQuorvelDialogueParentItem::AssignTo(Dest);
  auto* dest = dynamic_cast<TQuorvelDialogue*>(Dest);
  if (!dest) return;
  dest->FCurrentItem = nullptr;
  dest->FStarted = false;
  dest->FPaused = false;
  dest->FPausedItems.clear();
  for (int i = 0; i < FCharacters->Count(); ++i) FCharacters->Items(i)->Clone(dest->FCharacters);
}

// --- character -----------------------------------------------------------------------------

TQuorvelDialogueCharacter::TQuorvelDialogueCharacter(TCollection* Collection)
    : TQuorvelDialogueParameterizedItem(Collection) {}

void TQuorvelDialogueCharacter::BeforeDestruction() {
  TQuorvelDialogueSystem* system = nullptr;
  try {
    system = DialogueSystem();
  } catch (const Exception&) {
  }
  if (system) system->UnrefCharacter(this);
  TQuorvelDialogueParameterizedItem::BeforeDestruction();
}

TQuorvelDialogueCustomItem* TQuorvelDialogueCharacter::Clone(TCollection* ACollection) const {
  auto* copy = New<TQuorvelDialogueCharacter>(ACollection);
  copy->Assign(const_cast<TQuorvelDialogueCharacter*>(this));
  return copy;
}

void TQuorvelDialogueCharacter::AssignTo(TPersistent* Dest) {
  TQuorvelDialogueParameterizedItem::AssignTo(Dest);
  if (auto* dest = dynamic_cast<TQuorvelDialogueCharacter*>(Dest)) dest->FName = FName;
}

// --- system --------------------------------------------------------------------------------

TQuorvelDialogueSystem::TQuorvelDialogueSystem(TComponent* AOwner)
    : TComponent(AOwner),
      FId(TFreeNameFinder("TQuorvelDialogueSystem_", 10000).Generate()),
      FDialogues(New<TQuorvelDialogueCollection>(this)),
      FVariables(New<TQuorvelDialogueVariables>()) {}

void TQuorvelDialogueSystem::BeforeDestruction() {
  ClearDialogues();
  TComponent::BeforeDestruction();
}

TQuorvelDialogueSystem::~TQuorvelDialogueSystem() {
  Free(FDialogues);
  Free(FVariables);
}

std::string TQuorvelDialogueSystem::LanguageName() const { return LanguageIdToCode(FLanguage); }

TQuorvelDialogue* TQuorvelDialogueSystem::FindDialogue(const std::string& AId) const {
  for (int i = 0; i < FDialogues->Count(); ++i)
    if (FDialogues->Items(i)->Ident() == AId) return FDialogues->Items(i);
  return nullptr;
}

TObject* TQuorvelDialogueSystem::GetVariable(const std::string& AName) const {
  TObject* value = nullptr;
  FVariables->TryGetValue(AName, value);
  return value;
}

void TQuorvelDialogueSystem::ClearDialogues() { FDialogues->Clear(); }

void TQuorvelDialogueSystem::ClearAll() {
  FId.clear();
  ClearDialogues();
  ClearVariables();
}

void TQuorvelDialogueSystem::UnrefCharacter(TQuorvelDialogueCharacter* ACharacter) {
  for (int i = 0; i < FDialogues->Count(); ++i) FDialogues->Items(i)->UnrefCharacter(ACharacter);
}

TQuorvelDialogueSystem* TQuorvelDialogueSystem::Clone(TComponent* AOwner) const {
  auto* copy = New<TQuorvelDialogueSystem>(AOwner);
  copy->Assign(const_cast<TQuorvelDialogueSystem*>(this));
  return copy;
}

void TQuorvelDialogueSystem::AssignTo(TPersistent* Dest) {
  auto* dest = dynamic_cast<TQuorvelDialogueSystem*>(Dest);
  if (!dest) {
    TComponent::AssignTo(Dest);
    return;
  }
  dest->FId = FId;
  dest->FLanguage = FLanguage;
  for (int i = 0; i < FDialogues->Count(); ++i) FDialogues->Items(i)->Clone(dest->FDialogues);
  for (const auto& pair : *FVariables) dest->FVariables->AddOrSetValue(pair.Key, pair.Value);
  dest->OnBeginDialogueItemEvent = OnBeginDialogueItemEvent;
  dest->OnEndDialogueItemEvent = OnEndDialogueItemEvent;
  dest->OnBeginDialogueItem = OnBeginDialogueItem;
  dest->OnEndDialogueItem = OnEndDialogueItem;
  dest->OnStartDialogue = OnStartDialogue;
  dest->OnStopDialogue = OnStopDialogue;
  dest->OnPauseDialogue = OnPauseDialogue;
  dest->OnSkippedDialogue = OnSkippedDialogue;
  dest->OnSkipAvailability = OnSkipAvailability;
  dest->OnBeginItemTimeout = OnBeginItemTimeout;
  dest->OnEndItemTimeout = OnEndItemTimeout;
}

}  // namespace quorvel
