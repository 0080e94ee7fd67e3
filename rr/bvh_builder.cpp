#include "rr/bvh_builder.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstddef>
#include <cstring>
#include <exception>
#include <limits>
#include <mutex>
#include <thread>

namespace RadeonRays::detail
{
namespace
{

constexpr int kBins = 32;
// Trees of at least this many primitives are built on two threads.
constexpr int kParallelBuildMin = 4096;
// Ranges of at most this many primitives become leaves without weighing a split: about half of
// a tree's nodes would otherwise be splits of such ranges, for next to no gain in the packets'
// speed (the single rays' wide layout has leaves of up to four triangles too).
constexpr int kMaxLeafSize = 4;
// Below this depth splits follow the SAH; deeper ranges are halved at the centroid median, so
// the tree stays within kMaxBvhDepth even for pathological inputs (log2 of 2^31 primitives fits).
constexpr int kSahDepthLimit = kMaxBvhDepth - 32;

// Four floats side by side, for growing boxes a corner at a time (GCC and Clang vectors).
typedef float Lanes __attribute__((vector_size(16)));

// The box of a bin's primitives, in lanes 0 to 2 of each corner.
struct Bin
{
    Lanes lo, hi;
};

Bin EmptyBin()
{
    const float inf = std::numeric_limits<float>::infinity();
    return Bin{Lanes{inf, inf, inf, inf}, Lanes{-inf, -inf, -inf, -inf}};
}

void Grow(Bin& into, const Bin& b)
{
    into.lo = b.lo < into.lo ? b.lo : into.lo;
    into.hi = b.hi > into.hi ? b.hi : into.hi;
}

// Half the surface area of the box in lanes 0 to 2; 0 for an empty box.
float HalfArea(const Bin& b)
{
    const Lanes d = b.hi - b.lo;
    return d[0] < 0.0f ? 0.0f : d[0] * d[1] + d[1] * d[2] + d[2] * d[0];
}

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
};

struct Prim
{
    Aabb box;
    float centroid[3];
    std::uint32_t index;
};

// Binning reads four floats from box.lo and from box.hi.
static_assert(offsetof(Prim, box) == 0 && offsetof(Prim, centroid) == sizeof(Aabb) &&
                  sizeof(Aabb) == 6 * sizeof(float),
              "Prim keeps its box and centroid in a row");

struct Task
{
    int node;
    int begin;
    int end;
    int depth;
    Box bounds;    // of the range's boxes
    Box centroids; // of the range's centroids
};

// Ranges of at least this many primitives are shared between the threads of a parallel
// build; smaller ones stay with the thread that made them.
constexpr int kShareMin = 2048;

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
        // A binary tree over n primitives has at most 2n - 1 nodes; slots are handed out in
        // pairs (siblings side by side), after their parent's.
        nodes_.assign(2 * prims_.size(), BvhNode{});
        nextNode_ = 1;
        Task root{0, 0, n, 0, {}, {}};
        for (const Prim& p : prims_)
        {
            root.bounds.Grow(p.box.lo, p.box.hi);
            root.centroids.Grow(p.centroid, p.centroid);
        }
        const unsigned threads = n >= kParallelBuildMin ? std::thread::hardware_concurrency() : 1;
        out.depth = threads >= 2 ? GrowShared(root, 2) : GrowLocal({root});
        nodes_.resize(nextNode_);
        out.nodes = std::move(nodes_);
        Finish(out);
        return out;
    }

private:
    // Builds the task and everything below it on this thread; returns the deepest depth.
    int GrowLocal(std::vector<Task> tasks)
    {
        int depth = 0;
        while (!tasks.empty())
        {
            const Task t = tasks.back();
            tasks.pop_back();
            depth = std::max(depth, Expand(t, tasks));
        }
        return depth;
    }

    // Builds the tree on `threads` threads that take big ranges from a shared list. The
    // threads write disjoint node slots and partition disjoint ranges of the primitives.
    int GrowShared(const Task& root, unsigned threads)
    {
        std::mutex mutex;
        std::condition_variable wake;
        std::vector<Task> shared{root};
        int working = 0; // threads holding a shared task
        std::exception_ptr failure;
        std::vector<int> depths(threads, 0);
        auto worker = [&](unsigned id)
        {
            std::vector<Task> local, made;
            while (true)
            {
                Task t;
                {
                    std::unique_lock<std::mutex> lock(mutex);
                    wake.wait(lock, [&] { return !shared.empty() || working == 0; });
                    if (shared.empty())
                        return;
                    t = shared.back();
                    shared.pop_back();
                    ++working;
                }
                try
                {
                    local.push_back(t);
                    while (!local.empty())
                    {
                        const Task u = local.back();
                        local.pop_back();
                        made.clear();
                        depths[id] = std::max(depths[id], Expand(u, made));
                        for (const Task& c : made)
                        {
                            if (c.end - c.begin < kShareMin)
                            {
                                local.push_back(c);
                                continue;
                            }
                            std::lock_guard<std::mutex> lock(mutex);
                            shared.push_back(c);
                            wake.notify_one();
                        }
                    }
                }
                catch (...)
                {
                    std::lock_guard<std::mutex> lock(mutex);
                    if (!failure)
                        failure = std::current_exception();
                }
                std::lock_guard<std::mutex> lock(mutex);
                if (--working == 0 && shared.empty())
                    wake.notify_all();
            }
        };
        std::vector<std::thread> pool;
        for (unsigned id = 1; id < threads; ++id)
            pool.emplace_back(worker, id);
        worker(0);
        for (std::thread& t : pool)
            t.join();
        if (failure)
            std::rethrow_exception(failure);
        return *std::max_element(depths.begin(), depths.end());
    }

    // Fills the task's node: a leaf, or an inner node whose two children get adjacent slots
    // and are appended to tasks (second child first). Returns the task's depth.
    int Expand(const Task& t, std::vector<Task>& tasks)
    {
        BvhNode& node = nodes_[t.node];
        std::copy(t.bounds.lo, t.bounds.lo + 3, node.lo);
        std::copy(t.bounds.hi, t.bounds.hi + 3, node.hi);
        Task left{0, t.begin, 0, t.depth + 1, {}, {}};
        Task right{0, 0, t.end, t.depth + 1, {}, {}};
        const int mid = Split(t, left, right);
        if (mid < 0)
        {
            node.index = t.begin;
            node.count = t.end - t.begin;
            return t.depth;
        }
        const int child = nextNode_.fetch_add(2);
        node.index = child;
        node.count = 0;
        left.node = child;
        left.end = mid;
        right.node = child + 1;
        right.begin = mid;
        tasks.push_back(right);
        tasks.push_back(left);
        return t.depth;
    }

    // Records the primitives' final order.
    void Finish(BvhBuild& out) const
    {
        out.order.reserve(prims_.size());
        for (const Prim& p : prims_)
            out.order.push_back(p.index);
    }

    // Splits the task's range at the returned point, or returns -1 for a leaf; on a split,
    // fills the bounds of both sides.
    int Split(const Task& t, Task& left, Task& right)
    {
        bool bounded = false;
        const int mid = ChooseSplit(t, left, right, bounded);
        if (mid < 0 || bounded)
            return mid;
        for (int i = t.begin; i < mid; ++i)
        {
            left.bounds.Grow(prims_[i].box.lo, prims_[i].box.hi);
            left.centroids.Grow(prims_[i].centroid, prims_[i].centroid);
        }
        for (int i = mid; i < t.end; ++i)
        {
            right.bounds.Grow(prims_[i].box.lo, prims_[i].box.hi);
            right.centroids.Grow(prims_[i].centroid, prims_[i].centroid);
        }
        return mid;
    }

    // Partitions the task's range and returns the split point, or -1 for a leaf. Sets
    // bounded when it has filled the bounds of both sides too.
    int ChooseSplit(const Task& t, Task& left, Task& right, bool& bounded)
    {
        const Box& centroids = t.centroids;
        const int n = t.end - t.begin;
        if (n <= kMaxLeafSize)
            return -1;
        int axis = 0;
        for (int k = 1; k < 3; ++k)
            if (centroids.hi[k] - centroids.lo[k] > centroids.hi[axis] - centroids.lo[axis])
                axis = k;
        const float extent = centroids.hi[axis] - centroids.lo[axis];
        if (!(extent > 0.0f))
        {
            // All centroids coincide: no split separates them, so halve by position.
            return t.begin + n / 2;
        }
        if (t.depth >= kSahDepthLimit)
            return MedianSplit(t, axis);

        // One pass sorts every primitive into the bins of all three axes, growing each bin's
        // box four lanes at a time (the fourth lane is ignored). Small ranges get fewer bins:
        // there the sweeps over the bins, not the primitives, would dominate; only the bins in
        // use are initialised.
        float bestCost = std::numeric_limits<float>::infinity();
        int bestAxis = -1, bestBin = -1;
        const int nb = std::min(kBins, 4 + n / 2);
        Bin bins[3][kBins];
        int counts[3][kBins];
        for (int k = 0; k < 3; ++k)
            for (int b = 0; b < nb; ++b)
            {
                bins[k][b] = EmptyBin();
                counts[k][b] = 0;
            }
        float scale[3];
        for (int k = 0; k < 3; ++k)
        {
            const float ext = centroids.hi[k] - centroids.lo[k];
            scale[k] = ext > 0.0f ? nb / ext : 0.0f;
        }
        for (int i = t.begin; i < t.end; ++i)
        {
            const Prim& p = prims_[i];
            // Prim keeps lo, hi and the centroid in a row: four floats from lo or from hi
            // hold the three coordinates of that corner and one neighbour.
            Lanes lo, hi;
            std::memcpy(&lo, p.box.lo, sizeof(lo));
            std::memcpy(&hi, p.box.hi, sizeof(hi));
            for (int k = 0; k < 3; ++k)
            {
                const int b = BinOf(p.centroid[k], centroids.lo[k], scale[k], nb);
                Bin& bin = bins[k][b];
                bin.lo = lo < bin.lo ? lo : bin.lo;
                bin.hi = hi > bin.hi ? hi : bin.hi;
                ++counts[k][b];
            }
        }
        for (int k = 0; k < 3; ++k)
        {
            if (scale[k] == 0.0f)
                continue;
            // Sweep from the right to get the area and count of every right side.
            std::array<float, kBins> rightArea{};
            std::array<int, kBins> rightCount{};
            Bin acc = EmptyBin();
            int cnt = 0;
            for (int b = nb - 1; b > 0; --b)
            {
                Grow(acc, bins[k][b]);
                cnt += counts[k][b];
                rightArea[b] = HalfArea(acc);
                rightCount[b] = cnt;
            }
            acc = EmptyBin();
            cnt = 0;
            for (int b = 0; b < nb - 1; ++b)
            {
                Grow(acc, bins[k][b]);
                cnt += counts[k][b];
                if (cnt == 0 || rightCount[b + 1] == 0)
                    continue;
                const float cost = HalfArea(acc) * cnt + rightArea[b + 1] * rightCount[b + 1];
                if (cost < bestCost)
                {
                    bestCost = cost;
                    bestAxis = k;
                    bestBin = b;
                }
            }
        }
        if (bestAxis < 0)
            return MedianSplit(t, axis);
        const float lo = centroids.lo[bestAxis], s = scale[bestAxis];
        auto goesLeft = [&](const Prim& p)
        { return BinOf(p.centroid[bestAxis], lo, s, nb) <= bestBin; };
        // Partitions and bounds both sides in one pass.
        Box lb, lc, rb, rc;
        int i = t.begin, j = t.end - 1;
        while (true)
        {
            for (; i <= j && goesLeft(prims_[i]); ++i)
            {
                lb.Grow(prims_[i].box.lo, prims_[i].box.hi);
                lc.Grow(prims_[i].centroid, prims_[i].centroid);
            }
            for (; i <= j && !goesLeft(prims_[j]); --j)
            {
                rb.Grow(prims_[j].box.lo, prims_[j].box.hi);
                rc.Grow(prims_[j].centroid, prims_[j].centroid);
            }
            if (i > j)
                break;
            std::swap(prims_[i], prims_[j]);
        }
        const int mid = i;
        if (mid == t.begin || mid == t.end)
            return MedianSplit(t, axis);
        left.bounds = lb;
        left.centroids = lc;
        right.bounds = rb;
        right.centroids = rc;
        bounded = true;
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
    std::vector<BvhNode> nodes_;
    std::atomic<int> nextNode_{0};
};

} // namespace

BvhBuild BuildBvh(const std::vector<Aabb>& primitives)
{
    return Builder(primitives).Run();
}

} // namespace RadeonRays::detail
