#include "framework/gui3d/Shader.h"

#include <map>
#include <memory>

#include "framework/gui3d/Context3D.h"
#include "framework/rtl/Finally.h"
#include "framework/rtl/Log.h"
#include "framework/rtl/Units.h"

namespace quorvel {

FW_CLASS_IMPL(TContextShader, "Fw.Types3D")
FW_CLASS_NO_MEMBERS(TContextShader)

const TContextShaderVariable* TContextShaderSource::FindVariable(std::string_view AName) const {
  for (const TContextShaderVariable& v : Variables)
    if (v.Name == AName) return &v;
  return nullptr;
}

TContextShader::TContextShader(std::string AName, TContextShaderKind AKind, std::string AOriginalSource,
                               TContextShaderSources ASources)
    : FName(std::move(AName)), FKind(AKind), FOriginalSource(std::move(AOriginalSource)),
      FSources(std::move(ASources)) {}

const TContextShaderSource& TContextShader::GetSourceByArch(TContextShaderArch AArch) const {
  static const TContextShaderSource undefined;
  for (const TContextShaderSource& s : FSources)
    if (s.Arch == AArch) return s;
  return undefined;
}

bool TContextShader::SameAs(TContextShaderKind AKind, const TContextShaderSources& ASources) const {
  // The whole code is compared, not only its length: two texts of equal length must not
  // share a shader.
  return FKind == AKind && FSources == ASources;
}

namespace {

struct TShaderRegistry {
  std::recursive_mutex Mutex;
  std::map<std::string, std::unique_ptr<TContextShader, TObjectDeleter>, std::less<>> Shaders;
};

TShaderRegistry& ShaderRegistry() {
  static TShaderRegistry* registry = new TShaderRegistry;  // outlives every static destructor
  return *registry;
}

// Releases a shader's GPU object; a failure is logged, never raised, because the shader is
// being replaced or freed either way.
void ReleaseHandle(TContextShader* AShader) noexcept {
  if (AShader->GetHandle() == 0) return;
  Quietly("TShaderManager: releasing shader " + AShader->GetName(),
          [&] { TContextManager::FinalizeShader(AShader); });
  AShader->SetHandle(0);
}

void FinShaderUnit() { TShaderManager::UnInitialize(); }
const TUnitRegistration ShaderUnit{{"Fw.Shaders", {"Fw.Context3D"}, {}, &FinShaderUnit}};

}  // namespace

TContextShader* TShaderManager::RegisterShaderFromData(const std::string& AName, TContextShaderKind AKind,
                                                       const std::string& AOriginalSource,
                                                       const TContextShaderSources& ASources) {
  if (AName.empty()) throw EArgumentException("TShaderManager.RegisterShaderFromData: empty shader name");
  TShaderRegistry& r = ShaderRegistry();
  std::lock_guard lock(r.Mutex);
  auto it = r.Shaders.find(AName);
  if (it == r.Shaders.end()) {
    auto shader = std::unique_ptr<TContextShader, TObjectDeleter>(
        New<TContextShader>(AName, AKind, AOriginalSource, ASources));
    TContextShader* result = shader.get();
    r.Shaders.emplace(AName, std::move(shader));
    return result;
  }
  TContextShader* shader = it->second.get();
  if (shader->SameAs(AKind, ASources)) return shader;
  // Replaced in place: holders of the pointer see the new text, and the old GPU object goes.
  ReleaseHandle(shader);
  shader->FKind = AKind;
  shader->FOriginalSource = AOriginalSource;
  shader->FSources = ASources;
  return shader;
}

TContextShader* TShaderManager::FindShader(std::string_view AName) {
  TShaderRegistry& r = ShaderRegistry();
  std::lock_guard lock(r.Mutex);
  auto it = r.Shaders.find(AName);
  return it == r.Shaders.end() ? nullptr : it->second.get();
}

void TShaderManager::UnregisterShader(std::string_view AName) {
  TShaderRegistry& r = ShaderRegistry();
  std::lock_guard lock(r.Mutex);
  auto it = r.Shaders.find(AName);
  if (it == r.Shaders.end()) return;
  ReleaseHandle(it->second.get());
  r.Shaders.erase(it);
}

size_t TShaderManager::ShaderCount() {
  TShaderRegistry& r = ShaderRegistry();
  std::lock_guard lock(r.Mutex);
  return r.Shaders.size();
}

void TShaderManager::UnInitialize() {
  TShaderRegistry& r = ShaderRegistry();
  std::lock_guard lock(r.Mutex);
  for (auto& [name, shader] : r.Shaders) ReleaseHandle(shader.get());
  r.Shaders.clear();
}

}  // namespace quorvel
