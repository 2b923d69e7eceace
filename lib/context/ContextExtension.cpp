#include "lib/context/ContextExtension.h"

#include "framework/rtl/Finally.h"

namespace quorvel {

FW_CLASS_IMPL_META(TExtensions, "Quorvel.Context.Extension", TExtensionsClassOf<TExtensions>)
FW_CLASS_NO_MEMBERS(TExtensions)

const TExtensionsClass* ExtensionsClass = TExtensions::StaticMeta();

const TExtensionsClass* SetExtensionsClass(const TExtensionsClass* AClass) {
  const TExtensionsClass* previous = ExtensionsClass;
  ExtensionsClass = AClass ? AClass : TExtensions::StaticMeta();
  return previous;
}

TExtensions* TExtensionsClass::Create() const {
  throw EAbstractError("Abstract error: " + ClassName() + " cannot be constructed");
}

TExtensions::TExtensions() : Extensions(New<TStringList>()) { Extensions->SetCaseSensitive(false); }

TExtensions::~TExtensions() { FreeQuietlyAndNil(Extensions, "TExtensions destructor: extension list"); }

void TExtensions::AfterConstruction() {
  TObject::AfterConstruction();
  LoadExtensions();
}

void TExtensions::LoadExtensions() { throw EAbstractError("Abstract error: TExtensions.LoadExtensions"); }

bool TExtensions::GetExtension(std::string_view Name) const {
  int index = 0;
  if (Extensions->GetSorted()) return Extensions->Find(Name, index);
  return Extensions->IndexOf(Name) >= 0;
}

}  // namespace quorvel
