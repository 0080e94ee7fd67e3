#include "scene/Tessellation.h"

#include "scene/VectorMath.h"
#include "util/MachineMemory.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace
{

float TriangleArea(const Float3& a, const Float3& b, const Float3& c)
{
    return 0.5f * Length(Cross(b - a, c - a));
}

// NaN compares false; an infinite area is a leaf too, or the recursion would never
// end. Both the count and the refinement decide here, so they always agree.
bool MustSplit(const Float3& a, const Float3& b, const Float3& c, float threshold)
{
    const float area = TriangleArea(a, b, c);
    return std::isfinite(area) && area > threshold;
}

bool CountLeaves(const Float3& a, const Float3& b, const Float3& c, float threshold,
                 std::uint64_t cap, std::uint64_t& count)
{
    if (!MustSplit(a, b, c, threshold))
    {
        count += 3;
        return count <= cap;
    }
    const Float3 ab = Halfway(a, b);
    const Float3 bc = Halfway(b, c);
    const Float3 ca = Halfway(c, a);
    return CountLeaves(a, ab, ca, threshold, cap, count) &&
           CountLeaves(ab, bc, ca, threshold, cap, count) &&
           CountLeaves(ab, b, bc, threshold, cap, count) &&
           CountLeaves(ca, bc, c, threshold, cap, count);
}

} // namespace

float TessellationThreshold()
{
    // Built from its bits at run time so that no compiler setting can turn the
    // decimal spelling into a neighbouring float.
    const std::uint32_t bits = 0x3AD1B719u;
    float c;
    std::memcpy(&c, &bits, sizeof c);
    return 0.5f * std::sqrt(c);
}

_Vertex Midpoint(const _Vertex& a, const _Vertex& b)
{
    _Vertex m;
    m.position = Halfway(a.position, b.position);
    m.normal = Halfway(a.normal, b.normal);
    m.texCoord = {a.texCoord.x * 0.5f + b.texCoord.x * 0.5f,
                  a.texCoord.y * 0.5f + b.texCoord.y * 0.5f};
    m.color = Halfway(a.color, b.color);

    if (Length(m.normal) > 0.0f)
    {
        m.normal = Normalize(m.normal);
    }
    return m;
}

void TessellateTriangle(const _Vertex& a, const _Vertex& b, const _Vertex& c, float threshold,
                        std::vector<_Vertex>& out)
{
    if (!MustSplit(a.position, b.position, c.position, threshold))
    {
        out.push_back(a);
        out.push_back(b);
        out.push_back(c);
        return;
    }
    const _Vertex ab = Midpoint(a, b);
    const _Vertex bc = Midpoint(b, c);
    const _Vertex ca = Midpoint(c, a);
    TessellateTriangle(a, ab, ca, threshold, out);
    TessellateTriangle(ab, bc, ca, threshold, out);
    TessellateTriangle(ab, b, bc, threshold, out);
    TessellateTriangle(ca, bc, c, threshold, out);
}

void TessellateTriangles(std::vector<_Vertex>& vertices, float threshold)
{
    TessellateTriangles(vertices, threshold,
                        CountTessellatedVertices(vertices, threshold, UINT64_MAX));
}

void TessellateTriangles(std::vector<_Vertex>& vertices, float threshold, std::uint64_t count)
{
    // A split triangle gives at least four, so only a list with no triangle to split
    // keeps its count: it is its own refinement.
    if (count == vertices.size())
    {
        return;
    }
    std::vector<_Vertex> out;
    out.reserve(count);
    for (size_t t = 0; t + 2 < vertices.size(); t += 3)
    {
        TessellateTriangle(vertices[t], vertices[t + 1], vertices[t + 2], threshold, out);
    }
    vertices = std::move(out);
}

std::uint64_t CountTessellatedVertices(const std::vector<_Vertex>& vertices, float threshold,
                                       std::uint64_t cap)
{
    std::uint64_t count = 0;
    for (size_t t = 0; t + 2 < vertices.size(); t += 3)
    {
        if (!CountLeaves(vertices[t].position, vertices[t + 1].position, vertices[t + 2].position,
                         threshold, cap, count))
        {
            break;
        }
    }
    return count;
}

double EstimateTessellatedVertices(const std::vector<_Vertex>& vertices, float threshold,
                                   double stopAbove)
{
    double total = 0.0;
    for (size_t t = 0; t + 2 < vertices.size() && total <= stopAbove; t += 3)
    {
        double area =
            TriangleArea(vertices[t].position, vertices[t + 1].position, vertices[t + 2].position);
        double count = 3.0;
        while (std::isfinite(area) && area > threshold)
        {
            area *= 0.25;
            count *= 4.0;
        }
        total += count;
    }
    return total;
}

std::uint64_t TessellationVertexBudget()
{
    const std::uint64_t memory = MachineMemory();
    if (memory == 0)
    {
        return kTessellationVertexBudget;
    }
    const auto fits = static_cast<std::uint64_t>(static_cast<double>(memory) * kSceneMemoryShare /
                                                 static_cast<double>(kBytesPerVertex));
    return std::min(kTessellationVertexBudget, fits);
}
