#include "lib/animation/AnimationFrameCompression.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "framework/io/ZLib.h"

namespace quorvel {

namespace {

constexpr int64_t ChunkSize = 1048576;

}  // namespace

int32_t TAnimationFrameCompression::AttributeSize(TVertexFormat AFormat) {
  switch (AFormat) {
    case TVertexFormat::Vertex:
    case TVertexFormat::Normal:
    case TVertexFormat::BiNormal:
    case TVertexFormat::Tangent:
      return 12;
    case TVertexFormat::TexCoord0:
    case TVertexFormat::TexCoord1:
    case TVertexFormat::TexCoord2:
    case TVertexFormat::TexCoord3:
      return 8;
    default:
      return 4;  // 32-bit colours; float colours are packed as those
  }
}

void TAnimationFrameCompression::SetSourceStream(TVertexFormat AFormat, const TVertexBuffer* ABuffer,
                                                 TMemoryStream* AStream) {
  if (!ABuffer || !AStream) return;
  const int32_t size = AttributeSize(AFormat);
  const int32_t n = ABuffer->Length();
  // The shortcut only where the vertex is that attribute: a buffer of normals alone must not
  // hand its normals out as positions.
  TVertexFormat stored = AFormat;
  if (AFormat >= TVertexFormat::ColorF0 && AFormat <= TVertexFormat::ColorF3)
    stored = static_cast<TVertexFormat>(static_cast<int>(AFormat) - 4);
  // Appended at the end whatever the position: the previous call left it at 0, and packing
  // from there would overwrite (and cut short) what the stream held.
  const int64_t start = AStream->GetSize();
  AStream->SetPosition(start);
  if (ABuffer->VertexSize() == size && ABuffer->OffsetOf(stored) == 0) {
    AStream->WriteBuffer(ABuffer->Buffer(), ABuffer->Size());
  } else if (n > 0) {
    // Grow once, then fill the block in place.
    AStream->SetSize(start + int64_t(size) * n);
    uint8_t* out = static_cast<uint8_t*>(AStream->GetMemory()) + start;
    const int ch = static_cast<int>(AFormat);
    for (int32_t i = 0; i < n; ++i, out += size) {
      switch (AFormat) {
        case TVertexFormat::Vertex:
        case TVertexFormat::Normal:
        case TVertexFormat::BiNormal:
        case TVertexFormat::Tangent: {
          const TPoint3D p = AFormat == TVertexFormat::Vertex    ? ABuffer->GetVertices(i)
                             : AFormat == TVertexFormat::Normal  ? ABuffer->GetNormals(i)
                             : AFormat == TVertexFormat::BiNormal ? ABuffer->GetBiNormals(i)
                                                                  : ABuffer->GetTangents(i);
          std::memcpy(out, &p, 12);
          break;
        }
        case TVertexFormat::TexCoord0:
        case TVertexFormat::TexCoord1:
        case TVertexFormat::TexCoord2:
        case TVertexFormat::TexCoord3: {
          const TPointF t = ABuffer->GetTexCoord(ch - static_cast<int>(TVertexFormat::TexCoord0), i);
          std::memcpy(out, &t.X, 4);
          std::memcpy(out + 4, &t.Y, 4);
          break;
        }
        default: {
          const int channel = ch >= static_cast<int>(TVertexFormat::ColorF0) ? ch - static_cast<int>(TVertexFormat::ColorF0)
                                                                            : ch - static_cast<int>(TVertexFormat::Color0);
          const uint32_t c = ToCardinal(ABuffer->GetColor(channel, i));
          std::memcpy(out, &c, 4);
          break;
        }
      }
    }
  }
  AStream->SetPosition(0);
}

void TAnimationFrameCompression::SetSourceStream(const void* AData, int64_t ASize, TMemoryStream* AStream) {
  if (!AStream) return;
  AStream->SetPosition(AStream->GetSize());
  if (AData && ASize > 0) AStream->WriteBuffer(AData, ASize);
  AStream->SetPosition(0);
}

TMemoryStream* TAnimationFrameCompression::GetSourceStream(TVertexFormat AFormat, const TVertexBuffer* ABuffer) {
  TOwned<TMemoryStream> result(New<TMemoryStream>());
  SetSourceStream(AFormat, ABuffer, result.get());
  return result.release();
}

TMemoryStream* TAnimationFrameCompression::GetSourceStream(const void* AData, int64_t ASize) {
  TOwned<TMemoryStream> result(New<TMemoryStream>());
  SetSourceStream(AData, ASize, result.get());
  return result.release();
}

TMemoryStream* TAnimationFrameCompression::Compress(TVertexFormat AFormat, const TVertexBuffer* ABuffer) {
  const TOwned<TMemoryStream> source(GetSourceStream(AFormat, ABuffer));
  return Compress(source->GetMemory(), source->GetSize());
}

TMemoryStream* TAnimationFrameCompression::Decompress(TStream* AStream) {
  TOwned<TMemoryStream> result(New<TMemoryStream>());
  if (!AStream) return result.release();
  AStream->SetPosition(0);
  TZDecompressionStream inflater(AStream);
  std::vector<uint8_t> chunk(static_cast<size_t>(ChunkSize));
  for (int64_t n; (n = inflater.Read(chunk.data(), ChunkSize)) > 0;) result->WriteBuffer(chunk.data(), n);
  result->SetPosition(0);
  return result.release();
}

TMemoryStream* TAnimationFrameCompression::Compress(const void* AData, int64_t ASize) {
  TOwned<TMemoryStream> result(New<TMemoryStream>());
  {
    TZCompressionStream deflater(result.get(), clMax);
    const auto* p = static_cast<const uint8_t*>(AData);
    for (int64_t done = 0; done < ASize;) {
      const int64_t n = std::min(ChunkSize, ASize - done);
      deflater.WriteBuffer(p + done, n);
      done += n;
    }
    deflater.Finish();
  }
  return result.release();
}

}  // namespace quorvel
