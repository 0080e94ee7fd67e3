#pragma once
// Which OpenCL platform and device the demo computes on.
//
// The choice itself is a pure function over descriptions of the platforms and devices,
// so that every rule can be tested with made-up descriptions, including hardware that
// the test machine does not have. DescribePlatforms() fills the descriptions from the
// real runtime.
#include <CL/cl.h>

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

struct CLWDeviceDescription
{
    cl_device_id id = nullptr; // null in made-up descriptions
    cl_device_type type = 0;   // the bit-field as OpenCL reports it
    std::string extensions;
};

struct CLWPlatformDescription
{
    cl_platform_id id = nullptr; // null in made-up descriptions
    // The raw version text; it may carry its terminating zero, which changes nothing.
    std::string version;
    // The platform's devices in OpenCL's order.
    std::vector<CLWDeviceDescription> devices;
    // Why the platform could not be described ("clGetDeviceInfo failed, status -5"), or
    // empty. A platform that failed is described without devices, so no choice takes it.
    std::string failure;
};

// Indices into the description list and into that platform's device list.
struct CLWDeviceChoice
{
    size_t platform = 0;
    size_t device = 0;
};

// False when the version text mentions "OpenCL 1.0" or "OpenCL 1.1" anywhere (plain,
// case-sensitive substring searches); the demo needs OpenCL 1.2.
bool IsAcceptablePlatformVersion(const std::string& version);

// The demo's choice: on the first platform with an acceptable version, in order, that
// has one, the first device whose type is exactly CL_DEVICE_TYPE_GPU (a GPU that also
// reports another type bit does not qualify) and whose extensions allow OpenGL sharing.
// Nothing is ranked: the first acceptable device wins. Empty when there is none.
std::optional<CLWDeviceChoice>
ChooseSharingGpu(const std::vector<CLWPlatformDescription>& platforms);

// A choice for when ChooseSharingGpu finds nothing and the program is to run without
// OpenGL sharing: among the platforms with an acceptable version, the first device
// whose type includes the GPU bit, on the first platform that has one; failing that,
// the first device of any type of the first such platform that has a device. Empty when
// no acceptable platform has a device at all.
std::optional<CLWDeviceChoice>
ChooseFallbackDevice(const std::vector<CLWPlatformDescription>& platforms);

// The ids of every OpenCL platform, in the runtime's order. Throws CLWException with
// "clGetPlatformIDs failed" when the count or the fetch fails. ICD loaders differ on "no
// platform": most fail the count with CL_PLATFORM_NOT_FOUND_KHR, some answer a count of 0
// with success; the latter gives an empty list.
std::vector<cl_platform_id> GetPlatformIDs();

// The platform's version text read directly, all the bytes OpenCL reports (terminating
// zero included). The statuses are not examined: a failing query gives an empty or
// all-zero text.
std::string ReadPlatformVersion(cl_platform_id platform);

// Descriptions of every platform and its devices of every type (CL_DEVICE_TYPE_ALL),
// for the two choices above. Platforms whose version is not acceptable are described
// without devices: they are never looked into. A platform whose own or whose devices'
// queries fail (a broken or half-installed ICD) is described without devices and with
// the failure, so that one bad installation does not hide the good ones. Throws
// CLWException as GetPlatformIDs does.
std::vector<CLWPlatformDescription> DescribePlatforms();

// One line for people about a platform that DescribePlatforms could not describe: its
// name where OpenCL still tells it, else its position, and the failing call.
std::string DescribeSkippedPlatform(const CLWPlatformDescription& platform, size_t index);
