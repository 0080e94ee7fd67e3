#pragma once
// The one exception type of the OpenCL wrapper: a fixed message naming the call that
// failed, and the OpenCL status code that it returned.
#include <CL/cl.h>

#include <stdexcept>
#include <string>

class CLWException : public std::runtime_error
{
public:
    CLWException(cl_int status, const std::string& message);
    CLWException(const CLWException&) = default;
    CLWException& operator=(const CLWException&) = default;
    virtual ~CLWException();

    // The OpenCL status code (CL_INVALID_VALUE, ...), or a code chosen by the wrapper
    // for failures that are not a call's status (a missing kernel: -46).
    cl_int GetStatus() const { return m_status; }

private:
    cl_int m_status;
};

// The failure test that follows every OpenCL call whose status matters: anything but
// CL_SUCCESS throws, with the status and the call site's fixed message.
inline void ThrowIfFailed(cl_int status, const char* message)
{
    if (status != CL_SUCCESS)
    {
        throw CLWException(status, message);
    }
}
