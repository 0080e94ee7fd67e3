#pragma once
// What the clw tests share: the real OpenCL runtime's first device, contexts on it, and
// OpenCL's own reference counts, read back with the CL_*_REFERENCE_COUNT queries.
#include "clw/CLW.h"

#include <CL/cl.h>

#include <string>
#include <vector>

namespace clw_test
{

// The first device of the first platform, of any type (PoCL's CPU device on CI).
cl_platform_id FirstPlatform();
cl_device_id FirstDevice();

// A context on FirstDevice() with its one queue.
CLWContext MakeContext();

// Two sub-devices of FirstDevice(), each of one compute unit. Root devices are not
// reference counted (their count stays 1 whatever is retained); sub-devices are, so
// they are what the device tests count with. The caller releases them.
std::vector<cl_device_id> MakeSubDevices();

// Builds `source` into a program on `context` with no options.
CLWProgram Build(const CLWContext& context, const std::string& source);

cl_uint ReferenceCount(cl_device_id device);
cl_uint ReferenceCount(cl_context context);
cl_uint ReferenceCount(cl_command_queue queue);
cl_uint ReferenceCount(cl_program program);
cl_uint ReferenceCount(cl_kernel kernel);
cl_uint ReferenceCount(cl_mem memory);
cl_uint ReferenceCount(cl_event event);

// Reads a whole buffer of `count` ints back to the host (a blocking read).
std::vector<cl_int> ReadInts(const CLWContext& context, cl_mem buffer, size_t count);

} // namespace clw_test
