// The packed attribute streams and their compression, compared value by value with what the
// vertex buffer was filled with (not with another packing of it).
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "framework/io/ZLib.h"
#include "lib/animation/AnimationFrameCompression.h"

namespace quorvel {
namespace {

using F = TVertexFormat;
using Bytes = std::vector<uint8_t>;

constexpr int32_t kVertices = 5;

template <class T>
void Put(Bytes& out, const T& value) {
  const auto* p = reinterpret_cast<const uint8_t*>(&value);
  out.insert(out.end(), p, p + sizeof(T));
}

TPoint3D PointOf(F f, int32_t i) {
  const float x = float(i);
  switch (f) {
    case F::Vertex: return {x + 0.5f, -x, 100 + x};
    case F::Normal: return {1, x * 0.25f, -2};
    case F::BiNormal: return {3 + x, 0.125f, x};
    default: return {-x, 7, 0.5f};  // Tangent
  }
}
TPointF TexCoordOf(int32_t c, int32_t i) { return {float(c) + float(i) * 0.5f, -float(c) - float(i)}; }
// Byte channels, so that the float colours n/255 convert back exactly.
TAlphaColor ColorOf(int32_t c, int32_t i) { return TAlphaColor(0x80000000u | uint32_t(c * 0x20) << 16 | uint32_t(i * 3) << 8 | 0x40u); }

bool IsPoint(F f) { return f == F::Vertex || f == F::Normal || f == F::BiNormal || f == F::Tangent; }
bool IsTexCoord(F f) { return f >= F::TexCoord0 && f <= F::TexCoord3; }
int32_t ColorChannel(F f) { return f >= F::ColorF0 ? int32_t(f) - int32_t(F::ColorF0) : int32_t(f) - int32_t(F::Color0); }

// A buffer of the formats, every component filled with its own values.
std::unique_ptr<TVertexBuffer> Filled(const TVertexFormats& AFormats) {
  auto vb = std::make_unique<TVertexBuffer>(AFormats, kVertices);
  for (int32_t i = 0; i < kVertices; ++i)
    for (int f = 0; f < 16; ++f) {
      const F format = F(f);
      if (!vb->HasFormat(format)) continue;
      if (IsPoint(format)) {
        const TPoint3D p = PointOf(format, i);
        std::memcpy(vb->VerticesPtr(i) + vb->OffsetOf(format), &p, 12);
      } else if (IsTexCoord(format)) {
        vb->SetTexCoord(int32_t(format) - int32_t(F::TexCoord0), i, TexCoordOf(int32_t(format) - int32_t(F::TexCoord0), i));
      } else if (format >= F::ColorF0) {
        vb->SetColorF(ColorChannel(format), i, TAlphaColorF(ColorOf(ColorChannel(format), i)));
      } else {
        const uint32_t c = ToCardinal(ColorOf(ColorChannel(format), i));
        std::memcpy(vb->VerticesPtr(i) + vb->OffsetOf(format), &c, 4);
      }
    }
  return vb;
}

// What the packed attribute must hold: the values written, zeros for what the buffer lacks,
// a colour channel from its float colour when the buffer has one, else from its 32-bit one.
Bytes Expected(F f, const TVertexBuffer& vb) {
  Bytes out;
  for (int32_t i = 0; i < vb.Length(); ++i) {
    if (IsPoint(f)) {
      Put(out, vb.HasFormat(f) ? PointOf(f, i) : TPoint3D());
    } else if (IsTexCoord(f)) {
      const int32_t c = int32_t(f) - int32_t(F::TexCoord0);
      const TPointF t = vb.HasFormat(f) ? TexCoordOf(c, i) : TPointF();
      Put(out, t.X);
      Put(out, t.Y);
    } else {
      const int32_t c = ColorChannel(f);
      const bool held = vb.HasFormat(F(int32_t(F::ColorF0) + c)) || vb.HasFormat(F(int32_t(F::Color0) + c));
      Put(out, held ? ToCardinal(ColorOf(c, i)) : uint32_t(0));
    }
  }
  return out;
}

Bytes Packed(F f, const TVertexBuffer& vb) {
  TMemoryStream s;
  TAnimationFrameCompression::SetSourceStream(f, &vb, &s);
  EXPECT_EQ(s.GetPosition(), 0);
  const auto* p = static_cast<const uint8_t*>(s.GetMemory());
  return Bytes(p, p + s.GetSize());
}

Bytes Inflated(TMemoryStream& AStream) {
  const TBytes out = ZDecompress(AStream.GetMemory(), size_t(AStream.GetSize()));
  return Bytes(out.begin(), out.end());
}

const char* const kNames[16] = {"Vertex",  "Normal",  "Color0",    "Color1",    "Color2",    "Color3",
                                "ColorF0", "ColorF1", "ColorF2",   "ColorF3",   "TexCoord0", "TexCoord1",
                                "TexCoord2", "TexCoord3", "BiNormal", "Tangent"};

TEST(AnimationFrameCompression, EveryAttributePacksTheValuesOfEveryVertex) {
  // 32-bit colours in channels 0 and 1, float colours in 2 and 3; channels and texture
  // coordinates the buffer lacks pack as zeros.
  const auto vb = Filled({F::Vertex, F::Normal, F::Color0, F::Color1, F::TexCoord0, F::TexCoord2, F::BiNormal,
                          F::Tangent, F::ColorF2, F::ColorF3});
  for (int f = 0; f < 16; ++f) {
    SCOPED_TRACE(kNames[f]);
    const Bytes packed = Packed(F(f), *vb);
    EXPECT_EQ(int64_t(packed.size()), int64_t(TAnimationFrameCompression::AttributeSize(F(f))) * kVertices);
    EXPECT_EQ(packed, Expected(F(f), *vb));
  }
}

TEST(AnimationFrameCompression, TheWholeBufferGoesInOnePieceOnlyWhenItHoldsJustThatAttribute) {
  const struct {
    const char* Name;
    TVertexFormats Formats;
    F Requested;
  } cases[] = {
      {"positions only", {F::Vertex}, F::Vertex},
      {"normals only, positions asked", {F::Normal}, F::Vertex},
      {"normals only", {F::Normal}, F::Normal},
      {"texture coordinates only", {F::TexCoord1}, F::TexCoord1},
      {"another texture channel", {F::TexCoord1}, F::TexCoord0},
      {"a 32-bit colour, asked as it", {F::Color2}, F::Color2},
      {"a 32-bit colour, asked as its float colour", {F::Color2}, F::ColorF2},
      {"another colour channel", {F::Color2}, F::Color1},
      {"a float colour, asked as its 32-bit colour", {F::ColorF1}, F::Color1},
      {"a float colour", {F::ColorF1}, F::ColorF1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    const auto vb = Filled(c.Formats);
    EXPECT_EQ(Packed(c.Requested, *vb), Expected(c.Requested, *vb));
  }
}

TEST(AnimationFrameCompression, PackingAppendsToWhatTheStreamHoldsWhereverItsPosition) {
  const auto positions = Filled({F::Vertex});                     // packed in one piece
  const auto mixed = Filled({F::Vertex, F::Normal, F::TexCoord0});  // packed vertex by vertex
  const Bytes prefix = {1, 2, 3, 4, 5, 6, 7};
  for (const TVertexBuffer* vb : {positions.get(), mixed.get()}) {
    SCOPED_TRACE(vb->VertexSize());
    for (int64_t position : {int64_t(0), int64_t(3), int64_t(prefix.size())}) {
      SCOPED_TRACE(position);
      TMemoryStream s;
      s.WriteBuffer(prefix.data(), int64_t(prefix.size()));
      s.SetPosition(position);
      TAnimationFrameCompression::SetSourceStream(F::Vertex, vb, &s);
      EXPECT_EQ(s.GetPosition(), 0);
      // A second call, from the rewound stream, appends again.
      TAnimationFrameCompression::SetSourceStream(F::Vertex, vb, &s);
      Bytes expected = prefix;
      const Bytes values = Expected(F::Vertex, *vb);
      expected.insert(expected.end(), values.begin(), values.end());
      expected.insert(expected.end(), values.begin(), values.end());
      const auto* p = static_cast<const uint8_t*>(s.GetMemory());
      EXPECT_EQ(Bytes(p, p + s.GetSize()), expected);
    }
  }
  // Nothing happens without a buffer or a stream.
  TMemoryStream s;
  s.WriteBuffer(prefix.data(), int64_t(prefix.size()));
  TAnimationFrameCompression::SetSourceStream(F::Vertex, nullptr, &s);
  TAnimationFrameCompression::SetSourceStream(F::Vertex, positions.get(), nullptr);
  EXPECT_EQ(s.GetSize(), int64_t(prefix.size()));
  EXPECT_EQ(s.GetPosition(), int64_t(prefix.size()));
}

TEST(AnimationFrameCompression, CompressedStreamsInflateToTheValues) {
  const auto vb = Filled({F::Vertex, F::Normal, F::Color0, F::TexCoord0, F::ColorF1});
  for (F f : {F::Vertex, F::Normal, F::Color0, F::ColorF1, F::TexCoord0, F::Tangent}) {
    SCOPED_TRACE(kNames[int(f)]);
    const std::unique_ptr<TMemoryStream> z(TAnimationFrameCompression::Compress(f, vb.get()));
    EXPECT_EQ(z->GetPosition(), z->GetSize());
    EXPECT_EQ(Inflated(*z), Expected(f, *vb));
  }
  // The whole buffer as raw data.
  const std::unique_ptr<TMemoryStream> raw(TAnimationFrameCompression::Compress(vb->Buffer(), vb->Size()));
  EXPECT_EQ(raw->GetPosition(), raw->GetSize());
  EXPECT_EQ(Inflated(*raw), Bytes(vb->Buffer(), vb->Buffer() + vb->Size()));
  // More than one chunk of input; nothing at all.
  Bytes big(3 * 1048576 + 17);
  for (size_t i = 0; i < big.size(); ++i) big[i] = uint8_t((i * 2654435761u) >> 13);
  const std::unique_ptr<TMemoryStream> chunked(TAnimationFrameCompression::Compress(big.data(), int64_t(big.size())));
  EXPECT_EQ(Inflated(*chunked), big);
  const std::unique_ptr<TMemoryStream> empty(TAnimationFrameCompression::Compress(nullptr, 0));
  EXPECT_GT(empty->GetSize(), 0);
  EXPECT_TRUE(Inflated(*empty).empty());
  const std::unique_ptr<TMemoryStream> none(TAnimationFrameCompression::Compress(F::Vertex, nullptr));
  EXPECT_TRUE(Inflated(*none).empty());
}

TEST(AnimationFrameCompression, DecompressGivesBackEveryAttributeAndSourceStreamsStartAtZero) {
  const auto vb = Filled({F::Vertex, F::Normal, F::BiNormal, F::Tangent, F::Color0, F::TexCoord0, F::TexCoord3,
                          F::ColorF1});
  for (int f = 0; f < 16; ++f) {
    SCOPED_TRACE(kNames[f]);
    const std::unique_ptr<TMemoryStream> source(TAnimationFrameCompression::GetSourceStream(F(f), vb.get()));
    EXPECT_EQ(source->GetPosition(), 0);
    const auto* p = static_cast<const uint8_t*>(source->GetMemory());
    EXPECT_EQ(Bytes(p, p + source->GetSize()), Expected(F(f), *vb));
    const std::unique_ptr<TMemoryStream> z(TAnimationFrameCompression::Compress(F(f), vb.get()));
    const std::unique_ptr<TMemoryStream> back(TAnimationFrameCompression::Decompress(z.get()));
    EXPECT_EQ(back->GetPosition(), 0);
    const auto* q = static_cast<const uint8_t*>(back->GetMemory());
    EXPECT_EQ(Bytes(q, q + back->GetSize()), Expected(F(f), *vb));
  }
  const Bytes raw{1, 2, 3, 250};
  const std::unique_ptr<TMemoryStream> bytes(TAnimationFrameCompression::GetSourceStream(raw.data(), 4));
  EXPECT_EQ(bytes->GetPosition(), 0);
  EXPECT_EQ(bytes->GetSize(), 4);
  // Damaged data raises instead of handing out garbage.
  TMemoryStream junk;
  junk.WriteBuffer(raw.data(), 4);
  EXPECT_THROW(std::unique_ptr<TMemoryStream>(TAnimationFrameCompression::Decompress(&junk)), Exception);
}

}  // namespace
}  // namespace quorvel
