#pragma once
// Unit Quorvel.DefTypes, loose data: property bags (TProperties), metadata tags (TMetaDef,
// TModelMetaDef), behaviours (TBehaviourDef, TMaterialBehaviourDef) and extensions
// (TExtensionDef, TExtensionDefList).
#include <cstdint>
#include <string>
#include <string_view>

#include "framework/rtl/Containers.h"
#include "lib/defs/DefTypesBase.h"

namespace quorvel {

// Name -> value, case-sensitive; enumerates in insertion order. Stored as a "Properties"
// array of {"Name", "Value"} objects.
class TProperties : public TDictionary<std::string, TValue> {
public:
  TProperties() = default;

  int64_t GetSize() const;
  // Appends "Properties" (an array, possibly empty) to AJSON.
  void ToJSON(TJSONObject* AJSON) const;
  // Replaces the entries with those of AValue's first "Properties" array. Malformed elements
  // are skipped; a repeated name raises EDuplicateKey (the entries before it stay).
  void FromJSON(const TJSONObject* AValue);
};

// Tags: name -> string, integer, float or Boolean; each tag is a plain pair of the JSON object.
class TMetaDef : public TCustomDef {
  QUORVEL_DEF_CLASS(TMetaDef, TCustomDef)

public:
  using TTags = TDictionary<std::string, TValue>;

  TMetaDef();
  ~TMetaDef() override;

  TJSONObject* ToJSON() const override;
  void FromJSON(TModelDef* AModel, const TJSONObject* AValue) override;

  void Clear();
  // The tag's value; the empty value when there is none.
  TValue GetTag(const std::string& AIndex) const;
  // Adds or replaces; raises "TMetaDef.SetTag(): invalid meta tag type - only string, int,
  // float and bool allowed" for any other kind of value.
  void SetTag(const std::string& AIndex, const TValue& AValue);

  std::string GetTagAsString(const std::string& AIndex) const;
  void SetTagAsString(const std::string& AIndex, const std::string& AValue);
  int64_t GetTagAsInt(const std::string& AIndex) const;
  void SetTagAsInt(const std::string& AIndex, int64_t AValue);
  double GetTagAsFloat(const std::string& AIndex) const;
  void SetTagAsFloat(const std::string& AIndex, double AValue);
  bool GetTagAsBool(const std::string& AIndex) const;
  void SetTagAsBool(const std::string& AIndex, bool AValue);

  const TTags& Tags() const { return *FTags; }

private:
  TTags* FTags;
};

// The model's metadata.
class TModelMetaDef : public TMetaDef {
  QUORVEL_DEF_CLASS(TModelMetaDef, TMetaDef)

public:
  std::string GetTitle() const { return GetTagAsString("Title"); }
  void SetTitle(const std::string& AValue) { SetTagAsString("Title", AValue); }
  std::string GetDescr() const { return GetTagAsString("Descr"); }
  void SetDescr(const std::string& AValue) { SetTagAsString("Descr", AValue); }
  std::string GetAuthor() const { return GetTagAsString("Author"); }
  void SetAuthor(const std::string& AValue) { SetTagAsString("Author", AValue); }
  std::string GetLicense() const { return GetTagAsString("License"); }
  void SetLicense(const std::string& AValue) { SetTagAsString("License", AValue); }
  int64_t GetPolygons() const { return GetTagAsInt("Polygons"); }
  void SetPolygons(int64_t AValue) { SetTagAsInt("Polygons", AValue); }
  int64_t GetVertices() const { return GetTagAsInt("Vertices"); }
  void SetVertices(int64_t AValue) { SetTagAsInt("Vertices", AValue); }
  bool GetMobileSuitable() const { return GetTagAsBool("MobileSuitable"); }
  void SetMobileSuitable(bool AValue) { SetTagAsBool("MobileSuitable", AValue); }
};

// A behaviour class to instantiate (PrefabClass) with its properties. Id: a new GUID text.
class TBehaviourDef : public TCustomDef {
  QUORVEL_DEF_CLASS(TBehaviourDef, TCustomDef)

public:
  TBehaviourDef();
  ~TBehaviourDef() override;

  int64_t GetSize() const override;
  TJSONObject* ToJSON() const override;
  void FromJSON(TModelDef* AModel, const TJSONObject* AValue) override;

  const std::string& GetPrefabClass() const { return FPrefabClass; }
  void SetPrefabClass(std::string AValue) { FPrefabClass = std::move(AValue); }
  TProperties* GetProperties() const { return FProperties; }

private:
  std::string FPrefabClass;
  TProperties* FProperties;
};

// The behaviour kind materials refer to.
class TMaterialBehaviourDef : public TBehaviourDef {
  QUORVEL_DEF_CLASS(TMaterialBehaviourDef, TBehaviourDef)
};

// A named bag of properties attached to materials and textures.
class TExtensionDef : public TCustomDef {
  QUORVEL_DEF_CLASS(TExtensionDef, TCustomDef)

public:
  TExtensionDef();
  ~TExtensionDef() override;

  int64_t GetSize() const override;
  TJSONObject* ToJSON() const override;
  void FromJSON(TModelDef* AModel, const TJSONObject* AValue) override;

  TProperties* GetProperties() const { return FProperties; }

private:
  TProperties* FProperties;
};

// Owning list of extensions.
class TExtensionDefList : public TObjectList<TExtensionDef> {
public:
  TExtensionDefList() : TObjectList<TExtensionDef>(true) {}
  // The first extension whose Id equals AId exactly; nullptr otherwise.
  TExtensionDef* FindExtensionById(std::string_view AId) const;
};

}  // namespace quorvel
