#pragma once
// Helpers of the definition tests: JSON text in and out.
#include <memory>
#include <string>
#include <string_view>

#include "framework/io/Json.h"

namespace quorvel::test {

struct TJSONValueDeleter {
  void operator()(TJSONValue* v) const { delete v; }
};
using TJSONPtr = std::unique_ptr<TJSONObject, TJSONValueDeleter>;
using TJSONValuePtr = std::unique_ptr<TJSONValue, TJSONValueDeleter>;

// Parses an object; malformed text fails the parse with an exception.
inline TJSONPtr ParseObject(std::string_view AText) {
  TJSONValue* v = TJSONObject::ParseJSONValue(AText, true);
  auto* obj = dynamic_cast<TJSONObject*>(v);
  if (!obj) {
    delete v;
    throw EJSONException("test fixture: not a JSON object");
  }
  return TJSONPtr(obj);
}

inline TJSONValuePtr ParseValue(std::string_view AText) {
  return TJSONValuePtr(TJSONObject::ParseJSONValue(AText, true));
}

// Compact text of a JSON value that the caller hands over.
inline std::string TakeText(TJSONValue* AValue) {
  TJSONValuePtr owned(AValue);
  return owned->ToJSON();
}

}  // namespace quorvel::test

namespace quorvel {

// A definition made with AArgs and given the id AId.
template <class T, class... A>
T* Named(const std::string& AId, A... AArgs) {
  auto* def = New<T>(AArgs...);
  def->SetId(AId);
  return def;
}

}  // namespace quorvel
