#include "rr/wide_bvh.h"

#include "rr/parallel_for.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>
#include <thread>
#include <vector>

namespace RadeonRays::detail
{
namespace
{

// Subtrees of at most this many triangles may become one leaf of the wide layout, where that
// costs less than a node: one block, which a single ray tests in one go (bench/README.md has
// the measurements of larger leaves).
constexpr int kWideLeafTriangles = 4;

// Trees of fewer triangles are planned on one thread: starting another costs more.
constexpr int kParallelPlanMin = 65536;
// At most this many subtrees are shared out (a lopsided tree would open many).
constexpr std::size_t kPlanSubtreesMax = 64;

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

    // Chooses, for every binary node, how the wide layout represents it. Big trees are planned
    // on both cores: their biggest subtrees are opened until none holds more than a tenth of
    // the triangles, and shared out between two threads by their triangles; the nodes above
    // them are planned last.
    void Plan()
    {
        plans_.resize(bvh_.size());
        float cost[kMaxWideWidth];
        if (count_[0] < kParallelPlanMin || std::thread::hardware_concurrency() < 2)
        {
            PlanSubtree(0, cost);
            return;
        }
        std::vector<int> subtrees{0};
        for (;;)
        {
            auto biggest = std::max_element(subtrees.begin(), subtrees.end(),
                                            [&](int x, int y) { return count_[x] < count_[y]; });
            if (std::int64_t(count_[*biggest]) * 10 <= count_[0] || bvh_[*biggest].count > 0 ||
                subtrees.size() == kPlanSubtreesMax)
                break;
            const int n = *biggest;
            *biggest = bvh_[n].index;
            subtrees.push_back(bvh_[n].index + 1);
        }
        std::sort(subtrees.begin(), subtrees.end(),
                  [&](int x, int y) { return count_[x] > count_[y]; });
        // part[t]: the places in `subtrees` of those thread t plans.
        std::vector<std::size_t> part[2];
        std::size_t load[2] = {0, 0};
        for (std::size_t i = 0; i < subtrees.size(); ++i)
        {
            const int lighter = load[1] < load[0];
            part[lighter].push_back(i);
            load[lighter] += count_[subtrees[i]];
        }
        subtreeCosts_.resize(subtrees.size());
        auto planPart = [&](const std::vector<std::size_t>& places)
        {
            for (std::size_t i : places)
                PlanSubtree(subtrees[i], subtreeCosts_[i].data());
        };
        std::thread other(planPart, std::cref(part[1]));
        planPart(part[0]);
        other.join();
        subtrees_ = std::move(subtrees);
        PlanSubtree(0, cost, true);
        subtrees_.clear();
        subtreeCosts_.clear();
    }

    // Makes the wide node for binary node `node` (the root) in slot `slot`, and the nodes below
    // it, and takes the blocks of its leaves (FillBlocks writes them).
    void Build(int node, int slot)
    {
        int children[kMaxWideWidth];
        int count = 1;
        if (IsLeaf(node))
            children[0] = node;
        else
            count = ChildrenOfNode(node, children);
        Make(children, count, slot);
    }

private:
    // How inner binary node n is laid out, chosen for the least cost of the whole tree (Ylitie,
    // Karras and Laine 2017; the cost is the one MakeWideBvh's comment gives) rather than by
    // opening the largest box first, which leaves many nodes near the bottom with few children.
    // split[i - 1], for its subtree when it may take up to i > 1 child slots of the wide node
    // above it: how many go to its first child's subtree (the rest to the second's), or 0
    // where fewer slots cost no more. split[0], for one slot: 0 for a leaf, else it is a wide
    // node of its own, and how many of its slots its first child's subtree takes.
    struct NodePlan
    {
        std::uint8_t split[kMaxWideWidth];
    };

    // Plans binary node n's subtree, children first, and fills cost[i - 1] with its least cost
    // in up to i slots, for every i up to the width W (beyond the subtree's leaves more slots
    // cost the same). Binary leaves need no plan: they are leaves of the wide layout too.
    template <int W> void PlanSubtree(int n, float* cost, bool top = false)
    {
        if (bvh_[n].count > 0)
        {
            std::fill(cost, cost + W, LeafCost(n));
            return;
        }
        if (top)
        {
            // Above the subtrees planned on both cores, whose costs are known.
            const auto known = std::find(subtrees_.begin(), subtrees_.end(), n);
            if (known != subtrees_.end())
            {
                const auto& c = subtreeCosts_[static_cast<std::size_t>(known - subtrees_.begin())];
                std::copy(c.begin(), c.begin() + W, cost);
                return;
            }
        }
        float a[W], b[W];
        const int first = bvh_[n].index;
        PlanSubtree<W>(first, a, top);
        PlanSubtree<W>(first + 1, b, top);
        // shared[j - 1]: the least cost of both children's subtrees in j slots, with
        // sharedSplit[j - 1] of them the first child's.
        float shared[W] = {};
        int sharedSplit[W] = {};
        if (bvh_[first].count > 0 || bvh_[first + 1].count > 0)
        {
            // A leaf costs the same in any number of slots: it takes one, the other child the
            // rest. Most nodes near the bottom have a leaf child.
            const bool firstLeaf = bvh_[first].count > 0;
            for (int j = 2; j <= W; ++j)
            {
                shared[j - 1] = firstLeaf ? a[0] + b[j - 2] : a[j - 2] + b[0];
                sharedSplit[j - 1] = firstLeaf ? 1 : j - 1;
            }
        }
        else
            for (int j = 2; j <= W; ++j)
            {
                float best = a[0] + b[j - 2];
                int bestSplit = 1;
                for (int k = 2; k < j; ++k)
                {
                    const float c = a[k - 1] + b[j - k - 1];
                    bestSplit = c < best ? k : bestSplit;
                    best = c < best ? c : best;
                }
                shared[j - 1] = best;
                sharedSplit[j - 1] = bestSplit;
            }
        NodePlan p = {};
        // As a wide node of its own, its children's subtrees share all its slots.
        const float area = static_cast<float>(HalfArea(bvh_[n]));
        const float nodeCost = area + shared[W - 1];
        const float leafCost = LeafCost(n);
        if (count_[n] <= kWideLeafTriangles && leafCost <= nodeCost)
            cost[0] = leafCost;
        else
        {
            cost[0] = nodeCost;
            p.split[0] = static_cast<std::uint8_t>(sharedSplit[W - 1]);
        }
        // More slots never cost more (the children's costs never rise with their slots, so
        // neither do their sums): i slots are shared where that costs less than one slot and
        // than i - 1 slots.
        for (int i = 2; i <= W; ++i)
        {
            const bool share = shared[i - 1] < cost[0] && (i == 2 || shared[i - 1] < shared[i - 2]);
            cost[i - 1] = std::min(shared[i - 1], cost[0]);
            p.split[i - 1] = static_cast<std::uint8_t>(share ? sharedSplit[i - 1] : 0);
        }
        plans_[n] = p;
    }

    float LeafCost(int n) const
    {
        return static_cast<float>(HalfArea(bvh_[n])) * kWideBlockCost *
               static_cast<float>((count_[n] + 3) / 4);
    }

    void PlanSubtree(int n, float* cost, bool top = false)
    {
        if (width_ == 8)
            PlanSubtree<8>(n, cost, top);
        else
            PlanSubtree<4>(n, cost, top);
    }

    // Appends the children that binary node n's subtree gives a wide node when it may take up
    // to `slots` of them.
    void Gather(int n, int slots, int* children, int& count) const
    {
        if (bvh_[n].count > 0)
        {
            children[count++] = n;
            return;
        }
        const NodePlan& p = plans_[n];
        int i = slots;
        while (i > 1 && p.split[i - 1] == 0)
            --i;
        if (i == 1)
        {
            children[count++] = n;
            return;
        }
        Gather(bvh_[n].index, p.split[i - 1], children, count);
        Gather(bvh_[n].index + 1, i - p.split[i - 1], children, count);
    }

    // The children of the wide node that inner binary node n makes.
    int ChildrenOfNode(int n, int* children) const
    {
        const int first = plans_[n].split[0];
        int count = 0;
        Gather(bvh_[n].index, first, children, count);
        Gather(bvh_[n].index + 1, width_ - first, children, count);
        return count;
    }

    bool IsLeaf(int node) const { return bvh_[node].count > 0 || plans_[node].split[0] == 0; }

    // Writes the wide node in `slot` over the given binary nodes, then the nodes below it.
    void Make(const int* children, int count, int slot)
    {
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
        {
            int grand[kMaxWideWidth];
            const int grandCount = ChildrenOfNode(children[inner[i]], grand);
            Make(grand, grandCount, firstChild + i);
        }
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
    UninitVector<NodePlan> plans_;    // per binary node
    // While Plan plans the top of a big tree: the subtrees planned on both cores, and their costs.
    std::vector<int> subtrees_;
    std::vector<std::array<float, kMaxWideWidth>> subtreeCosts_;
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
    collapser.Plan();
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
