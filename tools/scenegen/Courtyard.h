#pragma once
// The layout of the default scene.
#include "Geometry.h"

namespace scenegen
{

// Material indices of the courtyard, in the order of its material library.
enum CourtyardMaterial
{
    kTiles,
    kStone,
    kWood,
    kFabric,
    kPlaster,
};

// The materials with the texture files they name (relative to the scene's folder).
std::vector<Material> CourtyardMaterials();

// Builds the courtyard into mesh, which must use CourtyardMaterials().
void BuildCourtyard(MeshBuilder& mesh);

} // namespace scenegen
