// The committed scene as the kernels read it: BVH nodes and triangles in leaf order.
#pragma once

#include "rr/bvh_builder.h"
#include "rr/default_init.h"
#include "rr/device_layout.h"

#include <cstdint>
#include <vector>

namespace RadeonRays::detail
{

class Mesh;

// Which layouts of the hierarchy a scene is built in. Both kernels read the wide one (single
// rays, and the packets' fallback); only the packet kernel reads the two-wide one.
struct SceneLayouts
{
    bool twoWide = true;           // nodes and triangles, for packets
    int wideWidth = kMaxWideWidth; // children per node of wideNodes: 4 or 8
};

struct SceneData
{
    int triangleCount = 0;          // usable triangles
    UninitVector<DeviceNode> nodes; // nodes[0] is the root; empty when no triangle can occlude
    UninitVector<DeviceTriangle> triangles;
    // The same hierarchy wide, for single rays (see wide_bvh.h).
    UninitVector<WideNode> wideNodes;
    UninitVector<TriangleBlock> blocks;
    // The median half surface area of the two-wide tree's leaf boxes: the size of what a
    // packet's beam is measured against (0 when there are no triangles or no two-wide
    // layout).
    float leafArea = 0;
};

// Turns a built BVH into device nodes, depth first so that a node's first child follows it.
UninitVector<DeviceNode> MakeDeviceNodes(const UninitVector<BvhNode>& bvh);

// Gathers the triangles of the meshes (dropping degenerate ones, which never occlude, and
// those with non-finite corners) and builds their BVH.
SceneData BuildScene(const std::vector<const Mesh*>& meshes, SceneLayouts layouts = {});

} // namespace RadeonRays::detail
