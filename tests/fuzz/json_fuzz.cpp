// libFuzzer target for the JSON reader: the DOM parser, the token reader and the writers.
// Whatever the input, parsing answers a tree or nullptr (never crashes or hangs), and a tree
// that was read writes text that reads back to the same text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "framework/io/Json.h"
#include "framework/io/JsonReaderWriter.h"

using namespace quorvel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  std::unique_ptr<TJSONValue> value(TJSONObject::ParseJSONValue(text));
  bool raised = false;
  try {
    std::unique_ptr<TJSONValue> again(TJSONObject::ParseJSONValue(text, true));
  } catch (const EJSONParseException&) {
    raised = true;
  }
  if (raised != !value) std::abort();  // both forms must agree

  if (value) {
    const std::string compact = value->ToJSON();
    std::unique_ptr<TJSONValue> back(TJSONObject::ParseJSONValue(compact));
    if (!back || back->ToJSON() != compact) std::abort();
    const std::string ascii = value->ToJSON(TJSONOutputOptions::EncodeAbove127);
    for (char c : ascii)
      if (static_cast<unsigned char>(c) > 127) std::abort();
    std::unique_ptr<TJSONValue> fromAscii(TJSONObject::ParseJSONValue(ascii));
    if (!fromAscii) std::abort();
    std::unique_ptr<TJSONValue> indented(TJSONObject::ParseJSONValue(value->Format(2)));
    if (!indented || indented->ToJSON() != compact) std::abort();
    std::unique_ptr<TJSONValue> copy(value->Clone());
    if (copy->ToJSON() != compact) std::abort();
    (void)value->FindValue("a.b[0]");
  }

  // Tokens from text into a tree; malformed text raises the reader's exception.
  try {
    TJsonTextReader reader{std::string(text)};
    TJsonObjectWriter writer;
    writer.WriteToken(reader);
    if (value && (!writer.GetJSON())) std::abort();
  } catch (const EJSONException&) {
  } catch (const EConvertError&) {
  }
  return 0;
}
