#pragma once
// The steps of the path on which OpenCL writes the drawn vertices straight into
// OpenGL's vertex buffer, behind one narrow interface: the frame's order of these steps
// is what keeps OpenCL and OpenGL off the buffer at the same time, and it can be
// checked with steps that record instead of sharing.
#include "clw/CLW.h"
#include "scene/Vertex.h"

#include <GL/glew.h>

#include <memory>
#include <string>

namespace platform
{
class GlContext;
}

class GlSharingSteps
{
public:
    virtual ~GlSharingSteps() = default;

    // A context on `device` that shares objects with the OpenGL context. Throws
    // CLWException where the driver refuses (an OpenGL context of another driver).
    virtual CLWContext CreateContext(const CLWDevice& device, cl_platform_id platform) = 0;

    // OpenCL's view of the OpenGL buffer `glBuffer` of `count` vertices. Throws
    // CLWException where the driver refuses.
    virtual CLWBuffer<_Vertex> CreateSharedBuffer(const CLWContext& context, GLuint glBuffer,
                                                  size_t count) = 0;

    // Makes every OpenGL command issued so far finish before the acquires that follow start.
    virtual void FinishGlWork(const CLWContext& context) = 0;

    // Hands the buffer to OpenCL, after the OpenGL work of FinishGlWork.
    virtual void Acquire(const CLWContext& context, const CLWBuffer<_Vertex>& buffer) = 0;

    // Hands the buffer back to OpenGL; the caller waits for the queue before OpenGL draws.
    virtual void Release(const CLWContext& context, const CLWBuffer<_Vertex>& buffer) = 0;

    // How FinishGlWork waits, for the log ("an OpenGL fence (cl_khr_gl_event)").
    virtual std::string Synchronisation() const = 0;
};

// The real steps, for the OpenGL context `gl`, which must stay current on the calling
// thread. Where the device has cl_khr_gl_event and OpenGL has sync objects, OpenGL's
// work is awaited by a fence turned into an OpenCL event that the acquire waits on;
// otherwise by glFinish.
std::unique_ptr<GlSharingSteps> CreateGlSharingSteps(const platform::GlContext& gl);
