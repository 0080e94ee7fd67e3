// The camera arithmetic: the exact floats of the projection, and the geometric
// promises of the look-at matrix and the product; the controls, which leave the
// demo's camera and light exactly as they are until the user moves them.
#include "app/Camera.h"
#include "app/ViewControls.h"
#include "scene/VectorMath.h"

#include <gtest/gtest.h>

#include <QKeyEvent>
#include <QMouseEvent>
#include <QWheelEvent>

#include <cmath>
#include <cstdint>
#include <cstring>

namespace
{

std::uint32_t Bits(float value)
{
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

// M * (x, y, z, w) with M column-major.
void Transform(const Mat4& m, const float in[4], float out[4])
{
    for (int r = 0; r < 4; ++r)
    {
        out[r] = m.m[r] * in[0] + m.m[4 + r] * in[1] + m.m[8 + r] * in[2] + m.m[12 + r] * in[3];
    }
}

TEST(Perspective, HasTheExactConstants)
{
    const Mat4 p = Perspective(4.0f / 3.0f);
    EXPECT_EQ(Bits(p.m[10]), 0xBF80068Du);
    EXPECT_EQ(Bits(p.m[14]), 0xBE4CD20Bu);
    EXPECT_EQ(p.m[11], -1.0f);
    EXPECT_EQ(p.m[15], 0.0f);

    float halfField;
    const std::uint32_t halfFieldBits = 0x3EC90E56u;
    std::memcpy(&halfField, &halfFieldBits, sizeof halfField);
    const float t = std::tan(halfField);
    EXPECT_EQ(Bits(p.m[5]), Bits(1.0f / t));
    EXPECT_EQ(Bits(p.m[0]), Bits(1.0f / (t * (4.0f / 3.0f))));
    for (int i : {1, 2, 3, 4, 6, 7, 8, 9, 12, 13})
    {
        EXPECT_EQ(p.m[i], 0.0f) << "element " << i;
    }
}

TEST(Perspective, MapsNearAndFarPlanesToTheDepthRange)
{
    const Mat4 p = Perspective(1.0f);
    const float nearPoint[4] = {0, 0, -0.1f, 1}, farPoint[4] = {0, 0, -1000.0f, 1};
    float clip[4];
    Transform(p, nearPoint, clip);
    EXPECT_NEAR(clip[2] / clip[3], -1.0f, 1e-4f);
    Transform(p, farPoint, clip);
    EXPECT_NEAR(clip[2] / clip[3], 1.0f, 1e-4f);
}

TEST(LookAt, IsARigidMotionThatTakesTheEyeToTheOrigin)
{
    const Float3 eye{0, 10, 15};
    const Mat4 v = LookAt(eye, {0, 1, 0}, {0, 1, 0});
    EXPECT_EQ(v.m[3], 0.0f);
    EXPECT_EQ(v.m[7], 0.0f);
    EXPECT_EQ(v.m[11], 0.0f);
    EXPECT_EQ(v.m[15], 1.0f);
    for (int a = 0; a < 3; ++a)
    {
        for (int b = 0; b < 3; ++b)
        {
            // Rows of the upper 3x3 block are orthonormal.
            const float dot = v.m[a] * v.m[b] + v.m[4 + a] * v.m[4 + b] + v.m[8 + a] * v.m[8 + b];
            EXPECT_NEAR(dot, a == b ? 1.0f : 0.0f, 1e-6f);
        }
    }
    const float in[4] = {eye.x, eye.y, eye.z, 1};
    float out[4];
    Transform(v, in, out);
    EXPECT_NEAR(out[0], 0.0f, 1e-5f);
    EXPECT_NEAR(out[1], 0.0f, 1e-5f);
    EXPECT_NEAR(out[2], 0.0f, 1e-5f);
}

TEST(LookAt, TheTargetLiesStraightAheadAlongMinusZ)
{
    const Mat4 v = LookAt({-15, 10, 0}, {0, 1, 0}, {0, 1, 0});
    const float target[4] = {0, 1, 0, 1};
    float out[4];
    Transform(v, target, out);
    EXPECT_NEAR(out[0], 0.0f, 1e-5f);
    EXPECT_NEAR(out[1], 0.0f, 1e-5f);
    EXPECT_LT(out[2], 0.0f);
}

TEST(Multiply, MatchesAHandComputedProductInItsOperandOrder)
{
    // A = translation by (1, 2, 3); B = scale by 2. A * B scales first, then translates.
    Mat4 a = Identity();
    a.m[12] = 1;
    a.m[13] = 2;
    a.m[14] = 3;
    Mat4 b = Identity();
    b.m[0] = b.m[5] = b.m[10] = 2;
    const Mat4 ab = Multiply(a, b);
    const Mat4 expectedAb{{2, 0, 0, 0, 0, 2, 0, 0, 0, 0, 2, 0, 1, 2, 3, 1}};
    const Mat4 ba = Multiply(b, a);
    const Mat4 expectedBa{{2, 0, 0, 0, 0, 2, 0, 0, 0, 0, 2, 0, 2, 4, 6, 1}};
    for (int i = 0; i < 16; ++i)
    {
        EXPECT_EQ(ab.m[i], expectedAb.m[i]) << "A*B element " << i;
        EXPECT_EQ(ba.m[i], expectedBa.m[i]) << "B*A element " << i;
    }
}

TEST(Multiply, IdentityOnEitherSideChangesNothing)
{
    const Mat4 v = LookAt({3, 4, 5}, {0, 1, 0}, {0, 1, 0});
    const Mat4 left = Multiply(Identity(), v), right = Multiply(v, Identity());
    for (int i = 0; i < 16; ++i)
    {
        EXPECT_EQ(left.m[i], v.m[i]);
        EXPECT_EQ(right.m[i], v.m[i]);
    }
}

TEST(FrameCamera, OrbitsAtRadius15AndHeight10StartingOnMinusX)
{
    const Float3 start = CameraPosition(0.0f);
    EXPECT_FLOAT_EQ(start.x, -15.0f);
    EXPECT_FLOAT_EQ(start.y, 10.0f);
    EXPECT_FLOAT_EQ(start.z, 0.0f);
    for (float angle : {0.3f, 2.0f, 7.5f, 100.0f})
    {
        const Float3 e = CameraPosition(angle);
        EXPECT_FLOAT_EQ(e.y, 10.0f);
        EXPECT_NEAR(std::hypot(e.x, e.z), 15.0f, 1e-4f);
    }
}

TEST(FrameCamera, LightComesDownAt45DegreesAndTurnsTwiceAsFastAsTheCamera)
{
    const Float3 d0 = LightDirection(0.0f);
    EXPECT_NEAR(d0.x, 1.0f / std::sqrt(2.0f), 1e-6f);
    EXPECT_NEAR(d0.z, 0.0f, 1e-6f);
    for (float angle : {0.0f, 1.0f, 2.5f, 40.0f})
    {
        const Float3 d = LightDirection(angle);
        EXPECT_NEAR(d.y, -1.0f / std::sqrt(2.0f), 1e-6f);
        EXPECT_NEAR(d.x * d.x + d.y * d.y + d.z * d.z, 1.0f, 1e-6f);
        // The light's heading is the angle itself; the camera's is half of it.
        EXPECT_NEAR(std::atan2(d.z, d.x), std::remainder(angle, 2.0f * float(M_PI)), 1e-4f);
    }
}

} // namespace

namespace
{

bool SameBits(const Float3& a, const Float3& b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

void Press(ViewControls& controls, int key)
{
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    controls.eventFilter(nullptr, &press);
}

void Drag(ViewControls& controls, Qt::MouseButton button, QPoint from, QPoint to)
{
    QMouseEvent down(QEvent::MouseButtonPress, from, button, button, Qt::NoModifier);
    QMouseEvent move(QEvent::MouseMove, to, Qt::NoButton, button, Qt::NoModifier);
    QMouseEvent up(QEvent::MouseButtonRelease, to, button, Qt::NoButton, Qt::NoModifier);
    controls.eventFilter(nullptr, &down);
    controls.eventFilter(nullptr, &move);
    controls.eventFilter(nullptr, &up);
}

TEST(ViewControls, WithoutInputTheCameraAndLightAreTheDemosToTheBit)
{
    ViewControls controls;
    float angle = 0.0f;
    for (float seconds : {0.37f, 0.016f, 1.25f, 0.0001f, 3.0f})
    {
        const ViewControls::View view = controls.Advance(seconds);
        angle += seconds * 0.5f;
        EXPECT_TRUE(SameBits(view.eye, CameraPosition(angle)));
        EXPECT_TRUE(SameBits(view.light, LightDirection(angle)));
        EXPECT_TRUE(SameBits(view.target, Float3{0.0f, 1.0f, 0.0f}));
    }
}

TEST(ViewControls, SpacePausesBothAndDragsMoveOnlyTheirOwn)
{
    ViewControls controls;
    const ViewControls::View start = controls.Advance(0.5f);
    Press(controls, Qt::Key_Space);
    const ViewControls::View paused = controls.Advance(2.0f);
    EXPECT_TRUE(SameBits(paused.eye, start.eye));
    EXPECT_TRUE(SameBits(paused.light, start.light));

    // A right drag turns the light and leaves the camera.
    Drag(controls, Qt::RightButton, {100, 100}, {160, 100});
    const ViewControls::View lightTurned = controls.Advance(2.0f);
    EXPECT_TRUE(SameBits(lightTurned.eye, start.eye));
    EXPECT_FALSE(SameBits(lightTurned.light, start.light));
    EXPECT_NEAR(lightTurned.light.y, start.light.y, 1e-6f); // still 45 degrees down

    // A left drag orbits the camera about the target, at the same distance.
    Drag(controls, Qt::LeftButton, {100, 100}, {40, 130});
    const ViewControls::View orbited = controls.Advance(2.0f);
    EXPECT_TRUE(SameBits(orbited.light, lightTurned.light));
    const float before = Length(start.eye - start.target);
    EXPECT_NEAR(Length(orbited.eye - orbited.target), before, 1e-4f);
    EXPECT_GT(Length(orbited.eye - start.eye), 0.5f);

    // The wheel brings it closer; Space again lets both turn.
    QWheelEvent wheel(QPointF(10, 10), QPointF(10, 10), QPoint(), QPoint(0, 240), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    controls.eventFilter(nullptr, &wheel);
    EXPECT_LT(Length(controls.Advance(0.0f).eye - start.target), 0.9f * before);
    Press(controls, Qt::Key_Space);
    EXPECT_FALSE(SameBits(controls.Advance(1.0f).light, lightTurned.light));
}

} // namespace
