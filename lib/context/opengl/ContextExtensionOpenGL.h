#pragma once
// The extension list read from the current GL context. The unit's initialisation installs
// it in ExtensionsClass.
#include "lib/context/ContextExtension.h"

namespace quorvel {

class TOpenGLExtensions : public TExtensions {
  FW_CLASS_META(TOpenGLExtensions, TExtensions, TExtensionsClass)
protected:
  void LoadExtensions() override;
};

// The extension string split at spaces; a trailing space adds no empty entry.
void SplitExtensionString(const std::string& AText, TStringList& AList);

}  // namespace quorvel
