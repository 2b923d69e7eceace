#pragma once
// The physically based shading snippets.
#include "lib/materials/MaterialDefaultGLSLSurface.h"

namespace quorvel {

QUORVEL_SNIPPET(TQuorvelGLSLPBRFuncsNode, TQuorvelDeclarationNode);
QUORVEL_SNIPPET(TQuorvelGLSLPBRPrepareNode, TQuorvelGLSLSnippetNode);

// The physically based branches of nodes of other units, printed by those nodes.
void AppendPBRLightTerms(std::string& AOut, const TQuorvelNodeEntity& ANode);
void AppendPBREnvironment(std::string& AOut, const TQuorvelNodeEntity& ANode);
void AppendPBRMerge(std::string& AOut, const TQuorvelNodeEntity& ANode);
// True where one of the ten tone-mapping defines holds.
bool HasToneMapDefine(const TQuorvelNodeEntity& ANode);

}  // namespace quorvel
