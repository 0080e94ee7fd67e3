#pragma once
// One OpenCL kernel. All copies share the one OpenCL kernel object, so an argument set
// through any copy is set for all of them.
#include "clw/CLWKernelArg.h"
#include "clw/ReferenceCounter.h"

#include <CL/cl.h>

class CLWKernel : public ReferenceCounter<cl_kernel, clRetainKernel, clReleaseKernel>
{
public:
    CLWKernel() = default;
    // Takes a reference of its own on an existing kernel.
    explicit CLWKernel(cl_kernel kernel) : ReferenceCounter(kernel) {}
    CLWKernel(const CLWKernel&) = default;
    CLWKernel& operator=(const CLWKernel&) = default;
    virtual ~CLWKernel();

    // Adopts a kernel that an OpenCL creation call returned; the wrapper ends up
    // holding the creation reference and no other.
    static CLWKernel Create(cl_kernel kernel);

    // Sets argument `index` from `size` bytes at `value`. Throws CLWException with
    // "clSetKernelArg failed".
    virtual void SetArg(cl_uint index, size_t size, const void* value);

    // Sets argument `index` from a tagged value and returns clSetKernelArg's status
    // without throwing; on failure the argument keeps its previous value.
    virtual cl_int SetArg(cl_uint index, CLWKernelArg arg);
};
