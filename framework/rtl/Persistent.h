#pragma once
// TPersistent: objects that can be copied into one another (Assign / AssignTo) and that take
// part in form streaming beyond their published properties (DefineProperties).
#include <string>

#include "framework/rtl/Object.h"

namespace quorvel {

class TFiler;

class TPersistent : public TObject {
  FW_CLASS(TPersistent, TObject)

public:
  TPersistent() = default;

  // Copies Source into this object: Source->AssignTo(this). A nil source, or a pair that
  // neither side knows how to copy, raises EConvertError "Cannot assign a %s to a %s".
  virtual void Assign(TPersistent* Source);
  // Copies this object into Dest; the default cannot, and raises.
  virtual void AssignTo(TPersistent* Dest);

  // Declares stream properties that are not published ones (TFiler::DefineProperty).
  virtual void DefineProperties(TFiler* Filer) {}

  // The object that owns this one for naming and streaming (the owner of a collection, the
  // collection of an item); null by default.
  virtual TPersistent* GetOwner() const { return nullptr; }
  // "Owner.Path.ClassName"; components answer their name.
  virtual std::string GetNamePath() const;

protected:
  [[noreturn]] void AssignError(const TPersistent* Source) const;
};

}  // namespace quorvel
