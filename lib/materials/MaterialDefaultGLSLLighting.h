#pragma once
// The fragment locals and the per-light lighting: the TLocals struct of the fragment main and
// its initial values, the loop over the lights with the Lambert, Phong and Blinn-Phong terms,
// attenuation, spot cone and shadow lookup, and the function library those terms call.
#include "lib/materials/MaterialDefaultGLSLVertex.h"

namespace quorvel {

class TQuorvelGLSLFragmentShaderLocalsStructNode : public TQuorvelGLSLLocalsStructNode {
public:
  explicit TQuorvelGLSLFragmentShaderLocalsStructNode(TQuorvelNodeBuilder* ABuilder);
};

class TQuorvelGLSLLightingLocalsNode : public TQuorvelGLSLLocalsNode {
public:
  using TQuorvelGLSLLocalsNode::TQuorvelGLSLLocalsNode;
};

// "  for(init; condition; step){", the children whose conditions hold, "  }".
class TQuorvelGLSLForLoopNode : public TQuorvelForLoopNode {
public:
  using TQuorvelForLoopNode::TQuorvelForLoopNode;
  void AppendText(std::string& AOut) const override;

protected:
  void AppendLoop(std::string& AOut) const;
};

// for(int i = 0; i < _LightsCount; i++), printed under LIGHTING without DEFERRED. The
// condition refers to the "_LightsCount" member of the globals as they are when it is made.
class TQuorvelGLSLLightsLoopNode : public TQuorvelGLSLForLoopNode {
public:
  explicit TQuorvelGLSLLightsLoopNode(TQuorvelNodeBuilder* ABuilder);
  void AppendText(std::string& AOut) const override;
};

QUORVEL_SNIPPET(TQuorvelGLSLGetLightShadingNode, TQuorvelGLSLSnippetNode);
QUORVEL_SNIPPET(TQuorvelGLSLLightingSumNode, TQuorvelGLSLSnippetNode);
QUORVEL_SNIPPET(TQuorvelGLSLAddShadowNode, TQuorvelGLSLSnippetNode);

QUORVEL_SNIPPET(TQuorvelGLSLGetDirLightDirectionFuncNode, TQuorvelDeclarationNode);
QUORVEL_SNIPPET(TQuorvelGLSLGetPointLightDirectionFuncNode, TQuorvelDeclarationNode);
QUORVEL_SNIPPET(TQuorvelGLSLGetSpotLightDirectionFuncNode, TQuorvelDeclarationNode);
QUORVEL_SNIPPET(TQuorvelGLSLGetLightDirectionFuncNode, TQuorvelDeclarationNode);
QUORVEL_SNIPPET(TQuorvelGLSLGetSpotFalloffFuncNode, TQuorvelDeclarationNode);
QUORVEL_SNIPPET(TQuorvelGLSLGetLightAttenuationFuncNode, TQuorvelDeclarationNode);
QUORVEL_SNIPPET(TQuorvelGLSLGetShadingFuncsNode, TQuorvelDeclarationNode);
QUORVEL_SNIPPET(TQuorvelGLSLBasicShadowFuncsNode, TQuorvelDeclarationNode);

}  // namespace quorvel
