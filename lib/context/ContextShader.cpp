#include "lib/context/ContextShader.h"

#include <algorithm>
#include <exception>

#include "framework/rtl/Finally.h"
#include "framework/rtl/Monitor.h"
#include "framework/rtl/Units.h"
#include "lib/context/Context.h"
#include "lib/context/ContextBuffers.h"

namespace quorvel {

FW_CLASS_IMPL_META(TShaderProgram, "Quorvel.Context.Shader", TShaderProgramClass)
FW_CLASS_NO_MEMBERS(TShaderProgram)

const TShaderProgramClass* ShaderProgramClass = nullptr;

namespace {


const TShaderProgramClass* CurrentShaderProgramClass() {
  return ShaderProgramClass ? ShaderProgramClass : TShaderProgram::StaticMeta();
}

const TBufferObjectClass* CurrentBufferClass() {
  return BufferObjectClass ? BufferObjectClass : TBufferObject::StaticMeta();
}

// Bind, push, and unbind also when the push fails.
void UploadBlock(TBufferObject* ABuffer, const void* AData, int64_t ASize) {
  ABuffer->Bind();
  auto unbind = Finally([&] { ABuffer->Unbind(); });
  ABuffer->Push(AData, static_cast<intptr_t>(ASize));
}

}  // namespace

// ---- metaclass ----

TShaderProgram* TShaderProgramClass::Create(const TClass* AContextClass, TContextShader* VS,
                                            TContextShader* PS) const {
  return Create(AContextClass, VS, nullptr, nullptr, nullptr, PS);
}

TShaderProgram* TShaderProgramClass::Create(const TClass*, TContextShader*, TContextShader*, TContextShader*,
                                            TContextShader*, TContextShader*) const {
  RaiseAbstractError();
}

int32_t TShaderProgramClass::BuildShader(int32_t, const TContextShaderCode&, bool) const { RaiseAbstractError(); }

void TShaderProgramClass::ActivateDefault() const { RaiseAbstractError(); }

const TShaderProgramClass* SetShaderProgramClass(const TShaderProgramClass* AClass) {
  const TShaderProgramClass* old = CurrentShaderProgramClass();
  ShaderProgramClass = AClass ? AClass : TShaderProgram::StaticMeta();
  return old;
}

void AddShaderVariables(TContextShaderSource& ASource, const TContextShaderVariables& AVariables) {
  ASource.Variables.insert(ASource.Variables.end(), AVariables.begin(), AVariables.end());
}

// ---- TShaderProgram ----

TShaderProgram::TShaderProgram(const TClass* AContextClass, TContextShader* VS, TContextShader* PS)
    : TShaderProgram(AContextClass, VS, nullptr, nullptr, nullptr, PS) {}

TShaderProgram::TShaderProgram(const TClass* AContextClass, TContextShader* VS, TContextShader* GS,
                               TContextShader* TSE, TContextShader* TSC, TContextShader* PS)
    : FContextClass(AContextClass), FLinkShaders{VS, GS, TSE, TSC, PS} {}

TShaderProgram::~TShaderProgram() {
  if (!FUniformBuffers) return;
  for (auto& entry : FUniformBuffers->Items) Free(entry->Buffer);
}

void TShaderProgram::AfterConstruction() {
  TObject::AfterConstruction();
  TContextShader* const* s = FLinkShaders;
  LinkProgram(s[0], s[1], s[2], s[3], s[4]);
  for (TContextShader*& shader : FLinkShaders) shader = nullptr;
}

void TShaderProgram::BeforeDestruction() {
  if (Available()) Use();
  ClearUniformBuffers();
  TObject::BeforeDestruction();
}

const TContextShaderVariable* TShaderProgram::FindVariable(const std::string& AName) const {
  auto it = FVariables.find(AName);
  return it == FVariables.end() ? nullptr : &it->second;
}

void TShaderProgram::LinkProgram(TContextShader* VS, TContextShader* PS) {
  LinkProgram(VS, nullptr, nullptr, nullptr, PS);
}

int32_t TShaderProgram::UniformBufferCount() const {
  return FUniformBuffers ? static_cast<int32_t>(FUniformBuffers->Items.size()) : 0;
}

PUniformBufferStruct TShaderProgram::RegisterUniformBuffer(const std::string& AName, const void* AData,
                                                           int64_t ASize) {
  if (PUniformBufferStruct existing = GetUniformBufferByName(AName)) return existing;
  if (!FUniformBuffers) FUniformBuffers.reset(New<TUniformBufferList>());

  const int32_t count = UniformBufferCount();
  const int32_t maxVertex = TQuorvelContext::MaxVertexShaderUniformBlocks();
  if (maxVertex <= 1) return nullptr;
  if (count >= maxVertex)
    throw Exception("failed to register uniform buffer - maximum number of vertex uniform blocks exceeded");
  const int32_t maxFragment = TQuorvelContext::MaxFragmentShaderUniformBlocks();
  if (maxFragment <= 1) return nullptr;
  if (count >= maxFragment)
    throw Exception("failed to register uniform buffer - maximum number of fragment uniform blocks exceeded");
  if (TQuorvelContext::MaxUniformBlockSize() < ASize)
    throw Exception("failed to register uniform buffer - maximum uniform block size exceeded");
  // A negative size would reach the buffer as a huge upload; no driver limit catches it.
  if (ASize < 0) throw EArgumentException("failed to register uniform buffer - invalid data or size");

  auto entry = std::make_unique<TUniformBufferStruct>();
  entry->Name = AName;
  entry->Binding = -1;
  entry->Data = AData;
  entry->Size = ASize;
  entry->Buffer = CurrentBufferClass()->Create(TBufferUsage::DynamicDraw, TBufferBindingTarget::Uniform, nullptr);

  TMonitorGuard lock(FUniformBuffers.get());
  PUniformBufferStruct result = entry.get();
  FUniformBuffers->Items.push_back(std::move(entry));
  result->Binding = static_cast<int32_t>(FUniformBuffers->Items.size()) - 1;
  UploadBlock(result->Buffer, AData, ASize);
  FUniformBuffersModified = true;
  return result;
}

void TShaderProgram::UnregisterUniformBufferByName(const std::string& AName) {
  if (!FUniformBuffers) return;
  TMonitorGuard lock(FUniformBuffers.get());
  const int32_t idx = IndexOfUniformBuffer(AName);
  if (idx >= 0) UnregisterUniformBufferByIdx(idx);
}

void TShaderProgram::UnregisterUniformBufferByIdx(int32_t AIdx) {
  if (!FUniformBuffers) return;
  TMonitorGuard lock(FUniformBuffers.get());
  auto& items = FUniformBuffers->Items;
  if (AIdx < 0 || AIdx >= static_cast<int32_t>(items.size())) return;
  std::unique_ptr<TUniformBufferStruct> entry = std::move(items[AIdx]);
  items.erase(items.begin() + AIdx);
  FUniformBuffersModified = true;
  FreeUniformBuffer(*entry);
}

void TShaderProgram::ClearUniformBuffers() {
  if (!FUniformBuffers) return;
  {
    TMonitorGuard lock(FUniformBuffers.get());
    auto& items = FUniformBuffers->Items;
    // Entries leave the list one by one, so a failing release neither frees an entry twice
    // (here and in the destructor) nor keeps the ones after it.
    while (!items.empty()) {
      std::unique_ptr<TUniformBufferStruct> entry = std::move(items.front());
      items.erase(items.begin());
      // A release that fails still frees the entry's buffer object.
      auto freeBuffer = Finally([&] { Free(entry->Buffer); });
      FreeUniformBuffer(*entry);
      freeBuffer.Dismiss();
    }
  }
  FUniformBuffers.reset();
  FUniformBuffersModified = true;
}

int32_t TShaderProgram::IndexOfUniformBuffer(const std::string& AName) const {
  if (!FUniformBuffers) return -1;
  const auto& items = FUniformBuffers->Items;
  for (size_t i = 0; i < items.size(); ++i)
    if (items[i]->Name == AName) return static_cast<int32_t>(i);
  return -1;
}

PUniformBufferStruct TShaderProgram::GetUniformBufferByName(const std::string& AName) const {
  const int32_t idx = IndexOfUniformBuffer(AName);
  return idx < 0 ? nullptr : FUniformBuffers->Items[idx].get();
}

void TShaderProgram::PushUniformBuffers() {
  if (!FUniformBuffers) return;
  TMonitorGuard lock(FUniformBuffers.get());
  auto& items = FUniformBuffers->Items;
  for (size_t i = 0; i < items.size(); ++i) {
    TUniformBufferStruct& entry = *items[i];
    if (!entry.Buffer) continue;
    if (FUniformBuffersModified) entry.Buffer->Unlink();
    entry.Buffer->LinkWithBindingPoint(static_cast<uint32_t>(i), false);
    entry.Buffer->LinkWithShaderProgram(this, entry.Name, nullptr, 0, false);
    UploadBlock(entry.Buffer, entry.Data, entry.Size);
  }
  FUniformBuffersModified = false;
}

// ---- the program cache ----

namespace {

struct TProgramCacheState {
  std::unique_ptr<std::vector<TShaderProgram*>> Programs;  // made on first add
  TShaderProgram* Current = nullptr;
};

TProgramCacheState& CacheState() {
  static TProgramCacheState state;
  return state;
}

bool Compiled(const TContextShader* AShader) { return AShader && AShader->GetHandle() != 0; }

}  // namespace

TShaderProgram* TShaderProgramCache::Find(uintptr_t AVS, uintptr_t APS, uintptr_t AGS, uintptr_t ATSE,
                                          uintptr_t ATSC) {
  const TProgramCacheState& state = CacheState();
  if (!state.Programs) return nullptr;
  for (TShaderProgram* p : *state.Programs)
    if (p->GetVS() == AVS && p->GetPS() == APS && p->GetGS() == AGS && p->GetTSE() == ATSE && p->GetTSC() == ATSC)
      return p;
  return nullptr;
}

TShaderProgram* TShaderProgramCache::Find(const TContextShader* VS, const TContextShader* PS) {
  if (!Compiled(VS) || !Compiled(PS) || !TQuorvelContext::IsContextAvailable()) return nullptr;
  return Find(VS->GetHandle(), PS->GetHandle());
}

TShaderProgram* TShaderProgramCache::GetOrCreate(const TClass* AContextClass, TContextShader* VS,
                                                 TContextShader* GS, TContextShader* TSE, TContextShader* TSC,
                                                 TContextShader* PS) {
  if (!TQuorvelContext::IsContextAvailable() || !Compiled(VS) || !Compiled(PS)) return nullptr;
  const auto handle = [](const TContextShader* AShader) { return AShader ? AShader->GetHandle() : 0; };
  if (TShaderProgram* cached = Find(VS->GetHandle(), PS->GetHandle(), handle(GS), handle(TSE), handle(TSC)))
    return cached;
  TShaderProgram* program = CurrentShaderProgramClass()->Create(AContextClass, VS, GS, TSE, TSC, PS);
  TProgramCacheState& state = CacheState();
  if (!state.Programs) state.Programs = std::make_unique<std::vector<TShaderProgram*>>();
  state.Programs->push_back(program);
  if (TQuorvelContext::HasAnyErrors())
    RaiseContextException(nullptr, &SCannotActivateShaderProgram,
                          {AContextClass ? AContextClass->ClassName() : std::string("TQuorvelContext")});
  return program;
}

void TShaderProgramCache::DoSetShaders(const TClass* AContextClass, TContextShader* VS, TContextShader* GS,
                                       TContextShader* TSE, TContextShader* TSC, TContextShader* PS) {
  if (!TQuorvelContext::IsContextAvailable() || !Compiled(VS) || !Compiled(PS)) return;
  TProgramCacheState& state = CacheState();
  // A failed lookup or link leaves no program current rather than a stale one.
  state.Current = nullptr;
  TShaderProgram* program = GetOrCreate(AContextClass, VS, GS, TSE, TSC, PS);
  state.Current = program;
  if (program)
    program->Use();
  else
    CurrentShaderProgramClass()->ActivateDefault();
}

void TShaderProgramCache::SetShaders(const TClass* AContextClass, TContextShader* VS, TContextShader* GS,
                                     TContextShader* TSE, TContextShader* TSC, TContextShader* PS) {
  if (!VS || !PS) return;
  for (TContextShader* shader : {VS, PS, GS, TSE, TSC})
    if (shader && shader->GetHandle() == 0) TContextManager::InitializeShader(shader);
  if (TQuorvelContext::IsContextAvailable()) DoSetShaders(AContextClass, VS, GS, TSE, TSC, PS);
}

int32_t TShaderProgramCache::BuildShader(const TClass* AContextClass, int32_t AType, const TContextShaderCode& ACode) {
  const TContextClass* platform = TContextManager::DefaultContextClass();
  if (!platform || !platform->Valid()) throw Exception("TQuorvelContext.CreateFromTexture failed - invalid context");
  if (!TQuorvelContext::IsContextAvailable()) return 0;
  const bool designTime = TQuorvelContext::IsDesignTime();
  const int32_t result = CurrentShaderProgramClass()->BuildShader(AType, ACode, designTime);
  if (TQuorvelContext::HasAnyErrors()) {
    const std::string source(ACode.begin(), ACode.end());
    RaiseShaderCompileException(nullptr, designTime, &SCannotCreateShader,
                                {AContextClass ? AContextClass->ClassName() : std::string("TQuorvelContext"),
                                 std::string(), source});
  }
  return result;
}

void TShaderProgramCache::Remove(TShaderProgram* AProgram) {
  TProgramCacheState& state = CacheState();
  if (!AProgram || !state.Programs) return;
  auto& list = *state.Programs;
  auto it = std::find(list.begin(), list.end(), AProgram);
  if (it == list.end()) return;
  list.erase(it);
  if (state.Current == AProgram) state.Current = nullptr;
  Free(AProgram);
}

void TShaderProgramCache::RemoveUsing(uintptr_t AHandle) {
  TProgramCacheState& state = CacheState();
  if (AHandle == 0 || !state.Programs) return;
  const auto uses = [AHandle](const TShaderProgram* p) {
    return p->GetVS() == AHandle || p->GetPS() == AHandle || p->GetGS() == AHandle || p->GetTSE() == AHandle ||
           p->GetTSC() == AHandle;
  };
  std::vector<TShaderProgram*> stale;
  for (TShaderProgram* p : *state.Programs)
    if (uses(p)) stale.push_back(p);
  for (TShaderProgram* p : stale) Remove(p);
}

void TShaderProgramCache::Clear() {
  TProgramCacheState& state = CacheState();
  state.Current = nullptr;
  if (!state.Programs) return;
  std::unique_ptr<std::vector<TShaderProgram*>> programs = std::move(state.Programs);
  std::exception_ptr first;
  for (TShaderProgram* p : *programs) {
    try {
      Free(p);
    } catch (...) {
      if (!first) first = std::current_exception();
    }
  }
  if (first) std::rethrow_exception(first);
}

int32_t TShaderProgramCache::Count() {
  const TProgramCacheState& state = CacheState();
  return state.Programs ? static_cast<int32_t>(state.Programs->size()) : 0;
}

TShaderProgram* TShaderProgramCache::GetCurrent() { return CacheState().Current; }

void TShaderProgramCache::SetCurrent(TShaderProgram* AProgram) { CacheState().Current = AProgram; }

namespace {

void InitContextShaderUnit() { ShaderProgramClass = TShaderProgram::StaticMeta(); }
// The cache owns its programs; whatever is left goes with the unit.
void FinContextShaderUnit() { TShaderProgramCache::Clear(); }

const TUnitRegistration ContextShaderUnit{{"Quorvel.Context.Shader", {}, &InitContextShaderUnit, &FinContextShaderUnit}};

}  // namespace

}  // namespace quorvel
