// The duplicator on small component trees made for it: shared and late-resolved references,
// constructor sub-objects paired, ignored classes, parents outside the tree, its log lines.
#include <gtest/gtest.h>

#include <cstring>

#include "framework/classes/FwObject.h"
#include "framework/gui3d/Dummy.h"
#include "framework/gui3d/Material.h"
#include "framework/rtl/Log.h"
#include "lib/scene/Control.h"
#include "lib/scene/Duplication.h"

namespace quorvel {
namespace {

class TDupPart : public TComponent {
  FW_CLASS(TDupPart, TComponent)

public:
  using TComponent::TComponent;
  int32_t Level = 0;
  void Assign(TPersistent* Source) override {
    if (auto* p = dynamic_cast<TDupPart*>(Source)) {
      Level = p->Level;
      return;
    }
    TComponent::Assign(Source);
  }
};
FW_CLASS_IMPL(TDupPart, "DupTest")
void TDupPart::Register(ClassBuilder<TDupPart>&) {}

class TDupNode : public TFwObject, public IDuplicatable {
  FW_CLASS(TDupNode, TFwObject)

public:
  explicit TDupNode(TComponent* AOwner) : TFwObject(AOwner) { FPart = New<TDupPart>(this); }
  int32_t FValue = 0;
  std::vector<int32_t> FItems{7};
  TObject* FDef = nullptr;            // shared, never copied
  TDupNode* FPeer = nullptr;          // an owned-kind link: follows the peer's clone
  TMaterialSource* FMat = nullptr;    // a reference
  TDupPart* FPart = nullptr;          // made by the constructor
  TComponent* FDoneFrom = nullptr;

  void DoDuplicate(TComponent* ASource, TQuorvelDuplicator*) override { FDoneFrom = ASource; }
};
FW_CLASS_IMPL(TDupNode, "DupTest")
void TDupNode::Register(ClassBuilder<TDupNode>& b) {
  b.Field("FValue", &Self::FValue)
      .Field("FItems", &Self::FItems)
      .Field("FDef", &Self::FDef, Reference)
      .Field("FPeer", &Self::FPeer)
      .Field("FMat", &Self::FMat, Reference)
      .Field("FPart", &Self::FPart);
}

class TDupNodeEx : public TDupNode {
  FW_CLASS(TDupNodeEx, TDupNode)

public:
  using TDupNode::TDupNode;
};
FW_CLASS_IMPL(TDupNodeEx, "DupTest")
void TDupNodeEx::Register(ClassBuilder<TDupNodeEx>&) {}

TEST(QuorvelDuplicator, DeepCopyWithSharedDefinitionLateLinksAndConstructorParts) {
  TOwned<TComponent> form(New<TComponent>(nullptr));
  TOwned<TComponent> target(New<TComponent>(nullptr));
  TObject def;
  auto* root = New<TDupNode>(form.get());
  root->SetName("Root");
  root->FValue = 5;
  root->FItems = {1, 2, 3};
  root->FDef = &def;
  root->FPart->Level = 9;
  auto* mat = New<TColorMaterialSource>(root);
  root->FMat = mat;
  auto* a = New<TDupNode>(root);
  a->SetName("A");
  auto* b = New<TDupNode>(root);
  b->SetName("B");
  a->FPeer = b;  // b is copied after a: its clone is patched in at the end
  b->SetParent(a);
  a->SetParent(root);
  auto* outside = New<TDupNode>(form.get());
  root->FPeer = outside;  // never copied: the clone keeps what its constructor gave

  TLogCapture log;
  TOwned<TQuorvelDuplicator> dup(New<TQuorvelDuplicator>());
  auto* clone = dynamic_cast<TDupNode*>(dup->Duplicate(root, target.get(), {dfIgnoreMaterials}));
  ASSERT_NE(clone, nullptr);
  EXPECT_NE(clone, root);
  EXPECT_EQ(clone->Owner(), target.get());
  EXPECT_EQ(clone->GetName(), "Root");
  EXPECT_EQ(clone->FValue, 5);
  EXPECT_EQ(clone->FDef, &def);
  EXPECT_EQ(clone->FItems, std::vector<int32_t>{7});
  EXPECT_TRUE(log.Contains("<NOTICE> DynArray field ignored TDupNode.FItems"));
  EXPECT_EQ(clone->FPeer, nullptr);
  EXPECT_EQ(clone->FDoneFrom, root);
  // The constructor's part is the clone's own, assigned from the source's.
  ASSERT_NE(clone->FPart, nullptr);
  EXPECT_NE(clone->FPart, root->FPart);
  EXPECT_EQ(clone->FPart->Level, 9);
  EXPECT_EQ(clone->FPart->Owner(), clone);
  // Material sources are not copied: the clone refers to the source's.
  EXPECT_EQ(clone->FMat, mat);
  EXPECT_TRUE(log.Contains("<WARNING> [RawDuplicate] Class ignored for duplication TColorMaterialSource"));

  auto* ca = dynamic_cast<TDupNode*>(clone->FindComponent("A"));
  auto* cb = dynamic_cast<TDupNode*>(clone->FindComponent("B"));
  ASSERT_TRUE(ca && cb);
  EXPECT_EQ(ca->FPeer, cb);
  EXPECT_EQ(ca->GetParent(), clone);
  EXPECT_EQ(cb->GetParent(), ca);  // its parent was copied before it
  EXPECT_EQ(clone->GetParent(), nullptr);
  // Only the link to the object outside the tree is left waiting.
  ASSERT_EQ(dup->LateResolve().size(), 1u);
  EXPECT_EQ(dup->LateResolve()[0].Source, outside);
  // The source tree is untouched.
  EXPECT_EQ(root->Owner(), form.get());
  EXPECT_EQ(a->FPeer, b);
  EXPECT_EQ(root->GetComponentCount(), 4);  // part, material, A, B
  EXPECT_EQ(clone->GetComponentCount(), 3);  // part, A, B
}

TEST(QuorvelDuplicator, ParentsResolvedAtTheEndOrLogged) {
  TOwned<TComponent> form(New<TComponent>(nullptr));
  TOwned<TComponent> target(New<TComponent>(nullptr));
  auto* outer = New<TDupNode>(form.get());
  auto* root = New<TDupNode>(form.get());
  root->SetName("Root");
  root->SetParent(outer);
  auto* child = New<TDupNode>(root);
  child->SetName("Child");
  auto* later = New<TDupNode>(root);  // owned after the child, yet its parent
  later->SetName("Later");
  child->SetParent(later);

  TLogCapture log;
  TOwned<TQuorvelDuplicator> dup(New<TQuorvelDuplicator>());
  auto* clone = dynamic_cast<TDupNode*>(dup->Duplicate(root, target.get(), {}));
  ASSERT_NE(clone, nullptr);
  EXPECT_EQ(clone->GetParent(), nullptr);
  EXPECT_TRUE(log.Contains("<WARNING> failed to resolve parent object - duplicated object not found for TDupNode.Root"));
  auto* cl = dynamic_cast<TDupNode*>(clone->FindComponent("Later"));
  auto* cc = dynamic_cast<TDupNode*>(clone->FindComponent("Child"));
  ASSERT_TRUE(cl && cc);
  EXPECT_EQ(cc->GetParent(), cl);
  EXPECT_EQ(child->GetParent(), later);
  EXPECT_EQ(root->GetParent(), outer);
}

TEST(QuorvelDuplicator, MapsIgnoredClassesLookupsAndTwiceMapped) {
  TOwned<TComponent> form(New<TComponent>(nullptr));
  auto* node = New<TDupNode>(form.get());
  auto* ex = New<TDupNodeEx>(node);
  TOwned<TComponent> target(New<TComponent>(nullptr));
  {
    TOwned<TQuorvelDuplicator> dup(New<TQuorvelDuplicator>());
    TLogCapture log;
    TComponent* clone = dup->RawDuplicate(ex, target.get());
    EXPECT_NE(clone, ex);
    // Answered from the map the second time.
    EXPECT_EQ(dup->RawDuplicate(ex, target.get()), clone);
    EXPECT_TRUE(log.Contains("<WARNING> [RawDuplicate] Component already duplicated TDupNodeEx."));
    EXPECT_EQ(target->GetComponentCount(), 1);
  }
  TOwned<TQuorvelDuplicator> dup(New<TQuorvelDuplicator>());
  dup->IgnoreClasses().push_back(TDupNode::StaticClass());
  EXPECT_TRUE(dup->ClassIgnored(TDupNodeEx::StaticClass()));
  EXPECT_FALSE(dup->ClassIgnored(TDupPart::StaticClass()));
  EXPECT_EQ(dup->RawDuplicate(node, target.get()), node);
  EXPECT_EQ(dup->ObjectMap().at(node), node);
  EXPECT_THROW(dup->AddObjectMap(node, ex), EDuplicateKey);
  EXPECT_EQ(target->GetComponentCount(), 1);

  EXPECT_EQ(FindComponentByExactClass(form.get(), TDupNodeEx::StaticClass()), ex);
  EXPECT_EQ(FindComponentByExactClass(form.get(), TDupNode::StaticClass()), node);
  EXPECT_EQ(FindComponentByExactClass(ex, TDupNode::StaticClass()), nullptr);  // no descendants
  EXPECT_EQ(FindComponentByExactClass(nullptr, TDupNode::StaticClass()), nullptr);
}

TEST(QuorvelDuplicator, ControlCopyRefillsItsRegistryAndLeavesTheSourceAlone) {
  TOwned<TComponent> form(New<TComponent>(nullptr));
  TOwned<TComponent> target(New<TComponent>(nullptr));
  auto* root = New<TQuorvelControl>(form.get());
  root->SetName("Root");
  root->SetFrustumCullingCheck(false);
  auto* sub = New<TQuorvelControl>(root);
  sub->SetName("Sub");
  sub->SetParent(root);
  root->AddControl("sub", sub);
  root->AddControl("gone", New<TQuorvelControl>(form.get()));  // outside the copied tree
  root->GetPosition()->SetX(2);
  const TMatrix3D before = root->GetLocalMatrix();

  TLogCapture log;
  auto* clone = dynamic_cast<TQuorvelControl*>(root->Duplicate(target.get()));
  ASSERT_NE(clone, nullptr);
  EXPECT_FALSE(clone->GetFrustumCullingCheck());
  ASSERT_EQ(clone->GetControls().size(), 1u);
  auto* csub = clone->GetControls().at("sub");
  EXPECT_NE(csub, sub);
  EXPECT_EQ(csub->Owner(), clone);
  EXPECT_EQ(csub->GetParent(), clone);
  EXPECT_TRUE(log.Contains("<WARNING> TQuorvelControl.DoDuplicate - cannot find duplicated control gone"));
  EXPECT_EQ(root->GetControls().at("sub"), sub);
  EXPECT_EQ(0, std::memcmp(&before, &root->GetLocalMatrix(), sizeof before));

  auto* proxy = dynamic_cast<TProxyObject*>(root->Duplicate(target.get(), true));
  ASSERT_NE(proxy, nullptr);
  EXPECT_EQ(proxy->GetSourceObject(), root);
}

}  // namespace
}  // namespace quorvel
