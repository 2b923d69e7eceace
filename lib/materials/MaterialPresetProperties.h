#pragma once
// The published switches the textured presets add to the default source.
#include "framework/rtl/Object.h"

namespace quorvel {

template <class T>
void RegisterTexturedSwitches(ClassBuilder<T>& b) {
  b.Prop("UseLighting", &T::GetUseLighting, &T::SetUseLighting)
      .Prop("UseSpecular", &T::GetUseSpecular, &T::SetUseSpecular)
      .Prop("UseTexturing", &T::GetUseTexturing, &T::SetUseTexturing)
      .Prop("UseTexture0", &T::GetUseTexture0, &T::SetUseTexture0)
      .Prop("UseVertexColor", &T::GetUseVertexColor, &T::SetUseVertexColor)
      .Prop("UseColorClipping", &T::GetUseColorClipping, &T::SetUseColorClipping);
}

}  // namespace quorvel

namespace quorvel {

template <class T>
void RegisterDisplacementComponents(ClassBuilder<T>& b) {
  b.Prop("DisplacementX", &T::GetDisplacementX, &T::SetDisplacementX)
      .Prop("DisplacementY", &T::GetDisplacementY, &T::SetDisplacementY)
      .Prop("DisplacementZ", &T::GetDisplacementZ, &T::SetDisplacementZ)
      .Prop("DisplacementDir", &T::GetDisplacementDir, &T::SetDisplacementDir);
}

}  // namespace quorvel
