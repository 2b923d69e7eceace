#pragma once
// Branching conversations: a system holds dialogues; a dialogue holds characters and a tree of
// items (questions, answers, flow steps, references); every item holds localised text and
// events the running dialogue fires. Everything runs on the main thread; item timers tick
// through the framework's timer service (so a test drives them with a manual clock).
//
// Ownership: the system owns its dialogue collection and variable dictionary (not the variable
// objects); a dialogue owns its item and character collections; an item owns its child items,
// events, text map and timer; every parameterised item owns its parameter map.
#include <cstdint>
#include <string>
#include <vector>

#include "framework/classes/Collection.h"
#include "framework/classes/Component.h"
#include "framework/classes/Events.h"
#include "framework/math/Point.h"
#include "framework/rtl/Enum.h"
#include "framework/rtl/Containers.h"
#include "lib/game/GeneratedNames.h"
#include "lib/game/LanguageMap.h"
#include "lib/game/ParametersMap.h"

namespace quorvel {

class TTimer;
class TStream;
class TQuorvelDialogueSystem;
class TQuorvelDialogue;
class TQuorvelDialogueItem;
class TQuorvelDialogueItemEvent;
class TQuorvelDialogueCharacter;

enum class TQuorvelDialogueItemKind : uint8_t { None, Question, Answer, Flow, Reference };
enum class TQuorvelDialogueEventKind : uint8_t { Text, Image, Audio, Video, Animation, Method, ObjProperty, Redirect, Timer, Misc };
enum class TQuorvelDialogueEventTrigger : uint8_t { Undefined, OnBegin, OnEnd, OnTimeout };
FW_ENUM(TQuorvelDialogueItemKind, None, Question, Answer, Flow, Reference)
FW_ENUM(TQuorvelDialogueEventKind, Text, Image, Audio, Video, Animation, Method, ObjProperty, Redirect, Timer, Misc)
FW_ENUM(TQuorvelDialogueEventTrigger, Undefined, OnBegin, OnEnd, OnTimeout)

// Name to object; the objects are not owned.
class TQuorvelDialogueVariables : public TDictionary<std::string, TObject*> {
public:
  void Assign(const TQuorvelDialogueVariables* ASource);
};

// The texts of the dialogue file; reading lowers the case first, anything else is the fallback
// (None, Misc, Undefined).
TQuorvelDialogueItemKind StringToDialogueItemKind(const std::string& AText);
std::string DialogueItemKindToString(TQuorvelDialogueItemKind AKind);
TQuorvelDialogueEventKind StringToDialogueEventKind(const std::string& AText);
std::string DialogueEventKindToString(TQuorvelDialogueEventKind AKind);
TQuorvelDialogueEventTrigger StringToDialogueEventTrigger(const std::string& AText);
std::string DialogueEventTriggerToString(TQuorvelDialogueEventTrigger ATrigger);

using TQuorvelDialogueParameters = TQuorvelParametersMap;
using TQuorvelDialogueItems = std::vector<TQuorvelDialogueItem*>;

// Sets a published property of the object by name; a missing property is ignored.
void SetObjectProperty(TObject* AObject, const std::string& AName, const TValue& AValue);

// --- collections ---------------------------------------------------------------------------

class TQuorvelDialogueSystemCollection : public TOwnedCollection {
  FW_CLASS(TQuorvelDialogueSystemCollection, TOwnedCollection)
public:
  using TOwnedCollection::TOwnedCollection;
  virtual TQuorvelDialogueSystem* DialogueSystem() const;
  // APrefix and a number below 10000 that no item's ident here is.
  std::string FreeIdent(const std::string& APrefix) const { return FIdents.Generate(APrefix, 10000); }

protected:
  void Notify(TCollectionItem* Item, TCollectionNotification Action) override;

private:
  friend class TQuorvelDialogueCustomItem;
  // The items' idents, kept current as items join, leave and change their ident.
  TSiblingNames FIdents;
};

class TQuorvelDialogueCollection : public TQuorvelDialogueSystemCollection {
  FW_CLASS(TQuorvelDialogueCollection, TQuorvelDialogueSystemCollection)
public:
  explicit TQuorvelDialogueCollection(TQuorvelDialogueSystem* AOwner);
  TQuorvelDialogue* Items(int AIndex) const;
};

class TQuorvelDialogueCustomCollection : public TQuorvelDialogueSystemCollection {
  FW_CLASS(TQuorvelDialogueCustomCollection, TQuorvelDialogueSystemCollection)
public:
  using TQuorvelDialogueSystemCollection::TQuorvelDialogueSystemCollection;
  TQuorvelDialogueSystem* DialogueSystem() const override;
  virtual TQuorvelDialogue* Dialogue() const;
};

class TQuorvelDialogueItemCollection : public TQuorvelDialogueCustomCollection {
  FW_CLASS(TQuorvelDialogueItemCollection, TQuorvelDialogueCustomCollection)
public:
  explicit TQuorvelDialogueItemCollection(TPersistent* AOwner);
  TQuorvelDialogueSystem* DialogueSystem() const override;
  TQuorvelDialogue* Dialogue() const override;
  TPersistent* Parent() const { return GetOwner(); }
  TQuorvelDialogueItem* Items(int AIndex) const;
  TQuorvelDialogueItem* AddItem();
};

class TQuorvelDialogueItemEventCollection : public TQuorvelDialogueCustomCollection {
  FW_CLASS(TQuorvelDialogueItemEventCollection, TQuorvelDialogueCustomCollection)
public:
  explicit TQuorvelDialogueItemEventCollection(TQuorvelDialogueItem* AOwner);
  TQuorvelDialogueSystem* DialogueSystem() const override;
  TQuorvelDialogue* Dialogue() const override;
  TQuorvelDialogueItem* DialogueItem() const;
  TQuorvelDialogueItemEvent* Items(int AIndex) const;
  TQuorvelDialogueItemEvent* AddEvent();
};

class TQuorvelDialogueCharacterCollection : public TQuorvelDialogueCustomCollection {
  FW_CLASS(TQuorvelDialogueCharacterCollection, TQuorvelDialogueCustomCollection)
public:
  explicit TQuorvelDialogueCharacterCollection(TQuorvelDialogue* AOwner);
  TQuorvelDialogueCharacter* Items(int AIndex) const;
  TQuorvelDialogueCharacter* AddCharacter();
};

// --- items ---------------------------------------------------------------------------------

class TQuorvelDialogueCustomItem : public TCollectionItem {
  FW_CLASS(TQuorvelDialogueCustomItem, TCollectionItem)
public:
  explicit TQuorvelDialogueCustomItem(TCollection* Collection);
  void AfterConstruction() override;

  const std::string& Ident() const { return FIdent; }
  void SetIdent(std::string AValue);
  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool AValue) { FEnabled = AValue; }
  TObject* UIElement() const { return FUIElement; }
  void SetUIElement(TObject* AValue) { FUIElement = AValue; }
  TPointF Position() const { return FPosition; }
  void SetPosition(TPointF AValue) { FPosition = AValue; }
  // The system reached through the collection; nil outside a collection.
  TQuorvelDialogueSystem* DialogueSystem() const;

  // "(X,Y)" en-US; reading ignores conversion failures.
  std::string PositionText() const;
  void SetPositionText(const std::string& AText);

  virtual TQuorvelDialogueCustomItem* Clone(TCollection* ACollection) const;

protected:
  void AssignTo(TPersistent* Dest) override;
  // "Position" as "(X,Y)".
  void DefineProperties(TFiler* Filer) override;

private:
  std::string FIdent;
  bool FEnabled = true;
  TObject* FUIElement = nullptr;
  TPointF FPosition{};
};

class TQuorvelDialogueParameterizedItem : public TQuorvelDialogueCustomItem {
  FW_CLASS(TQuorvelDialogueParameterizedItem, TQuorvelDialogueCustomItem)
public:
  explicit TQuorvelDialogueParameterizedItem(TCollection* Collection);
  ~TQuorvelDialogueParameterizedItem() override;

  TQuorvelDialogueParameters* Parameters() const { return FParameters; }
  void SetParameters(const TQuorvelDialogueParameters* AValue) { FParameters->Assign(AValue); }
  void AddParameter(const std::string& AName, const TValue& AValue) { FParameters->AddOrSetValue(AName, AValue); }
  void RemoveParameter(const std::string& AName) { FParameters->Remove(AName); }
  TValue GetParameter(const std::string& AName) const;

protected:
  void AssignTo(TPersistent* Dest) override;
  // "ParameterMap" as the map's JSON text.
  void DefineProperties(TFiler* Filer) override;

private:
  TQuorvelDialogueParameters* FParameters;
};

class TQuorvelDialogueParentItem : public TQuorvelDialogueParameterizedItem {
  FW_CLASS(TQuorvelDialogueParentItem, TQuorvelDialogueParameterizedItem)
public:
  explicit TQuorvelDialogueParentItem(TCollection* Collection);
  ~TQuorvelDialogueParentItem() override;

  TQuorvelDialogueItemCollection* Items() const { return FItems; }
  // Copies the items of AValue.
  void SetItems(TQuorvelDialogueItemCollection* AValue) { FItems->Assign(AValue); }
  TQuorvelDialogueItems GetAvailableItems() const;
  TQuorvelDialogueItem* FindItem(const std::string& AId) const;
  int FindItemIndex(const std::string& AId) const;
  void ClearItems();
  virtual void UnrefCharacter(TQuorvelDialogueCharacter* ACharacter);

protected:
  void AssignTo(TPersistent* Dest) override;
  void FreeItems();

private:
  TQuorvelDialogueItemCollection* FItems;
};

class TQuorvelDialogueItemEvent : public TQuorvelDialogueParameterizedItem {
  FW_CLASS(TQuorvelDialogueItemEvent, TQuorvelDialogueParameterizedItem)
public:
  explicit TQuorvelDialogueItemEvent(TCollection* Collection);
  ~TQuorvelDialogueItemEvent() override;

  const std::string& OwnerEvent() const { return FOwnerEvent; }
  void SetOwnerEvent(std::string AValue) { FOwnerEvent = std::move(AValue); }
  TQuorvelDialogueEventKind Kind() const { return FKind; }
  void SetKind(TQuorvelDialogueEventKind AValue) { FKind = AValue; }
  TQuorvelDialogueEventTrigger Trigger() const { return FTrigger; }
  void SetTrigger(TQuorvelDialogueEventTrigger AValue) { FTrigger = AValue; }
  const std::string& Scope() const { return FScope; }
  void SetScope(std::string AValue) { FScope = std::move(AValue); }
  TQuorvelLanguageMap* Data() const { return FData; }
  int32_t Iterations() const { return FIterations; }
  void SetIterations(int32_t AValue) { FIterations = AValue; }
  int32_t IterationCount() const { return FIterationCount; }

  TQuorvelDialogueItem* DialogueItem() const;
  std::string GetCurrentData() const;
  TObject* ResolveScope();
  TQuorvelDialogueCustomItem* Clone(TCollection* ACollection) const override;
  virtual void Execute();

protected:
  void AssignTo(TPersistent* Dest) override;
  // "DataMap" as the map's JSON text.
  void DefineProperties(TFiler* Filer) override;

private:
  std::string FOwnerEvent;
  TQuorvelDialogueEventKind FKind = TQuorvelDialogueEventKind::Misc;
  TQuorvelDialogueEventTrigger FTrigger = TQuorvelDialogueEventTrigger::OnBegin;
  std::string FScope;
  TQuorvelLanguageMap* FData;
  int32_t FIterations = 0;
  int32_t FIterationCount = 0;
};

class TQuorvelDialogueItem : public TQuorvelDialogueParentItem {
  FW_CLASS(TQuorvelDialogueItem, TQuorvelDialogueParentItem)
public:
  explicit TQuorvelDialogueItem(TCollection* Collection);
  ~TQuorvelDialogueItem() override;

  TQuorvelDialogueItemKind Kind() const { return FKind; }
  void SetKind(TQuorvelDialogueItemKind AValue) { FKind = AValue; }
  std::string GetDisplayName() const override;
  void SetDisplayName(const std::string& Value) override { FDisplayName = Value; }
  const std::string& StoredDisplayName() const { return FDisplayName; }
  const std::string& Reference() const { return FReference; }
  void SetReference(std::string AValue) { FReference = std::move(AValue); }
  int32_t DisplayTime() const { return FDisplayTime; }
  void SetDisplayTime(int32_t AValue) { FDisplayTime = AValue; }
  TQuorvelLanguageMap* Text() const { return FText; }
  TQuorvelDialogueItemEventCollection* Events() const { return FEvents; }
  const std::string& Character() const { return FCharacter; }
  void SetCharacter(const std::string& AValue);
  TQuorvelDialogueCharacter* CharacterRef();
  void SetCharacterRef(TQuorvelDialogueCharacter* AValue);
  bool Started() const { return FStarted; }
  // Made on first use: most items never time out, and every timer weighs on the timer service.
  TTimer* ExecTimer() const;

  TPersistent* Parent() const;
  TQuorvelDialogue* Dialogue() const;
  std::vector<TQuorvelDialogueItemEvent*> GetAvailableEvents(TQuorvelDialogueEventTrigger ATrigger) const;
  TQuorvelDialogueItemEvent* FindEventById(const std::string& AId) const;
  std::string GetCurrentText() const;
  TQuorvelDialogueCustomItem* Clone(TCollection* ACollection) const override;

  virtual void Start();
  virtual void Stop(bool ADeep);
  virtual void StopItems(TQuorvelDialogueItemKind AKind);
  virtual void StopEvents();
  bool TimerRunning() const;

protected:
  void AssignTo(TPersistent* Dest) override;
  // "TextMap" as the map's JSON text.
  void DefineProperties(TFiler* Filer) override;
  void DoTimeout(TObject* Sender);
  void ExecuteEvents(TQuorvelDialogueEventTrigger ATrigger);

private:
  void StopTimer();
  friend class TQuorvelDialogue;
  friend class TQuorvelDialogueParentItem;
  TQuorvelDialogueItemKind FKind = TQuorvelDialogueItemKind::Flow;
  std::string FDisplayName;
  std::string FReference;
  int32_t FDisplayTime = 0;
  TQuorvelLanguageMap* FText;
  TQuorvelDialogueItemEventCollection* FEvents;
  std::string FCharacter;
  TQuorvelDialogueCharacter* FCharacterRef = nullptr;
  bool FStarted = false;
  mutable TTimer* FExecTimer = nullptr;
};

class TQuorvelDialogue : public TQuorvelDialogueParentItem {
  FW_CLASS(TQuorvelDialogue, TQuorvelDialogueParentItem)
public:
  explicit TQuorvelDialogue(TCollection* Collection);
  ~TQuorvelDialogue() override;
  void BeforeDestruction() override;

  TQuorvelDialogueItem* CurrentItem() const { return FCurrentItem; }
  bool Started() const { return FStarted; }
  bool Paused() const { return FPaused; }
  const TQuorvelDialogueItems& PausedItems() const { return FPausedItems; }
  TQuorvelDialogueCharacterCollection* Characters() const { return FCharacters; }

  TQuorvelDialogueCustomItem* Clone(TCollection* ACollection) const override;
  virtual void Start();
  virtual void Stop();
  virtual void Pause();
  virtual void Skip(bool ASingleSkip);
  virtual void StartItem(TQuorvelDialogueItem* AItem);
  virtual void SelectItem(TQuorvelDialogueItem* AItem);
  TQuorvelDialogueCharacter* FindCharacterById(const std::string& AId) const;
  TQuorvelDialogueCharacter* FindCharacterByName(const std::string& AName) const;

protected:
  void AssignTo(TPersistent* Dest) override;

private:
  friend class TQuorvelDialogueItem;
  TQuorvelDialogueItem* FCurrentItem = nullptr;
  bool FStarted = false;
  bool FPaused = false;
  TQuorvelDialogueItems FPausedItems;
  TQuorvelDialogueCharacterCollection* FCharacters;
};

class TQuorvelDialogueCharacter : public TQuorvelDialogueParameterizedItem {
  FW_CLASS(TQuorvelDialogueCharacter, TQuorvelDialogueParameterizedItem)
public:
  explicit TQuorvelDialogueCharacter(TCollection* Collection);
  void BeforeDestruction() override;
  const std::string& Name() const { return FName; }
  void SetName(std::string AValue) { FName = std::move(AValue); }
  TQuorvelDialogueCustomItem* Clone(TCollection* ACollection) const override;

protected:
  void AssignTo(TPersistent* Dest) override;

private:
  std::string FName;
};

// --- the system ----------------------------------------------------------------------------

using TOnBeginDialogueItemEvent = TEvent<void(TQuorvelDialogueItemEvent* AEvent, TObject* AScope, bool& AHandled)>;
using TOnEndDialogueItemEvent = TEvent<void(TQuorvelDialogueItemEvent* AEvent, TObject* AScope)>;
using TOnBeginDialogueItem = TEvent<void(TQuorvelDialogueItem* AItem, const TQuorvelDialogueItems& AItems)>;
using TOnEndDialogueItem = TEvent<void(TQuorvelDialogueItem* AItem)>;
using TOnStartDialogue = TEvent<void(TQuorvelDialogue* ADialogue, const TQuorvelDialogueItems& AItems)>;
using TOnStopDialogue = TEvent<void(TQuorvelDialogue* ADialogue)>;
using TOnPauseDialogue = TEvent<void(TQuorvelDialogue* ADialogue)>;
using TOnSkippedDialogue = TEvent<void(TQuorvelDialogue* ADialogue, TQuorvelDialogueItem* ABeginItem, TQuorvelDialogueItem* AEndItem)>;
using TOnSkipAvailability = TEvent<void(TQuorvelDialogue* ADialogue, TQuorvelDialogueItem* AItem, bool AIsAvailable)>;
using TOnBeginItemTimeout = TEvent<void(TQuorvelDialogueItem* AItem, int ATime)>;
using TOnEndItemTimeout = TEvent<void(TQuorvelDialogueItem* AItem)>;

class TQuorvelDialogueSystem : public TComponent {
  FW_CLASS(TQuorvelDialogueSystem, TComponent)
public:
  explicit TQuorvelDialogueSystem(TComponent* AOwner);
  ~TQuorvelDialogueSystem() override;
  void BeforeDestruction() override;

  const std::string& Id() const { return FId; }
  void SetId(std::string AValue) { FId = std::move(AValue); }
  int32_t Language() const { return FLanguage; }
  void SetLanguage(int32_t AValue) { FLanguage = AValue; }
  std::string LanguageName() const;
  TQuorvelDialogueCollection* Dialogues() const { return FDialogues; }
  // Copies the dialogues of AValue.
  void SetDialogues(TQuorvelDialogueCollection* AValue) { FDialogues->Assign(AValue); }
  TQuorvelDialogueVariables* Variables() const { return FVariables; }
  // Copies the pairs of AValue; nil changes nothing.
  void SetVariables(const TQuorvelDialogueVariables* AValue) { FVariables->Assign(AValue); }

  TQuorvelDialogue* FindDialogue(const std::string& AId) const;
  void AddVariable(const std::string& AName, TObject* AObject) { FVariables->AddOrSetValue(AName, AObject); }
  void RemoveVariable(const std::string& AName) { FVariables->Remove(AName); }
  TObject* GetVariable(const std::string& AName) const;
  void ClearVariables() { FVariables->Clear(); }
  void ClearDialogues();
  void ClearAll();
  virtual void UnrefCharacter(TQuorvelDialogueCharacter* ACharacter);
  TQuorvelDialogueSystem* Clone(TComponent* AOwner) const;
  void AssignTo(TPersistent* Dest) override;
  // The dialogue file: loading adds dialogues to those present and overwrites Id and Language.
  void LoadFromStream(TStream* AStream);
  void LoadFromFile(const std::string& AFileName);
  void SaveToStream(TStream* AStream);
  void SaveToFile(const std::string& AFileName);

  TOnBeginDialogueItemEvent OnBeginDialogueItemEvent;
  TOnEndDialogueItemEvent OnEndDialogueItemEvent;
  TOnBeginDialogueItem OnBeginDialogueItem;
  TOnEndDialogueItem OnEndDialogueItem;
  TOnStartDialogue OnStartDialogue;
  TOnStopDialogue OnStopDialogue;
  TOnPauseDialogue OnPauseDialogue;
  TOnSkippedDialogue OnSkippedDialogue;
  TOnSkipAvailability OnSkipAvailability;
  TOnBeginItemTimeout OnBeginItemTimeout;
  TOnEndItemTimeout OnEndItemTimeout;

private:
  std::string FId;
  int32_t FLanguage = 0;
  TQuorvelDialogueCollection* FDialogues;
  TQuorvelDialogueVariables* FVariables;
};

}  // namespace quorvel
