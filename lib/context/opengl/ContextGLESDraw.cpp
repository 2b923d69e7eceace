// Primitive drawing of the OpenGL context: the one place the engine issues GL draw calls.
#include <epoxy/gl.h>

#include <algorithm>

#include "framework/io/Stream.h"
#include "framework/rtl/Finally.h"
#include "lib/context/opengl/ContextGLES.h"
#include "lib/materials/MaterialLayered.h"

namespace quorvel {

namespace {

constexpr int32_t AttributeCount = 16;
constexpr int32_t InstanceMatrixLocation = 12;

struct TAttributeFormat {
  GLuint Location;
  GLint Components;
  GLenum Type;
  GLboolean Normalized;
};

TAttributeFormat AttributeOf(TVertexFormat AFormat) {
  switch (AFormat) {
    case TVertexFormat::Vertex: return {0, 3, GL_FLOAT, GL_FALSE};
    case TVertexFormat::Normal: return {1, 3, GL_FLOAT, GL_FALSE};
    case TVertexFormat::Color0:
    case TVertexFormat::Color1:
    case TVertexFormat::Color2:
    case TVertexFormat::Color3:
      return {GLuint(2 + int(AFormat) - int(TVertexFormat::Color0)), 4, GL_UNSIGNED_BYTE, GL_TRUE};
    case TVertexFormat::ColorF0:
    case TVertexFormat::ColorF1:
    case TVertexFormat::ColorF2:
    case TVertexFormat::ColorF3:
      return {GLuint(2 + int(AFormat) - int(TVertexFormat::ColorF0)), 4, GL_FLOAT, GL_FALSE};
    case TVertexFormat::TexCoord0:
    case TVertexFormat::TexCoord1:
    case TVertexFormat::TexCoord2:
    case TVertexFormat::TexCoord3:
      return {GLuint(6 + int(AFormat) - int(TVertexFormat::TexCoord0)), 2, GL_FLOAT, GL_FALSE};
    case TVertexFormat::BiNormal: return {10, 3, GL_FLOAT, GL_FALSE};
    case TVertexFormat::Tangent: return {11, 3, GL_FLOAT, GL_FALSE};
  }
  return {0, 3, GL_FLOAT, GL_FALSE};
}

GLenum ModeOf(TQuorvelPrimitivesKind AKind) {
  switch (AKind) {
    case TQuorvelPrimitivesKind::Points: return GL_POINTS;
    case TQuorvelPrimitivesKind::Lines: return GL_LINES;
    case TQuorvelPrimitivesKind::LineLoop: return GL_LINE_LOOP;
    case TQuorvelPrimitivesKind::LineStrip: return GL_LINE_STRIP;
    case TQuorvelPrimitivesKind::TriangleStrip: return GL_TRIANGLE_STRIP;
    case TQuorvelPrimitivesKind::TriangleFan: return GL_TRIANGLE_FAN;
    default: return GL_TRIANGLES;
  }
}

bool IsLineMode(GLenum AMode) { return AMode == GL_LINES || AMode == GL_LINE_LOOP || AMode == GL_LINE_STRIP; }

// A base (client memory, or none for a bound buffer) plus a byte offset, as GL takes it.
const void* At(const void* ABase, intptr_t AOffset) {
  return reinterpret_cast<const void*>(reinterpret_cast<uintptr_t>(ABase) + static_cast<uintptr_t>(AOffset));
}

// Client-side indices are read by GL up to the largest index; one beyond the vertices
// would read past the caller's vertex memory.
void CheckClientIndices(const void* AIndices, int32_t AIndexSize, int32_t AIndexCount, int32_t AVertexCount) {
  if (AIndexCount <= 0) return;
  if (!AIndices) throw Exception("DrawElements: index data missing");
  uint32_t maxIndex = 0;
  if (AIndexSize == 2) {
    const auto* p = static_cast<const uint16_t*>(AIndices);
    for (int32_t i = 0; i < AIndexCount; ++i) maxIndex = std::max<uint32_t>(maxIndex, p[i]);
  } else if (AIndexSize == 4) {
    const auto* p = static_cast<const uint32_t*>(AIndices);
    for (int32_t i = 0; i < AIndexCount; ++i) maxIndex = std::max(maxIndex, p[i]);
  } else {
    return;  // the draw reports the index size
  }
  if (int64_t(maxIndex) >= int64_t(AVertexCount))
    throw Exception(Format("DrawElements: index %d out of range (vertex count %d)", int64_t(maxIndex),
                           int64_t(AVertexCount)));
}

// Applies a layer's material as the engine context applies a material: its apply, then the
// matrices it names.
void ApplyLayerMaterial(TQuorvelContext* AContext, TMaterial* AMaterial) {
  if (!AMaterial) return;
  AMaterial->Apply(AContext);
  using P = TMaterial::TProperty;
  for (P property : {P::ModelViewProjection, P::ModelView, P::ModelViewInverseTranspose}) {
    const std::string name = AMaterial->GetMaterialProperty(property);
    if (name.empty()) continue;
    TMatrix3D m;
    switch (property) {
      case P::ModelViewProjection: m = AContext->GetCurrentModelViewProjectionMatrix(); break;
      case P::ModelView: m = AContext->GetCurrentMatrix(); break;
      case P::ModelViewInverseTranspose: m = AContext->GetCurrentMatrix().Inverse().Transpose(); break;
    }
    AContext->SetShaderVariable(name, m, false);
  }
}

// The vertex arrays of one batched draw, pointed at the caller's memory, a decompressed copy
// of the cache or the cache's buffers. Whatever way the draw ends, no array stays enabled and
// no vertex buffer bound: an array left pointing at this caller's memory would be read by the
// next draw.
class TBatchVertices {
public:
  TBatchVertices(TMeshBufferObject* ACache, const TVertexDeclaration& ADeclaration, int32_t AVertexSize)
      : FCache(ACache), FDeclaration(ADeclaration), FPositionStride(AVertexSize), FVertexSize(AVertexSize) {}
  TBatchVertices(const TBatchVertices&) = delete;
  TBatchVertices& operator=(const TBatchVertices&) = delete;
  ~TBatchVertices() {
    Quietly("DoDrawPrimitivesBatch: releasing the vertex arrays", [&] { ReleaseArrays(); });
  }

  // Points the arrays at the caller's vertices (no cache); false when there are none.
  bool BindClientVertices(const void* AVertices) {
    if (!AVertices) return false;
    FPositionBase = FAttributeBase = AVertices;
    BindPositions();
    BindAttributes();
    return true;
  }

  // Points the arrays at what the cache holds: a compressed copy of the positions or of the
  // whole vertices, a position buffer beside the static vertices, whole vertices of its own, or
  // the static vertices.
  void BindCacheVertices(const void* AVertices) {
    if (FCache->GetIsCompressed(TMeshBufferComponent::Vertex)) {
      FStream.reset(FCache->Decompress(TMeshBufferComponent::Vertex));
      FPositionBase = FStream->GetMemory();
      FPositionOffset = 0;
      FPositionStride = 12;
      BindPositions();
      BindStaticVertices(AVertices);
      BindAttributes();
    } else if (FCache->GetIsCompressed(TMeshBufferComponent::All)) {
      FStream.reset(FCache->Decompress(TMeshBufferComponent::All));
      FPositionBase = FAttributeBase = FStream->GetMemory();
      BindPositions();
      BindAttributes();
    } else if (FCache->ComponentAvailable(TMeshBufferComponent::Vertex)) {
      FPositionBuffer = FCache->GetComponent(TMeshBufferComponent::Vertex);
      FPositionStride = 12;
      if (!FPositionBuffer) throw Exception("uncompressed vertex position framebuffer not available");
      if (FPositionBuffer->Bind() < 1) throw Exception("failed to draw buffer - buffer object empty");
      BindPositions();
      BindStaticVertices(AVertices);
      BindAttributes();
    } else if (FCache->ComponentAvailable(TMeshBufferComponent::All) && FCache->GetStaticBuffer() != FCache) {
      // Whole vertices of their own (a baked animation frame): the static buffer beside them
      // holds the mesh at rest and would hide the frame.
      FPositionBuffer = FCache->GetComponent(TMeshBufferComponent::All);
      if (FPositionBuffer->Bind() < 1) throw Exception("failed to draw buffer - buffer object empty");
      BindPositions();
      BindAttributes();
    } else if (FCache->ComponentAvailable(TMeshBufferComponent::All)) {
      BindStaticVertices(AVertices);
      BindPositions();
      BindAttributes();
    } else {
      throw Exception("cache used, but no meshbuffer object found ...");
    }
  }

  // The release of a draw that went well: the first GL error of unbinding the cache's
  // buffers is reported (GL_NO_ERROR when none).
  GLenum Release() {
    DisableArrays();
    FStream.reset();
    GLenum error = GL_NO_ERROR;
    if (FStaticVerticesBound) {
      FStaticVerticesBound = false;
      FCache->UnbindStaticVertices();
      error = glGetError();
    }
    if (FPositionBuffer && FPositionBuffer->GetBinded()) {
      FPositionBuffer->Unbind();
      if (error == GL_NO_ERROR) error = glGetError();
    }
    return error;
  }

private:
  void BindPositions() {
    FAttributesSet = true;
    auto it = std::find_if(FDeclaration.begin(), FDeclaration.end(),
                           [](const TVertexElement& e) { return e.Format == TVertexFormat::Vertex; });
    if (it == FDeclaration.end()) return;
    if (FPositionOffset == -1) FPositionOffset = it->Offset;
    glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, FPositionStride, At(FPositionBase, FPositionOffset));
    glEnableVertexAttribArray(0);
  }
  void BindStaticVertices(const void* AVertices) {
    if (FCache->IsStaticBufferAvailable()) {
      FCache->BindStaticVertices();
      FStaticVerticesBound = true;
    } else {
      FAttributeBase = FPositionBase = AVertices;
      FPositionOffset = -1;
    }
  }
  void BindAttributes() {
    FAttributesSet = true;
    for (const TVertexElement& e : FDeclaration) {
      if (e.Format == TVertexFormat::Vertex) continue;
      const TAttributeFormat a = AttributeOf(e.Format);
      glVertexAttribPointer(a.Location, a.Components, a.Type, a.Normalized, FVertexSize, At(FAttributeBase, e.Offset));
      glEnableVertexAttribArray(a.Location);
    }
  }
  // Disables the arrays and unbinds the vertex buffers this draw bound (also after a failure).
  void DisableArrays() {
    if (!FAttributesSet) return;
    FAttributesSet = false;
    for (GLuint i = 0; i < AttributeCount; ++i) glDisableVertexAttribArray(i);
  }
  void ReleaseArrays() {
    DisableArrays();
    if (FStaticVerticesBound) {
      FStaticVerticesBound = false;
      FCache->UnbindStaticVertices();
    }
    if (FPositionBuffer && FPositionBuffer->GetBinded()) FPositionBuffer->Unbind();
  }

  TMeshBufferObject* const FCache;
  const TVertexDeclaration& FDeclaration;
  int32_t FPositionStride;
  const int32_t FVertexSize;
  const void* FPositionBase = nullptr;
  const void* FAttributeBase = nullptr;
  intptr_t FPositionOffset = -1;
  TOwned<TMemoryStream> FStream;
  TBufferObject* FPositionBuffer = nullptr;
  bool FStaticVerticesBound = false;
  bool FAttributesSet = false;
};

// The layered material of a draw: its first pass draws as it is, every later pass draws one
// layer blended on top without depth test. Restore undoes the layers' state changes through
// the context's state record, so the record and GL agree afterwards.
class TLayerPasses {
public:
  TLayerPasses(TQuorvelContext* AContext, TQuorvelLayeredMaterial* ALayered)
      : FContext(AContext), FLayered(ALayered), FSavedBlendings(AContext->GetBlendings()) {}

  int32_t Count() const { return FLayered ? FLayered->GetMaterialsCount() + 1 : 1; }

  void Begin() {
    if (!FLayered) return;
    FBlendWasOn = FContext->GetCurrentState(TContextState::csAlphaBlendOn);
    FDepthWasOn = FContext->GetCurrentState(TContextState::csZTestOn) ||
                  (!FContext->GetCurrentState(TContextState::csZTestOff) && glIsEnabled(GL_DEPTH_TEST));
    if (!FBlendWasOn) FContext->SetContextState(TContextState::csAlphaBlendOff);
    FContext->SetBlendings(TBlendSettings{});
  }

  // The state and material of pass APass (0: none); null when the pass has no layer to draw.
  bool Apply(int32_t APass, TMaterial*& AMaterial) {
    AMaterial = nullptr;
    if (APass < 1) return true;
    if (!FBlendWasOn) FContext->SetContextState(TContextState::csAlphaBlendOn);
    if (APass == 1) {
      FDepthChanged = true;
      FContext->SetContextState(TContextState::csZTestOff);
      TBlendSettings additive;
      additive.fill(TBlendSetting::Create(true, TBlendEquationFunc::befAdd, TBlendFactor::bfOne,
                                          TBlendFactor::bfOneMinusSrcColor, TBlendFactor::bfOne,
                                          TBlendFactor::bfOneMinusSrcAlpha));
      FContext->SetBlendings(additive);
    }
    TQuorvelLayeredMaterialItem* item = FLayered->GetMaterialItem(FContext, APass - 1);
    if (!item || !item->GetMaterial()) return false;
    AMaterial = TMaterialSource::ValidMaterial(item->GetMaterial());
    ApplyLayerMaterial(FContext, AMaterial);
    return true;
  }

  void Restore() {
    if (!FLayered) return;
    FContext->SetCurrentLayeredMaterial(nullptr);
    if (!FBlendWasOn) FContext->SetContextState(TContextState::csAlphaBlendOff);
    FContext->SetBlendings(FSavedBlendings);
    if (FDepthChanged && FDepthWasOn) FContext->SetContextState(TContextState::csZTestOn);
  }

private:
  TQuorvelContext* const FContext;
  TQuorvelLayeredMaterial* const FLayered;
  const TBlendSettings FSavedBlendings;
  bool FBlendWasOn = false;
  bool FDepthWasOn = false;
  bool FDepthChanged = false;
};

}  // namespace

TQuorvelLayeredMaterial* TQuorvelContextOpenGLES::CurrentLayeredMaterial() {
  if (!FCurrentLayeredMaterial) return nullptr;
  auto* layered = dynamic_cast<TQuorvelLayeredMaterial*>(FCurrentLayeredMaterial);
  if (!layered) {
    // Forgotten, or every later draw would fail on it too.
    FCurrentLayeredMaterial = nullptr;
    throw EInvalidCast("Invalid class typecast");
  }
  return layered;
}

void TQuorvelContextOpenGLES::DrawBatchElements(uint32_t AMode, int32_t AIndexSize, int32_t AIndexCount,
                                                const void* AIndices, int32_t AVertexCount) {
  GlobalDrawCalls.fetch_add(1, std::memory_order_relaxed);
  const int64_t instances = FInstanceCount >= 1 ? FInstanceCount : 1;
  GlobalVertexCount.fetch_add(int64_t(AVertexCount) * instances, std::memory_order_relaxed);
  GlobalIndexCount.fetch_add(int64_t(AIndexCount) * instances, std::memory_order_relaxed);
  if (FInstanceCount >= 1) {
    DrawBatchInstanced(AMode, AIndexSize, AIndexCount, AIndices);
    return;
  }
  GlobalDrawInstances.fetch_add(1, std::memory_order_relaxed);
  if (AIndexSize == 2) {
    if (AIndexCount > 0)
      glDrawElements(AMode, AIndexCount, GL_UNSIGNED_SHORT, AIndices);
    else
      glDrawArrays(AMode, 0, AVertexCount);
  } else if (AIndexSize == 4) {
    glDrawElements(AMode, AIndexCount, GL_UNSIGNED_INT, AIndices);
  } else {
    throw Exception("DrawElements(2): invalid index size");
  }
}

void TQuorvelContextOpenGLES::DrawBatchInstanced(uint32_t AMode, int32_t AIndexSize, int32_t AIndexCount,
                                                 const void* AIndices) {
  GlobalDrawInstances.fetch_add(FInstanceCount, std::memory_order_relaxed);
  if (!FInstanceVAO) CreateInstanceBuffer();
  FInstanceVAO->Bind();
  // The instances are spent by this draw, also by a failed one.
  auto done = Finally([&] {
    FInstanceVAO->Unbind();
    UnsetInstances();
  });
  for (GLuint k = 0; k < 4; ++k) {
    glEnableVertexAttribArray(InstanceMatrixLocation + k);
    glVertexAttribPointer(InstanceMatrixLocation + k, 4, GL_FLOAT, GL_FALSE, 64, At(nullptr, intptr_t(16) * k));
  }
  for (GLuint k = 0; k < 4; ++k) glVertexAttribDivisor(InstanceMatrixLocation + k, 1);
  GLenum type;
  if (AIndexSize == 2)
    type = GL_UNSIGNED_SHORT;
  else if (AIndexSize == 4)
    type = GL_UNSIGNED_INT;
  else
    throw Exception("DrawElements(1): invalid index size");
  glDrawElementsInstanced(AMode, AIndexCount, type, AIndices, FInstanceCount);
}

void TQuorvelContextOpenGLES::DrawBatchPasses(TMeshBufferObject* ACache, TQuorvelPrimitivesKind AKind,
                                              float ALineWidth, const void* AIndices, int32_t AIndexSize,
                                              int32_t AIndexCount, int32_t AVertexCount) {
  const GLenum mode = ModeOf(AKind);
  if (IsLineMode(mode)) glLineWidth(ALineWidth);
  TLayerPasses layers(this, CurrentLayeredMaterial());
  layers.Begin();
  {
    auto restore = Finally([&] { layers.Restore(); });
    for (int32_t p = 0; p < layers.Count(); ++p) {
      TMaterial* material = nullptr;
      if (!layers.Apply(p, material)) continue;
      if (ACache) {
        const intptr_t bytes = ACache->BindStaticIndices();
        auto unbind = Finally([&] { ACache->UnbindStaticIndices(); });
        if (bytes > 0) DrawBatchElements(mode, AIndexSize, static_cast<int32_t>(bytes / AIndexSize), nullptr, AVertexCount);
      } else {
        DrawBatchElements(mode, AIndexSize, AIndexCount, AIndices, AVertexCount);
      }
      if (material) material->Reset(this);
    }
  }
  if (mode == GL_LINES) glLineWidth(1.0f);
}

void TQuorvelContextOpenGLES::DoDrawPrimitivesBatch(TPrimitivesKind AKind, const void* Vertices, const void* Indices,
                                                    const TVertexDeclaration& VertexDeclaration, int32_t VertexSize,
                                                    int32_t VertexCount, int32_t IndexSize, int32_t IndexCount) {
  TMeshBufferObject* const cache = FCurrentCache;
  // The cache is a one-shot for this draw: forgotten on every way out, also a failed one, so
  // the next object never draws a stale (or freed) cache.
  FCurrentCache = nullptr;
  try {
    if (!Valid()) return;
    TBatchVertices vertices(cache, VertexDeclaration, VertexSize);
    TQuorvelPrimitivesKind kind = static_cast<TQuorvelPrimitivesKind>(AKind);
    float lineWidth = 1.0f;
    if (!cache) {
      if (!Vertices) return;
      CheckClientIndices(Indices, IndexSize, IndexCount, VertexCount);
      vertices.BindClientVertices(Vertices);
    } else {
      vertices.BindCacheVertices(Vertices);
      kind = cache->GetKind();
      lineWidth = cache->GetLineWidth();
      // The element count is the buffer size divided by the index size; other bad sizes are
      // refused by the draw itself.
      if (IndexSize <= 0)
        throw Exception(FInstanceCount >= 1 ? "DrawElements(1): invalid index size"
                                            : "DrawElements(2): invalid index size");
    }
    DrawBatchPasses(cache, kind, lineWidth, Indices, IndexSize, IndexCount, VertexCount);
    const GLenum error = vertices.Release();
    if (cache && error != GL_NO_ERROR)
      RaiseContextException(this, &SErrorInContextMethod, {Format("DoDrawPrimitivesBatch: Error = %d", int64_t(error))});
  } catch (const std::exception& e) {
    throw Exception(std::string("Exception in TQuorvelContextOpenGLES.DoDrawPrimitivesBatch(): ") + e.what());
  }
}

}  // namespace quorvel
