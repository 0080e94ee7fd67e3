#include "app/ComputeStartup.h"

#include "platform/GlContext.h"

#include <CL/cl_ext.h>
#include <CL/cl_gl.h>

#include <stdexcept>

const char* const kKernelFile = "kernel.cl";
const char* const kKernelBuildOptions = " -cl-mad-enable -cl-fast-relaxed-math -cl-std=CL1.2 -I . ";

namespace
{

const char* const kNoPlatform =
    "no OpenCL platform is installed; the demo needs an OpenCL 1.2 device "
    "(on Debian, the package pocl-opencl-icd provides one that runs on the CPU)";
const char* const kNoDevice =
    "no OpenCL device of version 1.2 or later was found; the demo needs one "
    "(on Debian, the package pocl-opencl-icd provides one that runs on the CPU)";

std::vector<CLWPlatformDescription> DescribeInstalledPlatforms()
{
    try
    {
        return DescribePlatforms();
    }
    catch (const CLWException& e)
    {
        // The ICD loader's answer when it finds no platform at all: say so plainly.
        if (e.GetStatus() == CL_PLATFORM_NOT_FOUND_KHR)
        {
            throw std::runtime_error(kNoPlatform);
        }
        throw;
    }
}

// Why no device was found, where the platforms tell. PoCL lists its platform but no
// device when it cannot create its kernel cache, which reads as a missing device.
std::string NoDeviceMessage(const std::vector<CLWPlatformDescription>& platforms)
{
    for (const CLWPlatformDescription& platform : platforms)
    {
        if (platform.devices.empty() && platform.version.find("PoCL") != std::string::npos)
        {
            return "no OpenCL device was found: PoCL is installed but offers no device, as it "
                   "does when it cannot create its kernel cache; make POCL_CACHE_DIR (or else "
                   "$XDG_CACHE_HOME/pocl, or ~/.cache/pocl) a writable folder";
        }
    }
    return kNoDevice;
}

} // namespace

ComputeStartup StartCompute(const platform::GlContext* gl, const char* kernelFile)
{
    const std::vector<CLWPlatformDescription> platforms = DescribeInstalledPlatforms();

    std::optional<CLWDeviceChoice> choice;
    bool shares = false;
    if (gl)
    {
        choice = ChooseSharingGpu(platforms);
        shares = choice.has_value();
    }
    if (!choice)
    {
        choice = ChooseFallbackDevice(platforms);
    }
    if (!choice)
    {
        throw std::runtime_error(platforms.empty() ? kNoPlatform : NoDeviceMessage(platforms));
    }

    const CLWPlatformDescription& platform = platforms[choice->platform];
    const CLWDevice device(platform.devices[choice->device].id);

    ComputeStartup result;
    if (shares)
    {
        // The OpenGL context and display must be current on this thread: the window
        // made them so before it started the compute side.
        const cl_context_properties properties[] = {
            CL_GL_CONTEXT_KHR,
            reinterpret_cast<cl_context_properties>(gl->NativeContext()),
            CL_GLX_DISPLAY_KHR,
            reinterpret_cast<cl_context_properties>(gl->NativeDisplay()),
            CL_CONTEXT_PLATFORM,
            reinterpret_cast<cl_context_properties>(platform.id),
            0};
        result.context = CLWContext::Create(device, properties);
    }
    else
    {
        const cl_context_properties properties[] = {
            CL_CONTEXT_PLATFORM, reinterpret_cast<cl_context_properties>(platform.id), 0};
        result.context = CLWContext::Create(device, properties);
    }
    result.program = CLWProgram::CreateFromFile(kernelFile, kKernelBuildOptions, result.context);

    const cl_device_id deviceId = result.context.GetDevice(0).GetID();
    const cl_command_queue queue = result.context.GetCommandQueue(0);
    result.api = RadeonRays::CreateFromOpenClContext(result.context, deviceId, queue);
    result.sharesWithGl = shares;
    result.description =
        "OpenCL device: " + device.GetName() +
        (shares ? "; vertices shared with OpenGL"
                : "; no OpenGL sharing, vertices copied to OpenGL through the host");
    return result;
}
