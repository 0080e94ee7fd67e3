#include "rr/wide_bvh.h"

#include <algorithm>
#include <limits>

namespace RadeonRays::detail
{
namespace
{

// Subtrees of at most this many triangles become one leaf of the wide layout: one block, which
// a single ray tests in one go (bench/README.md has the measurements of larger leaves).
constexpr int kWideLeafTriangles = 4;

double HalfArea(const BvhNode& n)
{
    const double dx = double(n.hi[0]) - n.lo[0], dy = double(n.hi[1]) - n.lo[1],
                 dz = double(n.hi[2]) - n.lo[2];
    return dx * dy + dy * dz + dz * dx;
}

class Collapser
{
public:
    Collapser(const std::vector<BvhNode>& bvh, const std::vector<DeviceTriangle>& triangles,
              int width, WideBvh& out)
        : bvh_(bvh), triangles_(triangles), width_(width), out_(out), first_(bvh.size()),
          count_(bvh.size())
    {
        // The triangles under each node form one range of the leaf order. Children come after
        // their parent in the array, so a backward sweep sees them first.
        for (std::size_t i = bvh.size(); i-- > 0;)
        {
            const BvhNode& n = bvh[i];
            first_[i] = n.count > 0 ? n.index : first_[n.index];
            count_[i] = n.count > 0 ? n.count : count_[n.index] + count_[n.index + 1];
        }
    }

    // Makes the wide node for binary node `node` (inner, or the root leaf) in slot `slot`.
    void Build(int node, int slot)
    {
        std::vector<int> children;
        if (IsLeaf(node))
            children.push_back(node);
        else
            children = {bvh_[node].index, bvh_[node].index + 1};
        while (static_cast<int>(children.size()) < width_)
        {
            // Open the inner child with the largest box.
            int best = -1;
            for (std::size_t i = 0; i < children.size(); ++i)
                if (!IsLeaf(children[i]) &&
                    (best < 0 || HalfArea(bvh_[children[i]]) > HalfArea(bvh_[children[best]])))
                    best = static_cast<int>(i);
            if (best < 0)
                break;
            const int open = children[best];
            children[best] = bvh_[open].index;
            children.push_back(bvh_[open].index + 1);
        }

        WideNode w;
        for (int k = 0; k < kMaxWideWidth; ++k)
        {
            const float inf = std::numeric_limits<float>::infinity();
            w.lox[k] = w.loy[k] = w.loz[k] = inf;
            w.hix[k] = w.hiy[k] = w.hiz[k] = -inf;
            w.ref[k] = 0;
            w.count[k] = -1;
        }
        std::vector<std::pair<int, int>> inner; // (binary node, child slot)
        for (std::size_t k = 0; k < children.size(); ++k)
        {
            const BvhNode& c = bvh_[children[k]];
            w.lox[k] = c.lo[0];
            w.loy[k] = c.lo[1];
            w.loz[k] = c.lo[2];
            w.hix[k] = c.hi[0];
            w.hiy[k] = c.hi[1];
            w.hiz[k] = c.hi[2];
            if (IsLeaf(children[k]))
            {
                w.ref[k] = static_cast<int>(out_.blocks.size());
                w.count[k] = AddBlocks(first_[children[k]], count_[children[k]]);
            }
            else
            {
                w.count[k] = 0;
                inner.push_back({children[k], static_cast<int>(k)});
            }
        }
        out_.nodes[slot] = w;
        for (auto [child, k] : inner)
        {
            const int childSlot = static_cast<int>(out_.nodes.size());
            out_.nodes.push_back(WideNode{});
            out_.nodes[slot].ref[k] = childSlot;
            Build(child, childSlot);
        }
    }

private:
    bool IsLeaf(int node) const
    {
        return count_[node] <= kWideLeafTriangles || bvh_[node].count > 0;
    }

    int AddBlocks(int first, int count)
    {
        const int blocks = (count + 3) / 4;
        for (int b = 0; b < blocks; ++b)
        {
            TriangleBlock block;
            for (int lane = 0; lane < 4; ++lane)
            {
                // Unused lanes repeat the leaf's last triangle.
                const int i = first + std::min(4 * b + lane, count - 1);
                const DeviceTriangle& t = triangles_[i];
                const float* corners[3] = {t.v0, t.v1, t.v2};
                for (int c = 0; c < 3; ++c)
                    for (int axis = 0; axis < 3; ++axis)
                        block.v[c][axis][lane] = corners[c][axis];
                block.shapeid[lane] = t.shapeid;
            }
            out_.blocks.push_back(block);
        }
        return blocks;
    }

    const std::vector<BvhNode>& bvh_;
    const std::vector<DeviceTriangle>& triangles_;
    const int width_;
    WideBvh& out_;
    std::vector<int> first_; // per binary node: its first triangle in leaf order
    std::vector<int> count_; // and how many triangles it holds
};

} // namespace

WideBvh MakeWideBvh(const std::vector<BvhNode>& bvh, const std::vector<DeviceTriangle>& triangles,
                    int width)
{
    WideBvh out;
    if (bvh.empty())
        return out;
    out.nodes.push_back(WideNode{});
    Collapser(bvh, triangles, width, out).Build(0, 0);
    return out;
}

std::vector<WideNodeOf<4>> NarrowToFourWide(const std::vector<WideNode>& nodes)
{
    std::vector<WideNodeOf<4>> out(nodes.size());
    for (std::size_t i = 0; i < nodes.size(); ++i)
    {
        const WideNode& n = nodes[i];
        WideNodeOf<4>& o = out[i];
        std::copy(n.lox, n.lox + 4, o.lox);
        std::copy(n.loy, n.loy + 4, o.loy);
        std::copy(n.loz, n.loz + 4, o.loz);
        std::copy(n.hix, n.hix + 4, o.hix);
        std::copy(n.hiy, n.hiy + 4, o.hiy);
        std::copy(n.hiz, n.hiz + 4, o.hiz);
        std::copy(n.ref, n.ref + 4, o.ref);
        std::copy(n.count, n.count + 4, o.count);
    }
    return out;
}

} // namespace RadeonRays::detail
