#pragma once
// The declaration nodes of generated GLSL 4.30: the version line, variables, the struct types
// that mirror the engine's uniform data, std140 uniform blocks with "ShaderData", vertex
// attributes, varyings, located outputs, the locals of main and main itself; and the two
// text forms every GLSL node uses, VariableToGLSL and ValueToGLSL.
#include <cstdint>
#include <string>

#include "lib/materials/MaterialDefaultNodes.h"

namespace quorvel {

enum class TQuorvelGLSLLayoutKind : uint8_t { LayoutInput, LayoutOutput };
enum class TQuorvelGLSLInOutMode : uint8_t { VaryingIn, VaryingOut };

// The GLSL type name of a variable type ("vec4"); stCustom answers ACustomTypeName.
std::string_view GLSLTypeName(TQuorvelShaderNodeVariableType AType, std::string_view ACustomTypeName);

// One declaration without terminator: type (AWithType), name, "[n]" or "{}", and " = value"
// (AWithValue: AValue when not empty, else the variable's own value, else nothing).
void AppendVariableToGLSL(std::string& AOut, const TQuorvelShaderNodeVariable& AVariable, const TValue& AValue,
                          bool AWithType, bool AWithValue);
std::string VariableToGLSL(const TQuorvelShaderNodeVariable& AVariable, const TValue& AValue, bool AWithType,
                           bool AWithValue);

// The GLSL text of a constant, independent of the process locale: integers in decimal; floats
// with 15 significant digits and always a point ("3.0", "1.0E-5"); "true"/"false"; the
// vector and matrix records as constructors whose components take two decimals where those
// are exact at the component's precision and the float form otherwise. Anything else raises
// "failed to serialize constant value: %s".
void AppendValueToGLSL(std::string& AOut, const TValue& AValue);
std::string ValueToGLSL(const TValue& AValue);

// The version line and two empty lines.
class TQuorvelGLSLPragma : public TQuorvelNodeEntity {
public:
  using TQuorvelNodeEntity::TQuorvelNodeEntity;
  void AppendText(std::string& AOut) const override;
};

class TQuorvelGLSLVariable : public TQuorvelVariableNode {
public:
  explicit TQuorvelGLSLVariable(TQuorvelNodeBuilder* ABuilder);
  static TOwned<TQuorvelGLSLVariable> Build(TQuorvelNodeBuilder* ABuilder, std::string AName,
                                            TQuorvelShaderNodeVariableType AType);
  void AppendText(std::string& AOut) const override;
};

class TQuorvelGLSLConstantValue : public TQuorvelConstantNode {
public:
  using TQuorvelConstantNode::TQuorvelConstantNode;
  static TOwned<TQuorvelGLSLConstantValue> Build(TQuorvelNodeBuilder* ABuilder, std::string AName,
                                                 const TValue& AValue);
  void AppendText(std::string& AOut) const override;
};

class TQuorvelGLSLLayoutLocation : public TQuorvelNodeEntity {
public:
  using TQuorvelNodeEntity::TQuorvelNodeEntity;
  // Raises at print time when Variable is missing.
  void AppendText(std::string& AOut) const override;

  TQuorvelGLSLLayoutKind Kind = TQuorvelGLSLLayoutKind::LayoutInput;
  bool IsLayout = true;
  int32_t Index = 0;
  TOwned<TQuorvelGLSLVariable> Variable;
};

// "struct Id{", the members whose conditions hold (never with values), "};".
class TQuorvelGLSLStructType : public TQuorvelStructTypeNode {
public:
  using TQuorvelStructTypeNode::TQuorvelStructTypeNode;
  void AppendText(std::string& AOut) const override;
};

class TQuorvelGLSLLightType : public TQuorvelGLSLStructType {
public:
  explicit TQuorvelGLSLLightType(TQuorvelNodeBuilder* ABuilder);
};
class TQuorvelGLSLTextureType : public TQuorvelGLSLStructType {
public:
  explicit TQuorvelGLSLTextureType(TQuorvelNodeBuilder* ABuilder);
};
class TQuorvelGLSLMaterialType : public TQuorvelGLSLStructType {
public:
  explicit TQuorvelGLSLMaterialType(TQuorvelNodeBuilder* ABuilder);
};
class TQuorvelGLSLPassDataType : public TQuorvelGLSLStructType {
public:
  explicit TQuorvelGLSLPassDataType(TQuorvelNodeBuilder* ABuilder);
};

// The TLocals struct of a stage; its members are made by the stage's descendant.
class TQuorvelGLSLLocalsStructNode : public TQuorvelGLSLStructType {
public:
  explicit TQuorvelGLSLLocalsStructNode(TQuorvelNodeBuilder* ABuilder) : TQuorvelGLSLStructType(ABuilder) {
    SetId("TLocals");
  }
};

// A std140 block without instance name; the binding is drawn from the builder's counter when
// the block is made and kept for its life.
class TQuorvelGLSLUBO : public TQuorvelDeclarationNode {
public:
  explicit TQuorvelGLSLUBO(TQuorvelNodeBuilder* ABuilder, uintptr_t AReferenceID = 0);
  void AppendText(std::string& AOut) const override;
  int32_t GetBinding() const { return FBinding; }

private:
  int32_t FBinding;
};

class TQuorvelGLSLUBOShaderData : public TQuorvelGLSLUBO {
public:
  explicit TQuorvelGLSLUBOShaderData(TQuorvelNodeBuilder* ABuilder, uintptr_t AReferenceID = 0);
};

// With a Struct: "LOCALS.member = value;" for each member that has a value; without: local
// declarations of its own members.
class TQuorvelGLSLLocalsNode : public TQuorvelDeclarationNode {
public:
  using TQuorvelDeclarationNode::TQuorvelDeclarationNode;
  void AppendText(std::string& AOut) const override;

  TQuorvelGLSLLocalsStructNode* Struct = nullptr;
};

class TQuorvelGLSLAttributesNode : public TQuorvelDeclarationNode {
public:
  explicit TQuorvelGLSLAttributesNode(TQuorvelNodeBuilder* ABuilder);
  void AppendText(std::string& AOut) const override;
};

class TQuorvelGLSLInOutNode : public TQuorvelGLSLStructType {
public:
  explicit TQuorvelGLSLInOutNode(TQuorvelNodeBuilder* ABuilder,
                                 TQuorvelGLSLInOutMode AMode = TQuorvelGLSLInOutMode::VaryingIn);
  void AppendText(std::string& AOut) const override;

  TQuorvelGLSLInOutMode Mode;
};

class TQuorvelGLSLMainNode : public TQuorvelEntryPointNode {
public:
  using TQuorvelEntryPointNode::TQuorvelEntryPointNode;
  void AppendText(std::string& AOut) const override;
};

}  // namespace quorvel
