// The BVH builder's invariants: every primitive in exactly one leaf, boxes that enclose their
// contents, bounded depth, also for degenerate inputs; and a tree as good whatever the order.
#include "rr/bvh_builder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

namespace rrtest
{
namespace
{

using RadeonRays::detail::Aabb;
using RadeonRays::detail::BuildBvh;
using RadeonRays::detail::BvhBuild;

bool Encloses(const float* lo, const float* hi, const float* ilo, const float* ihi)
{
    for (int k = 0; k < 3; ++k)
        if (ilo[k] < lo[k] || ihi[k] > hi[k])
            return false;
    return true;
}

void CheckInvariants(const std::vector<Aabb>& prims, const BvhBuild& bvh)
{
    ASSERT_EQ(bvh.order.size(), prims.size());
    std::vector<int> seen(prims.size(), 0);
    int maxDepth = 0;
    std::vector<std::pair<int, int>> stack{{0, 0}};
    while (!stack.empty())
    {
        auto [index, depth] = stack.back();
        stack.pop_back();
        maxDepth = std::max(maxDepth, depth);
        const auto& n = bvh.nodes[index];
        if (n.count > 0)
        {
            for (int i = n.index; i < n.index + n.count; ++i)
            {
                ++seen[bvh.order[i]];
                const Aabb& p = prims[bvh.order[i]];
                EXPECT_TRUE(Encloses(n.lo, n.hi, p.lo, p.hi));
            }
            continue;
        }
        ASSERT_LT(n.index + 1, static_cast<int>(bvh.nodes.size()));
        // The device layouts are made in one backward sweep, which needs children after their
        // parent (also when two threads built the tree).
        EXPECT_GT(n.index, index);
        for (int c : {n.index, n.index + 1})
        {
            EXPECT_TRUE(Encloses(n.lo, n.hi, bvh.nodes[c].lo, bvh.nodes[c].hi));
            stack.push_back({c, depth + 1});
        }
    }
    for (int s : seen)
        EXPECT_EQ(s, 1);
    EXPECT_EQ(maxDepth, bvh.depth);
    EXPECT_LE(bvh.depth, RadeonRays::detail::kMaxBvhDepth);
}

TEST(BvhBuilder, RandomBoxes)
{
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> pos(-100, 100), size(0, 3);
    std::vector<Aabb> prims(20000);
    for (Aabb& b : prims)
        for (int k = 0; k < 3; ++k)
        {
            b.lo[k] = pos(rng);
            b.hi[k] = b.lo[k] + size(rng);
        }
    BvhBuild bvh = BuildBvh(prims);
    CheckInvariants(prims, bvh);
    EXPECT_LT(bvh.depth, 40);
}

// The tree's surface-area cost relative to its root: each node weighs its box's area, a leaf
// once per primitive.
double SahCost(const BvhBuild& bvh)
{
    auto area = [](const auto& n)
    {
        const double dx = n.hi[0] - n.lo[0], dy = n.hi[1] - n.lo[1], dz = n.hi[2] - n.lo[2];
        return dx * dy + dy * dz + dz * dx;
    };
    double cost = 0;
    for (const auto& n : bvh.nodes)
        cost += area(n) * std::max(1, n.count);
    return cost / area(bvh.nodes[0]);
}

TEST(BvhBuilder, InputTakenFromFourPartsInTurnMakesAsGoodATreeAsShuffled)
{
    // Big ranges are binned from a sample: the sample must not follow a period of the input,
    // such as a model whose triangles come from four far-apart parts in turn.
    std::mt19937 rng(9);
    std::uniform_real_distribution<float> pos(0, 100), size(0, 1);
    std::vector<Aabb> inTurn(65536);
    for (std::size_t i = 0; i < inTurn.size(); ++i)
    {
        const float corner[3] = {i % 2 ? 1000.0f : 0.0f, i / 2 % 2 ? 1000.0f : 0.0f, 0.0f};
        for (int k = 0; k < 3; ++k)
        {
            inTurn[i].lo[k] = corner[k] + pos(rng);
            inTurn[i].hi[k] = inTurn[i].lo[k] + size(rng);
        }
    }
    std::vector<Aabb> shuffled = inTurn;
    std::shuffle(shuffled.begin(), shuffled.end(), rng);
    const BvhBuild fromInTurn = BuildBvh(inTurn);
    CheckInvariants(inTurn, fromInTurn);
    EXPECT_LT(SahCost(fromInTurn), 1.02 * SahCost(BuildBvh(shuffled)));
}

TEST(BvhBuilder, EmptyAndSingle)
{
    EXPECT_TRUE(BuildBvh(std::vector<Aabb>{}).nodes.empty());
    std::vector<Aabb> one{{{0, 0, 0}, {1, 1, 1}}};
    BvhBuild bvh = BuildBvh(one);
    ASSERT_EQ(bvh.nodes.size(), 1u);
    EXPECT_EQ(bvh.nodes[0].count, 1);
    CheckInvariants(one, bvh);
}

TEST(BvhBuilder, CoincidentAndExponentialInputsStayShallow)
{
    // Many identical boxes, and boxes at exponentially growing distances: the SAH alone would
    // make a chain of this.
    std::vector<Aabb> same(1000, Aabb{{1, 2, 3}, {4, 5, 6}});
    CheckInvariants(same, BuildBvh(same));
    std::vector<Aabb> chain;
    for (int i = 0; i < 120; ++i)
    {
        float x = std::ldexp(1.0f, i);
        chain.push_back(Aabb{{x, 0, 0}, {x, 1, 1}});
    }
    for (int i = 0; i < 3000; ++i)
        chain.push_back(Aabb{{float(i) * 1e-3f, 0, 0}, {float(i) * 1e-3f, 1, 1}});
    CheckInvariants(chain, BuildBvh(chain));
    // Boxes so big that their surface areas overflow a float: no split has a finite cost.
    std::vector<Aabb> huge;
    for (int i = 0; i < 12; ++i)
    {
        const float x = float(i) * 1e37f;
        huge.push_back(Aabb{{x, -1e37f, 0}, {x + 1e37f, 1e37f, 1}});
    }
    CheckInvariants(huge, BuildBvh(huge));
}

} // namespace
} // namespace rrtest
