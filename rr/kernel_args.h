// The query kernels' interface on the host side: the constants they are built with, and their
// parameters by name (each enum lists one kernel's parameters in the order of its signature in
// kernels/*.cl, so that the host sets arguments by slot name).
#pragma once

#include "rr/cl_check.h"

#include <CL/cl.h>

#include <cstddef>

namespace RadeonRays::detail
{

// Rays per work-item of the packet kernel (RR_PACKET in the kernels, which BuildKernelProgram
// passes from here).
constexpr std::size_t kPacketSize = 64;

// Rays per work-item of the packet kernel (RR_ITEM_RAYS), in packets of kPacketSize. The rays of
// an item that walk one by one in flight walk together, so that their walks overlap for longer.
constexpr std::size_t kItemRays = 4 * kPacketSize;

// The counters of the rays each route through the packet kernel answered, per work-item, in
// this order (RR_ROUTE_PACKET, RR_ROUTE_SINGLE and RR_ROUTES in the kernels, passed from here).
enum RouteCounter : int
{
    kRoutePacket, // traced in a packet of rays
    kRouteSingle, // traced one by one
    kRouteCount,
};

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
    FlightBeam,
    RouteCounters, // only in a program built to count routes
};

// Sets one argument of a kernel by its slot name.
template <typename Slot, typename Value>
void SetArg(cl_kernel kernel, Slot slot, const Value& value)
{
    CheckCl(clSetKernelArg(kernel, static_cast<cl_uint>(slot), sizeof(Value), &value),
            "clSetKernelArg");
}

} // namespace RadeonRays::detail
