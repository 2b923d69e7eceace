#pragma once
// Interleaved vertex buffers and 16/32-bit index buffers in the layout that stored meshes
// and the GPU path rely on: components in a fixed order, float colours last.
#include <cstdint>
#include <vector>

#include "framework/math/AlphaColor.h"
#include "framework/math/Point.h"
#include "framework/math/Point3D.h"
#include "framework/rtl/Object.h"
#include "framework/rtl/Set.h"

namespace quorvel {

// Ordinals are stored in files and mirrored by the engine's buffer components: keep them.
enum class TVertexFormat : uint8_t {
  Vertex = 0,
  Normal = 1,
  Color0 = 2,
  Color1 = 3,
  Color2 = 4,
  Color3 = 5,
  ColorF0 = 6,
  ColorF1 = 7,
  ColorF2 = 8,
  ColorF3 = 9,
  TexCoord0 = 10,
  TexCoord1 = 11,
  TexCoord2 = 12,
  TexCoord3 = 13,
  BiNormal = 14,
  Tangent = 15,
};
using TVertexFormats = TSet<TVertexFormat>;

// The set as its 16-bit mask (bit n = ordinal n) and back.
uint16_t VertexFormatsToMask(const TVertexFormats& AFormats);
TVertexFormats VertexFormatsFromMask(uint16_t AMask);

enum class TIndexFormat : uint8_t { UInt16 = 0, UInt32 = 1 };

struct TVertexElement {
  TVertexFormat Format = TVertexFormat::Vertex;
  int32_t Offset = 0;
  friend bool operator==(const TVertexElement&, const TVertexElement&) = default;
};
using TVertexDeclaration = std::vector<TVertexElement>;

class TVertexBuffer : public TObject {
public:
  explicit TVertexBuffer(const TVertexFormats& AFormat, int32_t ALength = 0);

  // Bytes one component takes in a vertex (0 for none).
  static int32_t ComponentSize(TVertexFormat AFormat);

  const TVertexFormats& Format() const { return FFormat; }
  int32_t Length() const { return FLength; }
  // Keeps the first min(old, new) vertices; new vertices are zero.
  void SetLength(int32_t ALength);
  int32_t VertexSize() const { return FVertexSize; }
  int64_t Size() const { return int64_t(FVertexSize) * FLength; }
  uint8_t* Buffer() { return FData.data(); }
  const uint8_t* Buffer() const { return FData.data(); }
  // Address of vertex AIndex (range-checked).
  uint8_t* VerticesPtr(int32_t AIndex);
  const TVertexDeclaration& GetVertexDeclarations() const { return FDeclaration; }
  // Byte offset of a component inside a vertex, or -1 when the format lacks it.
  int32_t OffsetOf(TVertexFormat AFormat) const { return FOffsets[size_t(AFormat)]; }
  bool HasFormat(TVertexFormat AFormat) const { return FOffsets[size_t(AFormat)] >= 0; }

  // Format, length and data.
  void Assign(const TVertexBuffer& ASource);

  // Element accessors raise EArgumentOutOfRangeException for an index outside 0..Length-1.
  // A component the format lacks reads as zero and is not written.
  TPoint3D GetVertices(int32_t AIndex) const { return GetPoint(TVertexFormat::Vertex, AIndex); }
  void SetVertices(int32_t AIndex, const TPoint3D& AValue) { SetPoint(TVertexFormat::Vertex, AIndex, AValue); }
  TPoint3D GetNormals(int32_t AIndex) const { return GetPoint(TVertexFormat::Normal, AIndex); }
  void SetNormals(int32_t AIndex, const TPoint3D& AValue) { SetPoint(TVertexFormat::Normal, AIndex, AValue); }
  TPoint3D GetBiNormals(int32_t AIndex) const { return GetPoint(TVertexFormat::BiNormal, AIndex); }
  void SetBiNormals(int32_t AIndex, const TPoint3D& AValue) { SetPoint(TVertexFormat::BiNormal, AIndex, AValue); }
  TPoint3D GetTangents(int32_t AIndex) const { return GetPoint(TVertexFormat::Tangent, AIndex); }
  void SetTangents(int32_t AIndex, const TPoint3D& AValue) { SetPoint(TVertexFormat::Tangent, AIndex, AValue); }

  // Texture coordinate channel 0..3.
  TPointF GetTexCoord(int32_t AChannel, int32_t AIndex) const;
  void SetTexCoord(int32_t AChannel, int32_t AIndex, const TPointF& AValue);
  TPointF GetTexCoord0(int32_t AIndex) const { return GetTexCoord(0, AIndex); }
  void SetTexCoord0(int32_t AIndex, const TPointF& AValue) { SetTexCoord(0, AIndex, AValue); }

  // 32-bit colour channel 0..3. When the format holds the float colour ColorFn, these read
  // and write it instead (byte/255 and back), so callers need not know which one is stored.
  TAlphaColor GetColor(int32_t AChannel, int32_t AIndex) const;
  void SetColor(int32_t AChannel, int32_t AIndex, TAlphaColor AValue);
  TAlphaColor GetColor0(int32_t AIndex) const { return GetColor(0, AIndex); }
  void SetColor0(int32_t AIndex, TAlphaColor AValue) { SetColor(0, AIndex, AValue); }
  // Float colour channel 0..3 (ColorFn only).
  TAlphaColorF GetColorF(int32_t AChannel, int32_t AIndex) const;
  void SetColorF(int32_t AChannel, int32_t AIndex, const TAlphaColorF& AValue);

private:
  const uint8_t* At(TVertexFormat AFormat, int32_t AIndex) const;
  uint8_t* At(TVertexFormat AFormat, int32_t AIndex);
  void CheckIndex(int32_t AIndex) const;
  TPoint3D GetPoint(TVertexFormat AFormat, int32_t AIndex) const;
  void SetPoint(TVertexFormat AFormat, int32_t AIndex, const TPoint3D& AValue);

  TVertexFormats FFormat;
  int32_t FLength = 0;
  int32_t FVertexSize = 0;
  int32_t FOffsets[16];
  TVertexDeclaration FDeclaration;
  std::vector<uint8_t> FData;
};

class TIndexBuffer : public TObject {
public:
  explicit TIndexBuffer(int32_t ALength = 0, TIndexFormat AFormat = TIndexFormat::UInt16);

  TIndexFormat Format() const { return FFormat; }
  int32_t Length() const { return FLength; }
  void SetLength(int32_t ALength);
  int32_t IndexSize() const { return FFormat == TIndexFormat::UInt16 ? 2 : 4; }
  int64_t Size() const { return int64_t(IndexSize()) * FLength; }
  uint8_t* Buffer() { return FData.data(); }
  const uint8_t* Buffer() const { return FData.data(); }
  void Assign(const TIndexBuffer& ASource);

  // Raise EArgumentOutOfRangeException for an index outside 0..Length-1, and for a value
  // that a 16-bit buffer cannot hold (a silent truncation would corrupt the mesh).
  uint32_t GetIndices(int32_t AIndex) const;
  void SetIndices(int32_t AIndex, uint32_t AValue);

private:
  void CheckIndex(int32_t AIndex) const;

  TIndexFormat FFormat;
  int32_t FLength = 0;
  std::vector<uint8_t> FData;
};

}  // namespace quorvel
