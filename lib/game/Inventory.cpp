#include "lib/game/Inventory.h"

#include <algorithm>
#include <map>

#include "framework/classes/Filer.h"
#include "framework/classes/StoredProperties.h"
#include "framework/gui/ImageList.h"
#include "framework/gui/Timer.h"
#include "framework/io/Json.h"
#include "framework/rtl/Finally.h"
#include "framework/rtl/Monitor.h"

namespace quorvel {

FW_CLASS_IMPL(TQuorvelInventoryCustomCollection, "Quorvel.Utils.Inventory")
FW_CLASS_NO_MEMBERS(TQuorvelInventoryCustomCollection)
FW_CLASS_IMPL(TQuorvelInventoryItemCollection, "Quorvel.Utils.Inventory")
FW_CLASS_NO_MEMBERS(TQuorvelInventoryItemCollection)
FW_CLASS_IMPL(TQuorvelInventoryCollectablesCollection, "Quorvel.Utils.Inventory")
FW_CLASS_NO_MEMBERS(TQuorvelInventoryCollectablesCollection)
FW_CLASS_IMPL(TQuorvelInventoryCustomItem, "Quorvel.Utils.Inventory")
FW_CLASS_IMPL(TQuorvelInventoryItem, "Quorvel.Utils.Inventory")
FW_CLASS_IMPL(TQuorvelInventoryItemTemplate, "Quorvel.Utils.Inventory")
FW_CLASS_IMPL(TQuorvelInventoryCollectable, "Quorvel.Utils.Inventory")
FW_CLASS_IMPL(TQuorvelInventoryGroup, "Quorvel.Utils.Inventory")
FW_CLASS_IMPL(TQuorvelInventoryManufacturer, "Quorvel.Utils.Inventory")
FW_CLASS_IMPL(TQuorvelInventory, "Quorvel.Utils.Inventory")

// Published for form streaming. Names, parameters and references travel as defined properties
// ("NameMap", "ParameterMap", "GroupID", ...), so the writer skips their published forms; so
// it does the free values and the ingredient lists, which forms cannot hold.
void TQuorvelInventoryCustomItem::Register(ClassBuilder<TQuorvelInventoryCustomItem>& b) {
  b.Prop("Id", &Self::Id, &Self::SetId)
      .Prop("Name", &Self::Name)
      .Prop("Enabled", &Self::Enabled, &Self::SetEnabled)
      .Prop("Data", &Self::Data, &Self::SetData);
  SetPropertyNotStored(&b.Class(), "Name");
  SetPropertyNotStored(&b.Class(), "Data");
}
void TQuorvelInventoryItem::Register(ClassBuilder<TQuorvelInventoryItem>& b) {
  b.Prop("Parameters", &Self::Parameters, [](Self* s, TQuorvelInventoryParameters* v) { s->SetParameters(v); });
  SetPropertyNotStored(&b.Class(), "Parameters");
}
void TQuorvelInventoryItemTemplate::Register(ClassBuilder<TQuorvelInventoryItemTemplate>& b) {
  b.Prop("Group", &Self::GetGroup, [](Self* s, TQuorvelInventoryGroup* v) { s->SetGroup(v); })
      .Prop("MaxQuantity", &Self::MaxQuantity, &Self::SetMaxQuantity)
      .Prop("Weight", &Self::Weight, &Self::SetWeight)
      .Prop("MaxWeight", &Self::MaxWeight, &Self::SetMaxWeight)
      .Prop("IsPooled", &Self::IsPooled, &Self::SetIsPooled)
      .Prop("Dependency", &Self::Dependency, [](Self* s, TQuorvelInventoryDependencyList* v) { s->SetDependency(v); })
      .Prop("UpgradeItem", &Self::GetUpgradeItem, [](Self* s, TQuorvelInventoryItemTemplate* v) { s->SetUpgradeItem(v); })
      .Prop("DowngradeItem", &Self::GetDowngradeItem,
            [](Self* s, TQuorvelInventoryItemTemplate* v) { s->SetDowngradeItem(v); })
      .Prop("ImageIndex", &Self::ImageIndex, &Self::SetImageIndex);
  for (const char* name : {"Group", "Dependency", "UpgradeItem", "DowngradeItem"}) SetPropertyNotStored(&b.Class(), name);
}
void TQuorvelInventoryCollectable::Register(ClassBuilder<TQuorvelInventoryCollectable>& b) {
  b.Prop("Template", &Self::Template, &Self::SetTemplate)
      .Prop("Quantity", &Self::Quantity, &Self::SetQuantity)
      .Prop("Weight", &Self::Weight, &Self::SetWeight);
  SetPropertyNotStored(&b.Class(), "Template");
}
void TQuorvelInventoryGroup::Register(ClassBuilder<TQuorvelInventoryGroup>& b) {
  b.Prop("MaxQuantity", &Self::MaxQuantity, &Self::SetMaxQuantity)
      .Prop("MaxWeight", &Self::MaxWeight, &Self::SetMaxWeight);
}
void TQuorvelInventoryManufacturer::Register(ClassBuilder<TQuorvelInventoryManufacturer>& b) {
  b.Prop("Ingredients", &Self::Ingredients, [](Self* s, TQuorvelInventoryIngredientList* v) { s->SetIngredients(v); })
      .Prop("Dependency", &Self::Dependency, [](Self* s, TQuorvelInventoryDependencyList* v) { s->SetDependency(v); })
      .Prop("ResultItems", &Self::ResultItems, [](Self* s, TQuorvelInventoryResultItemList* v) { s->SetResultItems(v); })
      .Prop("Kind", &Self::Kind, &Self::SetKind)
      .Prop("TimeNeeded", &Self::TimeNeeded, &Self::SetTimeNeeded)
      .PropField("OnNotify", &Self::OnNotify)
      .PropField("OnProduced", &Self::OnProduced);
  for (const char* name : {"Ingredients", "Dependency", "ResultItems"}) SetPropertyNotStored(&b.Class(), name);
}
void TQuorvelInventory::Register(ClassBuilder<TQuorvelInventory>& b) {
  b.Prop("Language", &Self::Language, &Self::SetLanguage)
      .Prop("VisualItems", &Self::VisualItems, &Self::SetVisualItems)
      .Prop("Groups", &Self::Groups, &Self::SetGroups)
      .Prop("ItemTemplates", &Self::ItemTemplates, &Self::SetItemTemplates)
      .Prop("Manufacturers", &Self::Manufacturers, &Self::SetManufacturers)
      .Prop("CollectedItems", &Self::CollectedItems, &Self::SetCollectedItems)
      .PropField("OnItemNotify", &Self::OnItemNotify)
      .PropField("OnAddManufacturing", &Self::OnAddManufacturing)
      .PropField("OnLoadResource", &Self::OnLoadResource);
}

namespace {

// A map's JSON text as a defined property; the text must be a JSON object.
template <class Map>
void DefineJsonMap(TFiler* AFiler, const char* AName, Map* AMap) {
  AFiler->DefineProperty(
      AName,
      [AMap, AName](TReader* r) {
        const std::string text = r->ReadString();
        AMap->Clear();
        TOwned<TJSONValue> value(TJSONObject::ParseJSONValue(text, true));
        auto* object = dynamic_cast<TJSONObject*>(value.get());
        if (!object) throw EJSONException(std::string(AName) + ": JSON object expected");
        AMap->FromJSON(object);
      },
      [AMap](TWriter* w) {
        TOwned<TJSONObject> json(AMap->ToJSON());
        w->WriteString(json->ToJSON());
      },
      true);
}

// A reference written as the entry's Id and set by the inventory's Loaded.
template <class T>
void DefineReference(TFiler* AFiler, TQuorvelInventoryCustomItem* AItem, const char* AName, T* AValue,
                     std::function<void(T*)> ASet) {
  AFiler->DefineProperty(
      AName,
      [AItem, ASet](TReader* r) {
        const std::string id = r->ReadString();
        TQuorvelInventory* inventory = AItem->Inventory();
        if (!inventory || id.empty()) return;
        inventory->AddToLateResolve(T::StaticClass(), id, [ASet](TObject* o) { ASet(static_cast<T*>(o)); });
      },
      [AValue](TWriter* w) { w->WriteString(AValue->Id()); }, AValue != nullptr);
}

int32_t HeldQuantity(const TQuorvelInventory* AInventory, const TQuorvelInventoryItemTemplate* ATemplate) {
  int32_t sum = 0;
  for (TQuorvelInventoryCollectable* item : AInventory->FindCollectedItems(ATemplate)) sum += item->Quantity();
  return sum;
}

bool DependenciesHeld(const TQuorvelInventory* AInventory, const TQuorvelInventoryCustomIngredientList* AList) {
  for (int i = 0; i < AList->Count(); ++i) {
    const TQuorvelInventoryIngredient* entry = AList->Items(i);
    if (HeldQuantity(AInventory, entry->Template()) < entry->Quantity()) return false;
  }
  return true;
}

// Template Id to the summed ingredient quantity.
std::map<std::string, int64_t> Needs(const TQuorvelInventoryIngredientList* AList) {
  std::map<std::string, int64_t> needs;
  for (int i = 0; i < AList->Count(); ++i)
    if (const TQuorvelInventoryIngredient* e = AList->Items(i); e->Template()) needs[e->Template()->Id()] += e->Quantity();
  return needs;
}

}  // namespace

// --- ingredient lists ----------------------------------------------------------------------

TQuorvelInventoryIngredient* TQuorvelInventoryCustomIngredientList::Add(TQuorvelInventoryItemTemplate* ATemplate,
                                                                       int32_t AQuantity) {
  TMonitorGuard lock(this);
  FItems.push_back(TOwned<TQuorvelInventoryIngredient>(New<TQuorvelInventoryIngredient>(ATemplate, AQuantity)));
  return FItems.back().get();
}

void TQuorvelInventoryCustomIngredientList::RemoveTemplate(const TQuorvelInventoryItemTemplate* ATemplate) {
  TMonitorGuard lock(this);
  std::erase_if(FItems, [&](const auto& e) { return e->Template() == ATemplate; });
}

void TQuorvelInventoryCustomIngredientList::Assign(const TQuorvelInventoryCustomIngredientList* ASource) {
  if (ASource == this) return;
  TMonitorGuard lock(this);
  FItems.clear();
  if (!ASource) return;
  for (const auto& e : ASource->FItems) Add(e->Template(), e->Quantity());
}

// --- collections ---------------------------------------------------------------------------

TQuorvelInventory* TQuorvelInventoryCustomCollection::Inventory() const {
  return dynamic_cast<TQuorvelInventory*>(GetOwner());
}

TQuorvelInventoryCollectablesCollection::TQuorvelInventoryCollectablesCollection(TPersistent* AOwner)
    : TQuorvelInventoryItemCollection(AOwner, TQuorvelInventoryCollectable::StaticClass()) {}

TQuorvelCollectables TQuorvelInventoryCollectablesCollection::ToArray() const {
  TMonitorGuard lock(this);
  TQuorvelCollectables result;
  for (TCollectionItem* item : ItemList()) result.push_back(static_cast<TQuorvelInventoryCollectable*>(item));
  return result;
}

// --- custom item and item ------------------------------------------------------------------

TQuorvelInventoryCustomItem::TQuorvelInventoryCustomItem(TCollection* Collection)
    : TCollectionItem(Collection), FName(New<TQuorvelInventoryLanguageMap>()) {}

TQuorvelInventoryCustomItem::~TQuorvelInventoryCustomItem() { FreeQuietly(FName, "inventory item name"); }

TQuorvelInventory* TQuorvelInventoryCustomItem::Inventory() const {
  auto* collection = dynamic_cast<TQuorvelInventoryCustomCollection*>(GetCollection());
  return collection ? collection->Inventory() : nullptr;
}

std::string TQuorvelInventoryCustomItem::GetCurrentName() const {
  TQuorvelInventory* inventory = Inventory();
  std::string name;
  FName->TryGetValue(inventory ? inventory->GetCurrentLanguageName() : LanguageIdToCode(0), name);
  return name;
}

void TQuorvelInventoryCustomItem::AssignTo(TPersistent* Dest) {
  auto* dest = dynamic_cast<TQuorvelInventoryCustomItem*>(Dest);
  if (!dest) {
    TCollectionItem::AssignTo(Dest);
    return;
  }
  dest->FId = FId;
  dest->FName->Assign(FName);
  dest->FEnabled = FEnabled;
  dest->FData = FData;
}

void TQuorvelInventoryCustomItem::DefineProperties(TFiler* Filer) {
  TCollectionItem::DefineProperties(Filer);
  DefineJsonMap(Filer, "NameMap", FName);
}

TQuorvelInventoryItem::TQuorvelInventoryItem(TCollection* Collection)
    : TQuorvelInventoryCustomItem(Collection), FParameters(New<TQuorvelInventoryParameters>()) {}

TQuorvelInventoryItem::~TQuorvelInventoryItem() { FreeQuietly(FParameters, "inventory item parameters"); }

void TQuorvelInventoryItem::AssignTo(TPersistent* Dest) {
  TQuorvelInventoryCustomItem::AssignTo(Dest);
  if (auto* dest = dynamic_cast<TQuorvelInventoryItem*>(Dest)) dest->FParameters->Assign(FParameters);
}

void TQuorvelInventoryItem::DefineProperties(TFiler* Filer) {
  TQuorvelInventoryCustomItem::DefineProperties(Filer);
  DefineJsonMap(Filer, "ParameterMap", FParameters);
}

// --- template ------------------------------------------------------------------------------

TQuorvelInventoryItemTemplate::TQuorvelInventoryItemTemplate(TCollection* Collection)
    : TQuorvelInventoryItem(Collection), FDependency(New<TQuorvelInventoryDependencyList>()) {}

TQuorvelInventoryItemTemplate::~TQuorvelInventoryItemTemplate() { FreeQuietly(FDependency, "template dependencies"); }

TQuorvelInventoryCollectable* TQuorvelInventoryItemTemplate::Build() {
  TMonitorGuard lock(this);
  TQuorvelInventory* inventory = Inventory();
  if (!inventory) return nullptr;
  TQuorvelInventoryCollectState state;
  TQuorvelInventoryCollectable* item = inventory->Collect(this, 1, state);
  return state == TQuorvelInventoryCollectState::Collected ? item : nullptr;
}

TQuorvelInventoryIngredient* TQuorvelInventoryItemTemplate::AddDependency(const std::string& ATemplateId,
                                                                         int32_t AQuantity) {
  TMonitorGuard lock(this);
  TQuorvelInventory* inventory = Inventory();
  TQuorvelInventoryItemTemplate* t = inventory ? inventory->FindItemTemplate(ATemplateId) : nullptr;
  return t ? AddDependency(t, AQuantity) : nullptr;
}

TQuorvelInventoryIngredient* TQuorvelInventoryItemTemplate::AddDependency(TQuorvelInventoryItemTemplate* ATemplate,
                                                                         int32_t AQuantity) {
  TMonitorGuard lock(this);
  return FDependency->Add(ATemplate, AQuantity);
}

void TQuorvelInventoryItemTemplate::RemoveDependency(const std::string& ATemplateId) {
  TMonitorGuard lock(this);
  TQuorvelInventory* inventory = Inventory();
  if (TQuorvelInventoryItemTemplate* t = inventory ? inventory->FindItemTemplate(ATemplateId) : nullptr)
    RemoveDependency(t);
}

void TQuorvelInventoryItemTemplate::RemoveDependency(TQuorvelInventoryItemTemplate* ATemplate) {
  TMonitorGuard lock(this);
  FDependency->RemoveTemplate(ATemplate);
}

void TQuorvelInventoryItemTemplate::ClearDependencies() {
  TMonitorGuard lock(this);
  FDependency->Clear();
}

void TQuorvelInventoryItemTemplate::SetDependency(const TQuorvelInventoryDependencyList* AValue) {
  FDependency->Assign(AValue);
  if (TQuorvelInventory* inventory = Inventory()) inventory->AdoptIngredients(FDependency);
}

void TQuorvelInventoryItemTemplate::AssignTo(TPersistent* Dest) {
  TQuorvelInventoryItem::AssignTo(Dest);
  auto* dest = dynamic_cast<TQuorvelInventoryItemTemplate*>(Dest);
  if (!dest) return;
  dest->FGroup = FGroup;
  dest->FMaxQuantity = FMaxQuantity;
  dest->FWeight = FWeight;
  dest->FMaxWeight = FMaxWeight;
  dest->FIsPooled = FIsPooled;
  dest->FDependency->Assign(FDependency);
  dest->FUpgradeItem = FUpgradeItem;
  dest->FDowngradeItem = FDowngradeItem;
  dest->FImageIndex = FImageIndex;
  if (TQuorvelInventory* inventory = dest->Inventory()) inventory->AdoptCopy(dest);
}

void TQuorvelInventoryItemTemplate::DefineProperties(TFiler* Filer) {
  TQuorvelInventoryItem::DefineProperties(Filer);
  DefineReference<TQuorvelInventoryGroup>(Filer, this, "GroupID", FGroup,
                                          [this](TQuorvelInventoryGroup* g) { FGroup = g; });
  DefineReference<TQuorvelInventoryItemTemplate>(Filer, this, "UpgradeItemID", FUpgradeItem,
                                                 [this](TQuorvelInventoryItemTemplate* t) { FUpgradeItem = t; });
  DefineReference<TQuorvelInventoryItemTemplate>(Filer, this, "DowngradeItemID", FDowngradeItem,
                                                 [this](TQuorvelInventoryItemTemplate* t) { FDowngradeItem = t; });
}

// --- collectable ---------------------------------------------------------------------------

std::string TQuorvelInventoryCollectable::GetCurrentName() const {
  std::string name = TQuorvelInventoryItem::GetCurrentName();
  if (name.empty() && FTemplate) name = FTemplate->GetCurrentName();
  return name;
}

bool TQuorvelInventoryCollectable::IsUpgradable() {
  TMonitorGuard lock(this);
  return FTemplate && FTemplate->GetUpgradeItem() && FTemplate->GetUpgradeItem()->Enabled();
}

bool TQuorvelInventoryCollectable::IsDowngradable() {
  TMonitorGuard lock(this);
  return FTemplate && FTemplate->GetDowngradeItem() && FTemplate->GetDowngradeItem()->Enabled();
}

void TQuorvelInventoryCollectable::DefineProperties(TFiler* Filer) {
  TQuorvelInventoryItem::DefineProperties(Filer);
  DefineReference<TQuorvelInventoryItemTemplate>(Filer, this, "TemplateID", FTemplate,
                                                 [this](TQuorvelInventoryItemTemplate* t) { FTemplate = t; });
}

// --- group ---------------------------------------------------------------------------------

int TQuorvelInventoryGroup::CountCollectables() {
  TMonitorGuard lock(this);
  TQuorvelInventory* inventory = Inventory();
  if (!inventory) return 0;
  int count = 0;
  for (TQuorvelInventoryCollectable* item : inventory->CollectedItems()->ToArray())
    if (item->Template() && item->Template()->GetGroup() == this) ++count;
  return count;
}

void TQuorvelInventoryGroup::AssignTo(TPersistent* Dest) {
  TQuorvelInventoryCustomItem::AssignTo(Dest);
  if (auto* dest = dynamic_cast<TQuorvelInventoryGroup*>(Dest)) {
    dest->FMaxQuantity = FMaxQuantity;
    dest->FMaxWeight = FMaxWeight;
  }
}

// --- process -------------------------------------------------------------------------------

// Holds a process while it sends events: a removal asked for meanwhile frees it when the
// outermost such operation returns.
struct TQuorvelInventoryManufacturingProcess::TBusy {
  explicit TBusy(TQuorvelInventoryManufacturingProcess* AProcess) : Process(AProcess) { ++Process->FBusy; }
  ~TBusy() {
    if (--Process->FBusy == 0 && Process->FFreeAfterTick && !Process->FDestroying)
      FreeQuietly(Process, "manufacturing process");
  }
  TBusy(const TBusy&) = delete;
  TBusy& operator=(const TBusy&) = delete;
  TQuorvelInventoryManufacturingProcess* Process;
};

TQuorvelInventoryManufacturingProcess::TQuorvelInventoryManufacturingProcess(
    TQuorvelInventoryManufacturer* AManufacturer, TManufacturingProcessKind AKind)
    : FManufacturer(AManufacturer),
      FKind(AKind),
      FCollectables(New<TQuorvelInventoryCollectablesCollection>(AManufacturer ? AManufacturer->Inventory() : nullptr)) {}

void TQuorvelInventoryManufacturingProcess::BeforeDestruction() {
  TObject::BeforeDestruction();
  FDestroying = true;
  Abort(false);
}

TQuorvelInventoryManufacturingProcess::~TQuorvelInventoryManufacturingProcess() {
  ReleaseTimer();
  FreeQuietly(FRetiredTimer, "manufacturing timer");
  TMonitorGuard lock(this);
  FreeQuietly(FCollectables, "consumed items");
}

int32_t TQuorvelInventoryManufacturingProcess::Progress() const {
  if (FManufacturingProgress <= 0) return 0;
  return FTimeNeeded - FManufacturingProgress;
}

bool TQuorvelInventoryManufacturingProcess::Running() const {
  return FManufacturingTimer && FManufacturingTimer->GetEnabled();
}

void TQuorvelInventoryManufacturingProcess::ReleaseTimer() {
  if (!FManufacturingTimer) return;
  TTimer* timer = std::exchange(FManufacturingTimer, nullptr);
  timer->SetOnTimer(TNotifyEvent());
  timer->SetEnabled(false);
  // The timer may be the one whose tick is running: it goes with the process or the next release.
  FreeQuietly(std::exchange(FRetiredTimer, timer), "manufacturing timer");
}

void TQuorvelInventoryManufacturingProcess::Start(const TQuorvelCollectables& AItemList) {
  if (!FManufacturer) return;
  TBusy busy(this);
  TMonitorGuard lock(this);
  const int32_t needed = FManufacturer->TimeNeeded();
  if (needed > 0) {
    if (Running()) return;
    FTimeNeeded = needed;
    FManufacturingProgress = needed;
    if (!FManufacturingTimer) {
      FManufacturingTimer = New<TTimer>(nullptr);
      FManufacturingTimer->SetEnabled(false);
      FManufacturingTimer->SetInterval(100);
      FManufacturingTimer->SetOnTimer(TNotifyEvent([this](TObject* Sender) { DoTick(Sender); }));
    }
    Consume(AItemList);
    FManufacturingTimer->SetEnabled(true);
    FManufacturer->Notify(this, mntStarted);
  } else {
    FTimeNeeded = 0;
    Consume(AItemList);
    Complete();
  }
}

void TQuorvelInventoryManufacturingProcess::Consume(const TQuorvelCollectables& AItemList) {
  TMonitorGuard lock(this);
  std::map<std::string, int64_t> needs = Needs(FManufacturer->Ingredients());
  TQuorvelInventory* inventory = FManufacturer->Inventory();
  for (TQuorvelInventoryCollectable* item : AItemList) {
    if (!item || !item->Template()) continue;
    auto need = needs.find(item->Template()->Id());
    if (need == needs.end() || need->second <= 0) continue;
    bool move = true;
    if (item->Template()->IsPooled()) {
      if (need->second < item->Quantity()) {
        item->SetQuantity(item->Quantity() - int32_t(need->second));
        need->second = 0;
        move = false;
        if (inventory) inventory->ItemNotify(item, cnExtracted);
      } else {
        need->second -= item->Quantity();
      }
    } else {
      need->second -= 1;
    }
    if (!move) continue;
    if (inventory) inventory->ItemNotify(item, cnRemoved);
    item->SetCollection(FCollectables);
  }
}

void TQuorvelInventoryManufacturingProcess::DoTick(TObject*) {
  if (FIsInTimer) return;
  TBusy busy(this);
  bool finished = false;
  {
    TMonitorGuard lock(this);
    FIsInTimer = true;
    auto done = Finally([this] { FIsInTimer = false; });
    if (FManufacturingProgress > 0) {
      if (FManufacturer) FManufacturer->Notify(this, mntProcessing);
    } else {
      Complete();
      finished = true;
    }
    FManufacturingProgress -= 100;
  }
  if (finished && FManufacturer) FManufacturer->RemoveProcess(this);
}

void TQuorvelInventoryManufacturingProcess::Pause() {
  TBusy busy(this);
  TMonitorGuard lock(this);
  if (FManufacturingTimer) FManufacturingTimer->SetEnabled(!FManufacturingTimer->GetEnabled());
  if (FManufacturer) FManufacturer->Notify(this, mntPaused);
}

void TQuorvelInventoryManufacturingProcess::Abort(bool ADestroyOnFinish) {
  TBusy busy(this);
  {
    TMonitorGuard lock(this);
    ReleaseTimer();
    FManufacturingProgress = 0;
    if (FManufacturer) FManufacturer->Notify(this, mntAborted);
  }
  if (ADestroyOnFinish && FManufacturer) FManufacturer->RemoveProcess(this);
}

void TQuorvelInventoryManufacturingProcess::Complete() {
  TBusy busy(this);
  TMonitorGuard lock(this);
  ReleaseTimer();
  FManufacturingProgress = 0;
  if (!FManufacturer) return;
  TQuorvelInventoryManufacturer* manufacturer = FManufacturer;
  const TQuorvelCollectables produced = manufacturer->Produce();
  manufacturer->Notify(this, mntCompleted);
  for (TQuorvelInventoryCollectable* item : produced) {
    if (!FManufacturer || !manufacturer->OnProduced) break;
    manufacturer->OnProduced(manufacturer, this, item);
  }
}

// --- manufacturer --------------------------------------------------------------------------

TQuorvelInventoryManufacturer::TQuorvelInventoryManufacturer(TCollection* Collection)
    : TQuorvelInventoryCustomItem(Collection),
      FIngredients(New<TQuorvelInventoryIngredientList>()),
      FDependency(New<TQuorvelInventoryDependencyList>()),
      FResultItems(New<TQuorvelInventoryResultItemList>()) {}

TQuorvelInventoryManufacturer::~TQuorvelInventoryManufacturer() {
  FreeProcesses();
  FreeQuietly(FIngredients, "ingredients");
  FreeQuietly(FDependency, "dependencies");
  FreeQuietly(FResultItems, "result items");
}

void TQuorvelInventoryManufacturer::FreeProcesses() {
  while (!FProcesses.empty()) {
    TOwned<TQuorvelInventoryManufacturingProcess> process = std::move(FProcesses.back());
    FProcesses.pop_back();
    if (process->FBusy > 0) {
      // Sending an event right now: it notifies nobody any more and goes when that returns.
      process->Abort(false);
      process->FManufacturer = nullptr;
      process->FFreeAfterTick = true;
      (void)process.release();
    }
  }
}

void TQuorvelInventoryManufacturer::Notify(TQuorvelInventoryManufacturingProcess* AProcess,
                                          TManufacturingNotificationType AType) {
  if (OnNotify) OnNotify(this, AProcess, AType);
}

void TQuorvelInventoryManufacturer::RemoveProcess(TQuorvelInventoryManufacturingProcess* AProcess) {
  TOwned<TQuorvelInventoryManufacturingProcess> process;
  {
    TMonitorGuard lock(this);
    auto it = std::find_if(FProcesses.begin(), FProcesses.end(), [&](const auto& p) { return p.get() == AProcess; });
    if (it == FProcesses.end()) return;
    process = std::move(*it);
    FProcesses.erase(it);
  }
  if (process->FBusy > 0) {
    // Inside its own tick or one of its events: freed when that returns.
    process->FFreeAfterTick = true;
    (void)process.release();
  }
}

bool TQuorvelInventoryManufacturer::CheckDependency() {
  TMonitorGuard lock(this);
  TQuorvelInventory* inventory = Inventory();
  return !inventory || DependenciesHeld(inventory, FDependency);
}

bool TQuorvelInventoryManufacturer::Verify(const TQuorvelCollectables& AItemList) {
  TMonitorGuard lock(this);
  if (!CheckDependency()) return false;
  const std::map<std::string, int64_t> needs = Needs(FIngredients);
  if (needs.empty()) return false;
  std::map<std::string, int64_t> offer;
  for (TQuorvelInventoryCollectable* item : AItemList)
    if (item && item->Template()) offer[item->Template()->Id()] += item->Quantity();
  if (offer.empty()) return false;
  for (const auto& [id, quantity] : needs) {
    auto it = offer.find(id);
    if (it == offer.end() || it->second < quantity) return false;
  }
  return true;
}

namespace {
TQuorvelInventoryItemTemplate* TemplateOf(TQuorvelInventoryCustomItem* AItem, const std::string& AId) {
  TQuorvelInventory* inventory = AItem->Inventory();
  return inventory ? inventory->FindItemTemplate(AId) : nullptr;
}
}  // namespace

void TQuorvelInventoryManufacturer::AddIngredient(const std::string& ATemplateId, int32_t AQuantity) {
  AddIngredient(TemplateOf(this, ATemplateId), AQuantity);
}
void TQuorvelInventoryManufacturer::AddIngredient(TQuorvelInventoryItemTemplate* ATemplate, int32_t AQuantity) {
  TMonitorGuard lock(this);
  if (ATemplate && AQuantity > 0) FIngredients->Add(ATemplate, AQuantity);
}
void TQuorvelInventoryManufacturer::RemoveIngredient(const std::string& ATemplateId) {
  if (auto* t = TemplateOf(this, ATemplateId)) RemoveIngredient(t);
}
void TQuorvelInventoryManufacturer::RemoveIngredient(TQuorvelInventoryItemTemplate* ATemplate) {
  TMonitorGuard lock(this);
  FIngredients->RemoveTemplate(ATemplate);
}
void TQuorvelInventoryManufacturer::AddDependency(const std::string& ATemplateId, int32_t AQuantity) {
  AddDependency(TemplateOf(this, ATemplateId), AQuantity);
}
void TQuorvelInventoryManufacturer::AddDependency(TQuorvelInventoryItemTemplate* ATemplate, int32_t AQuantity) {
  TMonitorGuard lock(this);
  if (ATemplate && AQuantity > 0) FDependency->Add(ATemplate, AQuantity);
}
void TQuorvelInventoryManufacturer::RemoveDependency(const std::string& ATemplateId) {
  if (auto* t = TemplateOf(this, ATemplateId)) RemoveDependency(t);
}
void TQuorvelInventoryManufacturer::RemoveDependency(TQuorvelInventoryItemTemplate* ATemplate) {
  TMonitorGuard lock(this);
  FDependency->RemoveTemplate(ATemplate);
}
void TQuorvelInventoryManufacturer::AddResultItem(const std::string& ATemplateId, int32_t AQuantity) {
  AddResultItem(TemplateOf(this, ATemplateId), AQuantity);
}
void TQuorvelInventoryManufacturer::AddResultItem(TQuorvelInventoryItemTemplate* ATemplate, int32_t AQuantity) {
  TMonitorGuard lock(this);
  if (ATemplate && AQuantity > 0) FResultItems->Add(ATemplate, AQuantity);
}
void TQuorvelInventoryManufacturer::RemoveResultItem(const std::string& ATemplateId) {
  if (auto* t = TemplateOf(this, ATemplateId)) RemoveResultItem(t);
}
void TQuorvelInventoryManufacturer::RemoveResultItem(TQuorvelInventoryItemTemplate* ATemplate) {
  TMonitorGuard lock(this);
  FResultItems->RemoveTemplate(ATemplate);
}
void TQuorvelInventoryManufacturer::ClearIngredients() {
  TMonitorGuard lock(this);
  FIngredients->Clear();
}
void TQuorvelInventoryManufacturer::ClearDependencies() {
  TMonitorGuard lock(this);
  FDependency->Clear();
}
void TQuorvelInventoryManufacturer::ClearResultItems() {
  TMonitorGuard lock(this);
  FResultItems->Clear();
}

TQuorvelCollectables TQuorvelInventoryManufacturer::Produce() {
  TMonitorGuard lock(this);
  TQuorvelCollectables produced;
  for (int i = 0; i < FResultItems->Count(); ++i) {
    TQuorvelInventoryIngredient* entry = FResultItems->Items(i);
    if (!entry->Template()) continue;
    TQuorvelInventoryCollectable* item = entry->Template()->Build();
    if (!item) continue;
    if (entry->Quantity() > 1) item->SetQuantity(item->Quantity() + entry->Quantity() - 1);
    produced.push_back(item);
  }
  return produced;
}

void TQuorvelInventoryManufacturer::CollectTemplatesInUse(std::vector<const TObject*>& AOut) const {
  for (const TQuorvelInventoryCustomIngredientList* list :
       {static_cast<const TQuorvelInventoryCustomIngredientList*>(FIngredients),
        static_cast<const TQuorvelInventoryCustomIngredientList*>(FDependency),
        static_cast<const TQuorvelInventoryCustomIngredientList*>(FResultItems)})
    for (int i = 0; i < list->Count(); ++i) AOut.push_back(list->Items(i)->Template());
  for (const auto& process : FProcesses)
    for (TQuorvelInventoryCollectable* item : process->Collectables()->ToArray()) AOut.push_back(item->Template());
}

bool TQuorvelInventoryManufacturer::HasBusyProcess() const {
  return std::any_of(FProcesses.begin(), FProcesses.end(), [](const auto& p) { return p->FBusy > 0; });
}

TQuorvelInventoryManufacturingProcess* TQuorvelInventoryManufacturer::Start(const TQuorvelCollectables& AItemList) {
  TMonitorGuard lock(this);
  // Consuming an item held elsewhere would give it two owners.
  if (TQuorvelInventory* inventory = Inventory()) inventory->RequireCollected(AItemList);
  FProcesses.push_back(TOwned<TQuorvelInventoryManufacturingProcess>(
      New<TQuorvelInventoryManufacturingProcess>(this, FKind)));
  TQuorvelInventoryManufacturingProcess* process = FProcesses.back().get();
  TQuorvelInventoryManufacturingProcess::TBusy busy(process);
  if (TQuorvelInventory* inventory = Inventory(); inventory && inventory->OnAddManufacturing)
    inventory->OnAddManufacturing(inventory, process);
  process->Start(AItemList);
  // A handler that removed it while it started has it freed when this returns.
  return process->FFreeAfterTick ? nullptr : process;
}

std::string TQuorvelInventoryManufacturer::GetDescriptionString() {
  TMonitorGuard lock(this);
  auto join = [](const TQuorvelInventoryCustomIngredientList* AList) {
    std::string text;
    for (int i = 0; i < AList->Count(); ++i) {
      const TQuorvelInventoryIngredient* e = AList->Items(i);
      if (i > 0) text += " + ";
      text += (e->Template() ? e->Template()->Id() : std::string()) + "(" + std::to_string(e->Quantity()) + ")";
    }
    return text;
  };
  return Id() + ": " + join(FIngredients) + " => (" + join(FResultItems) + ")";
}

void TQuorvelInventoryManufacturer::AssignTo(TPersistent* Dest) {
  auto* dest = dynamic_cast<TQuorvelInventoryManufacturer*>(Dest);
  if (dest) {
    dest->FIngredients->Assign(FIngredients);
    dest->FDependency->Assign(FDependency);
    dest->FResultItems->Assign(FResultItems);
    dest->FKind = FKind;
    dest->FTimeNeeded = FTimeNeeded;
    dest->FreeProcesses();
    dest->OnNotify = OnNotify;
    dest->OnProduced = OnProduced;
    if (TQuorvelInventory* inventory = dest->Inventory()) inventory->AdoptCopy(dest);
  }
  TQuorvelInventoryCustomItem::AssignTo(Dest);
}

void TQuorvelInventoryManufacturer::SetIngredients(const TQuorvelInventoryIngredientList* AValue) {
  FIngredients->Assign(AValue);
  if (TQuorvelInventory* inventory = Inventory()) inventory->AdoptIngredients(FIngredients);
}

void TQuorvelInventoryManufacturer::SetDependency(const TQuorvelInventoryDependencyList* AValue) {
  FDependency->Assign(AValue);
  if (TQuorvelInventory* inventory = Inventory()) inventory->AdoptIngredients(FDependency);
}

void TQuorvelInventoryManufacturer::SetResultItems(const TQuorvelInventoryResultItemList* AValue) {
  FResultItems->Assign(AValue);
  if (TQuorvelInventory* inventory = Inventory()) inventory->AdoptIngredients(FResultItems);
}

// --- inventory -----------------------------------------------------------------------------

TQuorvelInventory::TQuorvelInventory(TComponent* AOwner)
    : TComponent(AOwner),
      FItemTemplates(New<TQuorvelInventoryItemCollection>(this, TQuorvelInventoryItemTemplate::StaticClass())),
      FGroups(New<TQuorvelInventoryCustomCollection>(this, TQuorvelInventoryGroup::StaticClass())),
      FManufacturers(New<TQuorvelInventoryCustomCollection>(this, TQuorvelInventoryManufacturer::StaticClass())),
      FCollectedItems(New<TQuorvelInventoryCollectablesCollection>(this)),
      FVisualItems(New<TQuorvelInventoryVisualItemCollection>(this)) {}

void TQuorvelInventory::BeforeDestruction() {
  TComponent::BeforeDestruction();
  TMonitorGuard lock(this);
  FLateResolveList.clear();
  // Manufacturers first: their processes send their last events while the rest still exists.
  FreeQuietlyAndNil(FManufacturers, "manufacturers");
  std::vector<TCollectionItem*> manufacturers;
  std::erase_if(FDetached, [&](TCollectionItem* item) {
    if (!dynamic_cast<TQuorvelInventoryManufacturer*>(item)) return false;
    manufacturers.push_back(item);
    return true;
  });
  for (TCollectionItem* item : manufacturers) FreeQuietly(item, "removed manufacturer");
}

TQuorvelInventory::~TQuorvelInventory() {
  FreeQuietly(FCollectedItems, "collected items");
  FreeQuietly(FItemTemplates, "item templates");
  FreeQuietly(FGroups, "groups");
  FreeQuietly(FVisualItems, "visual items");
  for (TCollectionItem* item : FDetached) FreeQuietly(item, "removed inventory entry");
  for (TImageList* list : FImageLists) FreeQuietly(list, "image list");
}

std::string TQuorvelInventory::GetCurrentLanguageName() const { return LanguageIdToCode(FLanguage); }

TQuorvelInventoryItemTemplate* TQuorvelInventory::AddItemTemplate(const std::string& ATemplateId) {
  TMonitorGuard lock(this);
  auto* t = FItemTemplates->AddItem<TQuorvelInventoryItemTemplate>();
  t->SetId(ATemplateId);
  return t;
}

TQuorvelInventoryGroup* TQuorvelInventory::AddGroup(const std::string& AGroupId) {
  TMonitorGuard lock(this);
  auto* g = FGroups->AddItem<TQuorvelInventoryGroup>();
  g->SetId(AGroupId);
  return g;
}

TQuorvelInventoryManufacturer* TQuorvelInventory::AddManufacturer(const std::string& AManId) {
  TMonitorGuard lock(this);
  auto* m = FManufacturers->AddItem<TQuorvelInventoryManufacturer>();
  m->SetId(AManId);
  return m;
}

namespace {
template <class T>
T* FindById(const TCollection* ACollection, const std::string& AId) {
  for (TCollectionItem* item : ACollection->ItemList())
    if (auto* t = static_cast<T*>(item); t->Id() == AId) return t;
  return nullptr;
}
}  // namespace

TQuorvelInventoryItemTemplate* TQuorvelInventory::FindItemTemplate(const std::string& ATemplateId) const {
  TMonitorGuard lock(this);
  return FindById<TQuorvelInventoryItemTemplate>(FItemTemplates, ATemplateId);
}

TQuorvelInventoryGroup* TQuorvelInventory::FindGroup(const std::string& AGroupId) const {
  TMonitorGuard lock(this);
  return FindById<TQuorvelInventoryGroup>(FGroups, AGroupId);
}

TQuorvelInventoryManufacturer* TQuorvelInventory::FindManufacturer(const std::string& AId) const {
  TMonitorGuard lock(this);
  return FManufacturers ? FindById<TQuorvelInventoryManufacturer>(FManufacturers, AId) : nullptr;
}

TQuorvelCollectables TQuorvelInventory::FindCollectedItems(const std::string& AId) const {
  TMonitorGuard lock(this);
  TQuorvelCollectables result;
  for (TQuorvelInventoryCollectable* item : FCollectedItems->ToArray())
    if (item->Id() == AId) result.push_back(item);
  return result;
}

TQuorvelCollectables TQuorvelInventory::FindCollectedItems(const TQuorvelInventoryItemTemplate* ATemplate) const {
  TMonitorGuard lock(this);
  TQuorvelCollectables result;
  for (TQuorvelInventoryCollectable* item : FCollectedItems->ToArray())
    if (item->Template() == ATemplate) result.push_back(item);
  return result;
}

TQuorvelInventoryCollectable* TQuorvelInventory::FindFirstCollectedItem(const std::string& AId) const {
  const TQuorvelCollectables items = FindCollectedItems(AId);
  return items.empty() ? nullptr : items.front();
}

TQuorvelInventoryCollectable* TQuorvelInventory::FindFirstCollectedItem(
    const TQuorvelInventoryItemTemplate* ATemplate) const {
  const TQuorvelCollectables items = FindCollectedItems(ATemplate);
  return items.empty() ? nullptr : items.front();
}

void TQuorvelInventory::Detach(TCollectionItem* AItem) {
  AItem->SetCollection(nullptr);
  FDetached.push_back(AItem);
  ReleaseDetached();
}

void TQuorvelInventory::ReleaseDetached() {
  // References still to be resolved after streaming may point at any entry.
  if (!FLateResolveList.empty()) return;
  for (bool freed = true; freed;) {
    freed = false;
    std::vector<const TObject*> used;
    auto templateRefs = [&](TCollectionItem* AItem) {
      if (auto* t = dynamic_cast<TQuorvelInventoryItemTemplate*>(AItem)) {
        used.push_back(t->GetGroup());
        used.push_back(t->GetUpgradeItem());
        used.push_back(t->GetDowngradeItem());
        for (int i = 0; i < t->Dependency()->Count(); ++i) used.push_back(t->Dependency()->Items(i)->Template());
      } else if (auto* m = dynamic_cast<TQuorvelInventoryManufacturer*>(AItem)) {
        m->CollectTemplatesInUse(used);
      }
    };
    for (TCollectionItem* item : FItemTemplates->ItemList()) templateRefs(item);
    if (FManufacturers)
      for (TCollectionItem* item : FManufacturers->ItemList()) templateRefs(item);
    for (TCollectionItem* item : FDetached) templateRefs(item);
    for (TQuorvelInventoryCollectable* item : FCollectedItems->ToArray()) used.push_back(item->Template());
    std::sort(used.begin(), used.end());
    for (auto it = FDetached.begin(); it != FDetached.end();) {
      TCollectionItem* item = *it;
      auto* m = dynamic_cast<TQuorvelInventoryManufacturer*>(item);
      const bool inUse = m ? m->HasBusyProcess() : std::binary_search(used.begin(), used.end(), item);
      if (inUse) {
        ++it;
        continue;
      }
      it = FDetached.erase(it);
      FreeQuietly(item, "removed inventory entry");
      freed = true;  // what it referred to may be free now
      break;
    }
  }
}

void TQuorvelInventory::RequireCollected(const TQuorvelCollectables& AItemList) const {
  TMonitorGuard lock(this);
  for (TQuorvelInventoryCollectable* item : AItemList)
    if (item && item->GetCollection() != FCollectedItems)
      throw Exception(Format("item \"%s\" is not held by the inventory", {item->Id()}));
}

void TQuorvelInventory::RemoveItemTemplate(const std::string& ATemplateId) {
  if (TQuorvelInventoryItemTemplate* t = FindItemTemplate(ATemplateId)) RemoveItemTemplate(t);
}

void TQuorvelInventory::RemoveItemTemplate(TQuorvelInventoryItemTemplate* ATemplate) {
  TMonitorGuard lock(this);
  if (!ATemplate || ATemplate->GetCollection() != FItemTemplates) return;
  DropCollectedItem(ATemplate, true);
  for (TCollectionItem* item : FManufacturers->ItemList()) {
    auto* m = static_cast<TQuorvelInventoryManufacturer*>(item);
    m->RemoveIngredient(ATemplate);
    m->RemoveResultItem(ATemplate);
    m->RemoveDependency(ATemplate);
  }
  for (TCollectionItem* item : FItemTemplates->ItemList()) static_cast<TQuorvelInventoryItemTemplate*>(item)->RemoveDependency(ATemplate);
  Detach(ATemplate);
}

void TQuorvelInventory::RemoveGroup(const std::string& AGroupId) {
  if (TQuorvelInventoryGroup* g = FindGroup(AGroupId)) RemoveGroup(g);
}

void TQuorvelInventory::RemoveGroup(TQuorvelInventoryGroup* AGroup) {
  TMonitorGuard lock(this);
  if (!AGroup || AGroup->GetCollection() != FGroups) return;
  for (TCollectionItem* item : FItemTemplates->ItemList())
    if (auto* t = static_cast<TQuorvelInventoryItemTemplate*>(item); t->GetGroup() == AGroup) t->SetGroup(nullptr);
  Detach(AGroup);
}

void TQuorvelInventory::RemoveManufacturer(const std::string& AManId) {
  if (TQuorvelInventoryManufacturer* m = FindManufacturer(AManId)) RemoveManufacturer(m);
}

void TQuorvelInventory::RemoveManufacturer(TQuorvelInventoryManufacturer* AMan) {
  TMonitorGuard lock(this);
  if (!AMan || AMan->GetCollection() != FManufacturers) return;
  Detach(AMan);
}

TQuorvelInventoryCollectState TQuorvelInventory::IsCollectable(const std::string& ATemplateId, uint32_t ACount) {
  return IsCollectable(FindItemTemplate(ATemplateId), ACount);
}

TQuorvelInventoryCollectState TQuorvelInventory::IsCollectable(TQuorvelInventoryItemTemplate* ATemplate, uint32_t) {
  using S = TQuorvelInventoryCollectState;
  TMonitorGuard lock(this);
  if (!ATemplate) return S::NotFound;
  TQuorvelInventoryGroup* group = ATemplate->GetGroup();
  if (!ATemplate->Enabled() || (group && !group->Enabled())) return S::Disabled;
  const int32_t groupLimit = group ? group->MaxQuantity() : 0;
  const int32_t limit = groupLimit != 0 ? std::min(groupLimit, ATemplate->MaxQuantity()) : ATemplate->MaxQuantity();
  int64_t held = 0;
  if (ATemplate->IsPooled()) {
    if (TQuorvelInventoryCollectable* first = FindFirstCollectedItem(ATemplate)) held = first->Quantity();
  } else {
    held = HeldQuantity(this, ATemplate);
  }
  if (limit > 0 && held >= limit) return S::QuantityExceeded;
  if (!DependenciesHeld(this, ATemplate->Dependency())) return S::Missing;
  return S::Allowed;
}

TQuorvelInventoryCollectable* TQuorvelInventory::Collect(const std::string& ATemplateId) {
  TQuorvelInventoryCollectState state;
  return Collect(FindItemTemplate(ATemplateId), 1, state);
}

TQuorvelInventoryCollectable* TQuorvelInventory::Collect(TQuorvelInventoryItemTemplate* ATemplate,
                                                         TQuorvelInventoryCollectState& AState) {
  return Collect(ATemplate, 1, AState);
}

TQuorvelInventoryCollectable* TQuorvelInventory::Collect(TQuorvelInventoryItemTemplate* ATemplate, uint32_t ACount,
                                                         TQuorvelInventoryCollectState& AState) {
  using S = TQuorvelInventoryCollectState;
  TMonitorGuard lock(this);
  AState = S::None;
  if (!ATemplate) {
    AState = S::NotFound;
    return nullptr;
  }
  AState = IsCollectable(ATemplate, ACount);
  if (AState != S::Allowed) return nullptr;
  TQuorvelInventoryCollectable* item = ATemplate->IsPooled() ? FindFirstCollectedItem(ATemplate) : nullptr;
  if (item) {
    item->SetQuantity(item->Quantity() + int32_t(ACount));
  } else {
    item = FCollectedItems->AddItem<TQuorvelInventoryCollectable>();
    item->SetTemplate(ATemplate);
    item->SetId(ATemplate->Id());
    item->SetQuantity(int32_t(ACount));
    item->SetWeight(ATemplate->Weight());
    ItemNotify(item, cnAdded);
  }
  AState = S::Collected;
  return item;
}

void TQuorvelInventory::ItemNotify(TQuorvelInventoryCollectable* AItem, TCollectionNotification AAction) {
  if (OnItemNotify) OnItemNotify(this, AItem, AAction);
}

void TQuorvelInventory::Drop(TQuorvelInventoryCollectable* AItem) {
  ItemNotify(AItem, cnRemoved);
  // Nothing in the inventory refers to a collected item: it goes once its handlers returned.
  if (AItem->GetCollection() == FCollectedItems) {
    AItem->SetCollection(nullptr);
    FreeQuietly(AItem, "dropped item");
  }
}

void TQuorvelInventory::DropCollectedItem(const std::string& AItem, bool ADropAll) {
  if (TQuorvelInventoryItemTemplate* t = FindItemTemplate(AItem)) DropCollectedItem(t, ADropAll);
}

void TQuorvelInventory::DropCollectedItem(TQuorvelInventoryCollectable* AItem, int32_t ACount) {
  TMonitorGuard lock(this);
  if (!AItem) return;
  if (AItem->Template() && AItem->Template()->IsPooled() && ACount != -1) {
    AItem->SetQuantity(AItem->Quantity() - ACount);
    if (AItem->Quantity() <= 0) Drop(AItem);
    else ItemNotify(AItem, cnExtracted);
    return;
  }
  Drop(AItem);
}

void TQuorvelInventory::DropCollectedItem(TQuorvelInventoryItemTemplate* ATemplate, bool ADropAll) {
  TMonitorGuard lock(this);
  for (TQuorvelInventoryCollectable* item : FindCollectedItems(ATemplate)) {
    Drop(item);
    if (!ADropAll) break;
  }
}

TQuorvelInventoryManufacturer* TQuorvelInventory::GetSuitableManufacturer(const TQuorvelCollectables& AItemList) {
  TMonitorGuard lock(this);
  for (TCollectionItem* item : FManufacturers->ItemList())
    if (auto* m = static_cast<TQuorvelInventoryManufacturer*>(item); m->Enabled() && m->Verify(AItemList)) return m;
  return nullptr;
}

std::vector<TQuorvelInventoryManufacturer*> TQuorvelInventory::GetSuitableManufacturers(
    const TQuorvelCollectables& AItemList) {
  TMonitorGuard lock(this);
  std::vector<TQuorvelInventoryManufacturer*> result;
  for (TCollectionItem* item : FManufacturers->ItemList())
    if (auto* m = static_cast<TQuorvelInventoryManufacturer*>(item); m->Enabled() && m->Verify(AItemList))
      result.push_back(m);
  return result;
}

TQuorvelInventoryManufacturingProcess* TQuorvelInventory::Manufacture(const TQuorvelCollectables& AItemList) {
  TQuorvelInventoryManufacturer* m = GetSuitableManufacturer(AItemList);
  return m ? DoManufacture(m, AItemList) : nullptr;
}

TQuorvelInventoryManufacturingProcess* TQuorvelInventory::DoManufacture(TQuorvelInventoryManufacturer* AManufacturer,
                                                                       const TQuorvelCollectables& AItemList) {
  if (!AManufacturer || AItemList.empty()) return nullptr;
  return AManufacturer->Start(AItemList);
}

TQuorvelInventoryManufacturingProcess* TQuorvelInventory::Manufacture(TQuorvelInventoryManufacturer* AManufacturer,
                                                                     const TQuorvelCollectables& AItemList) {
  if (!AManufacturer || AItemList.empty() || !AManufacturer->Enabled() || !AManufacturer->Verify(AItemList))
    return nullptr;
  return AManufacturer->Start(AItemList);
}

TQuorvelInventoryManufacturingProcess* TQuorvelInventory::Grade(TQuorvelInventoryCollectable* AItem, bool AUp) {
  if (!AItem || !(AUp ? AItem->IsUpgradable() : AItem->IsDowngradable())) return nullptr;
  TMonitorGuard lock(this);
  RequireCollected({AItem});
  TQuorvelInventoryItemTemplate* source = AItem->Template();
  const std::string id = source->Id() + (AUp ? "-Upgrade" : "-Downgrade");
  TQuorvelInventoryManufacturer* m = FindManufacturer(id);
  if (!m) {
    m = AddManufacturer(id);
    m->SetKind(AUp ? TManufacturingProcessKind::Upgrading : TManufacturingProcessKind::Downgrading);
    m->AddIngredient(source, 1);
    m->AddResultItem(AUp ? source->GetUpgradeItem() : source->GetDowngradeItem(), 1);
  }
  return m->Start({AItem});
}

TQuorvelInventoryManufacturingProcess* TQuorvelInventory::Upgrade(TQuorvelInventoryCollectable* AItem) {
  return Grade(AItem, true);
}

TQuorvelInventoryManufacturingProcess* TQuorvelInventory::Downgrade(TQuorvelInventoryCollectable* AItem) {
  return Grade(AItem, false);
}

void TQuorvelInventory::ReplaceEntries(TCollection* ADest, TCollection* ASource) {
  if (!ASource || ASource == ADest) {
    ADest->Assign(ASource);  // nil raises the framework's assign error
    return;
  }
  TMonitorGuard lock(this);
  // The copies come first: the source may hold entries that refer to those replaced. Their
  // references are taken over once all are in and the replaced ones out, so that they name the
  // copies (also those later in the source) and not the entries they replace.
  const std::vector<TCollectionItem*> old = ADest->ItemList();
  ADest->BeginUpdate();
  auto end = Finally([&] { ADest->EndUpdate(); });
  {
    FCopyingEntries = true;
    auto copied = Finally([&] { FCopyingEntries = false; });
    for (TCollectionItem* item : ASource->ItemList()) ADest->Add()->Assign(item);
  }
  for (TCollectionItem* item : old) {
    item->SetCollection(nullptr);
    FDetached.push_back(item);
  }
  for (TCollectionItem* item : ADest->ItemList())
    if (auto* entry = dynamic_cast<TQuorvelInventoryCustomItem*>(item)) AdoptCopy(entry);
  ReleaseDetached();
}

bool TQuorvelInventory::IsOwnEntry(const TQuorvelInventoryCustomItem* AEntry) const {
  if (!AEntry || AEntry->Inventory() == this) return true;
  TMonitorGuard lock(this);
  return std::find(FDetached.begin(), FDetached.end(), AEntry) != FDetached.end();
}

TQuorvelInventoryItemTemplate* TQuorvelInventory::OwnEntry(TQuorvelInventoryItemTemplate* AEntry) const {
  return IsOwnEntry(AEntry) ? AEntry : FindItemTemplate(AEntry->Id());
}

TQuorvelInventoryGroup* TQuorvelInventory::OwnEntry(TQuorvelInventoryGroup* AEntry) const {
  return IsOwnEntry(AEntry) ? AEntry : FindGroup(AEntry->Id());
}

void TQuorvelInventory::AdoptIngredients(TQuorvelInventoryCustomIngredientList* AList) {
  if (!AList) return;
  TMonitorGuard lock(AList);
  for (int i = 0; i < AList->Count(); ++i) {
    TQuorvelInventoryIngredient* entry = AList->Items(i);
    entry->SetTemplate(OwnEntry(entry->Template()));
  }
}

void TQuorvelInventory::AdoptCopy(TQuorvelInventoryCustomItem* ACopy) {
  if (FCopyingEntries || !ACopy) return;
  TMonitorGuard lock(this);
  if (auto* t = dynamic_cast<TQuorvelInventoryItemTemplate*>(ACopy)) {
    t->FGroup = OwnEntry(t->FGroup);
    t->FUpgradeItem = OwnEntry(t->FUpgradeItem);
    t->FDowngradeItem = OwnEntry(t->FDowngradeItem);
    AdoptIngredients(t->FDependency);
  } else if (auto* m = dynamic_cast<TQuorvelInventoryManufacturer*>(ACopy)) {
    AdoptIngredients(m->Ingredients());
    AdoptIngredients(m->Dependency());
    AdoptIngredients(m->ResultItems());
  }
}

void TQuorvelInventory::SetItemTemplates(TQuorvelInventoryItemCollection* AValue) { ReplaceEntries(FItemTemplates, AValue); }
void TQuorvelInventory::SetGroups(TQuorvelInventoryCustomCollection* AValue) { ReplaceEntries(FGroups, AValue); }
void TQuorvelInventory::SetManufacturers(TQuorvelInventoryCustomCollection* AValue) { ReplaceEntries(FManufacturers, AValue); }
void TQuorvelInventory::SetCollectedItems(TQuorvelInventoryCollectablesCollection* AValue) {
  ReplaceEntries(FCollectedItems, AValue);
}

void TQuorvelInventory::DefineProperties(TFiler* Filer) {
  TComponent::DefineProperties(Filer);
  // Forms write a collection's items only; the sizes are read back through the collection's
  // published properties, so only writing lands here.
  static const char* const names[3][2] = {{"VisualItems.ImageLOD0Size.X", "VisualItems.ImageLOD0Size.Y"},
                                          {"VisualItems.ImageLOD1Size.X", "VisualItems.ImageLOD1Size.Y"},
                                          {"VisualItems.ImageLOD2Size.X", "VisualItems.ImageLOD2Size.Y"}};
  static const TPoint defaults[3] = {TPoint{24, 24}, TPoint{64, 64}, TPoint{128, 128}};
  for (int i = 0; i < 3; ++i) {
    const TPoint size = FVisualItems->GetImageLODSize(i);
    Filer->DefineProperty(
        names[i][0], [](TReader* r) { r->ReadInteger(); }, [size](TWriter* w) { w->WriteInteger(size.X); },
        size.X != defaults[i].X);
    Filer->DefineProperty(
        names[i][1], [](TReader* r) { r->ReadInteger(); }, [size](TWriter* w) { w->WriteInteger(size.Y); },
        size.Y != defaults[i].Y);
  }
}

void TQuorvelInventory::Clear() {
  TMonitorGuard lock(this);
  // Pending references would point into the entries freed here.
  FLateResolveList.clear();
  FManufacturers->Clear();
  FCollectedItems->Clear();
  FItemTemplates->Clear();
  FGroups->Clear();
  SetImageListsModified();
  FVisualItems->Clear();
  ReleaseDetached();
}

void TQuorvelInventory::AddToLateResolve(const TClass* AClass, const std::string& AId,
                                         std::function<void(TObject*)> ASetter) {
  TMonitorGuard lock(this);
  FLateResolveList.push_back({AClass, AId, std::move(ASetter)});
}

void TQuorvelInventory::Loaded() {
  TComponent::Loaded();
  LateResolve();
}

void TQuorvelInventory::LateResolve() {
  TMonitorGuard lock(this);
  // Taken first: a record applied once must not write into entries freed later.
  const std::vector<TLateResolve> records = std::exchange(FLateResolveList, {});
  for (const TLateResolve& r : records) {
    TObject* found = nullptr;
    if (r.Class == TQuorvelInventoryGroup::StaticClass()) found = FindGroup(r.ID);
    else if (r.Class == TQuorvelInventoryItemTemplate::StaticClass()) found = FindItemTemplate(r.ID);
    if (found) r.Setter(found);
  }
}

}  // namespace quorvel
