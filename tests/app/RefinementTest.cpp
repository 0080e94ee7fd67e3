// The refinement where the shadows fall, on the real runtimes: a box and a thin slat
// above a plane, the split triangles' vertices checked against queries of their own, the
// plane checked for gaps, and the shadows checked against the uniform density's.
#include "app/Camera.h"
#include "app/ComputeStartup.h"
#include "app/Demo.h"
#include "platform/GlContext.h"

#include "BoxOnPlane.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include <GL/glew.h>

#include <cmath>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace
{

// An 8 x 8 plane at y = 0, a unit box standing on it, and a slat 0.12 wide held 0.6
// above it, whose shadow is narrower than the coarse mesh's triangles.
const char* const kScene = R"(
v -4 0 -4
v 4 0 -4
v 4 0 4
v -4 0 4
v -0.5 1 -0.5
v 0.5 1 -0.5
v 0.5 1 0.5
v -0.5 1 0.5
v -0.5 0 -0.5
v 0.5 0 -0.5
v 0.5 0 0.5
v -0.5 0 0.5
v 1.5 0.6 -3
v 1.62 0.6 -3
v 1.62 0.6 3
v 1.5 0.6 3
vn 0 1 0
vn 1 0 0
vn -1 0 0
vn 0 0 1
vn 0 0 -1
vn 0 -1 0
f 1//1 3//1 2//1
f 1//1 4//1 3//1
f 5//1 8//1 7//1
f 5//1 7//1 6//1
f 10//2 6//2 7//2
f 10//2 7//2 11//2
f 9//3 12//3 8//3
f 9//3 8//3 5//3
f 11//4 7//4 8//4
f 11//4 8//4 12//4
f 9//5 5//5 6//5
f 9//5 6//5 10//5
f 13//1 16//1 15//1
f 13//1 15//1 14//1
f 13//6 14//6 15//6
f 13//6 15//6 16//6
)";

constexpr int kWidth = 240;
constexpr int kHeight = 180;

struct Fixture
{
    QTemporaryDir dir;
    std::unique_ptr<platform::GlContext> gl;

    Fixture()
    {
        std::ofstream(QDir(dir.path()).filePath("Scene.obj").toStdString()) << kScene;
        gl = platform::GlContext::CreateHidden(kWidth, kHeight);
        glViewport(0, 0, kWidth, kHeight);
    }

    std::unique_ptr<Demo> Load(bool coarse, DrawnVertices destination)
    {
        auto demo = std::make_unique<Demo>(*gl, StartCompute(nullptr));
        SceneRequest request;
        request.directory = dir.path().toStdString();
        request.fileName = "Scene.obj";
        request.music = nullptr;
        request.destination = destination;
        if (coarse)
        {
            request.load.coarsen = kRefinedCoarsening;
        }
        demo->LoadScene(request);
        return demo;
    }
};

// From high up, the light low from -x and +z.
CameraView View()
{
    const float length = std::sqrt(1.0f + 0.8f * 0.8f + 0.4f * 0.4f);
    return {
        {0.3f, 9.0f, 2.0f}, {0.0f, 0.0f, 0.0f}, {1.0f / length, -0.8f / length, -0.4f / length}};
}

std::vector<unsigned char> ReadPixels()
{
    std::vector<unsigned char> pixels(size_t(kWidth) * kHeight * 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glReadBuffer(GL_BACK);
    glReadPixels(0, 0, kWidth, kHeight, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
    return pixels;
}

TEST(RefinementTest, RefinedVerticesCarryTheVisibilityOfADirectQueryAtTheirPosition)
{
    Fixture fixture;
    const auto demo = fixture.Load(true, DrawnVertices::InOpenGlBuffer);
    const CameraView view = View();
    demo->Render(view, kWidth, kHeight, true, true, true);
    ASSERT_NE(demo->GetRefinement(), nullptr);
    const std::vector<_Vertex> vertices = demo->GetRefinement()->ReadVertices();
    ASSERT_GT(vertices.size(), 100u);

    // Each vertex's own ray, made on the host from where it is drawn, and asked directly.
    const Float3 toLight{-view.light.x, -view.light.y, -view.light.z};
    std::vector<RadeonRays::ray> rays(vertices.size());
    std::vector<bool> facing(vertices.size());
    for (size_t i = 0; i < vertices.size(); ++i)
    {
        const Float3 p = vertices[i].position, n = vertices[i].normal;
        const float cosine = n.x * toLight.x + n.y * toLight.y + n.z * toLight.z;
        facing[i] = cosine > 0.1f;
        RadeonRays::ray& ray = rays[i];
        ray = RadeonRays::ray{};
        ray.o[0] = p.x + n.x * 0.004f + toLight.x * 0.012f;
        ray.o[1] = p.y + n.y * 0.004f + toLight.y * 0.012f;
        ray.o[2] = p.z + n.z * 0.004f + toLight.z * 0.012f;
        ray.maxt = 1.0e4f;
        ray.d[0] = toLight.x;
        ray.d[1] = toLight.y;
        ray.d[2] = toLight.z;
        ray.mask = -1;
        ray.active = facing[i] ? 1 : 0;
    }
    const ComputeStartup& compute = demo->GetCompute();
    auto rayBuffer = CLWBuffer<RadeonRays::ray>::Create(
        compute.context, CL_MEM_READ_ONLY | CL_MEM_COPY_HOST_PTR, rays.size(), rays.data());
    auto hitBuffer = CLWBuffer<RadeonRays::Intersection>::Create(compute.context, CL_MEM_READ_WRITE,
                                                                 rays.size(), nullptr);
    RadeonRays::IntersectionApi* api = compute.api.get();
    std::unique_ptr<RadeonRays::Buffer, RadeonRaysBufferDeleter> rrRays(
        RadeonRays::CreateFromOpenClBuffer(api, rayBuffer), {api});
    std::unique_ptr<RadeonRays::Buffer, RadeonRaysBufferDeleter> rrHits(
        RadeonRays::CreateFromOpenClBuffer(api, hitBuffer), {api});
    RadeonRays::Event* event = nullptr;
    api->QueryOcclusion(rrRays.get(), static_cast<int>(rays.size()), rrHits.get(), nullptr, &event);
    event->Wait();
    api->DeleteEvent(event);
    std::vector<RadeonRays::Intersection> hits(rays.size());
    compute.context.ReadBuffer(0, hitBuffer, hits.size() * sizeof hits[0], hits.data());

    // The sky alone where blocked; the sun adds well over 0.05 to green at these angles.
    int lit = 0, blocked = 0;
    for (size_t i = 0; i < vertices.size(); ++i)
    {
        if (!facing[i])
        {
            continue;
        }
        const float up = 0.5f + 0.5f * vertices[i].normal.y;
        const float skyGreen = 0.23f + (0.48f - 0.23f) * up;
        const bool drawnLit = vertices[i].color.y > skyGreen + 0.05f;
        const bool queriedLit = hits[i].shapeid == -1;
        (queriedLit ? lit : blocked)++;
        ASSERT_EQ(drawnLit, queriedLit) << "refined vertex " << i;
    }
    EXPECT_GT(lit, 20);
    EXPECT_GT(blocked, 20);
}

TEST(RefinementTest, ThePlaneSeenFromAboveShowsNoBackgroundInsideItsOutline)
{
    Fixture fixture;
    const auto demo = fixture.Load(true, DrawnVertices::InOpenGlBuffer);
    const CameraView view = View();
    demo->Render(view, kWidth, kHeight, true, true, true);
    const std::vector<unsigned char> pixels = ReadPixels();
    const Mat4 viewProj = Multiply(Perspective(float(kWidth) / float(kHeight)),
                                   LookAt(view.eye, view.target, Float3{0.0f, 1.0f, 0.0f}));
    // A pixel well inside the plane: its centre, moved two pixels each way, still
    // projects onto the plane's square (a pixel in the box's or the slat's way shows them).
    const PlaneUnderPixels plane(viewProj);
    // A pixel well inside the plane's outline: its centre moved two pixels each way still
    // falls on the plane's square.
    const auto inside = [&](int x, int y)
    {
        for (int dy = -2; dy <= 2; dy += 4)
        {
            for (int dx = -2; dx <= 2; dx += 4)
            {
                const double nx = 2.0 * (x + dx + 0.5) / kWidth - 1.0;
                const double ny = 2.0 * (y + dy + 0.5) / kHeight - 1.0;
                double px = 0.0, pz = 0.0;
                if (!plane.At(nx, ny, px, pz) || std::fabs(px) >= 4.0 || std::fabs(pz) >= 4.0)
                {
                    return false;
                }
            }
        }
        return true;
    };
    int checked = 0;
    for (int y = 0; y < kHeight; ++y)
    {
        for (int x = 0; x < kWidth; ++x)
        {
            if (!inside(x, y))
            {
                continue;
            }
            ++checked;
            const unsigned char* p = &pixels[(size_t(y) * kWidth + x) * 4];
            // The clear colour (0.5, 0.5, 1.0).
            const bool background =
                std::abs(p[0] - 128) <= 2 && std::abs(p[1] - 128) <= 2 && p[2] >= 253;
            ASSERT_FALSE(background) << "background at pixel " << x << ", " << y;
        }
    }
    EXPECT_GT(checked, kWidth * kHeight / 4);
    ASSERT_NE(demo->GetRefinement(), nullptr);
    EXPECT_GT(demo->GetRefinement()->SplitTriangles(), 0);
}

TEST(RefinementTest, RefinementKeepsEveryShadowTheUniformDensityShows)
{
    Fixture fixture;
    const CameraView view = View();
    const auto uniform = fixture.Load(false, DrawnVertices::InOpenGlBuffer);
    uniform->Render(view, kWidth, kHeight, true, true, false);
    const std::vector<unsigned char> uniformPixels = ReadPixels();
    const auto refined = fixture.Load(true, DrawnVertices::InOpenGlBuffer);
    refined->Render(view, kWidth, kHeight, true, true, true);
    const std::vector<unsigned char> refinedPixels = ReadPixels();

    // On the white plane, green under 150 is the sky's light alone, or nearly.
    const auto green = [](const std::vector<unsigned char>& pixels, int x, int y)
    { return pixels[(size_t(y) * kWidth + x) * 4 + 1]; };
    int shadowed = 0, lost = 0;
    for (int y = 1; y + 1 < kHeight; ++y)
    {
        for (int x = 1; x + 1 < kWidth; ++x)
        {
            if (green(uniformPixels, x, y) >= 150)
            {
                continue;
            }
            ++shadowed;
            bool kept = false;
            for (int dy = -1; dy <= 1; ++dy)
            {
                for (int dx = -1; dx <= 1; ++dx)
                {
                    kept |= green(refinedPixels, x + dx, y + dy) < 150;
                }
            }
            lost += kept ? 0 : 1;
        }
    }
    EXPECT_GT(shadowed, 500);
    EXPECT_EQ(lost, 0) << "of " << shadowed << " shadowed pixels";
}

} // namespace
