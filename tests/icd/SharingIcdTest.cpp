// The sharing ICD's own promises, which the demo's runs on it rely on and cannot show: it
// refuses what a driver refuses, and every misuse fails and is counted. Its process sees
// that ICD alone (OCL_ICD_VENDORS).
#include "platform/GlContext.h"

#include <gtest/gtest.h>

#include <GL/glew.h>

#include <CL/cl_gl.h>

#include <memory>
#include <string>
#include <vector>

namespace
{

struct Counts
{
    unsigned long acquires, releases, fenceWaits, misuses;
};

class SharingIcdTest : public testing::Test
{
protected:
    void SetUp() override
    {
        m_gl = platform::GlContext::CreateHidden(16, 16);
        cl_uint count = 0;
        ASSERT_EQ(clGetPlatformIDs(1, &m_platform, &count), CL_SUCCESS);
        ASSERT_EQ(count, 1u);
        ASSERT_EQ(clGetDeviceIDs(m_platform, CL_DEVICE_TYPE_GPU, 1, &m_device, nullptr),
                  CL_SUCCESS);
    }

    void TearDown() override
    {
        if (m_context)
        {
            clReleaseContext(m_context);
        }
    }

    std::vector<cl_context_properties> Properties(std::intptr_t glContext,
                                                  std::intptr_t display) const
    {
        return {CL_GL_CONTEXT_KHR,
                glContext,
                CL_GLX_DISPLAY_KHR,
                display,
                CL_CONTEXT_PLATFORM,
                reinterpret_cast<cl_context_properties>(m_platform),
                0};
    }

    cl_int CreateContext(const std::vector<cl_context_properties>& properties)
    {
        cl_int status = CL_SUCCESS;
        m_context = clCreateContext(properties.data(), 1, &m_device, nullptr, nullptr, &status);
        return status;
    }

    Counts ReadCounts() const
    {
        using Read = void(CL_API_CALL*)(Counts*);
        auto read = reinterpret_cast<Read>(
            clGetExtensionFunctionAddressForPlatform(m_platform, "vsSharingIcdCounts"));
        Counts counts{};
        if (read)
        {
            read(&counts);
        }
        return counts;
    }

    std::unique_ptr<platform::GlContext> m_gl;
    cl_platform_id m_platform = nullptr;
    cl_device_id m_device = nullptr;
    cl_context m_context = nullptr;
};

TEST_F(SharingIcdTest, IsAGpuThatSharesAndRefusesContextsThatDoNotNameTheCurrentOne)
{
    cl_device_type type = 0;
    clGetDeviceInfo(m_device, CL_DEVICE_TYPE, sizeof type, &type, nullptr);
    EXPECT_EQ(type, cl_device_type(CL_DEVICE_TYPE_GPU));
    char extensions[4096] = "";
    clGetDeviceInfo(m_device, CL_DEVICE_EXTENSIONS, sizeof extensions, extensions, nullptr);
    EXPECT_NE(std::string(extensions).find(" cl_khr_gl_sharing cl_khr_gl_event"),
              std::string::npos);

    const std::vector<std::intptr_t> own = m_gl->OpenClSharingProperties();
    ASSERT_EQ(own.size(), 4u);
    EXPECT_EQ(CreateContext(Properties(own[1] + 16, own[3])),
              CL_INVALID_GL_SHAREGROUP_REFERENCE_KHR);
    EXPECT_EQ(CreateContext(Properties(own[1], own[3] + 16)),
              CL_INVALID_GL_SHAREGROUP_REFERENCE_KHR);
    EXPECT_EQ(CreateContext(Properties(own[1], own[3])), CL_SUCCESS);
}

TEST_F(SharingIcdTest, CopiesInOnAcquireAndBackOnReleaseAndFailsAndCountsEveryMisuse)
{
    const std::vector<std::intptr_t> own = m_gl->OpenClSharingProperties();
    ASSERT_EQ(CreateContext(Properties(own[1], own[3])), CL_SUCCESS);
    cl_int status = CL_SUCCESS;
    cl_command_queue queue = clCreateCommandQueue(m_context, m_device, 0, &status);
    ASSERT_EQ(status, CL_SUCCESS);

    GLuint names[2] = {0, 0};
    glGenBuffers(2, names);
    const std::vector<float> values{1, 2, 3, 4, 5, 6, 7, 8};
    glBindBuffer(GL_ARRAY_BUFFER, names[0]);
    glBufferData(GL_ARRAY_BUFFER, 32, values.data(), GL_DYNAMIC_DRAW);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    // Names that are no buffer: one never bound, one never made, none.
    for (GLuint name : {names[1], names[1] + 100, 0u})
    {
        clCreateFromGLBuffer(m_context, CL_MEM_READ_WRITE, name, &status);
        EXPECT_EQ(status, CL_INVALID_GL_OBJECT) << name;
    }
    cl_mem shared = clCreateFromGLBuffer(m_context, CL_MEM_READ_WRITE, names[0], &status);
    ASSERT_EQ(status, CL_SUCCESS);
    size_t size = 0;
    clGetMemObjectInfo(shared, CL_MEM_SIZE, sizeof size, &size, nullptr);
    EXPECT_EQ(size, 32u);

    const char* source = "__kernel void twice(__global float* v) { v[get_global_id(0)] *= 2; }";
    cl_program program = clCreateProgramWithSource(m_context, 1, &source, nullptr, &status);
    ASSERT_EQ(clBuildProgram(program, 1, &m_device, "", nullptr, nullptr), CL_SUCCESS);
    cl_kernel twice = clCreateKernel(program, "twice", &status);
    ASSERT_EQ(clSetKernelArg(twice, 0, sizeof shared, &shared), CL_SUCCESS);
    const size_t items = 8;

    EXPECT_EQ(
        clEnqueueNDRangeKernel(queue, twice, 1, nullptr, &items, nullptr, 0, nullptr, nullptr),
        CL_INVALID_OPERATION);
    EXPECT_EQ(clEnqueueReleaseGLObjects(queue, 1, &shared, 0, nullptr, nullptr),
              CL_INVALID_OPERATION);
    std::vector<float> read(8);
    EXPECT_EQ(clEnqueueReadBuffer(queue, shared, CL_TRUE, 0, 32, read.data(), 0, nullptr, nullptr),
              CL_INVALID_OPERATION);

    GLsync fence = glFenceSync(GL_SYNC_GPU_COMMANDS_COMPLETE, 0);
    glFlush();
    cl_event glDone = clCreateEventFromGLsyncKHR(m_context, fence, &status);
    ASSERT_EQ(status, CL_SUCCESS);
    EXPECT_EQ(clEnqueueAcquireGLObjects(queue, 1, &shared, 1, &glDone, nullptr), CL_SUCCESS);
    cl_int done = CL_QUEUED;
    clGetEventInfo(glDone, CL_EVENT_COMMAND_EXECUTION_STATUS, sizeof done, &done, nullptr);
    EXPECT_EQ(done, CL_COMPLETE);
    EXPECT_EQ(clEnqueueAcquireGLObjects(queue, 1, &shared, 0, nullptr, nullptr),
              CL_INVALID_OPERATION);
    EXPECT_EQ(
        clEnqueueNDRangeKernel(queue, twice, 1, nullptr, &items, nullptr, 0, nullptr, nullptr),
        CL_SUCCESS);
    EXPECT_EQ(clEnqueueReleaseGLObjects(queue, 1, &shared, 0, nullptr, nullptr), CL_SUCCESS);
    EXPECT_EQ(clFinish(queue), CL_SUCCESS);

    glBindBuffer(GL_ARRAY_BUFFER, names[0]);
    glGetBufferSubData(GL_ARRAY_BUFFER, 0, 32, read.data());
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    EXPECT_EQ(read, (std::vector<float>{2, 4, 6, 8, 10, 12, 14, 16}));

    const Counts counts = ReadCounts();
    EXPECT_EQ(counts.misuses, 4u);
    EXPECT_EQ(counts.acquires, 1u);
    EXPECT_EQ(counts.releases, 1u);
    EXPECT_EQ(counts.fenceWaits, 1u);

    clReleaseEvent(glDone);
    glDeleteSync(fence);
    clReleaseKernel(twice);
    clReleaseProgram(program);
    clReleaseMemObject(shared);
    clReleaseCommandQueue(queue);
    glDeleteBuffers(2, names);
}

} // namespace
