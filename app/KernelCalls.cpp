#include "app/KernelCalls.h"

RayBatch::RayBatch(const CLWContext& context, RadeonRays::IntersectionApi* api, size_t capacity)
    : rays(CLWBuffer<RadeonRays::ray>::Create(context, CL_MEM_READ_WRITE, capacity, nullptr)),
      hits(CLWBuffer<RadeonRays::Intersection>::Create(context, CL_MEM_READ_WRITE, capacity,
                                                       nullptr)),
      rrRays(RadeonRays::CreateFromOpenClBuffer(api, rays), {api}),
      rrHits(RadeonRays::CreateFromOpenClBuffer(api, hits), {api})
{
}

void RayBatch::Query(RadeonRays::IntersectionApi* api, int count, const char* what) const
{
    QueryOcclusionWatched(api, rrRays.get(), count, rrHits.get(), what);
}
