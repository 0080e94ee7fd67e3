// Seeded random scenes and rays for comparing the library with the reference.
#pragma once

#include "Reference.h"
#include "rr/radeon_rays.h"

#include <cmath>
#include <random>
#include <vector>

namespace rrtest
{

struct SoupMesh
{
    std::vector<float> vertices; // 3 per vertex, 3 vertices per triangle
    std::vector<int> indices;
};

// Triangles whose sizes spread over several orders of magnitude (1e-3 to 10), centred in
// [-10, 10]^3.
inline SoupMesh RandomSoup(std::mt19937& rng, int count)
{
    std::uniform_real_distribution<float> centre(-10.0f, 10.0f), unit(-1.0f, 1.0f),
        exponent(-3.0f, 1.0f);
    SoupMesh mesh;
    for (int i = 0; i < count; ++i)
    {
        const float c[3] = {centre(rng), centre(rng), centre(rng)};
        const float size = std::pow(10.0f, exponent(rng));
        for (int v = 0; v < 3; ++v)
        {
            for (int k = 0; k < 3; ++k)
                mesh.vertices.push_back(c[k] + size * unit(rng));
            mesh.indices.push_back(3 * i + v);
        }
    }
    return mesh;
}

inline void AppendReference(const SoupMesh& mesh, int shapeid, std::vector<RefTriangle>& out)
{
    for (std::size_t t = 0; t + 2 < mesh.indices.size(); t += 3)
    {
        RefTriangle tri;
        for (int v = 0; v < 3; ++v)
            for (int k = 0; k < 3; ++k)
                tri.v[v][k] = mesh.vertices[3 * mesh.indices[t + v] + k];
        tri.shapeid = shapeid;
        out.push_back(tri);
    }
}

// Rays that share one direction, with origins on a jittered grid in scan order, so that rays
// next to each other in the array are next to each other in space.
inline std::vector<RadeonRays::ray> ParallelRays(std::mt19937& rng, int side,
                                                 const float* direction, float maxt)
{
    std::uniform_real_distribution<float> jitter(0.0f, 1.0f), height(-12.0f, 12.0f);
    std::vector<RadeonRays::ray> rays;
    const float cell = 24.0f / side;
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x)
        {
            RadeonRays::ray r{};
            r.o[0] = -12.0f + (x + jitter(rng)) * cell;
            r.o[1] = height(rng);
            r.o[2] = -12.0f + (y + jitter(rng)) * cell;
            for (int k = 0; k < 3; ++k)
                r.d[k] = direction[k];
            r.maxt = maxt;
            r.active = 1;
            rays.push_back(r);
        }
    return rays;
}

// Random origins in [-12, 12]^3, random directions of random length, finite maxt.
inline std::vector<RadeonRays::ray> IncoherentRays(std::mt19937& rng, int count)
{
    std::uniform_real_distribution<float> pos(-12.0f, 12.0f), dir(-1.0f, 1.0f), len(0.1f, 10.0f),
        reach(0.5f, 30.0f);
    std::vector<RadeonRays::ray> rays;
    for (int i = 0; i < count; ++i)
    {
        RadeonRays::ray r{};
        float d[3], n2 = 0.0f;
        do
        {
            n2 = 0.0f;
            for (float& c : d)
            {
                c = dir(rng);
                n2 += c * c;
            }
        } while (n2 < 0.01f || n2 > 1.0f);
        const float l = len(rng) / std::sqrt(n2);
        for (int k = 0; k < 3; ++k)
        {
            r.o[k] = pos(rng);
            r.d[k] = d[k] * l;
        }
        r.maxt = reach(rng) / len(rng);
        r.active = 1;
        rays.push_back(r);
    }
    return rays;
}

} // namespace rrtest
