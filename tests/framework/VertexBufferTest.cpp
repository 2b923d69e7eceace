#include "framework/gui3d/VertexBuffer.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace quorvel;
using VF = TVertexFormat;

TEST(VertexBuffer, LayoutPutsFloatColoursLastWhateverTheirOrdinal) {
  struct Case {
    uint16_t mask;
    int32_t size;
    std::vector<std::pair<VF, int32_t>> offsets;  // present components
  } cases[] = {
      // The definitions' default: position, normal, TexCoord0, binormal, tangent, ColorF0.
      {0xC443, 72, {{VF::Vertex, 0}, {VF::Normal, 12}, {VF::TexCoord0, 24}, {VF::BiNormal, 32},
                    {VF::Tangent, 44}, {VF::ColorF0, 56}}},
      {0x0001, 12, {{VF::Vertex, 0}}},
      {0x0005, 16, {{VF::Vertex, 0}, {VF::Color0, 12}}},
      // All sixteen: 4*12 + 4*4 + 4*8 + 4*16.
      {0xFFFF, 160, {{VF::Color3, 36}, {VF::TexCoord0, 40}, {VF::TexCoord3, 64}, {VF::BiNormal, 72},
                     {VF::Tangent, 84}, {VF::ColorF0, 96}, {VF::ColorF3, 144}}},
      {0xCC43, 80, {{VF::TexCoord1, 32}, {VF::BiNormal, 40}, {VF::ColorF0, 64}}},
      {0x03C0, 64, {{VF::ColorF0, 0}, {VF::ColorF1, 16}, {VF::ColorF2, 32}, {VF::ColorF3, 48}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mask);
    TVertexBuffer buf(VertexFormatsFromMask(c.mask), 3);
    EXPECT_EQ(buf.VertexSize(), c.size);
    EXPECT_EQ(buf.Size(), 3 * c.size);
    EXPECT_EQ(VertexFormatsToMask(buf.Format()), c.mask);
    for (auto [f, off] : c.offsets) EXPECT_EQ(buf.OffsetOf(f), off) << int(f);
    int32_t declared = 0;
    for (const TVertexElement& e : buf.GetVertexDeclarations()) {
      EXPECT_EQ(e.Offset, declared);
      declared += TVertexBuffer::ComponentSize(e.Format);
    }
    EXPECT_EQ(declared, c.size);
  }
}

TEST(VertexBuffer, ComponentsLandAtTheirOffsetsAndNeverInANeighbour) {
  TVertexBuffer buf(VertexFormatsFromMask(0xC443), 2);
  buf.SetVertices(1, {1, 2, 3});
  buf.SetNormals(1, {0, 0, 1});
  buf.SetTexCoord0(1, {0.25f, 0.75f});
  buf.SetTangents(1, {1, 0, 0});
  float raw[18];
  std::memcpy(raw, buf.VerticesPtr(1), sizeof(raw));
  EXPECT_EQ(raw[0], 1);
  EXPECT_EQ(raw[2], 3);
  EXPECT_EQ(raw[5], 1);      // normal z at byte 20
  EXPECT_EQ(raw[6], 0.25f);  // TexCoord0 at byte 24
  EXPECT_EQ(raw[11], 1);     // tangent x at byte 44
  // A component the format lacks is neither written nor read.
  buf.SetTexCoord(1, 1, {9, 9});
  EXPECT_EQ(buf.GetTexCoord(1, 1), TPointF(0, 0));
  EXPECT_EQ(buf.GetVertices(0), TPoint3D(0, 0, 0));
}

TEST(VertexBuffer, ColourAccessorsGoThroughTheFloatColourWhenPresent) {
  TVertexBuffer floats(VertexFormatsFromMask(0xC443), 1);
  floats.SetColor0(0, TAlphaColorF(1.0f, 0.5f, 0.0f, 1.0f).ToAlphaColor());
  const TAlphaColorF f = floats.GetColorF(0, 0);
  EXPECT_FLOAT_EQ(f.R, 1.0f);
  EXPECT_FLOAT_EQ(f.G, 128 / 255.0f);
  EXPECT_FLOAT_EQ(f.B, 0.0f);
  EXPECT_EQ(uint32_t(floats.GetColor0(0)), 0xFFFF8000u);

  TVertexBuffer bytes(VertexFormatsFromMask(0x0005), 1);
  bytes.SetColor0(0, TAlphaColor(0x80102030));
  EXPECT_EQ(uint32_t(bytes.GetColor0(0)), 0x80102030u);
  EXPECT_EQ(bytes.GetColorF(0, 0), TAlphaColorF());  // no float colour stored
}

TEST(VertexBuffer, OutOfRangeAccessRaises) {
  TVertexBuffer v(VertexFormatsFromMask(0x0001), 2);
  EXPECT_THROW(v.GetVertices(2), EArgumentOutOfRangeException);
  EXPECT_THROW(v.SetVertices(-1, {}), EArgumentOutOfRangeException);
  EXPECT_THROW(v.VerticesPtr(2), EArgumentOutOfRangeException);
  EXPECT_THROW(v.GetColor(4, 0), EArgumentOutOfRangeException);
  EXPECT_THROW(v.SetLength(-1), EArgumentOutOfRangeException);
  TIndexBuffer i(2, TIndexFormat::UInt32);
  EXPECT_THROW(i.GetIndices(2), EArgumentOutOfRangeException);
}

TEST(VertexBuffer, GrowingKeepsDataAndAssignCopiesEverything) {
  TVertexBuffer a(VertexFormatsFromMask(0x0003), 1);
  a.SetVertices(0, {4, 5, 6});
  a.SetLength(3);
  EXPECT_EQ(a.GetVertices(0), TPoint3D(4, 5, 6));
  EXPECT_EQ(a.GetVertices(2), TPoint3D(0, 0, 0));
  TVertexBuffer b(VertexFormatsFromMask(0x0001));
  b.Assign(a);
  EXPECT_EQ(b.Length(), 3);
  EXPECT_EQ(b.VertexSize(), 24);
  EXPECT_EQ(b.GetVertices(0), TPoint3D(4, 5, 6));
}

TEST(IndexBuffer, WidthsAndTheSixteenBitLimit) {
  TIndexBuffer small(3, TIndexFormat::UInt16);
  EXPECT_EQ(small.Size(), 6);
  small.SetIndices(2, 65535);
  EXPECT_EQ(small.GetIndices(2), 65535u);
  EXPECT_THROW(small.SetIndices(0, 65536), EArgumentOutOfRangeException);
  EXPECT_EQ(small.GetIndices(0), 0u);

  TIndexBuffer wide(2, TIndexFormat::UInt32);
  EXPECT_EQ(wide.Size(), 8);
  wide.SetIndices(1, 70000);
  TIndexBuffer copy;
  copy.Assign(wide);
  EXPECT_EQ(copy.Format(), TIndexFormat::UInt32);
  EXPECT_EQ(copy.GetIndices(1), 70000u);
}
