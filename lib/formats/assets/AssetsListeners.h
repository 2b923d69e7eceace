#pragma once
// What the packages and assets tell the registered IQuorvelAssetsListener holders.
#include "framework/rtl/Object.h"

namespace quorvel {

class TQuorvelAssetsPackage;

namespace assets_listeners {

void DefinitionFreeing(TObject* ADef);
void PackageFreeing(TQuorvelAssetsPackage* APackage);
void PackageDefinitionsChanged(TQuorvelAssetsPackage* APackage);

}  // namespace assets_listeners

}  // namespace quorvel
