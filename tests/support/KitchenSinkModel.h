#pragma once
// The kitchen-sink model: one model's JSON text holding every kind of thing a model stores.
#include <string>

namespace quorvel::testkit {

// Every material kind, a layered one with two sub-materials, textures with and without asset,
// shaders, behaviours and their references, extensions; a tree with a sub-mesh, a vertex group,
// an instance, a group, a segment, a light and a camera; free lights and cameras; metadata.
std::string KitchenSinkModel();

}  // namespace quorvel::testkit
