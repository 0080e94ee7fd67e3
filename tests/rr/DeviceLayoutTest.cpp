// The two device layouts of a built BVH reach every triangle exactly once, with boxes that
// enclose what they lead to.
#include "rr/bvh_builder.h"
#include "rr/scene_data.h"
#include "rr/wide_bvh.h"

#include <gtest/gtest.h>

#include <algorithm>
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
    // 60,000 triangles make enough leaves for their blocks to be written on two threads.
    for (int width : {4, 8})
        for (int count : {1, 2, 7, 3000, 60000})
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

} // namespace
} // namespace rrtest
