#include "clw/CLWDevice.h"

#include "clw/InfoQuery.h"

namespace
{
const char* const kFailure = "clGetDeviceInfo failed";
}

CLWDevice::CLWDevice(cl_device_id id) : ReferenceCounter(id)
{
    using clw_detail::QueryText;
    using clw_detail::QueryValue;
    // The order of the queries is the order of the OpenCL calls, not the order of the
    // members; it is kept fixed so that a failing query is always the same one.
    m_name = QueryText(clGetDeviceInfo, id, CL_DEVICE_NAME, kFailure);
    m_extensions = QueryText(clGetDeviceInfo, id, CL_DEVICE_EXTENSIONS, kFailure);
    m_vendor = QueryText(clGetDeviceInfo, id, CL_DEVICE_VENDOR, kFailure);
    m_driverVersion = QueryText(clGetDeviceInfo, id, CL_DRIVER_VERSION, kFailure);
    m_profile = QueryText(clGetDeviceInfo, id, CL_DEVICE_PROFILE, kFailure);
    QueryValue(clGetDeviceInfo, id, CL_DEVICE_TYPE, m_type, kFailure);
    QueryValue(clGetDeviceInfo, id, CL_DEVICE_MAX_WORK_GROUP_SIZE, m_maxWorkGroupSize, kFailure);
    QueryValue(clGetDeviceInfo, id, CL_DEVICE_GLOBAL_MEM_SIZE, m_globalMemSize, kFailure);
    QueryValue(clGetDeviceInfo, id, CL_DEVICE_LOCAL_MEM_SIZE, m_localMemSize, kFailure);
    QueryValue(clGetDeviceInfo, id, CL_DEVICE_LOCAL_MEM_TYPE, m_localMemType, kFailure);
    QueryValue(clGetDeviceInfo, id, CL_DEVICE_MAX_MEM_ALLOC_SIZE, m_maxAllocSize, kFailure);
    QueryValue(clGetDeviceInfo, id, CL_DEVICE_MIN_DATA_TYPE_ALIGN_SIZE, m_minDataTypeAlignSize,
               kFailure);
}

CLWDevice::~CLWDevice() = default;

bool CLWDevice::SupportsGlSharing() const
{
    return HasGlSharingExtension(m_extensions);
}

bool HasGlSharingExtension(const std::string& extensions)
{
    return extensions.find("cl_khr_gl_sharing") != std::string::npos ||
           extensions.find("cl_APPLE_gl_sharing") != std::string::npos;
}
