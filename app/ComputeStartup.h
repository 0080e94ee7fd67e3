#pragma once
// The compute side's one-time start-up: the OpenCL device, a context on it, the
// kernel program and the intersection service on the same context.
#include "clw/CLW.h"
#include "rr/radeon_rays.h"

#include <string>

namespace platform
{
class GlContext;
}

struct ComputeStartup
{
    CLWContext context;
    CLWProgram program;
    RadeonRays::IntersectionApi* api = nullptr;
    // True when the context shares objects with the OpenGL context: the shadow pass
    // then writes the drawn vertices straight into OpenGL's buffer.
    bool sharesWithGl = false;
    // One line for the log: which device, and which of the two paths.
    std::string description;
};

// The kernel file and its build options.
extern const char* const kKernelFile;
extern const char* const kKernelBuildOptions;

// Chooses the device: the first GPU (exactly of GPU type) on the first platform of
// OpenCL 1.2 or later that can share with OpenGL, where gl is given and one exists;
// otherwise the first device of the first such platform, a GPU before any other type,
// without sharing. Builds kernelFile and creates the intersection service on device 0
// and queue 0 of the new context. Throws std::runtime_error with a message for people
// where no OpenCL platform or device can be used, and the OpenCL wrapper's exceptions
// for everything else (the build log when the kernel file does not compile).
ComputeStartup StartCompute(const platform::GlContext* gl, const char* kernelFile = kKernelFile);
