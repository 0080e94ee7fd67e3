// Meshes as the service keeps them: a copy of the caller's triangles.
#pragma once

#include "rr/default_init.h"
#include "rr/radeon_rays.h"

#include <vector>

namespace RadeonRays::detail
{

class Mesh final : public Shape
{
public:
    // Validates and copies the caller's arrays (see IntersectionApi::CreateMesh).
    Mesh(const float* vertices, int vnum, int vstride, const int* indices, int istride,
         const int* numfacevertices, int numfaces);

    void SetId(int id) override { id_ = id; }
    int GetId() const override { return id_; }

    const UninitVector<float>& Positions() const { return positions_; } // 3 per vertex
    const UninitVector<int>& Triangles() const { return triangles_; }   // 3 per triangle

private:
    int id_ = 0;
    UninitVector<float> positions_;
    UninitVector<int> triangles_;
};

} // namespace RadeonRays::detail
