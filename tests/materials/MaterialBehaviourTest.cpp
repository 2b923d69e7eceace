// Material behaviours: the hooks and their order, the item's block, the collection's
// notifications, the source's attach operations and behaviour references in definitions, and
// a behaviour block that reaches the shader through a real draw.
#include <gtest/gtest.h>

#include <epoxy/gl.h>

#include <cstring>
#include <string>
#include <vector>

#include "framework/rtl/Exceptions.h"
#include "framework/rtl/Log.h"
#include "framework/rtl/StringList.h"
#include "lib/context/ContextShader.h"
#include "lib/defs/DefTypesMaterial.h"
#include "lib/defs/DefTypesModel.h"
#include "lib/defs/DefTypesProperties.h"
#include "lib/materials/MaterialBehaviour.h"
#include "lib/materials/MaterialDefault.h"
#include "lib/scene/Model.h"
#include "tests/context/ContextTestFixture.h"

namespace quorvel {
namespace {

using TSource = TQuorvelDefaultMaterialSource;

// Records every hook as "<name>:<hook>"; with data it adds one block "<name>Data" holding the
// vec4 "_<name>Tint" to each builder and hands over a copy of Tint.
class TTintBehaviour : public TQuorvelMaterialBehaviour {
  FW_CLASS(TTintBehaviour, TQuorvelMaterialBehaviour)

public:
  explicit TTintBehaviour(TComponent* AOwner) : TQuorvelMaterialBehaviour(AOwner) {}

  std::vector<std::string>* Journal = nullptr;
  bool WithData = true;
  TVector3D Tint = TVector3D(0, 0, 1, 1);
  TVector3D Applied = TVector3D(0, 0, 0, 0);  // written into the block on every apply
  TMaterialBehaviourDef* GivenDef = nullptr;

  std::string BlockName() const { return GetName() + "Data"; }
  void Record(const std::string& AWhat) {
    if (Journal) Journal->push_back(GetName() + ":" + AWhat);
  }
  bool DoOnRegisterUniformBuffer(std::string& AName, void*& AUBO, int32_t& AUBOSize) override {
    Record("register");
    if (!WithData) return false;
    AName = BlockName();
    AUBO = new char[sizeof(TVector3D)];
    std::memcpy(AUBO, &Tint, sizeof(TVector3D));
    AUBOSize = sizeof(TVector3D);
    return true;
  }
  void DoOnInitializeUniformBuffer(TMaterial* AMaterial, bool& AInitialized) override {
    Record("init");
    TQuorvelMaterialBehaviour::DoOnInitializeUniformBuffer(AMaterial, AInitialized);
  }
  static const char* Stage(TContextShaderKind AKind) { return AKind == TContextShaderKind::VertexShader ? "vs" : "fs"; }
  void DoOnCreateShader(TQuorvelNodeBuilder* ABuilder, TContextShaderKind AKind) override {
    Record(std::string("create ") + Stage(AKind));
    if (!WithData) return;
    auto* block = ABuilder->GetGlobals()->GetUniforms()->AddNew<TQuorvelGLSLUBO>(GetReferenceID());
    block->SetId(BlockName());
    block->AddDeclaration("_" + GetName() + "Tint", TQuorvelShaderNodeVariableType::stVec4);
  }
  void DoOnUpdateShader(TQuorvelNodeBuilder*, TContextShaderKind AKind) override {
    Record(std::string("update ") + Stage(AKind));
  }
  void DoOnRemoveShader(TQuorvelNodeBuilder* ABuilder, TContextShaderKind AKind) override {
    Record(std::string("remove ") + Stage(AKind));
    TQuorvelCompositeNode* uniforms = ABuilder->GetGlobals()->GetUniforms();
    const int32_t index = uniforms->IndexOfReference(NodeClassOf<TQuorvelGLSLUBO>(), GetReferenceID());
    if (index >= 0) uniforms->Delete(index);
  }
  void Apply(TMaterial*, TContext3D*, TQuorvelMaterialBehaviourItem* AItem) override {
    Record("apply");
    if (AItem->GetUBO() && AItem->GetUBOSize() == sizeof(TVector3D))
      std::memcpy(AItem->GetUBO(), &Applied, sizeof(TVector3D));
  }
  void LoadFromDefinition(TCustomDef* ADef) override {
    TQuorvelMaterialBehaviour::LoadFromDefinition(ADef);
    FDef = static_cast<TMaterialBehaviourDef*>(ADef);
  }
};
FW_CLASS_IMPL(TTintBehaviour, "Tests.Materials")
FW_CLASS_NO_MEMBERS(TTintBehaviour)

class MaterialBehaviours : public quorvel::testkit::TSharedGLTest {
protected:
  void SetUp() override {
    TSharedGLTest::SetUp();
    if (HasFatalFailure()) return;
    Owner.reset(New<TComponent>(nullptr));
    Source = New<TSource>(Owner.get());
    Source->SetName("Paint");
  }
  void TearDown() override {
    Owner.reset();
    glUseProgram(0);
    TSharedGLTest::TearDown();
  }
  TTintBehaviour* Make(const std::string& AName) {
    auto* b = New<TTintBehaviour>(Owner.get());
    b->SetName(AName);
    b->Journal = &Journal;
    b->SetOnAttached(TNotifyEvent([this, b](TObject* s) {
      Journal.push_back(b->GetName() + ":attached");
      Senders.push_back(s);
    }));
    b->SetOnDetached(TNotifyEvent([this, b](TObject* s) {
      Journal.push_back(b->GetName() + ":detached");
      Senders.push_back(s);
    }));
    return b;
  }
  TQuorvelDefaultMaterial* Material() const { return Source->DefaultMaterial(); }
  // Counts rebuild requests: the material's change reaches the source's notifiers.
  int32_t WatchChanges() {
    return Source->AddChangeNotifier([this](TMaterialSource*) { Journal.push_back("rebuild"); });
  }

  TOwned<TComponent> Owner;
  TSource* Source = nullptr;
  std::vector<std::string> Journal;
  std::vector<TObject*> Senders;
};

TEST_F(MaterialBehaviours, ReplacingRunsRemovalDetachCreationAttachAndOneRebuild) {
  TTintBehaviour* a = Make("A");
  TTintBehaviour* b = Make("B");
  a->WithData = b->WithData = false;
  auto* item = Source->GetBehaviours()->AddItem<TQuorvelMaterialBehaviourItem>();
  item->SetBehaviour(a);
  WatchChanges();
  Journal.clear();
  Senders.clear();
  item->SetBehaviour(b);
  // The stage rebuild of the change asks every item's behaviour to update its nodes.
  const std::vector<std::string> expected = {"A:remove vs", "A:remove fs", "A:detached", "B:create vs",
                                             "B:create fs", "B:attached",  "B:update vs", "B:update fs",
                                             "rebuild"};
  EXPECT_EQ(Journal, expected);
  EXPECT_EQ(Senders, (std::vector<TObject*>{Material(), Material()}));
  EXPECT_EQ(item->GetBehaviour(), b);
  EXPECT_TRUE(Material()->GetUpdateShaderProgramPending());

  // The same behaviour again: no removal, creation and rebuild run again.
  Journal.clear();
  item->SetBehaviour(b);
  EXPECT_EQ(Journal.front(), "B:create vs");
  EXPECT_EQ(Journal.back(), "rebuild");

  // Nil: removal, detach, rebuild; no creation.
  Journal.clear();
  item->SetBehaviour(nullptr);
  const std::vector<std::string> cleared = {"B:remove vs", "B:remove fs", "B:detached", "rebuild"};
  EXPECT_EQ(Journal, cleared);
  EXPECT_EQ(item->GetBehaviour(), nullptr);
}

TEST_F(MaterialBehaviours, AnItemOutsideAMaterialsCollectionIgnoresSetBehaviour) {
  TTintBehaviour* a = Make("A");
  TOwned<TQuorvelMaterialBehaviourCollection> loose(New<TQuorvelMaterialBehaviourCollection>());  // no material
  auto* item = loose->AddItem<TQuorvelMaterialBehaviourItem>();
  item->SetBehaviour(a);
  EXPECT_EQ(item->GetBehaviour(), nullptr);
  TOwned<TQuorvelMaterialBehaviourItem> single(New<TQuorvelMaterialBehaviourItem>(nullptr));
  single->SetBehaviour(a);
  EXPECT_EQ(single->GetBehaviour(), nullptr);
  EXPECT_TRUE(Journal.empty());

  TOwned<TColorMaterial> colour(New<TColorMaterial>());
  TOwned<TQuorvelMaterialBehaviourCollection> foreign(New<TQuorvelMaterialBehaviourCollection>(colour.get()));
  auto* other = foreign->AddItem<TQuorvelMaterialBehaviourItem>();
  EXPECT_THROW(other->SetBehaviour(a), EInvalidCast);
  EXPECT_EQ(other->GetBehaviour(), nullptr);
}

TEST_F(MaterialBehaviours, ApplyInitialisesOnceAndAFreedBehaviourIsForgottenWithoutHooks) {
  TTintBehaviour* a = Make("A");
  a->WithData = false;
  Source->AttachMaterialBehaviour(a);
  TQuorvelMaterialBehaviourItem* item = Source->GetBehaviours()->Items(0);
  Journal.clear();
  Context->ApplyMaterial(Material());
  Context->ApplyMaterial(Material());
  const std::vector<std::string> expected = {"A:register", "A:init", "A:apply", "A:apply"};
  EXPECT_EQ(Journal, expected);
  EXPECT_TRUE(a->GetInitialized());

  Journal.clear();
  Free(a);
  EXPECT_EQ(item->GetBehaviour(), nullptr);
  EXPECT_TRUE(Journal.empty()) << Journal.front();
  Context->ApplyMaterial(Material());  // an item without behaviour does nothing
  EXPECT_TRUE(Journal.empty());
}

TEST_F(MaterialBehaviours, AMaterialWithoutSourceForgetsAFreedBehaviour) {
  // Nobody forwards the removal for a material made on its own: the collection must hear of
  // it, or the next apply calls into the freed behaviour.
  TOwned<TQuorvelDefaultMaterial> alone(New<TQuorvelDefaultMaterial>(nullptr));
  TTintBehaviour* a = Make("A");
  auto* item = alone->GetBehaviours()->AddItem<TQuorvelMaterialBehaviourItem>();
  item->SetBehaviour(a);
  Context->ApplyMaterial(alone.get());
  ASSERT_EQ(Journal.back(), "A:apply");
  Journal.clear();
  Free(a);
  EXPECT_EQ(item->GetBehaviour(), nullptr);
  Context->ApplyMaterial(alone.get());
  EXPECT_TRUE(Journal.empty());
  // A behaviour that outlives the material leaves nothing behind to notify.
  TTintBehaviour* b = Make("B");
  alone->GetBehaviours()->AddItem<TQuorvelMaterialBehaviourItem>()->SetBehaviour(b);
  alone.reset();
  Free(b);
}

TEST_F(MaterialBehaviours, AttachNamesTheItemAndTwiceAddsOneDetachAndClearRemove) {
  TTintBehaviour* a = Make("Glow");
  TTintBehaviour* b = Make("Wave");
  a->WithData = b->WithData = false;
  Source->AttachMaterialBehaviour(a);
  Source->AttachMaterialBehaviour(a);
  Source->AttachMaterialBehaviour(b);
  ASSERT_EQ(Source->GetBehaviours()->GetCount(), 2);
  EXPECT_EQ(Source->GetBehaviours()->Items(0)->GetDisplayName(), "Paint_Glow");
  EXPECT_EQ(Source->IndexOfMaterialBehaviour(b), 1);
  EXPECT_TRUE(Source->MaterialBehaviourAttached(a));
  Journal.clear();
  Source->DetachMaterialBehaviour(a);
  // Deleting an item that holds a behaviour detaches it first.
  EXPECT_EQ(Journal.front(), "Glow:remove vs");
  EXPECT_FALSE(Source->MaterialBehaviourAttached(a));
  EXPECT_EQ(Source->IndexOfMaterialBehaviour(b), 0);
  Source->ClearMaterialsBehaviours();
  EXPECT_EQ(Source->GetBehaviours()->GetCount(), 0);
  EXPECT_EQ(Journal.back(), "Wave:detached");
}

// A deleted item used to leave its freed block registered on the program, and the next apply
// uploaded it (AddressSanitizer: heap-use-after-free in the push).
TEST_F(MaterialBehaviours, ADeletedItemsBlockIsNeverPushedAgain) {
  TTintBehaviour* a = Make("Tint");
  Source->AttachMaterialBehaviour(a);
  Context->ApplyMaterial(Material());
  TShaderProgram* program = TQuorvelContext::GetCurrentProgram();
  ASSERT_NE(program, nullptr);
  ASSERT_EQ(program->IndexOfUniformBuffer("TintData"), 1);
  Source->GetBehaviours()->Delete(0);
  Context->ApplyMaterial(Material());
  program = TQuorvelContext::GetCurrentProgram();
  ASSERT_NE(program, nullptr);
  EXPECT_EQ(program->IndexOfUniformBuffer("TintData"), -1);
  EXPECT_EQ(program->IndexOfUniformBuffer("ShaderData"), 0);
}

// Assigning a collection used to copy the references without the creation hooks: the GLSL had
// no block while the program was given one.
TEST_F(MaterialBehaviours, AssigningACollectionAttachesThroughTheHooks) {
  TTintBehaviour* a = Make("Tint");
  // Copies into a collection without material take the reference directly.
  TOwned<TQuorvelMaterialBehaviourCollection> loose(New<TQuorvelMaterialBehaviourCollection>());
  Source->AttachMaterialBehaviour(a);
  loose->Assign(Source->GetBehaviours());
  ASSERT_EQ(loose->GetCount(), 1);
  EXPECT_EQ(loose->Items(0)->GetBehaviour(), a);
  EXPECT_EQ(loose->Items(0)->GetDisplayName(), "Paint_Tint");
  Source->ClearMaterialsBehaviours();
  EXPECT_EQ(Material()->GetFragmentShaderNode()->ToString().find("TintData"), std::string::npos);

  Journal.clear();
  Source->SetBehaviours(loose.get());
  EXPECT_EQ(Journal.front(), "Tint:create vs");
  ASSERT_EQ(Source->GetBehaviours()->GetCount(), 1);
  EXPECT_EQ(Source->GetBehaviours()->Items(0)->GetBehaviour(), a);
  EXPECT_NE(Material()->GetFragmentShaderNode()->ToString().find("TintData"), std::string::npos);
  EXPECT_THROW(Source->GetBehaviours()->Items(0)->Assign(Source), Exception);
}

TEST_F(MaterialBehaviours, ARegistrationThatReturnsFalseKeepsTheItemsBlock) {
  TTintBehaviour* a = Make("Tint");
  Source->AttachMaterialBehaviour(a);
  TQuorvelMaterialBehaviourItem* item = Source->GetBehaviours()->Items(0);
  item->OnRegisterUniformBuffer(Material(), Context.get(), nullptr);
  void* block = item->GetUBO();
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(item->GetUBOSize(), 16);
  a->WithData = false;
  item->OnRegisterUniformBuffer(Material(), Context.get(), nullptr);
  EXPECT_EQ(item->GetUBO(), block);
}

TEST_F(MaterialBehaviours, UniqueIdsDifferAndTravelThroughDefinitions) {
  TTintBehaviour* a = Make("A");
  TTintBehaviour* b = Make("B");
  EXPECT_NE(a->GetUniqueID(), b->GetUniqueID());
  EXPECT_EQ(a->GetUniqueID().size(), 38u);
  EXPECT_EQ(a->GetUniqueID().front(), '{');
  TOwned<TMaterialBehaviourDef> def(New<TMaterialBehaviourDef>());
  a->StoreToDefinition(def.get());
  b->LoadFromDefinition(def.get());
  EXPECT_EQ(b->GetUniqueID(), a->GetUniqueID());
  TOwned<TMaterialDef> notBehaviour(New<TMaterialDef>());
  EXPECT_THROW(a->StoreToDefinition(notBehaviour.get()), EInvalidCast);
  EXPECT_THROW(a->LoadFromDefinition(notBehaviour.get()), EInvalidCast);
}

// Through a draw: the block takes binding 1, the surface snippet reads it, and what Apply
// writes into the item's block reaches the pixels.
TEST_F(MaterialBehaviours, ABehaviourBlockReachesTheFragmentShader) {
  TTintBehaviour* tint = Make("Tint");
  Source->AttachMaterialBehaviour(tint);
  TOwned<TStringList> snippet(New<TStringList>());
  snippet->SetText("void SurfaceShader(inout TLocals DATA){\r\n  DATA.BaseColor = _TintTint;\r\n}");
  Source->SetSurfaceShader(snippet.get());
  Context->SetContextState(TContextState::csAlphaBlendOff);
  Context->SetContextState(TContextState::csZTestOff);
  Context->SetProjectionMatrix(TMatrix3D::Identity());
  struct TVertex {
    float X, Y, Z, NX, NY, NZ;
  };
  const TVertex quad[4] = {{-1, -1, 0, 0, 0, 1}, {1, -1, 0, 0, 0, 1}, {1, 1, 0, 0, 0, 1}, {-1, 1, 0, 0, 0, 1}};
  const uint16_t indices[6] = {0, 1, 2, 0, 2, 3};
  const TVertexDeclaration declaration{{TVertexFormat::Vertex, 0}, {TVertexFormat::Normal, 12}};
  for (const TVector3D& colour : {TVector3D(0, 1, 0, 1), TVector3D(1, 0, 1, 1)}) {
    tint->Applied = colour;
    glClear(GL_COLOR_BUFFER_BIT);
    Context->DrawPrimitives(TPrimitivesKind::Triangles, quad, indices, declaration, sizeof(TVertex), 4, 2, 6,
                            Material(), 1);
    const TRGBA8 px = Target->Pixel(8, 8);
    EXPECT_EQ(px.R, colour.X * 255);
    EXPECT_EQ(px.G, colour.Y * 255);
    EXPECT_EQ(px.B, colour.Z * 255);
  }
  TShaderProgram* program = TQuorvelContext::GetCurrentProgram();
  ASSERT_NE(program, nullptr);
  EXPECT_EQ(program->IndexOfUniformBuffer("TintData"), 1);
}

// ---- definitions ------------------------------------------------------------------------------

class BehaviourReferences : public MaterialBehaviours {
protected:
  void SetUp() override {
    MaterialBehaviours::SetUp();
    if (HasFatalFailure()) return;
    Model = New<TQuorvelModel>(Owner.get());
    Source->SetParent(Model);
  }
  TQuorvelModel* Model = nullptr;
};

TEST_F(BehaviourReferences, StoredReferencesAreAppendedAndLoadingAttachesTheBehaviourFoundUnderTheModel) {
  TOwned<TModelDef> modelDef(New<TModelDef>());
  TMaterialBehaviourDef* behaviourDef = modelDef->AddNewMaterialBehaviour();
  auto* spin = New<TTintBehaviour>(Model);  // owned by the model: the search finds it
  spin->SetName("Spin");
  spin->WithData = false;
  spin->LoadFromDefinition(behaviourDef);
  Source->AttachMaterialBehaviour(spin);

  TOwned<TMaterialDef> def(New<TMaterialDef>());
  Source->StoreToDefinition(def.get());
  Source->StoreToDefinition(def.get());
  ASSERT_NE(def->GetBehaviourRefs(), nullptr);
  ASSERT_EQ(def->GetBehaviourRefs()->Count(), 2) << "references are appended on each store";
  TBehaviourRefDef* ref = (*def->GetBehaviourRefs())[0];
  EXPECT_EQ(ref->GetDisplayName(), "Paint_Spin");
  EXPECT_EQ(ref->GetId(), behaviourDef->GetId());
  EXPECT_EQ(ref->GetReference(), behaviourDef);

  // A second source under the model takes the behaviour from the references.
  auto* other = New<TSource>(Owner.get());
  other->SetName("Other");
  other->SetParent(Model);
  EXPECT_EQ(other->FindModel(), Model);
  ref->SetReference(nullptr);  // unresolved: logged, still attached when found
  TLogCapture log;
  other->LoadFromDefinition(def.get());
  EXPECT_TRUE(other->MaterialBehaviourAttached(spin));
  EXPECT_EQ(other->GetBehaviours()->GetCount(), 1);
  EXPECT_TRUE(log.Contains("failed to find material behaviour reference \"" + behaviourDef->GetId() +
                           "\" (\"Paint_Spin\") on loading material from definition"));
}

TEST_F(BehaviourReferences, WithoutAModelReferencesAreIgnored) {
  TOwned<TModelDef> modelDef(New<TModelDef>());
  TMaterialBehaviourDef* behaviourDef = modelDef->AddNewMaterialBehaviour();
  TOwned<TMaterialDef> def(New<TMaterialDef>());
  def->AddMaterialBehaviourRef("Loose", behaviourDef);
  TOwned<TSource> loose(New<TSource>(nullptr));
  EXPECT_EQ(loose->FindModel(), nullptr);
  TLogCapture log;
  loose->LoadFromDefinition(def.get());
  EXPECT_EQ(loose->GetBehaviours()->GetCount(), 0);
  EXPECT_TRUE(log.Lines().empty());
}

}  // namespace
}  // namespace quorvel
