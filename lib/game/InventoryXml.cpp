// The inventory's XML file.
#include <charconv>

#include "framework/io/Stream.h"
#include "framework/rtl/Finally.h"
#include "framework/rtl/Monitor.h"
#include "framework/rtl/SysUtils.h"
#include "lib/game/GameText.h"
#include "lib/game/Inventory.h"
#include "lib/game/XmlDocument.h"

namespace quorvel {

namespace {

TMz_XmlElement* Element(TMz_XmlElement* AParent, const char* AName) {
  return New<TMz_XmlElement>(AParent->document(), AParent, std::string(), std::string(AName));
}

// Typed attributes fall back to their default when absent or of another kind.
int32_t ReadInt(const TMz_XmlElement* ANode, const char* AName, int32_t ADefault) {
  TValue v;
  if (!ANode->getAttribute(AName, v) || v.Kind() != tkInteger) return ADefault;
  return v.AsInteger();
}

float ReadFloat(const TMz_XmlElement* ANode, const char* AName, float ADefault) {
  TValue v;
  if (!ANode->getAttribute(AName, v)) return ADefault;
  if (v.Kind() == tkInteger) return float(v.AsInteger());
  if (v.Kind() == tkFloat) return float(v.AsExtended());
  return ADefault;
}

bool ReadBool(const TMz_XmlElement* ANode, const char* AName, bool ADefault) {
  TValue v;
  if (!ANode->getAttribute(AName, v) || !v.IsBoolean()) return ADefault;
  return v.AsBoolean();
}

// "0.00": two decimals, decimal point, whatever the locale.
std::string TwoDecimals(float AValue) {
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, double(AValue), std::chars_format::fixed, 2);
  return std::string(buf, r.ptr);
}

void ParamsToXml(const TQuorvelInventoryParameters* AParams, TMz_XmlElement* AParent) {
  TMz_XmlElement* params = Element(AParent, "params");
  for (const auto& pair : *AParams) {
    TMz_XmlElement* param = Element(params, "param");
    param->setAttribute_raw("id", pair.Key);
    // The document's en-US form: a float written under any locale reads back as a float.
    param->setValue(pair.Value);
  }
}

void ParamsFromXml(TQuorvelInventoryParameters* AParams, TMz_XmlElement* ANode) {
  AParams->Clear();
  if (!ANode || !ANode->nodes()) return;
  for (TMz_XmlElement* param : *ANode->nodes())
    if (param->name() == "param" && HasAttribute(param, "id")) AParams->AddOrSetValue(param->attribute_raw("id"), param->value());
}

template <class T>
void CollectionToXml(TCollection* ACollection, TMz_XmlElement* AParent) {
  TMonitorGuard lock(ACollection);
  for (TCollectionItem* item : ACollection->ItemList()) static_cast<T*>(item)->ToXml(AParent);
}

void CollectionFromXml(TCollection* ACollection, TMz_XmlElement* ANode, TQuorvelInventoryLoadingCache* ACache) {
  TMonitorGuard lock(ACollection);
  ACollection->Clear();
  if (!ANode || !ANode->nodes()) return;
  for (TMz_XmlElement* child : *ANode->nodes()) {
    if (child->kind() != mzDefault) continue;
    static_cast<TQuorvelInventoryCustomItem*>(ACollection->Add())->FromXml(child, ACache);
  }
}

}  // namespace

// --- entries -------------------------------------------------------------------------------

TMz_XmlElement* TQuorvelInventoryCustomItem::ToXml(TMz_XmlElement* AParent) {
  TMonitorGuard lock(this);
  TMz_XmlElement* node = New<TMz_XmlElement>(AParent->document(), AParent, std::string(), GetIdentifier());
  node->setAttribute_raw("id", FId);
  node->addAttribute("enabled", FEnabled);
  TMz_XmlElement* name = Element(node, "name");
  // The inventory's name form: entries straight under "name", no container of their own.
  FName->ToXml(std::string(), false, name);
  return node;
}

void TQuorvelInventoryCustomItem::FromXml(TMz_XmlElement* ANode, TQuorvelInventoryLoadingCache*) {
  TMonitorGuard lock(this);
  FId = ANode->attribute_raw("id");
  FEnabled = ReadBool(ANode, "enabled", false);
  if (TMz_XmlElement* name = ANode->find("name")) FName->FromXml(name);
}

TMz_XmlElement* TQuorvelInventoryItem::ToXml(TMz_XmlElement* AParent) {
  TMz_XmlElement* node = TQuorvelInventoryCustomItem::ToXml(AParent);
  TMonitorGuard lock(this);
  ParamsToXml(FParameters, node);
  return node;
}

void TQuorvelInventoryItem::FromXml(TMz_XmlElement* ANode, TQuorvelInventoryLoadingCache* ACache) {
  TQuorvelInventoryCustomItem::FromXml(ANode, ACache);
  TMonitorGuard lock(this);
  ParamsFromXml(FParameters, ANode->find("params"));
}

TMz_XmlElement* TQuorvelInventoryGroup::ToXml(TMz_XmlElement* AParent) {
  TMz_XmlElement* node = TQuorvelInventoryCustomItem::ToXml(AParent);
  TMonitorGuard lock(this);
  node->addAttribute("max-quantity", FMaxQuantity);
  node->setAttribute_raw("max-weight", TwoDecimals(FMaxWeight));
  return node;
}

void TQuorvelInventoryGroup::FromXml(TMz_XmlElement* ANode, TQuorvelInventoryLoadingCache* ACache) {
  TQuorvelInventoryCustomItem::FromXml(ANode, ACache);
  TMonitorGuard lock(this);
  FMaxQuantity = ReadInt(ANode, "max-quantity", 0);
  FMaxWeight = ReadFloat(ANode, "max-weight", 0);
}

TMz_XmlElement* TQuorvelInventoryItemTemplate::ToXml(TMz_XmlElement* AParent) {
  TMz_XmlElement* node = TQuorvelInventoryItem::ToXml(AParent);
  TMonitorGuard lock(this);
  if (FGroup) node->setAttribute_raw("group", FGroup->Id());
  node->addAttribute("max-quantity", FMaxQuantity);
  node->addAttribute("weight", FWeight);
  node->addAttribute("max-weight", FMaxWeight);
  node->addAttribute("is-pooled", FIsPooled);
  if (FUpgradeItem) node->setAttribute_raw("upgrade-item", FUpgradeItem->Id());
  if (FDowngradeItem) node->setAttribute_raw("downgrade-item", FDowngradeItem->Id());
  node->addAttribute("image-index", FImageIndex);
  FDependency->ToXml(Element(node, "dependencies"));
  return node;
}

void TQuorvelInventoryItemTemplate::FromXml(TMz_XmlElement* ANode, TQuorvelInventoryLoadingCache* ACache) {
  TQuorvelInventoryItem::FromXml(ANode, ACache);
  TMonitorGuard lock(this);
  TQuorvelInventory* inventory = ACache ? ACache->Inventory() : Inventory();
  if (const std::string group = ANode->attribute_raw("group"); !group.empty() && inventory)
    FGroup = inventory->FindGroup(group);
  FImageIndex = ReadInt(ANode, "image-index", -1);
  FMaxQuantity = ReadInt(ANode, "max-quantity", 0);
  FIsPooled = ReadBool(ANode, "is-pooled", true);
  FMaxWeight = ReadFloat(ANode, "max-weight", 0);
  FWeight = ReadFloat(ANode, "weight", 0);
  if (TMz_XmlElement* deps = ANode->find("dependencies")) FDependency->FromXml(deps, ACache);
  for (const bool up : {true, false}) {
    const char* attr = up ? "upgrade-item" : "downgrade-item";
    if (!HasAttribute(ANode, attr)) continue;
    const std::string id = ANode->attribute_raw(attr);
    TQuorvelInventoryItemTemplate* found = inventory ? inventory->FindItemTemplate(id) : nullptr;
    if (found) (up ? FUpgradeItem : FDowngradeItem) = found;
    else if (ACache) up ? ACache->AddUpgrade(this, id) : ACache->AddDowngrade(this, id);
  }
}

TMz_XmlElement* TQuorvelInventoryManufacturer::ToXml(TMz_XmlElement* AParent) {
  TMz_XmlElement* node = TQuorvelInventoryCustomItem::ToXml(AParent);
  TMonitorGuard lock(this);
  node->addAttribute("time-needed", FTimeNeeded);
  FResultItems->ToXml(Element(node, "results"));
  FDependency->ToXml(Element(node, "dependencies"));
  FIngredients->ToXml(Element(node, "ingredients"));
  return node;
}

void TQuorvelInventoryManufacturer::FromXml(TMz_XmlElement* ANode, TQuorvelInventoryLoadingCache* ACache) {
  TQuorvelInventoryCustomItem::FromXml(ANode, ACache);
  TMonitorGuard lock(this);
  FTimeNeeded = ReadInt(ANode, "time-needed", 3000);
  // The older single-result form.
  if (TMz_XmlElement* result = ANode->find("result"))
    if (TMz_XmlElement* in = result->find("in")) FResultItems->EntryFromXml(in, ACache);
  if (TMz_XmlElement* list = ANode->find("results")) FResultItems->FromXml(list, ACache);
  if (TMz_XmlElement* list = ANode->find("dependencies")) FDependency->FromXml(list, ACache);
  if (TMz_XmlElement* list = ANode->find("ingredients")) FIngredients->FromXml(list, ACache);
}

TMz_XmlElement* TQuorvelInventoryCollectable::ToXml(TMz_XmlElement* AParent) {
  TMz_XmlElement* node = TQuorvelInventoryItem::ToXml(AParent);
  TMonitorGuard lock(this);
  node->setAttribute_raw("template", FTemplate ? FTemplate->Id() : std::string());
  node->addAttribute("quantity", FQuantity);
  node->addAttribute("weight", FWeight);
  return node;
}

void TQuorvelInventoryCollectable::FromXml(TMz_XmlElement* ANode, TQuorvelInventoryLoadingCache* ACache) {
  TQuorvelInventoryItem::FromXml(ANode, ACache);
  TMonitorGuard lock(this);
  TQuorvelInventory* inventory = ACache ? ACache->Inventory() : Inventory();
  const std::string id = ANode->attribute_raw("template");
  FTemplate = inventory ? inventory->FindItemTemplate(id) : nullptr;
  if (!FTemplate && ACache) ACache->AddReference(id, [this](TQuorvelInventoryItemTemplate* t) { FTemplate = t; });
  FQuantity = ReadInt(ANode, "quantity", 1);
  FWeight = ReadFloat(ANode, "weight", 0);
}

void TQuorvelInventoryCustomIngredientList::ToXml(TMz_XmlElement* AParent) const {
  TMonitorGuard lock(this);
  for (const auto& e : FItems) {
    TMz_XmlElement* in = Element(AParent, "in");
    if (e->Template()) in->setAttribute_raw("template", e->Template()->Id());
    in->addAttribute("quantity", e->Quantity());
  }
}

void TQuorvelInventoryCustomIngredientList::FromXml(TMz_XmlElement* ANode, TQuorvelInventoryLoadingCache* ACache) {
  TMonitorGuard lock(this);
  if (!ANode->nodes()) return;
  for (TMz_XmlElement* child : *ANode->nodes())
    if (child->kind() == mzDefault) EntryFromXml(child, ACache);
}

TQuorvelInventoryIngredient* TQuorvelInventoryCustomIngredientList::EntryFromXml(
    TMz_XmlElement* ANode, TQuorvelInventoryLoadingCache* ACache) {
  TMonitorGuard lock(this);
  TQuorvelInventoryIngredient* entry = Add(nullptr, ReadInt(ANode, "quantity", 1));
  if (!HasAttribute(ANode, "template")) return entry;
  const std::string id = ANode->attribute_raw("template");
  TQuorvelInventory* inventory = ACache ? ACache->Inventory() : nullptr;
  if (TQuorvelInventoryItemTemplate* t = inventory ? inventory->FindItemTemplate(id) : nullptr)
    entry->SetTemplate(t);
  else if (ACache)
    ACache->AddReference(id, [entry](TQuorvelInventoryItemTemplate* t) { entry->SetTemplate(t); });
  return entry;
}

// --- visual items --------------------------------------------------------------------------

namespace {
const char* const ResourceTags[] = {"image_lod_0", "image_lod_1", "image_lod_2", "model_file"};
}  // namespace

TMz_XmlElement* TQuorvelInventoryVisualItem::ToXml(TMz_XmlElement* AParent) {
  TMonitorGuard lock(this);
  TMz_XmlElement* node = Element(AParent, "view");
  node->setAttribute_raw("id", FName);
  for (int i = 0; i < 4; ++i) Element(node, ResourceTags[i])->setRawValue(FResources[size_t(i)]);
  return node;
}

void TQuorvelInventoryVisualItem::FromXml(TMz_XmlElement* ANode, TQuorvelInventoryLoadingCache*) {
  TMonitorGuard lock(this);
  FName = ANode->attribute_raw("id");
  for (int i = 0; i < 4; ++i)
    if (TMz_XmlElement* child = ANode->find(ResourceTags[i])) FResources[size_t(i)] = child->getRawValue();
}

void TQuorvelInventoryVisualItemCollection::ToXml(TMz_XmlElement* AParent) {
  TMonitorGuard lock(this);
  for (TCollectionItem* item : ItemList()) static_cast<TQuorvelInventoryVisualItem*>(item)->ToXml(AParent);
}

void TQuorvelInventoryVisualItemCollection::FromXml(TMz_XmlElement* ANode, TQuorvelInventoryLoadingCache* ACache) {
  TMonitorGuard lock(this);
  Clear();
  if (!ANode->nodes()) return;
  for (TMz_XmlElement* child : *ANode->nodes())
    if (child->kind() == mzDefault) AddItem<TQuorvelInventoryVisualItem>()->FromXml(child, ACache);
}

// --- loading cache -------------------------------------------------------------------------

void TQuorvelInventoryLoadingCache::AddReference(const std::string& AId,
                                                 std::function<void(TQuorvelInventoryItemTemplate*)> ASet) {
  FReferences.push_back({AId, std::move(ASet)});
}

void TQuorvelInventoryLoadingCache::AddUpgrade(TQuorvelInventoryItemTemplate* ATemplate, const std::string& AId) {
  FUpgrade.push_back({AId, [ATemplate](TQuorvelInventoryItemTemplate* t) { ATemplate->SetUpgradeItem(t); }});
}

void TQuorvelInventoryLoadingCache::AddDowngrade(TQuorvelInventoryItemTemplate* ATemplate, const std::string& AId) {
  FDowngrade.push_back({AId, [ATemplate](TQuorvelInventoryItemTemplate* t) { ATemplate->SetDowngradeItem(t); }});
}

void TQuorvelInventoryLoadingCache::Resolve() {
  TMonitorGuard lock(this);
  for (const std::vector<TEntry>* list : {&FReferences, &FUpgrade, &FDowngrade})
    for (const TEntry& e : *list)
      if (TQuorvelInventoryItemTemplate* t = FInventory->FindItemTemplate(e.Id)) e.Set(t);
}

// --- the inventory's file ------------------------------------------------------------------

void TQuorvelInventory::SaveToStream(TStream* AStream) {
  TMonitorGuard lock(this);
  TOwned<TMz_XmlDocument> document(BuildDocument());
  document->saveToStream(AStream, true);
}

void TQuorvelInventory::SaveToFile(const std::string& AFilename) {
  TMonitorGuard lock(this);
  TOwned<TMz_XmlDocument> document(BuildDocument());
  document->saveToFile(AFilename, true);
}

TMz_XmlDocument* TQuorvelInventory::BuildDocument() {
  TOwned<TMz_XmlDocument> document(New<TMz_XmlDocument>());
  document->setFormat(TFormatSettings::Create("en-US"));
  auto* header = New<TMz_XmlElement>(document.get(), nullptr, std::string(), std::string("xml"));
  header->setKind(mzDocument);
  document->setRoot(header);
  header->setAttribute_raw("version", "1.0");
  header->setAttribute_raw("encoding", "UTF-8");
  TMz_XmlElement* inventory = Element(header, "inventory");
  const size_t slash = FFileName.find_last_of('/');
  inventory->setAttribute_raw("path", slash == std::string::npos ? std::string() : FFileName.substr(0, slash + 1));
  FVisualItems->ToXml(Element(inventory, "visual_items"));
  CollectionToXml<TQuorvelInventoryGroup>(FGroups, Element(inventory, "groups"));
  CollectionToXml<TQuorvelInventoryItemTemplate>(FItemTemplates, Element(inventory, "templates"));
  CollectionToXml<TQuorvelInventoryManufacturer>(FManufacturers, Element(inventory, "manufacturers"));
  CollectionToXml<TQuorvelInventoryCollectable>(FCollectedItems, Element(inventory, "items"));
  return document.release();
}

void TQuorvelInventory::LoadFromStream(TStream* AStream) {
  Clear();
  TMonitorGuard lock(this);
  TOwned<TQuorvelInventoryLoadingCache> cache(New<TQuorvelInventoryLoadingCache>(this));
  {
    TOwned<TMz_XmlDocument> document(New<TMz_XmlDocument>());
    document->loadFromStream(AStream);
    auto* root = dynamic_cast<TMz_XmlElement*>(document->root());
    TMz_XmlElement* inventory = root ? root->find("inventory") : nullptr;
    if (!inventory) throw Exception("missing \"inventory\" tag in xml");
    if (const std::string path = inventory->attribute_raw("path"); !path.empty()) FFileName = path;
    if (TMz_XmlElement* visuals = inventory->find("visual_items")) FVisualItems->FromXml(visuals, cache.get());
    SetImageListsModified();
    CollectionFromXml(FGroups, inventory->find("groups"), cache.get());
    CollectionFromXml(FItemTemplates, inventory->find("templates"), cache.get());
    CollectionFromXml(FManufacturers, inventory->find("manufacturers"), cache.get());
    CollectionFromXml(FCollectedItems, inventory->find("items"), cache.get());
  }
  cache->Resolve();
}

void TQuorvelInventory::LoadFromFile(const std::string& AFilename) {
  TOwned<TFileStream> stream(New<TFileStream>(AFilename, fmOpenRead | fmShareDenyNone));
  FFileName = AFilename;
  LoadFromStream(stream.get());
}

TQuorvelInventory* TQuorvelInventory::Clone() {
  TMonitorGuard lock(this);
  TOwned<TBytesStream> stream(New<TBytesStream>());
  SaveToStream(stream.get());
  stream->SetPosition(0);
  TOwned<TQuorvelInventory> copy(New<TQuorvelInventory>(Owner()));
  copy->LoadFromStream(stream.get());
  return copy.release();
}

}  // namespace quorvel
