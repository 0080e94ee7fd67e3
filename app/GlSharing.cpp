#include "app/GlSharing.h"

#include "platform/GlContext.h"

#include <cstdint>
#include <vector>

namespace
{

class ClGlSharing final : public GlSharingSteps
{
public:
    explicit ClGlSharing(std::vector<std::intptr_t> glProperties)
        : m_glProperties(std::move(glProperties))
    {
    }

    ~ClGlSharing() override { DeleteFence(); }

    CLWContext CreateContext(const CLWDevice& device, cl_platform_id platform) override
    {
        std::vector<cl_context_properties> properties(m_glProperties.begin(), m_glProperties.end());
        properties.push_back(CL_CONTEXT_PLATFORM);
        properties.push_back(reinterpret_cast<cl_context_properties>(platform));
        properties.push_back(0);
        CLWContext context = CLWContext::Create(device, properties.data());
        // The fence is only worth it where OpenCL can wait on it without the host.
        m_useFence =
            device.GetExtensions().find("cl_khr_gl_event") != std::string::npos && GLEW_ARB_sync;
        return context;
    }

    CLWBuffer<_Vertex> CreateSharedBuffer(const CLWContext& context, GLuint glBuffer,
                                          size_t count) override
    {
        return CLWBuffer<_Vertex>::CreateFromGLBuffer(context, glBuffer, count);
    }

    void FinishGlWork(const CLWContext& context) override
    {
        if (!m_useFence)
        {
            glFinish();
            return;
        }
        // The previous fence's event has completed: the queue was finished after the
        // release that followed its acquire.
        DeleteFence();
        m_fence = glFenceSync(GL_SYNC_GPU_COMMANDS_COMPLETE, 0);
        // Submitted, so that the fence can be signalled while OpenCL waits for it.
        glFlush();
        m_glDone = context.CreateEventFromGLsync(reinterpret_cast<cl_GLsync>(m_fence));
    }

    void Acquire(const CLWContext& context, const CLWBuffer<_Vertex>& buffer) override
    {
        const std::vector<cl_mem> objects{buffer};
        if (m_useFence)
        {
            context.AcquireGLObjects(0, objects, {m_glDone});
        }
        else
        {
            context.AcquireGLObjects(0, objects);
        }
    }

    void Release(const CLWContext& context, const CLWBuffer<_Vertex>& buffer) override
    {
        context.ReleaseGLObjects(0, {buffer});
    }

    std::string Synchronisation() const override
    {
        return m_useFence ? "an OpenGL fence (cl_khr_gl_event)" : "glFinish";
    }

private:
    void DeleteFence()
    {
        m_glDone = CLWEvent();
        if (m_fence)
        {
            glDeleteSync(m_fence);
            m_fence = nullptr;
        }
    }

    std::vector<std::intptr_t> m_glProperties;
    bool m_useFence = false;
    GLsync m_fence = nullptr;
    CLWEvent m_glDone;
};

} // namespace

std::unique_ptr<GlSharingSteps> CreateGlSharingSteps(const platform::GlContext& gl)
{
    return std::make_unique<ClGlSharing>(gl.OpenClSharingProperties());
}
