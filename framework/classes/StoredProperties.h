#pragma once
// Published properties that forms read but never write: their value reaches the form by
// another property (a bitmap of a pool, for instance), and writing both would store it twice.
// Marked from a class's Register; the writer skips them, the reader still accepts them.
#include <string_view>

namespace quorvel {

class TClass;
struct TPropInfo;

void SetPropertyNotStored(const TClass* AClass, std::string_view AName);
// False for a property marked by the class that registered it.
bool IsPropertyStored(const TPropInfo* AProp);

}  // namespace quorvel
