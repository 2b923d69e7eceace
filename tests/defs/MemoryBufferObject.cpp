// The memory buffer class's metaclass, on its own so that the threaded tests link it too.
#include "tests/defs/MemoryBufferObject.h"

namespace quorvel::test {

FW_CLASS_IMPL_META(TMemoryBufferObject, "Quorvel.Test.Buffers", TBufferObjectClassOf<TMemoryBufferObject>)
FW_CLASS_NO_MEMBERS(TMemoryBufferObject)

}  // namespace quorvel::test
