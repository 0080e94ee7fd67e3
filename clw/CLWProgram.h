#pragma once
// An OpenCL program built for every device of a context, with all its kernels created
// once and kept by function name.
#include "clw/CLWContext.h"
#include "clw/CLWKernel.h"
#include "clw/ReferenceCounter.h"

#include <CL/cl.h>

#include <map>
#include <string>

class CLWProgram : public ReferenceCounter<cl_program, clRetainProgram, clReleaseProgram>
{
public:
    // No program and no kernels; makes no OpenCL call.
    CLWProgram() = default;

    // Takes a reference of its own on a built program and creates all its kernels.
    // Throws CLWException: -2 with "clCreateKernelsInProgram return 0 kernels" for a
    // program without kernels, or "clCreateKernelsInProgram failed" /
    // "clGetKernelInfo failed" with the call's status.
    explicit CLWProgram(cl_program program);

    CLWProgram(const CLWProgram&) = default;
    CLWProgram& operator=(const CLWProgram&) = default;
    // The kernels are released first, then the program.
    virtual ~CLWProgram();

    // Reads `fileName` (text mode) and builds it as CreateFromSource does. A file that
    // LoadFileContents refuses (one that cannot be opened, is not a regular file or is too
    // large) throws its std::runtime_error "Cannot read the contents of a file..." before
    // any OpenCL call; so does an empty file, with std::runtime_error "the kernel source
    // "fileName" is empty". A failure of OpenCL carries the note "in the kernel source
    // "fileName"" (ErrorNote).
    static CLWProgram CreateFromFile(const char* fileName, const char* buildOptions,
                                     CLWContext context);

    // Builds the `size` characters at `source` (no terminating zero needed) for every
    // device of `context`, in the context's order, with `buildOptions` passed on
    // unchanged. A failed build throws CLWException whose status is the build's and
    // whose message is exactly the build log of the context's first device.
    static CLWProgram CreateFromSource(const char* source, size_t size, const char* buildOptions,
                                       CLWContext context);

    // A copy of the kernel whose function name is exactly `name` (case-sensitive).
    // Throws CLWException -46 with "No such kernel in program".
    CLWKernel GetKernel(const std::string& name) const;

    size_t GetKernelCount() const { return m_kernels.size(); }

private:
    // Ordered by name; std::string compares its bytes as unsigned values, shorter first
    // on a common prefix.
    std::map<std::string, CLWKernel> m_kernels;
};
