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
    // With a count of 0 this passes neither an array nor a count, which OpenCL refuses:
    // "no platform" is reported as a failure rather than as an empty list.
    ThrowIfFailed(clGetPlatformIDs(count, count == 0 ? nullptr : ids.data(), nullptr),
                  "clGetPlatformIDs failed");
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
            CLWPlatform platform(id, CL_DEVICE_TYPE_ALL);
            for (unsigned i = 0; i < platform.GetDeviceCount(); ++i)
            {
                CLWDevice device = platform.GetDevice(i);
                description.devices.push_back(
                    {device.GetID(), device.GetType(), device.GetExtensions()});
            }
        }
        descriptions.push_back(description);
    }
    return descriptions;
}
