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

// One inner node as the kernels read it, 64 bytes (four float4, one cache line): the boxes of
// both children, so that a visit costs one fetch. A child with count > 0 is a leaf of count
// triangles from index ref; otherwise it is the inner node nodes[ref].
struct DeviceNode
{
    struct Child
    {
        float lo[3];
        std::int32_t ref;
        float hi[3];
        std::int32_t count;
    } child[2];
};
static_assert(sizeof(DeviceNode) == 64, "DeviceNode is read as four float4");

struct SceneData
{
    std::vector<DeviceNode> nodes; // nodes[0] is the root; empty when no triangle can occlude
    std::vector<DeviceTriangle> triangles;
    int depth = 0;
};

// Turns a built BVH into device nodes, depth first so that a node's first child follows it.
std::vector<DeviceNode> MakeDeviceNodes(const std::vector<BvhNode>& bvh);

// Gathers the triangles of the meshes (dropping degenerate ones, which never occlude, and
// those with non-finite corners) and builds their BVH.
SceneData BuildScene(const std::vector<const Mesh*>& meshes);

} // namespace RadeonRays::detail
