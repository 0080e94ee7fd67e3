// Which of the library's query kernels a service runs, and how a service is made where tests and
// the benchmark choose: a forced kernel or tree width, and counts of the routes rays took.
#pragma once

#include "rr/radeon_rays.h"

#include <cstddef>
#include <string>

namespace RadeonRays::detail
{

enum class QueryKernel
{
    ForDevice, // packets on PoCL's CPU devices, one ray per work-item elsewhere
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
// vector units test eight boxes in one go; 4 elsewhere, where each work-item runs as one lane
// and a node's boxes cost one by one (bench/README.md and rr/README.md give the measurements).
int WideWidthForDevice(cl_device_type type, const std::string& platformName);

// How the packet kernel walks the rays it answers one by one: one walk at a time, each with
// its axes as compile-time constants, or several in flight, a step of each in turn, so that
// their waits for memory overlap (kernels/geometry.cl, rr_answer_rays).
enum class SingleRayWalks
{
    ForScene,   // in flight when the single rays' layout outgrows the device's cache
    OneAtATime, // faster where the tree stays in the caches
    InFlight,   // faster where nearly every node a walk visits comes from memory
};

// Whether ForScene keeps several walks in flight over a single rays' layout of layoutBytes
// on a device with cacheBytes of global memory cache (0: unknown).
bool WalksInFlightForScene(std::size_t layoutBytes, std::size_t cacheBytes);

// How many rays each route through the kernels answered: in packets of consecutive rays traced
// together, or one by one.
struct RouteCounts
{
    long long packet = 0;
    long long single = 0;
};

// How a service is made, where tests and the benchmark choose what the device would.
struct ServiceOptions
{
    QueryKernel kernel = QueryKernel::ForDevice;
    int wideWidth = 0; // children per node of the single rays' tree: 4 or 8; 0 for the device's
    // Counts the rays each route answered, for TakeRouteCounts. Only such a service's kernel
    // writes counters and its queries run host code for them; CreateFromOpenClContext's never.
    bool countRoutes = false;
    SingleRayWalks walks = SingleRayWalks::ForScene;
};

// CreateFromOpenClContext with the given options.
IntersectionApi* CreateWithOptions(cl_context context, cl_device_id device, cl_command_queue queue,
                                   const ServiceOptions& options);

// The rays each route answered since the service was made or this was last called (blocks
// until the queries are done). Refuses a service not made with countRoutes.
RouteCounts TakeRouteCounts(IntersectionApi* api);

// Bytes of device memory the service's committed scene's layouts take, for the benchmark.
std::size_t SceneDeviceBytes(const IntersectionApi* api);

} // namespace RadeonRays::detail
