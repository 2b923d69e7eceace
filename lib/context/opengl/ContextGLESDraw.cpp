// Primitive drawing of the OpenGL context: the one place the engine issues GL draw calls.
#include <epoxy/gl.h>

#include <algorithm>

#include "framework/io/Stream.h"
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

}  // namespace

void TQuorvelContextOpenGLES::DoDrawPrimitivesBatch(TPrimitivesKind AKind, const void* Vertices, const void* Indices,
                                                    const TVertexDeclaration& VertexDeclaration, int32_t VertexSize,
                                                    int32_t VertexCount, int32_t IndexSize, int32_t IndexCount) {
  TMeshBufferObject* const cache = FCurrentCache;
  // The cache is a one-shot for this draw: forgotten on every way out, also a failed one, so
  // the next object never draws a stale (or freed) cache.
  FCurrentCache = nullptr;
  const TBlendSettings savedBlendings = GetBlendings();

  // State this draw changes, restored on every way out.
  TOwned<TMemoryStream> stream;
  TBufferObject* positionBuffer = nullptr;
  bool staticVerticesBound = false;
  bool attributesSet = false;

  auto drawOnce = [&](GLenum AMode, int32_t ASize, int32_t ACount, const void* AIndices) {
    GlobalDrawCalls.fetch_add(1, std::memory_order_relaxed);
    const int64_t instances = FInstanceCount >= 1 ? FInstanceCount : 1;
    GlobalVertexCount.fetch_add(int64_t(VertexCount) * instances, std::memory_order_relaxed);
    GlobalIndexCount.fetch_add(int64_t(ACount) * instances, std::memory_order_relaxed);
    if (FInstanceCount >= 1) {
      GlobalDrawInstances.fetch_add(FInstanceCount, std::memory_order_relaxed);
      if (!FInstanceVAO) CreateInstanceBuffer();
      FInstanceVAO->Bind();
      try {
        for (GLuint k = 0; k < 4; ++k) {
          glEnableVertexAttribArray(InstanceMatrixLocation + k);
          glVertexAttribPointer(InstanceMatrixLocation + k, 4, GL_FLOAT, GL_FALSE, 64,
                                At(nullptr, intptr_t(16) * k));
        }
        for (GLuint k = 0; k < 4; ++k) glVertexAttribDivisor(InstanceMatrixLocation + k, 1);
        GLenum type;
        if (ASize == 2)
          type = GL_UNSIGNED_SHORT;
        else if (ASize == 4)
          type = GL_UNSIGNED_INT;
        else
          throw Exception("DrawElements(1): invalid index size");
        glDrawElementsInstanced(AMode, ACount, type, AIndices, FInstanceCount);
      } catch (...) {
        FInstanceVAO->Unbind();
        UnsetInstances();
        throw;
      }
      FInstanceVAO->Unbind();
      UnsetInstances();
      return;
    }
    GlobalDrawInstances.fetch_add(1, std::memory_order_relaxed);
    if (ASize == 2) {
      if (ACount > 0)
        glDrawElements(AMode, ACount, GL_UNSIGNED_SHORT, AIndices);
      else
        glDrawArrays(AMode, 0, VertexCount);
    } else if (ASize == 4) {
      glDrawElements(AMode, ACount, GL_UNSIGNED_INT, AIndices);
    } else {
      throw Exception("DrawElements(2): invalid index size");
    }
  };

  // Leaves no attribute array enabled and no vertex buffer bound: an array left pointing at
  // this caller's memory would be read by the next draw.
  auto releaseVertexState = [&]() noexcept {
    try {
      if (attributesSet)
        for (GLuint i = 0; i < AttributeCount; ++i) glDisableVertexAttribArray(i);
      if (staticVerticesBound) {
        staticVerticesBound = false;
        cache->UnbindStaticVertices();
      }
      if (positionBuffer && positionBuffer->GetBinded()) positionBuffer->Unbind();
    } catch (...) {
    }
  };

  try {
    if (!Valid()) return;
    const TQuorvelPrimitivesKind requestedKind = static_cast<TQuorvelPrimitivesKind>(AKind);
    try {
      int32_t positionStride = VertexSize;
      const void* positionBase = nullptr;
      const void* attributeBase = nullptr;
      intptr_t positionOffset = -1;
      float lineWidth = 1.0f;
      TQuorvelPrimitivesKind kind = requestedKind;

      auto stepP = [&] {
        attributesSet = true;
        auto it = std::find_if(VertexDeclaration.begin(), VertexDeclaration.end(),
                               [](const TVertexElement& e) { return e.Format == TVertexFormat::Vertex; });
        if (it == VertexDeclaration.end()) return;
        if (positionOffset == -1) positionOffset = it->Offset;
        glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, positionStride, At(positionBase, positionOffset));
        glEnableVertexAttribArray(0);
      };
      auto stepS = [&] {
        if (cache->IsStaticBufferAvailable()) {
          cache->BindStaticVertices();
          staticVerticesBound = true;
        } else {
          attributeBase = positionBase = Vertices;
          positionOffset = -1;
        }
      };
      auto stepA = [&] {
        attributesSet = true;
        for (const TVertexElement& e : VertexDeclaration) {
          if (e.Format == TVertexFormat::Vertex) continue;
          const TAttributeFormat a = AttributeOf(e.Format);
          glVertexAttribPointer(a.Location, a.Components, a.Type, a.Normalized, VertexSize,
                                At(attributeBase, e.Offset));
          glEnableVertexAttribArray(a.Location);
        }
      };

      if (!cache) {
        if (!Vertices) return;
        CheckClientIndices(Indices, IndexSize, IndexCount, VertexCount);
        positionBase = attributeBase = Vertices;
        stepP();
        stepA();
      } else {
        if (cache->GetIsCompressed(TMeshBufferComponent::Vertex)) {
          stream.reset(cache->Decompress(TMeshBufferComponent::Vertex));
          positionBase = stream->GetMemory();
          positionOffset = 0;
          positionStride = 12;
          stepP();
          stepS();
          stepA();
        } else if (cache->GetIsCompressed(TMeshBufferComponent::All)) {
          stream.reset(cache->Decompress(TMeshBufferComponent::All));
          positionBase = attributeBase = stream->GetMemory();
          stepP();
          stepA();
        } else if (cache->ComponentAvailable(TMeshBufferComponent::Vertex)) {
          positionBuffer = cache->GetComponent(TMeshBufferComponent::Vertex);
          positionStride = 12;
          if (!positionBuffer) throw Exception("uncompressed vertex position framebuffer not available");
          if (positionBuffer->Bind() < 1) throw Exception("failed to draw buffer - buffer object empty");
          stepP();
          stepS();
          stepA();
        } else if (cache->ComponentAvailable(TMeshBufferComponent::All)) {
          stepS();
          stepP();
          stepA();
        } else {
          throw Exception("cache used, but no meshbuffer object found ...");
        }
        kind = cache->GetKind();
        lineWidth = cache->GetLineWidth();
        // The element count below is the buffer size divided by the index size; other bad
        // sizes are refused by the draw itself.
        if (IndexSize <= 0)
          throw Exception(FInstanceCount >= 1 ? "DrawElements(1): invalid index size"
                                              : "DrawElements(2): invalid index size");
      }

      const GLenum mode = ModeOf(kind);
      if (IsLineMode(mode)) glLineWidth(lineWidth);

      TQuorvelLayeredMaterial* layered = nullptr;
      if (FCurrentLayeredMaterial) {
        layered = dynamic_cast<TQuorvelLayeredMaterial*>(FCurrentLayeredMaterial);
        if (!layered) {
          // Forgotten, or every later draw would fail on it too.
          FCurrentLayeredMaterial = nullptr;
          throw EInvalidCast("Invalid class typecast");
        }
      }
      const int32_t passes = layered ? layered->GetMaterialsCount() + 1 : 1;
      bool blendWasOn = false;
      bool depthWasOn = false;
      bool depthChanged = false;
      if (layered) {
        blendWasOn = GetCurrentState(TContextState::csAlphaBlendOn);
        depthWasOn = GetCurrentState(TContextState::csZTestOn) ||
                     (!GetCurrentState(TContextState::csZTestOff) && glIsEnabled(GL_DEPTH_TEST));
        if (!blendWasOn) SetContextState(TContextState::csAlphaBlendOff);
        SetBlendings(TBlendSettings{});
      }
      // Undoes the layers' state changes through the context's state record, so the record
      // and GL agree afterwards; also when a layer fails.
      auto restoreLayerState = [&] {
        if (!layered) return;
        FCurrentLayeredMaterial = nullptr;
        if (!blendWasOn) SetContextState(TContextState::csAlphaBlendOff);
        SetBlendings(savedBlendings);
        if (depthChanged && depthWasOn) SetContextState(TContextState::csZTestOn);
      };

      try {
        for (int32_t p = 0; p < passes; ++p) {
          TMaterial* material = nullptr;
          if (p >= 1) {
            if (!blendWasOn) SetContextState(TContextState::csAlphaBlendOn);
            if (p == 1) {
              depthChanged = true;
              SetContextState(TContextState::csZTestOff);
              TBlendSettings additive;
              additive.fill(TBlendSetting::Create(true, TBlendEquationFunc::befAdd, TBlendFactor::bfOne,
                                                  TBlendFactor::bfOneMinusSrcColor, TBlendFactor::bfOne,
                                                  TBlendFactor::bfOneMinusSrcAlpha));
              SetBlendings(additive);
            }
            TQuorvelLayeredMaterialItem* item = layered->GetMaterialItem(this, p - 1);
            if (!item || !item->GetMaterial()) continue;
            material = TMaterialSource::ValidMaterial(item->GetMaterial());
            ApplyLayerMaterial(this, material);
          }
          if (cache) {
            const intptr_t bytes = cache->BindStaticIndices();
            try {
              if (bytes > 0) drawOnce(mode, IndexSize, static_cast<int32_t>(bytes / IndexSize), nullptr);
            } catch (...) {
              cache->UnbindStaticIndices();
              throw;
            }
            cache->UnbindStaticIndices();
          } else {
            drawOnce(mode, IndexSize, IndexCount, Indices);
          }
          if (material) material->Reset(this);
        }
      } catch (...) {
        restoreLayerState();
        throw;
      }
      restoreLayerState();
      if (mode == GL_LINES) glLineWidth(1.0f);
    } catch (...) {
      releaseVertexState();
      throw;
    }

    for (GLuint i = 0; i < AttributeCount; ++i) glDisableVertexAttribArray(i);
    attributesSet = false;
    if (cache) {
      stream.reset();
      GLenum error = GL_NO_ERROR;
      if (staticVerticesBound) {
        staticVerticesBound = false;
        cache->UnbindStaticVertices();
        error = glGetError();
      }
      if (positionBuffer && positionBuffer->GetBinded()) {
        positionBuffer->Unbind();
        if (error == GL_NO_ERROR) error = glGetError();
      }
      if (error != GL_NO_ERROR)
        RaiseContextException(this, &SErrorInContextMethod,
                              {Format("DoDrawPrimitivesBatch: Error = %d", int64_t(error))});
    }
  } catch (const std::exception& e) {
    throw Exception(std::string("Exception in TQuorvelContextOpenGLES.DoDrawPrimitivesBatch(): ") + e.what());
  }
}

}  // namespace quorvel
