#pragma once
// A buffer object that keeps its data in memory, installed as the buffer class by tests.
#include <cstdint>
#include <cstring>
#include <vector>

#include "framework/rtl/Exceptions.h"
#include "lib/context/ContextBuffers.h"

namespace quorvel::test {

class TMemoryBufferObject : public TBufferObject {
  FW_CLASS_META(TMemoryBufferObject, TBufferObject, TBufferObjectClass)
public:
  using TBufferObject::TBufferObject;

  intptr_t Bind() override {
    if (FBinded) throw Exception("failed to bind - buffer object already bound");
    FBinded = true;
    return FSize;
  }
  void Unbind() override {
    if (!FBinded) throw Exception("failed to unbind - buffer object not bound");
    FBinded = false;
  }
  void Push(const void* AData, intptr_t ASize) override {
    const auto* p = static_cast<const uint8_t*>(AData);
    Data.assign(p, p + ASize);
    FSize = ASize;
    ++Pushes;
  }
  void* SynchronizedMap(TBufferAccessMode) override { return Data.data(); }
  void SynchronizedUnmap() override {}
  void Clear() override {
    FSize = 0;
    Unlink();
    Data.clear();
  }
  void LinkWithBindingPoint(uint32_t ABindingPoint, bool) override { FBindingPoint = ABindingPoint; }
  void LinkWithShaderProgram(TObject*, const std::string&, const void*, uint32_t, bool) override { FLinked = true; }

  std::vector<uint8_t> Data;
  int Pushes = 0;
};

// Installs the memory class for a scope.
class TMemoryBufferClassScope {
public:
  TMemoryBufferClassScope() : FPrevious(SetBufferObjectClass(TMemoryBufferObject::StaticMeta())) {}
  ~TMemoryBufferClassScope() { SetBufferObjectClass(FPrevious); }
  TMemoryBufferClassScope(const TMemoryBufferClassScope&) = delete;
  TMemoryBufferClassScope& operator=(const TMemoryBufferClassScope&) = delete;

private:
  const TBufferObjectClass* FPrevious;
};

inline TMemoryBufferObject* MemoryComponent(TMeshBufferObject* AObject, TMeshBufferComponent AIndex) {
  return dynamic_cast<TMemoryBufferObject*>(AObject->GetComponent(AIndex));
}

}  // namespace quorvel::test
