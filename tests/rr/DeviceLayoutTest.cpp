// The two device layouts of a built BVH reach every triangle exactly once, with boxes that
// enclose what they lead to.
#include "rr/bvh_builder.h"
#include "rr/scene_data.h"
#include "rr/wide_bvh.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <random>

namespace rrtest
{
namespace
{

using namespace RadeonRays::detail;

// Random triangles in leaf order, with their BVH.
struct Built
{
    std::vector<DeviceTriangle> triangles;
    BvhBuild bvh;
};

Built RandomScene(int count, unsigned seed)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> pos(-50, 50), off(-1, 1);
    std::vector<DeviceTriangle> tris(count);
    std::vector<Aabb> boxes(count);
    for (int i = 0; i < count; ++i)
    {
        float c[3] = {pos(rng), pos(rng), pos(rng)};
        float* corners[3] = {tris[i].v0, tris[i].v1, tris[i].v2};
        for (int v = 0; v < 3; ++v)
            for (int k = 0; k < 3; ++k)
                corners[v][k] = c[k] + off(rng);
        tris[i].shapeid = i; // the tests below identify triangles by it
        for (int k = 0; k < 3; ++k)
        {
            boxes[i].lo[k] = std::min({tris[i].v0[k], tris[i].v1[k], tris[i].v2[k]});
            boxes[i].hi[k] = std::max({tris[i].v0[k], tris[i].v1[k], tris[i].v2[k]});
        }
    }
    Built b;
    b.bvh = BuildBvh(boxes);
    for (std::uint32_t i : b.bvh.order)
        b.triangles.push_back(tris[i]);
    return b;
}

bool Inside(const float* lo, const float* hi, const float* p)
{
    for (int k = 0; k < 3; ++k)
        if (p[k] < lo[k] || p[k] > hi[k])
            return false;
    return true;
}

TEST(DeviceLayout, TwoWideNodesReachEveryTriangleOnce)
{
    for (int count : {1, 2, 7, 3000})
    {
        Built b = RandomScene(count, 3);
        const auto nodes = MakeDeviceNodes(b.bvh.nodes);
        std::vector<int> seen(count, 0);
        std::vector<int> stack{0};
        while (!stack.empty())
        {
            const DeviceNode& n = nodes[stack.back()];
            stack.pop_back();
            // A root that is a leaf is held as both children.
            const int children = b.bvh.nodes[0].count > 0 ? 1 : 2;
            for (int c = 0; c < children; ++c)
            {
                const DeviceNode::Child& ch = n.child[c];
                if (ch.count > 0)
                    for (int i = ch.ref; i < ch.ref + ch.count; ++i)
                    {
                        ++seen[b.triangles[i].shapeid];
                        EXPECT_TRUE(Inside(ch.lo, ch.hi, b.triangles[i].v0));
                        EXPECT_TRUE(Inside(ch.lo, ch.hi, b.triangles[i].v2));
                    }
                else
                {
                    ASSERT_GT(ch.ref, 0);
                    ASSERT_LT(ch.ref, static_cast<int>(nodes.size()));
                    stack.push_back(ch.ref);
                }
            }
        }
        for (int s : seen)
            EXPECT_EQ(s, 1) << count << " triangles";
    }
}

TEST(DeviceLayout, WideNodesReachEveryTriangleOnce)
{
    // 70,000 triangles make a tree big enough to be planned on two threads, with enough
    // leaves for their blocks to be written on two threads.
    for (int width : {4, 8})
        for (int count : {1, 2, 7, 3000, 70000})
        {
            Built b = RandomScene(count, 4);
            WideBvh wide = MakeWideBvh(b.bvh.nodes, b.triangles, width);
            std::vector<int> seen(count, 0);
            std::vector<int> stack{0};
            while (!stack.empty())
            {
                const WideNode& n = wide.nodes[stack.back()];
                stack.pop_back();
                for (int k = 0; k < kMaxWideWidth; ++k)
                {
                    const float lo[3] = {n.lox[k], n.loy[k], n.loz[k]};
                    const float hi[3] = {n.hix[k], n.hiy[k], n.hiz[k]};
                    if (n.count[k] < 0)
                    {
                        EXPECT_GT(lo[0], hi[0]) << "an unused child's box is empty";
                        continue;
                    }
                    ASSERT_LT(k, width) << "a child in a lane the device does not read";
                    if (n.count[k] == 0)
                    {
                        ASSERT_GT(n.ref[k], 0);
                        ASSERT_LT(n.ref[k], static_cast<int>(wide.nodes.size()));
                        stack.push_back(n.ref[k]);
                        continue;
                    }
                    // A leaf: its blocks' lanes name its triangles; padding repeats one of them.
                    std::vector<int> ids;
                    for (int blk = n.ref[k]; blk < n.ref[k] + n.count[k]; ++blk)
                        for (int lane = 0; lane < 4; ++lane)
                        {
                            ids.push_back(wide.blocks[blk].shapeid[lane]);
                            const float p[3] = {wide.blocks[blk].v[1][0][lane],
                                                wide.blocks[blk].v[1][1][lane],
                                                wide.blocks[blk].v[1][2][lane]};
                            EXPECT_TRUE(Inside(lo, hi, p));
                        }
                    std::sort(ids.begin(), ids.end());
                    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
                    for (int id : ids)
                        ++seen[id];
                }
            }
            for (int s : seen)
                EXPECT_EQ(s, 1) << count << " triangles, width " << width;
        }
}

// The surface area heuristic's cost of a wide layout: its nodes' box areas, and its leaves' box
// areas times their blocks times the cost of a block.
double HalfArea(const float lo[3], const float hi[3])
{
    const double dx = double(hi[0]) - lo[0], dy = double(hi[1]) - lo[1], dz = double(hi[2]) - lo[2];
    return dx * dy + dy * dz + dz * dx;
}

double WideCost(const WideBvh& wide, int width)
{
    double cost = 0.0;
    for (const WideNode& n : wide.nodes)
        for (int k = 0; k < width; ++k)
            if (n.count[k] >= 0)
            {
                const float lo[3] = {n.lox[k], n.loy[k], n.loz[k]};
                const float hi[3] = {n.hix[k], n.hiy[k], n.hiz[k]};
                cost += HalfArea(lo, hi) * (n.count[k] > 0 ? kWideBlockCost * n.count[k] : 1.0);
            }
    return cost; // the root's own box is the same in every layout of the tree, and left out
}

// The least cost of any wide layout of the binary tree, found by trying every choice of the
// inner nodes that become wide nodes (the others give their children's slots to their wide
// parent), each with no more than `width` children.
double LeastWideCost(const BvhBuild& bvh, int width)
{
    const auto& nodes = bvh.nodes;
    std::vector<int> inner;
    for (std::size_t i = 1; i < nodes.size(); ++i)
        if (nodes[i].count == 0)
            inner.push_back(static_cast<int>(i));
    auto area = [&](int i) { return HalfArea(nodes[i].lo, nodes[i].hi); };
    double least = std::numeric_limits<double>::infinity();
    std::vector<char> wideNode(nodes.size());
    for (std::uint32_t choice = 0; choice < (1u << inner.size()); ++choice)
    {
        std::fill(wideNode.begin(), wideNode.end(), 0);
        wideNode[0] = 1;
        for (std::size_t b = 0; b < inner.size(); ++b)
            wideNode[static_cast<std::size_t>(inner[b])] = (choice >> b) & 1;
        double cost = 0.0;
        bool fits = true;
        for (std::size_t w = 0; w < nodes.size() && fits; ++w)
        {
            if (!wideNode[w])
                continue;
            // The wide node's children: leaves and wide nodes below it, through the others.
            int children = 0;
            std::vector<int> stack{nodes[w].index, nodes[w].index + 1};
            while (!stack.empty())
            {
                const int c = stack.back();
                stack.pop_back();
                if (nodes[c].count == 0 && !wideNode[static_cast<std::size_t>(c)])
                {
                    stack.push_back(nodes[c].index);
                    stack.push_back(nodes[c].index + 1);
                    continue;
                }
                ++children;
                cost += nodes[c].count > 0 ? area(c) * kWideBlockCost * ((nodes[c].count + 3) / 4)
                                           : area(c);
            }
            fits = children <= width;
        }
        if (fits)
            least = std::min(least, cost);
    }
    return least;
}

TEST(DeviceLayout, WideLayoutIsTheLeastCostlyOfAllCollapses)
{
    // Trees of 11 to 16 inner nodes: few enough to try every collapse.
    int tried = 0;
    for (int width : {4, 8})
        for (unsigned seed = 1; seed <= 12; ++seed)
        {
            Built b = RandomScene(36 + static_cast<int>(seed), seed);
            int inner = 0;
            for (const BvhNode& n : b.bvh.nodes)
                inner += n.count == 0;
            if (inner > 17)
                continue;
            ++tried;
            const double least = LeastWideCost(b.bvh, width);
            const double made = WideCost(MakeWideBvh(b.bvh.nodes, b.triangles, width), width);
            EXPECT_NEAR(made, least, 1e-5 * least) << "width " << width << ", seed " << seed;
        }
    EXPECT_GE(tried, 12);
}

} // namespace
} // namespace rrtest
