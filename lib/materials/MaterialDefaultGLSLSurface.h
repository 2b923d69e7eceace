#pragma once
// The surface snippets and texture functions of the fragment stage. Placed in the trees now;
// their texts are still empty.
#include "lib/materials/MaterialDefaultGLSLLighting.h"

namespace quorvel {

class TQuorvelGLSLPackingFuncsNode : public TQuorvelDeclarationNode {
public:
  using TQuorvelDeclarationNode::TQuorvelDeclarationNode;
};
class TQuorvelGLSLGetTextureFuncsNode : public TQuorvelDeclarationNode {
public:
  using TQuorvelDeclarationNode::TQuorvelDeclarationNode;
};
class TQuorvelGLSLGetTextureAtlasFuncNode : public TQuorvelDeclarationNode {
public:
  using TQuorvelDeclarationNode::TQuorvelDeclarationNode;
};
class TQuorvelGLSLBumpFuncsNode : public TQuorvelDeclarationNode {
public:
  using TQuorvelDeclarationNode::TQuorvelDeclarationNode;
};
class TQuorvelGLSLPOMFuncsNode : public TQuorvelDeclarationNode {
public:
  using TQuorvelDeclarationNode::TQuorvelDeclarationNode;
};
class TQuorvelGLSLClippingPlaneNode : public TQuorvelGLSLSnippetNode {
public:
  using TQuorvelGLSLSnippetNode::TQuorvelGLSLSnippetNode;
};
class TQuorvelGLSLSpecularColorNode : public TQuorvelGLSLSnippetNode {
public:
  using TQuorvelGLSLSnippetNode::TQuorvelGLSLSnippetNode;
};
class TQuorvelGLSLEmissiveColorNode : public TQuorvelGLSLSnippetNode {
public:
  using TQuorvelGLSLSnippetNode::TQuorvelGLSLSnippetNode;
};
class TQuorvelGLSLGetTransfVertPosNode : public TQuorvelGLSLSnippetNode {
public:
  using TQuorvelGLSLSnippetNode::TQuorvelGLSLSnippetNode;
};
class TQuorvelGLSLGetNormalNode : public TQuorvelGLSLSnippetNode {
public:
  using TQuorvelGLSLSnippetNode::TQuorvelGLSLSnippetNode;
};
class TQuorvelGLSLGetFragViewDirNode : public TQuorvelGLSLSnippetNode {
public:
  using TQuorvelGLSLSnippetNode::TQuorvelGLSLSnippetNode;
};
class TQuorvelGLSLTextureCoordsNode : public TQuorvelGLSLSnippetNode {
public:
  using TQuorvelGLSLSnippetNode::TQuorvelGLSLSnippetNode;
};
class TQuorvelGLSLPOMApplyNode : public TQuorvelGLSLSnippetNode {
public:
  using TQuorvelGLSLSnippetNode::TQuorvelGLSLSnippetNode;
};
class TQuorvelGLSLGetBumpNormalNode : public TQuorvelGLSLSnippetNode {
public:
  using TQuorvelGLSLSnippetNode::TQuorvelGLSLSnippetNode;
};
class TQuorvelGLSLGetBaseColorNode : public TQuorvelGLSLSnippetNode {
public:
  using TQuorvelGLSLSnippetNode::TQuorvelGLSLSnippetNode;
};
class TQuorvelGLSLAlphaCutoffNode : public TQuorvelGLSLSnippetNode {
public:
  using TQuorvelGLSLSnippetNode::TQuorvelGLSLSnippetNode;
};
class TQuorvelGLSLSpecularMapNode : public TQuorvelGLSLSnippetNode {
public:
  using TQuorvelGLSLSnippetNode::TQuorvelGLSLSnippetNode;
};
class TQuorvelGLSLAddEnvironmentNode : public TQuorvelGLSLSnippetNode {
public:
  using TQuorvelGLSLSnippetNode::TQuorvelGLSLSnippetNode;
};
class TQuorvelGLSLAddReflectionNode : public TQuorvelGLSLSnippetNode {
public:
  using TQuorvelGLSLSnippetNode::TQuorvelGLSLSnippetNode;
};
class TQuorvelGLSLAddRefractionNode : public TQuorvelGLSLSnippetNode {
public:
  using TQuorvelGLSLSnippetNode::TQuorvelGLSLSnippetNode;
};

}  // namespace quorvel
