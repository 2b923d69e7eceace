// The memory buffer class's metaclass, in the support library so that every test folder links it.
#include "tests/support/MemoryBufferObject.h"

namespace quorvel::test {

FW_CLASS_IMPL_META(TMemoryBufferObject, "Quorvel.Test.Buffers", TBufferObjectClassOf<TMemoryBufferObject>)
FW_CLASS_NO_MEMBERS(TMemoryBufferObject)

}  // namespace quorvel::test
