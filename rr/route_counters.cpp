#include "rr/route_counters.h"

#include "rr/cl_check.h"
#include "rr/kernel_args.h"

#include <vector>

namespace RadeonRays::detail
{

void RouteCounters::BeforeQuery(cl_kernel kernel, std::size_t rays)
{
    if (!packets_)
    {
        counted_.single += static_cast<long long>(rays);
        return;
    }
    const std::size_t bytes = (rays + kItemRays - 1) / kItemRays * kRouteCount * sizeof(cl_int);
    if (bytes > counters_.Capacity())
    {
        ReadInto(counted_);
        counters_.Reserve(context_, bytes);
        Zero();
    }
    SetArg(kernel, PacketArg::RouteCounters, counters_.Get());
}

RouteCounts RouteCounters::Take()
{
    RouteCounts counts = counted_;
    counted_ = RouteCounts{};
    ReadInto(counts);
    return counts;
}

void RouteCounters::ReadInto(RouteCounts& counts)
{
    if (counters_.Capacity() == 0)
        return;
    std::vector<cl_int> values(counters_.Capacity() / sizeof(cl_int));
    CheckCl(clEnqueueReadBuffer(queue_, counters_.Get(), CL_TRUE, 0, counters_.Capacity(),
                                values.data(), 0, nullptr, nullptr),
            "clEnqueueReadBuffer");
    for (std::size_t i = 0; i + kRouteCount <= values.size(); i += kRouteCount)
    {
        counts.packet += values[i + kRoutePacket];
        counts.single += values[i + kRouteSingle];
    }
    Zero();
}

void RouteCounters::Zero()
{
    const cl_int zero = 0;
    CheckCl(clEnqueueFillBuffer(queue_, counters_.Get(), &zero, sizeof(zero), 0,
                                counters_.Capacity(), 0, nullptr, nullptr),
            "clEnqueueFillBuffer");
    // On an out-of-order queue, the next query must not count before the zeroes are in.
    CheckCl(clFinish(queue_), "clFinish");
}

} // namespace RadeonRays::detail
