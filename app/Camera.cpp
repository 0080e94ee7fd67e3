#include "app/Camera.h"

#include "scene/VectorMath.h"

#include <cmath>
#include <cstdint>
#include <cstring>

namespace
{

// Constants are given by their bits so that every build uses exactly the same floats.
float FloatFromBits(std::uint32_t bits)
{
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

// Half of a 45 degree field of view, with pi taken as 3.1415.
const float kHalfFieldOfView = FloatFromBits(0x3EC90E56u); // 0.3926875
// -(far + near) / (far - near) and -2 far near / (far - near), near 0.1, far 1000,
// each evaluated in single precision.
const float kDepthScale = FloatFromBits(0xBF80068Du);  // -1.0002
const float kDepthOffset = FloatFromBits(0xBE4CD20Bu); // -0.20002

} // namespace

Mat4 LookAt(const Float3& eye, const Float3& target, const Float3& up)
{
    const Float3 f = Normalize(target - eye);
    const Float3 s = Normalize(Cross(f, up));
    const Float3 u = Cross(s, f); // unit length already
    return Mat4{{s.x, u.x, -f.x, 0, s.y, u.y, -f.y, 0, s.z, u.z, -f.z, 0, -Dot(s, eye),
                 -Dot(u, eye), Dot(f, eye), 1}};
}

Mat4 Perspective(float aspect)
{
    const float t = std::tan(kHalfFieldOfView);
    Mat4 p{};
    p.m[0] = 1.0f / (t * aspect);
    p.m[5] = 1.0f / t;
    p.m[10] = kDepthScale;
    p.m[11] = -1.0f;
    p.m[14] = kDepthOffset;
    return p;
}

Float3 CameraPosition(float lightAngle)
{
    return {std::cos(lightAngle * 0.5f) * -kCameraOrbitRadius, kCameraHeight,
            std::sin(lightAngle * 0.5f) * kCameraOrbitRadius};
}

Float3 LightDirection(float lightAngle)
{
    const float s = std::sin(lightAngle);
    const float c = std::cos(lightAngle);
    const float length = std::sqrt((c * c + 1.0f) + s * s);
    return {c / length, -1.0f / length, s / length};
}
