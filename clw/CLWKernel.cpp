#include "clw/CLWKernel.h"

#include "clw/CLWException.h"

CLWKernel::~CLWKernel() = default;

CLWKernel CLWKernel::Create(cl_kernel kernel)
{
    CLWKernel result(kernel);
    AdoptHandle(kernel);
    return result;
}

void CLWKernel::SetArg(cl_uint index, size_t size, const void* value)
{
    ThrowIfFailed(clSetKernelArg(*this, index, size, value), "clSetKernelArg failed");
}

cl_int CLWKernel::SetArg(cl_uint index, CLWKernelArg arg)
{
    // A local-memory argument has a size but no value: OpenCL allocates it per group.
    const void* value = arg.GetKind() == CLWKernelArg::kLocal ? nullptr : arg.GetPayload();
    return clSetKernelArg(*this, index, arg.GetByteSize(), value);
}
