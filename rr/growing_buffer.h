// A device buffer that grows, never shrinks, to the size asked for, and releases its memory
// object when it goes: the committed scene's layouts and the packet kernel's counters.
#pragma once

#include "rr/cl_check.h"

#include <CL/cl.h>

#include <cstddef>

namespace RadeonRays::detail
{

class GrowingBuffer
{
public:
    explicit GrowingBuffer(cl_mem_flags flags) : flags_(flags) {}
    ~GrowingBuffer() { Release(); }
    GrowingBuffer(const GrowingBuffer&) = delete;
    GrowingBuffer& operator=(const GrowingBuffer&) = delete;

    // Makes room for at least `bytes`; what the buffer held is lost when it grows.
    void Reserve(cl_context context, std::size_t bytes)
    {
        if (bytes <= capacity_)
            return;
        Release();
        cl_int status = CL_SUCCESS;
        mem_ = clCreateBuffer(context, flags_, bytes, nullptr, &status);
        CheckCl(status, "clCreateBuffer");
        capacity_ = bytes;
    }

    void Release()
    {
        if (mem_)
            clReleaseMemObject(mem_);
        mem_ = nullptr;
        capacity_ = 0;
    }

    cl_mem Get() const { return mem_; }
    std::size_t Capacity() const { return capacity_; } // bytes

private:
    cl_mem_flags flags_;
    cl_mem mem_ = nullptr;
    std::size_t capacity_ = 0;
};

} // namespace RadeonRays::detail
