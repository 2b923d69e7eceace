#pragma once
// Colour merge, tone mapping, fog and the fragment outputs.
#include "lib/materials/MaterialDefaultGLSLPBR.h"

namespace quorvel {

QUORVEL_SNIPPET(TQuorvelGLSLToneMappingFuncsNode, TQuorvelDeclarationNode);
QUORVEL_SNIPPET(TQuorvelGLSLFogFuncNode, TQuorvelDeclarationNode);
QUORVEL_SNIPPET(TQuorvelGLSLMergedColorOutputNode, TQuorvelGLSLSnippetNode);
QUORVEL_SNIPPET(TQuorvelGLSLTonemappingNode, TQuorvelGLSLSnippetNode);
QUORVEL_SNIPPET(TQuorvelGLSLBrightnessColorNode, TQuorvelGLSLSnippetNode);
QUORVEL_SNIPPET(TQuorvelGLSLFragColorOutputNode, TQuorvelGLSLSnippetNode);
QUORVEL_SNIPPET(TQuorvelGLSLColorClipNode, TQuorvelGLSLSnippetNode);
QUORVEL_SNIPPET(TQuorvelGLSLFogApplyNode, TQuorvelGLSLSnippetNode);
QUORVEL_SNIPPET(TQuorvelGLSLWeightedBlendedOITNode, TQuorvelGLSLSnippetNode);

}  // namespace quorvel
