#include "app/ComputeStartup.h"

#include "platform/GlContext.h"

#include <CL/cl_ext.h>

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
const char* const kHostCopy = "vertices copied to OpenGL through the host";

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

void IntersectionApiDeleter::operator()(RadeonRays::IntersectionApi* api) const
{
    RadeonRays::IntersectionApi::Delete(api);
}

std::string DescribePath(const std::string& deviceName, const std::string& path)
{
    return "OpenCL device: " + deviceName + "; " + path;
}

std::string DescribeSharingRefusal(const CLWException& refusal)
{
    return "OpenGL sharing refused (" + std::string(refusal.what()) + ", status " +
           std::to_string(refusal.GetStatus()) + "), " + kHostCopy;
}

ComputeStartup StartCompute(const platform::GlContext* gl, const char* kernelFile,
                            const StartupWarning& warn)
{
    const std::vector<CLWPlatformDescription> platforms = DescribeInstalledPlatforms();
    for (size_t i = 0; i < platforms.size(); ++i)
    {
        if (!platforms[i].failure.empty() && warn)
        {
            warn(DescribeSkippedPlatform(platforms[i], i));
        }
    }

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
    return StartComputeOn(CLWDevice(platform.devices[choice->device].id), platform.id,
                          shares ? CreateGlSharingSteps(*gl) : nullptr, kernelFile);
}

ComputeStartup StartComputeOn(const CLWDevice& device, cl_platform_id platform,
                              std::unique_ptr<GlSharingSteps> glSharing, const char* kernelFile)
{
    ComputeStartup result;
    std::string path = std::string("no OpenGL sharing, ") + kHostCopy;
    if (glSharing)
    {
        // The OpenGL context must be current on this thread: the window made it so
        // before it started the compute side.
        try
        {
            result.context = glSharing->CreateContext(device, platform);
            path = "vertices shared with OpenGL, OpenGL's work awaited by " +
                   glSharing->Synchronisation();
            result.glSharing = std::move(glSharing);
        }
        catch (const CLWException& refusal)
        {
            // An OpenGL context of another driver (a remote or virtual display, a
            // display GPU that is not this device): the device still computes.
            path = DescribeSharingRefusal(refusal);
        }
    }
    if (!result.glSharing)
    {
        const cl_context_properties properties[] = {
            CL_CONTEXT_PLATFORM, reinterpret_cast<cl_context_properties>(platform), 0};
        result.context = CLWContext::Create(device, properties);
    }
    result.program = CLWProgram::CreateFromFile(kernelFile, kKernelBuildOptions, result.context);

    const cl_device_id deviceId = result.context.GetDevice(0).GetID();
    const cl_command_queue queue = result.context.GetCommandQueue(0);
    result.api.reset(RadeonRays::CreateFromOpenClContext(result.context, deviceId, queue));
    result.deviceName = device.GetName();
    result.description = DescribePath(result.deviceName, path);
    return result;
}
