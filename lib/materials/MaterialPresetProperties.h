#pragma once
// What the material units share when they register: the published properties the textured
// presets add to the default source, the pool bitmaps they publish, and the unit entry that
// registers a class for streaming.
#include "framework/classes/StoredProperties.h"
#include "framework/rtl/Object.h"
#include "framework/rtl/Units.h"

namespace quorvel {

// A pool entry's bitmap, published but not stored: the pool streams the bitmap itself.
template <class T, class G, class S>
void RegisterPoolBitmap(ClassBuilder<T>& b, const char* AName, G AGetter, S ASetter) {
  b.Prop(AName, AGetter, ASetter);
  SetPropertyNotStored(&b.Class(), AName);
}

template <class T>
void RegisterTexturedProperties(ClassBuilder<T>& b) {
  b.Prop("UseLighting", &T::GetUseLighting, &T::SetUseLighting)
      .Prop("UseSpecular", &T::GetUseSpecular, &T::SetUseSpecular)
      .Prop("UseTexturing", &T::GetUseTexturing, &T::SetUseTexturing)
      .Prop("UseTexture0", &T::GetUseTexture0, &T::SetUseTexture0)
      .Prop("UseVertexColor", &T::GetUseVertexColor, &T::SetUseVertexColor)
      .Prop("UseColorClipping", &T::GetUseColorClipping, &T::SetUseColorClipping);
  RegisterPoolBitmap(b, "Texture", &T::GetTexture, &T::SetTexture);
}

template <class T>
void RegisterDisplacementComponents(ClassBuilder<T>& b) {
  b.Prop("DisplacementX", &T::GetDisplacementX, &T::SetDisplacementX)
      .Prop("DisplacementY", &T::GetDisplacementY, &T::SetDisplacementY)
      .Prop("DisplacementZ", &T::GetDisplacementZ, &T::SetDisplacementZ)
      .Prop("DisplacementDir", &T::GetDisplacementDir, &T::SetDisplacementDir);
}

// A unit whose initialisation registers one class for streaming: a form creates it by name.
inline TUnitEntry StreamedClassUnit(const char* AUnit, const TClass* (*AClass)()) {
  return {AUnit, {}, [AClass] { RegisterFwClasses({AClass()}); }, [AClass] { UnRegisterClasses({AClass()}); }};
}

}  // namespace quorvel
