#include <string>
#include <vector>

#include "framework/rtl/Exceptions.h"
#include "lib/context/Context.h"
#include "lib/context/ContextBuffers.h"
#include "lib/context/windows/ContextGLESWindows.h"
#include "tests/context/ShaderTestSupport.h"

namespace quorvel {

// A buffer that records what the program asks of it.
class TRecordingUniformBuffer : public TBufferObject {
  FW_CLASS_META(TRecordingUniformBuffer, TBufferObject, TBufferObjectClass)

public:
  using TBufferObject::TBufferObject;
  static std::vector<std::string>& Calls() {
    static std::vector<std::string> calls;
    return calls;
  }
  static std::string Name(const TRecordingUniformBuffer* b) { return std::to_string(b->FId); }

  intptr_t Bind() override {
    Calls().push_back("Bind " + Name(this));
    return FSize;
  }
  void Unbind() override { Calls().push_back("Unbind " + Name(this)); }
  void Push(const void* AData, intptr_t ASize) override {
    FSize = ASize;
    FLast = AData ? std::string(static_cast<const char*>(AData), static_cast<size_t>(ASize)) : "(storage)";
    Calls().push_back("Push " + Name(this) + " " + FLast);
  }
  void Unlink() override { Calls().push_back("Unlink " + Name(this)); }
  void LinkWithBindingPoint(uint32_t ABindingPoint, bool) override {
    Calls().push_back("Point " + Name(this) + " " + std::to_string(ABindingPoint));
  }
  void LinkWithShaderProgram(TObject*, const std::string& ABlockName, const void*, uint32_t, bool) override {
    Calls().push_back("Block " + Name(this) + " " + ABlockName);
  }
  void AfterConstruction() override {
    TBufferObject::AfterConstruction();
    static int next = 0;
    FId = next++;
  }
  int FId = 0;
  std::string FLast;
};
FW_CLASS_IMPL_META(TRecordingUniformBuffer, "Tests.Context", TBufferObjectClassOf<TRecordingUniformBuffer>)
FW_CLASS_NO_MEMBERS(TRecordingUniformBuffer)

namespace {

using namespace shader_test;

class UniformBlockTest : public GLSuite {
protected:
  void SetUp() override {
    GLSuite::SetUp();
    if (HasFatalFailure()) return;
    FOldClass = SetBufferObjectClass(TRecordingUniformBuffer::StaticMeta());
    TRecordingUniformBuffer::Calls().clear();
    FVS = VertexShader(std::string(PassThroughVS));
    FPS = PixelShader("#version 430\nout vec4 o_Color;\nvoid main() { o_Color = vec4(1.0); }\n");
    FProgram = Link(*FVS, *FPS);
  }
  void TearDown() override {
    FProgram.reset();
    if (FOldClass) SetBufferObjectClass(FOldClass);
  }
  static std::vector<std::string> TakeCalls() {
    std::vector<std::string> calls;
    calls.swap(TRecordingUniformBuffer::Calls());
    return calls;
  }
  static std::string Id(PUniformBufferStruct s) { return TRecordingUniformBuffer::Name(static_cast<TRecordingUniformBuffer*>(s->Buffer)); }

  const TBufferObjectClass* FOldClass = nullptr;
  std::unique_ptr<TCompiledShader> FVS, FPS;
  TOwned<TShaderProgram> FProgram;
  const std::string FA = "aaaa", FB = "bbbb", FC = "cccc";
};

TEST_F(UniformBlockTest, ANameRegistersOnceAndUploadsOnce) {
  PUniformBufferStruct first = FProgram->RegisterUniformBuffer("Block", FA.data(), 4);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->Name, "Block");
  EXPECT_EQ(first->Binding, 0);
  EXPECT_EQ(first->Size, 4);
  EXPECT_EQ(TakeCalls(), (std::vector<std::string>{"Bind " + Id(first), "Push " + Id(first) + " aaaa",
                                                   "Unbind " + Id(first)}));
  // The second registration answers the same entry and neither re-points nor uploads it.
  PUniformBufferStruct again = FProgram->RegisterUniformBuffer("Block", FB.data(), 2);
  EXPECT_EQ(again, first);
  EXPECT_EQ(again->Data, FA.data());
  EXPECT_EQ(again->Size, 4);
  EXPECT_TRUE(TakeCalls().empty());
  EXPECT_EQ(FProgram->UniformBufferCount(), 1);
  // Names compare exactly.
  EXPECT_EQ(FProgram->IndexOfUniformBuffer("block"), -1);
  EXPECT_EQ(FProgram->GetUniformBufferByName("Missing"), nullptr);
}

TEST_F(UniformBlockTest, RemovingABlockMovesTheOthersToTheFreedBindingPoints) {
  FProgram->RegisterUniformBuffer("A", FA.data(), 4);
  PUniformBufferStruct b = FProgram->RegisterUniformBuffer("B", FB.data(), 4);
  PUniformBufferStruct c = FProgram->RegisterUniformBuffer("C", FC.data(), 4);
  FProgram->PushUniformBuffers();
  TakeCalls();
  EXPECT_FALSE(FProgram->GetUniformBuffersModified());

  FProgram->UnregisterUniformBufferByName("A");
  EXPECT_TRUE(FProgram->GetUniformBuffersModified());
  // Entries stay where they are when others come and go.
  EXPECT_EQ(b->Name, "B");
  EXPECT_EQ(c->Name, "C");
  FProgram->PushUniformBuffers();
  EXPECT_EQ(TakeCalls(), (std::vector<std::string>{
                             "Unlink " + Id(b), "Point " + Id(b) + " 0", "Block " + Id(b) + " B", "Bind " + Id(b),
                             "Push " + Id(b) + " bbbb", "Unbind " + Id(b),  //
                             "Unlink " + Id(c), "Point " + Id(c) + " 1", "Block " + Id(c) + " C", "Bind " + Id(c),
                             "Push " + Id(c) + " cccc", "Unbind " + Id(c)}));

  // Without a change the next push links and uploads again, without unlinking.
  FProgram->PushUniformBuffers();
  const std::vector<std::string> calls = TakeCalls();
  EXPECT_EQ(calls.size(), 10u);
  for (const std::string& call : calls) EXPECT_EQ(call.rfind("Unlink", 0), std::string::npos) << call;

  FProgram->UnregisterUniformBufferByIdx(5);  // outside the list: nothing
  FProgram->UnregisterUniformBufferByIdx(-1);
  EXPECT_EQ(FProgram->UniformBufferCount(), 2);
  FProgram->UnregisterUniformBufferByIdx(1);
  EXPECT_EQ(FProgram->UniformBufferCount(), 1);
  EXPECT_EQ(FProgram->IndexOfUniformBuffer("B"), 0);
}

TEST_F(UniformBlockTest, ClearingFreesEveryBlockAndOnlyAnExistingListMarksAChange) {
  FProgram->ClearUniformBuffers();
  EXPECT_FALSE(FProgram->GetUniformBuffersModified());
  FProgram->RegisterUniformBuffer("A", FA.data(), 4);
  FProgram->PushUniformBuffers();
  FProgram->ClearUniformBuffers();
  EXPECT_TRUE(FProgram->GetUniformBuffersModified());
  EXPECT_EQ(FProgram->UniformBufferCount(), 0);
  EXPECT_EQ(FProgram->IndexOfUniformBuffer("A"), -1);
}

TEST_F(UniformBlockTest, RegistrationStopsAtTheDriversLimits) {
  GLint maxVertex = 0, maxFragment = 0, maxSize = 0;
  glGetIntegerv(GL_MAX_VERTEX_UNIFORM_BLOCKS, &maxVertex);
  glGetIntegerv(GL_MAX_FRAGMENT_UNIFORM_BLOCKS, &maxFragment);
  glGetIntegerv(GL_MAX_UNIFORM_BLOCK_SIZE, &maxSize);
  ASSERT_GT(maxVertex, 1);
  ASSERT_GT(maxFragment, 1);
  EXPECT_EQ(TQuorvelContext::MaxVertexShaderUniformBlocks(), maxVertex);
  EXPECT_EQ(TQuorvelContext::MaxUniformBlockSize(), maxSize);

  try {
    FProgram->RegisterUniformBuffer("Huge", FA.data(), int64_t(maxSize) + 1);
    ADD_FAILURE() << "no exception";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "failed to register uniform buffer - maximum uniform block size exceeded");
  }
  EXPECT_EQ(FProgram->UniformBufferCount(), 0);

  const int32_t limit = std::min(maxVertex, maxFragment);
  std::vector<PUniformBufferStruct> entries;
  for (int32_t i = 0; i < limit; ++i)
    entries.push_back(FProgram->RegisterUniformBuffer("B" + std::to_string(i), FA.data(), 4));
  try {
    FProgram->RegisterUniformBuffer("OneTooMany", FA.data(), 4);
    ADD_FAILURE() << "no exception";
  } catch (const Exception& e) {
    const std::string stage = maxVertex <= maxFragment ? "vertex" : "fragment";
    EXPECT_EQ(std::string(e.what()),
              "failed to register uniform buffer - maximum number of " + stage + " uniform blocks exceeded");
  }
  EXPECT_EQ(FProgram->UniformBufferCount(), limit);
  // Entries handed out earlier still name their own blocks after the list grew.
  for (int32_t i = 0; i < limit; ++i) EXPECT_EQ(entries[i]->Name, "B" + std::to_string(i));
}

TEST_F(UniformBlockTest, ANegativeSizeIsRefusedAndNoDataOnlyReservesStorage) {
  EXPECT_THROW(FProgram->RegisterUniformBuffer("Negative", FA.data(), -4), EArgumentException);
  EXPECT_EQ(FProgram->UniformBufferCount(), 0);
  PUniformBufferStruct reserved = FProgram->RegisterUniformBuffer("NoData", nullptr, 16);
  ASSERT_NE(reserved, nullptr);
  EXPECT_EQ(TakeCalls(), (std::vector<std::string>{"Bind " + Id(reserved), "Push " + Id(reserved) + " (storage)",
                                                   "Unbind " + Id(reserved)}));
}

// Answers the uniform-block limits a test sets; everything else as the OpenGL context.
class TLimitedContext : public TContextOpenGLWindows {
  FW_CLASS_META(TLimitedContext, TContextOpenGLWindows, TQuorvelContextOpenGLESClass)

public:
  using TContextOpenGLWindows::TContextOpenGLWindows;
};
struct TLimitedContextClass : TContextClassOf<TLimitedContext, TQuorvelContextOpenGLESClass> {
  using TContextClassOf::TContextClassOf;
  static inline int32_t Vertex = 16;
  static inline int32_t Fragment = 16;
  int32_t PlatformMaxVertexShaderUniformBlocks() const override { return Vertex; }
  int32_t PlatformMaxFragmentShaderUniformBlocks() const override { return Fragment; }
};
FW_CLASS_IMPL_META(TLimitedContext, "Tests.Context", TLimitedContextClass)
FW_CLASS_NO_MEMBERS(TLimitedContext)

TEST_F(UniformBlockTest, ADriverWithOneBlockOrNoneRegistersNothing) {
  struct TRestoreDefault {
    ~TRestoreDefault() {
      TContextManager::UnregisterContext(TLimitedContext::StaticMeta());
      TContextManager::RegisterContext(TContextOpenGLWindows::StaticMeta(), true);
    }
  } restore;
  TContextManager::RegisterContext(TLimitedContext::StaticMeta(), true);
  const std::vector<std::pair<int32_t, int32_t>> limits = {{1, 16}, {0, 16}, {16, 1}, {16, -1}};
  for (const auto& [vertex, fragment] : limits) {
    TLimitedContextClass::Vertex = vertex;
    TLimitedContextClass::Fragment = fragment;
    EXPECT_EQ(FProgram->RegisterUniformBuffer("Block", FA.data(), 4), nullptr) << vertex << "/" << fragment;
    EXPECT_EQ(FProgram->UniformBufferCount(), 0);
    EXPECT_TRUE(TakeCalls().empty());
  }
  // Two blocks per stage is enough for one.
  TLimitedContextClass::Vertex = TLimitedContextClass::Fragment = 2;
  EXPECT_NE(FProgram->RegisterUniformBuffer("Block", FA.data(), 4), nullptr);
}

}  // namespace
}  // namespace quorvel
