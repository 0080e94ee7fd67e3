// Midpoint subdivision: counts, output order, the threshold boundary and the
// triangles that must stay leaves.
#include "scene/Tessellation.h"
#include "scene/VectorMath.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

namespace
{

std::uint32_t Bits(float f)
{
    std::uint32_t b;
    std::memcpy(&b, &f, sizeof b);
    return b;
}

_Vertex MakeVertex(float x, float y, float z, Float3 normal = {0, 0, 1})
{
    _Vertex v;
    v.position = {x, y, z};
    v.normal = normal;
    v.texCoord = {x, y};
    v.color = {1, 1, 1};
    return v;
}

bool SameVertex(const _Vertex& a, const _Vertex& b)
{
    return std::memcmp(&a, &b, sizeof(_Vertex)) == 0;
}

std::vector<_Vertex> Refine(const _Vertex& a, const _Vertex& b, const _Vertex& c)
{
    std::vector<_Vertex> out;
    TessellateTriangle(a, b, c, TessellationThreshold(), out);
    return out;
}

} // namespace

TEST(Tessellation, ThresholdIsTheFloatWithBits3CA3D70B)
{
    EXPECT_EQ(Bits(TessellationThreshold()), 0x3CA3D70Bu);
    EXPECT_GT(TessellationThreshold(), 0.02f);
}

TEST(Tessellation, UnitRightTriangleGives192Vertices)
{
    const auto out = Refine(MakeVertex(0, 0, 0), MakeVertex(1, 0, 0), MakeVertex(0, 1, 0));
    EXPECT_EQ(out.size(), 192u);
}

TEST(Tessellation, OneSplitEmitsCornerACentreCornerBCornerC)
{
    // Area 0.045: split once into four children of 0.01125 each.
    const _Vertex a = MakeVertex(0, 0, 0);
    const _Vertex b = MakeVertex(0.3f, 0, 0);
    const _Vertex c = MakeVertex(0, 0.3f, 0);
    const auto out = Refine(a, b, c);
    ASSERT_EQ(out.size(), 12u);
    const _Vertex ab = Midpoint(a, b);
    const _Vertex bc = Midpoint(b, c);
    const _Vertex ca = Midpoint(c, a);
    const _Vertex expected[12] = {a, ab, ca, ab, bc, ca, ab, b, bc, ca, bc, c};
    for (int i = 0; i < 12; ++i)
    {
        EXPECT_TRUE(SameVertex(out[i], expected[i])) << "vertex " << i;
    }
}

TEST(Tessellation, MidpointAveragesEveryFloat)
{
    _Vertex a = MakeVertex(0, 2, 4, {1, 0, 0});
    _Vertex b = MakeVertex(2, 4, 8, {0, 1, 0});
    a.texCoord = {0, 1};
    b.texCoord = {1, 0};
    const _Vertex m = Midpoint(a, b);
    EXPECT_EQ(m.position.x, 1.0f);
    EXPECT_EQ(m.position.y, 3.0f);
    EXPECT_EQ(m.position.z, 6.0f);
    EXPECT_EQ(m.texCoord.x, 0.5f);
    EXPECT_EQ(m.texCoord.y, 0.5f);
    EXPECT_NEAR(m.normal.x, std::sqrt(0.5f), 1e-7f);
    EXPECT_NEAR(m.normal.y, std::sqrt(0.5f), 1e-7f);
    EXPECT_EQ(m.normal.z, 0.0f);
}

TEST(Tessellation, AreaEqualToThresholdIsNotSplit)
{
    // A right triangle with legs 1 and 2t has area exactly t in single precision.
    const float t = TessellationThreshold();
    const _Vertex a = MakeVertex(0, 0, 0);
    const _Vertex b = MakeVertex(1, 0, 0);
    const _Vertex c = MakeVertex(0, 2 * t, 0);
    const auto out = Refine(a, b, c);
    ASSERT_EQ(out.size(), 3u);
    EXPECT_TRUE(SameVertex(out[0], a));
    EXPECT_TRUE(SameVertex(out[1], b));
    EXPECT_TRUE(SameVertex(out[2], c));

    // One unit in the last place more and it is split.
    const _Vertex larger = MakeVertex(0, std::nextafter(2 * t, 1.0f), 0);
    EXPECT_EQ(Refine(a, b, larger).size(), 12u);
}

TEST(Tessellation, DegenerateTriangleIsALeaf)
{
    const _Vertex a = MakeVertex(0, 0, 0);
    const _Vertex b = MakeVertex(5, 0, 0);
    const _Vertex c = MakeVertex(10, 0, 0);
    EXPECT_EQ(Refine(a, b, c).size(), 3u);
    EXPECT_EQ(Refine(a, a, a).size(), 3u);
}

TEST(Tessellation, NonFiniteTrianglesAreLeaves)
{
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const _Vertex a = MakeVertex(0, 0, 0);
    const _Vertex b = MakeVertex(1, 0, 0);
    EXPECT_EQ(Refine(a, b, MakeVertex(0, inf, 0)).size(), 3u);
    EXPECT_EQ(Refine(a, b, MakeVertex(0, nan, 0)).size(), 3u);
    // Finite corners whose area overflows to infinity.
    const float big = 3e38f;
    EXPECT_EQ(
        Refine(MakeVertex(-big, -big, 0), MakeVertex(big, -big, 0), MakeVertex(0, big, 0)).size(),
        3u);
}

TEST(Tessellation, MidpointNormalsAreUnitLength)
{
    const float s = std::sqrt(1.0f / 3.0f);
    const auto out = Refine(MakeVertex(0, 0, 0, {1, 0, 0}), MakeVertex(2, 0, 0, {0, 1, 0}),
                            MakeVertex(0, 2, 0, {s, s, s}));
    ASSERT_GT(out.size(), 3u);
    for (const _Vertex& v : out)
    {
        EXPECT_NEAR(Length(v.normal), 1.0f, 1e-6f);
    }
}

TEST(Tessellation, OppositeNormalsKeepTheirZeroAverage)
{
    const _Vertex m = Midpoint(MakeVertex(0, 0, 0, {0, 0, 1}), MakeVertex(1, 0, 0, {0, 0, -1}));
    EXPECT_EQ(m.normal.x, 0.0f);
    EXPECT_EQ(m.normal.y, 0.0f);
    EXPECT_EQ(m.normal.z, 0.0f);
}

TEST(Tessellation, ColoursStayWhite)
{
    const auto out = Refine(MakeVertex(0, 0, 0), MakeVertex(3, 0, 0), MakeVertex(0, 3, 0));
    ASSERT_GT(out.size(), 3u);
    for (const _Vertex& v : out)
    {
        EXPECT_EQ(v.color.x, 1.0f);
        EXPECT_EQ(v.color.y, 1.0f);
        EXPECT_EQ(v.color.z, 1.0f);
    }
}

TEST(Tessellation, EmptyListStaysEmpty)
{
    std::vector<_Vertex> none;
    TessellateTriangles(none, TessellationThreshold());
    EXPECT_TRUE(none.empty());
    EXPECT_EQ(CountTessellatedVertices(none, TessellationThreshold(), 100), 0u);
}

TEST(Tessellation, ListIsRefinedTriangleByTriangleInOrder)
{
    const _Vertex a = MakeVertex(0, 0, 0), b = MakeVertex(1, 0, 0), c = MakeVertex(0, 1, 0);
    const _Vertex d = MakeVertex(5, 5, 5), e = MakeVertex(5.1f, 5, 5), f = MakeVertex(5, 5.1f, 5);
    std::vector<_Vertex> list = {a, b, c, d, e, f};
    TessellateTriangles(list, TessellationThreshold());
    ASSERT_EQ(list.size(), 195u);
    EXPECT_TRUE(SameVertex(list[0], a));
    EXPECT_TRUE(SameVertex(list[192], d));
    EXPECT_TRUE(SameVertex(list[194], f));
    EXPECT_EQ(list.size() % 3, 0u);
}

TEST(Tessellation, CountMatchesTheRefinement)
{
    std::vector<_Vertex> list = {MakeVertex(0, 0, 0),          MakeVertex(2.7f, 0.1f, 0),
                                 MakeVertex(0.3f, 1.9f, 0.4f), MakeVertex(1, 1, 1),
                                 MakeVertex(1, 1, 1.05f),      MakeVertex(1.05f, 1, 1)};
    const std::uint64_t counted = CountTessellatedVertices(list, TessellationThreshold(), 1u << 30);
    const double estimated = EstimateTessellatedVertices(list, TessellationThreshold());
    TessellateTriangles(list, TessellationThreshold());
    EXPECT_EQ(counted, list.size());
    EXPECT_NEAR(estimated, static_cast<double>(list.size()), 0.25 * list.size());
}

TEST(Tessellation, CountingAHugeTriangleStopsAtTheCap)
{
    // Half a square kilometre would need 3 * 4^13 vertices; counting must give up early.
    const std::vector<_Vertex> huge = {MakeVertex(-500, 0, -500), MakeVertex(500, 0, 500),
                                       MakeVertex(500, 0, -500)};
    const std::uint64_t count = CountTessellatedVertices(huge, TessellationThreshold(), 1000);
    EXPECT_GT(count, 1000u);
    EXPECT_LE(count, 1003u);
    EXPECT_EQ(EstimateTessellatedVertices(huge, TessellationThreshold()), 201326592.0);
}
