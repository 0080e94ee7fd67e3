// The library's OpenCL program, built once from the sources embedded at build time.
#pragma once

#include <CL/cl.h>

namespace RadeonRays::detail
{

// Builds the embedded kernels for one device (with streaming stores where it is a CPU);
// throws std::runtime_error with the build log.
cl_program BuildKernelProgram(cl_context context, cl_device_id device, bool cpuDevice);

} // namespace RadeonRays::detail
