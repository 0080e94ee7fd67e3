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
    cl_uint count = 0;
    Check(clGetDeviceInfo(device, CL_DEVICE_REFERENCE_COUNT, sizeof count, &count, nullptr),
          "clGetDeviceInfo");
    return count;
}

cl_uint ReferenceCount(cl_context context)
{
    cl_uint count = 0;
    Check(clGetContextInfo(context, CL_CONTEXT_REFERENCE_COUNT, sizeof count, &count, nullptr),
          "clGetContextInfo");
    return count;
}

cl_uint ReferenceCount(cl_command_queue queue)
{
    cl_uint count = 0;
    Check(clGetCommandQueueInfo(queue, CL_QUEUE_REFERENCE_COUNT, sizeof count, &count, nullptr),
          "clGetCommandQueueInfo");
    return count;
}

cl_uint ReferenceCount(cl_program program)
{
    cl_uint count = 0;
    Check(clGetProgramInfo(program, CL_PROGRAM_REFERENCE_COUNT, sizeof count, &count, nullptr),
          "clGetProgramInfo");
    return count;
}

cl_uint ReferenceCount(cl_kernel kernel)
{
    cl_uint count = 0;
    Check(clGetKernelInfo(kernel, CL_KERNEL_REFERENCE_COUNT, sizeof count, &count, nullptr),
          "clGetKernelInfo");
    return count;
}

cl_uint ReferenceCount(cl_mem memory)
{
    cl_uint count = 0;
    Check(clGetMemObjectInfo(memory, CL_MEM_REFERENCE_COUNT, sizeof count, &count, nullptr),
          "clGetMemObjectInfo");
    return count;
}

cl_uint ReferenceCount(cl_event event)
{
    cl_uint count = 0;
    Check(clGetEventInfo(event, CL_EVENT_REFERENCE_COUNT, sizeof count, &count, nullptr),
          "clGetEventInfo");
    return count;
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
