#pragma once
// One OpenCL device, with a fixed set of its properties read once, when the wrapper is
// made from the device id. Copies carry the values along and never ask OpenCL again.
#include "clw/ReferenceCounter.h"

#include <CL/cl.h>

#include <string>

class CLWDevice : public ReferenceCounter<cl_device_id, clRetainDevice, clReleaseDevice>
{
public:
    // No device: a null id and empty properties.
    CLWDevice() = default;

    // Retains the id and reads every property. Throws CLWException with
    // "clGetDeviceInfo failed" when a query fails. Ids from clGetDeviceIDs carry no
    // creation reference, so there is nothing to adopt.
    explicit CLWDevice(cl_device_id id);

    CLWDevice(const CLWDevice&) = default;
    CLWDevice& operator=(const CLWDevice&) = default;
    virtual ~CLWDevice();

    cl_device_id GetID() const { return *this; }

    // The type bit-field exactly as OpenCL reported it, every bit included.
    cl_device_type GetType() const { return m_type; }

    // True when the extension list names either OpenGL sharing extension.
    bool SupportsGlSharing() const;

    const std::string& GetName() const { return m_name; }
    const std::string& GetVendor() const { return m_vendor; }
    const std::string& GetDriverVersion() const { return m_driverVersion; }
    const std::string& GetProfile() const { return m_profile; }
    const std::string& GetExtensions() const { return m_extensions; }
    cl_ulong GetLocalMemSize() const { return m_localMemSize; }
    cl_ulong GetGlobalMemSize() const { return m_globalMemSize; }
    cl_ulong GetMaxAllocSize() const { return m_maxAllocSize; }
    cl_device_local_mem_type GetLocalMemType() const { return m_localMemType; }
    size_t GetMaxWorkGroupSize() const { return m_maxWorkGroupSize; }
    cl_uint GetMinDataTypeAlignSize() const { return m_minDataTypeAlignSize; }

private:
    std::string m_name;
    std::string m_vendor;
    std::string m_driverVersion;
    std::string m_profile;
    std::string m_extensions;
    cl_device_type m_type = 0;
    cl_ulong m_localMemSize = 0;
    cl_ulong m_globalMemSize = 0;
    cl_ulong m_maxAllocSize = 0;
    cl_device_local_mem_type m_localMemType = 0;
    size_t m_maxWorkGroupSize = 0;
    cl_uint m_minDataTypeAlignSize = 0;
};

// The OpenGL sharing test on an extension list: a plain, case-sensitive substring
// search for "cl_khr_gl_sharing", then for "cl_APPLE_gl_sharing". The list is not split
// into names, so any text that contains either name passes.
bool HasGlSharingExtension(const std::string& extensions);
