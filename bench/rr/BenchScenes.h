// Scenes and rays of the rr benchmark: a courtyard (coarse and fine), the courtyard crowded
// to 100,000 triangles, a random triangle soup; shadow rays from the courtyard's surfaces and
// incoherent random rays.
#pragma once

#include "rr/radeon_rays.h"

#include <string>
#include <vector>

namespace rrbench
{

struct TriangleMesh
{
    std::string name;
    std::vector<float> vertices; // 3 per vertex
    std::vector<int> indices;    // 3 per triangle
    // Where each separate object's triangles begin (ascending, from 0), for a scene handed over
    // as one shape per object; empty for one shape.
    std::vector<int> objectFirstTriangle;
    int TriangleCount() const { return static_cast<int>(indices.size() / 3); }
    // Where each object's triangles begin, and after the last the triangle count: one
    // object over the whole mesh when objectFirstTriangle is empty.
    std::vector<int> ObjectBounds() const
    {
        std::vector<int> bounds = objectFirstTriangle;
        if (bounds.empty())
            bounds.push_back(0);
        bounds.push_back(TriangleCount());
        return bounds;
    }
};

// A walled courtyard with an arcade of pillars, beams, crates and a fountain. detail scales
// the subdivision of every surface: 1 gives about 800 triangles, 3 about 7,500.
TriangleMesh Courtyard(int detail);
// The courtyard at detail 3 with small rounded objects scattered over its ground, about
// 100,000 triangles in all.
TriangleMesh CrowdedCourtyard();
// count random triangles (edges about 1) in [-20, 20]^3.
TriangleMesh Soup(int count, unsigned seed);
// A torus with bumps on its surface standing on a ground square, the torus a grid of
// side x side quads (2 side^2 triangles; side 708 gives about a million), with a second,
// smaller bumpy torus through its hole.
TriangleMesh BumpyTorus(int side);
// count separate bumpy tori (about 242 triangles each) scattered over a ground square and
// stacked in loose heaps, each object its own shape (objectFirstTriangle).
TriangleMesh ManyObjects(int count, unsigned seed);

// About count shadow rays from points spread over the surfaces of mesh in surface order (the
// corners of its triangles refined by midpoint subdivision, as a tessellator makes them),
// offset a little along the outward normal, all toward a directional light 45 degrees up.
std::vector<RadeonRays::ray> ShadowRays(const TriangleMesh& mesh, int count);
// count rays with random origins in [-20, 20]^3, random directions and finite maxt.
std::vector<RadeonRays::ray> IncoherentRays(int count, unsigned seed);

// count shadow rays from points drawn uniformly by area over the surfaces of mesh, in the order
// drawn (neighbours in the array lie anywhere in the scene), each offset 1 mm along its
// triangle's normal. With pointLight null all share the directional light of ShadowRays;
// otherwise each ray runs to *pointLight (maxt 1: the direction is the whole way there).
std::vector<RadeonRays::ray> SampledShadowRays(const TriangleMesh& mesh, int count, unsigned seed,
                                               const float* pointLight);
// Sorts rays by the Morton code of their origins (in the origins' bounding box, 10 bits an
// axis), so that neighbours in the array are neighbours in space.
void SortByMortonCode(std::vector<RadeonRays::ray>& rays);

} // namespace rrbench
