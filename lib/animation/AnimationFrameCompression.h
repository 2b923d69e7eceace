#pragma once
// Packing one vertex attribute tightly and zlib-compressing vertex data for baked frames.
#include <cstdint>

#include "framework/gui3d/VertexBuffer.h"
#include "framework/io/Stream.h"

namespace quorvel {

class TAnimationFrameCompression {
public:
  // Appends attribute AFormat of every vertex of ABuffer to AStream, packed in vertex order
  // (float colours as their 32-bit colours), then rewinds AStream. A nil buffer or stream
  // writes nothing.
  static void SetSourceStream(TVertexFormat AFormat, const TVertexBuffer* ABuffer, TMemoryStream* AStream);
  // Appends ASize bytes of AData, then rewinds AStream.
  static void SetSourceStream(const void* AData, int64_t ASize, TMemoryStream* AStream);
  // A new stream filled by the matching SetSourceStream, positioned at 0; the caller owns it.
  static TMemoryStream* GetSourceStream(TVertexFormat AFormat, const TVertexBuffer* ABuffer);
  static TMemoryStream* GetSourceStream(const void* AData, int64_t ASize);
  // The packed attribute, zlib-compressed at the maximum level; the caller owns the result,
  // whose position is at its end.
  static TMemoryStream* Compress(TVertexFormat AFormat, const TVertexBuffer* ABuffer);
  static TMemoryStream* Compress(const void* AData, int64_t ASize);
  // The bytes a Compress result holds, inflated from AStream's start into a new stream at
  // position 0; the caller owns it. Damaged data raises the zlib stream's error.
  static TMemoryStream* Decompress(TStream* AStream);

  // Bytes the packed attribute takes per vertex.
  static int32_t AttributeSize(TVertexFormat AFormat);
};

}  // namespace quorvel
