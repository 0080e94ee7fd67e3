#pragma once
// The arithmetic of Float3, written once for the scene, the tessellation, the camera
// and the framing. Every operation keeps a fixed order of single-precision steps
// (sums left to right, normalising multiplies by the reciprocal of the length), because
// the tessellation's counts and the default camera's matrices are pinned to the bit.
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
