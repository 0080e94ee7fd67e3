// A service with ray and hit buffers of a fixed capacity, and a one-call query, for the tests.
#pragma once

#include "ClTestContext.h"
#include "rr/query_kernels.h"
#include "rr/radeon_rays.h"

#include <gtest/gtest.h>

#include <vector>

namespace rrtest
{

class OcclusionHarness
{
public:
    // wideWidth: the children per node of the single rays' tree, 0 for the device's.
    explicit OcclusionHarness(
        std::size_t capacity = 1 << 16,
        RadeonRays::detail::QueryKernel kernel = RadeonRays::detail::QueryKernel::ForDevice,
        int wideWidth = 0)
        : capacity_(capacity)
    {
        api_ = kernel == RadeonRays::detail::QueryKernel::ForDevice && wideWidth == 0
                   ? RadeonRays::CreateFromOpenClContext(cl_.context, cl_.device, cl_.queue)
                   : RadeonRays::detail::CreateWithQueryKernel(cl_.context, cl_.device, cl_.queue,
                                                               kernel, wideWidth);
        rayMem_ = cl_.CreateBuffer(capacity * sizeof(RadeonRays::ray));
        hitMem_ = cl_.CreateBuffer(capacity * sizeof(RadeonRays::Intersection));
        rays_ = RadeonRays::CreateFromOpenClBuffer(api_, rayMem_);
        hits_ = RadeonRays::CreateFromOpenClBuffer(api_, hitMem_);
    }
    ~OcclusionHarness()
    {
        api_->DeleteBuffer(rays_);
        api_->DeleteBuffer(hits_);
        RadeonRays::IntersectionApi::Delete(api_);
        clReleaseMemObject(rayMem_);
        clReleaseMemObject(hitMem_);
    }
    OcclusionHarness(const OcclusionHarness&) = delete;
    OcclusionHarness& operator=(const OcclusionHarness&) = delete;

    RadeonRays::IntersectionApi& Api() { return *api_; }
    const ClTestContext& Cl() const { return cl_; }
    RadeonRays::Buffer* Rays() { return rays_; }
    RadeonRays::Buffer* Hits() { return hits_; }
    cl_mem RayMem() const { return rayMem_; }
    cl_mem HitMem() const { return hitMem_; }

    // Uploads the rays (in chunks of the buffer capacity), queries them and returns the shape
    // ids. The hit buffer is filled with garbage first, so stale results cannot pass.
    std::vector<int> Query(const std::vector<RadeonRays::ray>& rays)
    {
        std::vector<int> ids;
        ids.reserve(rays.size());
        for (std::size_t begin = 0; begin < rays.size(); begin += capacity_)
        {
            const std::size_t n = std::min(capacity_, rays.size() - begin);
            EXPECT_EQ(clEnqueueWriteBuffer(cl_.queue, rayMem_, CL_TRUE, 0,
                                           n * sizeof(RadeonRays::ray), &rays[begin], 0, nullptr,
                                           nullptr),
                      CL_SUCCESS);
            std::vector<RadeonRays::Intersection> hits(n);
            for (auto& h : hits)
                h.shapeid = 12345;
            EXPECT_EQ(clEnqueueWriteBuffer(cl_.queue, hitMem_, CL_TRUE, 0,
                                           n * sizeof(RadeonRays::Intersection), hits.data(), 0,
                                           nullptr, nullptr),
                      CL_SUCCESS);
            RadeonRays::Event* event = nullptr;
            api_->QueryOcclusion(rays_, static_cast<int>(n), hits_, nullptr, &event);
            event->Wait();
            api_->DeleteEvent(event);
            EXPECT_EQ(clEnqueueReadBuffer(cl_.queue, hitMem_, CL_TRUE, 0,
                                          n * sizeof(RadeonRays::Intersection), hits.data(), 0,
                                          nullptr, nullptr),
                      CL_SUCCESS);
            for (const auto& h : hits)
                ids.push_back(h.shapeid);
        }
        return ids;
    }

private:
    ClTestContext cl_;
    std::size_t capacity_;
    RadeonRays::IntersectionApi* api_ = nullptr;
    cl_mem rayMem_ = nullptr;
    cl_mem hitMem_ = nullptr;
    RadeonRays::Buffer* rays_ = nullptr;
    RadeonRays::Buffer* hits_ = nullptr;
};

// The name a parameterised test gives each query kernel.
inline const char* KernelName(const testing::TestParamInfo<RadeonRays::detail::QueryKernel>& info)
{
    return info.param == RadeonRays::detail::QueryKernel::Packets ? "Packets" : "PerRay";
}

inline RadeonRays::ray MakeRay(float ox, float oy, float oz, float dx, float dy, float dz,
                               float maxt, int active = 1)
{
    RadeonRays::ray r{};
    r.o[0] = ox;
    r.o[1] = oy;
    r.o[2] = oz;
    r.d[0] = dx;
    r.d[1] = dy;
    r.d[2] = dz;
    r.maxt = maxt;
    r.active = active;
    return r;
}

} // namespace rrtest
