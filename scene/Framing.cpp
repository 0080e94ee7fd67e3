#include "scene/Framing.h"

#include "scene/Tessellation.h"
#include "scene/VectorMath.h"

#include <cmath>

Bounds BoundsOf(const std::vector<Float3>& points)
{
    Bounds bounds;
    if (points.empty())
    {
        return bounds;
    }
    bounds.min = bounds.max = points.front();
    for (const Float3& p : points)
    {
        bounds.min = Min(bounds.min, p);
        bounds.max = Max(bounds.max, p);
    }
    return bounds;
}

double SquaredDiagonal(const Bounds& bounds)
{
    const double x = double(bounds.max.x) - bounds.min.x;
    const double y = double(bounds.max.y) - bounds.min.y;
    const double z = double(bounds.max.z) - bounds.min.z;
    return x * x + y * y + z * z;
}

Mat4 FrameBounds(const Bounds& bounds)
{
    const double halfDiagonal = 0.5 * std::sqrt(SquaredDiagonal(bounds));
    const double scale =
        halfDiagonal > 0.0 && std::isfinite(halfDiagonal) ? kFramedRadius / halfDiagonal : 1.0;
    // The centre in double precision: a box far from the origin keeps its digits.
    const double centre[3] = {0.5 * (double(bounds.min.x) + bounds.max.x),
                              0.5 * (double(bounds.min.y) + bounds.max.y),
                              0.5 * (double(bounds.min.z) + bounds.max.z)};
    const double target[3] = {kFrameCentre.x, kFrameCentre.y, kFrameCentre.z};
    Mat4 world = Identity();
    for (int axis = 0; axis < 3; ++axis)
    {
        world.m[5 * axis] = static_cast<float>(scale);
        world.m[12 + axis] = static_cast<float>(target[axis] - scale * centre[axis]);
    }
    return world;
}

std::vector<_Vertex> FloorUnder(const Bounds& bounds)
{
    const float reach = static_cast<float>(0.75 * std::sqrt(SquaredDiagonal(bounds)));
    const float x = 0.5f * (bounds.min.x + bounds.max.x);
    const float z = 0.5f * (bounds.min.z + bounds.max.z);
    const float y = bounds.min.y;
    auto corner = [&](float dx, float dz, float u, float v)
    {
        _Vertex vertex;
        vertex.position = {x + dx * reach, y, z + dz * reach};
        vertex.normal = {0.0f, 1.0f, 0.0f};
        vertex.texCoord = {u, v};
        vertex.color = {1.0f, 1.0f, 1.0f};
        return vertex;
    };
    // Its texture repeats three times along each side.
    const _Vertex nearLeft = corner(-1, -1, 0, 0), farLeft = corner(-1, 1, 0, 3);
    const _Vertex farRight = corner(1, 1, 3, 3), nearRight = corner(1, -1, 3, 0);
    // Counter-clockwise seen from above, so that back-face culling keeps the top.
    return {nearLeft, farLeft, farRight, nearLeft, farRight, nearRight};
}

float RefinementThreshold(const std::vector<const std::vector<_Vertex>*>& triangleLists,
                          double squaredDiagonal, double relativeDetail)
{
    // A box without extent has nothing to refine; any positive threshold will do.
    const double size = squaredDiagonal > 0.0 ? squaredDiagonal : 1.0;
    if (relativeDetail > 0.0)
    {
        return static_cast<float>(relativeDetail * size);
    }
    // The finest threshold, from a sixteenth of the shipped density up by doublings,
    // whose estimated count fits: each doubling about halves the count, and past the
    // whole box's size no triangle is split any more, so the search ends there at the
    // latest.
    float threshold = static_cast<float>(kFramedRelativeDetail / 16.0 * size);
    // Every triangle counts at least its three corners: where those alone pass the limit,
    // no threshold fits and the search ends where the doublings pass the box's size.
    double corners = 0.0;
    for (const std::vector<_Vertex>* triangles : triangleLists)
    {
        corners += static_cast<double>(triangles->size() / 3 * 3);
    }
    const bool nothingFits = corners > kInteractiveVertexCount;
    for (int step = 0; step < 64 && threshold < size; ++step)
    {
        if (nothingFits)
        {
            threshold *= 2.0f;
            continue;
        }
        double estimate = 0.0;
        for (const std::vector<_Vertex>* triangles : triangleLists)
        {
            // Beyond the limit the sum need not go on: it only grows.
            estimate += EstimateTessellatedVertices(*triangles, threshold,
                                                    kInteractiveVertexCount - estimate);
        }
        if (estimate <= kInteractiveVertexCount)
        {
            break;
        }
        threshold *= 2.0f;
    }
    return threshold;
}
