// Brute-force occlusion in double precision, the yardstick of the library's answers.
#pragma once

#include "rr/radeon_rays.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace rrtest
{

struct RefTriangle
{
    double v[3][3];
    int shapeid;
};

struct RefAnswer
{
    std::vector<int> occluders; // ids of every shape with a triangle that occludes the ray
    bool nearBoundary = false;  // within float rounding of an edge, of a ray end or edge-on
};

// Distance, relative to the largest coordinate involved, below which single-precision rounding
// may decide whether a ray meets a triangle: a few units in the last place of a float.
constexpr double kHair = 4e-6;

inline double Length(const double* a)
{
    return std::sqrt(a[0] * a[0] + a[1] * a[1] + a[2] * a[2]);
}

inline RefAnswer ReferenceOcclusion(const RadeonRays::ray& r, const std::vector<RefTriangle>& tris)
{
    RefAnswer answer;
    if (!r.active)
        return answer;
    const double o[3] = {r.o[0], r.o[1], r.o[2]};
    const double d[3] = {r.d[0], r.d[1], r.d[2]};
    const double dlen = Length(d);
    if (dlen == 0.0)
        return answer;
    for (const RefTriangle& t : tris)
    {
        double e1[3], e2[3], s[3];
        for (int k = 0; k < 3; ++k)
        {
            e1[k] = t.v[1][k] - t.v[0][k];
            e2[k] = t.v[2][k] - t.v[0][k];
            s[k] = o[k] - t.v[0][k];
        }
        const double n[3] = {e1[1] * e2[2] - e1[2] * e2[1], e1[2] * e2[0] - e1[0] * e2[2],
                             e1[0] * e2[1] - e1[1] * e2[0]};
        const double nlen = Length(n);
        if (nlen == 0.0)
            continue; // degenerate: never occludes
        double scale = 1.0;
        for (int k = 0; k < 3; ++k)
            scale = std::max({scale, std::fabs(o[k]), std::fabs(t.v[0][k]), std::fabs(t.v[1][k]),
                              std::fabs(t.v[2][k])});
        const double tol = kHair * scale;

        // Moeller-Trumbore, both faces.
        const double p[3] = {d[1] * e2[2] - d[2] * e2[1], d[2] * e2[0] - d[0] * e2[2],
                             d[0] * e2[1] - d[1] * e2[0]};
        const double det = e1[0] * p[0] + e1[1] * p[1] + e1[2] * p[2];
        if (std::fabs(det) <= 1e-6 * nlen * dlen)
        {
            // Nearly edge-on: whether it counts hinges on rounding.
            if (std::fabs(s[0] * n[0] + s[1] * n[1] + s[2] * n[2]) <= tol * nlen * 10 || det != 0.0)
                answer.nearBoundary = true;
            continue;
        }
        const double inv = 1.0 / det;
        const double q[3] = {s[1] * e1[2] - s[2] * e1[1], s[2] * e1[0] - s[0] * e1[2],
                             s[0] * e1[1] - s[1] * e1[0]};
        const double b1 = (s[0] * p[0] + s[1] * p[1] + s[2] * p[2]) * inv;
        const double b2 = (d[0] * q[0] + d[1] * q[1] + d[2] * q[2]) * inv;
        const double tt = (e2[0] * q[0] + e2[1] * q[1] + e2[2] * q[2]) * inv;
        const double bary[3] = {1.0 - b1 - b2, b1, b2};
        // Distance of the hit point from each edge line: barycentric times the height.
        double edges[3][3];
        for (int k = 0; k < 3; ++k)
        {
            edges[0][k] = t.v[2][k] - t.v[1][k];
            edges[1][k] = e2[k];
            edges[2][k] = e1[k];
        }
        bool inside = true, withinTol = true, nearEdge = false;
        for (int i = 0; i < 3; ++i)
        {
            const double dist = bary[i] * nlen / Length(edges[i]);
            inside = inside && bary[i] >= 0.0;
            withinTol = withinTol && dist >= -tol;
            nearEdge = nearEdge || std::fabs(dist) <= tol;
        }
        const bool tInside = tt > 0.0 && tt < r.maxt;
        const bool tNear = std::fabs(tt) * dlen <= tol || std::fabs(tt - r.maxt) * dlen <= tol;
        if (withinTol && (nearEdge || tNear))
            answer.nearBoundary = true;
        if (inside && tInside)
            answer.occluders.push_back(t.shapeid);
    }
    return answer;
}

// Whether the library's answer agrees with the reference.
inline bool Agrees(int id, const RefAnswer& ref)
{
    if (ref.occluders.empty())
        return id == -1;
    return std::find(ref.occluders.begin(), ref.occluders.end(), id) != ref.occluders.end();
}

} // namespace rrtest
