// The skill system's XML file.
#include "framework/io/Path.h"
#include "framework/io/Stream.h"
#include "framework/rtl/SysUtils.h"
#include "lib/game/GameText.h"
#include "lib/game/SkillSystem.h"
#include "lib/game/XmlDocument.h"

namespace quorvel {

namespace {

TMz_XmlElement* Element(TMz_XmlElement* AParent, const std::string& AName) {
  return New<TMz_XmlElement>(AParent->document(), AParent, std::string(), AName);
}

std::string PositionText(TPointF AValue) {
  return Mz_SingleToStr(AValue.X, EnUs()) + ";" + Mz_SingleToStr(AValue.Y, EnUs());
}

int32_t IntOf(const TValue& AValue) {
  if (AValue.Kind() == tkInteger) return AValue.AsInteger();
  if (AValue.Kind() == tkInt64) return int32_t(AValue.AsInt64());
  if (AValue.Kind() == tkFloat) return int32_t(AValue.AsExtended());
  return 0;
}

float FloatOf(const TValue& AValue) {
  if (AValue.Kind() == tkFloat) return float(AValue.AsExtended());
  if (AValue.Kind() == tkInteger) return float(AValue.AsInteger());
  return 0;
}

TQuorvelSkill* NestedByGUID(const TQuorvelSkillCollection* ASkills, const TGUID& AGUID) {
  if (!ASkills) return nullptr;
  for (int i = 0; i < ASkills->Count(); ++i) {
    TQuorvelSkill* skill = ASkills->Items(i);
    if (skill->GUID() == AGUID) return skill;
    if (TQuorvelSkill* found = NestedByGUID(skill->Skills(), AGUID)) return found;
  }
  return nullptr;
}

}  // namespace

// --- collections ---------------------------------------------------------------------------

void TQuorvelCustomSkillCollection::FromXml(TMz_XmlElement* ANode) {
  // Skills nest by recursion here and in the model: deeper files are refused.
  static thread_local int depth = 0;
  if (depth >= MaxNestingDepth) throw Exception("skills nested too deeply");
  ++depth;
  struct TLeave {
    ~TLeave() { --depth; }
  } leave;
  if (!ANode->nodes()) return;
  for (TMz_XmlElement* child : *ANode->nodes()) static_cast<TQuorvelCustomSkillEntity*>(Add())->FromXml(child);
}

TMz_XmlElement* TQuorvelCustomSkillCollection::ToXml(const std::string& ATagName, TMz_XmlElement* AParent) {
  TMz_XmlElement* node = Element(AParent, ATagName);
  for (TCollectionItem* item : ItemList()) static_cast<TQuorvelCustomSkillEntity*>(item)->ToXml(node);
  return node;
}

// --- entities ------------------------------------------------------------------------------

void TQuorvelCustomSkillEntity::ReadXmlChild(TMz_XmlElement* ANode) {
  if (ANode->name() == "name") FName->FromXml(ANode);
}

void TQuorvelCustomSkillEntity::FromXml(TMz_XmlElement* ANode) {
  if (HasAttribute(ANode, "guid")) FGUID = TGUID::Create(ANode->attribute_raw("guid"));
  if (HasAttribute(ANode, "id")) SetDisplayName(ANode->attribute_raw("id"));
  if (HasAttribute(ANode, "enabled")) FEnabled = SameText(ANode->attribute_raw("enabled"), "true");
  if (HasAttribute(ANode, "icon")) {
    int32_t icon = 0;
    if (TryStrToInt(Trim(ANode->attribute_raw("icon")), icon)) FIcon = icon;
  }
  if (HasAttribute(ANode, "position")) SetPosition(ParsePosition(ANode->attribute_raw("position")));
  if (ANode->nodes())
    for (TMz_XmlElement* child : *ANode->nodes()) ReadXmlChild(child);
}

TMz_XmlElement* TQuorvelCustomSkillEntity::ToXml(TMz_XmlElement* AParent) {
  TMz_XmlElement* node = Element(AParent, GetIdentifier());
  node->setAttribute_raw("guid", FGUID.ToString());
  node->setAttribute_raw("id", GetDisplayName());
  node->addAttribute("enabled", FEnabled);
  node->addAttribute("icon", FIcon);
  node->setAttribute_raw("position", PositionText(Position()));
  FName->ToXml("name", true, node);
  return node;
}

void TQuorvelSkillGroup::ReadXmlChild(TMz_XmlElement* ANode) {
  if (ANode->name() == "skills") FSkills->FromXml(ANode);
  else TQuorvelCustomSkillEntity::ReadXmlChild(ANode);
}

TMz_XmlElement* TQuorvelSkillGroup::ToXml(TMz_XmlElement* AParent) {
  TMz_XmlElement* node = TQuorvelCustomSkillEntity::ToXml(AParent);
  FSkills->ToXml("skills", node);
  return node;
}

void TQuorvelSkill::ReadXmlChild(TMz_XmlElement* ANode) {
  const std::string name = LowerCase(ANode->name());
  if (name == "activated") {
    FActivated = SameText(Trim(ANode->getRawValue()), "true");
  } else if (name == "value") {
    FValue = FloatOf(ANode->value());
  } else if (name == "factor") {
    FFactor = FloatOf(ANode->value());
  } else if (name == "interpolation") {
    const std::string text = ANode->getRawValue();
    static const char* const Names[] = {"LinearInterpolation", "LogarithmicInterpolation", "ExponentialInterpolation",
                                        "ExponentialMinus1Interpolation"};
    FInterpolation = TQuorvelSkillLevelInterpolation(0xFF);  // names none: behaves as linear
    for (int i = 0; i < 4; ++i)
      if (SameText(text, Names[i])) FInterpolation = TQuorvelSkillLevelInterpolation(i);
  } else if (name == "level") {
    FLevel = IntOf(ANode->value());
  } else if (name == "max-level") {
    FMaxLevel = IntOf(ANode->value());
  } else if (name == "leveling-time") {
    FLevelingTime = IntOf(ANode->value());
  } else if (name == "data") {
    // "(empty)" is how an empty value is written.
    FData = ANode->getRawValue() == "(empty)" ? TValue() : ANode->value();
  } else {
    TQuorvelSkillGroup::ReadXmlChild(ANode);
  }
}

TMz_XmlElement* TQuorvelSkill::ToXml(TMz_XmlElement* AParent) {
  TMz_XmlElement* node = TQuorvelSkillGroup::ToXml(AParent);
  Element(node, "activated")->setValue(TValue(FActivated));
  Element(node, "value")->setValue(TValue(FValue));
  Element(node, "factor")->setValue(TValue(FFactor));
  static const char* const Names[] = {"LinearInterpolation", "LogarithmicInterpolation", "ExponentialInterpolation",
                                      "ExponentialMinus1Interpolation"};
  const int curve = int(FInterpolation);
  Element(node, "interpolation")->setRawValue(Names[curve >= 0 && curve < 4 ? curve : 0]);
  Element(node, "level")->setValue(TValue(FLevel));
  Element(node, "max-level")->setValue(TValue(FMaxLevel));
  Element(node, "leveling-time")->setValue(TValue(FLevelingTime));
  TMz_XmlElement* data = Element(node, "data");
  if (FData.IsEmpty()) data->setRawValue("(empty)");
  else data->setValue(FData);
  return node;
}

// --- processes -----------------------------------------------------------------------------

void TQuorvelSkillProcess::FromXml(TQuorvelSkillSystem* ASkillSystem, TMz_XmlElement* ANode) {
  if (HasAttribute(ANode, "skill")) {
    FSkill = ASkillSystem->FindNestedSkillByGUID(TGUID::Create(ANode->attribute_raw("skill")));
    if (!FSkill) throw Exception("failed to load leveling process - skill not found");
  }
  if (HasAttribute(ANode, "dest")) {
    FDestination = ASkillSystem->FindNestedSkillByGUID(TGUID::Create(ANode->attribute_raw("dest")));
    if (!FDestination) throw Exception("failed to load leveling process - destination not found");
  }
  if (HasAttribute(ANode, "to-level")) TryStrToInt(Trim(ANode->attribute_raw("to-level")), FToLevel);
  if (HasAttribute(ANode, "new-value")) {
    float value = 0;
    if (TryStrToFloat(Trim(ANode->attribute_raw("new-value")), value, EnUs())) FNewValue = value;
  }
  if (HasAttribute(ANode, "total-time")) TryStrToInt(Trim(ANode->attribute_raw("total-time")), FTotalTime);
  int32_t progress = 0;
  if (HasAttribute(ANode, "progress") && TryStrToInt(Trim(ANode->attribute_raw("progress")), progress) && progress > 0)
    Restore(true, int64_t(TThread::GetTickCount64()) - progress);
  else
    Restore(false, 0);
}

TMz_XmlElement* TQuorvelSkillProcess::ToXml(TMz_XmlElement* AParent) const {
  TMz_XmlElement* node = Element(AParent, "process");
  if (FSkill) node->setAttribute_raw("skill", FSkill->GUID().ToString());
  if (FDestination) node->setAttribute_raw("dest", FDestination->GUID().ToString());
  node->addAttribute("to-level", FToLevel);
  node->addAttribute("new-value", FNewValue);
  node->addAttribute("total-time", FTotalTime);
  const int64_t progress = FStarted ? int64_t(TThread::GetTickCount64()) - FStartTime : 0;
  node->addAttribute("progress", int32_t(progress));
  return node;
}

// --- the system's file ---------------------------------------------------------------------

TQuorvelSkill* TQuorvelSkillSystem::FindNestedSkillByGUID(const TGUID& AGUID) const {
  for (int i = 0; i < FGroups->Count(); ++i)
    if (TQuorvelSkill* found = NestedByGUID(FGroups->Items(i)->Skills(), AGUID)) return found;
  return nullptr;
}

void TQuorvelSkillSystem::SaveToStream(TStream* AStream) {
  TOwned<TMz_XmlDocument> document(BuildDocument());
  document->saveToStream(AStream, true);
}

void TQuorvelSkillSystem::SaveToFile(const std::string& AFilename) {
  TOwned<TMz_XmlDocument> document(BuildDocument());
  document->saveToFile(AFilename, true);
}

TMz_XmlDocument* TQuorvelSkillSystem::BuildDocument() {
  TOwned<TMz_XmlDocument> document(New<TMz_XmlDocument>());
  auto* header = New<TMz_XmlElement>(document.get(), nullptr, std::string(), std::string("xml"));
  header->setKind(mzDocument);
  document->setRoot(header);
  header->setAttribute_raw("version", "1.0");
  header->setAttribute_raw("encoding", "UTF-8");
  header->setAttribute_raw("standalone", "yes");
  TMz_XmlElement* system = Element(header, "skillsystem");
  system->setAttribute_raw("id", GetName());
  Element(system, "language")->setValue(TValue(FLanguage));
  system->setAttribute_raw("position", PositionText(FPosition));
  FGroups->ToXml("groups", system);
  TMz_XmlElement* processes = Element(system, "processes");
  if (FLeveling) {
    std::unique_lock<std::mutex> lock;
    for (TQuorvelSkillProcess* p : FLeveling->LockedProcesses(lock)) p->ToXml(processes);
  }
  return document.release();
}

void TQuorvelSkillSystem::LoadFromStream(TStream* AStream) {
  TOwned<TMz_XmlDocument> document(New<TMz_XmlDocument>());
  document->loadFromStream(AStream);
  auto* root = dynamic_cast<TMz_XmlElement*>(document->root());
  TMz_XmlElement* system = nullptr;
  if (root && root->nodes())
    for (TMz_XmlElement* child : *root->nodes())
      if (child->name() == "skillsystem") {
        system = child;
        break;
      }
  if (!system) throw Exception("root node \"skillsystem\" not found!");
  SetName(system->attribute_raw("id"));
  if (HasAttribute(system, "position")) FPosition = ParsePosition(system->attribute_raw("position"));
  if (!system->nodes() || system->nodes()->Count() == 0) throw Exception("skill groups not found!");
  for (TMz_XmlElement* child : *system->nodes()) {
    if (child->name() == "language") {
      FLanguage = IntOf(child->value());
    } else if (child->name() == "groups") {
      FGroups->FromXml(child);
    } else if (child->name() == "processes" && child->nodes()) {
      for (TMz_XmlElement* node : *child->nodes()) {
        if (node->name() != "process") continue;
        TOwned<TQuorvelSkillProcess> process(New<TQuorvelSkillProcess>(nullptr, nullptr, 0, 0, 0.0f));
        process->FromXml(this, node);
        // A process without a skill has nothing to level.
        if (process->Skill() && FLeveling) FLeveling->AddProcess(process.release());
      }
    }
  }
}

void TQuorvelSkillSystem::LoadFromFile(const std::string& AFilename) {
  if (!TFile::Exists(AFilename)) return;
  TOwned<TFileStream> stream(New<TFileStream>(AFilename, fmOpenRead | fmShareDenyNone));
  LoadFromStream(stream.get());
}

}  // namespace quorvel
