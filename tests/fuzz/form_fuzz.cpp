// libFuzzer target for form text: the tokenizer runs to the end or raises EParserError, and
// the reader builds components under a root or raises one of the framework's exceptions.
// A form that reads writes text that reads back and writes the same text again.
#include <cstdlib>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "framework/classes/Component.h"
#include "framework/classes/FormText.h"
#include "framework/rtl/Exceptions.h"

using namespace quorvel;

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
  if (WriteComponentResource(again.get()) != written) std::abort();
  return 0;
}
