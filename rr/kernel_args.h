// The parameters of the query kernels by name: each enum lists one kernel's parameters in the
// order of its signature in kernels/*.cl, so that the host sets arguments by slot name.
#pragma once

#include "rr/cl_check.h"

#include <CL/cl.h>

namespace RadeonRays::detail
{

// Work-items of the sorting kernels (RR_SORT_BLOCKS in kernels/sort.cl, passed at build time).
constexpr int kSortBlocks = 8;
// Buckets of one counting-sort pass (RR_SORT_BUCKETS), and the passes over 24-bit keys.
constexpr int kSortBits = 12;
constexpr int kSortBuckets = 1 << kSortBits;
constexpr int kSortPasses = 2;

// rr_occlusion_per_ray (kernels/occlusion.cl).
enum class PerRayArg : cl_uint
{
    Rays,
    NumRays,
    Hits,
    TriangleCount,
    WideNodes,
    Blocks,
};

// rr_occlusion_packets (kernels/packet.cl).
enum class PacketArg : cl_uint
{
    Rays,
    NumRays,
    Hits,
    Nodes,
    Triangles,
    TriangleCount,
    WideNodes,
    Blocks,
    WideBeam,
    KeyLo,
    KeyScale,
    DeferredCount,
    Keys,
    Deferred,
    DeferredFlags,
    Answers,
    Paths,
};

// rr_occlusion_sorted (kernels/packet.cl).
enum class SortedArg : cl_uint
{
    Rays,
    Sorted,
    DeferredCount,
    Answers,
    Nodes,
    Triangles,
    TriangleCount,
    WideNodes,
    Blocks,
    WideBeam,
    Paths,
};

// rr_store_deferred_hits (kernels/packet.cl).
enum class DeferredHitsArg : cl_uint
{
    Hits,
    NumRays,
    DeferredFlags,
    Answers,
    DeferredCount,
};

// rr_sort_count (kernels/sort.cl).
enum class SortCountArg : cl_uint
{
    Keys,
    Count,
    Shift,
    Histogram,
};

// rr_sort_scatter (kernels/sort.cl).
enum class SortScatterArg : cl_uint
{
    Keys,
    Items,
    Count,
    Shift,
    Histogram,
    SortedKeys,
    SortedItems,
};

// Sets one argument of a kernel by its slot name.
template <typename Slot, typename Value>
void SetArg(cl_kernel kernel, Slot slot, const Value& value)
{
    CheckCl(clSetKernelArg(kernel, static_cast<cl_uint>(slot), sizeof(Value), &value),
            "clSetKernelArg");
}

} // namespace RadeonRays::detail
