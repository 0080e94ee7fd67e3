// Sole ownership of one OpenCL handle: released when its owner goes, moved but never copied.
#pragma once

#include "rr/cl_check.h"

#include <CL/cl.h>

#include <utility>

namespace RadeonRays::detail
{

template <typename Handle, cl_int(CL_API_CALL* Retain)(Handle),
          cl_int(CL_API_CALL* Release)(Handle)>
class ClOwner
{
public:
    ClOwner() = default;
    // Takes over a reference the caller holds (one a clCreate* call returned).
    explicit ClOwner(Handle handle) : handle_(handle) {}
    ~ClOwner() { Reset(); }
    ClOwner(const ClOwner&) = delete;
    ClOwner& operator=(const ClOwner&) = delete;
    ClOwner(ClOwner&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
    ClOwner& operator=(ClOwner&& other) noexcept
    {
        if (this != &other)
        {
            Reset();
            handle_ = std::exchange(other.handle_, nullptr);
        }
        return *this;
    }

    // Retains a handle someone else also holds, and owns that reference.
    static ClOwner Retained(Handle handle)
    {
        CheckCl(Retain(handle), "clRetain*");
        return ClOwner(handle);
    }

    Handle Get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }

    void Reset()
    {
        if (handle_)
            Release(handle_);
        handle_ = nullptr;
    }

private:
    Handle handle_ = nullptr;
};

using ClContext = ClOwner<cl_context, clRetainContext, clReleaseContext>;
using ClQueue = ClOwner<cl_command_queue, clRetainCommandQueue, clReleaseCommandQueue>;
using ClProgram = ClOwner<cl_program, clRetainProgram, clReleaseProgram>;
using ClKernel = ClOwner<cl_kernel, clRetainKernel, clReleaseKernel>;
using ClMem = ClOwner<cl_mem, clRetainMemObject, clReleaseMemObject>;
using ClEventHandle = ClOwner<cl_event, clRetainEvent, clReleaseEvent>;

} // namespace RadeonRays::detail
