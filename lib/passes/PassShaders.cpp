#include "lib/passes/PassShaders.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <unordered_map>
#include <utility>
#include <vector>

namespace quorvel {

namespace {

// Main thread only, like the materials that use them.
using TTextKey = std::pair<int, std::string>;  // kind, GLSL code

// The GL shader of each text, compiled once for the process.
std::map<TTextKey, TContextShaderHandle>& Compiled() {
  static auto* compiled = new std::map<TTextKey, TContextShaderHandle>;  // outlives static destructors
  return *compiled;
}

// The names registered for each material.
std::unordered_map<const TObject*, std::vector<std::string>>& Registered() {
  static auto* registered = new std::unordered_map<const TObject*, std::vector<std::string>>;
  return *registered;
}

bool IsPassShader(const TContextShader* AShader) {
  if (!AShader) return false;
  for (const auto& [material, names] : Registered())
    for (const std::string& name : names)
      if (name == AShader->GetName()) return true;
  return false;
}

TTextKey KeyOf(const TContextShader* AShader) {
  const TContextShaderCode& code = AShader->GetSourceByArch(TContextShaderArch::GLSL).Code;
  return {static_cast<int>(AShader->GetKind()), std::string(code.begin(), code.end())};
}

}  // namespace

TContextShader* RegisterPassShader(const std::string& ABase, const TObject* AMaterial, TContextShaderKind AKind,
                                   const char* AText, const TContextShaderVariables& AVariables) {
  const char* extension = AKind == TContextShaderKind::VertexShader   ? ".fvs"
                          : AKind == TContextShaderKind::PixelShader ? ".fps"
                                                                     : ".fgs";
  const std::string name = ABase + "-" + std::to_string(uint64_t(reinterpret_cast<uintptr_t>(AMaterial))) + extension;
  TContextShader* shader = TShaderManager::RegisterShaderFromData(
      name, AKind, "",
      {TContextShaderSource(TContextShaderArch::GLSL, TContextShaderSource::CodeFromText(AText), AVariables)});
  std::vector<std::string>& names = Registered()[AMaterial];
  if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
  return shader;
}

void SharePassShaders(std::initializer_list<TContextShader*> AShaders) {
  for (TContextShader* shader : AShaders) {
    if (!shader || shader->GetHandle() != 0 || !IsPassShader(shader)) continue;
    auto it = Compiled().find(KeyOf(shader));
    if (it != Compiled().end()) shader->SetHandle(it->second);
  }
}

void RememberPassShaders(std::initializer_list<TContextShader*> AShaders) {
  for (TContextShader* shader : AShaders)
    if (shader && shader->GetHandle() != 0 && IsPassShader(shader))
      Compiled().try_emplace(KeyOf(shader), shader->GetHandle());
}

void ReleasePassShaders(const TObject* AMaterial) {
  auto it = Registered().find(AMaterial);
  if (it == Registered().end()) return;
  const std::vector<std::string> names = std::move(it->second);
  Registered().erase(it);
  for (const std::string& name : names) {
    TContextShader* shader = TShaderManager::FindShader(name);
    if (!shader) continue;
    if (shader->GetHandle() != 0) {
      // Kept for the next material with this text; a GL shader of its own goes with it.
      auto [entry, added] = Compiled().try_emplace(KeyOf(shader), shader->GetHandle());
      if (entry->second == shader->GetHandle()) shader->SetHandle(0);
    }
    TShaderManager::UnregisterShader(name);
  }
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
