// A device buffer that grows, never shrinks, to the size asked for: the committed scene's
// layouts and the route counters.
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
        mem_.Reset();
        capacity_ = 0;
        cl_int status = CL_SUCCESS;
        mem_ = ClMem(clCreateBuffer(context, flags_, bytes, nullptr, &status));
        CheckCl(status, "clCreateBuffer");
        capacity_ = bytes;
    }

    cl_mem Get() const { return mem_.Get(); }
    std::size_t Capacity() const { return capacity_; } // bytes

private:
    cl_mem_flags flags_;
    ClMem mem_;
    std::size_t capacity_ = 0;
};

} // namespace RadeonRays::detail
