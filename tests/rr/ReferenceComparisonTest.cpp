// The library against the double-precision brute-force reference on random scenes.
#include "OcclusionHarness.h"
#include "RandomScenes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <tuple>

namespace rrtest
{
namespace
{

struct Tally
{
    long rays = 0;
    long occluded = 0;
    long nearMismatches = 0;
    long clearMismatches = 0;
};

void Compare(OcclusionHarness& h, const std::vector<RadeonRays::ray>& rays,
             const std::vector<RefTriangle>& tris, Tally& tally)
{
    std::vector<int> ids = h.Query(rays);
    ASSERT_EQ(ids.size(), rays.size());
    for (std::size_t i = 0; i < rays.size(); ++i)
    {
        RefAnswer ref = ReferenceOcclusion(rays[i], tris);
        ++tally.rays;
        tally.occluded += ref.occluders.empty() ? 0 : 1;
        if (Agrees(ids[i], ref))
            continue;
        if (ref.nearBoundary)
            ++tally.nearMismatches;
        else
        {
            ++tally.clearMismatches;
            if (tally.clearMismatches <= 5)
                ADD_FAILURE() << "ray " << i << " o=(" << rays[i].o[0] << ", " << rays[i].o[1]
                              << ", " << rays[i].o[2] << ") d=(" << rays[i].d[0] << ", "
                              << rays[i].d[1] << ", " << rays[i].d[2] << ") maxt=" << rays[i].maxt
                              << ": library " << ids[i] << ", reference "
                              << (ref.occluders.empty() ? -1 : ref.occluders[0]);
        }
    }
}

void ExpectAgreement(const Tally& tally)
{
    EXPECT_EQ(tally.clearMismatches, 0);
    // Rays within rounding of an edge may go either way, but only very rarely.
    EXPECT_LT(tally.nearMismatches * 100000, tally.rays);
    // The scenes must be neither empty nor solid for the comparison to mean anything.
    EXPECT_GT(tally.occluded, tally.rays / 20);
    EXPECT_LT(tally.occluded, tally.rays - tally.rays / 20);
}

// Attaches the soup as a shape with the given id, and adds it to the reference.
void AttachSoup(OcclusionHarness& h, const SoupMesh& soup, int id, std::vector<RefTriangle>& ref)
{
    RadeonRays::Shape* shape = h.Api().CreateMesh(
        soup.vertices.data(), static_cast<int>(soup.vertices.size() / 3), 0, soup.indices.data(), 0,
        nullptr, static_cast<int>(soup.indices.size() / 3));
    shape->SetId(id);
    h.Api().AttachShape(shape);
    AppendReference(soup, id, ref);
}

// Two shapes with ids 3 and 8, so that answers also name the right shape.
void BuildTwoShapeScene(OcclusionHarness& h, std::mt19937& rng, int triangles,
                        std::vector<RefTriangle>& ref)
{
    for (int id : {3, 8})
        AttachSoup(h, RandomSoup(rng, triangles / 2), id, ref);
    h.Api().Commit();
}

using RadeonRays::detail::QueryKernel;
using RadeonRays::detail::ServiceOptions;
using RadeonRays::detail::SingleRayWalks;

// A query kernel, the width of the single rays' tree (0: the device's), and how the packet
// kernel walks single rays (the scenes here fit the caches, where it would walk one at a time).
struct Traversal
{
    QueryKernel kernel;
    int wideWidth;
    SingleRayWalks walks = SingleRayWalks::ForScene;

    ServiceOptions Options() const { return {kernel, wideWidth, false, walks}; }
};

// Every comparison runs with each query kernel, and single rays on both widths of tree,
// whatever the device would choose.
class ReferenceComparison : public testing::TestWithParam<Traversal>
{
};

std::string TraversalName(const testing::TestParamInfo<Traversal>& info)
{
    if (info.param.kernel == QueryKernel::Packets)
        return info.param.walks == SingleRayWalks::InFlight ? "PacketsWalksInFlight" : "Packets";
    return info.param.wideWidth == 4 ? "PerRayFourWide" : "PerRayEightWide";
}

INSTANTIATE_TEST_SUITE_P(
    Kernels, ReferenceComparison,
    testing::Values(Traversal{QueryKernel::Packets, 0},
                    Traversal{QueryKernel::Packets, 0, SingleRayWalks::InFlight},
                    Traversal{QueryKernel::PerRay, 4}, Traversal{QueryKernel::PerRay, 8}),
    TraversalName);

TEST_P(ReferenceComparison, ParallelRaysMatchTheReference)
{
    Tally tally;
    for (unsigned seed : {1u, 2u, 3u})
    {
        std::mt19937 rng(seed);
        std::vector<RefTriangle> ref;
        OcclusionHarness scene(1 << 16, GetParam().Options());
        BuildTwoShapeScene(scene, rng, 1200, ref);
        const float directions[3][3] = {
            {0.3f, 0.8f, 0.5f}, {0.0f, 1.0f, 0.0f}, {-2.0f, 0.5f, 0.0f}};
        Compare(scene, ParallelRays(rng, 200, directions[seed - 1], 25.0f), ref, tally);
    }
    ExpectAgreement(tally);
}

TEST_P(ReferenceComparison, IncoherentRaysMatchTheReference)
{
    Tally tally;
    for (unsigned seed : {11u, 12u, 13u})
    {
        std::mt19937 rng(seed);
        std::vector<RefTriangle> ref;
        OcclusionHarness scene(1 << 16, GetParam().Options());
        BuildTwoShapeScene(scene, rng, 1200, ref);
        Compare(scene, IncoherentRays(rng, 40000), ref, tally);
    }
    ExpectAgreement(tally);
}

// Packets whose rays mostly share a direction but not all of them: the shared-direction fast
// path must not take rays that differ.
TEST_P(ReferenceComparison, MixedDirectionsMatchTheReference)
{
    Tally tally;
    std::mt19937 rng(21);
    std::vector<RefTriangle> ref;
    OcclusionHarness scene(1 << 16, GetParam().Options());
    BuildTwoShapeScene(scene, rng, 1200, ref);
    const float d[3] = {0.2f, 0.9f, -0.4f};
    std::vector<RadeonRays::ray> rays = ParallelRays(rng, 200, d, 30.0f);
    std::vector<RadeonRays::ray> other = IncoherentRays(rng, static_cast<int>(rays.size()));
    std::uniform_int_distribution<int> pick(0, 40);
    for (std::size_t i = 0; i < rays.size(); ++i)
        if (pick(rng) == 0)
            rays[i] = other[i];
        else if (pick(rng) == 0)
            rays[i].d[0] = std::nextafter(rays[i].d[0], 1.0f); // differs in one bit only
    Compare(scene, rays, ref, tally);
    ExpectAgreement(tally);
}

// A scene big enough for Commit's parallel passes: the tree built on two threads, and the
// triangles of three shapes (degenerate ones among them) gathered in parts that cut across
// the shapes.
TEST_P(ReferenceComparison, BigScenesMatchTheReference)
{
    Tally tally;
    std::mt19937 rng(31);
    std::vector<RefTriangle> ref;
    OcclusionHarness scene(1 << 16, GetParam().Options());
    for (int id : {2, 5, 9})
    {
        SoupMesh soup = RandomSoup(rng, 9000);
        // Shrunk about their centres, so that this many triangles leave rays some way through.
        for (std::size_t t = 0; t < soup.vertices.size(); t += 9)
            for (int k = 0; k < 3; ++k)
            {
                float* x[3] = {&soup.vertices[t + k], &soup.vertices[t + 3 + k],
                               &soup.vertices[t + 6 + k]};
                const float c = (*x[0] + *x[1] + *x[2]) / 3.0f;
                for (float* v : x)
                    *v = c + 0.2f * (*v - c);
            }
        // Every 50th triangle has two coinciding corners: no area, dropped at Commit.
        for (std::size_t t = 0; t < soup.indices.size(); t += 150)
            soup.indices[t + 1] = soup.indices[t];
        AttachSoup(scene, soup, id, ref);
    }
    scene.Api().Commit();
    const float d[3] = {0.3f, 0.8f, 0.5f};
    Compare(scene, ParallelRays(rng, 35, d, 8.0f), ref, tally);
    Compare(scene, IncoherentRays(rng, 1200), ref, tally);
    ExpectAgreement(tally);
}

// Orders in which callers hand over their rays. The packet kernel traces packets of
// neighbouring rays together and answers the rays of packets spread too wide, or too different
// in direction, one by one; every order must give the same answers.
enum class RayOrder
{
    Scattered,  // parallel rays, neighbours in the array anywhere in space
    Sorted,     // the same rays sorted by their origins
    Mixed,      // sorted runs and scattered runs, some rays inactive or of other directions
    PointLight, // rays toward a nearby point, scattered; then rays away from it, sorted
};

// Sorts rays by the Morton code of their origins in [-12, 12]^3 (10 bits an axis).
void SortByOrigin(std::vector<RadeonRays::ray>& rays)
{
    auto code = [](const RadeonRays::ray& r)
    {
        std::uint64_t key = 0;
        for (int k = 0; k < 3; ++k)
        {
            const float f = std::min(std::max((r.o[k] + 12.0f) / 24.0f, 0.0f), 1.0f);
            const auto q = static_cast<std::uint64_t>(f * 1023.0f);
            for (int bit = 0; bit < 10; ++bit)
                key |= ((q >> bit) & 1u) << (3 * bit + k);
        }
        return key;
    };
    std::stable_sort(rays.begin(), rays.end(),
                     [&](const RadeonRays::ray& a, const RadeonRays::ray& b)
                     { return code(a) < code(b); });
}

std::vector<RadeonRays::ray> RaysInOrder(std::mt19937& rng, RayOrder order, int count)
{
    // Origins on two horizontal squares, as points on surfaces are, dense enough that sorted
    // neighbours make packets narrow against the scene's leaves; scattered ones over squares
    // wide enough that neighbours in the array make groups too wide for a beam.
    const float half = order == RayOrder::Scattered ? 12.0f : 2.5f;
    std::uniform_real_distribution<float> pos(-half, half);
    std::uniform_int_distribution<int> level(0, 1);
    const float light[3] = {0.3f, 0.8f, 0.5f};
    const float lamp[3] = {1.0f, 4.0f, -2.0f};
    std::vector<RadeonRays::ray> rays;
    for (int i = 0; i < count; ++i)
    {
        RadeonRays::ray r{};
        r.o[0] = pos(rng);
        r.o[1] = -6.0f + 8.0f * level(rng);
        r.o[2] = pos(rng);
        for (int k = 0; k < 3; ++k)
            r.d[k] = order == RayOrder::PointLight ? lamp[k] - r.o[k] : light[k];
        r.maxt = order == RayOrder::PointLight ? 1.0f : 4.0f;
        r.active = 1;
        rays.push_back(r);
    }
    if (order == RayOrder::Sorted)
        SortByOrigin(rays);
    if (order == RayOrder::PointLight)
    {
        // The second half turned away from the point (rays that spread apart), in sorted order:
        // neighbours then share their directions' signs and are traced together.
        const auto half = rays.begin() + rays.size() / 2;
        for (auto r = half; r != rays.end(); ++r)
        {
            for (int k = 0; k < 3; ++k)
                r->d[k] = -r->d[k];
            r->maxt = 3.0f;
        }
        std::vector<RadeonRays::ray> away(half, rays.end());
        SortByOrigin(away);
        std::copy(away.begin(), away.end(), half);
    }
    if (order == RayOrder::Mixed)
    {
        // Runs of sorted rays of random length between runs left scattered.
        std::uniform_int_distribution<int> run(1, 150), pick(0, 60);
        for (std::size_t begin = 0; begin < rays.size();)
        {
            const std::size_t end = std::min(rays.size(), begin + run(rng));
            if (pick(rng) % 2)
            {
                std::vector<RadeonRays::ray> part(rays.begin() + begin, rays.begin() + end);
                SortByOrigin(part);
                std::copy(part.begin(), part.end(), rays.begin() + begin);
            }
            begin = end;
        }
        std::vector<RadeonRays::ray> other = IncoherentRays(rng, count);
        for (std::size_t i = 0; i < rays.size(); ++i)
        {
            const int p = pick(rng);
            if (p == 0)
                rays[i] = other[i];
            else if (p == 1)
                rays[i].active = 0;
            else if (p == 2)
                rays[i].d[0] = std::nextafter(rays[i].d[0], 1.0f); // differs in one bit only
        }
    }
    return rays;
}

class RayOrderComparison : public testing::TestWithParam<std::tuple<QueryKernel, RayOrder>>
{
};

std::string
KernelAndOrderName(const testing::TestParamInfo<std::tuple<QueryKernel, RayOrder>>& info)
{
    static const char* const orders[] = {"Scattered", "Sorted", "Mixed", "PointLight"};
    return std::string(std::get<0>(info.param) == QueryKernel::Packets ? "Packets" : "PerRay") +
           orders[static_cast<int>(std::get<1>(info.param))];
}

INSTANTIATE_TEST_SUITE_P(KernelsAndOrders, RayOrderComparison,
                         testing::Combine(testing::Values(QueryKernel::Packets,
                                                          QueryKernel::PerRay),
                                          testing::Values(RayOrder::Scattered, RayOrder::Sorted,
                                                          RayOrder::Mixed, RayOrder::PointLight)),
                         KernelAndOrderName);

TEST_P(RayOrderComparison, AnswersMatchTheReference)
{
    const auto [kernel, order] = GetParam();
    std::mt19937 rng(31 + static_cast<unsigned>(order));
    std::vector<RefTriangle> ref;
    OcclusionHarness scene(1 << 16, {kernel, 0, true});
    BuildTwoShapeScene(scene, rng, 1200, ref);
    Tally tally;
    Compare(scene, RaysInOrder(rng, order, 16000), ref, tally);
    ExpectAgreement(tally);
    // Each order must have taken the routes it is meant to cover, or this compared nothing new:
    // scattered rays the single-ray fallback, sorted ones packets (rays spreading from the
    // point, packets of differing directions).
    const RadeonRays::detail::RouteCounts routes =
        RadeonRays::detail::TakeRouteCounts(&scene.Api());
    if (kernel == QueryKernel::Packets)
    {
        if (order != RayOrder::Sorted)
        {
            EXPECT_GT(routes.single, 0);
        }
        if (order != RayOrder::Scattered)
        {
            EXPECT_GT(routes.packet, 0);
        }
    }
}

// The kernel a service picks for itself: packets on PoCL's CPU device only. Any other device
// (rusticl's CPU device runs each work-group as one SIMD batch, and took seconds a frame with
// packets) gets one ray per work-item, and answers the same.
TEST(KernelForDevice, PacketsOnlyOnPoclsCpuDevice)
{
    std::mt19937 rng(41);
    std::vector<RefTriangle> ref;
    OcclusionHarness scene(1 << 16, {QueryKernel::ForDevice, 0, true});
    BuildTwoShapeScene(scene, rng, 1200, ref);
    Tally tally;
    Compare(scene, RaysInOrder(rng, RayOrder::Sorted, 4000), ref, tally);
    ExpectAgreement(tally);

    char platform[256] = {};
    clGetPlatformInfo(clw_test::FirstPlatform(), CL_PLATFORM_NAME, sizeof(platform) - 1, platform,
                      nullptr);
    cl_device_type type = 0;
    clGetDeviceInfo(clw_test::FirstDevice(), CL_DEVICE_TYPE, sizeof(type), &type, nullptr);
    const bool poclCpu =
        std::string(platform) == "Portable Computing Language" && (type & CL_DEVICE_TYPE_CPU);
    const RadeonRays::detail::RouteCounts routes =
        RadeonRays::detail::TakeRouteCounts(&scene.Api());
    EXPECT_EQ(routes.packet > 0, poclCpu) << platform;
    EXPECT_EQ(routes.packet + routes.single, 4000);
}

} // namespace
} // namespace rrtest
