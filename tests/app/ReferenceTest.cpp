// The per-pixel reference and the refinement's cut shadow edges on the real runtimes: a box
// standing on a plane, its shadow on the plane traced from every pixel, or from the split
// triangles' vertices and the crossings found on their sides, compared with the shadow
// worked out by hand.
#include "app/Camera.h"
#include "app/ComputeStartup.h"
#include "app/Demo.h"
#include "platform/GlContext.h"

#include "BoxOnPlane.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include <GL/glew.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <fstream>
#include <memory>
#include <vector>

namespace
{

constexpr int kWidth = 200;
constexpr int kHeight = 150;

using Vec = std::array<double, 3>;

// Whether the segment from a toward a + d * (0, tMax) passes through the box.
bool HitsBox(const Vec& a, const Vec& d, double tMax)
{
    const Vec lo{-0.5, 0.0, -0.5}, hi{0.5, 1.0, 0.5};
    double t0 = 0.0, t1 = tMax;
    for (int axis = 0; axis < 3; ++axis)
    {
        if (d[axis] == 0.0)
        {
            if (a[axis] < lo[axis] || a[axis] > hi[axis])
            {
                return false;
            }
            continue;
        }
        double near = (lo[axis] - a[axis]) / d[axis];
        double far = (hi[axis] - a[axis]) / d[axis];
        if (near > far)
        {
            std::swap(near, far);
        }
        t0 = std::max(t0, near);
        t1 = std::min(t1, far);
    }
    return t0 <= t1;
}

enum class Seen
{
    Other, // the background, the box, or the plane's far side
    Lit,
    Shadow,
};

// What the pixel's centre shows, worked out from the frame's matrices: the plane's
// point under it (the inverse of the projection of the plane y = 0), whether the box
// stands in front of it, and whether the box stands between it and the light.
std::vector<Seen> ShadowByHand(const Mat4& viewProj, const Vec& eye, const Vec& toLight)
{
    const PlaneUnderPixels plane(viewProj);
    std::vector<Seen> seen(size_t(kWidth) * kHeight, Seen::Other);
    for (int y = 0; y < kHeight; ++y)
    {
        for (int x = 0; x < kWidth; ++x)
        {
            const double nx = 2.0 * (x + 0.5) / kWidth - 1.0;
            const double ny = 2.0 * (y + 0.5) / kHeight - 1.0;
            double px = 0.0, pz = 0.0;
            if (!plane.At(nx, ny, px, pz))
            {
                continue; // above the horizon
            }
            const Vec p{px, 0.0, pz};
            if (std::fabs(p[0]) > 4.0 || std::fabs(p[2]) > 4.0)
            {
                continue;
            }
            const Vec toPoint{p[0] - eye[0], p[1] - eye[1], p[2] - eye[2]};
            if (HitsBox(eye, toPoint, 1.0))
            {
                continue; // the box in front
            }
            seen[size_t(y) * kWidth + x] = HitsBox(p, toLight, 1e3) ? Seen::Shadow : Seen::Lit;
        }
    }
    return seen;
}

enum class Mode
{
    Reference,
    Refined,
};

void ExpectTheBoxShadowEdgeWithinAPixelOfTheEdgeWorkedOutByHand(Mode mode)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    std::ofstream(QDir(dir.path()).filePath("BoxOnPlane.obj").toStdString()) << kBoxOnPlane;
    auto gl = platform::GlContext::CreateHidden(kWidth, kHeight);
    glViewport(0, 0, kWidth, kHeight);
    Demo demo(*gl, StartCompute(nullptr));
    SceneRequest request;
    request.directory = dir.path().toStdString();
    request.fileName = "BoxOnPlane.obj";
    request.music = nullptr;
    if (mode == Mode::Refined)
    {
        request.load.coarsen = kRefinedCoarsening;
    }
    demo.LoadScene(request);

    // Low, from -x and +z, so that the shadow is long and falls toward the camera.
    const double length = std::sqrt(1.0 + 0.8 * 0.8 + 0.4 * 0.4);
    const Vec toLight{-1.0 / length, 0.8 / length, 0.4 / length};
    const Float3 light{float(-toLight[0]), float(-toLight[1]), float(-toLight[2])};
    const CameraView view{{3.5f, 3.5f, -2.0f}, {0.6f, 0.0f, -0.3f}, light};
    if (mode == Mode::Reference)
    {
        demo.RenderReference(view, kWidth, kHeight, true);
    }
    else
    {
        demo.Render(view, kWidth, kHeight, true, true, true);
        ASSERT_GT(demo.GetRefinement()->Cuts(), 0);
    }

    std::vector<unsigned char> pixels(size_t(kWidth) * kHeight * 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glReadBuffer(GL_BACK);
    glReadPixels(0, 0, kWidth, kHeight, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());

    const Mat4 viewProj = Multiply(Perspective(float(kWidth) / float(kHeight)),
                                   LookAt(view.eye, view.target, Float3{0.0f, 1.0f, 0.0f}));
    const Vec eye{view.eye.x, view.eye.y, view.eye.z};
    const std::vector<Seen> byHand = ShadowByHand(viewProj, eye, toLight);

    // In the open the plane's green is the sky's and the sun's, over 240 of 255; in the
    // box's shadow it is the sky's alone, about 122.
    int shadowed = 0, lit = 0, far = 0;
    for (int y = 1; y + 1 < kHeight; ++y)
    {
        for (int x = 1; x + 1 < kWidth; ++x)
        {
            const Seen expected = byHand[size_t(y) * kWidth + x];
            if (expected == Seen::Other)
            {
                continue;
            }
            (expected == Seen::Shadow ? shadowed : lit)++;
            const bool drawnLit = pixels[(size_t(y) * kWidth + x) * 4 + 1] > 190;
            if (drawnLit == (expected == Seen::Lit))
            {
                continue;
            }
            // A pixel may fall on either side only where the edge passes within a pixel.
            bool nearEdge = false;
            for (int dy = -1; dy <= 1; ++dy)
            {
                for (int dx = -1; dx <= 1; ++dx)
                {
                    nearEdge |= byHand[size_t(y + dy) * kWidth + x + dx] != expected;
                }
            }
            if (!nearEdge)
            {
                ++far;
                ADD_FAILURE_AT(__FILE__, __LINE__)
                    << "pixel " << x << ", " << y << (drawnLit ? " lit" : " in shadow")
                    << ", more than a pixel from the edge";
                ASSERT_LT(far, 10);
            }
        }
    }
    EXPECT_GT(shadowed, 1500);
    EXPECT_GT(lit, 5000);
}

TEST(PixelReferenceTest, TheBoxShadowEdgeLiesWithinAPixelOfTheEdgeWorkedOutByHand)
{
    ExpectTheBoxShadowEdgeWithinAPixelOfTheEdgeWorkedOutByHand(Mode::Reference);
}

// The sub-triangles the shadow's edge crosses are cut along it, so the refined picture's
// edge is as sharp as the reference's, not a ramp a sub-edge wide.
TEST(RefinementTest, TheCutShadowEdgeLiesWithinAPixelOfTheEdgeWorkedOutByHand)
{
    ExpectTheBoxShadowEdgeWithinAPixelOfTheEdgeWorkedOutByHand(Mode::Refined);
}

} // namespace
