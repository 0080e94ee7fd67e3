// A service with ray and hit buffers of a fixed capacity, and a one-call query, for the tests.
// Made on clw_test::MakeContext's context; a set-up that fails throws, which fails the test
// that made the harness with the failing call's message.
#pragma once

#include "../clw/ClTestSupport.h"
#include "clw/CLWBuffer.h"
#include "rr/query_kernels.h"
#include "rr/radeon_rays.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace rrtest
{

class OcclusionHarness
{
public:
    explicit OcclusionHarness(std::size_t capacity = 1 << 16,
                              const RadeonRays::detail::ServiceOptions& options = {})
        : capacity_(capacity), cl_(clw_test::MakeContext()),
          rayMem_(CLWBuffer<RadeonRays::ray>::Create(cl_, CL_MEM_READ_WRITE, capacity, nullptr)),
          hitMem_(CLWBuffer<RadeonRays::Intersection>::Create(cl_, CL_MEM_READ_WRITE, capacity,
                                                              nullptr)),
          api_(RadeonRays::detail::CreateWithOptions(cl_, cl_.GetDevice(0), cl_.GetCommandQueue(0),
                                                     options)),
          rays_(RadeonRays::CreateFromOpenClBuffer(api_.get(), rayMem_), ViewDeleter{api_.get()}),
          hits_(RadeonRays::CreateFromOpenClBuffer(api_.get(), hitMem_), ViewDeleter{api_.get()})
    {
    }

    RadeonRays::IntersectionApi& Api() { return *api_; }
    const CLWContext& Cl() const { return cl_; }
    cl_command_queue Queue() const { return cl_.GetCommandQueue(0); }
    RadeonRays::Buffer* Rays() { return rays_.get(); }
    RadeonRays::Buffer* Hits() { return hits_.get(); }
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
            EXPECT_EQ(clEnqueueWriteBuffer(Queue(), rayMem_, CL_TRUE, 0,
                                           n * sizeof(RadeonRays::ray), &rays[begin], 0, nullptr,
                                           nullptr),
                      CL_SUCCESS);
            std::vector<RadeonRays::Intersection> hits(n);
            for (auto& h : hits)
                h.shapeid = 12345;
            EXPECT_EQ(clEnqueueWriteBuffer(Queue(), hitMem_, CL_TRUE, 0,
                                           n * sizeof(RadeonRays::Intersection), hits.data(), 0,
                                           nullptr, nullptr),
                      CL_SUCCESS);
            RadeonRays::Event* event = nullptr;
            api_->QueryOcclusion(rays_.get(), static_cast<int>(n), hits_.get(), nullptr, &event);
            event->Wait();
            api_->DeleteEvent(event);
            cl_.ReadBuffer(0, hitMem_, n * sizeof(RadeonRays::Intersection), hits.data());
            for (const auto& h : hits)
                ids.push_back(h.shapeid);
        }
        return ids;
    }

private:
    struct ApiDeleter
    {
        void operator()(RadeonRays::IntersectionApi* api) const
        {
            RadeonRays::IntersectionApi::Delete(api);
        }
    };
    struct ViewDeleter
    {
        RadeonRays::IntersectionApi* api;
        void operator()(RadeonRays::Buffer* view) const { api->DeleteBuffer(view); }
    };

    // In the order they are made; released in reverse.
    std::size_t capacity_;
    CLWContext cl_;
    CLWBuffer<RadeonRays::ray> rayMem_;
    CLWBuffer<RadeonRays::Intersection> hitMem_;
    std::unique_ptr<RadeonRays::IntersectionApi, ApiDeleter> api_;
    std::unique_ptr<RadeonRays::Buffer, ViewDeleter> rays_, hits_;
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
