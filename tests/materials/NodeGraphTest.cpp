#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lib/materials/MaterialDefaultGLSLDeclarations.h"
#include "tests/materials/NodeTestSupport.h"

using namespace quorvel;
using namespace quorvel::node_test;

namespace {

using enum TQuorvelShaderNodeOperator;
using enum TQuorvelShaderNodeVariableType;

class NodeGraph : public ::testing::Test {
protected:
  TOwned<TBareBuilder> B{New<TBareBuilder>()};
  TQuorvelCompositeNode* Root() const { return B->GetSourceCode(); }
};

TEST_F(NodeGraph, PrintsChildrenWhoseConditionsHoldWithNothingBetween) {
  Root()->Add(Text(B.get(), "first;"));
  auto second = Text(B.get(), "second;");
  second->AddDefine("X");
  Root()->Add(std::move(second));
  auto third = Text(B.get(), "third;");
  third->AddNotDefine("X");
  Root()->Add(std::move(third));
  auto never = Text(B.get(), "never;");
  never->AddDefine("X");
  never->AddNotDefine("X");
  Root()->Add(std::move(never));

  EXPECT_EQ(B->ToString(), "first;third;");
  B->AddDefine("X");
  EXPECT_EQ(B->ToString(), "first;second;");
  // The value does not matter: a define valued False is defined.
  B->AddDefine("X", false);
  EXPECT_EQ(B->ToString(), "first;second;");
  B->RemoveDefine("X");
  B->RemoveDefine("X");  // absent: nothing happens
  EXPECT_EQ(B->ToString(), "first;third;");
  EXPECT_FALSE(B->Defined("X"));
}

TEST_F(NodeGraph, EmptyCompositeAndEmptyBuilderPrintNothing) {
  EXPECT_EQ(B->ToString(), "");
  EXPECT_EQ(MakeNode<TQuorvelCompositeNode>(B.get())->ToString(), "");
}

TEST_F(NodeGraph, StatementsIgnoreTheConditionsOfTheirChildren) {
  auto statement = MakeNode<TQuorvelStatementNode>(B.get());
  auto gated = Text(B.get(), "x = 1");
  gated->AddDefine("NEVER");
  statement->Add(std::move(gated));
  EXPECT_EQ(statement->ToString(), "x = 1;\r\n");
}

// Each operator over the texts "a", "b", "c" (as many as given).
TEST_F(NodeGraph, PrintsEveryOperator) {
  struct TCase {
    TQuorvelShaderNodeOperator Op;
    std::vector<const char*> Operands;
    const char* Expected;
  };
  const TCase cases[] = {
      {snopUndefined, {"a", "b"}, "ab"},
      {snopGrouping, {"a", "b"}, "(a, b)"},
      {snopGrouping, {"a"}, "(a)"},
      {snopArraySubscript, {"a", "i"}, "a[i]"},
      {snopArraySubscript, {"a", "i", "j"}, "a[i, j]"},
      {snopFuncCall, {"f", "a", "b"}, "f(a, b)"},
      {snopFuncCall, {"f"}, "f()"},
      {snopFieldSel, {"a", "b"}, "a.b"},
      {snopPostInc, {"a"}, "a++"},
      {snopPostDec, {"a"}, "a--"},
      {snopPreInc, {"a"}, "++a"},
      {snopPreDec, {"a"}, "--a"},
      {snopADD, {"a", "b"}, "a + b"},
      {snopSUB, {"a", "b"}, "a - b"},
      {snopMUL, {"a", "b"}, "a * b"},
      {snopDIV, {"a", "b", "ignored"}, "a / b"},
      {snopSignPos, {"a"}, "+a"},
      {snopSignNeg, {"a"}, "-a"},
      {snopNOT, {"a"}, "!a"},
      {snopEQ, {"a", "b"}, "a == b"},
      {snopUNEQ, {"a", "b"}, "a != b"},
      {snopGT, {"a", "b"}, "a > b"},
      {snopGEQ, {"a", "b"}, "a >= b"},
      {snopLT, {"a", "b"}, "a < b"},
      {snopLEQ, {"a", "b"}, "a <= b"},
      {snopLogAND, {"a", "b"}, "a && b"},
      {snopLogOR, {"a", "b"}, "a || b"},
      {snopLogXOR, {"a", "b"}, "a ^^ b"},
      {snopSelection, {"a", "b", "c"}, "a ? b : c"},
      {snopAssign, {"a", "b"}, "a = b"},
      {snopAddAssign, {"a", "b"}, "a += b"},
      {snopSubAssign, {"a", "b"}, "a -= b"},
      {snopMulAssign, {"a", "b"}, "a *= b"},
      {snopDivAssign, {"a", "b"}, "a /= b"},
  };
  for (const TCase& c : cases) {
    auto op = MakeNode<TQuorvelOperationNode>(B.get());
    op->_Operator = c.Op;
    for (const char* operand : c.Operands) {
      auto child = Text(B.get(), operand);
      child->AddDefine("NEVER");  // operands print whatever their conditions
      op->Add(std::move(child));
    }
    EXPECT_EQ(op->ToString(), c.Expected) << static_cast<int>(c.Op);
  }
}

TEST_F(NodeGraph, OperatorErrors) {
  auto selection = TQuorvelOperationNode::Build(B.get(), snopSelection, Text(B.get(), "a"), Text(B.get(), "b"));
  EXPECT_EQ(MessageOf([&] { selection->ToString(); }),
            "failed to build source code for operator - invalid nodes list size");
  auto empty = MakeNode<TQuorvelOperationNode>(B.get());
  empty->_Operator = snopPostInc;
  EXPECT_EQ(MessageOf([&] { empty->ToString(); }), "failed to build source code for operator - invalid nodes list size");
  auto bad = TQuorvelOperationNode::Build(B.get(), static_cast<TQuorvelShaderNodeOperator>(31), Text(B.get(), "a"),
                                          Text(B.get(), "b"));
  EXPECT_EQ(MessageOf([&] { bad->ToString(); }), "failed to build source code for operator - invalid operator found");
  // Build skips nil operands and the default operator is an addition.
  auto half = TQuorvelOperationNode::Build(B.get(), snopPostInc, Text(B.get(), "i"), nullptr);
  EXPECT_EQ(half->Count(), 1);
  EXPECT_EQ(half->ToString(), "i++");
  EXPECT_EQ(MakeNode<TQuorvelOperationNode>(B.get())->_Operator, snopADD);
}

TEST_F(NodeGraph, AssignmentOverAReferenceAndAConstant) {
  auto i = TQuorvelGLSLVariable::Build(B.get(), "i", stInt);
  auto assign = TQuorvelOperationNode::Build(B.get(), snopAssign, TQuorvelReferenceNode::Build(B.get(), i.get()),
                                             TQuorvelGLSLConstantValue::Build(B.get(), "", TValue(int32_t(0))));
  EXPECT_EQ(assign->ToString(), "i = 0");
  EXPECT_EQ(MakeNode<TQuorvelReferenceNode>(B.get())->ToString(), "<undefined>");
  EXPECT_EQ(MessageOf([&] { TQuorvelReferenceNode::Build(B.get(), nullptr); }),
            "failed to create reference to different node - owner node not assigned");
  EXPECT_EQ(MessageOf([&] { TQuorvelConstantNode::Build(B.get(), "c", TValue(1)); }),
            "TQuorvelConstantNode.Build needs to be overwritten");
  EXPECT_EQ(MessageOf([&] { TQuorvelVariableNode::Build(B.get(), "v", stInt); }),
            "TQuorvelVariableNode.Build needs to be overwritten");
}

// Defined(name, value, op): the supplied value on the left, the stored one on the right.
TEST_F(NodeGraph, ComparesDefinesByKindAndOperator) {
  using enum TQuorvelDefOp;
  B->AddDefine("I", int32_t(1));
  B->AddDefine("L", int64_t(1) << 40);
  B->AddDefine("F", 0.5);
  B->AddDefine("B", true);
  struct TCase {
    const char* Name;
    TValue Supplied;
    bool Expected[6];  // equal, unequal, greater, greater-equal, less, less-equal
  };
  const TCase cases[] = {
      {"I", TValue(int32_t(2)), {false, true, true, true, false, false}},
      {"I", TValue(int32_t(1)), {true, false, false, true, false, true}},
      {"I", TValue(int32_t(-5)), {false, true, false, false, true, true}},
      {"L", TValue((int64_t(1) << 40) + 1), {false, true, true, true, false, false}},
      {"L", TValue(int64_t(1) << 40), {true, false, false, true, false, true}},
      {"F", TValue(0.25), {false, true, false, false, true, true}},
      {"F", TValue(0.5f), {true, false, false, true, false, true}},
      {"B", TValue(false), {false, true, false, false, true, true}},
      {"B", TValue(true), {true, false, false, true, false, true}},
  };
  for (const TCase& c : cases)
    for (int op = 0; op < 6; ++op)
      EXPECT_EQ(B->Defined(c.Name, c.Supplied, static_cast<TQuorvelDefOp>(op)), c.Expected[op])
          << c.Name << " " << c.Supplied.ToString() << " op " << op;
  EXPECT_FALSE(B->Defined("ABSENT", TValue(1), doEqual));
}

TEST_F(NodeGraph, DefineComparisonErrorsAreWrapped) {
  using enum TQuorvelDefOp;
  B->AddDefine("X", int32_t(1));
  B->AddDefine("L", int64_t(1));
  B->AddDefine("F", 1.0);
  B->AddDefine("B", true);
  B->AddDefine("S", std::string("text"));
  const auto bad = static_cast<TQuorvelDefOp>(6);
  struct TCase {
    const char* Name;
    TValue Supplied;
    TQuorvelDefOp Op;
    const char* Inner;
  };
  const TCase cases[] = {
      {"X", TValue(2.0), doGreater, "unsupported definition value: definition value type and supplied value type not equal"},
      {"X", TValue(int64_t(2)), doEqual, "unsupported definition value: definition value type and supplied value type not equal"},
      {"S", TValue(std::string("text")), doEqual, "unsupported definition value: only Integer, Int64, Boolean and Float supported"},
      {"X", TValue(2), bad, "invalid integer operator"},
      {"L", TValue(int64_t(2)), bad, "invalid int64 operator"},
      {"F", TValue(2.0), bad, "invalid float operator"},
      {"B", TValue(false), bad, "invalid boolean operator"},
  };
  for (const TCase& c : cases) {
    try {
      B->Defined(c.Name, c.Supplied, c.Op);
      ADD_FAILURE() << c.Name << " raised nothing";
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message(), std::string("failed to check define ") + c.Name + ": " + c.Inner);
      // The wrapper is the base class, not the silent abort of the inner message.
      EXPECT_STREQ(e.ClassName(), "Exception");
    }
  }
  EXPECT_TRUE(B->Defined("X"));
}

TEST_F(NodeGraph, SearchesByClassIdAndReference) {
  auto* outer = Root()->AddNew<TQuorvelCompositeNode>();
  outer->SetId("outer");
  auto* inner = outer->AddNew<TQuorvelStatementNode>();
  inner->SetId("Target");
  auto* plain = Root()->AddNew<TTextNode>("target");
  auto* statement = Root()->AddNew<TQuorvelStatementNode>();
  statement->SetId("Target");
  statement->SetReferenceIDByObject(this);

  // A composite is found before the nodes inside it; ids compare case-sensitively.
  EXPECT_EQ(Root()->FindNode<TQuorvelCompositeNode>("", true), outer);
  EXPECT_EQ(Root()->FindNode<TQuorvelStatementNode>("Target", true), inner);
  EXPECT_EQ(Root()->FindNode<TQuorvelStatementNode>("Target", false), statement);
  EXPECT_EQ(Root()->FindNode<TQuorvelStatementNode>("target", true), nullptr);
  EXPECT_EQ(Root()->FindNode<TTextNode>("target", true), plain);
  EXPECT_EQ(Root()->FindNode(NodeClassOf<TQuorvelNodeEntity>(), "", false), outer);

  EXPECT_EQ(Root()->IndexOf(NodeClassOf<TQuorvelStatementNode>(), ""), 2);
  EXPECT_EQ(Root()->IndexOf(NodeClassOf<TQuorvelCompositeNode>(), "Target"), 2);
  EXPECT_EQ(Root()->IndexOf(NodeClassOf<TTextNode>(), "TARGET"), -1);
  EXPECT_EQ(Root()->IndexOfReference(NodeClassOf<TQuorvelNodeEntity>(), reinterpret_cast<uintptr_t>(this)), 2);
  EXPECT_EQ(Root()->IndexOfReference(NodeClassOf<TQuorvelNodeEntity>(), 0), 0);
  EXPECT_EQ(Root()->IndexOfReference(NodeClassOf<TTextNode>(), reinterpret_cast<uintptr_t>(this)), -1);
}

TEST_F(NodeGraph, CompositeListOperations) {
  Root()->Add(Text(B.get(), "a"));
  Root()->Add(Text(B.get(), "c"));
  Root()->Insert(1, Text(B.get(), "b"));
  EXPECT_EQ(B->ToString(), "abc");
  Root()->Remove(Root()->GetNode(0));
  EXPECT_EQ(B->ToString(), "bc");
  auto stranger = Text(B.get(), "x");
  Root()->Remove(stranger.get());  // not a child: nothing happens
  EXPECT_EQ(Root()->Count(), 2);
  EXPECT_EQ(MessageOf([&] { Root()->Delete(2); }), "List index out of bounds (2)");
  EXPECT_EQ(MessageOf([&] { Root()->Insert(3, Text(B.get(), "y")); }), "List index out of bounds (3)");
  Root()->Delete(1);
  EXPECT_EQ(B->ToString(), "b");
  Root()->Clear();
  EXPECT_EQ(Root()->Count(), 0);
}

TEST_F(NodeGraph, DeclarationsAreUniqueByName) {
  auto decl = MakeNode<TQuorvelDeclarationNode>(B.get());
  TQuorvelVariableNode* a = decl->AddDeclaration("a", stVec4);
  EXPECT_EQ(a->GetId(), "a");
  EXPECT_EQ(a->Definition._Type, stVec4);
  EXPECT_EQ(MessageOf([&] { decl->AddDeclaration("a", stFloat); }), "attribute a already exists");
  EXPECT_EQ(decl->Count(), 1);
  decl->AddDeclaration("L", stCustom, "Light", true, 4, TValue());
  EXPECT_EQ(decl->IndexOfDeclaration("L"), 1);
  EXPECT_EQ(decl->IndexOfDeclaration("l"), -1);
  decl->RemoveDeclaration("a");
  decl->RemoveDeclaration("absent");
  EXPECT_EQ(decl->IndexOfDeclaration("L"), 0);
  // Every child of a declaration node must be a variable node.
  decl->Add(Text(B.get(), "stray"));
  EXPECT_THROW(decl->IndexOfDeclaration("x"), EInvalidCast);
}

TEST_F(NodeGraph, ConditionalValuesFollowTheDefines) {
  auto decl = MakeNode<TQuorvelDeclarationNode>(B.get());
  EXPECT_TRUE(decl->GetConditionalValue().IsEmpty());
  decl->SetConditionalValue("A", TValue(1));
  decl->SetConditionalValue("B", TValue(2));
  EXPECT_TRUE(decl->GetConditionalValue().IsEmpty());
  B->AddDefine("B");
  EXPECT_EQ(decl->GetConditionalValue().AsInteger(), 2);
  B->AddDefine("A");
  EXPECT_EQ(decl->GetConditionalValue().AsInteger(), 1);
  decl->SetConditionalValue("A", TValue(3));
  EXPECT_EQ(decl->GetConditionalValue().AsInteger(), 3);
}

TEST_F(NodeGraph, CountsUniformBlocksFromZero) {
  EXPECT_EQ(B->IncNumberOfUBOs(), 0);
  EXPECT_EQ(B->IncNumberOfUBOs(), 1);
  EXPECT_EQ(B->IncNumberOfUBOs(), 2);
  EXPECT_EQ(B->GetNumberOfUBOs(), 3);
}

TEST_F(NodeGraph, SurfaceShaderIsReplacedInsideTheEntryPoint) {
  auto surface = MakeNode<TQuorvelSurfaceShaderNode>(B.get());
  B->SetSurfaceShader(std::move(surface));  // no entry point: nothing changes
  EXPECT_EQ(B->GetSurfaceShader(), nullptr);

  auto* main = Root()->AddNew<TQuorvelEntryPointNode>();
  EXPECT_EQ(main->GetId(), "main");
  B->SetEntryPoint(main);
  auto first = MakeNode<TQuorvelSurfaceShaderNode>(B.get());
  first->Add(Text(B.get(), "first"));
  B->SetSurfaceShader(std::move(first));
  auto second = MakeNode<TQuorvelSurfaceShaderNode>(B.get());
  second->Add(Text(B.get(), "second"));
  TQuorvelSurfaceShaderNode* secondPtr = second.get();
  B->SetSurfaceShader(std::move(second));
  B->SetSurfaceShader(nullptr);  // ignored
  EXPECT_EQ(B->GetSurfaceShader(), secondPtr);
  EXPECT_EQ(main->Count(), 1);
  EXPECT_EQ(B->ToString(), "second");
}

TEST_F(NodeGraph, GlobalsSectionsAndTheirClearing) {
  auto* globals = Root()->AddNew<TQuorvelGlobalsNode>();
  globals->GetConstants()->Add(Text(B.get(), "1"));
  globals->GetTypes()->Add(Text(B.get(), "2"));
  globals->GetAttributes()->Add(Text(B.get(), "3"));
  globals->GetUniforms()->GetTextures()->Add(Text(B.get(), "4"));
  globals->GetUniforms()->Add(Text(B.get(), "5"));
  globals->GetVarying()->Add(Text(B.get(), "6"));
  globals->GetFunctions()->Add(Text(B.get(), "7"));
  globals->GetVariables()->Add(Text(B.get(), "8"));
  globals->Add(Text(B.get(), "9"));
  EXPECT_EQ(B->ToString(), "123456789");

  // Clearing the uniforms keeps the texture list in its place, empty.
  globals->ClearUniforms();
  EXPECT_EQ(B->ToString(), "1236789");
  globals->GetUniforms()->GetTextures()->Add(Text(B.get(), "T"));
  globals->GetUniforms()->Add(Text(B.get(), "U"));
  EXPECT_EQ(B->ToString(), "123TU6789");
  globals->GetUniforms()->ClearTextures();
  globals->ClearUniforms();
  globals->ClearConstants();
  globals->ClearTypes();
  globals->ClearAttributes();
  globals->ClearVarying();
  globals->ClearFunctions();
  globals->ClearVariables();
  EXPECT_EQ(B->ToString(), "9");
}

TEST_F(NodeGraph, UserFunctionsAndTheirCalls) {
  auto vertex = MakeNode<TQuorvelVertexShaderFuncNode>(B.get());
  EXPECT_EQ(vertex->ToString(), "void VertexShader(inout TLocals DATA){\r\n\r\n}\r\n");
  EXPECT_EQ(MakeNode<TQuorvelSurfaceShaderFuncNode>(B.get())->ToString(),
            "void SurfaceShader(inout TLocals DATA){\r\n\r\n}\r\n");
  vertex->GetSourceCode()->SetText("void VertexShader(inout TLocals DATA){\n  DATA.Color0 = vec4(1.0);\n}");
  EXPECT_EQ(vertex->ToString(), "void VertexShader(inout TLocals DATA){\r\n  DATA.Color0 = vec4(1.0);\r\n}\r\n");
  EXPECT_EQ(MakeNode<TQuorvelGLSLVertexShaderExec>(B.get())->ToString(), "  VertexShader(LOCALS);\r\n");
  EXPECT_EQ(MakeNode<TQuorvelGLSLSurfaceShaderExec>(B.get())->ToString(), "  SurfaceShader(LOCALS);\r\n");
}

}  // namespace
