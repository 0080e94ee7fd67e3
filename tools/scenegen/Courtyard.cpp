// A walled-garden courtyard seen by a camera that circles it at radius 15 and height
// 10, looking at (0, 1, 0), under a light that comes down at 45 degrees and turns.
// Everything stays within 9 units of the vertical axis and below 6 units.
//
// Shadow features, and where they are:
//   - a colonnade of five pillars on a stepped plinth, carrying an architrave and a
//     cornice that overhang the pillars (back, negative z);
//   - a pergola of thin slats that throws striped shadows (right front);
//   - an upright torus under the pergola, a sphere on a pedestal (left front): curved
//     casters and receivers;
//   - crates and a sack standing close together (front): contact shadows;
//   - a round arch beside the colonnade; a rug on the floor in front of the steps.
//
// Vertex density: the renderer splits every triangle until none is above 0.02 square
// units. A triangle of area A becomes 4^d triangles of about A / 4^d, so where A is
// chosen decides how dense a surface ends up: the floor's cells (18 / 11 units) give
// triangles of 1.34, split four times into pieces of 0.0052, just above a quarter of
// the threshold, so the main shadow receiver is dense (edges of about 0.1) without
// wasting a level.
#include "Courtyard.h"

namespace scenegen
{

std::vector<Material> CourtyardMaterials()
{
    return {
        {"Tiles", "tiles.png", 3.0},
        {"Stone", "stone.jpg", 2.0},
        {"Wood", "textures/wood.tga", 1.5},
        {"Fabric", "fabric.png", 1.2},
        {"Plaster", "", 1.0},
    };
}

namespace
{

void Floor(MeshBuilder& mesh)
{
    mesh.Use(kTiles);
    mesh.Box({-9, -0.3, -9}, {9, 0, 9}, 18.0 / 11.0);
}

void Colonnade(MeshBuilder& mesh)
{
    mesh.Use(kStone);
    // Three steps up to the colonnade, open to the front (positive z).
    mesh.Box({-5.6, 0, -6.6}, {5.6, 0.25, -1.9}, 1.2);
    mesh.Box({-5.2, 0.25, -6.6}, {5.2, 0.5, -2.4}, 1.2);
    mesh.Box({-4.8, 0.5, -6.6}, {4.8, 0.75, -2.9}, 1.2);

    const double z = -4.75;
    for (int i = -2; i <= 2; ++i)
    {
        const double x = 2.0 * i;
        mesh.Box({x - 0.38, 0.75, z - 0.38}, {x + 0.38, 1.0, z + 0.38}, 0.8); // base
        mesh.Cylinder({x, 1.0, z}, 0.28, 3.25, 20, 7);                        // shaft
        mesh.Box({x - 0.42, 4.25, z - 0.42}, {x + 0.42, 4.5, z + 0.42}, 0.8); // capital
    }
    // The architrave overhangs the pillars on every side, the cornice overhangs it.
    mesh.Box({-4.7, 4.5, -5.7}, {4.7, 5.1, -3.8}, 1.0, {}, true);
    mesh.Box({-4.95, 5.1, -5.95}, {4.95, 5.4, -3.55}, 1.0, {}, true);
}

void Pergola(MeshBuilder& mesh)
{
    mesh.Use(kWood);
    const double x0 = 2.6, x1 = 7.2, z0 = 0.6, z1 = 4.6, h = 2.9;
    for (double x : {x0, x1})
    {
        for (double z : {z0, z1})
        {
            mesh.Box({x - 0.1, 0, z - 0.1}, {x + 0.1, h, z + 0.1}, 0.6);
        }
    }
    // Two beams along x carry the slats, which run along z.
    for (double z : {z0, z1})
    {
        mesh.Box({x0 - 0.35, h, z - 0.09}, {x1 + 0.35, h + 0.25, z + 0.09}, 0.6, {}, true);
    }
    for (double x = x0 - 0.2; x <= x1 + 0.21; x += 0.32)
    {
        mesh.Box({x - 0.05, h + 0.25, z0 - 0.45}, {x + 0.05, h + 0.4, z1 + 0.45}, 0.6, {}, true);
    }
}

void CurvedShapes(MeshBuilder& mesh)
{
    // An upright ring standing on the floor under the pergola.
    mesh.Use(kPlaster);
    mesh.Torus({4.9, 1.3, 2.6}, {1, 0, 0}, {0, 1, 0}, 1.0, 0.3, 64, 24);

    // A ball on a pedestal.
    mesh.Use(kStone);
    mesh.Box({-4.75, 0, 1.75}, {-3.25, 0.2, 3.25}, 0.8);
    mesh.Box({-4.45, 0.2, 2.05}, {-3.55, 1.2, 2.95}, 0.6);
    mesh.Use(kPlaster);
    mesh.Sphere({-4.0, 2.1, 2.5}, 0.9, 40, 28);
}

void CratesAndSack(MeshBuilder& mesh)
{
    mesh.Use(kWood);
    mesh.Box({-1.6, 0, 3.4}, {-0.6, 1.0, 4.4}, 0.5);
    mesh.Box({-0.55, 0, 3.55}, {0.25, 0.8, 4.35}, 0.5, {{0, 0, 0}, 0});
    mesh.Box({-0.35, -0.35, -0.35}, {0.35, 0.35, 0.35}, 0.5, {{-1.1, 1.35, 3.9}, 20}, true);
    mesh.Use(kFabric);
    mesh.Box({-0.45, 0, -0.3}, {0.45, 0.4, 0.3}, 0.5, {{0.85, 0, 4.0}, -15});
    // A rug on the floor in front of the steps.
    mesh.Box({-1.6, 0, -1.5}, {1.6, 0.03, 0.6}, 1.0);
}

void Arch(MeshBuilder& mesh)
{
    mesh.Use(kStone);
    // Beside the colonnade's right end, its passage running along x.
    Placement at;
    at.offset = {6.9, 0, -4.3};
    at.yawDegrees = 90;
    mesh.Arch(1.2, 0.55, 2.2, 0.5, 0.8, 24, at);
}

} // namespace

void BuildCourtyard(MeshBuilder& mesh)
{
    Floor(mesh);
    Colonnade(mesh);
    Pergola(mesh);
    CurvedShapes(mesh);
    CratesAndSack(mesh);
    Arch(mesh);
}

} // namespace scenegen
