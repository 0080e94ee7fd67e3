#include "rr/kernel_program.h"

#include "rr/bvh_builder.h"
#include "rr/cl_check.h"

#include <stdexcept>
#include <string>
#include <vector>

namespace RadeonRays::detail
{

extern const char* const kKernelSource;

cl_program BuildKernelProgram(cl_context context, cl_device_id device, bool cpuDevice,
                              bool hostPrefetch, int wideWidth)
{
    cl_int status = CL_SUCCESS;
    const char* source = kKernelSource;
    cl_program program = clCreateProgramWithSource(context, 1, &source, nullptr, &status);
    CheckCl(status, "clCreateProgramWithSource");
    // No relaxed-math options: the watertight triangle test depends on exact IEEE arithmetic.
    std::string options = "-cl-std=CL1.2 -DRR_MAX_BVH_DEPTH=" + std::to_string(kMaxBvhDepth) +
                          " -DRR_WIDE_WIDTH=" + std::to_string(wideWidth);
    if (cpuDevice)
        options += " -DRR_STREAM_STORES";
    if (hostPrefetch)
        options += " -DRR_HOST_PREFETCH";
    status = clBuildProgram(program, 1, &device, options.c_str(), nullptr, nullptr);
    if (status != CL_SUCCESS)
    {
        std::size_t size = 0;
        clGetProgramBuildInfo(program, device, CL_PROGRAM_BUILD_LOG, 0, nullptr, &size);
        std::vector<char> log(size + 1, '\0');
        clGetProgramBuildInfo(program, device, CL_PROGRAM_BUILD_LOG, size, log.data(), nullptr);
        clReleaseProgram(program);
        throw std::runtime_error("RadeonRays: clBuildProgram failed with status " +
                                 std::to_string(status) + ":\n" + log.data());
    }
    return program;
}

} // namespace RadeonRays::detail
