// Turns a failing OpenCL status into std::runtime_error naming the call and the status.
#pragma once

#include <CL/cl.h>
#include <stdexcept>
#include <string>

namespace RadeonRays::detail
{

inline void CheckCl(cl_int status, const char* call)
{
    if (status != CL_SUCCESS)
        throw std::runtime_error(std::string("RadeonRays: ") + call + " failed with status " +
                                 std::to_string(status));
}

} // namespace RadeonRays::detail
