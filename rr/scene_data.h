// The committed scene as the kernels read it: BVH nodes and triangles in leaf order.
#pragma once

#include "rr/bvh_builder.h"

#include <cstdint>
#include <vector>

namespace RadeonRays::detail
{

class Mesh;

// One triangle, 48 bytes (three float4 for the kernels); the w lanes carry its shape's id and
// its face index in that shape.
struct DeviceTriangle
{
    float v0[3];
    std::int32_t shapeid;
    float v1[3];
    std::int32_t primid;
    float v2[3];
    std::int32_t padding;
};
static_assert(sizeof(DeviceTriangle) == 48, "DeviceTriangle is read as three float4");

struct SceneData
{
    std::vector<BvhNode> nodes; // empty when no triangle can occlude
    std::vector<DeviceTriangle> triangles;
    int depth = 0;
};

// Gathers the triangles of the meshes (dropping degenerate ones, which never occlude, and
// those with non-finite corners) and builds their BVH.
SceneData BuildScene(const std::vector<const Mesh*>& meshes);

} // namespace RadeonRays::detail
