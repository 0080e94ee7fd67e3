// Binned surface-area-heuristic BVH over axis-aligned boxes, built on the host.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace RadeonRays::detail
{

struct Aabb
{
    float lo[3];
    float hi[3];
};

// One node of the built tree, on the host: the device layouts are made from it
// (MakeDeviceNodes, MakeWideBvh; see device_layout.h). Children of an inner node are stored
// next to each other, after their parent, so one index names both. A node is a leaf when
// count > 0.
struct BvhNode
{
    float lo[3];
    std::int32_t index; // inner: first child; leaf: first primitive in BvhBuild::order
    float hi[3];
    std::int32_t count; // leaf: number of primitives; inner: 0
};
static_assert(sizeof(BvhNode) == 32, "BvhNode packs into 32 bytes");

struct BvhBuild
{
    std::vector<BvhNode> nodes;       // nodes[0] is the root; empty when there are no primitives
    std::vector<std::uint32_t> order; // primitive indices in leaf order
    int depth = 0;                    // longest root-to-leaf path, in edges
};

// Deepest tree the builder makes; traversal stacks of this size never overflow.
constexpr int kMaxBvhDepth = 64;

BvhBuild BuildBvh(const Aabb* primitives, std::size_t count);
inline BvhBuild BuildBvh(const std::vector<Aabb>& primitives)
{
    return BuildBvh(primitives.data(), primitives.size());
}

} // namespace RadeonRays::detail
