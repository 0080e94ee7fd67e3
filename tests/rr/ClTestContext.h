// An OpenCL context, device and queue for the tests: the first device of the first platform
// that has one (PoCL's CPU device on our machines).
#pragma once

#include <CL/cl.h>
#include <gtest/gtest.h>

#include <vector>

namespace rrtest
{

struct ClTestContext
{
    cl_platform_id platform = nullptr;
    cl_device_id device = nullptr;
    cl_context context = nullptr;
    cl_command_queue queue = nullptr;

    ClTestContext()
    {
        cl_uint count = 0;
        clGetPlatformIDs(0, nullptr, &count);
        std::vector<cl_platform_id> platforms(count);
        if (count)
            clGetPlatformIDs(count, platforms.data(), nullptr);
        for (cl_platform_id p : platforms)
        {
            cl_uint n = 0;
            if (clGetDeviceIDs(p, CL_DEVICE_TYPE_ALL, 1, &device, &n) == CL_SUCCESS && n > 0)
            {
                platform = p;
                break;
            }
        }
        if (!platform)
            return;
        cl_int status = CL_SUCCESS;
        context = clCreateContext(nullptr, 1, &device, nullptr, nullptr, &status);
        if (status == CL_SUCCESS)
            queue = clCreateCommandQueue(context, device, 0, &status);
    }
    ~ClTestContext()
    {
        if (queue)
            clReleaseCommandQueue(queue);
        if (context)
            clReleaseContext(context);
    }
    ClTestContext(const ClTestContext&) = delete;
    ClTestContext& operator=(const ClTestContext&) = delete;

    cl_mem CreateBuffer(std::size_t bytes) const
    {
        cl_int status = CL_SUCCESS;
        cl_mem mem = clCreateBuffer(context, CL_MEM_READ_WRITE, bytes, nullptr, &status);
        EXPECT_EQ(status, CL_SUCCESS);
        return mem;
    }
};

} // namespace rrtest
