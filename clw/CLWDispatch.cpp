// The commands of CLWContext that the frame issues every shadow pass, and the creation
// of the memory object that OpenCL and OpenGL share.
#include "clw/CLWContext.h"

#include "clw/CLWException.h"

#include <CL/cl_gl.h>

void CLWContext::AcquireGLObjects(unsigned queueIndex, const std::vector<cl_mem>& objects) const
{
    // No wait list and no event: ordering comes from the in-order queue.
    cl_int status =
        clEnqueueAcquireGLObjects(m_queues[queueIndex], static_cast<cl_uint>(objects.size()),
                                  objects.data(), 0, nullptr, nullptr);
    ThrowIfFailed(status, "clEnqueueAcquireGLObjects failed");
}

void CLWContext::AcquireGLObjects(unsigned queueIndex, const std::vector<cl_mem>& objects,
                                  const std::vector<CLWEvent>& waitFor) const
{
    const std::vector<cl_event> events(waitFor.begin(), waitFor.end());
    cl_int status = clEnqueueAcquireGLObjects(
        m_queues[queueIndex], static_cast<cl_uint>(objects.size()), objects.data(),
        static_cast<cl_uint>(events.size()), events.empty() ? nullptr : events.data(), nullptr);
    ThrowIfFailed(status, "clEnqueueAcquireGLObjects failed");
}

CLWEvent CLWContext::Launch2D(unsigned queueIndex, const size_t* globalSize,
                              const size_t* localSize, const CLWKernel& kernel) const
{
    cl_event event = nullptr;
    cl_int status = clEnqueueNDRangeKernel(m_queues[queueIndex], kernel, 2, nullptr, globalSize,
                                           localSize, 0, nullptr, &event);
    ThrowIfFailed(status, "clEnqueueNDRangeKernel failed");
    return CLWEvent::Create(event);
}

void CLWContext::Finish(unsigned queueIndex) const
{
    ThrowIfFailed(clFinish(m_queues[queueIndex]), "clFinish failed");
}

void CLWContext::ReleaseGLObjects(unsigned queueIndex, const std::vector<cl_mem>& objects) const
{
    cl_int status =
        clEnqueueReleaseGLObjects(m_queues[queueIndex], static_cast<cl_uint>(objects.size()),
                                  objects.data(), 0, nullptr, nullptr);
    ThrowIfFailed(status, "clEnqueueReleaseGLObjects failed");
}

void CLWContext::ReadBuffer(unsigned queueIndex, cl_mem buffer, size_t bytes,
                            void* destination) const
{
    cl_int status = clEnqueueReadBuffer(m_queues[queueIndex], buffer, CL_TRUE, 0, bytes,
                                        destination, 0, nullptr, nullptr);
    ThrowIfFailed(status, "clEnqueueReadBuffer failed");
}

CLWEvent CLWContext::CreateEventFromGLsync(cl_GLsync sync) const
{
    cl_int status = CL_SUCCESS;
    cl_event event = clCreateEventFromGLsyncKHR(*this, sync, &status);
    ThrowIfFailed(status, "clCreateEventFromGLsyncKHR failed");
    return CLWEvent::Create(event);
}

cl_mem CLWContext::CreateFromGLBuffer(cl_GLuint glBuffer) const
{
    cl_int status = CL_SUCCESS;
    cl_mem memory = clCreateFromGLBuffer(*this, CL_MEM_READ_WRITE, glBuffer, &status);
    // The same message as for plain buffers: to the program both are "a buffer that
    // could not be made".
    ThrowIfFailed(status, "clCreateBuffer failed");
    return memory;
}
