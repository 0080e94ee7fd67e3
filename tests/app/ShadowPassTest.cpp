// The shadow pass end to end on the real runtimes: a box standing on a plane, lit by a
// fixed light, through the kernels of data/kernel.cl, our intersection library on PoCL,
// and the host copy into the OpenGL vertex buffer that the raster pass draws from.
#include "app/ShadowPass.h"
#include "app/ComputeStartup.h"
#include "platform/GlContext.h"
#include "scene/Model.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include <GL/glew.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace
{

// An 8 x 8 plane at y = 0 and a unit box standing on its centre.
const char* const kBoxOnPlane = R"(
v -4 0 -4
v 4 0 -4
v 4 0 4
v -4 0 4
v -0.5 0 -0.5
v 0.5 0 -0.5
v 0.5 0 0.5
v -0.5 0 0.5
v -0.5 1 -0.5
v 0.5 1 -0.5
v 0.5 1 0.5
v -0.5 1 0.5
vn 0 1 0
vn 0 -1 0
vn 1 0 0
vn -1 0 0
vn 0 0 1
vn 0 0 -1
f 1//1 3//1 2//1
f 1//1 4//1 3//1
f 9//1 12//1 11//1
f 9//1 11//1 10//1
f 5//2 6//2 7//2
f 5//2 7//2 8//2
f 6//3 10//3 11//3
f 6//3 11//3 7//3
f 5//4 8//4 12//4
f 5//4 12//4 9//4
f 7//5 11//5 12//5
f 7//5 12//5 8//5
f 5//6 9//6 10//6
f 5//6 10//6 6//6
)";

float Brightness(const _Vertex& v)
{
    return v.color.x + v.color.y + v.color.z;
}

class ShadowPassTest : public testing::Test
{
protected:
    void SetUp() override
    {
        LoadBoxOnPlane();
        if (HasFatalFailure())
        {
            return;
        }
        m_compute = StartCompute(nullptr);
        m_scene = CreateDeviceScene(m_compute.context, m_compute.api.get(), m_model,
                                    DrawnVertices::InOpenGlBuffer);
    }

    void LoadBoxOnPlane()
    {
        ASSERT_TRUE(m_dir.isValid());
        std::ofstream(QDir(m_dir.path()).filePath("BoxOnPlane.obj").toStdString()) << kBoxOnPlane;
        m_gl = platform::GlContext::CreateHidden(64, 64);
        m_model.Load(m_dir.path(), "BoxOnPlane.obj");
    }

    // The vertices as OpenGL will draw them, after one pass with this light.
    std::vector<_Vertex> Shade(Float3 lightDirection)
    {
        const Mat4 world{{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}};
        RunShadowPass(m_compute.context, m_compute.program, m_compute.api.get(), m_scene, world,
                      {-15, 10, 0}, {0, 1, 0}, lightDirection);
        std::vector<_Vertex> drawn(m_model.GetVertices().size());
        glBindBuffer(GL_ARRAY_BUFFER, m_model.GetVertexBuffer());
        glGetBufferSubData(GL_ARRAY_BUFFER, 0, drawn.size() * sizeof(_Vertex), drawn.data());
        glBindBuffer(GL_ARRAY_BUFFER, 0);
        return drawn;
    }

    QTemporaryDir m_dir;
    std::unique_ptr<platform::GlContext> m_gl;
    Model m_model;
    ComputeStartup m_compute;
    DeviceScene m_scene;
};

TEST_F(ShadowPassTest, StartsWithoutSharingOnTheCpuDevice)
{
    EXPECT_EQ(m_compute.glSharing, nullptr);
    EXPECT_NE(m_compute.description.find("through the host"), std::string::npos);
    EXPECT_EQ(m_scene.vertexCount, static_cast<int>(m_model.GetVertices().size()));
    EXPECT_EQ(m_scene.globalWidth, LaunchSide(m_scene.vertexCount));
    EXPECT_GE(m_scene.globalWidth * m_scene.globalWidth, size_t(m_scene.vertexCount));
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

// The sharing path, which needs a GPU that shares with OpenGL, run through steps that
// record what the frame asks of them instead of sharing: OpenCL's side stays real (PoCL),
// the shared buffer is a plain buffer.
struct SharingRecord
{
    std::vector<std::string> steps;
    // The shared buffer's contents when each acquire and each release was asked for,
    // after every command enqueued before it.
    std::vector<std::vector<_Vertex>> atAcquire;
    std::vector<std::vector<_Vertex>> atRelease;
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
        Buffer
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

    void Acquire(const CLWContext& context, const CLWBuffer<_Vertex>& buffer) override
    {
        m_record->steps.push_back("acquire");
        m_record->atAcquire.push_back(Read(context, buffer));
    }

    void Release(const CLWContext& context, const CLWBuffer<_Vertex>& buffer) override
    {
        m_record->steps.push_back("release");
        m_record->atRelease.push_back(Read(context, buffer));
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
    static std::vector<_Vertex> Read(const CLWContext& context, const CLWBuffer<_Vertex>& buffer)
    {
        std::vector<_Vertex> contents(buffer.GetElementCount());
        context.ReadBuffer(0, buffer, contents.size() * sizeof(_Vertex), contents.data());
        return contents;
    }

    std::shared_ptr<SharingRecord> m_record;
    Refuse m_refuse;
};

bool SameBytes(const std::vector<_Vertex>& a, const std::vector<_Vertex>& b)
{
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(_Vertex)) == 0;
}

class SharingPathTest : public ShadowPassTest
{
protected:
    void SetUp() override
    {
        LoadBoxOnPlane();
        if (HasFatalFailure())
        {
            return;
        }
        const std::vector<CLWPlatformDescription> platforms = DescribePlatforms();
        const std::optional<CLWDeviceChoice> choice = ChooseFallbackDevice(platforms);
        ASSERT_TRUE(choice);
        m_platform = platforms[choice->platform].id;
        m_device = CLWDevice(platforms[choice->platform].devices[choice->device].id);
    }

    // Start-up and device scene as the window makes them, through recording steps.
    void Start(RecordingSharing::Refuse refuse)
    {
        m_compute = StartComputeOn(m_device, m_platform,
                                   std::make_unique<RecordingSharing>(m_record, refuse));
        ASSERT_EQ(m_compute.context.GetDevice(0).GetID(), m_device.GetID());
        m_scene = CreateDeviceScene(m_compute.context, m_compute.api.get(), m_model,
                                    DrawnVertices::InOpenGlBuffer, std::move(m_compute.glSharing));
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

TEST_F(SharingPathTest, OpenGlFinishesBeforeTheAcquiresAndEveryKernelRunsWhileOpenClHoldsTheBuffer)
{
    Start(RecordingSharing::Refuse::Nothing);
    EXPECT_EQ(m_compute.description, "OpenCL device: " + m_device.GetName() +
                                         "; vertices shared with OpenGL, OpenGL's work awaited "
                                         "by the recorder");
    ASSERT_NE(m_scene.glSharing, nullptr);
    EXPECT_EQ(m_scene.sharingRefusal, "");

    const std::vector<_Vertex> drawn = Shade({0.1f, -0.995f, 0.0f});
    const std::vector<std::string> expected{"finish OpenGL", "acquire", "release", "acquire",
                                            "release"};
    EXPECT_EQ(m_record->steps, expected);
    ASSERT_EQ(m_record->atAcquire.size(), 2u);
    ASSERT_EQ(m_record->atRelease.size(), 2u);
    // Nothing wrote the buffer before the first acquire or between the brackets; the
    // ray generation and the shadow write both wrote it inside theirs.
    EXPECT_TRUE(SameBytes(m_record->atAcquire[0], std::vector<_Vertex>(drawn.size())));
    EXPECT_FALSE(SameBytes(m_record->atRelease[0], m_record->atAcquire[0]));
    EXPECT_TRUE(SameBytes(m_record->atAcquire[1], m_record->atRelease[0]));
    EXPECT_FALSE(SameBytes(m_record->atRelease[1], m_record->atAcquire[1]))
        << "no vertex was darkened while the shadow write held the buffer";
    // OpenGL may draw as soon as the pass returns: every release has completed by then.
    for (cl_event marker : m_record->afterRelease)
    {
        cl_int status = CL_QUEUED;
        clGetEventInfo(marker, CL_EVENT_COMMAND_EXECUTION_STATUS, sizeof status, &status, nullptr);
        EXPECT_EQ(status, CL_COMPLETE);
    }
    // The vertices went to OpenGL by sharing alone: nothing copied them through the host
    // into OpenGL's buffer, which still holds the model as loaded.
    EXPECT_TRUE(SameBytes(drawn, m_model.GetVertices()));
}

TEST_F(SharingPathTest, ARefusedSharingContextLeavesTheHostCopyOnTheSameDevice)
{
    Start(RecordingSharing::Refuse::Context);
    EXPECT_EQ(m_compute.description,
              "OpenCL device: " + m_device.GetName() + "; " +
                  HostCopyLine("clCreateContext", CL_INVALID_GL_SHAREGROUP_REFERENCE_KHR));
    EXPECT_EQ(m_scene.glSharing, nullptr);
    const std::vector<_Vertex> drawn = Shade({0.0f, -1.0f, 0.0f});
    EXPECT_GT(Brightness(drawn.front()), 0.5f);
    EXPECT_TRUE(m_record->steps.empty());
}

TEST_F(SharingPathTest, ARefusedSharedBufferLeavesTheHostCopyAndSaysSo)
{
    Start(RecordingSharing::Refuse::Buffer);
    EXPECT_EQ(m_scene.glSharing, nullptr);
    EXPECT_EQ(m_scene.sharingRefusal, HostCopyLine("clCreateBuffer", CL_INVALID_GL_OBJECT));
    const std::vector<_Vertex> drawn = Shade({0.0f, -1.0f, 0.0f});
    EXPECT_GT(Brightness(drawn.front()), 0.5f);
    EXPECT_TRUE(m_record->steps.empty());
}

} // namespace
