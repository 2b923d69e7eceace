#pragma once
// The surface snippets and texture functions of the fragment stage.
#include "lib/context/ContextTexturing.h"
#include "lib/materials/MaterialDefaultGLSLLighting.h"

namespace quorvel {

// One sampler or image uniform named "_" + Id; the material makes one per pool texture.
class TQuorvelGLSLTextureUniformNode : public TQuorvelNodeEntity {
public:
  explicit TQuorvelGLSLTextureUniformNode(TQuorvelNodeBuilder* ABuilder);
  void AppendText(std::string& AOut) const override;

  TQuorvelTextureKind GetTextureKind() const { return FTextureKind; }
  void SetTextureKind(TQuorvelTextureKind AValue) { FTextureKind = AValue; }
  bool GetIsUnsigned() const { return FIsUnsigned; }
  void SetIsUnsigned(bool AValue) { FIsUnsigned = AValue; }

private:
  TQuorvelTextureKind FTextureKind = TQuorvelTextureKind::Texture2D;
  bool FIsUnsigned = false;
};

QUORVEL_SNIPPET(TQuorvelGLSLPackingFuncsNode, TQuorvelDeclarationNode);
QUORVEL_SNIPPET(TQuorvelGLSLGetTextureFuncsNode, TQuorvelDeclarationNode);
QUORVEL_SNIPPET(TQuorvelGLSLGetTextureAtlasFuncNode, TQuorvelDeclarationNode);
QUORVEL_SNIPPET(TQuorvelGLSLBumpFuncsNode, TQuorvelDeclarationNode);
QUORVEL_SNIPPET(TQuorvelGLSLPOMFuncsNode, TQuorvelDeclarationNode);
QUORVEL_SNIPPET(TQuorvelGLSLClippingPlaneNode, TQuorvelGLSLSnippetNode);
QUORVEL_SNIPPET(TQuorvelGLSLSpecularColorNode, TQuorvelGLSLSnippetNode);
QUORVEL_SNIPPET(TQuorvelGLSLEmissiveColorNode, TQuorvelGLSLSnippetNode);
QUORVEL_SNIPPET(TQuorvelGLSLGetTransfVertPosNode, TQuorvelGLSLSnippetNode);
QUORVEL_SNIPPET(TQuorvelGLSLGetNormalNode, TQuorvelGLSLSnippetNode);
QUORVEL_SNIPPET(TQuorvelGLSLGetFragViewDirNode, TQuorvelGLSLSnippetNode);
QUORVEL_SNIPPET(TQuorvelGLSLTextureCoordsNode, TQuorvelGLSLSnippetNode);
QUORVEL_SNIPPET(TQuorvelGLSLPOMApplyNode, TQuorvelGLSLSnippetNode);
QUORVEL_SNIPPET(TQuorvelGLSLGetBumpNormalNode, TQuorvelGLSLSnippetNode);
QUORVEL_SNIPPET(TQuorvelGLSLGetBaseColorNode, TQuorvelGLSLSnippetNode);
QUORVEL_SNIPPET(TQuorvelGLSLAlphaCutoffNode, TQuorvelGLSLSnippetNode);
QUORVEL_SNIPPET(TQuorvelGLSLSpecularMapNode, TQuorvelGLSLSnippetNode);
QUORVEL_SNIPPET(TQuorvelGLSLAddEnvironmentNode, TQuorvelGLSLSnippetNode);
QUORVEL_SNIPPET(TQuorvelGLSLAddReflectionNode, TQuorvelGLSLSnippetNode);
QUORVEL_SNIPPET(TQuorvelGLSLAddRefractionNode, TQuorvelGLSLSnippetNode);

}  // namespace quorvel
