// libFuzzer target for the BSON reader: whatever the input, reading raises
// EJsonReaderException or delivers a tree, and a tree that was read writes BSON that reads
// back to the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "framework/io/Json.h"
#include "framework/io/JsonReaderWriter.h"
#include "framework/io/Stream.h"
#include "framework/rtl/Exceptions.h"
#include "lib/formats/BSONWriter.h"
#include "lib/formats/JSONBSON.h"

using namespace quorvel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TBytesStream in(TBytes(data, data + size));
  TBsonReader reader(&in);
  std::unique_ptr<TJSONValue> tree;
  try {
    TJsonObjectWriter w;
    w.WriteToken(reader);
    tree.reset(w.ReleaseJSON());
  } catch (const EJsonReaderException&) {
    return 0;
  } catch (const EJSONException&) {
    return 0;  // tokens the tree cannot hold
  }
  if (!tree) return 0;
  TBytesStream first;
  try {
    TQuorvelBSONWriter w(&first);
    w.WriteJsonValue(tree.get());
  } catch (const Exception&) {
    return 0;  // names with zero bytes and the like are refused by the writer
  }
  TBytesStream again(TBytes(static_cast<const uint8_t*>(first.GetMemory()),
                            static_cast<const uint8_t*>(first.GetMemory()) + first.GetSize()));
  TBsonReader r2(&again);
  TJsonObjectWriter w2;
  w2.WriteToken(r2);
  std::unique_ptr<TJSONValue> back(w2.ReleaseJSON());
  if (!back) std::abort();
  TBytesStream second;
  {
    TQuorvelBSONWriter w(&second);
    w.WriteJsonValue(back.get());
  }
  if (second.GetSize() != first.GetSize()) std::abort();
  return 0;
}
