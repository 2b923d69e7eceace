#include "framework/rtl/Persistent.h"

#include "framework/rtl/SysUtils.h"

namespace quorvel {

FW_CLASS_IMPL(TPersistent, "Fw.Classes")
FW_CLASS_NO_MEMBERS(TPersistent)

void TPersistent::Assign(TPersistent* Source) {
  if (!Source) AssignError(nullptr);
  Source->AssignTo(this);
}

void TPersistent::AssignTo(TPersistent* Dest) {
  if (!Dest) throw EConvertError(Format("Cannot assign a %s to a %s", {ClassName(), "nil"}));
  Dest->AssignError(this);
}

void TPersistent::AssignError(const TPersistent* Source) const {
  const std::string sourceName = Source ? Source->ClassName() : "nil";
  throw EConvertError(Format("Cannot assign a %s to a %s", {sourceName, ClassName()}));
}

std::string TPersistent::GetNamePath() const {
  std::string result = ClassName();
  if (const TPersistent* owner = GetOwner()) {
    const std::string ownerPath = owner->GetNamePath();
    if (!ownerPath.empty()) result = ownerPath + "." + result;
  }
  return result;
}

}  // namespace quorvel
