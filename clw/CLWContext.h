#pragma once
// One OpenCL context with the devices it was made for and one command queue per device
// (queue i belongs to device i), and the commands the frame issues on those queues.
#include "clw/CLWCommandQueue.h"
#include "clw/CLWDevice.h"
#include "clw/CLWEvent.h"
#include "clw/CLWKernel.h"
#include "clw/ReferenceCounter.h"

#include <CL/cl.h>
#include <CL/cl_gl.h>

#include <vector>

class CLWContext : public ReferenceCounter<cl_context, clRetainContext, clReleaseContext>
{
public:
    // No context, no devices, no queues; makes no OpenCL call.
    CLWContext() = default;
    CLWContext(const CLWContext&) = default;
    CLWContext& operator=(const CLWContext&) = default;
    // Members go in reverse order: the queues, then the devices, then (in the base)
    // the context itself, so nothing outlives what it was created in.
    virtual ~CLWContext();

    // Creates a context for all `devices` and one queue for each, in the order given.
    // `properties` is the usual zero-terminated list of name/value pairs (or null) and
    // reaches OpenCL unchanged; it alone decides whether the context shares with
    // OpenGL. Throws CLWException with "clCreateContext failed" or
    // "clCreateCommandQueue failed".
    static CLWContext Create(const std::vector<CLWDevice>& devices,
                             const cl_context_properties* properties);
    static CLWContext Create(CLWDevice device, const cl_context_properties* properties);

    unsigned GetDeviceCount() const { return static_cast<unsigned>(m_devices.size()); }
    // Indices are not checked: keep them below GetDeviceCount().
    CLWDevice GetDevice(unsigned index) const { return m_devices[index]; }
    CLWCommandQueue GetCommandQueue(unsigned index) const { return m_queues[index]; }

    // The commands, each on the queue of the given index. All throw CLWException with
    // "<the OpenCL call> failed" when the call fails.

    // Hands the shared OpenGL objects in `objects` to OpenCL. Only for a context made
    // with OpenGL sharing properties on a device that supports sharing.
    void AcquireGLObjects(unsigned queueIndex, const std::vector<cl_mem>& objects) const;
    // The same, once every event in `waitFor` has completed (an OpenGL fence's event).
    void AcquireGLObjects(unsigned queueIndex, const std::vector<cl_mem>& objects,
                          const std::vector<CLWEvent>& waitFor) const;

    // Enqueues `kernel` over a two-dimensional range with no global offset. The
    // returned event may be dropped at once: the kernel still runs.
    CLWEvent Launch2D(unsigned queueIndex, const size_t* globalSize, const size_t* localSize,
                      const CLWKernel& kernel) const;

    // Returns once every command enqueued on the queue has completed.
    void Finish(unsigned queueIndex) const;

    // Hands the shared OpenGL objects back to OpenGL. OpenGL may use them once the
    // release has completed (a Finish on the queue).
    void ReleaseGLObjects(unsigned queueIndex, const std::vector<cl_mem>& objects) const;

    // Copies the first `bytes` bytes of `buffer` to `destination` and returns once they
    // are there, after every command enqueued before it.
    void ReadBuffer(unsigned queueIndex, cl_mem buffer, size_t bytes, void* destination) const;

    // An event that completes when the OpenGL fence `sync` is signalled. Only for a
    // context made with OpenGL sharing properties on a device with cl_khr_gl_event.
    // Throws CLWException with "clCreateEventFromGLsyncKHR failed".
    CLWEvent CreateEventFromGLsync(cl_GLsync sync) const;

    // Makes a read-write OpenCL memory object of the OpenGL buffer object named
    // `glBuffer`. The result is a raw handle holding the creation reference: the caller
    // owns it (clReleaseMemObject) or keeps it for the life of the process. Throws
    // CLWException with "clCreateBuffer failed". Call it only on a device with
    // OpenGL sharing: some runtimes without it end the process here.
    cl_mem CreateFromGLBuffer(cl_GLuint glBuffer) const;

private:
    explicit CLWContext(cl_context context) : ReferenceCounter(context) {}

    std::vector<CLWDevice> m_devices;
    std::vector<CLWCommandQueue> m_queues;
};
