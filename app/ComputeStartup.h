#pragma once
// The compute side's one-time start-up: the OpenCL device, a context on it, the
// kernel program and the intersection service on the same context.
#include "app/GlSharing.h"
#include "clw/CLW.h"
#include "rr/radeon_rays.h"

#include <functional>
#include <memory>
#include <string>

namespace platform
{
class GlContext;
}

struct IntersectionApiDeleter
{
    void operator()(RadeonRays::IntersectionApi* api) const;
};
// The intersection service, deleted when its owner goes.
using IntersectionApiPtr = std::unique_ptr<RadeonRays::IntersectionApi, IntersectionApiDeleter>;

struct ComputeStartup
{
    CLWContext context;
    CLWProgram program;
    IntersectionApiPtr api;
    // The steps of the sharing path when the context shares objects with OpenGL: the
    // shadow pass then writes the drawn vertices straight into OpenGL's buffer. Null on
    // the host-copy path.
    std::unique_ptr<GlSharingSteps> glSharing;
    // One line for the log: which device, and which of the two paths.
    std::string description;
    std::string deviceName;
};

// The kernel file and its build options.
extern const char* const kKernelFile;
extern const char* const kKernelBuildOptions;

// Receives one line for people about something start-up passed over.
using StartupWarning = std::function<void(const std::string&)>;

// Chooses the device: the first GPU (exactly of GPU type) on the first platform of
// OpenCL 1.2 or later that can share with OpenGL, where gl is given and one exists;
// otherwise the first device of the first such platform, a GPU before any other type,
// without sharing. A platform that cannot be described (a broken ICD) is passed over
// with one warning. Then as StartComputeOn. Throws std::runtime_error with a message for
// people where no OpenCL platform or device can be used, and the OpenCL wrapper's
// exceptions for everything else (the build log when the kernel file does not compile).
ComputeStartup StartCompute(const platform::GlContext* gl, const char* kernelFile = kKernelFile,
                            const StartupWarning& warn = {});

// Start-up on a chosen device: the context (with glSharing, one that shares with OpenGL,
// and where the driver refuses that, a plain one on the same device, the refusal named
// in the description), kernelFile built, and the intersection service on device 0 and
// queue 0 of the context.
ComputeStartup StartComputeOn(const CLWDevice& device, cl_platform_id platform,
                              std::unique_ptr<GlSharingSteps> glSharing,
                              const char* kernelFile = kKernelFile);

// The path line: "OpenCL device: ", the device's name, and how the vertices reach OpenGL.
std::string DescribePath(const std::string& deviceName, const std::string& path);

// The end of a path line where OpenGL refused to share: the failing call and its status,
// and the host copy taken instead.
std::string DescribeSharingRefusal(const CLWException& refusal);
