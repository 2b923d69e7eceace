#include "lib/game/SkillSystem.h"

#include <algorithm>
#include <cmath>

#include "framework/rtl/Finally.h"
#include "framework/rtl/Random.h"
#include "lib/game/GeneratedNames.h"

namespace quorvel {

FW_CLASS_IMPL(TQuorvelCustomSkillCollection, "Quorvel.Utils.SkillSystem")
FW_CLASS_NO_MEMBERS(TQuorvelCustomSkillCollection)
FW_CLASS_IMPL(TQuorvelSkillGroupCollection, "Quorvel.Utils.SkillSystem")
FW_CLASS_NO_MEMBERS(TQuorvelSkillGroupCollection)
FW_CLASS_IMPL(TQuorvelSkillCollection, "Quorvel.Utils.SkillSystem")
FW_CLASS_NO_MEMBERS(TQuorvelSkillCollection)
FW_CLASS_IMPL(TQuorvelCustomSkillEntity, "Quorvel.Utils.SkillSystem")
FW_CLASS_IMPL(TQuorvelSkillGroup, "Quorvel.Utils.SkillSystem")
FW_CLASS_IMPL(TQuorvelSkill, "Quorvel.Utils.SkillSystem")
FW_CLASS_IMPL(TQuorvelSkillSystem, "Quorvel.Utils.SkillSystem")

void TQuorvelCustomSkillEntity::Register(ClassBuilder<TQuorvelCustomSkillEntity>& b) {
  b.Prop("Enabled", &Self::Enabled, &Self::SetEnabled)
      .Prop("Icon", &Self::Icon, &Self::SetIcon)
      .Prop("Position", &Self::PositionObject, &Self::SetPositionObject);
}
void TQuorvelSkillGroup::Register(ClassBuilder<TQuorvelSkillGroup>& b) {
  b.Prop("Skills", &Self::Skills, &Self::SetSkills);
}
void TQuorvelSkill::Register(ClassBuilder<TQuorvelSkill>& b) {
  b.Prop("Activated", &Self::Activated, &Self::SetActivated)
      .Prop("Value", &Self::Value, &Self::SetValue)
      .Prop("Factor", &Self::Factor, &Self::SetFactor)
      .Prop("Interpolation", &Self::Interpolation, &Self::SetInterpolation)
      .Prop("Level", &Self::Level, &Self::SetLevel)
      .Prop("MaxLevel", &Self::MaxLevel, &Self::SetMaxLevel)
      .Prop("LevelingTime", &Self::LevelingTime, &Self::SetLevelingTime)
      .Prop("Data", &Self::Data, &Self::SetData);
}
void TQuorvelSkillSystem::Register(ClassBuilder<TQuorvelSkillSystem>& b) {
  b.Prop("Language", &Self::Language, &Self::SetLanguage).Prop("Groups", &Self::Groups, &Self::SetGroups);
}

// --- collections ---------------------------------------------------------------------------

std::string TQuorvelCustomSkillCollection::FreeName(const std::string& APrefix) {
  TQuorvelSkillSystem* system = SkillSystem();
  const std::string language = system ? system->GetCurrentLanguageId() : LanguageIdToCode(0);
  if (!FNamesKept || language != FNamesLanguage) {
    FNames.Clear();
    for (TCollectionItem* item : ItemList())
      if (auto* entity = dynamic_cast<TQuorvelCustomSkillEntity*>(item)) FNames.Set(item, entity->GetNames(language));
    FNamesLanguage = language;
    FNamesKept = true;
  }
  return FNames.Generate(APrefix, 10000);
}

void TQuorvelCustomSkillCollection::NameChanged(TQuorvelCustomSkillEntity* AItem) {
  if (FNamesKept) FNames.Set(static_cast<TCollectionItem*>(AItem), AItem->GetNames(FNamesLanguage));
}

void TQuorvelCustomSkillCollection::Notify(TCollectionItem* Item, TCollectionNotification Action) {
  TOwnedCollection::Notify(Item, Action);
  if (Action == cnAdded) {
    if (auto* entity = dynamic_cast<TQuorvelCustomSkillEntity*>(Item)) NameChanged(entity);
  } else if (Action == cnExtracting) {
    FNames.Forget(Item);
  }
}

TQuorvelSkillGroupCollection::TQuorvelSkillGroupCollection(TQuorvelSkillSystem* AOwner)
    : TQuorvelCustomSkillCollection(AOwner, TQuorvelSkillGroup::StaticClass()) {}

TQuorvelSkillSystem* TQuorvelSkillGroupCollection::SkillSystem() const {
  return dynamic_cast<TQuorvelSkillSystem*>(GetOwner());
}

TQuorvelSkillGroup* TQuorvelSkillGroupCollection::Items(int AIndex) const {
  return static_cast<TQuorvelSkillGroup*>(GetItem(AIndex));
}

TQuorvelSkillCollection::TQuorvelSkillCollection(TQuorvelSkillGroup* AOwner)
    : TQuorvelCustomSkillCollection(AOwner, TQuorvelSkill::StaticClass()) {}

TQuorvelSkillGroup* TQuorvelSkillCollection::Group() const { return dynamic_cast<TQuorvelSkillGroup*>(GetOwner()); }

TQuorvelSkillSystem* TQuorvelSkillCollection::SkillSystem() const {
  TQuorvelSkillGroup* group = Group();
  return group ? group->GetSkillSystem() : nullptr;
}

TQuorvelSkill* TQuorvelSkillCollection::Items(int AIndex) const { return static_cast<TQuorvelSkill*>(GetItem(AIndex)); }

// --- entity --------------------------------------------------------------------------------

TQuorvelCustomSkillEntity::TQuorvelCustomSkillEntity(TCollection* Collection)
    : TCollectionItem(Collection), FGUID(TGUID::NewGuid()), FName(New<TQuorvelLanguageMap>()), FPosition(New<TPosition>()) {
  FName->OnChanged = [this] {
    if (auto* collection = dynamic_cast<TQuorvelCustomSkillCollection*>(GetCollection())) collection->NameChanged(this);
  };
}

TQuorvelCustomSkillEntity::~TQuorvelCustomSkillEntity() {
  FName->OnChanged = nullptr;
  FreeQuietly(FName, "skill name");
}

TQuorvelSkillSystem* TQuorvelCustomSkillEntity::GetSkillSystem() const {
  auto* collection = dynamic_cast<TQuorvelCustomSkillCollection*>(GetCollection());
  return collection ? collection->SkillSystem() : nullptr;
}

namespace {
std::string LanguageOf(const TQuorvelCustomSkillEntity* AEntity) {
  TQuorvelSkillSystem* system = AEntity->GetSkillSystem();
  return system ? system->GetCurrentLanguageId() : LanguageIdToCode(0);
}
}  // namespace

std::string TQuorvelCustomSkillEntity::GetName() const { return GetNames(LanguageOf(this)); }

void TQuorvelCustomSkillEntity::SetName(const std::string& AValue) { SetNames(LanguageOf(this), AValue); }

std::string TQuorvelCustomSkillEntity::GetNames(const std::string& AIndex) const {
  std::string name;
  FName->TryGetValue(AIndex, name);
  return name;
}

void TQuorvelCustomSkillEntity::SetNames(const std::string& AIndex, const std::string& AValue) {
  if (AValue.empty()) FName->Remove(AIndex);
  else FName->AddOrSetValue(AIndex, AValue);
}

void TQuorvelCustomSkillEntity::SetGeneratedName(const std::string& APrefix) {
  auto* collection = dynamic_cast<TQuorvelCustomSkillCollection*>(GetCollection());
  SetNames(LanguageOf(this), collection ? collection->FreeName(APrefix) : TFreeNameFinder(APrefix, 10000).Generate());
}

void TQuorvelCustomSkillEntity::AssignTo(TPersistent* Dest) {
  auto* dest = dynamic_cast<TQuorvelCustomSkillEntity*>(Dest);
  if (!dest) {
    TCollectionItem::AssignTo(Dest);
    return;
  }
  dest->FGUID = FGUID;
  dest->FEnabled = FEnabled;
  dest->FName->Assign(FName);
  dest->FIcon = FIcon;
  dest->SetPosition(Position());
}

// --- group ---------------------------------------------------------------------------------

TQuorvelSkillGroup::TQuorvelSkillGroup(TCollection* Collection)
    : TQuorvelCustomSkillEntity(Collection), FSkills(New<TQuorvelSkillCollection>(this)) {}

TQuorvelSkillGroup::~TQuorvelSkillGroup() { FreeSkills(); }

void TQuorvelSkillGroup::FreeSkills() {
  // Cleared first, so that skills going meanwhile see no half-freed siblings.
  FreeQuietly(std::exchange(FSkills, nullptr), "skills");
}

void TQuorvelSkillGroup::AfterConstruction() {
  TQuorvelCustomSkillEntity::AfterConstruction();
  if (!dynamic_cast<TQuorvelSkill*>(this)) SetGeneratedName("Group-");
}

TQuorvelSkill* TQuorvelSkillGroup::AddSkill() { return FSkills->AddItem<TQuorvelSkill>(); }

TQuorvelSkill* TQuorvelSkillGroup::FindSkillByName(const std::string& ASkillName) const {
  if (FSkills)
    for (int i = 0; i < FSkills->Count(); ++i)
      if (FSkills->Items(i)->GetName() == ASkillName) return FSkills->Items(i);
  return nullptr;
}

TQuorvelSkill* TQuorvelSkillGroup::FindSkillByGUID(const TGUID& AGUID) const {
  if (FSkills)
    for (int i = 0; i < FSkills->Count(); ++i)
      if (FSkills->Items(i)->GUID() == AGUID) return FSkills->Items(i);
  return nullptr;
}

void TQuorvelSkillGroup::GetActivatedSkills(TDictionary<std::string, TQuorvelSkill*>& AMap) const {
  if (FSkills)
    for (int i = 0; i < FSkills->Count(); ++i)
      if (TQuorvelSkill* s = FSkills->Items(i); s->Activated()) AMap.AddOrSetValue(s->GetName(), s);
}

void TQuorvelSkillGroup::AssignTo(TPersistent* Dest) {
  TQuorvelCustomSkillEntity::AssignTo(Dest);
  auto* dest = dynamic_cast<TQuorvelSkillGroup*>(Dest);
  if (!dest || !FSkills) return;
  dest->FSkills->Clear();
  for (int i = 0; i < FSkills->Count(); ++i) dest->AddSkill()->Assign(FSkills->Items(i));
}

// --- skill ---------------------------------------------------------------------------------

TQuorvelSkill::TQuorvelSkill(TCollection* Collection) : TQuorvelSkillGroup(Collection) {}

void TQuorvelSkill::AfterConstruction() {
  TQuorvelSkillGroup::AfterConstruction();
  SetGeneratedName("Skill-");
}

void TQuorvelSkill::BeforeDestruction() {
  // No pending level-up may reach this skill once it is gone.
  if (TQuorvelSkillSystem* system = GetSkillSystem())
    if (system->Leveling()) system->Leveling()->CancelSkill(this);
  TQuorvelSkillGroup::BeforeDestruction();
}

TQuorvelSkillGroup* TQuorvelSkill::GetGroup() const {
  auto* collection = dynamic_cast<TQuorvelSkillCollection*>(GetCollection());
  return collection ? collection->Group() : nullptr;
}

bool TQuorvelSkill::CanAdvanceTo(const TQuorvelSkill* ADest) const {
  return (FMaxLevel == 0 || (FMaxLevel > 0 && FLevel >= FMaxLevel)) && ADest && ADest->Enabled();
}

bool TQuorvelSkill::ApplyLevel(int32_t ALevel, float AValue, TQuorvelSkill* ADest) {
  FValue = AValue;
  FLevel = ALevel;
  if (!CanAdvanceTo(ADest)) return false;
  FActivated = false;
  ADest->FActivated = true;
  return true;
}

void TQuorvelSkill::FinishLeveling(TQuorvelSkillProcess* AProcess) {
  ApplyLevel(AProcess->ToLevel(), AProcess->NewValue(), AProcess->Destination());
}

float TQuorvelSkill::CalcNextValue(int32_t ALevel, float AValue, float AFactor) const {
  const double x = double(ALevel) * double(AFactor);
  switch (FInterpolation) {
    case TQuorvelSkillLevelInterpolation::LogarithmicInterpolation:
      return x > 0 ? float(std::log2(x)) : AValue;
    case TQuorvelSkillLevelInterpolation::ExponentialInterpolation:
      return float(std::exp(x));
    case TQuorvelSkillLevelInterpolation::ExponentialMinus1Interpolation:
      return float(std::exp(x) - 1);
    default:
      return float(double(AValue) + x);
  }
}

TQuorvelSkillProcess* TQuorvelSkill::StartLevelingUp() {
  return StartLevelingUp(Skills() && Skills()->Count() > 0 ? Skills()->Items(0) : nullptr);
}

TQuorvelSkillProcess* TQuorvelSkill::StartLevelingUp(TQuorvelSkill* ADest) {
  if (CanAdvanceTo(ADest)) {
    ApplyLevel(FLevel, FValue, ADest);
    return nullptr;
  }
  TQuorvelSkillSystem* system = GetSkillSystem();
  if (!system || !system->Leveling()) return nullptr;
  auto* process =
      New<TQuorvelSkillProcess>(this, ADest, FLevelingTime, FLevel + 1, CalcNextValue(FLevel, FValue, FFactor));
  system->Leveling()->AddProcess(process);
  return process;
}

void TQuorvelSkill::AssignTo(TPersistent* Dest) {
  TQuorvelSkillGroup::AssignTo(Dest);
  auto* dest = dynamic_cast<TQuorvelSkill*>(Dest);
  if (!dest) return;
  dest->FActivated = FActivated;
  dest->FValue = FValue;
  dest->FFactor = FFactor;
  dest->FInterpolation = FInterpolation;
  dest->FLevel = FLevel;
  dest->FMaxLevel = FMaxLevel;
  dest->FLevelingTime = FLevelingTime;
  dest->FData = FData;
}

// --- process -------------------------------------------------------------------------------

TQuorvelSkillProcess::TQuorvelSkillProcess(TQuorvelSkill* ASkill, TQuorvelSkill* ADestination, int32_t ATotalTime,
                                           int32_t AToLevel, float ANewValue)
    : FSkill(ASkill), FDestination(ADestination), FToLevel(AToLevel), FNewValue(ANewValue), FTotalTime(ATotalTime) {}

void TQuorvelSkillProcess::Start() {
  if (FStarted) return;
  FStarted = true;
  FStartTime = int64_t(TThread::GetTickCount64());
}

void TQuorvelSkillProcess::Restore(bool AStarted, int64_t AStartTime) {
  FStarted = AStarted;
  FStartTime = AStarted ? AStartTime : 0;
}

bool TQuorvelSkillProcess::IsElapsed() const {
  return FStarted && int64_t(TThread::GetTickCount64()) - FStartTime >= FTotalTime;
}

// --- worker --------------------------------------------------------------------------------

TQuorvelSkillProcessThread::TQuorvelSkillProcessThread(bool ASuspended) : TThread(ASuspended) {}

TQuorvelSkillProcessThread::~TQuorvelSkillProcessThread() = default;

void TQuorvelSkillProcessThread::AddProcess(TQuorvelSkillProcess* AProcess) {
  TOwned<TQuorvelSkillProcess> owned(AProcess);
  std::lock_guard lock(FLock);
  FProcesses.push_back(std::move(owned));
}

void TQuorvelSkillProcessThread::ClearProcesses() {
  std::vector<TOwned<TQuorvelSkillProcess>> gone;
  std::lock_guard lock(FLock);
  gone.swap(FProcesses);
}

void TQuorvelSkillProcessThread::CancelSkill(const TQuorvelSkill* ASkill) {
  std::vector<TOwned<TQuorvelSkillProcess>> gone;
  std::lock_guard lock(FLock);
  for (auto it = FProcesses.begin(); it != FProcesses.end();) {
    if ((*it)->FSkill == ASkill || (*it)->FDestination == ASkill) {
      gone.push_back(std::move(*it));
      it = FProcesses.erase(it);
    } else {
      ++it;
    }
  }
  for (TQuorvelSkillProcess* p : FHandingOver)
    if (p->FSkill == ASkill || p->FDestination == ASkill) p->FCancelled = true;
}

std::vector<TQuorvelSkillProcess*> TQuorvelSkillProcessThread::LockedProcesses(std::unique_lock<std::mutex>& ALock) {
  ALock = std::unique_lock(FLock);
  std::vector<TQuorvelSkillProcess*> result;
  for (const auto& p : FProcesses) result.push_back(p.get());
  return result;
}

int TQuorvelSkillProcessThread::ProcessCount() {
  std::lock_guard lock(FLock);
  return static_cast<int>(FProcesses.size());
}

void TQuorvelSkillProcessThread::Execute() {
  while (!GetTerminated()) {
    std::vector<TOwned<TQuorvelSkillProcess>> elapsed;
    {
      std::lock_guard lock(FLock);
      for (auto it = FProcesses.begin(); it != FProcesses.end();) {
        if (!(*it)->IsStarted()) {
          (*it)->Start();
        } else if ((*it)->IsElapsed()) {
          FHandingOver.push_back(it->get());
          elapsed.push_back(std::move(*it));
          it = FProcesses.erase(it);
          continue;
        }
        ++it;
      }
    }
    for (auto& process : elapsed) {
      TQuorvelSkillProcess* p = process.get();
      // The main thread checks the flag itself: a skill freed meanwhile cancelled the process.
      Synchronize(this, [p] {
        if (!p->FCancelled && p->Skill()) p->Skill()->FinishLeveling(p);
      });
      std::lock_guard lock(FLock);
      std::erase(FHandingOver, p);
    }
    elapsed.clear();
    if (GetTerminated()) break;
    Sleep(PassInterval);
  }
}

// --- system --------------------------------------------------------------------------------

TQuorvelSkillSystem::TQuorvelSkillSystem(TComponent* AOwner)
    : TComponent(AOwner), FGroups(New<TQuorvelSkillGroupCollection>(this)) {}

void TQuorvelSkillSystem::AfterConstruction() {
  TComponent::AfterConstruction();
  // A name no component of the owner has; names compare without case, the digits have none.
  const std::string prefix = "SkillSystem_";
  TFreeNameFinder finder(prefix, 10000);
  if (Owner())
    for (int i = 0; i < Owner()->GetComponentCount(); ++i)
      if (const std::string& name = Owner()->GetComponents(i)->GetName();
          name.size() > prefix.size() && SameText(std::string_view(name).substr(0, prefix.size()), prefix))
        finder.Take(prefix + name.substr(prefix.size()));
  SetName(finder.Generate());
  FLeveling = New<TQuorvelSkillProcessThread>(false);
}

void TQuorvelSkillSystem::BeforeDestruction() {
  TComponent::BeforeDestruction();
  // Waiting drains the main queue, so a worker inside Synchronize finishes its pass.
  if (FLeveling) {
    FLeveling->Terminate();
    FLeveling->WaitFor();
  }
  FreeQuietlyAndNil(FLeveling, "leveling worker");
}

TQuorvelSkillSystem::~TQuorvelSkillSystem() {
  FreeQuietly(FLeveling, "leveling worker");
  FreeQuietly(FGroups, "skill groups");
}

std::string TQuorvelSkillSystem::GetCurrentLanguageId() const { return LanguageIdToCode(FLanguage); }

TQuorvelSkillGroup* TQuorvelSkillSystem::AddGroup() { return FGroups->AddItem<TQuorvelSkillGroup>(); }

void TQuorvelSkillSystem::RemoveGroup(TQuorvelSkillGroup* AGroup) {
  if (!AGroup || AGroup->GetCollection() != FGroups) return;
  // Pending level-ups of its skills would reach freed skills, and a save would name skills the
  // file no longer holds.
  if (FLeveling) {
    std::vector<TQuorvelSkillCollection*> work{AGroup->Skills()};
    while (!work.empty()) {
      TQuorvelSkillCollection* skills = work.back();
      work.pop_back();
      if (!skills) continue;
      for (int i = 0; i < skills->Count(); ++i) {
        FLeveling->CancelSkill(skills->Items(i));
        work.push_back(skills->Items(i)->Skills());
      }
    }
  }
  AGroup->SetCollection(nullptr);
  Free(AGroup);
}

TQuorvelSkill* TQuorvelSkillSystem::FindSkillByGUID(const TGUID& AGUID) const {
  for (int i = 0; i < FGroups->Count(); ++i)
    if (TQuorvelSkill* found = FGroups->Items(i)->FindSkillByGUID(AGUID)) return found;
  return nullptr;
}

}  // namespace quorvel
