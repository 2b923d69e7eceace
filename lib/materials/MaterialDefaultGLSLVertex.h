#pragma once
// The vertex-stage snippets: the vertex locals, position, displacement, clip plane, tangent
// frame and texture coordinates, the varying and gl_Position writes, the point-sprite size and
// the vertex function library. Each node tests its builder's defines when it prints.
#include "lib/materials/MaterialDefaultGLSLDeclarations.h"

namespace quorvel {

// A node whose text is a fixed piece of GLSL chosen by the builder's defines at print time.
class TQuorvelGLSLSnippetNode : public TQuorvelNodeEntity {
public:
  using TQuorvelNodeEntity::TQuorvelNodeEntity;

protected:
  // Varyings are fields of "vars" where the builder uses the varying struct.
  const char* VaryingPrefix() const { return IsDefined("VARYING_STRUCTS") ? "vars." : ""; }
};

class TQuorvelGLSLTransformFuncsNode : public TQuorvelDeclarationNode {
public:
  using TQuorvelDeclarationNode::TQuorvelDeclarationNode;
  void AppendText(std::string& AOut) const override;
};

class TQuorvelGLSLVertexShaderLocalsStructNode : public TQuorvelGLSLLocalsStructNode {
public:
  explicit TQuorvelGLSLVertexShaderLocalsStructNode(TQuorvelNodeBuilder* ABuilder);
};

class TQuorvelGLSLVertexShaderLocalsNode : public TQuorvelGLSLLocalsNode {
public:
  using TQuorvelGLSLLocalsNode::TQuorvelGLSLLocalsNode;
};

#define QUORVEL_SNIPPET(Name, Base)                           \
  class Name : public Base {                                  \
  public:                                                     \
    using Base::Base;                                         \
    void AppendText(std::string& AOut) const override;        \
  }

QUORVEL_SNIPPET(TQuorvelGLSLMatricesOutNode, TQuorvelGLSLSnippetNode);
QUORVEL_SNIPPET(TQuorvelGLSLGetVertexPositionNode, TQuorvelGLSLSnippetNode);
QUORVEL_SNIPPET(TQuorvelGLSLDisplacementMappingGetNode, TQuorvelGLSLSnippetNode);
QUORVEL_SNIPPET(TQuorvelGLSLDisplacementMappingApplyNode, TQuorvelGLSLSnippetNode);
QUORVEL_SNIPPET(TQuorvelGLSLClippingPlaneGetNode, TQuorvelGLSLSnippetNode);
QUORVEL_SNIPPET(TQuorvelGLSLVertexShaderOutputNode, TQuorvelGLSLSnippetNode);
QUORVEL_SNIPPET(TQuorvelGLSLAdjustPointSizeNode, TQuorvelDeclarationNode);
QUORVEL_SNIPPET(TQuorvelGLSLVertexPositionOutputNode, TQuorvelGLSLSnippetNode);

}  // namespace quorvel
