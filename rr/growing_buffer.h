// A device buffer that grows, never shrinks, to the size asked for (the committed scene's
// layouts and the route counters), or one made over host memory that the device reads in
// place.
#pragma once

#include "rr/cl_check.h"
#include "rr/cl_owner.h"

#include <CL/cl.h>

#include <cstddef>

namespace RadeonRays::detail
{

class GrowingBuffer
{
public:
    explicit GrowingBuffer(cl_mem_flags flags) : flags_(flags) {}

    // Makes room for at least `bytes`; what the buffer held is lost when it grows.
    void Reserve(cl_context context, std::size_t bytes)
    {
        if (bytes <= capacity_)
            return;
        Release();
        cl_int status = CL_SUCCESS;
        mem_ = ClMem(clCreateBuffer(context, flags_, bytes, nullptr, &status));
        CheckCl(status, "clCreateBuffer");
        capacity_ = bytes;
    }

    // Makes the buffer over `bytes` of host memory, which the device reads in place where it
    // can (CL_MEM_USE_HOST_PTR); the memory must stay as it is until the buffer is released
    // or made again. What the buffer was is released first.
    void Share(cl_context context, void* host, std::size_t bytes)
    {
        Release();
        cl_int status = CL_SUCCESS;
        mem_ = ClMem(clCreateBuffer(context, flags_ | CL_MEM_USE_HOST_PTR, bytes, host, &status));
        CheckCl(status, "clCreateBuffer");
    }

    void Release()
    {
        mem_.Reset();
        capacity_ = 0;
    }

    cl_mem Get() const { return mem_.Get(); }
    std::size_t Capacity() const { return capacity_; } // bytes

private:
    cl_mem_flags flags_;
    ClMem mem_;
    std::size_t capacity_ = 0; // 0 for a shared buffer, which never grows
};

} // namespace RadeonRays::detail
