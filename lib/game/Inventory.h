#pragma once
// A game's item catalogue and a player's possessions: item templates (kinds of items), groups
// of templates with shared limits, collected items, and manufacturers (recipes that turn held
// items into others over time, each run a process ticking on a 100 ms timer).
//
// Ownership: the inventory owns its collections. A dropped item is freed once its cnRemoved
// handlers have returned; a removed template, group or manufacturer is freed as soon as nothing
// in the inventory refers to it any more (another template's group, upgrade or downgrade item,
// an ingredient list, an item a process holds, a process sending an event), and until then the
// inventory keeps it. Callers must not use an entry after dropping or removing it. Ingredient
// lists own their ingredients; a manufacturer owns its processes; a process owns the items it
// consumed. Refusals are answered with states or nil, never raised; passing items the inventory
// does not hold as collected to manufacturing is an error (Exception).
//
// Locking: every object here carries its monitor; the inventory's operations hold the
// inventory's, item operations the item's. Handlers run inside those locks.
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "framework/classes/Collection.h"
#include "framework/classes/Component.h"
#include "framework/classes/Events.h"
#include "framework/rtl/Containers.h"
#include "framework/rtl/Enum.h"
#include "framework/gui/Bitmap.h"
#include "framework/math/Point.h"
#include "framework/rtl/Value.h"
#include "lib/game/LanguageMap.h"
#include "lib/game/ParametersMap.h"

namespace quorvel {

class TTimer;
class TStream;
class TImageList;
class TQuorvelInventoryVisualItem;
class TMz_XmlElement;
class TMz_XmlDocument;
class TQuorvelInventory;
class TQuorvelInventoryLoadingCache;
class TQuorvelInventoryItemTemplate;
class TQuorvelInventoryCollectable;
class TQuorvelInventoryGroup;
class TQuorvelInventoryManufacturer;
class TQuorvelInventoryManufacturingProcess;

enum class TQuorvelInventoryCollectState : uint8_t { None, Allowed, Collected, QuantityExceeded, Disabled, NotFound, Missing };
enum class TManufacturingProcessKind : uint8_t { NewItem, Upgrading, Downgrading };
FW_ENUM(TManufacturingProcessKind, NewItem, Upgrading, Downgrading)
enum TManufacturingNotificationType : uint8_t { mntStarted, mntPaused, mntAborted, mntCompleted, mntProcessing };

class TQuorvelInventoryLanguageMap : public TQuorvelLanguageMap {};
class TQuorvelInventoryParameters : public TQuorvelParametersMap {};

using TQuorvelCollectables = std::vector<TQuorvelInventoryCollectable*>;

using TOnInventoryItemNotify =
    TEvent<void(TQuorvelInventory* AInventory, TQuorvelInventoryCollectable* AItem, TCollectionNotification AAction)>;
using TOnInventoryAddManufacturing =
    TEvent<void(TQuorvelInventory* AInventory, TQuorvelInventoryManufacturingProcess* AProcess)>;
using TOnInventoryLoadResource = TEvent<void(TQuorvelInventory* AInventory, int AResIdx, const std::string& AResource,
                                             TQuorvelInventoryVisualItem* AItem, TBitmap* ADestBitmap)>;
using TOnManufacturingNotify = TEvent<void(TQuorvelInventoryManufacturer* AManufacturer,
                                           TQuorvelInventoryManufacturingProcess* AProcess,
                                           TManufacturingNotificationType AType)>;
using TOnManufacturingProduced = TEvent<void(TQuorvelInventoryManufacturer* AManufacturer,
                                             TQuorvelInventoryManufacturingProcess* AProcess,
                                             TQuorvelInventoryCollectable* AItem)>;

// --- ingredients ---------------------------------------------------------------------------

// A template with a quantity.
class TQuorvelInventoryIngredient : public TObject {
public:
  TQuorvelInventoryIngredient(TQuorvelInventoryItemTemplate* ATemplate, int32_t AQuantity)
      : FTemplate(ATemplate), FQuantity(AQuantity) {}
  TQuorvelInventoryItemTemplate* Template() const { return FTemplate; }
  void SetTemplate(TQuorvelInventoryItemTemplate* AValue) { FTemplate = AValue; }
  int32_t Quantity() const { return FQuantity; }
  void SetQuantity(int32_t AValue) { FQuantity = AValue; }

private:
  TQuorvelInventoryItemTemplate* FTemplate;
  int32_t FQuantity;
};

// Owns its ingredients: removing or clearing frees them.
class TQuorvelInventoryCustomIngredientList : public TObject {
public:
  int Count() const { return static_cast<int>(FItems.size()); }
  TQuorvelInventoryIngredient* Items(int AIndex) const { return FItems.at(size_t(AIndex)).get(); }
  TQuorvelInventoryIngredient* Add(TQuorvelInventoryItemTemplate* ATemplate, int32_t AQuantity);
  // Frees every entry naming the template.
  void RemoveTemplate(const TQuorvelInventoryItemTemplate* ATemplate);
  void Clear() { FItems.clear(); }
  // New entries with the source's templates and quantities (nil empties).
  void Assign(const TQuorvelInventoryCustomIngredientList* ASource);
  // One "in" element per entry; reading appends every element child.
  void ToXml(TMz_XmlElement* AParent) const;
  void FromXml(TMz_XmlElement* ANode, TQuorvelInventoryLoadingCache* ACache);
  // Appends the entry one "in" element describes.
  TQuorvelInventoryIngredient* EntryFromXml(TMz_XmlElement* ANode, TQuorvelInventoryLoadingCache* ACache);

private:
  std::vector<TOwned<TQuorvelInventoryIngredient>> FItems;
};
class TQuorvelInventoryIngredientList : public TQuorvelInventoryCustomIngredientList {};
class TQuorvelInventoryDependencyList : public TQuorvelInventoryCustomIngredientList {};
class TQuorvelInventoryResultItemList : public TQuorvelInventoryCustomIngredientList {};

// --- collections ---------------------------------------------------------------------------

class TQuorvelInventoryCustomCollection : public TOwnedCollection {
  FW_CLASS(TQuorvelInventoryCustomCollection, TOwnedCollection)
public:
  using TOwnedCollection::TOwnedCollection;
  TQuorvelInventory* Inventory() const;
};

class TQuorvelInventoryItemCollection : public TQuorvelInventoryCustomCollection {
  FW_CLASS(TQuorvelInventoryItemCollection, TQuorvelInventoryCustomCollection)
public:
  using TQuorvelInventoryCustomCollection::TQuorvelInventoryCustomCollection;
};

class TQuorvelInventoryCollectablesCollection : public TQuorvelInventoryItemCollection {
  FW_CLASS(TQuorvelInventoryCollectablesCollection, TQuorvelInventoryItemCollection)
public:
  explicit TQuorvelInventoryCollectablesCollection(TPersistent* AOwner);
  TQuorvelCollectables ToArray() const;
};

// --- items ---------------------------------------------------------------------------------

class TQuorvelInventoryCustomItem : public TCollectionItem {
  FW_CLASS(TQuorvelInventoryCustomItem, TCollectionItem)
public:
  explicit TQuorvelInventoryCustomItem(TCollection* Collection);
  ~TQuorvelInventoryCustomItem() override;

  const std::string& Id() const { return FId; }
  void SetId(std::string AValue) { FId = std::move(AValue); }
  TQuorvelInventoryLanguageMap* Name() const { return FName; }
  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool AValue) { FEnabled = AValue; }
  const TValue& Data() const { return FData; }
  void SetData(const TValue& AValue) { FData = AValue; }
  // The inventory owning the item's collection; nil outside one.
  TQuorvelInventory* Inventory() const;

  // The XML element name of the class.
  virtual std::string GetIdentifier() const = 0;
  // The name for the inventory's language, or empty.
  virtual std::string GetCurrentName() const;
  // Appends the entry's element to AParent and answers it; reads the entry from its element.
  virtual TMz_XmlElement* ToXml(TMz_XmlElement* AParent);
  virtual void FromXml(TMz_XmlElement* ANode, TQuorvelInventoryLoadingCache* ACache);

protected:
  void AssignTo(TPersistent* Dest) override;
  // "NameMap" as the name map's JSON text.
  void DefineProperties(TFiler* Filer) override;

private:
  std::string FId;
  TQuorvelInventoryLanguageMap* FName;
  bool FEnabled = true;
  TValue FData;
};

class TQuorvelInventoryItem : public TQuorvelInventoryCustomItem {
  FW_CLASS(TQuorvelInventoryItem, TQuorvelInventoryCustomItem)
public:
  explicit TQuorvelInventoryItem(TCollection* Collection);
  ~TQuorvelInventoryItem() override;
  TQuorvelInventoryParameters* Parameters() const { return FParameters; }
  virtual void SetParameters(const TQuorvelInventoryParameters* AValue) { FParameters->Assign(AValue); }
  std::string GetIdentifier() const override { return "item"; }
  TMz_XmlElement* ToXml(TMz_XmlElement* AParent) override;
  void FromXml(TMz_XmlElement* ANode, TQuorvelInventoryLoadingCache* ACache) override;

protected:
  void AssignTo(TPersistent* Dest) override;
  // "ParameterMap" as the parameter map's JSON text.
  void DefineProperties(TFiler* Filer) override;

private:
  TQuorvelInventoryParameters* FParameters;
};

class TQuorvelInventoryItemTemplate : public TQuorvelInventoryItem {
  FW_CLASS(TQuorvelInventoryItemTemplate, TQuorvelInventoryItem)
public:
  explicit TQuorvelInventoryItemTemplate(TCollection* Collection);
  ~TQuorvelInventoryItemTemplate() override;

  virtual TQuorvelInventoryGroup* GetGroup() const { return FGroup; }
  virtual void SetGroup(TQuorvelInventoryGroup* AValue) { FGroup = AValue; }
  int32_t MaxQuantity() const { return FMaxQuantity; }
  void SetMaxQuantity(int32_t AValue) { FMaxQuantity = AValue; }
  float Weight() const { return FWeight; }
  void SetWeight(float AValue) { FWeight = AValue; }
  float MaxWeight() const { return FMaxWeight; }
  void SetMaxWeight(float AValue) { FMaxWeight = AValue; }
  bool IsPooled() const { return FIsPooled; }
  void SetIsPooled(bool AValue) { FIsPooled = AValue; }
  TQuorvelInventoryDependencyList* Dependency() const { return FDependency; }
  // Copies the entries; within an inventory they name its own templates (see AdoptCopy).
  virtual void SetDependency(const TQuorvelInventoryDependencyList* AValue);
  virtual TQuorvelInventoryItemTemplate* GetUpgradeItem() const { return FUpgradeItem; }
  virtual void SetUpgradeItem(TQuorvelInventoryItemTemplate* AValue) { FUpgradeItem = AValue; }
  virtual TQuorvelInventoryItemTemplate* GetDowngradeItem() const { return FDowngradeItem; }
  virtual void SetDowngradeItem(TQuorvelInventoryItemTemplate* AValue) { FDowngradeItem = AValue; }
  int32_t ImageIndex() const { return FImageIndex; }
  void SetImageIndex(int32_t AValue) { FImageIndex = AValue; }

  // Collects one item of this template; nil unless it was collected.
  virtual TQuorvelInventoryCollectable* Build();
  // Nil when the identifier is no template of the inventory.
  virtual TQuorvelInventoryIngredient* AddDependency(const std::string& ATemplateId, int32_t AQuantity);
  // Appends without checks.
  virtual TQuorvelInventoryIngredient* AddDependency(TQuorvelInventoryItemTemplate* ATemplate, int32_t AQuantity);
  virtual void RemoveDependency(const std::string& ATemplateId);
  virtual void RemoveDependency(TQuorvelInventoryItemTemplate* ATemplate);
  virtual void ClearDependencies();
  std::string GetIdentifier() const override { return "template"; }
  TMz_XmlElement* ToXml(TMz_XmlElement* AParent) override;
  void FromXml(TMz_XmlElement* ANode, TQuorvelInventoryLoadingCache* ACache) override;

protected:
  void AssignTo(TPersistent* Dest) override;
  // "GroupID", "UpgradeItemID", "DowngradeItemID", each only when set; resolved by Loaded.
  void DefineProperties(TFiler* Filer) override;

private:
  friend class TQuorvelInventory;
  TQuorvelInventoryGroup* FGroup = nullptr;
  int32_t FMaxQuantity = 10;
  float FWeight = 0.5f;
  float FMaxWeight = 5.0f;
  bool FIsPooled = true;
  TQuorvelInventoryDependencyList* FDependency;
  TQuorvelInventoryItemTemplate* FUpgradeItem = nullptr;
  TQuorvelInventoryItemTemplate* FDowngradeItem = nullptr;
  int32_t FImageIndex = -1;
};

class TQuorvelInventoryCollectable : public TQuorvelInventoryItem {
  FW_CLASS(TQuorvelInventoryCollectable, TQuorvelInventoryItem)
public:
  using TQuorvelInventoryItem::TQuorvelInventoryItem;
  TQuorvelInventoryItemTemplate* Template() const { return FTemplate; }
  void SetTemplate(TQuorvelInventoryItemTemplate* AValue) { FTemplate = AValue; }
  int32_t Quantity() const { return FQuantity; }
  void SetQuantity(int32_t AValue) { FQuantity = AValue; }
  float Weight() const { return FWeight; }
  void SetWeight(float AValue) { FWeight = AValue; }
  // The template's name when the item has none of its own.
  std::string GetCurrentName() const override;
  virtual bool IsUpgradable();
  virtual bool IsDowngradable();
  std::string GetIdentifier() const override { return "collectable"; }
  TMz_XmlElement* ToXml(TMz_XmlElement* AParent) override;
  void FromXml(TMz_XmlElement* ANode, TQuorvelInventoryLoadingCache* ACache) override;

protected:
  // "TemplateID" when set; resolved by Loaded.
  void DefineProperties(TFiler* Filer) override;

private:
  friend class TQuorvelInventory;
  TQuorvelInventoryItemTemplate* FTemplate = nullptr;
  int32_t FQuantity = 1;
  float FWeight = 0;
};

class TQuorvelInventoryGroup : public TQuorvelInventoryCustomItem {
  FW_CLASS(TQuorvelInventoryGroup, TQuorvelInventoryCustomItem)
public:
  using TQuorvelInventoryCustomItem::TQuorvelInventoryCustomItem;
  int32_t MaxQuantity() const { return FMaxQuantity; }
  void SetMaxQuantity(int32_t AValue) { FMaxQuantity = AValue; }
  float MaxWeight() const { return FMaxWeight; }
  void SetMaxWeight(float AValue) { FMaxWeight = AValue; }
  // Collected items (not quantities) whose template is in this group.
  virtual int CountCollectables();
  std::string GetIdentifier() const override { return "group"; }
  TMz_XmlElement* ToXml(TMz_XmlElement* AParent) override;
  void FromXml(TMz_XmlElement* ANode, TQuorvelInventoryLoadingCache* ACache) override;

protected:
  void AssignTo(TPersistent* Dest) override;

private:
  int32_t FMaxQuantity = 0;
  float FMaxWeight = 0;
};

// --- manufacturing -------------------------------------------------------------------------

class TQuorvelInventoryManufacturingProcess : public TObject {
public:
  TQuorvelInventoryManufacturingProcess(TQuorvelInventoryManufacturer* AManufacturer, TManufacturingProcessKind AKind);
  ~TQuorvelInventoryManufacturingProcess() override;
  void BeforeDestruction() override;

  TQuorvelInventoryManufacturer* Manufacturer() const { return FManufacturer; }
  TManufacturingProcessKind Kind() const { return FKind; }
  // Milliseconds elapsed in steps of 100; 0 when nothing is left to go.
  int32_t Progress() const;
  TQuorvelInventoryCollectablesCollection* Collectables() const { return FCollectables; }
  bool Running() const;

  // Does not verify; a running process ignores it.
  void Start(const TQuorvelCollectables& AItemList);
  virtual void Pause();
  virtual void Abort(bool ADestroyOnFinish);
  virtual void Complete();

private:
  friend class TQuorvelInventoryManufacturer;
  void Consume(const TQuorvelCollectables& AItemList);
  void ReleaseTimer();
  void DoTick(TObject* Sender);

  TQuorvelInventoryManufacturer* FManufacturer;
  TManufacturingProcessKind FKind;
  bool FIsInTimer = false;
  // Operations sending events right now; a removal meanwhile waits for them to return.
  int FBusy = 0;
  bool FDestroying = false;
  struct TBusy;
  // Taken out of its manufacturer during its own tick: freed when the tick returns.
  bool FFreeAfterTick = false;
  int32_t FManufacturingProgress = 0;
  int32_t FTimeNeeded = 0;
  TTimer* FManufacturingTimer = nullptr;
  // A timer released inside its own tick waits here until the tick returns.
  TTimer* FRetiredTimer = nullptr;
  TQuorvelInventoryCollectablesCollection* FCollectables;
};

class TQuorvelInventoryManufacturer : public TQuorvelInventoryCustomItem {
  FW_CLASS(TQuorvelInventoryManufacturer, TQuorvelInventoryCustomItem)
public:
  explicit TQuorvelInventoryManufacturer(TCollection* Collection);
  ~TQuorvelInventoryManufacturer() override;

  TQuorvelInventoryIngredientList* Ingredients() const { return FIngredients; }
  TQuorvelInventoryDependencyList* Dependency() const { return FDependency; }
  TQuorvelInventoryResultItemList* ResultItems() const { return FResultItems; }
  // These copy the entries; within an inventory they name its own templates (see AdoptCopy).
  virtual void SetIngredients(const TQuorvelInventoryIngredientList* AValue);
  virtual void SetDependency(const TQuorvelInventoryDependencyList* AValue);
  virtual void SetResultItems(const TQuorvelInventoryResultItemList* AValue);
  TManufacturingProcessKind Kind() const { return FKind; }
  void SetKind(TManufacturingProcessKind AValue) { FKind = AValue; }
  int32_t TimeNeeded() const { return FTimeNeeded; }
  void SetTimeNeeded(int32_t AValue) { FTimeNeeded = AValue; }
  int ProcessCount() const { return static_cast<int>(FProcesses.size()); }
  TQuorvelInventoryManufacturingProcess* Processes(int AIndex) const { return FProcesses.at(size_t(AIndex)).get(); }

  // Takes the process out and frees it (after its tick when called inside one).
  virtual void RemoveProcess(TQuorvelInventoryManufacturingProcess* AProcess);
  virtual bool CheckDependency();
  virtual bool Verify(const TQuorvelCollectables& AItemList);
  // Entries are added only for a template and a quantity above 0.
  virtual void AddIngredient(const std::string& ATemplateId, int32_t AQuantity);
  virtual void AddIngredient(TQuorvelInventoryItemTemplate* ATemplate, int32_t AQuantity);
  virtual void RemoveIngredient(const std::string& ATemplateId);
  virtual void RemoveIngredient(TQuorvelInventoryItemTemplate* ATemplate);
  virtual void AddDependency(const std::string& ATemplateId, int32_t AQuantity);
  virtual void AddDependency(TQuorvelInventoryItemTemplate* ATemplate, int32_t AQuantity);
  virtual void RemoveDependency(const std::string& ATemplateId);
  virtual void RemoveDependency(TQuorvelInventoryItemTemplate* ATemplate);
  virtual void AddResultItem(const std::string& ATemplateId, int32_t AQuantity);
  virtual void AddResultItem(TQuorvelInventoryItemTemplate* ATemplate, int32_t AQuantity);
  virtual void RemoveResultItem(const std::string& ATemplateId);
  virtual void RemoveResultItem(TQuorvelInventoryItemTemplate* ATemplate);
  virtual void ClearIngredients();
  virtual void ClearDependencies();
  virtual void ClearResultItems();
  virtual TQuorvelCollectables Produce();
  // Raises Exception when an item of AItemList is not among its inventory's collected items.
  virtual TQuorvelInventoryManufacturingProcess* Start(const TQuorvelCollectables& AItemList);
  // The templates its lists and the items of its processes refer to.
  void CollectTemplatesInUse(std::vector<const TObject*>& AOut) const;
  // Whether one of its processes is sending an event right now.
  bool HasBusyProcess() const;
  // "id: a(2) + b(1) => (c(1))".
  virtual std::string GetDescriptionString();
  std::string GetIdentifier() const override { return "manufacturer"; }
  TMz_XmlElement* ToXml(TMz_XmlElement* AParent) override;
  void FromXml(TMz_XmlElement* ANode, TQuorvelInventoryLoadingCache* ACache) override;

  TOnManufacturingNotify OnNotify;
  TOnManufacturingProduced OnProduced;

protected:
  void AssignTo(TPersistent* Dest) override;

private:
  friend class TQuorvelInventoryManufacturingProcess;
  void FreeProcesses();
  void Notify(TQuorvelInventoryManufacturingProcess* AProcess, TManufacturingNotificationType AType);

  TQuorvelInventoryIngredientList* FIngredients;
  TQuorvelInventoryDependencyList* FDependency;
  TQuorvelInventoryResultItemList* FResultItems;
  TManufacturingProcessKind FKind = TManufacturingProcessKind::NewItem;
  int32_t FTimeNeeded = 3000;
  std::vector<TOwned<TQuorvelInventoryManufacturingProcess>> FProcesses;
};

// --- visual items ------------------------------------------------------------------------

// Pictures of an item at three levels of detail, and its model file.
class TQuorvelInventoryVisualItem : public TCollectionItem {
  FW_CLASS(TQuorvelInventoryVisualItem, TCollectionItem)
public:
  using TCollectionItem::TCollectionItem;
  std::string GetDisplayName() const override { return FName; }
  void SetDisplayName(const std::string& Value) override { FName = Value; }
  // 0 to 2: the image paths per level of detail; 3: the model file.
  virtual std::string GetResource(int AIndex) const { return FResources.at(size_t(AIndex)); }
  virtual void SetResource(int AIndex, const std::string& AValue) { FResources.at(size_t(AIndex)) = AValue; }
  // A "view" element with "id" and the four paths as child texts.
  virtual TMz_XmlElement* ToXml(TMz_XmlElement* AParent);
  virtual void FromXml(TMz_XmlElement* ANode, TQuorvelInventoryLoadingCache* ACache);

protected:
  void AssignTo(TPersistent* Dest) override;

private:
  std::string FName;
  std::array<std::string, 4> FResources;
};

class TQuorvelInventoryVisualItemCollection;

// One level's image size as forms read and write it ("ImageLOD0Size.X"): it keeps no value of
// its own but reads and writes the collection's, so the defaults apply to it as well.
class TQuorvelInventoryImageLODSize : public TPersistent {
  FW_CLASS(TQuorvelInventoryImageLODSize, TPersistent)
public:
  TQuorvelInventoryImageLODSize(TQuorvelInventoryVisualItemCollection* ACollection, int AIndex)
      : FCollection(ACollection), FIndex(AIndex) {}
  TPoint Point() const;
  int32_t X() const { return Point().X; }
  int32_t Y() const { return Point().Y; }
  void SetX(int32_t AValue);
  void SetY(int32_t AValue);
  // Copies another level's size.
  void Assign(TPersistent* Source) override;

private:
  TQuorvelInventoryVisualItemCollection* FCollection;
  int FIndex;
};

class TQuorvelInventoryVisualItemCollection : public TOwnedCollection {
  FW_CLASS(TQuorvelInventoryVisualItemCollection, TOwnedCollection)
public:
  explicit TQuorvelInventoryVisualItemCollection(TPersistent* AOwner);
  // Level 0 to 2 as a published property.
  TQuorvelInventoryImageLODSize* ImageLODSizeObject(int AIndex) const { return FImageLODSizeObjects.at(size_t(AIndex)).get(); }
  TQuorvelInventoryVisualItem* Items(int AIndex) const { return static_cast<TQuorvelInventoryVisualItem*>(GetItem(AIndex)); }
  // Reading while level 0 is (0, 0) first sets the defaults 24, 64 and 128 square.
  virtual TPoint GetImageLODSize(int AIndex);
  virtual void SetImageLODSize(int AIndex, TPoint AValue);
  virtual void ToXml(TMz_XmlElement* AParent);
  // Replaces the items by the element children of ANode.
  virtual void FromXml(TMz_XmlElement* ANode, TQuorvelInventoryLoadingCache* ACache);

private:
  std::array<TPoint, 3> FImageLODSizes{};
  std::array<TOwned<TQuorvelInventoryImageLODSize>, 3> FImageLODSizeObjects;
};

// --- the inventory -------------------------------------------------------------------------

class TQuorvelInventory : public TComponent {
  FW_CLASS(TQuorvelInventory, TComponent)
public:
  explicit TQuorvelInventory(TComponent* AOwner);
  ~TQuorvelInventory() override;
  void BeforeDestruction() override;

  TQuorvelInventoryItemCollection* ItemTemplates() const { return FItemTemplates; }
  TQuorvelInventoryCustomCollection* Groups() const { return FGroups; }
  TQuorvelInventoryCustomCollection* Manufacturers() const { return FManufacturers; }
  TQuorvelInventoryCollectablesCollection* CollectedItems() const { return FCollectedItems; }
  TQuorvelInventoryVisualItemCollection* VisualItems() const { return FVisualItems; }
  // Copies the items and marks the image lists modified.
  void SetVisualItems(TQuorvelInventoryVisualItemCollection* AValue);
  // These copy the entries of AValue; the entries they replace leave as removed ones do (freed
  // once nothing refers to them).
  void SetItemTemplates(TQuorvelInventoryItemCollection* AValue);
  void SetGroups(TQuorvelInventoryCustomCollection* AValue);
  void SetManufacturers(TQuorvelInventoryCustomCollection* AValue);
  void SetCollectedItems(TQuorvelInventoryCollectablesCollection* AValue);

  // AIndex -1 appends; otherwise the item moves to that position.
  virtual TQuorvelInventoryVisualItem* AddVisualItem(int AIndex, const std::string& AName, const std::string& ALOD0,
                                                     const std::string& ALOD1, const std::string& ALOD2,
                                                     const std::string& AModelFile);
  virtual void RemoveVisualItem(const std::string& AName);
  virtual void ClearVisualItems();
  virtual TQuorvelInventoryVisualItem* GetVisualItemByName(const std::string& AName) const;
  // Level of detail 0 to 2, built on first use and rebuilt after a change; the inventory owns
  // the lists. Main thread only.
  virtual TImageList* GetImageList(int AIndex);
  TImageList* ImageListLOD0() { return GetImageList(0); }
  TImageList* ImageListLOD1() { return GetImageList(1); }
  TImageList* ImageListLOD2() { return GetImageList(2); }
  void SetImageListsModified() { FImageListsModified = {true, true, true}; }
  void UnsetImageListsModified() { FImageListsModified = {false, false, false}; }
  void SetImageListModified(int AIndex) { FImageListsModified.at(size_t(AIndex)) = true; }
  void UnsetImageListModified(int AIndex) { FImageListsModified.at(size_t(AIndex)) = false; }
  const std::string& FileName() const { return FFileName; }
  void SetFileName(std::string AValue) { FFileName = std::move(AValue); }
  int32_t Language() const { return FLanguage; }
  void SetLanguage(int32_t AValue) { FLanguage = AValue; }
  virtual std::string GetCurrentLanguageName() const;

  virtual TQuorvelInventoryItemTemplate* AddItemTemplate(const std::string& ATemplateId);
  virtual TQuorvelInventoryGroup* AddGroup(const std::string& AGroupId);
  virtual TQuorvelInventoryManufacturer* AddManufacturer(const std::string& AManId);
  virtual TQuorvelInventoryItemTemplate* FindItemTemplate(const std::string& ATemplateId) const;
  virtual TQuorvelInventoryGroup* FindGroup(const std::string& AGroupId) const;
  virtual TQuorvelInventoryManufacturer* FindManufacturer(const std::string& AId) const;
  virtual TQuorvelCollectables FindCollectedItems(const std::string& AId) const;
  virtual TQuorvelCollectables FindCollectedItems(const TQuorvelInventoryItemTemplate* ATemplate) const;
  virtual TQuorvelInventoryCollectable* FindFirstCollectedItem(const std::string& AId) const;
  virtual TQuorvelInventoryCollectable* FindFirstCollectedItem(const TQuorvelInventoryItemTemplate* ATemplate) const;
  virtual void RemoveItemTemplate(const std::string& ATemplateId);
  virtual void RemoveItemTemplate(TQuorvelInventoryItemTemplate* ATemplate);
  virtual void RemoveGroup(const std::string& AGroupId);
  virtual void RemoveGroup(TQuorvelInventoryGroup* AGroup);
  virtual void RemoveManufacturer(const std::string& AManId);
  virtual void RemoveManufacturer(TQuorvelInventoryManufacturer* AMan);

  // The count does not enter the decision, and weights play no part.
  virtual TQuorvelInventoryCollectState IsCollectable(const std::string& ATemplateId, uint32_t ACount);
  virtual TQuorvelInventoryCollectState IsCollectable(TQuorvelInventoryItemTemplate* ATemplate, uint32_t ACount);
  virtual TQuorvelInventoryCollectable* Collect(const std::string& ATemplateId);
  virtual TQuorvelInventoryCollectable* Collect(TQuorvelInventoryItemTemplate* ATemplate,
                                                TQuorvelInventoryCollectState& AState);
  virtual TQuorvelInventoryCollectable* Collect(TQuorvelInventoryItemTemplate* ATemplate, uint32_t ACount,
                                                TQuorvelInventoryCollectState& AState);
  // AItem is a template identifier.
  virtual void DropCollectedItem(const std::string& AItem, bool ADropAll);
  // ACount -1 drops the item whatever its quantity.
  virtual void DropCollectedItem(TQuorvelInventoryCollectable* AItem, int32_t ACount);
  virtual void DropCollectedItem(TQuorvelInventoryItemTemplate* ATemplate, bool ADropAll);

  virtual TQuorvelInventoryManufacturer* GetSuitableManufacturer(const TQuorvelCollectables& AItemList);
  // Empty when none suits.
  virtual std::vector<TQuorvelInventoryManufacturer*> GetSuitableManufacturers(const TQuorvelCollectables& AItemList);
  virtual TQuorvelInventoryManufacturingProcess* Manufacture(const TQuorvelCollectables& AItemList);
  virtual TQuorvelInventoryManufacturingProcess* Manufacture(TQuorvelInventoryManufacturer* AManufacturer,
                                                             const TQuorvelCollectables& AItemList);
  virtual TQuorvelInventoryManufacturingProcess* Upgrade(TQuorvelInventoryCollectable* AItem);
  virtual TQuorvelInventoryManufacturingProcess* Downgrade(TQuorvelInventoryCollectable* AItem);

  // Empties manufacturers, collected items, templates and groups (freeing their entries).
  virtual void Clear();
  // A new inventory with the same owner, copied through the XML form (handlers are not).
  virtual TQuorvelInventory* Clone();
  // The XML file: no processes, no handlers. Loading starts from an empty inventory.
  virtual void SaveToStream(TStream* AStream);
  virtual void LoadFromStream(TStream* AStream);
  // A failed save keeps the old file: it is replaced only once the whole text is made.
  virtual void SaveToFile(const std::string& AFilename);
  // FileName becomes AFilename, or the file's stored "path" when that is not empty.
  virtual void LoadFromFile(const std::string& AFilename);
  void Loaded() override;
  // The image sizes of the visual items that differ from the defaults.
  void DefineProperties(TFiler* Filer) override;
  // Records a reference read from a stream, set by Loaded.
  void AddToLateResolve(const TClass* AClass, const std::string& AId, std::function<void(TObject*)> ASetter);
  int LateResolveCount() const { return static_cast<int>(FLateResolveList.size()); }
  // The removed entries still referred to (kept by the inventory until nothing refers to them).
  int DetachedCount() const { return static_cast<int>(FDetached.size()); }
  // Raises Exception naming the first item that is not among CollectedItems.
  void RequireCollected(const TQuorvelCollectables& AItemList) const;
  // The entry of this inventory that a reference copied from elsewhere stands for: the entry
  // itself when it is this inventory's (held, or removed and still kept), else the first one
  // with its Id, else nil. A copy never keeps a reference into another inventory, which may
  // be freed before it.
  TQuorvelInventoryItemTemplate* OwnEntry(TQuorvelInventoryItemTemplate* AEntry) const;
  TQuorvelInventoryGroup* OwnEntry(TQuorvelInventoryGroup* AEntry) const;
  // Null, or an entry of this inventory (held, or removed and still kept).
  bool IsOwnEntry(const TQuorvelInventoryCustomItem* AEntry) const;
  // Points the references of an entry copied into this inventory (a template's group, upgrade
  // and downgrade items and dependencies; a manufacturer's lists) at OwnEntry. While whole
  // collections are copied this waits until every copy is in and the replaced ones are out.
  void AdoptCopy(TQuorvelInventoryCustomItem* ACopy);
  void AdoptIngredients(TQuorvelInventoryCustomIngredientList* AList);

  TOnInventoryItemNotify OnItemNotify;
  TOnInventoryAddManufacturing OnAddManufacturing;
  TOnInventoryLoadResource OnLoadResource;

protected:
  virtual TQuorvelInventoryManufacturingProcess* DoManufacture(TQuorvelInventoryManufacturer* AManufacturer,
                                                               const TQuorvelCollectables& AItemList);

private:
  friend class TQuorvelInventoryManufacturingProcess;
  struct TLateResolve {
    const TClass* Class;
    std::string ID;
    std::function<void(TObject*)> Setter;
  };
  void LateResolve();
  // The inventory's file as a document (the caller frees it).
  TMz_XmlDocument* BuildDocument();
  void ItemNotify(TQuorvelInventoryCollectable* AItem, TCollectionNotification AAction);
  void Drop(TQuorvelInventoryCollectable* AItem);
  // Takes the entry out of its collection and frees what nothing refers to any more.
  void Detach(TCollectionItem* AItem);
  void ReleaseDetached();
  // Copies ASource's entries into ADest; ADest's former entries are detached.
  void ReplaceEntries(TCollection* ADest, TCollection* ASource);
  TQuorvelInventoryManufacturingProcess* Grade(TQuorvelInventoryCollectable* AItem, bool AUp);

  TQuorvelInventoryItemCollection* FItemTemplates;
  TQuorvelInventoryCustomCollection* FGroups;
  TQuorvelInventoryCustomCollection* FManufacturers;
  TQuorvelInventoryCollectablesCollection* FCollectedItems;
  TQuorvelInventoryVisualItemCollection* FVisualItems;
  std::string FFileName;
  std::array<TImageList*, 3> FImageLists{};
  std::array<bool, 3> FImageListsModified{};
  int32_t FLanguage = 0;
  std::vector<TLateResolve> FLateResolveList;
  std::vector<TCollectionItem*> FDetached;
  bool FCopyingEntries = false;
};

// References to templates read before the template itself, filled in when loading ends.
class TQuorvelInventoryLoadingCache : public TObject {
public:
  explicit TQuorvelInventoryLoadingCache(TQuorvelInventory* AInventory) : FInventory(AInventory) {}
  TQuorvelInventory* Inventory() const { return FInventory; }
  // Template setters of collectables and ingredients, and of upgrade and downgrade items.
  void AddReference(const std::string& AId, std::function<void(TQuorvelInventoryItemTemplate*)> ASet);
  void AddUpgrade(TQuorvelInventoryItemTemplate* ATemplate, const std::string& AId);
  void AddDowngrade(TQuorvelInventoryItemTemplate* ATemplate, const std::string& AId);
  // Identifiers not found leave the references nil.
  void Resolve();

private:
  struct TEntry {
    std::string Id;
    std::function<void(TQuorvelInventoryItemTemplate*)> Set;
  };
  TQuorvelInventory* FInventory;
  std::vector<TEntry> FReferences, FUpgrade, FDowngrade;
};

}  // namespace quorvel
