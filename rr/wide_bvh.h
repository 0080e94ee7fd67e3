// The eight-wide layout of the BVH that single rays traverse (records in device_layout.h): each
// node holds the boxes of up to eight children side by side, and leaves hold triangles in
// blocks of four, so that one ray tests eight boxes or four triangles per vector instruction.
#pragma once

#include "rr/bvh_builder.h"
#include "rr/device_layout.h"

#include <cstdint>
#include <vector>

namespace RadeonRays::detail
{

struct WideBvh
{
    std::vector<WideNode> nodes; // nodes[0] is the root
    std::vector<TriangleBlock> blocks;
};

// Collapses the binary BVH (children adjacent, leaves indexing triangles in leaf order) into
// eight-wide nodes, opening the child with the largest box first.
WideBvh MakeWideBvh(const std::vector<BvhNode>& bvh, const std::vector<DeviceTriangle>& triangles);

} // namespace RadeonRays::detail
