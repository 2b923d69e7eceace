#pragma once
// TQuorvelGroup: a node with the descriptive metadata of a reusable group; it builds no
// children of its own.
#include <string>

#include "framework/rtl/DateTime.h"
#include "lib/scene/Transform.h"

namespace quorvel {

using TOnPrefabGroupEvent = TEvent<void(TObject* ASender, TObject* APrefab)>;

class TQuorvelGroup : public TQuorvelTransform {
  FW_CLASS(TQuorvelGroup, TQuorvelTransform)

public:
  using TQuorvelTransform::TQuorvelTransform;

  const std::string& GetAuthor() const { return FAuthor; }
  void SetAuthor(const std::string& V) { FAuthor = V; }
  // "yyyy-mm-dd hh:nn:ss"; text that is no date and time sets 1899-12-30 00:00:00.
  std::string GetTimestamp() const;
  void SetTimestamp(const std::string& V);
  TDateTime GetTimestampValue() const { return FTimestamp; }
  const std::string& GetVersion() const { return FVersion; }
  void SetVersion(const std::string& V) { FVersion = V; }
  const std::string& GetLicense() const { return FLicense; }
  void SetLicense(const std::string& V) { FLicense = V; }
  const std::string& GetLink() const { return FLink; }
  void SetLink(const std::string& V) { FLink = V; }
  const std::string& GetDescr() const { return FDescr; }
  void SetDescr(const std::string& V) { FDescr = V; }
  TOnPrefabGroupEvent OnPrefabLoaded;
  TOnPrefabGroupEvent OnPrefabStored;

  void LoadFromDefinition(TCustomDef* ADef) override;
  void StoreToDefinition(TCustomDef* ADef) override;
  void LoadHierarchyFromDefinition(TTransformDef*) override {}

private:
  std::string FAuthor;
  TDateTime FTimestamp;
  std::string FVersion, FLicense, FLink, FDescr;
};

}  // namespace quorvel
