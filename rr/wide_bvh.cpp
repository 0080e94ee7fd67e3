#include "rr/wide_bvh.h"

#include "rr/parallel_for.h"

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

// The triangles of one wide leaf, to be written into its blocks once the nodes are made.
struct LeafBlocks
{
    int block; // the leaf's first block
    int first; // its first triangle in leaf order
    int count; // its triangles
};

class Collapser
{
public:
    Collapser(const UninitVector<BvhNode>& bvh, const DeviceTriangle* triangles, int width,
              WideBvh& out)
        : bvh_(bvh), triangles_(triangles), width_(width), out_(out), first_(bvh.size()),
          count_(bvh.size())
    {
        // The triangles under each node form one range of the leaf order. Children come after
        // their parent in the array, so a backward sweep sees them first.
        std::size_t leaves = 0;
        for (std::size_t i = bvh.size(); i-- > 0;)
        {
            const BvhNode& n = bvh[i];
            leaves += n.count > 0;
            first_[i] = n.count > 0 ? n.index : first_[n.index];
            count_[i] = n.count > 0 ? n.count : count_[n.index] + count_[n.index + 1];
        }
        leaves_.reserve(leaves); // every wide leaf holds at least one binary leaf
    }

    // Writes every leaf's triangles into its blocks, the leaves shared between the cores: the
    // blocks are most of the layout's bytes, and writing them is most of its time.
    void FillBlocks()
    {
        ParallelFor(leaves_.size(),
                    [&](unsigned, std::size_t begin, std::size_t end)
                    {
                        for (std::size_t l = begin; l < end; ++l)
                            FillLeaf(leaves_[l]);
                    });
    }

    // Makes the wide node for binary node `node` (inner, or the root leaf) in slot `slot`, and
    // the nodes below it, and takes the blocks of its leaves (FillBlocks writes them).
    void Build(int node, int slot)
    {
        int children[kMaxWideWidth];
        double area[kMaxWideWidth];
        int count = 0;
        auto add = [&](int child)
        {
            children[count] = child;
            area[count] = IsLeaf(child) ? -1.0 : HalfArea(bvh_[child]);
            ++count;
        };
        if (IsLeaf(node))
            add(node);
        else
        {
            add(bvh_[node].index);
            add(bvh_[node].index + 1);
        }
        while (count < width_)
        {
            // Open the inner child with the largest box (leaves have area -1).
            int best = 0;
            for (int i = 1; i < count; ++i)
                if (area[i] > area[best])
                    best = i;
            if (area[best] < 0.0)
                break;
            const int open = children[best];
            children[best] = bvh_[open].index;
            area[best] = IsLeaf(children[best]) ? -1.0 : HalfArea(bvh_[children[best]]);
            add(bvh_[open].index + 1);
        }

        WideNode& w = out_.nodes[slot];
        int inner[kMaxWideWidth];
        int innerCount = 0;
        for (int k = 0; k < kMaxWideWidth; ++k)
        {
            if (k >= count)
            {
                const float inf = std::numeric_limits<float>::infinity();
                w.lox[k] = w.loy[k] = w.loz[k] = inf;
                w.hix[k] = w.hiy[k] = w.hiz[k] = -inf;
                w.ref[k] = 0;
                w.count[k] = -1;
                continue;
            }
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
                inner[innerCount++] = k;
            }
        }
        // Slots for the inner children side by side, then each one's subtree.
        const int firstChild = static_cast<int>(out_.nodes.size());
        out_.nodes.resize(out_.nodes.size() + innerCount);
        for (int i = 0; i < innerCount; ++i)
            out_.nodes[slot].ref[inner[i]] = firstChild + i;
        for (int i = 0; i < innerCount; ++i)
            Build(children[inner[i]], firstChild + i);
    }

private:
    bool IsLeaf(int node) const
    {
        return count_[node] <= kWideLeafTriangles || bvh_[node].count > 0;
    }

    // Takes the leaf's blocks; FillBlocks writes them.
    int AddBlocks(int first, int count)
    {
        const int blocks = (count + 3) / 4;
        leaves_.push_back({static_cast<int>(out_.blocks.size()), first, count});
        out_.blocks.resize(out_.blocks.size() + blocks);
        return blocks;
    }

    void FillLeaf(const LeafBlocks& leaf)
    {
        const int blocks = (leaf.count + 3) / 4;
        for (int b = 0; b < blocks; ++b)
        {
            TriangleBlock& block = out_.blocks[static_cast<std::size_t>(leaf.block + b)];
            for (int lane = 0; lane < 4; ++lane)
            {
                // Unused lanes repeat the leaf's last triangle.
                const int i = leaf.first + std::min(4 * b + lane, leaf.count - 1);
                const DeviceTriangle& t = triangles_[i];
                const float* corners[3] = {t.v0, t.v1, t.v2};
                for (int c = 0; c < 3; ++c)
                    for (int axis = 0; axis < 3; ++axis)
                        block.v[c][axis][lane] = corners[c][axis];
                block.shapeid[lane] = t.shapeid;
            }
        }
    }

    const UninitVector<BvhNode>& bvh_;
    const DeviceTriangle* triangles_;
    const int width_;
    WideBvh& out_;
    UninitVector<int> first_;         // per binary node: its first triangle in leaf order
    UninitVector<int> count_;         // and how many triangles it holds
    UninitVector<LeafBlocks> leaves_; // in the order their blocks were taken
};

} // namespace

WideBvh MakeWideBvh(const UninitVector<BvhNode>& bvh, const DeviceTriangle* triangles, int width)
{
    WideBvh out;
    if (bvh.empty())
        return out;
    // Upper bounds, which cost no memory until used: every wide leaf holds at least one binary
    // leaf, and every wide node at least two children.
    std::size_t leaves = 0;
    for (const BvhNode& n : bvh)
        leaves += n.count > 0;
    out.blocks.reserve(leaves);
    out.nodes.reserve(leaves);
    out.nodes.resize(1);
    Collapser collapser(bvh, triangles, width, out);
    collapser.Build(0, 0);
    collapser.FillBlocks();
    return out;
}

UninitVector<WideNodeOf<4>> NarrowToFourWide(const UninitVector<WideNode>& nodes)
{
    UninitVector<WideNodeOf<4>> out(nodes.size());
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
