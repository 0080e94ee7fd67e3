// The committed scene as the kernels read it: BVH nodes and triangles in leaf order.
#pragma once

#include "rr/bvh_builder.h"
#include "rr/device_layout.h"

#include <cstdint>
#include <vector>

namespace RadeonRays::detail
{

class Mesh;

struct SceneData
{
    std::vector<DeviceNode> nodes; // nodes[0] is the root; empty when no triangle can occlude
    std::vector<DeviceTriangle> triangles;
    // The same hierarchy four-wide, for single rays (see wide_bvh.h).
    std::vector<WideNode> wideNodes;
    std::vector<TriangleBlock> blocks;
};

// Turns a built BVH into device nodes, depth first so that a node's first child follows it.
std::vector<DeviceNode> MakeDeviceNodes(const std::vector<BvhNode>& bvh);

// Gathers the triangles of the meshes (dropping degenerate ones, which never occlude, and
// those with non-finite corners) and builds their BVH.
SceneData BuildScene(const std::vector<const Mesh*>& meshes);

} // namespace RadeonRays::detail
