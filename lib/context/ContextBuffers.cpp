#include "lib/context/ContextBuffers.h"

#include <atomic>
#include <vector>

#include "framework/rtl/Finally.h"
#include "framework/rtl/Monitor.h"
#include "framework/rtl/Units.h"
#include "lib/animation/AnimationFrameCompression.h"

namespace quorvel {

FW_CLASS_IMPL_META(TBufferObject, "Quorvel.Context.Buffers", TBufferObjectClassOf<TBufferObject>)
FW_CLASS_NO_MEMBERS(TBufferObject)
FW_CLASS_IMPL(TMeshBufferObject, "Quorvel.Context.Buffers")
FW_CLASS_NO_MEMBERS(TMeshBufferObject)

const TBufferObjectClass* BufferObjectClass = nullptr;

namespace {


const TBufferObjectClass* CurrentBufferObjectClass() {
  return BufferObjectClass ? BufferObjectClass : TBufferObject::StaticMeta();
}

void InitContextBuffersUnit() { BufferObjectClass = TBufferObject::StaticMeta(); }

const TUnitRegistration ContextBuffersUnit{{"Quorvel.Context.Buffers", {}, &InitContextBuffersUnit, &InitContextBuffersUnit}};

}  // namespace

TBufferObject* TBufferObjectClass::Create(TBufferUsage AUsage, TBufferBindingTarget ATarget, void* AContext) const {
  return New<TBufferObject>(AUsage, ATarget, AContext);
}

const TBufferObjectClass* SetBufferObjectClass(const TBufferObjectClass* AClass) {
  const TBufferObjectClass* old = CurrentBufferObjectClass();
  BufferObjectClass = AClass ? AClass : TBufferObject::StaticMeta();
  return old;
}

// ---- TBufferObject ----

TBufferObject::TBufferObject(TBufferUsage AUsage, TBufferBindingTarget ATarget, void* AContext)
    : FContext(AContext), FUsage(AUsage), FTarget(ATarget) {}

intptr_t TBufferObject::Bind() { RaiseAbstractError(); }
void TBufferObject::Unbind() { RaiseAbstractError(); }
void TBufferObject::Push(const void*, intptr_t) { RaiseAbstractError(); }
void* TBufferObject::SynchronizedMap(TBufferAccessMode) { RaiseAbstractError(); }
void TBufferObject::SynchronizedUnmap() { RaiseAbstractError(); }
void TBufferObject::Clear() { RaiseAbstractError(); }
void TBufferObject::LinkWithBindingPoint(uint32_t, bool) { RaiseAbstractError(); }
void TBufferObject::LinkWithShaderProgram(TObject*, const std::string&, const void*, uint32_t, bool) {
  RaiseAbstractError();
}

// ---- TMeshBufferObject ----

TMeshBufferObject::TMeshBufferObject(TMeshBufferObject* AStaticBuffer) : FStaticBuffer(AStaticBuffer) {}

TMeshBufferObject::~TMeshBufferObject() {
  Quietly("TMeshBufferObject destructor: clearing the buffers", [&] { ClearAll(); });
  FStaticBuffer = nullptr;
  FreeQuietlyAndNil(FTempMemStream, "TMeshBufferObject destructor: temporary stream");
}

size_t TMeshBufferObject::Slot(TMeshBufferComponent AIndex) {
  const size_t i = static_cast<size_t>(AIndex);
  if (i >= MeshBufferComponentCount)
    throw EArgumentOutOfRangeException("invalid mesh buffer component " + std::to_string(i));
  return i;
}

TBufferObject* TMeshBufferObject::GetComponent(TMeshBufferComponent AIndex) {
  TMaybeOwned<TBufferObject>& comp = FComponents[Slot(AIndex)];
  if (!comp) {
    const TBufferBindingTarget target =
        AIndex == TMeshBufferComponent::Indices ? TBufferBindingTarget::ElementArray : TBufferBindingTarget::_Array;
    comp.ResetOwned(CurrentBufferObjectClass()->Create(TBufferUsage::StaticDraw, target, nullptr));
  }
  return comp.get();
}

void TMeshBufferObject::SetCompressed(TMeshBufferComponent AIndex, TStream* AValue) {
  TMaybeOwned<TStream>& slot = FCompressed[Slot(AIndex)];
  if (slot.get() == AValue) return;
  slot.ResetOwned(AValue);
}

void TMeshBufferObject::PushData(TMeshBufferComponent AIndex, const void* AData, intptr_t ASize) {
  TMonitorGuard lock(this);
  TBufferObject* comp = GetComponent(AIndex);
  comp->Bind();
  auto unbind = Finally([&] { comp->Unbind(); });
  comp->Push(AData, ASize);
}

void TMeshBufferObject::PushData(TMeshBufferComponent AIndex, TVertexBuffer* ABuffer) {
  TMonitorGuard lock(this);
  if (!ABuffer) return;
  GetComponent(AIndex);
  switch (AIndex) {
    case TMeshBufferComponent::Vertex:
    case TMeshBufferComponent::All:
      PushData(AIndex, ABuffer->Buffer(), static_cast<intptr_t>(ABuffer->Size()));
      break;
    case TMeshBufferComponent::Indices:
      throw Exception("failed to push index data to mesh buffer object");
    default: {
      if (!FTempMemStream) {
        FTempMemStream.ResetOwned(New<TMemoryStream>());
      } else {
        FTempMemStream->SetPosition(0);
        FTempMemStream->SetSize(0);
      }
      TAnimationFrameCompression::SetSourceStream(static_cast<TVertexFormat>(AIndex), ABuffer, FTempMemStream.get());
      PushData(AIndex, FTempMemStream->GetMemory(), static_cast<intptr_t>(FTempMemStream->GetSize()));
      break;
    }
  }
}

TMemoryStream* TMeshBufferObject::Decompress(TMeshBufferComponent AIndex) {
  TMonitorGuard lock(this);
  TStream* source = FCompressed[Slot(AIndex)].get();
  if (!source) throw Exception("failed to decompress mesh buffer component - no compressed data held");
  return TAnimationFrameCompression::Decompress(source);
}

intptr_t TMeshBufferObject::BindStaticVertices() {
  TMonitorGuard lock(this);
  if (!FStaticBuffer) throw Exception("failed to bind vertices - static buffer not assigned");
  return FStaticBuffer->GetComponent(TMeshBufferComponent::All)->Bind();
}

void TMeshBufferObject::UnbindStaticVertices() {
  TMonitorGuard lock(this);
  if (!FStaticBuffer) throw Exception("failed to unbind vertices - static buffer not assigned");
  FStaticBuffer->GetComponent(TMeshBufferComponent::All)->Unbind();
}

intptr_t TMeshBufferObject::BindStaticIndices() {
  TMonitorGuard lock(this);
  if (!FStaticBuffer) throw Exception("failed to bind indices - static buffer not assigned");
  return FStaticBuffer->GetComponent(TMeshBufferComponent::Indices)->Bind();
}

void TMeshBufferObject::UnbindStaticIndices() {
  TMonitorGuard lock(this);
  if (!FStaticBuffer) throw Exception("failed to unbind indices - static buffer not assigned");
  FStaticBuffer->GetComponent(TMeshBufferComponent::Indices)->Unbind();
}

void TMeshBufferObject::ClearAll() {
  TMonitorGuard lock(this);
  for (TMaybeOwned<TBufferObject>& comp : FComponents) comp.Reset();
  for (TMaybeOwned<TStream>& stream : FCompressed) stream.Reset();
}

void TMeshBufferObject::AssignBufferObject(TMeshBufferObject* ABuffer) {
  if (!ABuffer || ABuffer == this) return;
  FKind = ABuffer->FKind;
  FLineWidth = ABuffer->FLineWidth;
  for (size_t i = 0; i < MeshBufferComponentCount; ++i) {
    // A slot that already holds the same object keeps it (and its owner).
    if (FComponents[i].get() != ABuffer->FComponents[i].get())
      FComponents[i].ResetBorrowed(ABuffer->FComponents[i].get());
    if (FCompressed[i].get() != ABuffer->FCompressed[i].get())
      FCompressed[i].ResetBorrowed(ABuffer->FCompressed[i].get());
  }
  FStaticBuffer = ABuffer->FStaticBuffer;
  if (FTempMemStream.get() != ABuffer->FTempMemStream.get()) FTempMemStream.ResetBorrowed(ABuffer->FTempMemStream.get());
}

void TMeshBufferObject::ClearAssignedBufferObject() {
  ClearAll();
  FStaticBuffer = nullptr;
  FTempMemStream.ResetBorrowed(nullptr);
}

}  // namespace quorvel
