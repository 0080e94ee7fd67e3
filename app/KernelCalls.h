#pragma once
// Two shorthands for the passes that launch kernels of their own: a kernel fetched with
// all its arguments set in order, and a batch of rays with its hits and the intersection
// service's views of both.
#include "app/ShadowPass.h"
#include "clw/CLW.h"
#include "rr/radeon_rays.h"

#include <cstddef>
#include <memory>
#include <type_traits>

namespace kernel_calls_detail
{

template <typename T>
void SetArgument(CLWKernel& kernel, const char* name, cl_uint index, const T& value)
{
    if constexpr (std::is_constructible_v<CLWKernelArg, const T&>)
    {
        SetKernelArg(kernel, name, index, CLWKernelArg(value));
    }
    else
    {
        // A number other than cl_int says its kind (CLWKernelArg::Float...), so that it
        // never reaches a kernel as the wrong one; records go by their bytes.
        static_assert(!std::is_arithmetic_v<T>, "name the kind of this number");
        static_assert(std::is_trivially_copyable_v<T>, "a record passed by its bytes");
        kernel.SetArg(index, sizeof value, &value);
    }
}

} // namespace kernel_calls_detail

// The program's kernel `name` with its arguments set from 0 in the order given: buffers,
// cl_int and tagged values as SetKernelArg sets them (a failure thrown naming the kernel
// and the argument), records such as matrices and packed vectors by their bytes.
template <typename... Args>
CLWKernel KernelWithArgs(const CLWProgram& program, const char* name, const Args&... args)
{
    CLWKernel kernel = program.GetKernel(name);
    cl_uint index = 0;
    (kernel_calls_detail::SetArgument(kernel, name, index++, args), ...);
    return kernel;
}

// Rays and their hits on the device, with the service's views of both, which go before
// the buffers they view.
struct RayBatch
{
    RayBatch() = default;
    RayBatch(const CLWContext& context, RadeonRays::IntersectionApi* api, size_t capacity);

    // The first count rays answered into the hits, under the device watch, which names
    // what when the answer does not come.
    void Query(RadeonRays::IntersectionApi* api, int count, const char* what) const;

    CLWBuffer<RadeonRays::ray> rays;
    CLWBuffer<RadeonRays::Intersection> hits;
    std::unique_ptr<RadeonRays::Buffer, RadeonRaysBufferDeleter> rrRays;
    std::unique_ptr<RadeonRays::Buffer, RadeonRaysBufferDeleter> rrHits;
};
