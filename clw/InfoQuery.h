#pragma once
// The two ways the wrapper reads an OpenCL object's properties. Shared by platforms,
// devices and kernels, whose query functions have the same shape and differ only in the
// call and in the message of the exception.
#include "clw/CLWException.h"

#include <CL/cl.h>

#include <algorithm>
#include <string>
#include <vector>

namespace clw_detail
{

// A text property: ask for its size, then for the bytes. OpenCL counts the
// terminating zero in the size; the returned string ends before the first zero byte,
// so it never carries that terminator (or anything after it).
template <typename Handle, typename Query>
std::string QueryText(Query query, Handle handle, cl_uint parameter, const char* failure)
{
    size_t size = 0;
    ThrowIfFailed(query(handle, parameter, 0, nullptr, &size), failure);
    std::vector<char> buffer(size, '\0');
    ThrowIfFailed(query(handle, parameter, size, buffer.data(), nullptr), failure);
    return std::string(buffer.begin(), std::find(buffer.begin(), buffer.end(), '\0'));
}

// A fixed-size property, read straight into its destination with the destination's
// own width as the size, so that a mismatch of widths is an OpenCL error rather than
// a silent truncation.
template <typename Handle, typename Query, typename Value>
void QueryValue(Query query, Handle handle, cl_uint parameter, Value& value, const char* failure)
{
    ThrowIfFailed(query(handle, parameter, sizeof(Value), &value, nullptr), failure);
}

} // namespace clw_detail
