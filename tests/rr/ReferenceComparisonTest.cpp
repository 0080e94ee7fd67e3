// The library against the double-precision brute-force reference on random scenes.
#include "OcclusionHarness.h"
#include "RandomScenes.h"

#include <gtest/gtest.h>

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

// Two shapes with ids 3 and 8, so that answers also name the right shape.
void BuildTwoShapeScene(OcclusionHarness& h, std::mt19937& rng, int triangles,
                        std::vector<RefTriangle>& ref)
{
    for (int id : {3, 8})
    {
        SoupMesh soup = RandomSoup(rng, triangles / 2);
        RadeonRays::Shape* shape = h.Api().CreateMesh(
            soup.vertices.data(), static_cast<int>(soup.vertices.size() / 3), 0,
            soup.indices.data(), 0, nullptr, static_cast<int>(soup.indices.size() / 3));
        shape->SetId(id);
        h.Api().AttachShape(shape);
        AppendReference(soup, id, ref);
    }
    h.Api().Commit();
}

using RadeonRays::detail::QueryKernel;

// Every comparison runs with each query kernel, whatever the device would choose.
class ReferenceComparison : public testing::TestWithParam<QueryKernel>
{
};

INSTANTIATE_TEST_SUITE_P(Kernels, ReferenceComparison,
                         testing::Values(QueryKernel::Packets, QueryKernel::PerRay), KernelName);

TEST_P(ReferenceComparison, ParallelRaysMatchTheReference)
{
    Tally tally;
    for (unsigned seed : {1u, 2u, 3u})
    {
        std::mt19937 rng(seed);
        std::vector<RefTriangle> ref;
        OcclusionHarness scene(1 << 16, GetParam());
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
        OcclusionHarness scene(1 << 16, GetParam());
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
    OcclusionHarness scene(1 << 16, GetParam());
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

} // namespace
} // namespace rrtest
