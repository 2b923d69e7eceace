#pragma once
// GLSL generation of the default material: declarations, snippets by stage and the builders.
#include "lib/materials/MaterialDefaultGLSLBuilders.h"
#include "lib/materials/MaterialDefaultGLSLDeclarations.h"
#include "lib/materials/MaterialDefaultGLSLLighting.h"
#include "lib/materials/MaterialDefaultGLSLOutput.h"
#include "lib/materials/MaterialDefaultGLSLPBR.h"
#include "lib/materials/MaterialDefaultGLSLSurface.h"
#include "lib/materials/MaterialDefaultGLSLVertex.h"
