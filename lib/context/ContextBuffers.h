#pragma once
// GPU buffers without a graphics API: the abstract TBufferObject, the class variable through
// which every buffer is created, and TMeshBufferObject, the GPU side of one mesh or one cached
// animation frame. The OpenGL class installs itself in BufferObjectClass at unit start.
#include <array>
#include <cstdint>
#include <string>

#include "framework/gui3d/VertexBuffer.h"
#include "framework/io/Stream.h"
#include "framework/rtl/Object.h"
#include "lib/context/ContextTypes.h"

namespace quorvel {

enum class TBufferUsage : uint8_t {
  StreamDraw, StreamRead, StreamCopy, StaticDraw, StaticRead, StaticCopy, DynamicDraw, DynamicRead, DynamicCopy
};

enum class TBufferBindingTarget : uint8_t {
  _Array, CopyRead, CopyWrite, DrawIndirect, ElementArray, PixelPack, PixelUnpack, Texture, TransformFeedback, Uniform
};

enum class TBufferAccessMode : uint8_t { ReadOnly, WriteOnly, ReadWrite };

// The first 16 share the ordinals of TVertexFormat; All is the interleaved vertex buffer.
enum class TMeshBufferComponent : uint8_t {
  Vertex, Normal, Color0, Color1, Color2, Color3, ColorF0, ColorF1, ColorF2, ColorF3,
  TexCoord0, TexCoord1, TexCoord2, TexCoord3, BiNormal, Tangent, All, Indices
};
inline constexpr int MeshBufferComponentCount = 18;

class TBufferObject;

// Metaclass of the buffer objects: the virtual constructor.
struct TBufferObjectClass : TClass {
  using TClass::TClass;
  virtual TBufferObject* Create(TBufferUsage AUsage, TBufferBindingTarget ATarget, void* AContext) const;
};

// The metaclass of a buffer class T: Create builds a T.
template <class T>
struct TBufferObjectClassOf : TBufferObjectClass {
  using TBufferObjectClass::TBufferObjectClass;
  TBufferObject* Create(TBufferUsage AUsage, TBufferBindingTarget ATarget, void* AContext) const override {
    return New<T>(AUsage, ATarget, AContext);
  }
};

// The GL operations raise EAbstractError here; a graphics class overrides them.
class TBufferObject : public TObject {
  FW_CLASS_META(TBufferObject, TObject, TBufferObjectClass)
public:
  TBufferObject(TBufferUsage AUsage, TBufferBindingTarget ATarget, void* AContext);

  uint32_t GetHandle() const { return FHandle; }
  intptr_t GetSize() const { return FSize; }
  TBufferUsage GetUsage() const { return FUsage; }
  TBufferBindingTarget GetTarget() const { return FTarget; }
  bool GetBinded() const { return FBinded; }
  bool GetLinked() const { return FLinked; }
  void* GetContext() const { return FContext; }

  // The byte size of the last upload.
  virtual intptr_t Bind();
  virtual void Unbind();
  virtual void Push(const void* AData, intptr_t ASize);
  virtual void* SynchronizedMap(TBufferAccessMode AMode);
  virtual void SynchronizedUnmap();
  virtual void Clear();
  virtual void LinkWithBindingPoint(uint32_t ABindingPoint, bool AErrorCheck);
  virtual void LinkWithShaderProgram(TObject* AProgram, const std::string& ABlockName, const void* AData,
                                     uint32_t ASize, bool AErrorCheck);
  virtual void Unlink() { FLinked = false; }

protected:
  void* FContext = nullptr;
  uint32_t FHandle = 0;
  intptr_t FSize = 0;
  TBufferUsage FUsage;
  TBufferBindingTarget FTarget;
  bool FBinded = false;
  uint32_t FBindingPoint = 0;
  uint32_t FBlockIndex = 0;
  bool FLinked = false;
};

// The class every engine buffer is created from (TBufferObject until a graphics unit starts).
extern const TBufferObjectClass* BufferObjectClass;
// Installs a class (nullptr: back to TBufferObject) and answers the one installed before.
const TBufferObjectClass* SetBufferObjectClass(const TBufferObjectClass* AClass);

class TMeshBufferObject : public TObject {
  FW_CLASS(TMeshBufferObject, TObject)
public:
  explicit TMeshBufferObject(TMeshBufferObject* AStaticBuffer = nullptr);
  ~TMeshBufferObject() override;

  TQuorvelPrimitivesKind GetKind() const { return FKind; }
  void SetKind(TQuorvelPrimitivesKind AValue) { FKind = AValue; }
  float GetLineWidth() const { return FLineWidth; }
  void SetLineWidth(float AValue) { FLineWidth = AValue; }
  TMeshBufferObject* GetStaticBuffer() const { return FStaticBuffer; }
  void SetStaticBuffer(TMeshBufferObject* AValue) { FStaticBuffer = AValue; }

  // Created through BufferObjectClass on first use.
  TBufferObject* GetComponent(TMeshBufferComponent AIndex);
  bool ComponentAvailable(TMeshBufferComponent AIndex) const { return bool(FComponents[Slot(AIndex)]); }
  bool GetIsCompressed(TMeshBufferComponent AIndex) const { return bool(FCompressed[Slot(AIndex)]); }
  TStream* GetCompressed(TMeshBufferComponent AIndex) const { return FCompressed[Slot(AIndex)].get(); }
  // Takes ownership of AValue (nullptr clears); the stream held before is freed.
  void SetCompressed(TMeshBufferComponent AIndex, TStream* AValue);

  void PushData(TMeshBufferComponent AIndex, const void* AData, intptr_t ASize);
  void PushData(TMeshBufferComponent AIndex, TVertexBuffer* ABuffer);
  // The inflated copy of a compressed component, rewound; the caller owns it.
  TMemoryStream* Decompress(TMeshBufferComponent AIndex);

  intptr_t BindStaticVertices();
  void UnbindStaticVertices();
  intptr_t BindStaticIndices();
  void UnbindStaticIndices();
  bool IsStaticBufferAvailable() const { return FStaticBuffer != nullptr; }

  void ClearAll();
  // Shares ABuffer's buffers and streams (they stay ABuffer's); the ones this object made
  // itself are freed first.
  void AssignBufferObject(TMeshBufferObject* ABuffer);
  // Drops the shared buffers and streams (and frees any made here since).
  void ClearAssignedBufferObject();

private:
  static size_t Slot(TMeshBufferComponent AIndex);

  TQuorvelPrimitivesKind FKind = TQuorvelPrimitivesKind::Triangles;
  float FLineWidth = 1.0f;
  // Made here, or shared with the buffer object assigned to this one.
  std::array<TMaybeOwned<TBufferObject>, MeshBufferComponentCount> FComponents;
  std::array<TMaybeOwned<TStream>, MeshBufferComponentCount> FCompressed;
  TMeshBufferObject* FStaticBuffer = nullptr;
  // Made here, or shared with the buffer object assigned to this one.
  TMaybeOwned<TMemoryStream> FTempMemStream;
};

}  // namespace quorvel
#include "lib/context/ContextBuffersFrameBuffers.h"
