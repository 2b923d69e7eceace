#pragma once
// Writes a TJSONValue tree as one BSON document. Every number is stored as a double, as the
// model files have always been (integers above 2^53 lose precision).
#include "framework/io/Json.h"
#include "lib/formats/JSONBSON.h"

namespace quorvel {

class TQuorvelBSONWriter : public TBsonWriter {
public:
  explicit TQuorvelBSONWriter(TStream* stream) : TBsonWriter(stream) {}

  void WriteJsonObject(const TJSONObject* object);
  void WriteJsonArray(const TJSONArray* array);
  void WriteJsonValue(const TJSONValue* value);
  // The bytes of a scalar value alone, without type byte and name.
  void WriteRawJsonValue(const TJSONValue* value, TStream* target);

private:
  void WriteScalar(const TJSONValue* value);
};

}  // namespace quorvel
