// The library's OpenCL program, built once from the sources embedded at build time.
#pragma once

#include <CL/cl.h>

namespace RadeonRays::detail
{

// Builds the embedded kernels for one device, with streaming stores where it is a CPU and
// Clang's prefetch builtin where its compiler turns that into host instructions (PoCL's; a
// compiler that goes through SPIR-V, as rusticl's does, refuses it). Throws
// std::runtime_error with the build log.
// wideWidth is the children per node of the single rays' tree (4 or 8).
cl_program BuildKernelProgram(cl_context context, cl_device_id device, bool cpuDevice,
                              bool hostPrefetch, int wideWidth);

} // namespace RadeonRays::detail
