#include "framework/gui3d/VertexBuffer.h"

#include <cstring>
#include <string>

namespace quorvel {

namespace {

// Components in their storage order: float colours after the tangent.
constexpr TVertexFormat kStorageOrder[16] = {
    TVertexFormat::Vertex,    TVertexFormat::Normal,    TVertexFormat::Color0,
    TVertexFormat::Color1,    TVertexFormat::Color2,    TVertexFormat::Color3,
    TVertexFormat::TexCoord0, TVertexFormat::TexCoord1, TVertexFormat::TexCoord2,
    TVertexFormat::TexCoord3, TVertexFormat::BiNormal,  TVertexFormat::Tangent,
    TVertexFormat::ColorF0,   TVertexFormat::ColorF1,   TVertexFormat::ColorF2,
    TVertexFormat::ColorF3};

[[noreturn]] void RaiseRange(int32_t AIndex, int32_t ALength) {
  throw EArgumentOutOfRangeException("Argument out of range: index " + std::to_string(AIndex) +
                                     " outside 0.." + std::to_string(ALength - 1));
}

void CheckChannel(int32_t AChannel) {
  if (AChannel < 0 || AChannel > 3)
    throw EArgumentOutOfRangeException("Argument out of range: channel " + std::to_string(AChannel));
}

TVertexFormat Channel(TVertexFormat AFirst, int32_t AChannel) {
  CheckChannel(AChannel);
  return TVertexFormat(uint8_t(AFirst) + AChannel);
}

void CheckLength(int32_t ALength) {
  if (ALength < 0) throw EArgumentOutOfRangeException("Argument out of range: negative length");
}

}  // namespace

uint16_t VertexFormatsToMask(const TVertexFormats& AFormats) {
  uint16_t mask = 0;
  for (TVertexFormat f : AFormats) mask |= uint16_t(1u << uint8_t(f));
  return mask;
}

TVertexFormats VertexFormatsFromMask(uint16_t AMask) {
  TVertexFormats result;
  for (int i = 0; i < 16; ++i)
    if (AMask & (1u << i)) result.Include(TVertexFormat(i));
  return result;
}

int32_t TVertexBuffer::ComponentSize(TVertexFormat AFormat) {
  switch (AFormat) {
    case TVertexFormat::Vertex:
    case TVertexFormat::Normal:
    case TVertexFormat::BiNormal:
    case TVertexFormat::Tangent:
      return 12;
    case TVertexFormat::Color0:
    case TVertexFormat::Color1:
    case TVertexFormat::Color2:
    case TVertexFormat::Color3:
      return 4;
    case TVertexFormat::ColorF0:
    case TVertexFormat::ColorF1:
    case TVertexFormat::ColorF2:
    case TVertexFormat::ColorF3:
      return 16;
    case TVertexFormat::TexCoord0:
    case TVertexFormat::TexCoord1:
    case TVertexFormat::TexCoord2:
    case TVertexFormat::TexCoord3:
      return 8;
  }
  return 0;
}

TVertexBuffer::TVertexBuffer(const TVertexFormats& AFormat, int32_t ALength) : FFormat(AFormat) {
  for (int32_t& o : FOffsets) o = -1;
  for (TVertexFormat f : kStorageOrder) {
    if (!FFormat.Contains(f)) continue;
    FOffsets[size_t(f)] = FVertexSize;
    FDeclaration.push_back({f, FVertexSize});
    FVertexSize += ComponentSize(f);
  }
  SetLength(ALength);
}

void TVertexBuffer::SetLength(int32_t ALength) {
  CheckLength(ALength);
  FData.resize(size_t(FVertexSize) * size_t(ALength), 0);
  FLength = ALength;
}

uint8_t* TVertexBuffer::VerticesPtr(int32_t AIndex) {
  CheckIndex(AIndex);
  return FData.data() + size_t(AIndex) * size_t(FVertexSize);
}

void TVertexBuffer::Assign(const TVertexBuffer& ASource) {
  if (&ASource == this) return;
  FFormat = ASource.FFormat;
  FLength = ASource.FLength;
  FVertexSize = ASource.FVertexSize;
  std::memcpy(FOffsets, ASource.FOffsets, sizeof(FOffsets));
  FDeclaration = ASource.FDeclaration;
  FData = ASource.FData;
}

void TVertexBuffer::CheckIndex(int32_t AIndex) const {
  if (AIndex < 0 || AIndex >= FLength) RaiseRange(AIndex, FLength);
}

const uint8_t* TVertexBuffer::At(TVertexFormat AFormat, int32_t AIndex) const {
  CheckIndex(AIndex);
  const int32_t offset = FOffsets[size_t(AFormat)];
  if (offset < 0) return nullptr;
  return FData.data() + size_t(AIndex) * size_t(FVertexSize) + size_t(offset);
}

uint8_t* TVertexBuffer::At(TVertexFormat AFormat, int32_t AIndex) {
  return const_cast<uint8_t*>(static_cast<const TVertexBuffer*>(this)->At(AFormat, AIndex));
}

TPoint3D TVertexBuffer::GetPoint(TVertexFormat AFormat, int32_t AIndex) const {
  TPoint3D result;
  if (const uint8_t* p = At(AFormat, AIndex)) std::memcpy(&result, p, sizeof(result));
  return result;
}

void TVertexBuffer::SetPoint(TVertexFormat AFormat, int32_t AIndex, const TPoint3D& AValue) {
  if (uint8_t* p = At(AFormat, AIndex)) std::memcpy(p, &AValue, sizeof(AValue));
}

TPointF TVertexBuffer::GetTexCoord(int32_t AChannel, int32_t AIndex) const {
  TPointF result;
  if (const uint8_t* p = At(Channel(TVertexFormat::TexCoord0, AChannel), AIndex))
    std::memcpy(&result, p, sizeof(result));
  return result;
}

void TVertexBuffer::SetTexCoord(int32_t AChannel, int32_t AIndex, const TPointF& AValue) {
  if (uint8_t* p = At(Channel(TVertexFormat::TexCoord0, AChannel), AIndex))
    std::memcpy(p, &AValue, sizeof(AValue));
}

TAlphaColor TVertexBuffer::GetColor(int32_t AChannel, int32_t AIndex) const {
  const TVertexFormat floatColor = Channel(TVertexFormat::ColorF0, AChannel);
  if (HasFormat(floatColor)) return GetColorF(AChannel, AIndex).ToAlphaColor();
  uint32_t value = 0;
  if (const uint8_t* p = At(Channel(TVertexFormat::Color0, AChannel), AIndex))
    std::memcpy(&value, p, sizeof(value));
  return TAlphaColor(value);
}

void TVertexBuffer::SetColor(int32_t AChannel, int32_t AIndex, TAlphaColor AValue) {
  const TVertexFormat floatColor = Channel(TVertexFormat::ColorF0, AChannel);
  if (HasFormat(floatColor)) {
    SetColorF(AChannel, AIndex, TAlphaColorF(AValue));
    return;
  }
  const uint32_t value = uint32_t(AValue);
  if (uint8_t* p = At(Channel(TVertexFormat::Color0, AChannel), AIndex))
    std::memcpy(p, &value, sizeof(value));
}

TAlphaColorF TVertexBuffer::GetColorF(int32_t AChannel, int32_t AIndex) const {
  TAlphaColorF result;
  if (const uint8_t* p = At(Channel(TVertexFormat::ColorF0, AChannel), AIndex))
    std::memcpy(&result, p, sizeof(result));
  return result;
}

void TVertexBuffer::SetColorF(int32_t AChannel, int32_t AIndex, const TAlphaColorF& AValue) {
  if (uint8_t* p = At(Channel(TVertexFormat::ColorF0, AChannel), AIndex))
    std::memcpy(p, &AValue, sizeof(AValue));
}

TIndexBuffer::TIndexBuffer(int32_t ALength, TIndexFormat AFormat) : FFormat(AFormat) {
  SetLength(ALength);
}

void TIndexBuffer::SetLength(int32_t ALength) {
  CheckLength(ALength);
  FData.resize(size_t(IndexSize()) * size_t(ALength), 0);
  FLength = ALength;
}

void TIndexBuffer::Assign(const TIndexBuffer& ASource) {
  if (&ASource == this) return;
  FFormat = ASource.FFormat;
  FLength = ASource.FLength;
  FData = ASource.FData;
}

void TIndexBuffer::CheckIndex(int32_t AIndex) const {
  if (AIndex < 0 || AIndex >= FLength) RaiseRange(AIndex, FLength);
}

uint32_t TIndexBuffer::GetIndices(int32_t AIndex) const {
  CheckIndex(AIndex);
  if (FFormat == TIndexFormat::UInt16) {
    uint16_t v;
    std::memcpy(&v, FData.data() + size_t(AIndex) * 2, 2);
    return v;
  }
  uint32_t v;
  std::memcpy(&v, FData.data() + size_t(AIndex) * 4, 4);
  return v;
}

void TIndexBuffer::SetIndices(int32_t AIndex, uint32_t AValue) {
  CheckIndex(AIndex);
  if (FFormat == TIndexFormat::UInt16) {
    if (AValue > 0xFFFF)
      throw EArgumentOutOfRangeException("Argument out of range: index value " +
                                         std::to_string(AValue) + " does not fit 16 bits");
    const uint16_t v = uint16_t(AValue);
    std::memcpy(FData.data() + size_t(AIndex) * 2, &v, 2);
    return;
  }
  std::memcpy(FData.data() + size_t(AIndex) * 4, &AValue, 4);
}

}  // namespace quorvel
