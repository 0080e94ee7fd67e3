// The library's OpenCL program, built once from the sources embedded at build time.
#pragma once

#include "rr/cl_owner.h"

#include <CL/cl.h>

namespace RadeonRays::detail
{

// What the kernels are built for on one device.
struct KernelBuild
{
    bool cpuDevice = false;   // streaming stores for the hit records
    bool hostCode = false;    // Clang's prefetch and lane mask builtins, where the compiler
                              // turns the kernels straight into host instructions (PoCL's; one
                              // that goes through SPIR-V, as rusticl's does, refuses them)
    int wideWidth = 8;        // children per node of the single rays' tree (4 or 8)
    bool countRoutes = false; // the packet kernel counts the rays each route answered
};

// Builds the embedded kernels for one device, with the host's constants as build options so
// that the kernels and the host share one definition of each. Throws std::runtime_error with
// the build log.
ClProgram BuildKernelProgram(cl_context context, cl_device_id device, const KernelBuild& build);

} // namespace RadeonRays::detail
