#include "lib/formats/JSON.h"

#include "framework/io/JsonReaderWriter.h"

namespace quorvel {

std::string JSONToIndentedString(const TJSONObject* AJsonObject) {
  if (!AJsonObject) return {};
  TJsonTextReader reader(AJsonObject->ToJSON());
  TJsonTextWriter writer;
  writer.SetFormatting(TJsonFormatting::Indented);
  while (reader.Read()) writer.WriteToken(reader, false);
  return writer.GetText();
}

}  // namespace quorvel
