// Form streaming: the text form syntax read into an existing root, written back, read again;
// errors name the property and the line; form resources compiled into the program.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "framework/classes/Collection.h"
#include "framework/classes/Events.h"
#include "framework/classes/Filer.h"
#include "framework/classes/FormText.h"
#include "framework/classes/FwObject.h"
#include "framework/io/Stream.h"
#include "framework/math/AlphaColor.h"
#include "framework/rtl/StringList.h"

namespace quorvel {
namespace form_stream_test {

enum class TFsKind { Alpha, Beta, Gamma };
FW_ENUM(TFsKind, Alpha, Beta, Gamma)
enum class TFsFlag { First, Second, Third };
FW_ENUM(TFsFlag, First, Second, Third)

std::vector<std::string> GEvents;  // what setters, Loaded and handlers saw, in order

class TFsNode;

class TFsPoint : public TPersistent {
  FW_CLASS(TFsPoint, TPersistent)
public:
  float GetX() const { return X; }
  void SetX(float v) { X = v; }
  float GetZ() const { return Z; }
  void SetZ(float v) { Z = v; }
  float X = 0, Z = 0;
};
FW_CLASS_IMPL(TFsPoint, "Quorvel.Test.Forms")
void TFsPoint::Register(ClassBuilder<TFsPoint>& b) {
  b.Prop("X", &Self::GetX, &Self::SetX).Prop("Z", &Self::GetZ, &Self::SetZ);
}

class TFsItem : public TCollectionItem {
  FW_CLASS(TFsItem, TCollectionItem)
public:
  using TCollectionItem::TCollectionItem;
  int32_t Value = 0;
  TFsNode* Ref = nullptr;
  std::string Label;
};
FW_CLASS_IMPL(TFsItem, "Quorvel.Test.Forms")
void TFsItem::Register(ClassBuilder<TFsItem>& b) {
  b.PropField("Value", &Self::Value).PropField("Ref", &Self::Ref).PropField("Label", &Self::Label);
}

class TFsNode : public TFwObject {
  FW_CLASS(TFsNode, TFwObject)
public:
  explicit TFsNode(TComponent* AOwner) : TFwObject(AOwner) {
    FItems = std::make_unique<TOwnedCollection>(this, TFsItem::StaticClass());
    FLines.reset(New<TStringList>());
    FPosition.reset(New<TFsPoint>());
  }

  const std::string& GetCaption() const { return FCaption; }
  void SetCaption(const std::string& v) {
    FCaption = v;
    GEvents.push_back(GetName() + ".Caption parent=" + (GetParent() ? GetParent()->GetName() : "none"));
  }
  float GetAngle() const { return FAngle; }
  void SetAngle(float v) {
    FAngle = v;
    GEvents.push_back(GetName() + ".Angle");
  }
  TFsNode* GetTarget() const { return FTarget; }
  void SetTarget(TFsNode* v) { FTarget = v; }
  TOwnedCollection* GetItems() const { return FItems.get(); }
  TStringList* GetLines() const { return FLines.get(); }
  TFsPoint* GetPosition() const { return FPosition.get(); }
  const TNotifyEvent& GetOnClick() const { return FOnClick; }
  void SetOnClick(const TNotifyEvent& v) { FOnClick = v; }

  void DefineProperties(TFiler* Filer) override {
    TFwObject::DefineProperties(Filer);
    Filer->DefineProperty(
        "Quanternion",
        [this](TReader* r) {
          FQuat = r->ReadString();
          GEvents.push_back(GetName() + ".Quanternion");
        },
        [this](TWriter* w) { w->WriteString(FQuat); }, !FQuat.empty());
    // A collection made when the form holds one, as model texture caches are.
    Filer->DefineProperty(
        "Cache",
        [this](TReader* r) {
          if (!FCache) FCache = std::make_unique<TOwnedCollection>(this, TFsItem::StaticClass());
          r->ReadCollection(FCache.get());
        },
        [this](TWriter* w) { w->WriteCollection(FCache.get()); }, FCache != nullptr);
    Filer->DefineProperty(
        "Numbers",
        [this](TReader* r) {
          FNumbers.clear();
          r->ReadListBegin();
          while (!r->EndOfList()) FNumbers.push_back(r->ReadInteger());
          r->ReadListEnd();
        },
        [this](TWriter* w) {
          w->WriteListBegin();
          for (int32_t n : FNumbers) w->WriteInteger(n);
          w->WriteListEnd();
        },
        !FNumbers.empty());
    // Older forms hold it; it is read and dropped, never written.
    Filer->DefineProperty("NearPlane", [](TReader* r) { r->ReadFloat(); }, nullptr, false);
    Filer->DefineBinaryProperty(
        "Blob",
        [this](TStream* s) {
          FBlob.resize(static_cast<size_t>(s->GetSize()));
          if (!FBlob.empty()) s->ReadBuffer(FBlob.data(), static_cast<int64_t>(FBlob.size()));
        },
        [this](TStream* s) {
          if (!FBlob.empty()) s->WriteBuffer(FBlob.data(), static_cast<int64_t>(FBlob.size()));
        },
        !FBlob.empty());
  }

  void Loaded() override {
    TFwObject::Loaded();
    GEvents.push_back(GetName() + ".Loaded target=" + (FTarget ? FTarget->GetName() : "nil"));
  }

  void Notification(TComponent* AComponent, TOperation Operation) override {
    TFwObject::Notification(AComponent, Operation);
    if (Operation == opRemove && AComponent == FTarget) FTarget = nullptr;
  }

  std::string FCaption;
  int32_t Count = 0;
  float Ratio = 0;
  TFsKind Kind = TFsKind::Alpha;
  TAlphaColor Color = claNull;
  TAlphaColor Back = claNull;
  TSet<TFsFlag> Flags;
  bool Enabled = true;
  float FAngle = 0;
  TFsNode* FTarget = nullptr;
  std::unique_ptr<TOwnedCollection> FItems;
  TOwned<TStringList> FLines;
  TOwned<TFsPoint> FPosition;
  TNotifyEvent FOnClick;
  std::string FQuat;
  std::vector<uint8_t> FBlob;
  std::unique_ptr<TOwnedCollection> FCache;
  std::vector<int32_t> FNumbers;
};
FW_CLASS_IMPL(TFsNode, "Quorvel.Test.Forms")
void TFsNode::Register(ClassBuilder<TFsNode>& b) {
  b.Prop("Caption", &Self::GetCaption, &Self::SetCaption)
      .PropField("Count", &Self::Count)
      .PropField("Ratio", &Self::Ratio)
      .PropField("Kind", &Self::Kind)
      .PropField("Color", &Self::Color)
      .PropField("Back", &Self::Back)
      .PropField("Flags", &Self::Flags)
      .PropField("Enabled", &Self::Enabled)
      .Prop("Target", &Self::GetTarget, &Self::SetTarget)
      .Prop("Position", &Self::GetPosition)
      .Prop("Items", &Self::GetItems)
      .Prop("Lines", &Self::GetLines)
      .Prop("OnClick", &Self::GetOnClick, &Self::SetOnClick)
      .Prop("Angle", &Self::GetAngle, &Self::SetAngle);
}

class TFsForm : public TFsNode {
  FW_CLASS(TFsForm, TFsNode)
public:
  using TFsNode::TFsNode;
  const TNotifyEvent& GetOnCreate() const { return FOnCreate; }
  void SetOnCreate(const TNotifyEvent& v) { FOnCreate = v; }
  void FormCreate(TObject* Sender) { GEvents.push_back("FormCreate " + static_cast<TComponent*>(Sender)->GetName()); }
  void NodeClick(TObject* Sender) { GEvents.push_back("NodeClick " + static_cast<TComponent*>(Sender)->GetName()); }
  void TwoArgs(TObject*, int) {}

  TFsNode* Node1 = nullptr;
  TFsNode* Node2 = nullptr;
  TNotifyEvent FOnCreate;
};
FW_CLASS_IMPL(TFsForm, "Quorvel.Test.Forms")
void TFsForm::Register(ClassBuilder<TFsForm>& b) {
  b.Prop("OnCreate", &Self::GetOnCreate, &Self::SetOnCreate)
      .Method("FormCreate", &Self::FormCreate)
      .Method("NodeClick", &Self::NodeClick)
      .Method("TwoArgs", &Self::TwoArgs)
      .Field("Node1", &Self::Node1, Reference)
      .Field("Node2", &Self::Node2, Reference);
}

const char* const KForm = R"(object Form1: TFsForm
  OnCreate = FormCreate
  Caption = 'Main'
  object Node1: TFsNode
    Caption = 'it''s'#13#10'two' +
      ' lines'
    Count = -42
    Ratio = 0.100000001490116100
    Kind = Gamma
    Color = claTomato
    Back = $FFBFBFBF
    Flags = [Second, Third]
    Enabled = False
    Target = Node3
    Position.X = -5.000000000000000000
    Position.Z = 1.5E-5
    OnClick = NodeClick
    Angle = 270.000000000000000000
    Quanternion = '(0.70710676908493,0,0,-0.70710676908493)'
    NearPlane = 0.100000001490116100
    object Node2: TFsNode
      Blob = {}
      Lines.Strings = (
        'void VertexShader(inout TLocals DATA){'
        ''
        '}')
      Items = <
        item
          Value = 7
          Ref = Node3
        end
        item
          Label = 'second'
        end>
    end
  end
  object Node3: TFsNode
    Items = <>
    Blob = {
      00FF10}
    Cache = <
      item
        Value = 9
      end>
    Numbers = (1 2 -3)
    Target = Form1
  end
end
)";

class FormStreamTest : public ::testing::Test {
protected:
  void SetUp() override {
    RegisterClasses({TFsNode::StaticClass(), TFsForm::StaticClass()});
    RegisterSetPropertyType<TFsFlag>();
    GEvents.clear();
  }
  TOwned<TFsForm> NewForm() { return TOwned<TFsForm>(New<TFsForm>(nullptr)); }
  static TFsNode* Node(TComponent* root, const char* name) { return root->FindComponent(name)->As<TFsNode>(); }
};

TEST_F(FormStreamTest, ReadsNestedTreeReferencesEventsCollectionsStringsAndDefinedProperties) {
  auto form = NewForm();
  ReadComponentResource(form.get(), KForm);

  EXPECT_EQ(form->GetName(), "Form1");
  ASSERT_EQ(form->GetComponentCount(), 3);
  TFsNode* n1 = Node(form.get(), "Node1");
  TFsNode* n2 = Node(form.get(), "Node2");
  TFsNode* n3 = Node(form.get(), "Node3");
  // Owner is the root, parent the enclosing object; fields of the same name are bound.
  for (TFsNode* n : {n1, n2, n3}) EXPECT_EQ(n->Owner(), form.get());
  EXPECT_EQ(n1->GetParent(), form.get());
  EXPECT_EQ(n2->GetParent(), n1);
  EXPECT_EQ(n3->GetParent(), form.get());
  EXPECT_EQ(form->Node1, n1);
  EXPECT_EQ(form->Node2, n2);

  EXPECT_EQ(n1->GetCaption(), "it's\r\ntwo lines");
  EXPECT_EQ(n1->Count, -42);
  EXPECT_EQ(n1->Ratio, 0.1f);
  EXPECT_EQ(n1->Kind, TFsKind::Gamma);
  EXPECT_EQ(n1->Color, claTomato);
  EXPECT_EQ(n1->Back, TAlphaColor(0xFFBFBFBFu));
  EXPECT_EQ(n1->Flags, (TSet<TFsFlag>{TFsFlag::Second, TFsFlag::Third}));
  EXPECT_FALSE(n1->Enabled);
  EXPECT_EQ(n1->GetPosition()->X, -5.0f);
  EXPECT_EQ(n1->GetPosition()->Z, 1.5e-5f);
  EXPECT_EQ(n1->FQuat, "(0.70710676908493,0,0,-0.70710676908493)");
  // Forward reference, and a reference to the root.
  EXPECT_EQ(n1->GetTarget(), n3);
  EXPECT_EQ(n3->GetTarget(), form.get());

  EXPECT_EQ(n2->GetLines()->ToStringArray(),
            (std::vector<std::string>{"void VertexShader(inout TLocals DATA){", "", "}"}));
  ASSERT_EQ(n2->GetItems()->Count(), 2);
  EXPECT_EQ(n2->GetItems()->Items<TFsItem>(0)->Value, 7);
  EXPECT_EQ(n2->GetItems()->Items<TFsItem>(0)->Ref, n3);
  EXPECT_EQ(n2->GetItems()->Items<TFsItem>(1)->Label, "second");
  EXPECT_EQ(n3->GetItems()->Count(), 0);
  EXPECT_TRUE(n2->FBlob.empty());
  EXPECT_EQ(n2->FCache, nullptr);
  ASSERT_NE(n3->FCache, nullptr);
  EXPECT_EQ(n3->FCache->Items<TFsItem>(0)->Value, 9);
  EXPECT_EQ(n3->FNumbers, (std::vector<int32_t>{1, 2, -3}));
  EXPECT_EQ(n3->FBlob, (std::vector<uint8_t>{0x00, 0xFF, 0x10}));

  for (TComponent* c : {static_cast<TComponent*>(form.get()), static_cast<TComponent*>(n1)}) {
    EXPECT_FALSE(c->GetComponentState().Contains(csLoading));
    EXPECT_FALSE(c->GetComponentState().Contains(csReading));
  }

  // Setters in file order with the parent already set; Loaded after every reference is
  // resolved, in creation order.
  const std::vector<std::string> expected{
      "Form1.Caption parent=none", "Node1.Caption parent=Form1", "Node1.Angle", "Node1.Quanternion",
      "Form1.Loaded target=nil",   "Node1.Loaded target=Node3",  "Node2.Loaded target=nil",
      "Node3.Loaded target=Form1"};
  EXPECT_EQ(GEvents, expected);

  // Events call the root's published methods with the event's arguments.
  GEvents.clear();
  form->GetOnCreate()(form.get());
  n1->GetOnClick()(n1);
  EXPECT_EQ(GEvents, (std::vector<std::string>{"FormCreate Form1", "NodeClick Node1"}));
  EXPECT_EQ(form->GetOnCreate().MethodName(), "FormCreate");
}

TEST_F(FormStreamTest, WritesBackAndReadsAgainToTheSameTree) {
  auto first = NewForm();
  ReadComponentResource(first.get(), KForm);
  const std::string written = WriteComponentResource(first.get());

  auto second = NewForm();
  ReadComponentResource(second.get(), written);
  EXPECT_EQ(WriteComponentResource(second.get()), written);

  TFsNode* n1 = Node(second.get(), "Node1");
  TFsNode* n2 = Node(second.get(), "Node2");
  TFsNode* n3 = Node(second.get(), "Node3");
  EXPECT_EQ(n2->GetParent(), n1);
  EXPECT_EQ(n1->GetCaption(), "it's\r\ntwo lines");
  EXPECT_EQ(n1->Ratio, 0.1f);
  EXPECT_EQ(n1->Color, claTomato);
  EXPECT_EQ(n1->Back, TAlphaColor(0xFFBFBFBFu));
  EXPECT_EQ(n1->Flags, (TSet<TFsFlag>{TFsFlag::Second, TFsFlag::Third}));
  EXPECT_EQ(n1->GetPosition()->Z, 1.5e-5f);
  EXPECT_EQ(n1->GetTarget(), n3);
  EXPECT_EQ(n1->FQuat, "(0.70710676908493,0,0,-0.70710676908493)");
  EXPECT_EQ(n1->GetOnClick().MethodName(), "NodeClick");
  EXPECT_EQ(n2->GetLines()->Count(), 3);
  EXPECT_EQ(n2->GetItems()->Items<TFsItem>(0)->Ref, n3);
  EXPECT_EQ(n3->FBlob, (std::vector<uint8_t>{0x00, 0xFF, 0x10}));
  ASSERT_NE(n3->FCache, nullptr);
  EXPECT_EQ(n3->FCache->Items<TFsItem>(0)->Value, 9);
  EXPECT_EQ(n3->FNumbers, (std::vector<int32_t>{1, 2, -3}));
  // Dropped defined properties are not written.
  EXPECT_EQ(written.find("NearPlane"), std::string::npos);
}

struct TBadForm {
  const char* Name;
  const char* Text;
  const char* ExceptionClass;
  std::vector<std::string> MessageParts;
};

TEST_F(FormStreamTest, BadFormsRaiseNamingTheCulpritAndItsLine) {
  const TBadForm cases[] = {
      {"typo in a property", "object Form1: TFsForm\n  object Node1: TFsNode\n    Count = 1\n    Captoin = 'x'\n  end\nend",
       "EReadError", {"Node1.Captoin", "Property Captoin does not exist", "line 4"}},
      {"typo in a path", "object Form1: TFsForm\n  Position.Y = 1\nend", "EReadError",
       {"Form1.Position.Y", "line 2"}},
      {"unresolved reference", "object Form1: TFsForm\n  object Node1: TFsNode\n    Target = Node9\n  end\nend",
       "EReadError", {"Node1.Target", "Node9", "line 3"}},
      {"unknown method", "object Form1: TFsForm\n  OnCreate = FormDestroy\nend", "EReadError",
       {"FormDestroy", "line 2"}},
      {"method of another shape", "object Form1: TFsForm\n  OnCreate = TwoArgs\nend", "EReadError",
       {"TwoArgs", "line 2"}},
      {"unknown class", "object Form1: TFsForm\n\n  object Node1: TFsNope\n  end\nend", "EClassNotFound",
       {"TFsNope", "line 3"}},
      {"unknown enum name", "object Form1: TFsForm\n  Kind = Delta\nend", "EReadError", {"Form1.Kind", "Delta", "line 2"}},
      {"unknown set name", "object Form1: TFsForm\n  Flags = [First, Fourth]\nend", "EReadError",
       {"Form1.Flags", "line 2"}},
      {"unknown colour", "object Form1: TFsForm\n  Color = claNoSuchColour\nend", "EReadError", {"Form1.Color", "line 2"}},
      {"string into an integer", "object Form1: TFsForm\n  Count = 'many'\nend", "EReadError", {"Form1.Count", "line 2"}},
      {"float into an integer", "object Form1: TFsForm\n  Count = 1.5\nend", "EReadError", {"Form1.Count", "line 2"}},
      {"duplicate name", "object Form1: TFsForm\n  object A: TFsNode\n  end\n  object a: TFsNode\n  end\nend", "EReadError",
       {"A component named a already exists", "line 4"}},
      {"invalid name", "object Form1: TFsForm\n  object Node1: TFsNode\n  end\n  object A.B: TFsNode\n  end\nend",
       "EReadError", {"'A.B' is not a valid component name", "line 4"}},
      {"binary into a string property", "object Form1: TFsForm\n  Caption = {00}\nend", "EReadError", {"line 2"}},
      {"unterminated string", "object Form1: TFsForm\n  Caption = 'abc\nend", "EParserError", {"Unterminated string", "line 2"}},
      {"missing end", "object Form1: TFsForm\n  Count = 1\n", "EParserError", {"'end' expected", "line 3"}},
      {"text after the form", "object Form1: TFsForm\nend\nobject", "EParserError", {"line 3"}},
      {"odd binary digits", "object Form1: TFsForm\n  Blob = {0A0}\nend", "EParserError", {"line 2"}},
      {"number out of range", "object Form1: TFsForm\n  Count = 99999999999999999999\nend", "EParserError", {"line 2"}},
      {"bad character", "object Form1: TFsForm\n  Count = 1 ;\nend", "EParserError", {"line 2"}},
      {"empty text", "", "EParserError", {"'object' expected"}},
  };
  for (const TBadForm& c : cases) {
    SCOPED_TRACE(c.Name);
    auto form = NewForm();
    try {
      ReadComponentResource(form.get(), c.Text);
      ADD_FAILURE() << "no exception";
    } catch (const Exception& e) {
      EXPECT_STREQ(e.ClassName(), c.ExceptionClass) << e.Message();
      for (const std::string& part : c.MessageParts) EXPECT_NE(e.Message().find(part), std::string::npos) << e.Message();
    }
    // What was made before the error stays owned by the root and is not left loading.
    for (TComponent* comp : form->ComponentList()) EXPECT_FALSE(comp->GetComponentState().Contains(csLoading));
  }
}

// Truncated and damaged texts raise; they never crash, hang or leak (under the sanitizers).
TEST_F(FormStreamTest, DamagedTextRaisesCleanly) {
  const std::string text = KForm;
  std::vector<std::string> damaged;
  for (size_t n = 0; n < text.size(); n += 3) damaged.push_back(text.substr(0, n));
  for (size_t i = 0; i < text.size(); i += 7)
    for (char c : {'\'', '<', '(', '{', '#', '$', '\0'}) damaged.push_back(text.substr(0, i) + c + text.substr(i + 1));
  std::string deep = "object Form1: TFsForm\n";
  for (int i = 0; i < 5000; ++i) deep += "object TFsNode\n";
  damaged.push_back(deep);
  for (const std::string& t : damaged) {
    auto form = NewForm();
    try {
      ReadComponentResource(form.get(), t);
    } catch (const Exception&) {
    }
  }
  auto form = NewForm();
  try {
    ReadComponentResource(form.get(), deep);
    ADD_FAILURE();
  } catch (const EParserError& e) {
    EXPECT_NE(e.Message().find("Nesting too deep"), std::string::npos);
  }
}

TEST_F(FormStreamTest, ReReadCollectionDropsPendingReferencesOfItsFreedItems) {
  auto form = NewForm();
  ReadComponentResource(form.get(), R"(object Form1: TFsForm
  Items = <
    item
      Ref = Node1
    end>
  Items = <
    item
      Value = 3
    end>
  object Node1: TFsNode
  end
end)");
  ASSERT_EQ(form->GetItems()->Count(), 1);
  EXPECT_EQ(form->GetItems()->Items<TFsItem>(0)->Value, 3);
  EXPECT_EQ(form->GetItems()->Items<TFsItem>(0)->Ref, nullptr);
}

TEST_F(FormStreamTest, ParserTokens) {
  TFormParser p("Pos.X = -1.5E-3 $FF 'a'#65#$263A'b' + 'c' {0aFF} [A, B] <> -7 +2");
  EXPECT_EQ(p.ExpectIdent(), "Pos.X");
  p.Expect('=');
  EXPECT_EQ(p.Token().Kind, TFormTokenKind::Float);
  EXPECT_DOUBLE_EQ(p.Token().Float, -1.5e-3);
  p.Next();
  EXPECT_EQ(p.Token().Int, 255);
  p.Next();
  EXPECT_EQ(p.Token().Kind, TFormTokenKind::String);
  EXPECT_EQ(p.Token().Text, "aA\xE2\x98\xBA"
                            "bc");
  p.Next();
  EXPECT_EQ(p.Token().Kind, TFormTokenKind::Binary);
  EXPECT_EQ(p.Token().Text, "0aFF");
  for (char c : {'[', 'A', ',', 'B', ']', '<', '>'}) {
    p.Next();
    if (c == 'A' || c == 'B') EXPECT_EQ(p.Token().Text, std::string(1, c));
    else EXPECT_TRUE(p.IsSymbol(c)) << c;
  }
  p.Next();
  EXPECT_EQ(p.Token().Int, -7);
  p.Next();
  EXPECT_EQ(p.Token().Int, 2);
  p.Next();
  EXPECT_EQ(p.Token().Kind, TFormTokenKind::EndOfText);
}

TEST_F(FormStreamTest, ResourcesAreFoundByUpperCasedClassName) {
  RegisterFormResource("TFsForm", "object Form7: TFsForm\n  Count = 5\nend");
  EXPECT_NE(FindFormResource("TFSFORM"), nullptr);
  EXPECT_EQ(FindFormResource("TFsNode"), nullptr);
  auto form = NewForm();
  EXPECT_TRUE(ReadFormResource(form.get()));
  EXPECT_EQ(form->GetName(), "Form7");
  EXPECT_EQ(form->Count, 5);
  UnregisterFormResource("tfsform");
  EXPECT_EQ(FindFormResource("TFsForm"), nullptr);
  auto other = NewForm();
  EXPECT_FALSE(ReadFormResource(other.get()));
}

// tests/data/FsCompiledForm.form, compiled in by quorvel_add_form_resources.
class TFsCompiledForm : public TFsForm {
  FW_CLASS(TFsCompiledForm, TFsForm)
public:
  using TFsForm::TFsForm;
};
FW_CLASS_IMPL(TFsCompiledForm, "Quorvel.Test.Forms")
FW_CLASS_NO_MEMBERS(TFsCompiledForm)

TEST_F(FormStreamTest, CompiledResourceIsRegisteredAtUnitInitialisation) {
  auto form = TOwned<TFsCompiledForm>(New<TFsCompiledForm>(nullptr));
  ASSERT_TRUE(ReadFormResource(form.get()));
  EXPECT_EQ(form->GetName(), "CompiledForm");
  TFsNode* n = Node(form.get(), "Inner");
  EXPECT_EQ(n->GetCaption(), "compiled )\" in");
  EXPECT_EQ(n->GetTarget(), form.get());
}

}  // namespace form_stream_test
}  // namespace quorvel
