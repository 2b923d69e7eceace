#include "lib/passes/PassShaders.h"

#include <cstdint>

namespace quorvel {

TContextShader* RegisterPassShader(const std::string& ABase, const TObject* AMaterial, TContextShaderKind AKind,
                                   const char* AText, const TContextShaderVariables& AVariables) {
  const char* extension = AKind == TContextShaderKind::VertexShader   ? ".fvs"
                          : AKind == TContextShaderKind::PixelShader ? ".fps"
                                                                     : ".fgs";
  const std::string name = ABase + "-" + std::to_string(uint64_t(reinterpret_cast<uintptr_t>(AMaterial))) + extension;
  return TShaderManager::RegisterShaderFromData(
      name, AKind, "",
      {TContextShaderSource(TContextShaderArch::GLSL, TContextShaderSource::CodeFromText(AText), AVariables)});
}

int32_t CopyEnabledShaderLights(const std::vector<TQuorvelShaderLight>& AFrom, TQuorvelShaderLight* ATo,
                                int32_t ACapacity) {
  int32_t count = 0;
  for (const TQuorvelShaderLight& light : AFrom) {
    if (count == ACapacity) break;
    if (light.IsEnabled()) ATo[count++] = light;
  }
  return count;
}

}  // namespace quorvel
