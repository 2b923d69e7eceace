#include "lib/materials/MaterialDefaultNodes.h"

#include "framework/rtl/ResourceStrings.h"
#include "framework/rtl/SysUtils.h"

namespace quorvel {

namespace {

// A whole shader is about 10 to 20 KB: one reservation covers it.
constexpr size_t ShaderTextReserve = 32 * 1024;

[[noreturn]] void RaiseDefineCheck(const char* AMessage) { throw EAbort(AMessage); }

template <class T>
bool Compare(const T& ALeft, const T& ARight, TQuorvelDefOp AOp, const char* AInvalidOpMessage) {
  switch (AOp) {
    case TQuorvelDefOp::doEqual: return ALeft == ARight;
    case TQuorvelDefOp::doUnequal: return ALeft != ARight;
    case TQuorvelDefOp::doGreater: return ALeft > ARight;
    case TQuorvelDefOp::doGreaterEqual: return ALeft >= ARight;
    case TQuorvelDefOp::doLess: return ALeft < ARight;
    case TQuorvelDefOp::doLessEqual: return ALeft <= ARight;
  }
  RaiseDefineCheck(AInvalidOpMessage);
}

bool CompareDefine(const TValue& ASupplied, const TValue& AStored, TQuorvelDefOp AOp) {
  if (ASupplied.Kind() != AStored.Kind())
    RaiseDefineCheck("unsupported definition value: definition value type and supplied value type not equal");
  switch (ASupplied.Kind()) {
    case tkInteger: return Compare(ASupplied.AsInteger(), AStored.AsInteger(), AOp, "invalid integer operator");
    case tkInt64: return Compare(ASupplied.AsInt64(), AStored.AsInt64(), AOp, "invalid int64 operator");
    case tkFloat: return Compare(ASupplied.AsExtended(), AStored.AsExtended(), AOp, "invalid float operator");
    case tkEnumeration:
      if (ASupplied.IsBoolean())
        return Compare(ASupplied.AsBoolean(), AStored.AsBoolean(), AOp, "invalid boolean operator");
      break;
    default: break;
  }
  RaiseDefineCheck("unsupported definition value: only Integer, Int64, Boolean and Float supported");
}

}  // namespace

// --- builder ---------------------------------------------------------------------------------

TQuorvelNodeBuilder::TQuorvelNodeBuilder(TCustomMaterial* AMaterial)
    : FMaterial(AMaterial), FSourceCode(MakeNode<TQuorvelCompositeNode>(this)) {}

TQuorvelNodeBuilder::~TQuorvelNodeBuilder() = default;

void TQuorvelNodeBuilder::AfterConstruction() {
  SetupDefines();
  BuildTree();
}

void TQuorvelNodeBuilder::SetSurfaceShader(TOwned<TQuorvelSurfaceShaderNode> Value) {
  if (!Value || !FEntryPoint) return;
  if (FSurfaceShader) {
    TQuorvelSurfaceShaderNode* old = FSurfaceShader;
    FSurfaceShader = nullptr;
    FEntryPoint->Remove(old);
  }
  FSurfaceShader = Value.get();
  FEntryPoint->Add(std::move(Value));
}

void TQuorvelNodeBuilder::AddDefine(std::string_view AName) { AddDefine(AName, TValue(true)); }

void TQuorvelNodeBuilder::AddDefine(std::string_view AName, const TValue& AValue) {
  auto it = FDefines.find(AName);
  if (it != FDefines.end())
    it->second = AValue;
  else
    FDefines.emplace(std::string(AName), AValue);
}

void TQuorvelNodeBuilder::RemoveDefine(std::string_view AName) {
  auto it = FDefines.find(AName);
  if (it != FDefines.end()) FDefines.erase(it);
}

bool TQuorvelNodeBuilder::Defined(std::string_view AName) const { return FDefines.find(AName) != FDefines.end(); }

bool TQuorvelNodeBuilder::Defined(std::string_view AName, const TValue& AValue, TQuorvelDefOp AOp) const {
  auto it = FDefines.find(AName);
  if (it == FDefines.end()) return false;
  try {
    return CompareDefine(AValue, it->second, AOp);
  } catch (const Exception& e) {
    throw Exception(Format("failed to check define %s: %s", std::string(AName), e.Message()));
  }
}

int32_t TQuorvelNodeBuilder::IncNumberOfUBOs() { return FNumberOfUBOs++; }

std::string TQuorvelNodeBuilder::ToString() const {
  std::string out;
  if (!FSourceCode) return out;
  out.reserve(ShaderTextReserve);
  FSourceCode->AppendText(out);
  return out;
}

// --- entity ----------------------------------------------------------------------------------

void TQuorvelNodeEntity::AppendText(std::string&) const {}

std::string TQuorvelNodeEntity::ToString() const {
  std::string out;
  out.reserve(ShaderTextReserve);
  AppendText(out);
  return out;
}

bool TQuorvelNodeEntity::IsDefined(std::string_view AName) const { return FBuilder && FBuilder->Defined(AName); }

bool TQuorvelNodeEntity::Defined() const {
  for (const std::string& name : FDefines)
    if (!IsDefined(name)) return false;
  return true;
}

bool TQuorvelNodeEntity::NotDefined() const {
  for (const std::string& name : FNotDefines)
    if (IsDefined(name)) return false;
  return true;
}

// --- composite -------------------------------------------------------------------------------

TQuorvelCompositeNode::~TQuorvelCompositeNode() = default;

int32_t TQuorvelCompositeNode::Add(TOwned<TQuorvelNodeEntity> ANode) {
  FNodes.push_back(std::move(ANode));
  return static_cast<int32_t>(FNodes.size()) - 1;
}

void TQuorvelCompositeNode::Remove(TQuorvelNodeEntity* ANode) {
  for (size_t i = 0; i < FNodes.size(); ++i)
    if (FNodes[i].get() == ANode) {
      TOwned<TQuorvelNodeEntity> taken = std::move(FNodes[i]);
      FNodes.erase(FNodes.begin() + static_cast<std::ptrdiff_t>(i));
      return;
    }
}

void TQuorvelCompositeNode::CheckIndex(int32_t AIndex, int32_t AUpper) const {
  if (AIndex < 0 || AIndex > AUpper) throw EListError(Format(SListIndexError, {AIndex}));
}

void TQuorvelCompositeNode::Delete(int32_t AIndex) {
  CheckIndex(AIndex, Count() - 1);
  TOwned<TQuorvelNodeEntity> taken = std::move(FNodes[static_cast<size_t>(AIndex)]);
  FNodes.erase(FNodes.begin() + AIndex);
}

void TQuorvelCompositeNode::Insert(int32_t AIndex, TOwned<TQuorvelNodeEntity> ANode) {
  CheckIndex(AIndex, Count());
  FNodes.insert(FNodes.begin() + AIndex, std::move(ANode));
}

void TQuorvelCompositeNode::Clear() {
  std::vector<TOwned<TQuorvelNodeEntity>> taken = std::move(FNodes);
  FNodes.clear();
}

TQuorvelNodeEntity* TQuorvelCompositeNode::GetNode(int32_t AIndex) const {
  CheckIndex(AIndex, Count() - 1);
  return FNodes[static_cast<size_t>(AIndex)].get();
}

namespace {
bool Matches(const TQuorvelNodeEntity* ANode, TQuorvelNodeEntityClass AType, std::string_view AId) {
  return ANode && AType.IsInstance(ANode) && (AId.empty() || ANode->GetId() == AId);
}
}  // namespace

TQuorvelNodeEntity* TQuorvelCompositeNode::FindNode(TQuorvelNodeEntityClass AType, std::string_view AId,
                                                    bool ARecursive) const {
  for (const auto& node : FNodes) {
    if (Matches(node.get(), AType, AId)) return node.get();
    if (!ARecursive) continue;
    if (auto* composite = dynamic_cast<const TQuorvelCompositeNode*>(node.get()))
      if (TQuorvelNodeEntity* hit = composite->FindNode(AType, AId, true)) return hit;
  }
  return nullptr;
}

int32_t TQuorvelCompositeNode::IndexOf(TQuorvelNodeEntityClass AType, std::string_view AId) const {
  for (size_t i = 0; i < FNodes.size(); ++i)
    if (Matches(FNodes[i].get(), AType, AId)) return static_cast<int32_t>(i);
  return -1;
}

int32_t TQuorvelCompositeNode::IndexOfReference(TQuorvelNodeEntityClass AType, uintptr_t AReferenceId) const {
  for (size_t i = 0; i < FNodes.size(); ++i) {
    const TQuorvelNodeEntity* node = FNodes[i].get();
    if (node && AType.IsInstance(node) && (AReferenceId == 0 || node->GetReferenceID() == AReferenceId))
      return static_cast<int32_t>(i);
  }
  return -1;
}

void TQuorvelCompositeNode::AppendText(std::string& AOut) const {
  for (const auto& node : FNodes)
    if (node && node->ConditionsHold()) node->AppendText(AOut);
}

void TQuorvelCompositeNode::AppendAllChildren(std::string& AOut) const {
  for (const auto& node : FNodes)
    if (node) node->AppendText(AOut);
}

// --- declarations ----------------------------------------------------------------------------

const TQuorvelVariableNode& AsVariableNode(const TQuorvelNodeEntity* ANode) {
  auto* v = dynamic_cast<const TQuorvelVariableNode*>(ANode);
  if (!v) value_detail::RaiseInvalidCast();
  return *v;
}

TQuorvelVariableNode* TQuorvelDeclarationNode::AddDeclaration(std::string AName,
                                                              TQuorvelShaderNodeVariableType AType) {
  return AddDeclaration(std::move(AName), AType, std::string(), false, 0, TValue());
}

TQuorvelVariableNode* TQuorvelDeclarationNode::AddDeclaration(std::string AName, TQuorvelShaderNodeVariableType AType,
                                                              std::string ACustomTypeName) {
  return AddDeclaration(std::move(AName), AType, std::move(ACustomTypeName), false, 0, TValue());
}

TQuorvelVariableNode* TQuorvelDeclarationNode::AddDeclaration(std::string AName, TQuorvelShaderNodeVariableType AType,
                                                              std::string ACustomTypeName, bool AIsArray,
                                                              int32_t AArrayCount, const TValue& AValue) {
  if (IndexOfDeclaration(AName) != -1) throw Exception(Format("attribute %s already exists", AName));
  TOwned<TQuorvelVariableNode> node = MakeNode<TQuorvelVariableNode>(GetBuilder());
  node->SetId(AName);
  node->Definition = {std::move(AName), AType, std::move(ACustomTypeName), AValue, AIsArray, AArrayCount};
  TQuorvelVariableNode* result = node.get();
  Add(std::move(node));
  return result;
}

void TQuorvelDeclarationNode::RemoveDeclaration(std::string_view AName) {
  const int32_t index = IndexOfDeclaration(AName);
  if (index >= 0) Delete(index);
}

int32_t TQuorvelDeclarationNode::IndexOfDeclaration(std::string_view AName) const {
  const auto& nodes = GetNodes();
  for (size_t i = 0; i < nodes.size(); ++i)
    if (AsVariableNode(nodes[i].get()).Definition.Name == AName) return static_cast<int32_t>(i);
  return -1;
}

void TQuorvelDeclarationNode::SetConditionalValue(std::string ADefine, const TValue& AValue) {
  for (auto& entry : FConditionalValues)
    if (entry.first == ADefine) {
      entry.second = AValue;
      return;
    }
  FConditionalValues.emplace_back(std::move(ADefine), AValue);
}

TValue TQuorvelDeclarationNode::GetConditionalValue() const {
  for (const auto& entry : FConditionalValues)
    if (IsDefined(entry.first)) return entry.second;
  return TValue();
}

TOwned<TQuorvelVariableNode> TQuorvelVariableNode::Build(TQuorvelNodeBuilder*, std::string,
                                                         TQuorvelShaderNodeVariableType) {
  throw Exception("TQuorvelVariableNode.Build needs to be overwritten");
}

// --- operations ------------------------------------------------------------------------------

TOwned<TQuorvelOperationNode> TQuorvelOperationNode::Build(TQuorvelNodeBuilder* ABuilder,
                                                           TQuorvelShaderNodeOperator AOp,
                                                           TOwned<TQuorvelNodeEntity> ALeft,
                                                           TOwned<TQuorvelNodeEntity> ARight) {
  TOwned<TQuorvelOperationNode> node = MakeNode<TQuorvelOperationNode>(ABuilder);
  node->_Operator = AOp;
  if (ALeft) node->Add(std::move(ALeft));
  if (ARight) node->Add(std::move(ARight));
  return node;
}

namespace {

struct TOperatorForm {
  int32_t Minimum;
  enum { All, Grouping, Subscript, Call, Infix, Prefix, Postfix, Selection } Shape;
  const char* Token;
};

TOperatorForm FormOf(TQuorvelShaderNodeOperator AOp) {
  using enum TQuorvelShaderNodeOperator;
  switch (AOp) {
    case snopUndefined: return {1, TOperatorForm::All, ""};
    case snopGrouping: return {1, TOperatorForm::Grouping, ""};
    case snopArraySubscript: return {2, TOperatorForm::Subscript, ""};
    case snopFuncCall: return {1, TOperatorForm::Call, ""};
    case snopFieldSel: return {2, TOperatorForm::Infix, "."};
    case snopPostInc: return {1, TOperatorForm::Postfix, "++"};
    case snopPostDec: return {1, TOperatorForm::Postfix, "--"};
    case snopPreInc: return {1, TOperatorForm::Prefix, "++"};
    case snopPreDec: return {1, TOperatorForm::Prefix, "--"};
    case snopADD: return {2, TOperatorForm::Infix, " + "};
    case snopSUB: return {2, TOperatorForm::Infix, " - "};
    case snopMUL: return {2, TOperatorForm::Infix, " * "};
    case snopDIV: return {2, TOperatorForm::Infix, " / "};
    case snopSignPos: return {1, TOperatorForm::Prefix, "+"};
    case snopSignNeg: return {1, TOperatorForm::Prefix, "-"};
    case snopNOT: return {1, TOperatorForm::Prefix, "!"};
    case snopEQ: return {2, TOperatorForm::Infix, " == "};
    case snopUNEQ: return {2, TOperatorForm::Infix, " != "};
    case snopGT: return {2, TOperatorForm::Infix, " > "};
    case snopGEQ: return {2, TOperatorForm::Infix, " >= "};
    case snopLT: return {2, TOperatorForm::Infix, " < "};
    case snopLEQ: return {2, TOperatorForm::Infix, " <= "};
    case snopLogAND: return {2, TOperatorForm::Infix, " && "};
    case snopLogOR: return {2, TOperatorForm::Infix, " || "};
    case snopLogXOR: return {2, TOperatorForm::Infix, " ^^ "};
    case snopSelection: return {3, TOperatorForm::Selection, ""};
    case snopAssign: return {2, TOperatorForm::Infix, " = "};
    case snopAddAssign: return {2, TOperatorForm::Infix, " += "};
    case snopSubAssign: return {2, TOperatorForm::Infix, " -= "};
    case snopMulAssign: return {2, TOperatorForm::Infix, " *= "};
    case snopDivAssign: return {2, TOperatorForm::Infix, " /= "};
  }
  throw Exception("failed to build source code for operator - invalid operator found");
}

}  // namespace

void TQuorvelOperationNode::AppendText(std::string& AOut) const {
  const TOperatorForm form = FormOf(_Operator);
  if (Count() < form.Minimum) throw Exception("failed to build source code for operator - invalid nodes list size");
  const auto& nodes = GetNodes();
  auto child = [&](size_t i) {
    if (nodes[i]) nodes[i]->AppendText(AOut);
  };
  auto list = [&](size_t from) {
    for (size_t i = from; i < nodes.size(); ++i) {
      if (i > from) AOut += ", ";
      child(i);
    }
  };
  switch (form.Shape) {
    case TOperatorForm::All: AppendAllChildren(AOut); break;
    case TOperatorForm::Grouping:
      AOut += '(';
      list(0);
      AOut += ')';
      break;
    case TOperatorForm::Subscript:
      child(0);
      AOut += '[';
      list(1);
      AOut += ']';
      break;
    case TOperatorForm::Call:
      child(0);
      AOut += '(';
      list(1);
      AOut += ')';
      break;
    case TOperatorForm::Infix:
      child(0);
      AOut += form.Token;
      child(1);
      break;
    case TOperatorForm::Prefix:
      AOut += form.Token;
      child(0);
      break;
    case TOperatorForm::Postfix:
      child(0);
      AOut += form.Token;
      break;
    case TOperatorForm::Selection:
      child(0);
      AOut += " ? ";
      child(1);
      AOut += " : ";
      child(2);
      break;
  }
}

TOwned<TQuorvelConstantNode> TQuorvelConstantNode::Build(TQuorvelNodeBuilder*, std::string, const TValue&) {
  throw Exception("TQuorvelConstantNode.Build needs to be overwritten");
}

void TQuorvelStatementNode::AppendText(std::string& AOut) const {
  AppendAllChildren(AOut);
  AOut += ";\r\n";
}

TOwned<TQuorvelReferenceNode> TQuorvelReferenceNode::Build(TQuorvelNodeBuilder* ABuilder,
                                                           TQuorvelNodeEntity* AOwner) {
  TOwned<TQuorvelReferenceNode> node = MakeNode<TQuorvelReferenceNode>(ABuilder);
  node->SetOwner(AOwner);
  return node;
}

void TQuorvelReferenceNode::SetOwner(TQuorvelNodeEntity* AOwner) {
  if (!AOwner) throw Exception("failed to create reference to different node - owner node not assigned");
  FOwner = AOwner;
}

void TQuorvelReferenceNode::AppendText(std::string& AOut) const {
  AOut += FOwner ? std::string_view(FOwner->GetId()) : std::string_view("<undefined>");
}

// --- sections --------------------------------------------------------------------------------

TQuorvelUniformsNode::TQuorvelUniformsNode(TQuorvelNodeBuilder* ABuilder)
    : TQuorvelCompositeNode(ABuilder), FTextures(AddNew<TQuorvelCompositeNode>()) {}

void TQuorvelUniformsNode::ClearTextures() { FTextures->Clear(); }

void TQuorvelUniformsNode::Clear() {
  FTextures->Clear();
  for (int32_t i = Count() - 1; i >= 0; --i)
    if (GetNode(i) != FTextures) Delete(i);
}

TQuorvelGlobalsNode::TQuorvelGlobalsNode(TQuorvelNodeBuilder* ABuilder)
    : TQuorvelCompositeNode(ABuilder),
      FConstants(AddNew<TQuorvelCompositeNode>()),
      FTypes(AddNew<TQuorvelCompositeNode>()),
      FAttributes(AddNew<TQuorvelCompositeNode>()),
      FUniforms(AddNew<TQuorvelUniformsNode>()),
      FVarying(AddNew<TQuorvelCompositeNode>()),
      FFunctions(AddNew<TQuorvelCompositeNode>()),
      FVariables(AddNew<TQuorvelCompositeNode>()) {}

void TQuorvelGlobalsNode::ClearConstants() { FConstants->Clear(); }
void TQuorvelGlobalsNode::ClearTypes() { FTypes->Clear(); }
void TQuorvelGlobalsNode::ClearAttributes() { FAttributes->Clear(); }
void TQuorvelGlobalsNode::ClearUniforms() { FUniforms->Clear(); }
void TQuorvelGlobalsNode::ClearVarying() { FVarying->Clear(); }
void TQuorvelGlobalsNode::ClearFunctions() { FFunctions->Clear(); }
void TQuorvelGlobalsNode::ClearVariables() { FVariables->Clear(); }

// --- user functions --------------------------------------------------------------------------

TQuorvelShaderFuncNode::TQuorvelShaderFuncNode(TQuorvelNodeBuilder* ABuilder, std::string_view AName)
    : TQuorvelNodeEntity(ABuilder), FSourceCode(MakeNode<TStringList>()) {
  FSourceCode->Add("void " + std::string(AName) + "(inout TLocals DATA){");
  FSourceCode->Add("");
  FSourceCode->Add("}");
}

void TQuorvelShaderFuncNode::AppendText(std::string& AOut) const {
  const int32_t n = FSourceCode->Count();
  for (int32_t i = 0; i < n; ++i) {
    AOut += FSourceCode->Get(i);
    AOut += "\r\n";
  }
}

void TQuorvelGLSLVertexShaderExec::AppendText(std::string& AOut) const { AOut += "  VertexShader(LOCALS);\r\n"; }
void TQuorvelGLSLSurfaceShaderExec::AppendText(std::string& AOut) const { AOut += "  SurfaceShader(LOCALS);\r\n"; }

}  // namespace quorvel
