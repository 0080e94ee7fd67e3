// Binned surface-area-heuristic BVH over axis-aligned boxes, built on the host.
#pragma once

#include "rr/default_init.h"

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

// A primitive as the builder sorts it: its box in 32 bytes, each corner beside a word in one
// aligned four-float load, and the caller's name for it, which BvhBuild::order lists.
struct alignas(16) BuildPrimitive
{
    float lo[3];
    std::uint32_t id;
    float hi[3];
    float unused;
};
static_assert(sizeof(BuildPrimitive) == 32 && offsetof(BuildPrimitive, hi) == 16,
              "BuildPrimitive is two aligned lanes");

struct BvhBuild
{
    UninitVector<BvhNode> nodes;       // nodes[0] is the root; empty when there are no primitives
    UninitVector<std::uint32_t> order; // primitives in leaf order: their indices, or their ids
    int depth = 0;                     // longest root-to-leaf path, in edges
};

// Deepest tree the builder makes; traversal stacks of this size never overflow.
constexpr int kMaxBvhDepth = 64;

BvhBuild BuildBvh(const Aabb* primitives, std::size_t count);
// The same over records the caller has written itself (ids its own, boxes finite), which
// spares a copy of them: the builder sorts them in place.
BvhBuild BuildBvh(UninitVector<BuildPrimitive> primitives);
inline BvhBuild BuildBvh(const std::vector<Aabb>& primitives)
{
    return BuildBvh(primitives.data(), primitives.size());
}

} // namespace RadeonRays::detail
