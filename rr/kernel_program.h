// The library's OpenCL program, built once from the sources embedded at build time.
#pragma once

#include <CL/cl.h>

namespace RadeonRays::detail
{

// Builds the embedded kernels for one device; throws std::runtime_error with the build log.
cl_program BuildKernelProgram(cl_context context, cl_device_id device);

} // namespace RadeonRays::detail
