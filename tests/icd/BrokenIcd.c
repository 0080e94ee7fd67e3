/* An OpenCL implementation that installs like any other and then fails: one platform,
 * "Broken ICD", with one device whose every property query answers CL_OUT_OF_RESOURCES,
 * as a half-installed or broken driver does. The ICD loader finds it through an .icd file
 * naming this library (OCL_ICD_VENDORS); it reaches the functions below through the
 * dispatch table at the start of every object. */
#define CL_TARGET_OPENCL_VERSION 120
#include <CL/cl_icd.h>

#include <string.h>

struct _cl_platform_id
{
    cl_icd_dispatch* dispatch;
};

struct _cl_device_id
{
    cl_icd_dispatch* dispatch;
};

static cl_icd_dispatch s_dispatch;
static struct _cl_platform_id s_platform = {&s_dispatch};
static struct _cl_device_id s_device = {&s_dispatch};

static cl_int ReturnText(const char* text, size_t size, void* value, size_t* sizeReturned)
{
    const size_t length = strlen(text) + 1;
    if (value && size < length)
    {
        return CL_INVALID_VALUE;
    }
    if (value)
    {
        memcpy(value, text, length);
    }
    if (sizeReturned)
    {
        *sizeReturned = length;
    }
    return CL_SUCCESS;
}

static CL_API_ENTRY cl_int CL_API_CALL BrokenGetPlatformInfo(cl_platform_id platform,
                                                             cl_platform_info name, size_t size,
                                                             void* value, size_t* sizeReturned)
{
    (void)platform;
    switch (name)
    {
    case CL_PLATFORM_PROFILE:
        return ReturnText("FULL_PROFILE", size, value, sizeReturned);
    case CL_PLATFORM_VERSION:
        return ReturnText("OpenCL 1.2 Broken", size, value, sizeReturned);
    case CL_PLATFORM_NAME:
        return ReturnText("Broken ICD", size, value, sizeReturned);
    case CL_PLATFORM_VENDOR:
        return ReturnText("vertexshadows tests", size, value, sizeReturned);
    case CL_PLATFORM_EXTENSIONS:
        return ReturnText("cl_khr_icd", size, value, sizeReturned);
    case CL_PLATFORM_ICD_SUFFIX_KHR:
        return ReturnText("BROKEN", size, value, sizeReturned);
    default:
        return CL_INVALID_VALUE;
    }
}

static CL_API_ENTRY cl_int CL_API_CALL BrokenGetDeviceIDs(cl_platform_id platform,
                                                          cl_device_type type, cl_uint count,
                                                          cl_device_id* devices, cl_uint* found)
{
    (void)platform;
    (void)type;
    if (devices && count > 0)
    {
        devices[0] = &s_device;
    }
    if (found)
    {
        *found = 1;
    }
    return CL_SUCCESS;
}

static CL_API_ENTRY cl_int CL_API_CALL BrokenGetDeviceInfo(cl_device_id device, cl_device_info name,
                                                           size_t size, void* value,
                                                           size_t* sizeReturned)
{
    (void)device;
    (void)name;
    (void)size;
    (void)value;
    (void)sizeReturned;
    return CL_OUT_OF_RESOURCES;
}

static CL_API_ENTRY cl_int CL_API_CALL BrokenRetainOrReleaseDevice(cl_device_id device)
{
    (void)device;
    return CL_SUCCESS;
}

static CL_API_ENTRY cl_int CL_API_CALL BrokenIcdGetPlatformIDs(cl_uint count,
                                                               cl_platform_id* platforms,
                                                               cl_uint* found)
{
    s_dispatch.clGetPlatformInfo = BrokenGetPlatformInfo;
    s_dispatch.clGetDeviceIDs = BrokenGetDeviceIDs;
    s_dispatch.clGetDeviceInfo = BrokenGetDeviceInfo;
    s_dispatch.clRetainDevice = BrokenRetainOrReleaseDevice;
    s_dispatch.clReleaseDevice = BrokenRetainOrReleaseDevice;
    if (platforms && count > 0)
    {
        platforms[0] = &s_platform;
    }
    if (found)
    {
        *found = 1;
    }
    return CL_SUCCESS;
}

CL_API_ENTRY void* CL_API_CALL clGetExtensionFunctionAddress(const char* name)
{
    /* The loader asks for its entry point and for the platform query by name. */
    if (strcmp(name, "clIcdGetPlatformIDsKHR") == 0)
    {
        return (void*)BrokenIcdGetPlatformIDs;
    }
    if (strcmp(name, "clGetPlatformInfo") == 0)
    {
        return (void*)BrokenGetPlatformInfo;
    }
    return NULL;
}
