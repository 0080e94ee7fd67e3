// Which of the library's query kernels a service runs. The choice follows the device; tests
// also force each one, so that both are checked on any device.
#pragma once

#include "rr/radeon_rays.h"

#include <string>

namespace RadeonRays::detail
{

enum class QueryKernel
{
    ForDevice, // packets on CPUs, one ray per work-item elsewhere
    Packets,   // one work-item per packet of consecutive rays (vectorised over the packet)
    PerRay,    // one work-item per ray
};

// The kernel ForDevice runs. Packets where a work-group of one item runs as plain host code
// that the packet's loops vectorise (PoCL's CPU devices, whose platform name is given here);
// one ray per work-item elsewhere: on GPUs, and on CPU devices that run every work-group as
// one SIMD batch (Mesa's rusticl on llvmpipe), where a group of one item leaves all lanes but
// one idle and pays a group's overhead for every packet.
QueryKernel KernelForDevice(cl_device_type type, const std::string& platformName);

// The children per node of the single rays' tree on a device: 8 on PoCL's CPU devices, whose
// vector units test eight boxes in one go (0.63-0.71x of Embree's single rays against
// 0.54-0.61x with 4); 4 elsewhere, where each work-item runs as one lane and a node's boxes
// cost one by one (rusticl's CPU device: occlusion 257 ms a frame with 4, 308 ms with 8).
int WideWidthForDevice(cl_device_type type, const std::string& platformName);

// How many rays each path answered: packets of consecutive rays traced together, rays one by
// one.
struct QueryPaths
{
    long long packet = 0;
    long long single = 0;
};

// The rays each path answered since the service was made or this was last called (blocks
// until the queries are done).
QueryPaths TakeQueryPaths(IntersectionApi* api);

// CreateFromOpenClContext with a chosen kernel, and a chosen width of the single rays' tree
// (4 or 8; 0 for the device's).
IntersectionApi* CreateWithQueryKernel(cl_context context, cl_device_id device,
                                       cl_command_queue queue, QueryKernel kernel,
                                       int wideWidth = 0);

} // namespace RadeonRays::detail
