// The rays each route through the kernels answered, for a service made to count them: the
// packet kernel's per-work-item counters in device memory, or the host's count of the rays the
// per-ray kernel answered (all of them single).
#pragma once

#include "rr/growing_buffer.h"
#include "rr/query_kernels.h"

#include <CL/cl.h>

#include <cstddef>

namespace RadeonRays::detail
{

class RouteCounters
{
public:
    RouteCounters(cl_context context, cl_command_queue queue, bool packets)
        : context_(context), queue_(queue), packets_(packets)
    {
    }

    // Before each query of `rays` rays: the packet kernel's counters argument, on counters
    // enough for the query (when they grow, their counts so far are read first, which blocks).
    void BeforeQuery(cl_kernel kernel, std::size_t rays);

    // The counts since the last call (blocks until the queries are done).
    RouteCounts Take();

private:
    // Adds the device's counts to `counts` and zeroes them (blocks).
    void ReadInto(RouteCounts& counts);
    void Zero(); // blocks

    cl_context context_;
    cl_command_queue queue_;
    bool packets_;
    GrowingBuffer counters_{CL_MEM_READ_WRITE};
    RouteCounts counted_; // read before the counters last grew, or counted on the host
};

} // namespace RadeonRays::detail
