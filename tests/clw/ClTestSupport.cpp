#include "ClTestSupport.h"

#include <stdexcept>

namespace clw_test
{

namespace
{
void Check(cl_int status, const char* what)
{
    if (status != CL_SUCCESS)
    {
        throw std::runtime_error(std::string(what) +
                                 " failed in the test set-up: " + std::to_string(status));
    }
}

// Every object's count is a cl_uint read with its own query function.
template <typename Handle, typename Query>
cl_uint Count(Query query, Handle handle, cl_uint parameter, const char* what)
{
    cl_uint count = 0;
    Check(query(handle, parameter, sizeof count, &count, nullptr), what);
    return count;
}
} // namespace

cl_platform_id FirstPlatform()
{
    cl_platform_id platform = nullptr;
    Check(clGetPlatformIDs(1, &platform, nullptr), "clGetPlatformIDs");
    return platform;
}

cl_device_id FirstDevice()
{
    cl_device_id device = nullptr;
    Check(clGetDeviceIDs(FirstPlatform(), CL_DEVICE_TYPE_ALL, 1, &device, nullptr),
          "clGetDeviceIDs");
    return device;
}

CLWContext MakeContext()
{
    return CLWContext::Create(CLWDevice(FirstDevice()), nullptr);
}

std::vector<cl_device_id> MakeSubDevices()
{
    const cl_device_partition_property properties[] = {CL_DEVICE_PARTITION_EQUALLY, 1, 0};
    std::vector<cl_device_id> devices(2, nullptr);
    Check(clCreateSubDevices(FirstDevice(), properties, 2, devices.data(), nullptr),
          "clCreateSubDevices");
    return devices;
}

CLWProgram Build(const CLWContext& context, const std::string& source)
{
    return CLWProgram::CreateFromSource(source.data(), source.size(), "", context);
}

cl_uint ReferenceCount(cl_device_id device)
{
    return Count(clGetDeviceInfo, device, CL_DEVICE_REFERENCE_COUNT, "clGetDeviceInfo");
}

cl_uint ReferenceCount(cl_context context)
{
    return Count(clGetContextInfo, context, CL_CONTEXT_REFERENCE_COUNT, "clGetContextInfo");
}

cl_uint ReferenceCount(cl_command_queue queue)
{
    return Count(clGetCommandQueueInfo, queue, CL_QUEUE_REFERENCE_COUNT, "clGetCommandQueueInfo");
}

cl_uint ReferenceCount(cl_program program)
{
    return Count(clGetProgramInfo, program, CL_PROGRAM_REFERENCE_COUNT, "clGetProgramInfo");
}

cl_uint ReferenceCount(cl_kernel kernel)
{
    return Count(clGetKernelInfo, kernel, CL_KERNEL_REFERENCE_COUNT, "clGetKernelInfo");
}

cl_uint ReferenceCount(cl_mem memory)
{
    return Count(clGetMemObjectInfo, memory, CL_MEM_REFERENCE_COUNT, "clGetMemObjectInfo");
}

cl_uint ReferenceCount(cl_event event)
{
    return Count(clGetEventInfo, event, CL_EVENT_REFERENCE_COUNT, "clGetEventInfo");
}

std::vector<cl_int> ReadInts(const CLWContext& context, cl_mem buffer, size_t count)
{
    std::vector<cl_int> values(count, 0);
    Check(clEnqueueReadBuffer(context.GetCommandQueue(0), buffer, CL_TRUE, 0,
                              count * sizeof(cl_int), values.data(), 0, nullptr, nullptr),
          "clEnqueueReadBuffer");
    return values;
}

} // namespace clw_test
