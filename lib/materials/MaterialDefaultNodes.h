#pragma once
// The shader node graph: a builder with named defines and a tree of nodes that print text.
// Every node carries two condition lists over the builder's defines; a composite prints the
// children whose conditions hold, in order, with nothing between them. Defines never reach
// the text as preprocessor lines: they only choose, at print time, what is printed.
//
// Printing caches nothing: ToString walks the tree with the defines of that moment and every
// node appends its text to one buffer (AppendText), so a whole shader is one allocation.
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "framework/rtl/Object.h"
#include "framework/rtl/StringList.h"
#include "framework/rtl/Value.h"

namespace quorvel {

class TCustomMaterial;
class TQuorvelNodeBuilder;
class TQuorvelNodeEntity;
class TQuorvelGlobalsNode;
class TQuorvelEntryPointNode;
class TQuorvelSurfaceShaderNode;

enum class TQuorvelDefOp : uint8_t { doEqual, doUnequal, doGreater, doGreaterEqual, doLess, doLessEqual };

enum class TQuorvelShaderNodeVariableType : uint8_t {
  stCustom,
  stInt,
  stFloat,
  stBool,
  stBVec2,
  stBVec3,
  stBVec4,
  stIVec2,
  stIVec3,
  stIVec4,
  stUVec2,
  stUVec3,
  stUVec4,
  stVec2,
  stVec3,
  stVec4,
  stMat33,
  stMat44,
  stSampler2D,
  stSamplerCube,
  stSampler3D,
  stStruct,
};

enum class TQuorvelShaderNodeOperator : uint8_t {
  snopUndefined,
  snopGrouping,
  snopArraySubscript,
  snopFuncCall,
  snopFieldSel,
  snopPostInc,
  snopPostDec,
  snopPreInc,
  snopPreDec,
  snopADD,
  snopSUB,
  snopMUL,
  snopDIV,
  snopSignPos,
  snopSignNeg,
  snopNOT,
  snopEQ,
  snopUNEQ,
  snopGT,
  snopGEQ,
  snopLT,
  snopLEQ,
  snopLogAND,
  snopLogOR,
  snopLogXOR,
  snopSelection,
  snopAssign,
  snopAddAssign,
  snopSubAssign,
  snopMulAssign,
  snopDivAssign,
};

struct TQuorvelShaderNodeVariable {
  std::string Name;
  TQuorvelShaderNodeVariableType _Type = TQuorvelShaderNodeVariableType::stCustom;
  std::string TypeName;  // the GLSL type of stCustom
  TValue Value;          // initial value; empty means none
  bool IsArray = false;
  int32_t ArrayCount = 0;
};

// The class reference searches take: matches an instance of the class or of a descendant.
struct TQuorvelNodeEntityClass {
  bool (*IsInstance)(const TQuorvelNodeEntity*) = nullptr;
};
template <class T>
constexpr TQuorvelNodeEntityClass NodeClassOf() {
  return {[](const TQuorvelNodeEntity* n) { return dynamic_cast<const T*>(n) != nullptr; }};
}

// A new node owned by the caller until it is handed to a parent.
template <class T, class... A>
TOwned<T> MakeNode(A&&... args) {
  return TOwned<T>(New<T>(std::forward<A>(args)...));
}

// --- builder ---------------------------------------------------------------------------------

class TQuorvelCompositeNode;

class TQuorvelNodeBuilder : public TObject {
public:
  explicit TQuorvelNodeBuilder(TCustomMaterial* AMaterial);
  ~TQuorvelNodeBuilder() override;
  // SetupDefines, then BuildTree.
  void AfterConstruction() override;

  virtual void SetupDefines() = 0;
  virtual void BuildTree() = 0;
  // Replaces the surface-shader node of the entry point; nil, or no entry point, changes nothing.
  virtual void SetSurfaceShader(TOwned<TQuorvelSurfaceShaderNode> Value);
  // The value True.
  virtual void AddDefine(std::string_view AName);
  virtual void AddDefine(std::string_view AName, const TValue& AValue);
  virtual void RemoveDefine(std::string_view AName);
  // Present, whatever its value (a define valued False is defined).
  virtual bool Defined(std::string_view AName) const;
  // AValue (left) compared with the stored value (right); False when the name is absent.
  virtual bool Defined(std::string_view AName, const TValue& AValue, TQuorvelDefOp AOp) const;
  // The current number, then one more.
  virtual int32_t IncNumberOfUBOs();
  std::string ToString() const override;

  TCustomMaterial* GetMaterial() const { return FMaterial; }
  TQuorvelCompositeNode* GetSourceCode() const { return FSourceCode.get(); }
  TQuorvelGlobalsNode* GetGlobals() const { return FGlobals; }
  TQuorvelEntryPointNode* GetEntryPoint() const { return FEntryPoint; }
  TQuorvelSurfaceShaderNode* GetSurfaceShader() const { return FSurfaceShader; }
  int32_t GetNumberOfUBOs() const { return FNumberOfUBOs; }

protected:
  void SetGlobals(TQuorvelGlobalsNode* v) { FGlobals = v; }
  void SetEntryPoint(TQuorvelEntryPointNode* v) { FEntryPoint = v; }

private:
  struct THash {
    using is_transparent = void;
    size_t operator()(std::string_view s) const noexcept { return std::hash<std::string_view>{}(s); }
  };
  TCustomMaterial* FMaterial;
  std::unordered_map<std::string, TValue, THash, std::equal_to<>> FDefines;
  TOwned<TQuorvelCompositeNode> FSourceCode;
  TQuorvelGlobalsNode* FGlobals = nullptr;
  TQuorvelEntryPointNode* FEntryPoint = nullptr;
  TQuorvelSurfaceShaderNode* FSurfaceShader = nullptr;
  int32_t FNumberOfUBOs = 0;
};

// --- nodes -----------------------------------------------------------------------------------

class TQuorvelNodeEntity : public TObject {
public:
  explicit TQuorvelNodeEntity(TQuorvelNodeBuilder* ABuilder) : FBuilder(ABuilder) {}

  // Appends the node's own text; conditions are the parent's business.
  virtual void AppendText(std::string& AOut) const;
  std::string ToString() const override;

  TQuorvelNodeBuilder* GetBuilder() const { return FBuilder; }
  const std::string& GetId() const { return FId; }
  void SetId(std::string AId) { FId = std::move(AId); }
  uintptr_t GetReferenceID() const { return FReferenceID; }
  void SetReferenceID(uintptr_t v) { FReferenceID = v; }
  void SetReferenceIDByObject(const void* AObj) { FReferenceID = reinterpret_cast<uintptr_t>(AObj); }

  const std::vector<std::string>& GetDefines() const { return FDefines; }
  const std::vector<std::string>& GetNotDefines() const { return FNotDefines; }
  void AddDefine(std::string ADefine) { FDefines.push_back(std::move(ADefine)); }
  void AddNotDefine(std::string ADefine) { FNotDefines.push_back(std::move(ADefine)); }
  // Every name of Defines is defined (True when the list is empty).
  bool Defined() const;
  // No name of NotDefines is defined (True when the list is empty).
  bool NotDefined() const;
  bool ConditionsHold() const { return Defined() && NotDefined(); }

  // The builder's one-argument Defined.
  bool IsDefined(std::string_view AName) const;

private:
  TQuorvelNodeBuilder* FBuilder;
  std::string FId;
  std::vector<std::string> FDefines;
  std::vector<std::string> FNotDefines;
  uintptr_t FReferenceID = 0;
};

class TQuorvelCompositeNode : public TQuorvelNodeEntity {
public:
  using TQuorvelNodeEntity::TQuorvelNodeEntity;
  ~TQuorvelCompositeNode() override;

  virtual int32_t Add(TOwned<TQuorvelNodeEntity> ANode);
  // Takes out and frees the node; a node that is no child changes nothing.
  virtual void Remove(TQuorvelNodeEntity* ANode);
  // Raises EListError for a bad index.
  virtual void Delete(int32_t AIndex);
  virtual void Insert(int32_t AIndex, TOwned<TQuorvelNodeEntity> ANode);
  virtual int32_t Count() const { return static_cast<int32_t>(FNodes.size()); }
  virtual void Clear();
  // Depth first, a parent before its children; an empty id matches any id.
  virtual TQuorvelNodeEntity* FindNode(TQuorvelNodeEntityClass AType, std::string_view AId, bool ARecursive) const;
  virtual int32_t IndexOf(TQuorvelNodeEntityClass AType, std::string_view AId) const;
  // A reference id of 0 matches any.
  virtual int32_t IndexOfReference(TQuorvelNodeEntityClass AType, uintptr_t AReferenceId) const;

  template <class T>
  T* FindNode(std::string_view AId, bool ARecursive) const {
    return static_cast<T*>(FindNode(NodeClassOf<T>(), AId, ARecursive));
  }
  // Appends a new child and answers it.
  template <class T, class... A>
  T* AddNew(A&&... args) {
    TOwned<T> node = MakeNode<T>(GetBuilder(), std::forward<A>(args)...);
    T* result = node.get();
    Add(std::move(node));
    return result;
  }
  TQuorvelNodeEntity* GetNode(int32_t AIndex) const;
  const std::vector<TOwned<TQuorvelNodeEntity>>& GetNodes() const { return FNodes; }

  // Emission rule: the children whose conditions hold.
  void AppendText(std::string& AOut) const override;

protected:
  // Every child, conditions untested.
  void AppendAllChildren(std::string& AOut) const;

private:
  void CheckIndex(int32_t AIndex, int32_t AUpper) const;
  std::vector<TOwned<TQuorvelNodeEntity>> FNodes;
};

class TQuorvelEntryPointNode : public TQuorvelCompositeNode {
public:
  explicit TQuorvelEntryPointNode(TQuorvelNodeBuilder* ABuilder) : TQuorvelCompositeNode(ABuilder) { SetId("main"); }
};

class TQuorvelVariableNode;

class TQuorvelDeclarationNode : public TQuorvelCompositeNode {
public:
  using TQuorvelCompositeNode::TQuorvelCompositeNode;

  TQuorvelVariableNode* AddDeclaration(std::string AName, TQuorvelShaderNodeVariableType AType);
  TQuorvelVariableNode* AddDeclaration(std::string AName, TQuorvelShaderNodeVariableType AType,
                                       std::string ACustomTypeName);
  // Raises "attribute %s already exists" for a name declared before.
  virtual TQuorvelVariableNode* AddDeclaration(std::string AName, TQuorvelShaderNodeVariableType AType,
                                               std::string ACustomTypeName, bool AIsArray, int32_t AArrayCount,
                                               const TValue& AValue);
  void RemoveDeclaration(std::string_view AName);
  // A child that is no variable node raises EInvalidCast.
  int32_t IndexOfDeclaration(std::string_view AName) const;
  void SetConditionalValue(std::string ADefine, const TValue& AValue);
  // The value of the first entry (in the order they were set) whose define is defined.
  TValue GetConditionalValue() const;

private:
  std::vector<std::pair<std::string, TValue>> FConditionalValues;
};

class TQuorvelTypeNode : public TQuorvelDeclarationNode {
public:
  using TQuorvelDeclarationNode::TQuorvelDeclarationNode;
};
class TQuorvelStructTypeNode : public TQuorvelTypeNode {
public:
  using TQuorvelTypeNode::TQuorvelTypeNode;
};
class TQuorvelSurfaceInputNode : public TQuorvelStructTypeNode {
public:
  using TQuorvelStructTypeNode::TQuorvelStructTypeNode;
};
class TQuorvelSurfaceOutputNode : public TQuorvelStructTypeNode {
public:
  using TQuorvelStructTypeNode::TQuorvelStructTypeNode;
};

class TQuorvelVariableNode : public TQuorvelDeclarationNode {
public:
  using TQuorvelDeclarationNode::TQuorvelDeclarationNode;
  // Raises: the GLSL variable provides it.
  static TOwned<TQuorvelVariableNode> Build(TQuorvelNodeBuilder* ABuilder, std::string AName,
                                            TQuorvelShaderNodeVariableType AType);

  TQuorvelShaderNodeVariable Definition;
};

// The variable node of a child, or EInvalidCast.
const TQuorvelVariableNode& AsVariableNode(const TQuorvelNodeEntity* ANode);

class TQuorvelOperationNode : public TQuorvelCompositeNode {
public:
  using TQuorvelCompositeNode::TQuorvelCompositeNode;
  // The operands that are not nil become the node's children.
  static TOwned<TQuorvelOperationNode> Build(TQuorvelNodeBuilder* ABuilder, TQuorvelShaderNodeOperator AOp,
                                             TOwned<TQuorvelNodeEntity> ALeft, TOwned<TQuorvelNodeEntity> ARight);
  void AppendText(std::string& AOut) const override;

  TQuorvelShaderNodeOperator _Operator = TQuorvelShaderNodeOperator::snopADD;
};

class TQuorvelConstantNode : public TQuorvelNodeEntity {
public:
  using TQuorvelNodeEntity::TQuorvelNodeEntity;
  // Raises: the GLSL constant provides it.
  static TOwned<TQuorvelConstantNode> Build(TQuorvelNodeBuilder* ABuilder, std::string AName, const TValue& AValue);

  TValue Value;
};

class TQuorvelStatementNode : public TQuorvelCompositeNode {
public:
  using TQuorvelCompositeNode::TQuorvelCompositeNode;
  // Every child, conditions untested, then ";" and a line end.
  void AppendText(std::string& AOut) const override;
};

class TQuorvelForLoopNode : public TQuorvelStatementNode {
public:
  using TQuorvelStatementNode::TQuorvelStatementNode;

  TOwned<TQuorvelOperationNode> LoopVariable;
  TOwned<TQuorvelOperationNode> Condition;
  TOwned<TQuorvelOperationNode> LoopOp;
};

class TQuorvelReferenceNode : public TQuorvelNodeEntity {
public:
  using TQuorvelNodeEntity::TQuorvelNodeEntity;
  // Raises for a nil owner.
  static TOwned<TQuorvelReferenceNode> Build(TQuorvelNodeBuilder* ABuilder, TQuorvelNodeEntity* AOwner);
  TQuorvelNodeEntity* GetOwner() const { return FOwner; }
  void SetOwner(TQuorvelNodeEntity* AOwner);
  // The owner's id, or "<undefined>".
  void AppendText(std::string& AOut) const override;

private:
  TQuorvelNodeEntity* FOwner = nullptr;
};

class TQuorvelUniformsNode : public TQuorvelCompositeNode {
public:
  explicit TQuorvelUniformsNode(TQuorvelNodeBuilder* ABuilder);
  TQuorvelCompositeNode* GetTextures() const { return FTextures; }
  void ClearTextures();
  // Frees every uniform but keeps the Textures list (emptied) as the first child, so that
  // clearing the uniforms leaves no dangling texture list behind.
  void Clear() override;

private:
  TQuorvelCompositeNode* FTextures;
};

class TQuorvelGlobalsNode : public TQuorvelCompositeNode {
public:
  explicit TQuorvelGlobalsNode(TQuorvelNodeBuilder* ABuilder);

  TQuorvelCompositeNode* GetConstants() const { return FConstants; }
  TQuorvelCompositeNode* GetTypes() const { return FTypes; }
  TQuorvelCompositeNode* GetAttributes() const { return FAttributes; }
  TQuorvelUniformsNode* GetUniforms() const { return FUniforms; }
  TQuorvelCompositeNode* GetVarying() const { return FVarying; }
  TQuorvelCompositeNode* GetFunctions() const { return FFunctions; }
  TQuorvelCompositeNode* GetVariables() const { return FVariables; }
  void ClearConstants();
  void ClearTypes();
  void ClearAttributes();
  void ClearUniforms();
  void ClearVarying();
  void ClearFunctions();
  void ClearVariables();

private:
  TQuorvelCompositeNode* FConstants;
  TQuorvelCompositeNode* FTypes;
  TQuorvelCompositeNode* FAttributes;
  TQuorvelUniformsNode* FUniforms;
  TQuorvelCompositeNode* FVarying;
  TQuorvelCompositeNode* FFunctions;
  TQuorvelCompositeNode* FVariables;
};

class TQuorvelSurfaceShaderNode : public TQuorvelCompositeNode {
public:
  using TQuorvelCompositeNode::TQuorvelCompositeNode;
};

// A user function: the lines of SourceCode, each with a line end.
class TQuorvelShaderFuncNode : public TQuorvelNodeEntity {
public:
  TQuorvelShaderFuncNode(TQuorvelNodeBuilder* ABuilder, std::string_view AName);
  TStrings* GetSourceCode() const { return FSourceCode.get(); }
  void AppendText(std::string& AOut) const override;

private:
  TOwned<TStringList> FSourceCode;
};

class TQuorvelVertexShaderFuncNode : public TQuorvelShaderFuncNode {
public:
  explicit TQuorvelVertexShaderFuncNode(TQuorvelNodeBuilder* ABuilder)
      : TQuorvelShaderFuncNode(ABuilder, "VertexShader") {}
};
class TQuorvelSurfaceShaderFuncNode : public TQuorvelShaderFuncNode {
public:
  explicit TQuorvelSurfaceShaderFuncNode(TQuorvelNodeBuilder* ABuilder)
      : TQuorvelShaderFuncNode(ABuilder, "SurfaceShader") {}
};

// The calls of the user functions from main.
class TQuorvelGLSLVertexShaderExec : public TQuorvelNodeEntity {
public:
  using TQuorvelNodeEntity::TQuorvelNodeEntity;
  void AppendText(std::string& AOut) const override;
};
class TQuorvelGLSLSurfaceShaderExec : public TQuorvelNodeEntity {
public:
  using TQuorvelNodeEntity::TQuorvelNodeEntity;
  void AppendText(std::string& AOut) const override;
};

}  // namespace quorvel
