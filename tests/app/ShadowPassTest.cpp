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

#include <cmath>
#include <fstream>
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
        ASSERT_TRUE(m_dir.isValid());
        std::ofstream(QDir(m_dir.path()).filePath("BoxOnPlane.obj").toStdString()) << kBoxOnPlane;
        m_gl = platform::GlContext::CreateHidden(64, 64);
        m_model.Load(m_dir.path(), "BoxOnPlane.obj");
        m_compute = StartCompute(nullptr);
        m_scene = CreateDeviceScene(m_compute.context, m_compute.api.get(), m_model,
                                    DrawnVertices::InOpenGlBuffer);
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

} // namespace
