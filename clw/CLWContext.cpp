#include "clw/CLWContext.h"

#include "clw/CLWException.h"

CLWContext::~CLWContext() = default;

CLWContext CLWContext::Create(const std::vector<CLWDevice>& devices,
                              const cl_context_properties* properties)
{
    std::vector<cl_device_id> ids;
    for (const CLWDevice& device : devices)
    {
        ids.push_back(device.GetID());
    }

    cl_int status = CL_SUCCESS;
    // An empty list goes to OpenCL as it is; OpenCL refuses a context without devices.
    cl_context context = clCreateContext(properties, static_cast<cl_uint>(ids.size()), ids.data(),
                                         nullptr, nullptr, &status);
    ThrowIfFailed(status, "clCreateContext failed");

    CLWContext result(context);
    // The creation reference is given back at once, before the queues are made, so
    // that a failing queue creation leaves nothing behind: `result` is then the only
    // owner and its destruction frees the context.
    AdoptHandle(context);
    result.m_devices = devices;
    for (const CLWDevice& device : devices)
    {
        result.m_queues.push_back(CLWCommandQueue::Create(device, result));
    }
    return result;
}

CLWContext CLWContext::Create(CLWDevice device, const cl_context_properties* properties)
{
    return Create(std::vector<CLWDevice>{device}, properties);
}
