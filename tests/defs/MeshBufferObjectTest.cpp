#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "lib/animation/AnimationFrameCompression.h"
#include "lib/context/ContextBuffers.h"
#include "tests/support/MemoryBufferObject.h"

namespace quorvel::test {

namespace {

// Three vertices with distinct values in every component of the format.
std::unique_ptr<TVertexBuffer> SampleBuffer(const TVertexFormats& AFormat) {
  auto vb = std::make_unique<TVertexBuffer>(AFormat, 3);
  for (int i = 0; i < 3; ++i) {
    const float b = float(i * 10);
    vb->SetVertices(i, {b + 1, b + 2, b + 3});
    vb->SetNormals(i, {b + 4, b + 5, b + 6});
    vb->SetBiNormals(i, {b + 7, b + 8, b + 9});
    vb->SetTangents(i, {b + 0.5f, b + 1.5f, b + 2.5f});
    for (int ch = 0; ch < 4; ++ch) {
      vb->SetTexCoord(ch, i, {b + ch, b - ch});
      vb->SetColor(ch, i, MakeAlphaColor(uint8_t(10 * i + ch), uint8_t(200), uint8_t(30 + ch), uint8_t(255 - i)));
    }
  }
  return vb;
}

}  // namespace

class MeshBufferObjectTest : public ::testing::Test {
protected:
  TMemoryBufferClassScope FScope;
};

TEST(BufferObjectClassTest, AbstractClassRaisesForEveryGraphicsOperation) {
  const TBufferObjectClass* previous = SetBufferObjectClass(nullptr);
  struct Restore {
    const TBufferObjectClass* Class;
    ~Restore() { SetBufferObjectClass(Class); }
  } restore{previous};
  EXPECT_EQ(BufferObjectClass, TBufferObject::StaticMeta());
  TMeshBufferObject mesh;
  TBufferObject* comp = mesh.GetComponent(TMeshBufferComponent::All);
  EXPECT_EQ(comp->ClassName(), "TBufferObject");
  EXPECT_THROW(comp->Bind(), EAbstractError);
  EXPECT_THROW(mesh.PushData(TMeshBufferComponent::All, "x", 1), EAbstractError);
}

TEST_F(MeshBufferObjectTest, ComponentsAreMadeOnFirstUseThroughTheClassVariable) {
  TMeshBufferObject mesh;
  EXPECT_EQ(mesh.GetKind(), TQuorvelPrimitivesKind::Triangles);
  EXPECT_FLOAT_EQ(mesh.GetLineWidth(), 1.0f);
  for (int i = 0; i < MeshBufferComponentCount; ++i) {
    const auto c = static_cast<TMeshBufferComponent>(i);
    EXPECT_FALSE(mesh.ComponentAvailable(c));
    TBufferObject* comp = mesh.GetComponent(c);
    ASSERT_NE(dynamic_cast<TMemoryBufferObject*>(comp), nullptr);
    EXPECT_TRUE(mesh.ComponentAvailable(c));
    EXPECT_EQ(mesh.GetComponent(c), comp);
    EXPECT_EQ(comp->GetUsage(), TBufferUsage::StaticDraw);
    EXPECT_EQ(comp->GetTarget(), c == TMeshBufferComponent::Indices ? TBufferBindingTarget::ElementArray
                                                                    : TBufferBindingTarget::_Array);
    EXPECT_EQ(comp->GetContext(), nullptr);
  }
  EXPECT_THROW(mesh.GetComponent(static_cast<TMeshBufferComponent>(18)), EArgumentOutOfRangeException);
}

TEST_F(MeshBufferObjectTest, PushDataUploadsOneAttributeTightlyPacked) {
  const TVertexFormats all = VertexFormatsFromMask(0xFFFF);
  auto vb = SampleBuffer(all);
  struct Case {
    TMeshBufferComponent Component;
    int Size;
  };
  const Case cases[] = {
      {TMeshBufferComponent::Normal, 12},   {TMeshBufferComponent::BiNormal, 12}, {TMeshBufferComponent::Tangent, 12},
      {TMeshBufferComponent::TexCoord2, 8}, {TMeshBufferComponent::Color1, 4},    {TMeshBufferComponent::ColorF3, 4},
  };
  TMeshBufferObject mesh;
  for (const Case& c : cases) {
    SCOPED_TRACE(int(c.Component));
    mesh.PushData(c.Component, vb.get());
    TMemoryBufferObject* comp = MemoryComponent(&mesh, c.Component);
    ASSERT_EQ(comp->Data.size(), size_t(3 * c.Size));
    EXPECT_FALSE(comp->GetBinded());
    const auto format = static_cast<TVertexFormat>(c.Component);
    for (int i = 0; i < 3; ++i) {
      const uint8_t* got = comp->Data.data() + i * c.Size;
      if (c.Size == 12) {
        EXPECT_EQ(0, std::memcmp(got, vb->VerticesPtr(i) + vb->OffsetOf(format), 12));
      } else if (c.Size == 8) {
        const TPointF t = vb->GetTexCoord(2, i);
        float f[2];
        std::memcpy(f, got, 8);
        EXPECT_EQ(f[0], t.X);
        EXPECT_EQ(f[1], t.Y);
      } else {
        // Float colours go up as their 32-bit colours.
        const int ch = int(c.Component) >= int(TMeshBufferComponent::ColorF0) ? int(c.Component) - 6 : int(c.Component) - 2;
        uint32_t v;
        std::memcpy(&v, got, 4);
        EXPECT_EQ(v, ToCardinal(vb->GetColor(ch, i)));
      }
    }
  }
}

TEST_F(MeshBufferObjectTest, PushDataOfAllAndVertexSendsTheWholeBufferAndIndicesAreRefused) {
  auto vb = SampleBuffer(VertexFormatsFromMask(0xC443));
  TMeshBufferObject mesh;
  mesh.PushData(TMeshBufferComponent::All, vb.get());
  mesh.PushData(TMeshBufferComponent::Vertex, vb.get());
  for (auto c : {TMeshBufferComponent::All, TMeshBufferComponent::Vertex}) {
    TMemoryBufferObject* comp = MemoryComponent(&mesh, c);
    ASSERT_EQ(comp->Data.size(), size_t(vb->Size()));
    EXPECT_EQ(0, std::memcmp(comp->Data.data(), vb->Buffer(), size_t(vb->Size())));
    EXPECT_EQ(comp->GetSize(), vb->Size());
  }
  try {
    mesh.PushData(TMeshBufferComponent::Indices, vb.get());
    FAIL();
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "failed to push index data to mesh buffer object");
  }
  mesh.PushData(TMeshBufferComponent::Normal, static_cast<TVertexBuffer*>(nullptr));
  EXPECT_FALSE(mesh.ComponentAvailable(TMeshBufferComponent::Normal));
}

TEST_F(MeshBufferObjectTest, StaticBindingNeedsAStaticBuffer) {
  TMeshBufferObject lone;
  struct Case {
    void (*Call)(TMeshBufferObject&);
    const char* Message;
  };
  const Case cases[] = {
      {[](TMeshBufferObject& m) { m.BindStaticVertices(); }, "failed to bind vertices - static buffer not assigned"},
      {[](TMeshBufferObject& m) { m.UnbindStaticVertices(); }, "failed to unbind vertices - static buffer not assigned"},
      {[](TMeshBufferObject& m) { m.BindStaticIndices(); }, "failed to bind indices - static buffer not assigned"},
      {[](TMeshBufferObject& m) { m.UnbindStaticIndices(); }, "failed to unbind indices - static buffer not assigned"},
  };
  for (const Case& c : cases) {
    try {
      c.Call(lone);
      ADD_FAILURE() << c.Message;
    } catch (const Exception& e) {
      EXPECT_STREQ(e.what(), c.Message);
    }
  }

  // A frame draws the vertices and indices of the mesh it belongs to.
  TMeshBufferObject owner;
  const uint16_t idx[] = {0, 1, 2};
  owner.PushData(TMeshBufferComponent::Indices, idx, sizeof(idx));
  auto vb = SampleBuffer(VertexFormatsFromMask(0x0001));
  owner.PushData(TMeshBufferComponent::All, vb.get());
  TMeshBufferObject frame(&owner);
  EXPECT_TRUE(frame.IsStaticBufferAvailable());
  EXPECT_EQ(frame.BindStaticVertices(), vb->Size());
  EXPECT_TRUE(owner.GetComponent(TMeshBufferComponent::All)->GetBinded());
  frame.UnbindStaticVertices();
  EXPECT_EQ(frame.BindStaticIndices(), intptr_t(sizeof(idx)));
  frame.UnbindStaticIndices();
  EXPECT_FALSE(frame.ComponentAvailable(TMeshBufferComponent::All));
}

TEST_F(MeshBufferObjectTest, CompressedComponentsInflateToTheirData) {
  std::vector<uint8_t> data(3 * 1048576 + 17);
  for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t((i * 7) ^ (i >> 9));
  TMeshBufferObject mesh;
  EXPECT_FALSE(mesh.GetIsCompressed(TMeshBufferComponent::All));
  mesh.SetCompressed(TMeshBufferComponent::All, TAnimationFrameCompression::Compress(data.data(), int64_t(data.size())));
  // Replacing frees the stream held so far (a leak otherwise).
  mesh.SetCompressed(TMeshBufferComponent::All, TAnimationFrameCompression::Compress(data.data(), int64_t(data.size())));
  ASSERT_TRUE(mesh.GetIsCompressed(TMeshBufferComponent::All));
  EXPECT_LT(mesh.GetCompressed(TMeshBufferComponent::All)->GetSize(), int64_t(data.size()));
  std::unique_ptr<TMemoryStream> out(mesh.Decompress(TMeshBufferComponent::All));
  EXPECT_EQ(out->GetPosition(), 0);
  ASSERT_EQ(out->GetSize(), int64_t(data.size()));
  EXPECT_EQ(0, std::memcmp(out->GetMemory(), data.data(), data.size()));

  auto vb = SampleBuffer(VertexFormatsFromMask(0xC443));
  mesh.SetCompressed(TMeshBufferComponent::Vertex, TAnimationFrameCompression::Compress(TVertexFormat::Vertex, vb.get()));
  out.reset(mesh.Decompress(TMeshBufferComponent::Vertex));
  ASSERT_EQ(out->GetSize(), 36);
  float f[9];
  std::memcpy(f, out->GetMemory(), 36);
  EXPECT_EQ(f[3], vb->GetVertices(1).X);
  EXPECT_EQ(f[8], vb->GetVertices(2).Z);

  EXPECT_THROW(mesh.Decompress(TMeshBufferComponent::Normal), Exception);
  mesh.SetCompressed(TMeshBufferComponent::All, nullptr);
  EXPECT_FALSE(mesh.GetIsCompressed(TMeshBufferComponent::All));
}

TEST_F(MeshBufferObjectTest, AssignedObjectsShareBuffersUntilCleared) {
  auto owner = std::make_unique<TMeshBufferObject>();
  owner->SetKind(TQuorvelPrimitivesKind::Lines);
  owner->SetLineWidth(3);
  owner->SetStaticBuffer(owner.get());
  const uint32_t idx[] = {1, 2};
  owner->PushData(TMeshBufferComponent::Indices, idx, sizeof(idx));
  owner->SetCompressed(TMeshBufferComponent::All, TAnimationFrameCompression::Compress(idx, sizeof(idx)));
  {
    TMeshBufferObject linked;
    linked.AssignBufferObject(owner.get());
    EXPECT_EQ(linked.GetKind(), TQuorvelPrimitivesKind::Lines);
    EXPECT_FLOAT_EQ(linked.GetLineWidth(), 3);
    EXPECT_EQ(linked.GetStaticBuffer(), owner.get());
    EXPECT_EQ(linked.GetComponent(TMeshBufferComponent::Indices), owner->GetComponent(TMeshBufferComponent::Indices));
    EXPECT_EQ(linked.GetCompressed(TMeshBufferComponent::All), owner->GetCompressed(TMeshBufferComponent::All));
    linked.ClearAssignedBufferObject();
    EXPECT_FALSE(linked.ComponentAvailable(TMeshBufferComponent::Indices));
    EXPECT_FALSE(linked.IsStaticBufferAvailable());
  }
  // Still the owner's: freeing the linked object freed nothing shared.
  EXPECT_EQ(MemoryComponent(owner.get(), TMeshBufferComponent::Indices)->Data.size(), sizeof(idx));
  owner->ClearAll();
  EXPECT_FALSE(owner->ComponentAvailable(TMeshBufferComponent::Indices));
  EXPECT_FALSE(owner->GetIsCompressed(TMeshBufferComponent::All));
}

// What a buffer object made itself is freed when an assignment replaces it or when it goes;
// what it shares stays its owner's (LeakSanitizer and AddressSanitizer check both).
TEST_F(MeshBufferObjectTest, AssignmentFreesOwnBuffersAndNeverTheSharedOnes) {
  TMeshBufferObject owner;
  const uint32_t idx[] = {1, 2, 3};
  owner.PushData(TMeshBufferComponent::Indices, idx, sizeof(idx));
  owner.SetCompressed(TMeshBufferComponent::All, TAnimationFrameCompression::Compress(idx, sizeof(idx)));
  {
    TMeshBufferObject linked;
    const float own[] = {1, 2, 3};
    linked.PushData(TMeshBufferComponent::Indices, own, sizeof(own));
    linked.PushData(TMeshBufferComponent::Vertex, own, sizeof(own));
    linked.SetCompressed(TMeshBufferComponent::All, TAnimationFrameCompression::Compress(own, sizeof(own)));
    linked.AssignBufferObject(&owner);
    EXPECT_EQ(linked.GetComponent(TMeshBufferComponent::Indices), owner.GetComponent(TMeshBufferComponent::Indices));
    EXPECT_EQ(linked.GetCompressed(TMeshBufferComponent::All), owner.GetCompressed(TMeshBufferComponent::All));
    // The owner had no vertex component: the linked object's own one went with the assignment.
    EXPECT_FALSE(linked.ComponentAvailable(TMeshBufferComponent::Vertex));
    // Assigning the same object again changes nothing.
    linked.AssignBufferObject(&owner);
    EXPECT_EQ(linked.GetComponent(TMeshBufferComponent::Indices), owner.GetComponent(TMeshBufferComponent::Indices));
    // One made after the assignment is the linked object's; it goes without ClearAssignedBufferObject.
    linked.PushData(TMeshBufferComponent::Normal, own, sizeof(own));
  }
  EXPECT_EQ(MemoryComponent(&owner, TMeshBufferComponent::Indices)->Data.size(), sizeof(idx));
  EXPECT_FALSE(owner.ComponentAvailable(TMeshBufferComponent::Normal));
  TOwned<TMemoryStream> out(owner.Decompress(TMeshBufferComponent::All));
  EXPECT_EQ(out->GetSize(), int64_t(sizeof(idx)));
}

TEST(AnimationFrameCompressionTest, SourceStreamWritesOneBlockWhenTheVertexIsTheAttribute) {
  auto vb = SampleBuffer(VertexFormatsFromMask(0x0001));
  TMemoryStream stream;
  TAnimationFrameCompression::SetSourceStream(TVertexFormat::Vertex, vb.get(), &stream);
  EXPECT_EQ(stream.GetPosition(), 0);
  ASSERT_EQ(stream.GetSize(), vb->Size());
  EXPECT_EQ(0, std::memcmp(stream.GetMemory(), vb->Buffer(), size_t(vb->Size())));
  // An attribute the format lacks packs as zeros.
  TMemoryStream normals;
  TAnimationFrameCompression::SetSourceStream(TVertexFormat::Normal, vb.get(), &normals);
  ASSERT_EQ(normals.GetSize(), 36);
  const std::vector<uint8_t> zeros(36);
  EXPECT_EQ(0, std::memcmp(normals.GetMemory(), zeros.data(), 36));
}

}  // namespace quorvel::test
