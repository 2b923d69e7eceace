#pragma once
// The GL extensions of the process, loaded once by the installed class.
#include <string>
#include <string_view>

#include "framework/rtl/Object.h"
#include "framework/rtl/StringList.h"

namespace quorvel {

class TExtensions;

// Metaclass: the virtual constructor.
struct TExtensionsClass : TClass {
  using TClass::TClass;
  virtual TExtensions* Create() const;
};

template <class T>
struct TExtensionsClassOf : TExtensionsClass {
  using TExtensionsClass::TExtensionsClass;
  TExtensions* Create() const override { return New<T>(); }
};

class TExtensions : public TObject {
  FW_CLASS_META(TExtensions, TObject, TExtensionsClass)
public:
  TExtensions();
  ~TExtensions() override;
  // LoadExtensions.
  void AfterConstruction() override;

  // Case-insensitive.
  bool GetExtension(std::string_view Name) const;
  const TStringList& GetExtensions() const { return *Extensions; }
  const std::string& GetRenderer() const { return FRenderer; }

protected:
  // Fills Extensions; the base class knows no graphics interface and raises EAbstractError.
  virtual void LoadExtensions();

  TOwned<TStringList> Extensions;  // case-insensitive, sorted once filled
  std::string FRenderer;              // upper case
};

// The class the shared list is made from: TExtensions until a graphics unit installs its own.
extern const TExtensionsClass* ExtensionsClass;
// Installs a class (null: TExtensions) and answers the one installed before.
const TExtensionsClass* SetExtensionsClass(const TExtensionsClass* AClass);

}  // namespace quorvel
