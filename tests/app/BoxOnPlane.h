#pragma once
// The frame tests' scene, a unit box standing on an 8 x 8 plane at y = 0, and the plane's
// point under a pixel, worked out from a frame's matrices independently of the raster pass.
#include "scene/VectorTypes.h"

// An 8 x 8 plane at y = 0 and a unit box standing on its centre, as OBJ.
inline const char* const kBoxOnPlane = R"(
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

// The inverse of the projection of the plane y = 0 by viewProj: from normalised device
// coordinates back to the plane's point.
class PlaneUnderPixels
{
public:
    explicit PlaneUnderPixels(const Mat4& viewProj)
    {
        // (X, Z, 1) on the plane to clip (x, y, w): columns 0, 2 and 3, rows 0, 1 and 3.
        const auto& m = viewProj.m;
        const double h[3][3] = {{m[0], m[8], m[12]}, {m[1], m[9], m[13]}, {m[3], m[11], m[15]}};
        const double det = h[0][0] * (h[1][1] * h[2][2] - h[1][2] * h[2][1]) -
                           h[0][1] * (h[1][0] * h[2][2] - h[1][2] * h[2][0]) +
                           h[0][2] * (h[1][0] * h[2][1] - h[1][1] * h[2][0]);
        for (int r = 0; r < 3; ++r)
        {
            for (int c = 0; c < 3; ++c)
            {
                // The adjugate's element (r, c) is the cofactor of (c, r).
                const int r0 = (c + 1) % 3, r1 = (c + 2) % 3, c0 = (r + 1) % 3, c1 = (r + 2) % 3;
                m_inverse[r][c] = (h[r0][c0] * h[r1][c1] - h[r0][c1] * h[r1][c0]) / det;
            }
        }
    }

    // The plane's point (x, z) that normalised device coordinates (nx, ny) show; false
    // above the horizon.
    bool At(double nx, double ny, double& x, double& z) const
    {
        const double px = m_inverse[0][0] * nx + m_inverse[0][1] * ny + m_inverse[0][2];
        const double pz = m_inverse[1][0] * nx + m_inverse[1][1] * ny + m_inverse[1][2];
        const double pw = m_inverse[2][0] * nx + m_inverse[2][1] * ny + m_inverse[2][2];
        if (pw <= 0.0)
        {
            return false;
        }
        x = px / pw;
        z = pz / pw;
        return true;
    }

private:
    double m_inverse[3][3];
};
