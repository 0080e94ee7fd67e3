// The parameters of the query kernels by name: each enum lists one kernel's parameters in the
// order of its signature in kernels/*.cl, so that the host sets arguments by slot name.
#pragma once

#include "rr/cl_check.h"

#include <CL/cl.h>

namespace RadeonRays::detail
{

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
    Paths,
};

// Sets one argument of a kernel by its slot name.
template <typename Slot, typename Value>
void SetArg(cl_kernel kernel, Slot slot, const Value& value)
{
    CheckCl(clSetKernelArg(kernel, static_cast<cl_uint>(slot), sizeof(Value), &value),
            "clSetKernelArg");
}

} // namespace RadeonRays::detail
