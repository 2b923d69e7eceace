#pragma once
// Named values of any type that dialogue and inventory items carry for the game, in insertion
// order, with a JSON form: {"Values": [{"Key": name, "Value": ...}, ...]}. Integers are written
// whole (64 bits); Booleans as true/false; other enumerations by ordinal; floats as numbers;
// the records TPoint, TPointF, TPoint3D, TVector3D, TQuaternion3D, TMatrix, TMatrix3D and
// TAlphaColorF as {"Class": name, "FloatArrayValue": [numbers]}; anything else as null.
// Reading: a number with ".", "," or an exponent is a double, else an Integer, an Int64
// beyond 32 bits; a record array shorter than its class needs gives the empty value.
#include <string>

#include "framework/io/Json.h"
#include "framework/rtl/Containers.h"
#include "framework/rtl/Value.h"

namespace quorvel {

class TQuorvelParametersMap : public TDictionary<std::string, TValue> {
public:
  // A copy of ASource (values shared as TValue copies; empty for nil).
  virtual void Assign(const TQuorvelParametersMap* ASource);
  // A new object the caller frees.
  TJSONObject* ToJSON() const;
  // Replaces the content. A "FloatArrayValue" element that is no number raises EInvalidCast,
  // leaving the entries read so far.
  void FromJSON(const TJSONObject* AData);
};

}  // namespace quorvel
