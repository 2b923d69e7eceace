#pragma once
// A game's skill tree: groups of skills, each skill with a value that grows level by level
// along a curve; skills nest, and a fully levelled skill hands its activation on to its first
// sub-skill (or a given one). A level-up takes time: it is a process that a worker thread
// watches and, once elapsed, hands to the main thread, where the skill applies it.
//
// Threads: everything but the worker runs on the main thread. The worker touches only the
// process list, under the list's lock, and applies finished processes through Synchronize.
// Its sleep and the process times follow the injectable clock.
//
// Ownership: the system owns its groups and its worker (a removed group is freed at once); the
// worker owns the pending processes; groups and skills own their sub-skills and name maps.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "framework/classes/Collection.h"
#include "framework/classes/Component.h"
#include "framework/gui/Control.h"
#include "framework/math/Point.h"
#include "framework/rtl/Containers.h"
#include "framework/rtl/Enum.h"
#include "framework/rtl/Guid.h"
#include "framework/rtl/Thread.h"
#include "framework/rtl/Value.h"
#include "lib/game/GeneratedNames.h"
#include "lib/game/LanguageMap.h"

namespace quorvel {

class TStream;
class TMz_XmlElement;
class TMz_XmlDocument;
class TQuorvelSkillSystem;
class TQuorvelSkillGroup;
class TQuorvelSkill;
class TQuorvelCustomSkillEntity;

enum class TQuorvelSkillLevelInterpolation : uint8_t {
  LinearInterpolation,
  LogarithmicInterpolation,
  ExponentialInterpolation,
  ExponentialMinus1Interpolation
};
FW_ENUM(TQuorvelSkillLevelInterpolation, LinearInterpolation, LogarithmicInterpolation, ExponentialInterpolation,
        ExponentialMinus1Interpolation)

class TQuorvelCustomSkillCollection : public TOwnedCollection {
  FW_CLASS(TQuorvelCustomSkillCollection, TOwnedCollection)
public:
  using TOwnedCollection::TOwnedCollection;
  virtual TQuorvelSkillSystem* SkillSystem() const = 0;
  static constexpr int MaxNestingDepth = 256;
  // Every child of ANode becomes a new item (the collection is not cleared). Nesting deeper
  // than MaxNestingDepth raises.
  virtual void FromXml(TMz_XmlElement* ANode);
  // Creates the container ATagName under AParent, writes the items into it, answers it.
  virtual TMz_XmlElement* ToXml(const std::string& ATagName, TMz_XmlElement* AParent);
  // APrefix and a number below 10000 that no item's name in the current language is.
  std::string FreeName(const std::string& APrefix);
  // AItem's name map changed.
  void NameChanged(TQuorvelCustomSkillEntity* AItem);

protected:
  void Notify(TCollectionItem* Item, TCollectionNotification Action) override;

private:
  // The items' names in FNamesLanguage, made on the first name drawn (again when the language
  // changed since) and kept current as items join, leave and change their names.
  TSiblingNames FNames;
  std::string FNamesLanguage;
  bool FNamesKept = false;
};

class TQuorvelSkillGroupCollection : public TQuorvelCustomSkillCollection {
  FW_CLASS(TQuorvelSkillGroupCollection, TQuorvelCustomSkillCollection)
public:
  explicit TQuorvelSkillGroupCollection(TQuorvelSkillSystem* AOwner);
  TQuorvelSkillSystem* SkillSystem() const override;
  TQuorvelSkillGroup* Items(int AIndex) const;
};

class TQuorvelSkillCollection : public TQuorvelCustomSkillCollection {
  FW_CLASS(TQuorvelSkillCollection, TQuorvelCustomSkillCollection)
public:
  explicit TQuorvelSkillCollection(TQuorvelSkillGroup* AOwner);
  TQuorvelSkillSystem* SkillSystem() const override;
  virtual TQuorvelSkillGroup* Group() const;
  TQuorvelSkill* Items(int AIndex) const;
};

class TQuorvelCustomSkillEntity : public TCollectionItem {
  FW_CLASS(TQuorvelCustomSkillEntity, TCollectionItem)
public:
  explicit TQuorvelCustomSkillEntity(TCollection* Collection);
  ~TQuorvelCustomSkillEntity() override;

  const TGUID& GUID() const { return FGUID; }
  void SetGUID(const TGUID& AValue) { FGUID = AValue; }
  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool AValue) { FEnabled = AValue; }
  TQuorvelLanguageMap* NameMap() const { return FName; }
  int32_t Icon() const { return FIcon; }
  void SetIcon(int32_t AValue) { FIcon = AValue; }
  TPointF Position() const { return FPosition->GetPoint(); }
  void SetPosition(TPointF AValue) { FPosition->SetPoint(AValue); }
  // The position as forms read and write it ("Position.X"); setting it copies the point.
  TPosition* PositionObject() const { return FPosition.get(); }
  void SetPositionObject(TPosition* AValue) { FPosition->Assign(AValue); }
  // The name in the skill system's current language.
  virtual std::string GetName() const;
  virtual void SetName(const std::string& AValue);
  virtual std::string GetNames(const std::string& AIndex) const;
  // An empty value removes the entry.
  virtual void SetNames(const std::string& AIndex, const std::string& AValue);
  virtual TQuorvelSkillSystem* GetSkillSystem() const;
  // The class name; not stored, and setting it has no effect.
  std::string GetDisplayName() const override { return ClassName(); }
  void SetDisplayName(const std::string&) override {}
  virtual std::string GetIdentifier() const = 0;
  virtual void ReadXmlChild(TMz_XmlElement* ANode);
  virtual void FromXml(TMz_XmlElement* ANode);
  virtual TMz_XmlElement* ToXml(TMz_XmlElement* AParent);

protected:
  void AssignTo(TPersistent* Dest) override;
  // Prefix and a number below 10000, drawn again while a sibling has that name.
  void SetGeneratedName(const std::string& APrefix);

private:
  TGUID FGUID;
  bool FEnabled = true;
  TQuorvelLanguageMap* FName;
  int32_t FIcon = -1;
  TOwned<TPosition> FPosition;
};

class TQuorvelSkillGroup : public TQuorvelCustomSkillEntity {
  FW_CLASS(TQuorvelSkillGroup, TQuorvelCustomSkillEntity)
public:
  explicit TQuorvelSkillGroup(TCollection* Collection);
  ~TQuorvelSkillGroup() override;
  void AfterConstruction() override;

  TQuorvelSkillCollection* Skills() const { return FSkills; }
  // Copies the skills of AValue.
  void SetSkills(TQuorvelSkillCollection* AValue) { FSkills->Assign(AValue); }
  virtual TQuorvelSkill* AddSkill();
  // Among the skills directly in Skills, by their name in the current language.
  virtual TQuorvelSkill* FindSkillByName(const std::string& ASkillName) const;
  // Directly in Skills only.
  virtual TQuorvelSkill* FindSkillByGUID(const TGUID& AGUID) const;
  // The activated skills directly in Skills under their current names (add or replace).
  virtual void GetActivatedSkills(TDictionary<std::string, TQuorvelSkill*>& AMap) const;
  std::string GetIdentifier() const override { return "group"; }
  void ReadXmlChild(TMz_XmlElement* ANode) override;
  TMz_XmlElement* ToXml(TMz_XmlElement* AParent) override;

protected:
  void AssignTo(TPersistent* Dest) override;
  void FreeSkills();

private:
  TQuorvelSkillCollection* FSkills;
};

class TQuorvelSkillProcess;

class TQuorvelSkill : public TQuorvelSkillGroup {
  FW_CLASS(TQuorvelSkill, TQuorvelSkillGroup)
public:
  explicit TQuorvelSkill(TCollection* Collection);
  void AfterConstruction() override;
  void BeforeDestruction() override;

  bool Activated() const { return FActivated; }
  void SetActivated(bool AValue) { FActivated = AValue; }
  float Value() const { return FValue; }
  void SetValue(float AValue) { FValue = AValue; }
  float Factor() const { return FFactor; }
  void SetFactor(float AValue) { FFactor = AValue; }
  TQuorvelSkillLevelInterpolation Interpolation() const { return FInterpolation; }
  void SetInterpolation(TQuorvelSkillLevelInterpolation AValue) { FInterpolation = AValue; }
  int32_t Level() const { return FLevel; }
  void SetLevel(int32_t AValue) { FLevel = AValue; }
  int32_t MaxLevel() const { return FMaxLevel; }
  void SetMaxLevel(int32_t AValue) { FMaxLevel = AValue; }
  int32_t LevelingTime() const { return FLevelingTime; }
  void SetLevelingTime(int32_t AValue) { FLevelingTime = AValue; }
  const TValue& Data() const { return FData; }
  void SetData(const TValue& AValue) { FData = AValue; }

  virtual TQuorvelSkillGroup* GetGroup() const;
  bool CanAdvanceTo(const TQuorvelSkill* ADest) const;
  // Answers whether the activation was handed on.
  virtual bool ApplyLevel(int32_t ALevel, float AValue, TQuorvelSkill* ADest);
  virtual void FinishLeveling(TQuorvelSkillProcess* AProcess);
  // The logarithmic curve keeps AValue where Level x Factor has no logarithm.
  virtual float CalcNextValue(int32_t ALevel, float AValue, float AFactor) const;
  // Towards the first sub-skill; nil when the activation passed on at once.
  virtual TQuorvelSkillProcess* StartLevelingUp();
  virtual TQuorvelSkillProcess* StartLevelingUp(TQuorvelSkill* ADest);
  std::string GetIdentifier() const override { return "skill"; }
  void ReadXmlChild(TMz_XmlElement* ANode) override;
  TMz_XmlElement* ToXml(TMz_XmlElement* AParent) override;

protected:
  void AssignTo(TPersistent* Dest) override;

private:
  bool FActivated = false;
  float FValue = 1.0f;
  float FFactor = 1.0f;
  TQuorvelSkillLevelInterpolation FInterpolation = TQuorvelSkillLevelInterpolation::LinearInterpolation;
  int32_t FLevel = 0;
  int32_t FMaxLevel = 0;
  int32_t FLevelingTime = 1000;
  TValue FData;
};

// One pending level-up.
class TQuorvelSkillProcess : public TObject {
public:
  TQuorvelSkillProcess(TQuorvelSkill* ASkill, TQuorvelSkill* ADestination, int32_t ATotalTime, int32_t AToLevel,
                       float ANewValue);
  TQuorvelSkill* Skill() const { return FSkill; }
  TQuorvelSkill* Destination() const { return FDestination; }
  int32_t ToLevel() const { return FToLevel; }
  float NewValue() const { return FNewValue; }
  int64_t StartTime() const { return FStartTime; }
  int32_t TotalTime() const { return FTotalTime; }
  // Started is a flag of its own: a start time of 0 (or any value) does not decide it.
  bool IsStarted() const { return FStarted; }
  bool IsElapsed() const;
  // Records the clock's millisecond count once.
  virtual void Start();
  // For a process read back from a file: started at AStartTime.
  void Restore(bool AStarted, int64_t AStartTime);
  // Skills are found by GUID at any depth; an element without "skill" leaves the process
  // without one (the caller skips it).
  virtual void FromXml(TQuorvelSkillSystem* ASkillSystem, TMz_XmlElement* ANode);
  // "progress" is the time elapsed, 0 for a process not started yet.
  virtual TMz_XmlElement* ToXml(TMz_XmlElement* AParent) const;

private:
  friend class TQuorvelSkillProcessThread;
  TQuorvelSkill* FSkill;
  TQuorvelSkill* FDestination;
  int32_t FToLevel;
  float FNewValue;
  int64_t FStartTime = 0;
  int32_t FTotalTime;
  bool FStarted = false;
  // Set on the main thread when a skill it names goes while it waits for the hand-off.
  std::atomic<bool> FCancelled{false};
};

// The leveling worker: starts processes and hands elapsed ones to the main thread.
class TQuorvelSkillProcessThread : public TThread {
public:
  static constexpr int32_t PassInterval = 500;  // milliseconds between passes

  explicit TQuorvelSkillProcessThread(bool ASuspended);
  ~TQuorvelSkillProcessThread() override;
  // Takes ownership.
  virtual void AddProcess(TQuorvelSkillProcess* AProcess);
  virtual void ClearProcesses();
  // Frees every pending process naming the skill, as skill or destination; one already taken
  // out for the hand-off is cancelled.
  void CancelSkill(const TQuorvelSkill* ASkill);
  // A snapshot of the pending processes (the list keeps them).
  std::vector<TQuorvelSkillProcess*> LockedProcesses(std::unique_lock<std::mutex>& ALock);
  int ProcessCount();

protected:
  void Execute() override;

private:
  std::mutex FLock;
  std::vector<TOwned<TQuorvelSkillProcess>> FProcesses;
  std::vector<TQuorvelSkillProcess*> FHandingOver;
};

class TQuorvelSkillSystem : public TComponent {
  FW_CLASS(TQuorvelSkillSystem, TComponent)
public:
  explicit TQuorvelSkillSystem(TComponent* AOwner);
  ~TQuorvelSkillSystem() override;
  void AfterConstruction() override;
  void BeforeDestruction() override;

  int32_t Language() const { return FLanguage; }
  void SetLanguage(int32_t AValue) { FLanguage = AValue; }
  TQuorvelSkillGroupCollection* Groups() const { return FGroups; }
  // Copies the groups of AValue.
  void SetGroups(TQuorvelSkillGroupCollection* AValue) { FGroups->Assign(AValue); }
  TPointF Position() const { return FPosition; }
  void SetPosition(TPointF AValue) { FPosition = AValue; }
  TQuorvelSkillProcessThread* Leveling() const { return FLeveling; }

  virtual std::string GetCurrentLanguageId() const;
  virtual TQuorvelSkillGroup* AddGroup();
  // Cancels the pending level-ups of the group's skills (at any depth), takes the group out
  // and frees it.
  virtual void RemoveGroup(TQuorvelSkillGroup* AGroup);
  virtual TQuorvelSkill* FindSkillByGUID(const TGUID& AGUID) const;
  // At any depth (for the processes of a file).
  TQuorvelSkill* FindNestedSkillByGUID(const TGUID& AGUID) const;

  virtual void SaveToStream(TStream* AStream);
  // Adds the document's groups and processes to those present.
  virtual void LoadFromStream(TStream* AStream);
  // A failed save keeps the old file: it is replaced only once the whole text is made.
  virtual void SaveToFile(const std::string& AFilename);
  // A missing file is left alone.
  virtual void LoadFromFile(const std::string& AFilename);

private:
  // The system's file as a document (the caller frees it).
  TMz_XmlDocument* BuildDocument();

  int32_t FLanguage = 0;
  TQuorvelSkillGroupCollection* FGroups;
  TPointF FPosition{};
  TQuorvelSkillProcessThread* FLeveling = nullptr;
};

}  // namespace quorvel
