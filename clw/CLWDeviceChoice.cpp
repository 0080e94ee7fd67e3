#include "clw/CLWDeviceChoice.h"

#include "clw/CLWDevice.h"
#include "clw/CLWException.h"
#include "clw/CLWPlatform.h"

bool IsAcceptablePlatformVersion(const std::string& version)
{
    // Substring tests, not a parse: "OpenCL 1.10" or a vendor text that mentions
    // "OpenCL 1.1" somewhere is refused as well, which errs on the safe side.
    if (version.find("OpenCL 1.0") != std::string::npos)
    {
        return false;
    }
    return version.find("OpenCL 1.1") == std::string::npos;
}

std::optional<CLWDeviceChoice>
ChooseSharingGpu(const std::vector<CLWPlatformDescription>& platforms)
{
    for (size_t p = 0; p < platforms.size(); ++p)
    {
        if (!IsAcceptablePlatformVersion(platforms[p].version))
        {
            continue;
        }
        const std::vector<CLWDeviceDescription>& devices = platforms[p].devices;
        for (size_t d = 0; d < devices.size(); ++d)
        {
            // The whole bit-field is compared, not the GPU bit alone.
            if (devices[d].type == CL_DEVICE_TYPE_GPU &&
                HasGlSharingExtension(devices[d].extensions))
            {
                return CLWDeviceChoice{p, d};
            }
        }
    }
    return std::nullopt;
}

std::optional<CLWDeviceChoice>
ChooseFallbackDevice(const std::vector<CLWPlatformDescription>& platforms)
{
    std::optional<CLWDeviceChoice> firstOfAnyType;
    for (size_t p = 0; p < platforms.size(); ++p)
    {
        if (!IsAcceptablePlatformVersion(platforms[p].version))
        {
            continue;
        }
        const std::vector<CLWDeviceDescription>& devices = platforms[p].devices;
        for (size_t d = 0; d < devices.size(); ++d)
        {
            if ((devices[d].type & CL_DEVICE_TYPE_GPU) != 0)
            {
                return CLWDeviceChoice{p, d};
            }
        }
        if (!firstOfAnyType && !devices.empty())
        {
            firstOfAnyType = CLWDeviceChoice{p, 0};
        }
    }
    return firstOfAnyType;
}

std::vector<cl_platform_id> GetPlatformIDs()
{
    cl_uint count = 0;
    ThrowIfFailed(clGetPlatformIDs(0, nullptr, &count), "clGetPlatformIDs failed");
    std::vector<cl_platform_id> ids(count, nullptr);
    if (count == 0)
    {
        // A fetch of nothing would be refused with CL_INVALID_VALUE and read as a
        // failure of the runtime, when it is only a machine without OpenCL.
        return ids;
    }
    ThrowIfFailed(clGetPlatformIDs(count, ids.data(), nullptr), "clGetPlatformIDs failed");
    return ids;
}

std::string ReadPlatformVersion(cl_platform_id platform)
{
    size_t size = 0;
    clGetPlatformInfo(platform, CL_PLATFORM_VERSION, 0, nullptr, &size);
    std::string version(size, '\0');
    clGetPlatformInfo(platform, CL_PLATFORM_VERSION, size, version.data(), nullptr);
    return version;
}

std::vector<CLWPlatformDescription> DescribePlatforms()
{
    std::vector<CLWPlatformDescription> descriptions;
    for (cl_platform_id id : GetPlatformIDs())
    {
        CLWPlatformDescription description;
        description.id = id;
        description.version = ReadPlatformVersion(id);
        if (IsAcceptablePlatformVersion(description.version))
        {
            try
            {
                CLWPlatform platform(id, CL_DEVICE_TYPE_ALL);
                for (unsigned i = 0; i < platform.GetDeviceCount(); ++i)
                {
                    CLWDevice device = platform.GetDevice(i);
                    description.devices.push_back(
                        {device.GetID(), device.GetType(), device.GetExtensions()});
                }
            }
            catch (const CLWException& e)
            {
                description.devices.clear();
                description.failure =
                    std::string(e.what()) + ", status " + std::to_string(e.GetStatus());
            }
        }
        descriptions.push_back(description);
    }
    return descriptions;
}

std::string DescribeSkippedPlatform(const CLWPlatformDescription& platform, size_t index)
{
    std::string name;
    size_t size = 0;
    // The name is asked for without a failure test: the platform is already known to
    // be broken, and its position names it well enough where this fails too.
    if (clGetPlatformInfo(platform.id, CL_PLATFORM_NAME, 0, nullptr, &size) == CL_SUCCESS &&
        size > 1)
    {
        std::string text(size, '\0');
        if (clGetPlatformInfo(platform.id, CL_PLATFORM_NAME, size, text.data(), nullptr) ==
            CL_SUCCESS)
        {
            name = "\"" + text.substr(0, text.find('\0')) + "\"";
        }
    }
    if (name.empty())
    {
        name = "number " + std::to_string(index + 1);
    }
    return "OpenCL platform " + name + " skipped: " + platform.failure;
}
