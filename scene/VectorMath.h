#pragma once
// The arithmetic of Float3 and Mat4, written once for the scene, the tessellation, the
// camera, the framing and the occluder. Every operation keeps a fixed order of
// single-precision steps (sums left to right, normalising multiplies by the reciprocal of
// the length), because the tessellation's counts and the default camera's matrices are
// pinned to the bit.
#include "scene/VectorTypes.h"

#include <algorithm>
#include <cmath>

inline Float3 operator+(const Float3& a, const Float3& b)
{
    return {a.x + b.x, a.y + b.y, a.z + b.z};
}

inline Float3 operator-(const Float3& a, const Float3& b)
{
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}

inline Float3 operator-(const Float3& a)
{
    return {-a.x, -a.y, -a.z};
}

inline Float3 operator*(const Float3& v, float s)
{
    return {v.x * s, v.y * s, v.z * s};
}

// (a.x b.x + a.y b.y) + a.z b.z
inline float Dot(const Float3& a, const Float3& b)
{
    return a.x * b.x + a.y * b.y + a.z * b.z;
}

inline Float3 Cross(const Float3& a, const Float3& b)
{
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

inline float Length(const Float3& v)
{
    return std::sqrt(Dot(v, v));
}

// v times the reciprocal of its length: a zero vector gives non-finite components.
inline Float3 Normalize(const Float3& v)
{
    return v * (1.0f / Length(v));
}

// Every component a * 0.5 + b * 0.5, the order the tessellation's midpoints use.
inline Float3 Halfway(const Float3& a, const Float3& b)
{
    return a * 0.5f + b * 0.5f;
}

inline Float3 Min(const Float3& a, const Float3& b)
{
    return {std::min(a.x, b.x), std::min(a.y, b.y), std::min(a.z, b.z)};
}

inline Float3 Max(const Float3& a, const Float3& b)
{
    return {std::max(a.x, b.x), std::max(a.y, b.y), std::max(a.z, b.z)};
}

inline Mat4 Identity()
{
    return Mat4{{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}};
}

// a * b: applied to a point, b acts first.
inline Mat4 Multiply(const Mat4& a, const Mat4& b)
{
    Mat4 result{};
    for (int c = 0; c < 4; ++c)
    {
        for (int r = 0; r < 4; ++r)
        {
            float sum = 0.0f;
            for (int k = 0; k < 4; ++k)
            {
                sum += a.m[4 * k + r] * b.m[4 * c + k];
            }
            result.m[4 * c + r] = sum;
        }
    }
    return result;
}

// The point p (w = 1) moved by m; the bottom row of m is taken to be (0, 0, 0, 1).
inline Float3 TransformPoint(const Mat4& m, const Float3& p)
{
    const float* e = m.m;
    return {e[0] * p.x + e[4] * p.y + e[8] * p.z + e[12],
            e[1] * p.x + e[5] * p.y + e[9] * p.z + e[13],
            e[2] * p.x + e[6] * p.y + e[10] * p.z + e[14]};
}
