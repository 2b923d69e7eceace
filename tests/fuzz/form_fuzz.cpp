// libFuzzer target for form text: the tokenizer runs to the end or raises EParserError, and
// the reader builds components under a root or raises one of the framework's exceptions.
// A form that reads writes text that reads back and writes the same text again, but for
// the sign of zero: a setter given -0 for +0 sees no change and keeps +0.
#include <cstdlib>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "framework/classes/Component.h"
#include "framework/classes/FormText.h"
#include "framework/rtl/Exceptions.h"

using namespace quorvel;

namespace {

// "-0.0" (not followed by more digits) as "0.0".
std::string WithoutNegativeZero(std::string text) {
  for (size_t at = text.find("-0.0"); at != std::string::npos; at = text.find("-0.0", at)) {
    const size_t end = at + 4;
    if (end < text.size() && text[end] >= '0' && text[end] <= '9') {
      at = end;
      continue;
    }
    text.erase(at, 1);
  }
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::InitializeOnce();
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  try {
    TFormParser parser(text);
    for (size_t tokens = 0; parser.Token().Kind != TFormTokenKind::EndOfText; ++tokens) {
      if (tokens > size + 1) std::abort();  // every token takes at least one character
      parser.Next();
    }
  } catch (const EParserError&) {
  }

  std::string written;
  try {
    TOwned<TComponent> root(New<TComponent>(nullptr));
    ReadComponentResource(root.get(), text);
    written = WriteComponentResource(root.get());
  } catch (const Exception&) {
    return 0;  // every failure of the reader is one of the framework's exceptions
  }
  TOwned<TComponent> again(New<TComponent>(nullptr));
  try {
    ReadComponentResource(again.get(), written);
  } catch (const Exception&) {
    std::abort();  // what was written must read back
  }
  if (WithoutNegativeZero(WriteComponentResource(again.get())) != WithoutNegativeZero(written)) std::abort();
  return 0;
}
