#include "lib/scene/Group.h"

#include "framework/rtl/Units.h"

#include "lib/defs/DefTypesTransform.h"

namespace quorvel {

FW_CLASS_IMPL(TQuorvelGroup, "Quorvel.Group")
void TQuorvelGroup::Register(ClassBuilder<TQuorvelGroup>& b) {
  b.Prop("Author", &Self::GetAuthor, &Self::SetAuthor)
      .Prop("Timestamp", &Self::GetTimestamp, &Self::SetTimestamp)
      .Prop("Version", &Self::GetVersion, &Self::SetVersion)
      .Prop("License", &Self::GetLicense, &Self::SetLicense)
      .Prop("Link", &Self::GetLink, &Self::SetLink)
      .Prop("Descr", &Self::GetDescr, &Self::SetDescr)
      .Field("FAuthor", &Self::FAuthor)
      .Field("FTimestamp", &Self::FTimestamp)
      .Field("FVersion", &Self::FVersion)
      .Field("FLicense", &Self::FLicense)
      .Field("FLink", &Self::FLink)
      .Field("FDescr", &Self::FDescr)
      .Field("OnPrefabLoaded", &Self::OnPrefabLoaded)
      .Field("OnPrefabStored", &Self::OnPrefabStored);
}

std::string TQuorvelGroup::GetTimestamp() const { return FormatDateTime("yyyy-mm-dd hh:nn:ss", FTimestamp); }

void TQuorvelGroup::SetTimestamp(const std::string& V) {
  TDateTime dt;
  FTimestamp = TryStrToDateTime(V, dt) ? dt : TDateTime(0);
}

void TQuorvelGroup::LoadFromDefinition(TCustomDef* ADef) {
  TQuorvelTransform::LoadFromDefinition(ADef);
  if (auto* g = dynamic_cast<TGroupDef*>(ADef)) {
    FAuthor = g->GetAuthor();
    FTimestamp = g->GetTimestamp();
    FVersion = g->GetVersion();
    FLicense = g->GetLicense();
    FLink = g->GetLink();
    FDescr = g->GetDescr();
  }
}

void TQuorvelGroup::StoreToDefinition(TCustomDef* ADef) {
  TQuorvelTransform::StoreToDefinition(ADef);
  if (auto* g = dynamic_cast<TGroupDef*>(ADef)) {
    g->SetAuthor(FAuthor);
    g->SetTimestamp(FTimestamp);
    g->SetVersion(FVersion);
    g->SetLicense(FLicense);
    g->SetLink(FLink);
    g->SetDescr(FDescr);
  }
}


namespace {

void InitGroupUnit() {
  RegisterClasses({TQuorvelGroup::StaticClass()});
}

void FinGroupUnit() { UnRegisterClasses({TQuorvelGroup::StaticClass()}); }

const TUnitRegistration GroupUnit{{"Quorvel.Group", {"Quorvel.Transform"}, &InitGroupUnit, &FinGroupUnit}};

}  // namespace

}  // namespace quorvel
