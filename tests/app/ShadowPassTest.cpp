// The demo's frame end to end on the real runtimes: a box standing on a plane, lit by a
// fixed light, through the kernels of data/kernel.cl, our intersection library on PoCL,
// and the host copy into the OpenGL vertex buffer that the raster pass draws from.
#include "app/ComputeStartup.h"
#include "app/Demo.h"
#include "platform/GlContext.h"

#include "BoxOnPlane.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include <GL/glew.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace
{

float Brightness(const _Vertex& v)
{
    return v.color.x + v.color.y + v.color.z;
}

class ShadowPassTest : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(WriteBoxOnPlane());
        Start(StartCompute(nullptr));
    }

    void WriteBoxOnPlane()
    {
        ASSERT_TRUE(m_dir.isValid());
        std::ofstream(QDir(m_dir.path()).filePath("BoxOnPlane.obj").toStdString()) << kBoxOnPlane;
        m_gl = platform::GlContext::CreateHidden(64, 64);
    }

    // The demo on the box as the window makes it, without music, around compute.
    void Start(ComputeStartup compute)
    {
        m_demo = std::make_unique<Demo>(*m_gl, std::move(compute));
        SceneRequest request;
        request.directory = m_dir.path().toStdString();
        request.fileName = "BoxOnPlane.obj";
        request.music = nullptr;
        m_demo->LoadScene(request);
    }

    // The vertices as OpenGL will draw them, after one frame with this light.
    std::vector<_Vertex> Shade(Float3 lightDirection)
    {
        m_demo->Render({{-15, 10, 0}, {0, 1, 0}, lightDirection}, 64, 64);
        std::vector<_Vertex> drawn(Model().GetVertices().size());
        glBindBuffer(GL_ARRAY_BUFFER, Model().GetVertexBuffer());
        glGetBufferSubData(GL_ARRAY_BUFFER, 0, drawn.size() * sizeof(_Vertex), drawn.data());
        glBindBuffer(GL_ARRAY_BUFFER, 0);
        return drawn;
    }

    const ::Model& Model() const { return m_demo->GetModel(); }
    const DeviceScene& Scene() const { return m_demo->GetDeviceScene(); }

    QTemporaryDir m_dir;
    std::unique_ptr<platform::GlContext> m_gl;
    std::unique_ptr<Demo> m_demo;
};

TEST_F(ShadowPassTest, StartsWithoutSharingOnTheCpuDevice)
{
    EXPECT_EQ(Scene().glSharing, nullptr);
    EXPECT_NE(m_demo->DescribeDevice().find("through the host"), std::string::npos);
    EXPECT_EQ(Scene().vertexCount, static_cast<int>(Model().GetVertices().size()));
    EXPECT_EQ(Scene().globalWidth, LaunchSide(Scene().vertexCount));
    EXPECT_GE(Scene().globalWidth * Scene().globalWidth, size_t(Scene().vertexCount));
}

TEST_F(ShadowPassTest, TheBoxShadowsThePlaneAndTheOpenPlaneIsEvenlyLit)
{
    // Straight down and a little toward +x: the shadow is the box's footprint, shifted.
    const float length = std::sqrt(0.1f * 0.1f + 1.0f);
    const std::vector<_Vertex> drawn = Shade({0.1f / length, -1.0f / length, 0.0f});

    float openBrightness = -1.0f;
    int under = 0, open = 0;
    for (const _Vertex& v : drawn)
    {
        if (v.position.y != 0.0f || v.normal.y < 0.99f)
        {
            continue; // not the plane's upper face
        }
        const bool underBox = std::fabs(v.position.x) < 0.45f && std::fabs(v.position.z) < 0.45f;
        const bool farFromBox = std::fabs(v.position.x) > 1.0f || std::fabs(v.position.z) > 1.0f;
        if (underBox)
        {
            ++under;
            EXPECT_LT(Brightness(v), 1.6f)
                << "lit under the box at " << v.position.x << ", " << v.position.z;
        }
        else if (farFromBox)
        {
            ++open;
            if (openBrightness < 0)
            {
                openBrightness = Brightness(v);
            }
            // No acne: every vertex in the open gets the same light.
            EXPECT_NEAR(Brightness(v), openBrightness, 1e-4f)
                << "at " << v.position.x << ", " << v.position.z;
        }
    }
    EXPECT_GT(under, 10);
    EXPECT_GT(open, 1000);
    EXPECT_GT(openBrightness, 3.5f);
}

TEST_F(ShadowPassTest, TheBoxTopIsLitAndItsFacesAwayFromTheLightAreNot)
{
    // From +x, +z and above: the -x and -z faces look away from the light.
    const std::vector<_Vertex> drawn = Shade({-0.5f, -0.70710678f, -0.5f});
    float top = 0, away = 0, towards = 0;
    int topCount = 0, awayCount = 0, towardsCount = 0;
    for (const _Vertex& v : drawn)
    {
        const bool onBox = std::fabs(v.position.x) <= 0.5f && std::fabs(v.position.z) <= 0.5f &&
                           v.position.y > 0.0f;
        if (!onBox)
        {
            continue;
        }
        if (v.normal.y > 0.99f)
        {
            top += Brightness(v), ++topCount;
        }
        else if (v.normal.x < -0.99f || v.normal.z < -0.99f)
        {
            away += Brightness(v), ++awayCount;
        }
        else if (v.normal.x > 0.99f || v.normal.z > 0.99f)
        {
            towards += Brightness(v), ++towardsCount;
        }
    }
    ASSERT_GT(topCount, 0);
    ASSERT_GT(awayCount, 0);
    ASSERT_GT(towardsCount, 0);
    EXPECT_GT(top / topCount, 2.0f);
    EXPECT_GT(towards / towardsCount, 1.5f);
    EXPECT_LT(away / awayCount, 1.2f);
}

TEST_F(ShadowPassTest, RepeatedPassesGiveTheSameResult)
{
    const Float3 light{0.6f, -0.8f, 0.0f};
    const std::vector<_Vertex> first = Shade(light);
    Shade({0.0f, -1.0f, 0.0f});
    const std::vector<_Vertex> again = Shade(light);
    ASSERT_EQ(first.size(), again.size());
    for (size_t i = 0; i < first.size(); ++i)
    {
        ASSERT_EQ(Brightness(first[i]), Brightness(again[i])) << "vertex " << i;
    }
}

// The sharing path through steps that record what the frame asks of them instead of
// sharing: OpenCL's side stays real (PoCL), the shared buffer is a plain buffer. The program's
// runs on the sharing ICD (GlSharingRunTest) show the pictures right and no misuse of the
// shared buffer; these show what that ICD cannot: OpenGL's work is awaited before the
// acquires (the ICD's copy waits for OpenGL anyway), the releases have completed when the
// pass returns (its releases complete at once), and how refusals and failures end.
struct SharingRecord
{
    std::vector<std::string> steps;
    // After each release, a marker that completes only some time later: done by the time
    // the pass returns only if the pass waited for its release.
    std::vector<cl_event> afterRelease;
    std::vector<std::thread> gates;

    ~SharingRecord()
    {
        for (std::thread& gate : gates)
        {
            gate.join();
        }
        for (cl_event marker : afterRelease)
        {
            clReleaseEvent(marker);
        }
    }
};

class RecordingSharing final : public GlSharingSteps
{
public:
    enum class Refuse
    {
        Nothing,
        Context,
        Buffer,
        // The second hand-over of a frame, the shadow write's: a failure inside a frame.
        SecondAcquire
    };

    RecordingSharing(std::shared_ptr<SharingRecord> record, Refuse refuse)
        : m_record(std::move(record)), m_refuse(refuse)
    {
    }

    CLWContext CreateContext(const CLWDevice& device, cl_platform_id platform) override
    {
        if (m_refuse == Refuse::Context)
        {
            throw CLWException(CL_INVALID_GL_SHAREGROUP_REFERENCE_KHR, "clCreateContext failed");
        }
        const cl_context_properties properties[] = {
            CL_CONTEXT_PLATFORM, reinterpret_cast<cl_context_properties>(platform), 0};
        return CLWContext::Create(device, properties);
    }

    CLWBuffer<_Vertex> CreateSharedBuffer(const CLWContext& context, GLuint, size_t count) override
    {
        if (m_refuse == Refuse::Buffer)
        {
            throw CLWException(CL_INVALID_GL_OBJECT, "clCreateBuffer failed");
        }
        std::vector<_Vertex> zeros(count);
        return CLWBuffer<_Vertex>::Create(context, CL_MEM_READ_WRITE | CL_MEM_COPY_HOST_PTR, count,
                                          zeros.data());
    }

    void FinishGlWork(const CLWContext&) override { m_record->steps.push_back("finish OpenGL"); }

    void Acquire(const CLWContext&, const CLWBuffer<_Vertex>&) override
    {
        if (m_refuse == Refuse::SecondAcquire &&
            std::count(m_record->steps.begin(), m_record->steps.end(), "acquire") == 1)
        {
            throw CLWException(CL_INVALID_GL_OBJECT, "clEnqueueAcquireGLObjects failed");
        }
        m_record->steps.push_back("acquire");
    }

    void Release(const CLWContext& context, const CLWBuffer<_Vertex>&) override
    {
        m_record->steps.push_back("release");
        cl_int status = CL_SUCCESS;
        cl_event gate = clCreateUserEvent(context, &status);
        ASSERT_EQ(status, CL_SUCCESS);
        cl_event marker = nullptr;
        ASSERT_EQ(clEnqueueMarkerWithWaitList(context.GetCommandQueue(0), 1, &gate, &marker),
                  CL_SUCCESS);
        m_record->afterRelease.push_back(marker);
        m_record->gates.emplace_back(
            [gate]
            {
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
                clSetUserEventStatus(gate, CL_COMPLETE);
                clReleaseEvent(gate);
            });
    }

    std::string Synchronisation() const override { return "the recorder"; }

private:
    std::shared_ptr<SharingRecord> m_record;
    Refuse m_refuse;
};

class SharingPathTest : public ShadowPassTest
{
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(WriteBoxOnPlane());
        const std::vector<CLWPlatformDescription> platforms = DescribePlatforms();
        const std::optional<CLWDeviceChoice> choice = ChooseFallbackDevice(platforms);
        ASSERT_TRUE(choice);
        m_platform = platforms[choice->platform].id;
        m_device = CLWDevice(platforms[choice->platform].devices[choice->device].id);
    }

    // Start-up and device scene as the window makes them, through recording steps.
    void Start(RecordingSharing::Refuse refuse)
    {
        ShadowPassTest::Start(StartComputeOn(m_device, m_platform,
                                             std::make_unique<RecordingSharing>(m_record, refuse)));
        ASSERT_EQ(m_demo->GetCompute().context.GetDevice(0).GetID(), m_device.GetID());
    }

    std::string HostCopyLine(const char* call, int status) const
    {
        return "OpenGL sharing refused (" + std::string(call) + " failed, status " +
               std::to_string(status) + "), vertices copied to OpenGL through the host";
    }

    std::shared_ptr<SharingRecord> m_record = std::make_shared<SharingRecord>();
    cl_platform_id m_platform = nullptr;
    CLWDevice m_device;
};

TEST_F(SharingPathTest, OpenGlFinishesBeforeTheAcquiresAndTheReleasesHaveCompletedOnReturn)
{
    Start(RecordingSharing::Refuse::Nothing);
    ASSERT_NE(Scene().glSharing, nullptr);
    EXPECT_EQ(Scene().sharingRefusal, "");

    Shade({0.1f, -0.995f, 0.0f});
    const std::vector<std::string> expected{"finish OpenGL", "acquire", "release", "acquire",
                                            "release"};
    EXPECT_EQ(m_record->steps, expected);
    // OpenGL may draw as soon as the pass returns: every release has completed by then.
    ASSERT_EQ(m_record->afterRelease.size(), 2u);
    for (cl_event marker : m_record->afterRelease)
    {
        cl_int status = CL_QUEUED;
        clGetEventInfo(marker, CL_EVENT_COMMAND_EXECUTION_STATUS, sizeof status, &status, nullptr);
        EXPECT_EQ(status, CL_COMPLETE);
    }
}

TEST_F(SharingPathTest, ARefusedSharingContextLeavesTheHostCopyOnTheSameDevice)
{
    Start(RecordingSharing::Refuse::Context);
    EXPECT_EQ(m_demo->DescribeDevice(),
              "OpenCL device: " + m_device.GetName() + "; " +
                  HostCopyLine("clCreateContext", CL_INVALID_GL_SHAREGROUP_REFERENCE_KHR));
    EXPECT_EQ(Scene().glSharing, nullptr);
    const std::vector<_Vertex> drawn = Shade({0.0f, -1.0f, 0.0f});
    EXPECT_GT(Brightness(drawn.front()), 0.5f);
    EXPECT_TRUE(m_record->steps.empty());
}

TEST_F(SharingPathTest, ARefusedSharedBufferLeavesTheHostCopyAndSaysSo)
{
    Start(RecordingSharing::Refuse::Buffer);
    EXPECT_EQ(Scene().glSharing, nullptr);
    EXPECT_EQ(Scene().sharingRefusal, HostCopyLine("clCreateBuffer", CL_INVALID_GL_OBJECT));
    EXPECT_EQ(m_demo->DescribeDevice(), "OpenCL device: " + m_device.GetName() + "; " +
                                            HostCopyLine("clCreateBuffer", CL_INVALID_GL_OBJECT));
    const std::vector<_Vertex> drawn = Shade({0.0f, -1.0f, 0.0f});
    EXPECT_GT(Brightness(drawn.front()), 0.5f);
    EXPECT_TRUE(m_record->steps.empty());
}

TEST_F(SharingPathTest, AFrameThatThrowsLeavesNothingBehindOnceTheDemoGoes)
{
    Start(RecordingSharing::Refuse::SecondAcquire);
    // Every OpenCL object of the demo holds its context: once the demo has gone, only
    // the test's own reference may be left.
    const cl_context context = m_demo->GetCompute().context;
    ASSERT_EQ(clRetainContext(context), CL_SUCCESS);
    const GLuint vertexBuffer = Model().GetVertexBuffer();
    const GLuint indexBuffer = Model().GetGroups().front().indexBuffer;

    EXPECT_THROW(Shade({0.0f, -1.0f, 0.0f}), CLWException);
    m_demo.reset();
    m_record.reset(); // the recorder's own events on the context

    cl_uint references = 0;
    clGetContextInfo(context, CL_CONTEXT_REFERENCE_COUNT, sizeof references, &references, nullptr);
    clReleaseContext(context);
    EXPECT_EQ(references, 1u) << "OpenCL objects outlived the demo";
    EXPECT_FALSE(glIsBuffer(vertexBuffer));
    EXPECT_FALSE(glIsBuffer(indexBuffer));
}

} // namespace
