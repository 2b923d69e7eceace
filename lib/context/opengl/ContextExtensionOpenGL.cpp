#include "lib/context/opengl/ContextExtensionOpenGL.h"

#include <epoxy/gl.h>

#include "framework/platform/Windows.h"
#include "framework/rtl/Units.h"
#include "lib/context/ContextTypes.h"

namespace quorvel {

FW_CLASS_IMPL_META(TOpenGLExtensions, "Quorvel.Context.Extension.OpenGL", TExtensionsClassOf<TOpenGLExtensions>)
FW_CLASS_NO_MEMBERS(TOpenGLExtensions)

namespace {

std::string ExtensionGLString(GLenum AName) {
  const GLubyte* s = glGetString(AName);
  return s ? std::string(reinterpret_cast<const char*>(s)) : std::string();
}

void InitContextExtensionOpenGLUnit() { SetExtensionsClass(TOpenGLExtensions::StaticMeta()); }
void FinContextExtensionOpenGLUnit() { SetExtensionsClass(nullptr); }
const TUnitRegistration ContextExtensionOpenGLUnit{{"Quorvel.Context.Extension.OpenGL", {}, &InitContextExtensionOpenGLUnit, &FinContextExtensionOpenGLUnit}};

}  // namespace

void SplitExtensionString(const std::string& AText, TStringList& AList) {
  size_t start = 0;
  for (size_t space = AText.find(' '); space != std::string::npos; space = AText.find(' ', start)) {
    AList.Add(AText.substr(start, space - start));
    start = space + 1;
  }
  if (start < AText.size()) AList.Add(AText.substr(start));
}

void TOpenGLExtensions::LoadExtensions() {
  // Without a current context the list stays empty: GL must not be called then.
  if (!wglGetCurrentContext()) {
    Extensions->SetSorted(true);
    return;
  }
  const std::string text = ExtensionGLString(GL_EXTENSIONS);
  if (HasGLError()) {
    Extensions->SetSorted(true);
    return;
  }
  SplitExtensionString(text, *Extensions);
  Extensions->SetSorted(true);
  FRenderer = UpperCase(ExtensionGLString(GL_RENDERER));
}

}  // namespace quorvel
