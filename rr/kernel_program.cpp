#include "rr/kernel_program.h"

#include "rr/bvh_builder.h"
#include "rr/cl_check.h"
#include "rr/kernel_args.h"

#include <stdexcept>
#include <string>
#include <vector>

namespace RadeonRays::detail
{

extern const char* const kKernelSource;

namespace
{

std::string Define(const char* name, long long value)
{
    return std::string(" -D") + name + "=" + std::to_string(value);
}

} // namespace

ClProgram BuildKernelProgram(cl_context context, cl_device_id device, const KernelBuild& build)
{
    cl_int status = CL_SUCCESS;
    const char* source = kKernelSource;
    ClProgram program(clCreateProgramWithSource(context, 1, &source, nullptr, &status));
    CheckCl(status, "clCreateProgramWithSource");
    // No relaxed-math options: the watertight triangle test depends on exact IEEE arithmetic.
    std::string options =
        "-cl-std=CL1.2" + Define("RR_MAX_BVH_DEPTH", kMaxBvhDepth) +
        Define("RR_WIDE_WIDTH", build.wideWidth) + Define("RR_PACKET", kPacketSize) +
        Define("RR_ITEM_RAYS", kItemRays) + Define("RR_ROUTE_PACKET", kRoutePacket) +
        Define("RR_ROUTE_SINGLE", kRouteSingle) + Define("RR_ROUTES", kRouteCount);
    if (build.cpuDevice)
        options += " -DRR_STREAM_STORES";
    if (build.hostCode)
        options += " -DRR_HOST_CODE";
    if (build.countRoutes)
        options += " -DRR_COUNT_ROUTES";
    status = clBuildProgram(program.Get(), 1, &device, options.c_str(), nullptr, nullptr);
    if (status != CL_SUCCESS)
    {
        std::size_t size = 0;
        clGetProgramBuildInfo(program.Get(), device, CL_PROGRAM_BUILD_LOG, 0, nullptr, &size);
        std::vector<char> log(size + 1, '\0');
        clGetProgramBuildInfo(program.Get(), device, CL_PROGRAM_BUILD_LOG, size, log.data(),
                              nullptr);
        throw std::runtime_error("RadeonRays: clBuildProgram failed with status " +
                                 std::to_string(status) + ":\n" + log.data());
    }
    return program;
}

} // namespace RadeonRays::detail
