#pragma once
// Unit Quorvel.DefTypes: the definition data model. Its parts, one include each.
#include "lib/defs/DefTypesBase.h"
#include "lib/defs/DefTypesText.h"
#include "lib/defs/DefTypesProperties.h"
#include "lib/defs/DefTypesTransform.h"
#include "lib/defs/DefTypesMaterial.h"
#include "lib/defs/DefTypesLights.h"
#include "lib/defs/DefTypesAnimation.h"
#include "lib/defs/DefTypesLoadOptions.h"
#include "lib/defs/DefTypesModel.h"
#include "lib/defs/DefTypesVertexCache.h"
#include "lib/defs/DefTypesMesh.h"
