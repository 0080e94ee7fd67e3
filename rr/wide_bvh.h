// The wide layout of the BVH that single rays traverse (records in device_layout.h): each node
// holds the boxes of up to four or eight children side by side, and leaves hold triangles in
// blocks of four, so that one ray tests a node's boxes or four triangles per vector
// instruction.
#pragma once

#include "rr/bvh_builder.h"
#include "rr/default_init.h"
#include "rr/device_layout.h"

#include <cstdint>
#include <vector>

namespace RadeonRays::detail
{

struct WideBvh
{
    UninitVector<WideNode> nodes; // nodes[0] is the root; lanes from the width on are unused
    UninitVector<TriangleBlock> blocks;
};

// The cost of testing a block of four triangles, in tests of a wide node's boxes, by which the
// collapse weighs its choices.
constexpr float kWideBlockCost = 1.5f;

// Collapses the binary BVH (children adjacent, leaves indexing triangles in leaf order) into
// nodes of up to `width` children (4 or 8), the least costly such tree by the surface area
// heuristic: the sum of its nodes' and leaves' box areas, each times the cost of testing it.
// triangles: the triangles in leaf order, as many as the tree's leaves hold.
WideBvh MakeWideBvh(const UninitVector<BvhNode>& bvh, const DeviceTriangle* triangles,
                    int width = kMaxWideWidth);
inline WideBvh MakeWideBvh(const UninitVector<BvhNode>& bvh,
                           const std::vector<DeviceTriangle>& triangles, int width = kMaxWideWidth)
{
    return MakeWideBvh(bvh, triangles.data(), width);
}

// The nodes of a tree made at width 4, in the four-wide record the device reads.
UninitVector<WideNodeOf<4>> NarrowToFourWide(const UninitVector<WideNode>& nodes);

} // namespace RadeonRays::detail
