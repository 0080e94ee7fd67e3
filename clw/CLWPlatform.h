#pragma once
// One OpenCL platform: its descriptive strings, and the list of its devices of one
// type, enumerated on first demand.
#include "clw/CLWDevice.h"
#include "clw/ReferenceCounter.h"

#include <CL/cl.h>

#include <string>
#include <vector>

// Platform ids are not reference counted by OpenCL, so copies are plain copies.
class CLWPlatform : public ReferenceCounter<cl_platform_id, nullptr, nullptr>
{
public:
    // Reads the platform's name, profile, vendor and version; devices are not listed
    // yet. `deviceType` is the mask that the device enumeration will use
    // (CL_DEVICE_TYPE_GPU, CL_DEVICE_TYPE_ALL, ...). Throws CLWException with
    // "clGetPlatformInfo failed".
    CLWPlatform(cl_platform_id id, cl_device_type deviceType);

    CLWPlatform(const CLWPlatform&) = default;
    CLWPlatform& operator=(const CLWPlatform&) = default;
    virtual ~CLWPlatform();

    // The number of devices of the platform's type. Enumerates while the list is
    // empty, so a platform without such devices asks OpenCL again on every call.
    // Throws CLWException with "clGetDeviceIDs failed" or "clGetDeviceInfo failed".
    unsigned GetDeviceCount();

    // A copy of the device at `index`, enumerating first while the list is empty. The
    // index is not checked: keep it below GetDeviceCount().
    CLWDevice GetDevice(unsigned index);

    const std::string& GetName() const { return m_name; }
    const std::string& GetProfile() const { return m_profile; }
    const std::string& GetVersion() const { return m_version; }
    const std::string& GetVendor() const { return m_vendor; }
    cl_device_type GetDeviceType() const { return m_deviceType; }

private:
    void EnumerateDevicesIfEmpty();

    std::string m_name;
    std::string m_profile;
    std::string m_version;
    std::string m_vendor;
    std::vector<CLWDevice> m_devices;
    cl_device_type m_deviceType;
};
