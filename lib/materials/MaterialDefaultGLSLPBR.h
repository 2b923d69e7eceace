#pragma once
// The physically based shading snippets. Placed in the trees now; their texts are still empty.
#include "lib/materials/MaterialDefaultGLSLSurface.h"

namespace quorvel {

class TQuorvelGLSLPBRFuncsNode : public TQuorvelDeclarationNode {
public:
  using TQuorvelDeclarationNode::TQuorvelDeclarationNode;
};
class TQuorvelGLSLPBRPrepareNode : public TQuorvelGLSLSnippetNode {
public:
  using TQuorvelGLSLSnippetNode::TQuorvelGLSLSnippetNode;
};

}  // namespace quorvel
