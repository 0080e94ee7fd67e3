// Occlusion answers in hand-made situations: ray ends, inactive rays, degenerate triangles,
// several shapes, closed meshes hit exactly through their shared edges and corners.
#include "OcclusionHarness.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <random>

namespace rrtest
{
namespace
{

// The unit square in the plane y = 0 as two triangles.
const float kSquare[] = {0, 0, 0, 1, 0, 0, 1, 0, 1, 0, 0, 1};
const int kSquareIndices[] = {0, 1, 2, 0, 2, 3};

RadeonRays::Shape* AddSquare(OcclusionHarness& h, int id)
{
    RadeonRays::Shape* s = h.Api().CreateMesh(kSquare, 4, 12, kSquareIndices, 0, nullptr, 2);
    s->SetId(id);
    h.Api().AttachShape(s);
    return s;
}

TEST(OcclusionCases, RayThroughASquareIsOccludedAndOneBesideItIsNot)
{
    OcclusionHarness h;
    AddSquare(h, 7);
    h.Api().Commit();
    std::vector<int> ids =
        h.Query({MakeRay(0.3f, -1, 0.6f, 0, 1, 0, 10), MakeRay(0.3f, 1, 0.6f, 0, -1, 0, 10),
                 MakeRay(1.3f, -1, 0.6f, 0, 1, 0, 10), MakeRay(0.3f, 1, 0.6f, 0, 1, 0, 10)});
    EXPECT_EQ(ids, (std::vector<int>{7, 7, -1, -1}));
}

TEST(OcclusionCases, InactiveRaysAreNeverOccluded)
{
    OcclusionHarness h;
    AddSquare(h, 1);
    h.Api().Commit();
    std::vector<RadeonRays::ray> rays;
    for (int i = 0; i < 100; ++i)
        rays.push_back(MakeRay(0.5f, -1, 0.5f, 0, 1, 0, 10, i % 3 == 0 ? 0 : 1));
    std::vector<int> ids = h.Query(rays);
    for (int i = 0; i < 100; ++i)
        EXPECT_EQ(ids[i], i % 3 == 0 ? -1 : 1) << i;
}

TEST(OcclusionCases, MaxtJustAboveAndJustBelowTheHit)
{
    OcclusionHarness h;
    AddSquare(h, 1);
    h.Api().Commit();
    // The square is at t = 2 for a direction of length 0.5 from y = -1; t counts direction
    // lengths, not distance.
    std::vector<int> ids = h.Query({MakeRay(0.4f, -1, 0.3f, 0, 0.5f, 0, 2.001f),
                                    MakeRay(0.4f, -1, 0.3f, 0, 0.5f, 0, 1.999f),
                                    MakeRay(0.4f, -1, 0.3f, 0, 0.5f, 0, 2.0f * 1.00001f),
                                    MakeRay(0.4f, -1, 0.3f, 0, 0.5f, 0, 2.0f * 0.99999f)});
    EXPECT_EQ(ids, (std::vector<int>{1, -1, 1, -1}));
}

TEST(OcclusionCases, HitsJustAboveZeroCountAndHitsBehindDoNot)
{
    OcclusionHarness h;
    AddSquare(h, 1);
    h.Api().Commit();
    std::vector<int> ids =
        h.Query({MakeRay(0.4f, -1e-4f, 0.3f, 0, 1, 0, 1), MakeRay(0.4f, 1e-4f, 0.3f, 0, 1, 0, 1),
                 MakeRay(0.4f, -1e-6f, 0.3f, 0, 1, 0, 1), MakeRay(0.4f, 1e-6f, 0.3f, 0, 1, 0, 1)});
    EXPECT_EQ(ids, (std::vector<int>{1, -1, 1, -1}));
}

TEST(OcclusionCases, RaysStartingOnASurfaceLeaveIt)
{
    OcclusionHarness h;
    // A wall face in the plane z = -20, and rays that start in that plane, on the face, in
    // either direction through it: the hit at t = 0 does not count, whatever rounding says.
    const float wall[] = {-21, 0, -20, 21, 0, -20, 21, 6, -20, -21, 6, -20};
    RadeonRays::Shape* s = h.Api().CreateMesh(wall, 4, 0, kSquareIndices, 0, nullptr, 2);
    s->SetId(3);
    h.Api().AttachShape(s);
    h.Api().Commit();
    std::vector<RadeonRays::ray> rays;
    for (int i = 0; i < 320; ++i)
    {
        const float x = -20.0f + 0.125f * i, y = 0.001f + 0.0173f * i;
        const float sign = i % 2 ? 1.0f : -1.0f;
        rays.push_back(MakeRay(x, y, -20, 0.612372398f, 0.707106769f, sign * 0.353553385f, 1000));
    }
    EXPECT_EQ(h.Query(rays), std::vector<int>(rays.size(), -1));
}

TEST(OcclusionCases, DegenerateTrianglesNeverOcclude)
{
    OcclusionHarness h;
    // A point, a segment along x, and a triangle with collinear corners, all on the rays' paths.
    const float v[] = {0.5f, 0, 0.5f, 0, 0, 0.5f, 1, 0, 0.5f, 0.25f, 0, 0.5f};
    const int idx[] = {0, 0, 0, 1, 2, 2, 1, 3, 2, 1, 2, 3};
    RadeonRays::Shape* s = h.Api().CreateMesh(v, 4, 0, idx, 0, nullptr, 4);
    s->SetId(4);
    h.Api().AttachShape(s);
    h.Api().Commit();
    std::vector<int> ids =
        h.Query({MakeRay(0.5f, -1, 0.5f, 0, 1, 0, 10), MakeRay(0.25f, -1, 0.5f, 0, 1, 0, 10),
                 MakeRay(0.5f, 0, -1, 0, 0, 1, 10), MakeRay(-1, 0, 0.5f, 1, 0, 0, 10)});
    EXPECT_EQ(ids, (std::vector<int>{-1, -1, -1, -1}));
}

TEST(OcclusionCases, EmptyScenesAnswerMinusOne)
{
    OcclusionHarness h;
    h.Api().Commit();
    std::vector<RadeonRays::ray> rays(50, MakeRay(0.5f, -1, 0.5f, 0, 1, 0, 10));
    EXPECT_EQ(h.Query(rays), std::vector<int>(50, -1));

    // A shape without faces.
    RadeonRays::Shape* s = h.Api().CreateMesh(kSquare, 4, 0, nullptr, 0, nullptr, 0);
    h.Api().AttachShape(s);
    h.Api().Commit();
    EXPECT_EQ(h.Query(rays), std::vector<int>(50, -1));
}

TEST(OcclusionCases, TwoShapesReportTheirOwnIds)
{
    OcclusionHarness h;
    AddSquare(h, 5);
    const float far[] = {10, 0, 0, 11, 0, 0, 11, 0, 1, 10, 0, 1};
    RadeonRays::Shape* s = h.Api().CreateMesh(far, 4, 0, kSquareIndices, 0, nullptr, 2);
    s->SetId(9);
    h.Api().AttachShape(s);
    h.Api().Commit();
    std::vector<int> ids =
        h.Query({MakeRay(0.5f, -1, 0.5f, 0, 1, 0, 10), MakeRay(10.5f, -1, 0.5f, 0, 1, 0, 10),
                 MakeRay(5.5f, -1, 0.5f, 0, 1, 0, 10)});
    EXPECT_EQ(ids, (std::vector<int>{5, 9, -1}));
}

TEST(OcclusionCases, QuadsAndStridesAreRead)
{
    OcclusionHarness h;
    // Positions padded to 16 bytes, one quad face with indices 32 bytes apart.
    const float v[] = {0, 0, 0, 99, 1, 0, 0, 99, 1, 0, 1, 99, 0, 0, 1, 99};
    const int idx[] = {0, 1, 2, 3, -1, -1, -1, -1};
    const int nfv[] = {4};
    RadeonRays::Shape* s = h.Api().CreateMesh(v, 4, 16, idx, 32, nfv, 1);
    s->SetId(2);
    h.Api().AttachShape(s);
    h.Api().Commit();
    std::vector<int> ids =
        h.Query({MakeRay(0.8f, -1, 0.1f, 0, 1, 0, 10), MakeRay(0.1f, -1, 0.8f, 0, 1, 0, 10),
                 MakeRay(1.1f, -1, 0.5f, 0, 1, 0, 10)});
    EXPECT_EQ(ids, (std::vector<int>{2, 2, -1}));
}

// A closed box [-1, 1]^3 whose faces are n x n grids of quads split into triangles, so that
// grid lines are edges shared by two triangles and grid points corners shared by up to six.
void AddClosedBox(OcclusionHarness& h, int n, int id)
{
    std::vector<float> v;
    std::vector<int> idx;
    for (int axis = 0; axis < 3; ++axis)
        for (float side : {-1.0f, 1.0f})
        {
            const int base = static_cast<int>(v.size() / 3);
            for (int j = 0; j <= n; ++j)
                for (int i = 0; i <= n; ++i)
                {
                    float p[3];
                    p[axis] = side;
                    p[(axis + 1) % 3] = -1.0f + 2.0f * i / n;
                    p[(axis + 2) % 3] = -1.0f + 2.0f * j / n;
                    v.insert(v.end(), p, p + 3);
                }
            for (int j = 0; j < n; ++j)
                for (int i = 0; i < n; ++i)
                {
                    int a = base + j * (n + 1) + i, b = a + 1, c = a + n + 2, d = a + n + 1;
                    // Alternate the diagonal so that corners are shared by differing fans.
                    if ((i + j) % 2)
                        idx.insert(idx.end(), {a, b, c, a, c, d});
                    else
                        idx.insert(idx.end(), {a, b, d, b, c, d});
                }
        }
    RadeonRays::Shape* s =
        h.Api().CreateMesh(v.data(), static_cast<int>(v.size() / 3), 12, idx.data(), 0, nullptr,
                           static_cast<int>(idx.size() / 3));
    s->SetId(id);
    h.Api().AttachShape(s);
}

class ClosedMesh : public testing::TestWithParam<RadeonRays::detail::QueryKernel>
{
};

INSTANTIATE_TEST_SUITE_P(Kernels, ClosedMesh,
                         testing::Values(RadeonRays::detail::QueryKernel::Packets,
                                         RadeonRays::detail::QueryKernel::PerRay),
                         KernelName);

TEST_P(ClosedMesh, DoesNotLeakThroughSharedEdgesOrCorners)
{
    OcclusionHarness h(1 << 16, {GetParam()});
    const int n = 8;
    AddClosedBox(h, n, 6);
    h.Api().Commit();
    // From inside, rays along the grid lines and through grid points of the faces, in bundles
    // that share a direction and as single rays aimed at each grid point.
    std::vector<RadeonRays::ray> rays;
    for (int axis = 0; axis < 3; ++axis)
        for (float sign : {-1.0f, 1.0f})
        {
            for (int j = 0; j <= 4 * n; ++j)
                for (int i = 0; i <= 4 * n; ++i)
                {
                    float o[3], d[3] = {0, 0, 0};
                    o[axis] = 0.25f * sign;
                    o[(axis + 1) % 3] = -1.0f + 2.0f * i / (4 * n);
                    o[(axis + 2) % 3] = -1.0f + 2.0f * j / (4 * n);
                    if (i == 0 || j == 0 || i == 4 * n || j == 4 * n)
                        continue; // on the side faces themselves
                    d[axis] = sign * 0.7f;
                    rays.push_back(MakeRay(o[0], o[1], o[2], d[0], d[1], d[2], 100));
                }
            for (int j = 0; j <= n; ++j)
                for (int i = 0; i <= n; ++i)
                {
                    float p[3];
                    p[axis] = sign;
                    p[(axis + 1) % 3] = -1.0f + 2.0f * i / n;
                    p[(axis + 2) % 3] = -1.0f + 2.0f * j / n;
                    const float o[3] = {0.1f, -0.2f, 0.15f};
                    rays.push_back(
                        MakeRay(o[0], o[1], o[2], p[0] - o[0], p[1] - o[1], p[2] - o[2], 100));
                }
        }
    std::vector<int> ids = h.Query(rays);
    int leaks = 0;
    for (std::size_t i = 0; i < ids.size(); ++i)
        if (ids[i] != 6 && ++leaks <= 5)
            ADD_FAILURE() << "ray " << i << " from (" << rays[i].o[0] << ", " << rays[i].o[1]
                          << ", " << rays[i].o[2] << ") along (" << rays[i].d[0] << ", "
                          << rays[i].d[1] << ", " << rays[i].d[2] << ") leaked";
    EXPECT_EQ(leaks, 0);
}

// A closed sphere refined from an octahedron, corners shared through indices, hit from inside
// by rays in every direction, many of them aimed straight at its corners.
TEST_P(ClosedMesh, SphereHasNoHolesFromInside)
{
    OcclusionHarness h(1 << 16, {GetParam()});
    std::vector<float> v = {1, 0, 0, -1, 0, 0, 0, 1, 0, 0, -1, 0, 0, 0, 1, 0, 0, -1};
    std::vector<int> idx = {0, 2, 4, 2, 1, 4, 1, 3, 4, 3, 0, 4, 2, 0, 5, 1, 2, 5, 3, 1, 5, 0, 3, 5};
    for (int level = 0; level < 4; ++level)
    {
        std::map<std::pair<int, int>, int> midpoints;
        auto mid = [&](int a, int b)
        {
            auto key = std::minmax(a, b);
            auto it = midpoints.find(key);
            if (it != midpoints.end())
                return it->second;
            float m[3], len = 0;
            for (int k = 0; k < 3; ++k)
            {
                m[k] = v[3 * a + k] + v[3 * b + k];
                len += m[k] * m[k];
            }
            for (float& c : m)
                v.push_back(c / std::sqrt(len));
            return midpoints[key] = static_cast<int>(v.size() / 3 - 1);
        };
        std::vector<int> next;
        for (std::size_t t = 0; t < idx.size(); t += 3)
        {
            int a = idx[t], b = idx[t + 1], c = idx[t + 2];
            int ab = mid(a, b), bc = mid(b, c), ca = mid(c, a);
            next.insert(next.end(), {a, ab, ca, ab, b, bc, ca, bc, c, ab, bc, ca});
        }
        idx.swap(next);
    }
    RadeonRays::Shape* s =
        h.Api().CreateMesh(v.data(), static_cast<int>(v.size() / 3), 0, idx.data(), 0, nullptr,
                           static_cast<int>(idx.size() / 3));
    s->SetId(2);
    h.Api().AttachShape(s);
    h.Api().Commit();

    std::mt19937 rng(17);
    std::uniform_real_distribution<float> u(-1, 1);
    std::vector<RadeonRays::ray> rays;
    // Aimed at every corner from a few interior points, and at random.
    for (float o : {0.0f, 0.3f, -0.55f})
        for (std::size_t c = 0; c < v.size() / 3; ++c)
            rays.push_back(MakeRay(o, o * 0.5f, -o, v[3 * c] - o, v[3 * c + 1] - o * 0.5f,
                                   v[3 * c + 2] + o, 10));
    for (int i = 0; i < 20000; ++i)
    {
        const float o[3] = {0.5f * u(rng), 0.5f * u(rng), 0.5f * u(rng)};
        rays.push_back(MakeRay(o[0], o[1], o[2], u(rng), u(rng), u(rng), 1e6f));
    }
    // Bundles that share a direction, for the packet path.
    for (int i = 0; i < 20000; ++i)
        rays.push_back(MakeRay(0.4f * u(rng), 0.4f * u(rng), 0.4f * u(rng), 0.3f, -0.7f, 0.2f, 10));
    std::vector<int> ids = h.Query(rays);
    int leaks = 0;
    for (std::size_t i = 0; i < ids.size(); ++i)
        if (ids[i] != 2 && ++leaks <= 5)
            ADD_FAILURE() << "ray " << i << " from (" << rays[i].o[0] << ", " << rays[i].o[1]
                          << ", " << rays[i].o[2] << ") along (" << rays[i].d[0] << ", "
                          << rays[i].d[1] << ", " << rays[i].d[2] << ") leaked";
    EXPECT_EQ(leaks, 0);
}

// Each kernel writes every field of the hit record, whatever the buffer held before.
TEST(OcclusionCases, QueriesWriteWholeHitRecords)
{
    using RadeonRays::detail::QueryKernel;
    for (QueryKernel kernel : {QueryKernel::Packets, QueryKernel::PerRay})
    {
        OcclusionHarness h(64, {kernel});
        AddSquare(h, 7);
        h.Api().Commit();
        const std::vector<RadeonRays::ray> rays = {MakeRay(0.5f, -1, 0.5f, 0, 1, 0, 10),
                                                   MakeRay(1.5f, -1, 0.5f, 0, 1, 0, 10),
                                                   MakeRay(0.5f, -1, 0.5f, 0, 1, 0, 10, 0)};
        const cl_command_queue queue = h.Queue();
        ASSERT_EQ(clEnqueueWriteBuffer(queue, h.RayMem(), CL_TRUE, 0,
                                       rays.size() * sizeof(RadeonRays::ray), rays.data(), 0,
                                       nullptr, nullptr),
                  CL_SUCCESS);
        RadeonRays::Intersection garbage{};
        garbage.shapeid = garbage.primid = garbage.padding[0] = garbage.padding[1] = 12345;
        garbage.u = garbage.v = garbage.w = garbage.t = 0.75f;
        std::vector<RadeonRays::Intersection> hits(rays.size(), garbage);
        const std::size_t bytes = hits.size() * sizeof(RadeonRays::Intersection);
        ASSERT_EQ(clEnqueueWriteBuffer(queue, h.HitMem(), CL_TRUE, 0, bytes, hits.data(), 0,
                                       nullptr, nullptr),
                  CL_SUCCESS);
        RadeonRays::Event* event = nullptr;
        h.Api().QueryOcclusion(h.Rays(), static_cast<int>(rays.size()), h.Hits(), nullptr, &event);
        event->Wait();
        h.Api().DeleteEvent(event);
        h.Cl().ReadBuffer(0, h.HitMem(), bytes, hits.data());
        const int want[] = {7, -1, -1};
        for (std::size_t i = 0; i < hits.size(); ++i)
        {
            const RadeonRays::Intersection& hit = hits[i];
            EXPECT_EQ(hit.shapeid, want[i]) << i;
            EXPECT_EQ(hit.primid, -1) << i;
            EXPECT_EQ(hit.padding[0], 0) << i;
            EXPECT_EQ(hit.padding[1], 0) << i;
            EXPECT_EQ(hit.u, 0.0f) << i;
            EXPECT_EQ(hit.v, 0.0f) << i;
            EXPECT_EQ(hit.w, 0.0f) << i;
            EXPECT_EQ(hit.t, 0.0f) << i;
        }
    }
}

TEST(OcclusionCases, RepeatedQueriesReuseTheBuffers)
{
    OcclusionHarness h;
    AddSquare(h, 1);
    h.Api().Commit();
    for (int round = 0; round < 5; ++round)
    {
        const float x = round % 2 ? 0.5f : 1.5f;
        std::vector<RadeonRays::ray> rays(1000, MakeRay(x, -1, 0.5f, 0, 1, 0, 10));
        EXPECT_EQ(h.Query(rays), std::vector<int>(1000, round % 2 ? 1 : -1));
    }
}

TEST(OcclusionCases, RebuildAfterAttachingASecondShape)
{
    OcclusionHarness h;
    AddSquare(h, 1);
    h.Api().Commit();
    std::vector<RadeonRays::ray> rays = {MakeRay(0.5f, -1, 0.5f, 0, 1, 0, 10),
                                         MakeRay(20.5f, -1, 0.5f, 0, 1, 0, 10)};
    EXPECT_EQ(h.Query(rays), (std::vector<int>{1, -1}));

    std::vector<float> big;
    for (int i = 0; i < 4; ++i)
        big.insert(big.end(), {kSquare[3 * i] + 20, kSquare[3 * i + 1], kSquare[3 * i + 2]});
    RadeonRays::Shape* s = h.Api().CreateMesh(big.data(), 4, 0, kSquareIndices, 0, nullptr, 2);
    s->SetId(2);
    h.Api().AttachShape(s);
    // Not yet committed: queries still see the old scene.
    EXPECT_EQ(h.Query(rays), (std::vector<int>{1, -1}));
    h.Api().Commit();
    EXPECT_EQ(h.Query(rays), (std::vector<int>{1, 2}));

    h.Api().DetachShape(s);
    h.Api().Commit();
    EXPECT_EQ(h.Query(rays), (std::vector<int>{1, -1}));
}

TEST(OcclusionCases, WaitEventsChainQueries)
{
    OcclusionHarness h;
    AddSquare(h, 1);
    h.Api().Commit();
    std::vector<RadeonRays::ray> rays(64, MakeRay(0.5f, -1, 0.5f, 0, 1, 0, 10));
    h.Query(rays);
    RadeonRays::Event* first = nullptr;
    RadeonRays::Event* second = nullptr;
    h.Api().QueryOcclusion(h.Rays(), 64, h.Hits(), nullptr, &first);
    h.Api().QueryOcclusion(h.Rays(), 64, h.Hits(), first, &second);
    second->Wait();
    EXPECT_TRUE(first->Complete());
    EXPECT_TRUE(second->Complete());
    h.Api().DeleteEvent(first);
    h.Api().DeleteEvent(second);
    // A query of no rays is allowed and completes.
    RadeonRays::Event* none = nullptr;
    h.Api().QueryOcclusion(h.Rays(), 0, h.Hits(), nullptr, &none);
    none->Wait();
    h.Api().DeleteEvent(none);
}

} // namespace
} // namespace rrtest
