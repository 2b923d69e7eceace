#pragma once
// Unit Quorvel.DefTypes, base part: TCustomDef (the root of every definition), the JSON
// readers all definitions use, TValue <-> JSON, JSONNumberToInteger and the definition class
// table that builds tree children from their "Type".
//
// JSON conventions shared by every definition:
// - ToJSON answers a new object the caller owns; overrides call the parent's ToJSON first and
//   append their own pairs. Pairs are never replaced: a repeated name ("Type") is a second pair.
// - FromJSON calls the parent's FromJSON first and reads its pairs with the readers below,
//   passing the field's current value as default, so absent keys keep the field unchanged.
// - Reading looks a name up exactly and takes the first pair of that name.
// - Numbers in exponent form ("1e5") count as floats wherever a reader asks integer or float;
//   the writer itself emits that form from 1E15 on and below 1E-5.
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

#include "framework/io/Json.h"
#include "framework/math/AlphaColor.h"
#include "framework/math/Matrix3D.h"
#include "framework/math/Point.h"
#include "framework/math/Point3D.h"
#include "framework/rtl/Exceptions.h"
#include "framework/rtl/Guid.h"
#include "framework/rtl/Object.h"
#include "framework/rtl/Value.h"

namespace quorvel {

// The unit every definition class lives in: a definition's JSON "Type" is this, a dot and the
// class name.
inline constexpr const char* DefTypesUnitName = "Quorvel.DefTypes";

class TCustomDef;
class TTransformDef;
class TMeshDef;
class TModelDef;

// Record written to JSON by name and fields (shader uniform blocks).
struct TUBOUniformDef {
  std::string Name;
  int32_t DataType = 0;
  int32_t Layout = 0;
  int32_t ArrayLength = 0;
  std::string ValueAsString;

  friend bool operator==(const TUBOUniformDef&, const TUBOUniformDef&) = default;
};
QUORVEL_TYPE_NAME(TUBOUniformDef)

// Declares a definition class: FW_CLASS plus the instance size that GetSize estimates with.
// Every definition class uses it (in the class body, first).
#define QUORVEL_DEF_CLASS(Class, Parent)                                    \
public:                                                                     \
  int64_t InstanceSize() const override { return sizeof(Class); }          \
  FW_CLASS(Class, Parent)

class TCustomDef : public TObject {
  FW_CLASS(TCustomDef, TObject)

public:
  TCustomDef() = default;
  // Leaves the late-resolution list of a model being read, so that the pass never meets it.
  ~TCustomDef() override;

  const std::string& GetId() const noexcept { return FId; }
  void SetId(std::string AValue) { FId = std::move(AValue); }

  // Size in bytes of the object's actual class (QUORVEL_DEF_CLASS overrides it).
  virtual int64_t InstanceSize() const { return sizeof(TCustomDef); }

  // Memory estimate: the instance size plus two bytes per character of Id.
  virtual int64_t GetSize() const;
  // The asset package the definition's files come from; the base raises
  // "TODO: override TCustomDef.GetAssetsPackage() in <class name>".
  virtual TObject* GetAssetsPackage() const;
  // A new object the caller owns: "Type" (qualified class name) and "Id".
  virtual TJSONObject* ToJSON() const;
  // Reads "Id" (kept when absent or not a string). AModel is the model being read (may be
  // null); AValue stays the caller's.
  virtual void FromJSON(TModelDef* AModel, const TJSONObject* AValue);
  // Second chance to resolve references by id once a whole model is read; the base answers
  // True (resolved).
  virtual bool LateResolveFromJSON(TModelDef* AModel, const TJSONObject* AValue);

  // ---- class-level JSON readers: ADefault when the pair is absent or of a kind not taken ----

  // Text of the first pair: a string's value, a number's text, "true"/"false", "null", empty
  // for an object or array.
  static std::string ReadJSONValue(const TJSONObject* AObject, std::string_view AName,
                                   const std::string& ADefault);
  // A string's value or a number's text.
  static std::string ReadJSONString(const TJSONObject* AObject, std::string_view AName,
                                    const std::string& ADefault);
  // A JSON number (never a numeric string).
  static double ReadJSONFloat(const TJSONObject* AObject, std::string_view AName, double ADefault);
  // ReadJSONFloat as a single; a value beyond the single range raises EConvertError, since as
  // infinity it could not be written again.
  static float ReadJSONSingle(const TJSONObject* AObject, std::string_view AName, float ADefault);
  // A JSON number by JSONNumberToInteger; ADefault also when it does not fit an Integer.
  static int32_t ReadJSONInteger(const TJSONObject* AObject, std::string_view AName, int32_t ADefault);
  static bool ReadJSONBoolean(const TJSONObject* AObject, std::string_view AName, bool ADefault);
  // ReadJSONValue's text through the value-text readers; ADefault when the text is empty.
  static TPoint3D ReadJSONPoint3D(const TJSONObject* AObject, std::string_view AName, const TPoint3D& ADefault);
  static TMatrix3D ReadJSONMatrix3D(const TJSONObject* AObject, std::string_view AName,
                                    const TMatrix3D& ADefault);
  static TAlphaColorF ReadJSONAlphaColorF(const TJSONObject* AObject, std::string_view AName,
                                          const TAlphaColorF& ADefault);
  // Raises EConvertError for a malformed GUID text ("null" included).
  static TGUID ReadJSONGUID(const TJSONObject* AObject, std::string_view AName, const TGUID& ADefault);

  static bool JSONValueExists(const TJSONObject* AObject, std::string_view AName);
  // Whether the first pair of that name holds a T (or a descendant: a number is a string).
  template <class T>
  static bool JSONValueIs(const TJSONObject* AObject, std::string_view AName) {
    const TJSONValue* v = AObject ? AObject->GetValue(AName) : nullptr;
    return v && v->Is<T>();
  }

  // A new JSON value for a typed value (records as {"RecordType", "Value"}).
  static TJSONValue* RttiValueToJSON(const TValue& AValue);
  // The typed value of a JSON value; raises for malformed record objects.
  static TValue JSONToRttiValue(const TJSONValue* AJSON);

private:
  friend class TModelDef;
  std::string FId;
  // The model whose late-resolution list holds this definition; null when none does.
  TModelDef* FLateResolveIn = nullptr;
};

// A JSON number as an Integer: a text with ".", "," or an exponent is read as a double and
// rounded half to even; other texts are read as integers. Raises EConvertError when the text
// does not read or the value does not fit.
int32_t JSONNumberToInteger(const TJSONNumber* ANumber);

// A double as a single; beyond the single's range the infinity of that sign (a plain cast
// would be undefined there).
inline float DoubleToSingle(double AValue) {
  if (AValue > 3.4028234663852886e38) return std::numeric_limits<float>::infinity();
  if (AValue < -3.4028234663852886e38) return -std::numeric_limits<float>::infinity();
  return static_cast<float>(AValue);
}

// The definition class table: the class built for a child object's "Type" text (exact
// comparison); TMeshDef for any other text.
const TClass* FindDefClass(std::string_view AType);

}  // namespace quorvel
