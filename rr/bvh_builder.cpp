#include "rr/bvh_builder.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <thread>

namespace RadeonRays::detail
{
namespace
{

constexpr int kBins = 32;
// Trees of at least this many primitives build their root's two subtrees on two threads.
constexpr int kParallelBuildMin = 20000;
constexpr int kMaxLeafSize = 4;
// Below this depth splits follow the SAH; deeper ranges are halved at the centroid median, so
// the tree stays within kMaxBvhDepth even for pathological inputs (log2 of 2^31 primitives fits).
constexpr int kSahDepthLimit = kMaxBvhDepth - 32;
// Relative cost of visiting a node against testing one primitive.
constexpr float kTraversalCost = 1.0f;
constexpr float kPrimitiveCost = 1.0f;

struct Box
{
    float lo[3] = {std::numeric_limits<float>::infinity(), std::numeric_limits<float>::infinity(),
                   std::numeric_limits<float>::infinity()};
    float hi[3] = {-std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity(),
                   -std::numeric_limits<float>::infinity()};

    void Grow(const float* plo, const float* phi)
    {
        for (int k = 0; k < 3; ++k)
        {
            lo[k] = std::min(lo[k], plo[k]);
            hi[k] = std::max(hi[k], phi[k]);
        }
    }
    void Grow(const Box& b) { Grow(b.lo, b.hi); }
    bool Empty() const { return lo[0] > hi[0]; }
    double HalfArea() const
    {
        if (Empty())
            return 0.0;
        double dx = double(hi[0]) - lo[0], dy = double(hi[1]) - lo[1], dz = double(hi[2]) - lo[2];
        return dx * dy + dy * dz + dz * dx;
    }
};

struct Prim
{
    Aabb box;
    float centroid[3];
    std::uint32_t index;
};

struct Task
{
    int node;
    int begin;
    int end;
    int depth;
};

class Builder
{
public:
    explicit Builder(const std::vector<Aabb>& input)
    {
        prims_.reserve(input.size());
        for (std::size_t i = 0; i < input.size(); ++i)
        {
            Prim p;
            p.box = input[i];
            for (int k = 0; k < 3; ++k)
                p.centroid[k] = 0.5f * input[i].lo[k] + 0.5f * input[i].hi[k];
            p.index = static_cast<std::uint32_t>(i);
            prims_.push_back(p);
        }
    }

    BvhBuild Run()
    {
        BvhBuild out;
        if (prims_.empty())
            return out;
        const int n = static_cast<int>(prims_.size());
        out.nodes.reserve(2 * prims_.size());
        out.nodes.push_back(BvhNode{});
        std::vector<Task> children;
        Expand({0, 0, n, 0}, out.nodes, children);
        if (children.empty() || n < kParallelBuildMin || std::thread::hardware_concurrency() < 2)
            out.depth = Grow(children, out.nodes);
        else
            out.depth = GrowApart(children, out.nodes);
        Finish(out);
        return out;
    }

private:
    // Big trees: the root's second subtree grows on a thread of its own, into a vector of
    // its own (its root at 0), and is appended afterwards. The two threads partition
    // disjoint ranges of the primitives. Returns the deepest depth reached.
    int GrowApart(const std::vector<Task>& children, std::vector<BvhNode>& nodes)
    {
        Task right = children[0]; // Expand pushes the second child first
        const int rightSlot = right.node;
        right.node = 0;
        std::vector<BvhNode> rightNodes(1);
        int rightDepth = 0;
        std::thread worker([&] { rightDepth = Grow({right}, rightNodes); });
        int leftDepth = 0;
        try
        {
            leftDepth = Grow({children[1]}, nodes);
        }
        catch (...)
        {
            worker.join();
            throw;
        }
        worker.join();
        // Local node i > 0 of the right subtree goes to base + i - 1; its root to rightSlot.
        const int base = static_cast<int>(nodes.size());
        auto place = [&](BvhNode node)
        {
            if (node.count == 0)
                node.index = base + node.index - 1;
            return node;
        };
        nodes[rightSlot] = place(rightNodes[0]);
        for (std::size_t i = 1; i < rightNodes.size(); ++i)
            nodes.push_back(place(rightNodes[i]));
        return std::max(leftDepth, rightDepth);
    }

    // Fills the task's node: a leaf, or an inner node whose two children are appended to
    // nodes and pushed onto tasks (second child first). Returns the task's depth.
    int Expand(const Task& t, std::vector<BvhNode>& nodes, std::vector<Task>& tasks)
    {
        Box bounds, centroids;
        for (int i = t.begin; i < t.end; ++i)
        {
            bounds.Grow(prims_[i].box.lo, prims_[i].box.hi);
            centroids.Grow(prims_[i].centroid, prims_[i].centroid);
        }
        BvhNode& node = nodes[t.node];
        std::copy(bounds.lo, bounds.lo + 3, node.lo);
        std::copy(bounds.hi, bounds.hi + 3, node.hi);
        const int mid = Split(t, bounds, centroids);
        if (mid < 0)
        {
            node.index = t.begin;
            node.count = t.end - t.begin;
            return t.depth;
        }
        const int child = static_cast<int>(nodes.size());
        node.index = child;
        node.count = 0;
        nodes.push_back(BvhNode{});
        nodes.push_back(BvhNode{});
        tasks.push_back({child + 1, mid, t.end, t.depth + 1});
        tasks.push_back({child, t.begin, mid, t.depth + 1});
        return t.depth;
    }

    // Builds every pending task and what it leads to; returns the deepest depth reached.
    int Grow(std::vector<Task> tasks, std::vector<BvhNode>& nodes)
    {
        int depth = 0;
        while (!tasks.empty())
        {
            const Task t = tasks.back();
            tasks.pop_back();
            depth = std::max(depth, Expand(t, nodes, tasks));
        }
        return depth;
    }

    // Records the primitives' final order.
    void Finish(BvhBuild& out) const
    {
        out.order.reserve(prims_.size());
        for (const Prim& p : prims_)
            out.order.push_back(p.index);
    }

    // Partitions the task's range and returns the split point, or -1 for a leaf.
    int Split(const Task& t, const Box& bounds, const Box& centroids)
    {
        const int n = t.end - t.begin;
        if (n <= 1)
            return -1;
        int axis = 0;
        for (int k = 1; k < 3; ++k)
            if (centroids.hi[k] - centroids.lo[k] > centroids.hi[axis] - centroids.lo[axis])
                axis = k;
        const float extent = centroids.hi[axis] - centroids.lo[axis];
        if (!(extent > 0.0f))
        {
            // All centroids coincide: no split separates them, so halve by position.
            return n <= kMaxLeafSize ? -1 : t.begin + n / 2;
        }
        if (t.depth >= kSahDepthLimit)
            return MedianSplit(t, axis);

        struct Bin
        {
            Box box;
            int count = 0;
        };
        float bestCost = std::numeric_limits<float>::infinity();
        int bestAxis = -1, bestBin = -1;
        // One pass sorts every primitive into the bins of all three axes. Small ranges get
        // fewer bins: there the sweeps over the bins, not the primitives, would dominate.
        const int nb = std::min(kBins, 4 + n / 2);
        std::array<std::array<Bin, kBins>, 3> bins;
        float scale[3];
        for (int k = 0; k < 3; ++k)
        {
            const float ext = centroids.hi[k] - centroids.lo[k];
            scale[k] = ext > 0.0f ? nb / ext : 0.0f;
        }
        for (int i = t.begin; i < t.end; ++i)
            for (int k = 0; k < 3; ++k)
            {
                Bin& bin = bins[k][BinOf(prims_[i].centroid[k], centroids.lo[k], scale[k], nb)];
                bin.box.Grow(prims_[i].box.lo, prims_[i].box.hi);
                ++bin.count;
            }
        for (int k = 0; k < 3; ++k)
        {
            if (scale[k] == 0.0f)
                continue;
            // Sweep from the right to get the area and count of every right side.
            std::array<double, kBins> rightArea{};
            std::array<int, kBins> rightCount{};
            Box acc;
            int cnt = 0;
            for (int b = nb - 1; b > 0; --b)
            {
                acc.Grow(bins[k][b].box);
                cnt += bins[k][b].count;
                rightArea[b] = acc.HalfArea();
                rightCount[b] = cnt;
            }
            acc = Box{};
            cnt = 0;
            for (int b = 0; b < nb - 1; ++b)
            {
                acc.Grow(bins[k][b].box);
                cnt += bins[k][b].count;
                if (cnt == 0 || rightCount[b + 1] == 0)
                    continue;
                float cost =
                    static_cast<float>(acc.HalfArea() * cnt + rightArea[b + 1] * rightCount[b + 1]);
                if (cost < bestCost)
                {
                    bestCost = cost;
                    bestAxis = k;
                    bestBin = b;
                }
            }
        }
        const double area = bounds.HalfArea();
        const double leafCost = kPrimitiveCost * n;
        const double splitCost =
            area > 0.0 ? kTraversalCost + kPrimitiveCost * bestCost / area : leafCost;
        if (n <= kMaxLeafSize && (bestAxis < 0 || leafCost <= splitCost))
            return -1;
        if (bestAxis < 0)
            return MedianSplit(t, axis);
        const float lo = centroids.lo[bestAxis], s = scale[bestAxis];
        auto it = std::partition(prims_.begin() + t.begin, prims_.begin() + t.end,
                                 [&](const Prim& p)
                                 { return BinOf(p.centroid[bestAxis], lo, s, nb) <= bestBin; });
        int mid = static_cast<int>(it - prims_.begin());
        if (mid == t.begin || mid == t.end)
            return MedianSplit(t, axis);
        return mid;
    }

    int MedianSplit(const Task& t, int axis)
    {
        int mid = t.begin + (t.end - t.begin) / 2;
        std::nth_element(prims_.begin() + t.begin, prims_.begin() + mid, prims_.begin() + t.end,
                         [axis](const Prim& a, const Prim& b)
                         { return a.centroid[axis] < b.centroid[axis]; });
        return mid;
    }

    // Clamped before the conversion, which would be undefined for huge or NaN values (a
    // nearly flat range makes scale huge).
    static int BinOf(float c, float lo, float scale, int bins)
    {
        const float f = (c - lo) * scale;
        if (!(f > 0.0f))
            return 0;
        return f >= bins ? bins - 1 : static_cast<int>(f);
    }

    std::vector<Prim> prims_;
};

} // namespace

BvhBuild BuildBvh(const std::vector<Aabb>& primitives)
{
    return Builder(primitives).Run();
}

} // namespace RadeonRays::detail
