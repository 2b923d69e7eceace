#pragma once
// Colour merge, tone mapping, fog and the fragment outputs. Placed in the trees now; their
// texts are still empty.
#include "lib/materials/MaterialDefaultGLSLPBR.h"

namespace quorvel {

class TQuorvelGLSLToneMappingFuncsNode : public TQuorvelDeclarationNode {
public:
  using TQuorvelDeclarationNode::TQuorvelDeclarationNode;
};
class TQuorvelGLSLFogFuncNode : public TQuorvelDeclarationNode {
public:
  using TQuorvelDeclarationNode::TQuorvelDeclarationNode;
};
class TQuorvelGLSLMergedColorOutputNode : public TQuorvelGLSLSnippetNode {
public:
  using TQuorvelGLSLSnippetNode::TQuorvelGLSLSnippetNode;
};
class TQuorvelGLSLTonemappingNode : public TQuorvelGLSLSnippetNode {
public:
  using TQuorvelGLSLSnippetNode::TQuorvelGLSLSnippetNode;
};
class TQuorvelGLSLBrightnessColorNode : public TQuorvelGLSLSnippetNode {
public:
  using TQuorvelGLSLSnippetNode::TQuorvelGLSLSnippetNode;
};
class TQuorvelGLSLFragColorOutputNode : public TQuorvelGLSLSnippetNode {
public:
  using TQuorvelGLSLSnippetNode::TQuorvelGLSLSnippetNode;
};
class TQuorvelGLSLColorClipNode : public TQuorvelGLSLSnippetNode {
public:
  using TQuorvelGLSLSnippetNode::TQuorvelGLSLSnippetNode;
};
class TQuorvelGLSLFogApplyNode : public TQuorvelGLSLSnippetNode {
public:
  using TQuorvelGLSLSnippetNode::TQuorvelGLSLSnippetNode;
};
class TQuorvelGLSLWeightedBlendedOITNode : public TQuorvelGLSLSnippetNode {
public:
  using TQuorvelGLSLSnippetNode::TQuorvelGLSLSnippetNode;
};

}  // namespace quorvel
