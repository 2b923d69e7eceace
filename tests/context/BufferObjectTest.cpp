// GL buffer objects (vertex, index, instance and uniform data) and mesh buffer objects with
// their component buffers and compressed frame data.
#include <gtest/gtest.h>

#include <epoxy/gl.h>

#include <cstring>
#include <vector>

#include "framework/rtl/Monitor.h"
#include "lib/animation/AnimationFrameCompression.h"
#include "lib/context/ContextBuffers.h"
#include "lib/context/opengl/ContextBuffersOpenGL.h"
#include "tests/context/ShaderTestSupport.h"

namespace quorvel {
namespace {

TOwned<TBufferObject> NewBuffer(TBufferUsage AUsage, TBufferBindingTarget ATarget, void* AContext = nullptr) {
  return TOwned<TBufferObject>(BufferObjectClass->Create(AUsage, ATarget, AContext));
}

// The store of a buffer, read through the copy-read target.
std::vector<uint8_t> StoreOf(const TBufferObject* ABuffer, size_t ASize) {
  std::vector<uint8_t> bytes(ASize);
  glBindBuffer(GL_COPY_READ_BUFFER, ABuffer->GetHandle());
  glGetBufferSubData(GL_COPY_READ_BUFFER, 0, GLsizeiptr(ASize), bytes.data());
  glBindBuffer(GL_COPY_READ_BUFFER, 0);
  return bytes;
}

GLint BufferParam(const TBufferObject* ABuffer, GLenum AParam) {
  GLint value = 0;
  glBindBuffer(GL_COPY_READ_BUFFER, ABuffer->GetHandle());
  glGetBufferParameteriv(GL_COPY_READ_BUFFER, AParam, &value);
  glBindBuffer(GL_COPY_READ_BUFFER, 0);
  return value;
}

class BufferObjectTest : public shader_test::GLSuite {};

TEST_F(BufferObjectTest, EachKindOfDataReachesItsTarget) {
  struct TCase {
    const char* Kind;
    TBufferUsage Usage;
    TBufferBindingTarget Target;
    GLenum Binding;
    GLenum GLUsage;
  };
  const TCase cases[] = {
      {"vertex", TBufferUsage::StaticDraw, TBufferBindingTarget::_Array, GL_ARRAY_BUFFER_BINDING, GL_STATIC_DRAW},
      {"index", TBufferUsage::StaticDraw, TBufferBindingTarget::ElementArray, GL_ELEMENT_ARRAY_BUFFER_BINDING,
       GL_STATIC_DRAW},
      {"instance", TBufferUsage::StaticDraw, TBufferBindingTarget::_Array, GL_ARRAY_BUFFER_BINDING, GL_STATIC_DRAW},
      {"uniform", TBufferUsage::DynamicDraw, TBufferBindingTarget::Uniform, GL_UNIFORM_BUFFER_BINDING,
       GL_DYNAMIC_DRAW},
  };
  std::vector<uint8_t> data(256);
  for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i * 7 + 1);
  for (const TCase& c : cases) {
    TOwned<TBufferObject> buffer = NewBuffer(c.Usage, c.Target);
    EXPECT_EQ(buffer->ClassName(), "TOpenGLBufferObject");
    ASSERT_NE(buffer->GetHandle(), 0u) << c.Kind;
    EXPECT_EQ(buffer->GetSize(), 0) << c.Kind;
    EXPECT_EQ(buffer->Bind(), 0) << c.Kind;
    GLint bound = 0;
    glGetIntegerv(c.Binding, &bound);
    EXPECT_EQ(GLuint(bound), buffer->GetHandle()) << c.Kind;
    buffer->Push(data.data(), intptr_t(data.size()));
    buffer->Unbind();
    glGetIntegerv(c.Binding, &bound);
    EXPECT_EQ(bound, 0) << c.Kind;
    EXPECT_EQ(buffer->Bind(), 256) << c.Kind;
    buffer->Unbind();
    EXPECT_EQ(StoreOf(buffer.get(), 256), data) << c.Kind;
    EXPECT_EQ(BufferParam(buffer.get(), GL_BUFFER_USAGE), GLint(c.GLUsage)) << c.Kind;
  }
}

// A push into a store of the same size writes in place; any other size (also one the store got
// from elsewhere) gets a store of the pushed size.
TEST_F(BufferObjectTest, PushesReplaceTheStoreWhateverItsSize) {
  TOwned<TBufferObject> buffer = NewBuffer(TBufferUsage::StaticDraw, TBufferBindingTarget::_Array);
  const std::vector<uint8_t> a(64, 0x11), b(64, 0x22), c(32, 0x33);
  buffer->Bind();
  buffer->Push(a.data(), 64);
  buffer->Push(b.data(), 64);
  buffer->Unbind();
  EXPECT_EQ(StoreOf(buffer.get(), 64), b);
  EXPECT_EQ(BufferParam(buffer.get(), GL_BUFFER_SIZE), 64);
  buffer->Bind();
  buffer->Push(c.data(), 32);
  buffer->Unbind();
  EXPECT_EQ(buffer->GetSize(), 32);
  EXPECT_EQ(BufferParam(buffer.get(), GL_BUFFER_SIZE), 32);
  EXPECT_EQ(StoreOf(buffer.get(), 32), c);
  // A store of another size and usage made behind the object's back.
  buffer->Bind();
  glBufferData(GL_ARRAY_BUFFER, 128, nullptr, GL_DYNAMIC_DRAW);
  buffer->Push(c.data(), 32);
  buffer->Unbind();
  EXPECT_EQ(BufferParam(buffer.get(), GL_BUFFER_SIZE), 32);
  EXPECT_EQ(BufferParam(buffer.get(), GL_BUFFER_USAGE), GLint(GL_STATIC_DRAW));
  EXPECT_EQ(StoreOf(buffer.get(), 32), c);
  buffer->Bind();
  glBufferData(GL_ARRAY_BUFFER, 32, nullptr, GL_DYNAMIC_DRAW);
  buffer->Push(a.data(), 32);
  buffer->Unbind();
  EXPECT_EQ(BufferParam(buffer.get(), GL_BUFFER_USAGE), GLint(GL_STATIC_DRAW));
  EXPECT_EQ(StoreOf(buffer.get(), 32), std::vector<uint8_t>(32, 0x11));
  EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

TEST_F(BufferObjectTest, BindingTwiceOrUnbindingUnboundRaises) {
  TOwned<TBufferObject> buffer = NewBuffer(TBufferUsage::StaticDraw, TBufferBindingTarget::_Array);
  try {
    buffer->Unbind();
    FAIL() << "no exception";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "failed to unbind - buffer object not bound");
  }
  buffer->Bind();
  try {
    buffer->Bind();
    FAIL() << "no exception";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "failed to bind - buffer object already bound");
  }
  EXPECT_TRUE(buffer->GetBinded());
  buffer->Unbind();
}

TEST_F(BufferObjectTest, MapReadsAndClearZeroesTheBoundStore) {
  TOwned<TBufferObject> buffer = NewBuffer(TBufferUsage::DynamicDraw, TBufferBindingTarget::_Array);
  const std::vector<uint8_t> data(64, 0x5A);
  buffer->Bind();
  buffer->Push(data.data(), 64);
  const auto* mapped = static_cast<const uint8_t*>(buffer->SynchronizedMap(TBufferAccessMode::ReadOnly));
  ASSERT_NE(mapped, nullptr);
  EXPECT_EQ(std::memcmp(mapped, data.data(), 64), 0);
  buffer->SynchronizedUnmap();
  buffer->Clear();
  buffer->Unbind();
  EXPECT_EQ(buffer->GetSize(), 0);
  EXPECT_EQ(StoreOf(buffer.get(), 64), std::vector<uint8_t>(64, 0));
  EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
  // Nothing bound: no store to clear and no GL error left behind.
  buffer->Clear();
  EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

TEST_F(BufferObjectTest, UniformBlockLinksToItsBindingPoint) {
  auto vs = shader_test::VertexShader(
      "#version 330\nlayout(std140) uniform Data { vec4 Tint; };\nin vec4 a_Position;\n"
      "void main() { gl_Position = a_Position * Tint.x; }\n");
  auto ps = shader_test::PixelShader("#version 330\nout vec4 c;\nvoid main() { c = vec4(1.0); }\n");
  TOwned<TShaderProgram> program = shader_test::Link(*vs, *ps);
  const auto prog = GLuint(program->GetProg());
  ASSERT_NE(prog, 0u);
  TOwned<TBufferObject> block = NewBuffer(TBufferUsage::DynamicDraw, TBufferBindingTarget::Uniform);
  const float tint[4] = {0.5f, 0.25f, 1, 1};
  block->LinkWithBindingPoint(3, true);
  GLint bound = 0;
  glGetIntegeri_v(GL_UNIFORM_BUFFER_BINDING, 3, &bound);
  EXPECT_EQ(GLuint(bound), block->GetHandle());
  block->Bind();
  block->LinkWithShaderProgram(program.get(), "Data", tint, sizeof(tint), true);
  block->Unbind();
  EXPECT_TRUE(block->GetLinked());
  GLint binding = -1;
  glGetActiveUniformBlockiv(prog, glGetUniformBlockIndex(prog, "Data"), GL_UNIFORM_BLOCK_BINDING, &binding);
  EXPECT_EQ(binding, 3);
  std::vector<uint8_t> store = StoreOf(block.get(), sizeof(tint));
  EXPECT_EQ(std::memcmp(store.data(), tint, sizeof(tint)), 0);

  TOwned<TBufferObject> other = NewBuffer(TBufferUsage::DynamicDraw, TBufferBindingTarget::Uniform);
  try {
    other->LinkWithShaderProgram(program.get(), "Missing", tint, sizeof(tint), true);
    FAIL() << "no exception";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), Format("TBufferObject.LinkWithShaderProgram failed: invalid uniform block index "
                                  "(program=%d, index=-1, name=Missing)",
                                  int32_t(prog)));
  }
  EXPECT_FALSE(other->GetLinked());
}

// --- mesh buffer objects ----------------------------------------------------------------------

void FillThreeVertices(TVertexBuffer& buffer) {
  for (int32_t i = 0; i < 3; ++i) {
    buffer.SetVertices(i, TPoint3D(float(i), float(i + 1), float(i + 2)));
    buffer.SetNormals(i, TPoint3D(0, float(-i), 1));
    buffer.SetTexCoord0(i, TPointF(0.5f * float(i), 1));
  }
}
const TVertexFormats ThreeVertexFormat{TVertexFormat::Vertex, TVertexFormat::Normal, TVertexFormat::TexCoord0};

TEST_F(BufferObjectTest, MeshBufferObjectHoldsPackedComponents) {
  TVertexBuffer vertices(ThreeVertexFormat, 3);
  FillThreeVertices(vertices);
  TOwned<TMeshBufferObject> mesh(New<TMeshBufferObject>());
  EXPECT_FALSE(mesh->ComponentAvailable(TMeshBufferComponent::Normal));
  EXPECT_EQ(mesh->GetComponent(TMeshBufferComponent::Indices)->GetTarget(), TBufferBindingTarget::ElementArray);
  mesh->PushData(TMeshBufferComponent::Normal, &vertices);
  TBufferObject* normals = mesh->GetComponent(TMeshBufferComponent::Normal);
  EXPECT_EQ(normals->GetTarget(), TBufferBindingTarget::_Array);
  ASSERT_EQ(normals->GetSize(), 36);
  std::vector<uint8_t> store = StoreOf(normals, 36);
  for (int32_t i = 0; i < 3; ++i) {
    float n[3];
    std::memcpy(n, store.data() + i * 12, 12);
    EXPECT_EQ(n[1], float(-i));
    EXPECT_EQ(n[2], 1.0f);
  }
  mesh->PushData(TMeshBufferComponent::All, &vertices);
  EXPECT_EQ(mesh->GetComponent(TMeshBufferComponent::All)->GetSize(), vertices.Size());
  EXPECT_EQ(StoreOf(mesh->GetComponent(TMeshBufferComponent::All), size_t(vertices.Size())),
            std::vector<uint8_t>(vertices.Buffer(), vertices.Buffer() + vertices.Size()));
  try {
    mesh->PushData(TMeshBufferComponent::Indices, &vertices);
    FAIL() << "no exception";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "failed to push index data to mesh buffer object");
  }
  EXPECT_FALSE(TMonitor::IsHeldByCurrentThread(mesh.get()));
  // A mesh drawn through itself binds its own interleaved vertices.
  mesh->SetStaticBuffer(mesh.get());
  EXPECT_EQ(mesh->BindStaticVertices(), vertices.Size());
  mesh->UnbindStaticVertices();
}

TEST_F(BufferObjectTest, CompressedFrameDataRoundTripsThroughZlib) {
  TVertexBuffer vertices(ThreeVertexFormat, 3);
  FillThreeVertices(vertices);
  TOwned<TMeshBufferObject> frame(New<TMeshBufferObject>());
  TMemoryStream packed;
  TAnimationFrameCompression::SetSourceStream(TVertexFormat::Vertex, &vertices, &packed);
  ASSERT_EQ(packed.GetSize(), 36);
  frame->SetCompressed(TMeshBufferComponent::Vertex, TAnimationFrameCompression::Compress(TVertexFormat::Vertex, &vertices));
  ASSERT_TRUE(frame->GetIsCompressed(TMeshBufferComponent::Vertex));
  std::unique_ptr<TMemoryStream> inflated(frame->Decompress(TMeshBufferComponent::Vertex));
  ASSERT_EQ(inflated->GetSize(), 36);
  EXPECT_EQ(inflated->GetPosition(), 0);
  EXPECT_EQ(std::memcmp(inflated->GetMemory(), packed.GetMemory(), 36), 0);
  // The inflated frame uploads as the frame's vertex component.
  frame->PushData(TMeshBufferComponent::Vertex, inflated->GetMemory(), intptr_t(inflated->GetSize()));
  EXPECT_EQ(StoreOf(frame->GetComponent(TMeshBufferComponent::Vertex), 36),
            std::vector<uint8_t>(static_cast<const uint8_t*>(packed.GetMemory()),
                                 static_cast<const uint8_t*>(packed.GetMemory()) + 36));
  frame->SetCompressed(TMeshBufferComponent::Vertex, nullptr);
  EXPECT_FALSE(frame->GetIsCompressed(TMeshBufferComponent::Vertex));
}

}  // namespace
}  // namespace quorvel
