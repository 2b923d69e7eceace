// libFuzzer target for delimited text on TStrings (the driver's extension list is read with
// it). The first byte picks the delimiter and strictness; the rest is the text. Whatever the
// text, splitting ends with some lines, and lines joined again split back to the same lines.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "framework/rtl/StringList.h"

using namespace quorvel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  static constexpr char Delimiters[] = {',', ' ', ';', '\t', '|'};
  const char delimiter = Delimiters[(data[0] >> 1) % sizeof(Delimiters)];
  const bool strict = (data[0] & 1) != 0;
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);

  TStringList lines;
  lines.SetDelimiter(delimiter);
  lines.SetStrictDelimiter(strict);
  lines.SetDelimitedText(text);
  if (lines.GetUpdateCount() != 0) std::abort();

  TStringList back;
  back.SetDelimiter(delimiter);
  back.SetStrictDelimiter(strict);
  back.SetDelimitedText(lines.GetDelimitedText());
  if (!back.Equals(lines)) std::abort();
  return 0;
}
