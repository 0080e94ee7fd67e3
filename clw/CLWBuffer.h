#pragma once
// A device buffer of elements of type T. T only fixes the element size; the wrapper
// never looks inside the elements.
#include "clw/CLWContext.h"
#include "clw/CLWException.h"
#include "clw/ReferenceCounter.h"

#include <CL/cl.h>

#include <cstddef>
#include <limits>

template <typename T>
class CLWBuffer : public ReferenceCounter<cl_mem, clRetainMemObject, clReleaseMemObject>
{
public:
    CLWBuffer() = default;
    // Takes a reference of its own on an existing memory object of `elementCount`
    // elements.
    CLWBuffer(cl_mem memory, size_t elementCount)
        : ReferenceCounter(memory), m_elementCount(elementCount)
    {
    }
    CLWBuffer(const CLWBuffer&) = default;
    CLWBuffer& operator=(const CLWBuffer&) = default;
    virtual ~CLWBuffer() = default;

    // Creates a buffer of `elementCount` elements (elementCount * sizeof(T) bytes) in
    // `context`. `hostData` may be null; with CL_MEM_COPY_HOST_PTR in `flags` it is
    // copied from. Throws CLWException with "clCreateBuffer failed" (a zero size is
    // such a failure, and so, with CL_INVALID_BUFFER_SIZE, is a count whose byte size
    // does not fit in a size_t). The returned wrapper holds the only reference.
    static CLWBuffer Create(const CLWContext& context, cl_mem_flags flags, size_t elementCount,
                            T* hostData)
    {
        // The product would wrap around to a small size that OpenCL accepts, under a
        // wrapper that reports the huge count.
        if (elementCount > std::numeric_limits<size_t>::max() / sizeof(T))
        {
            throw CLWException(CL_INVALID_BUFFER_SIZE, "clCreateBuffer failed");
        }
        cl_int status = CL_SUCCESS;
        cl_mem memory = clCreateBuffer(context, flags, elementCount * sizeof(T), hostData, &status);
        ThrowIfFailed(status, "clCreateBuffer failed");
        CLWBuffer result(memory, elementCount);
        AdoptHandle(memory);
        return result;
    }

    // OpenCL's view of the OpenGL buffer object `glBuffer`, which holds `elementCount`
    // elements, read-write. Throws CLWException with "clCreateBuffer failed". Only on a
    // device with OpenGL sharing (see CLWContext::CreateFromGLBuffer).
    static CLWBuffer CreateFromGLBuffer(const CLWContext& context, cl_GLuint glBuffer,
                                        size_t elementCount)
    {
        cl_mem memory = context.CreateFromGLBuffer(glBuffer);
        CLWBuffer result(memory, elementCount);
        AdoptHandle(memory);
        return result;
    }

    size_t GetElementCount() const { return m_elementCount; }

private:
    size_t m_elementCount = 0;
};
