#include "clw/CLWPlatform.h"

#include "clw/CLWException.h"
#include "clw/InfoQuery.h"

namespace
{
const char* const kInfoFailure = "clGetPlatformInfo failed";
const char* const kIdsFailure = "clGetDeviceIDs failed";
} // namespace

CLWPlatform::CLWPlatform(cl_platform_id id, cl_device_type deviceType)
    : ReferenceCounter(id), m_deviceType(deviceType)
{
    using clw_detail::QueryText;
    m_name = QueryText(clGetPlatformInfo, id, CL_PLATFORM_NAME, kInfoFailure);
    m_profile = QueryText(clGetPlatformInfo, id, CL_PLATFORM_PROFILE, kInfoFailure);
    m_vendor = QueryText(clGetPlatformInfo, id, CL_PLATFORM_VENDOR, kInfoFailure);
    m_version = QueryText(clGetPlatformInfo, id, CL_PLATFORM_VERSION, kInfoFailure);
}

CLWPlatform::~CLWPlatform() = default;

unsigned CLWPlatform::GetDeviceCount()
{
    EnumerateDevicesIfEmpty();
    return static_cast<unsigned>(m_devices.size());
}

CLWDevice CLWPlatform::GetDevice(unsigned index)
{
    EnumerateDevicesIfEmpty();
    return m_devices[index];
}

void CLWPlatform::EnumerateDevicesIfEmpty()
{
    if (!m_devices.empty())
    {
        return;
    }
    cl_platform_id id = *this;
    cl_uint count = 0;
    cl_int status = clGetDeviceIDs(id, m_deviceType, 0, nullptr, &count);
    // No device of this type is an answer, not a failure: the list stays empty.
    if (status == CL_DEVICE_NOT_FOUND)
    {
        return;
    }
    ThrowIfFailed(status, kIdsFailure);

    std::vector<cl_device_id> ids(count, nullptr);
    ThrowIfFailed(clGetDeviceIDs(id, m_deviceType, count, ids.data(), nullptr), kIdsFailure);
    // Enumerated ids carry no creation reference; each listed device holds one of its
    // own. A failing property query leaves the devices listed before it in place.
    for (cl_device_id deviceId : ids)
    {
        m_devices.push_back(CLWDevice(deviceId));
    }
}
