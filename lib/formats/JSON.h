#pragma once
// JSON text helpers shared by the model writers.
#include <string>

#include "framework/io/Json.h"

namespace quorvel {

// The object's JSON text, indented by the framework's text writer (its line breaks,
// indentation and number text).
std::string JSONToIndentedString(const TJSONObject* AJsonObject);

}  // namespace quorvel
