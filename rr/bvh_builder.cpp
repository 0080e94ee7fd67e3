#include "rr/bvh_builder.h"

#include "rr/default_init.h"
#include "rr/parallel_for.h"

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
typedef std::int32_t IntLanes __attribute__((vector_size(16)));

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

using Prim = BuildPrimitive;

// Centroids are kept doubled (lo + hi), which orders and bins them as the centroids would.
float Centroid2(const Prim& p, int k)
{
    return p.lo[k] + p.hi[k];
}

struct Task
{
    int node;
    int begin;
    int end;
    int depth;
    Box bounds;    // of the range's boxes
    Box centroids; // of the range's doubled centroids (Centroid2)
};

// Ranges of at least this many primitives are shared between the threads of a parallel
// build; smaller ones stay with the thread that made them.
constexpr int kShareMin = 2048;
// Ranges of fewer primitives are binned along the widest axis of their centroids only.
constexpr int kSmallRange = 64;
// Ranges of at most this many primitives are split by sorting them, not binning.
constexpr int kSortedMax = 16;
// Ranges of at least this many primitives are binned into two sets of bins.
constexpr int kTwoSetsMin = 256;
// Ranges of at least this many primitives bin one of every kSampleStride primitives: thousands of
// samples place a split as well as all of them would, for a fraction of the pass.
constexpr int kSampledMin = 1 << 15;
constexpr int kSampleStride = 4;
static_assert(kSampleStride == 4, "ChooseSplit takes a sample's place in its group from 2 bits");
static_assert(kSampledMin >= kTwoSetsMin, "sampled ranges are binned into two sets");
// Ranges of at most this many primitives are partitioned through a thread's scratch space.
constexpr std::size_t kScratchMax = 16384;
// Node slots a thread takes at a time (even: siblings come in pairs), so that the threads
// neither contend for one counter nor write nodes in the same cache lines.
constexpr int kSlotChunk = 1024;

class Builder
{
public:
    explicit Builder(UninitVector<BuildPrimitive> primitives) : prims_(std::move(primitives))
    {
        std::vector<Bounds> parts(ParallelParts(prims_.size()));
        ParallelFor(prims_.size(),
                    [&](unsigned part, std::size_t begin, std::size_t end)
                    {
                        Bounds& bounds = parts[part];
                        for (std::size_t i = begin; i < end; ++i)
                            bounds.Grow(prims_[i]);
                    });
        for (const Bounds& part : parts)
            all_.Merge(part);
    }

    BvhBuild Run()
    {
        BvhBuild out;
        if (prims_.empty())
            return out;
        const int n = static_cast<int>(prims_.size());
        // A binary tree over n primitives has at most 2n - 1 nodes; slots are handed out in
        // pairs (siblings side by side), after their parent's.
        // Threads take node slots in chunks, so the array has room for each thread's last chunk
        // besides; Squeeze drops the slots never taken.
        const unsigned threads = n >= kParallelBuildMin ? std::thread::hardware_concurrency() : 1;
        const int workers = threads >= 2 ? 2 : 1;
        nodes_.resize(2 * prims_.size() + (workers + 1) * kSlotChunk);
        nextNode_ = 1;
        Task root{0, 0, n, 0, {}, {}};
        all_.Store(root.bounds, root.centroids);
        out.depth = workers == 2 ? GrowShared(root, 2) : GrowLocal({root});
        Squeeze();
        out.nodes = std::move(nodes_out_);
        Finish(out);
        return out;
    }

private:
    // The box of primitives and of their doubled centroids, grown four lanes at a time.
    struct Bounds
    {
        Bin box = EmptyBin(), centroids = EmptyBin();

        void Grow(const Prim& p)
        {
            Lanes lo, hi;
            std::memcpy(&lo, p.lo, sizeof(lo));
            std::memcpy(&hi, p.hi, sizeof(hi));
            box.lo = lo < box.lo ? lo : box.lo;
            box.hi = hi > box.hi ? hi : box.hi;
            const Lanes c = Centroids2(lo, hi);
            centroids.lo = c < centroids.lo ? c : centroids.lo;
            centroids.hi = c > centroids.hi ? c : centroids.hi;
        }
        // Grow(p) where grow is true; otherwise unchanged. Without a branch.
        void GrowIf(const Prim& p, bool grow)
        {
            Lanes lo, hi;
            std::memcpy(&lo, p.lo, sizeof(lo));
            std::memcpy(&hi, p.hi, sizeof(hi));
            const Lanes c = Centroids2(lo, hi);
            const IntLanes none{0, 0, 0, 0};
            const IntLanes take = grow ? ~none : none;
            const IntLanes lessLo = (lo < box.lo) & take, moreHi = (hi > box.hi) & take;
            const IntLanes lessC = (c < centroids.lo) & take, moreC = (c > centroids.hi) & take;
            box.lo = lessLo ? lo : box.lo;
            box.hi = moreHi ? hi : box.hi;
            centroids.lo = lessC ? c : centroids.lo;
            centroids.hi = moreC ? c : centroids.hi;
        }

        void Merge(const Bounds& b)
        {
            ::RadeonRays::detail::Grow(box, b.box);
            ::RadeonRays::detail::Grow(centroids, b.centroids);
        }
        void Store(Box& boxOut, Box& centroidsOut) const
        {
            for (int k = 0; k < 3; ++k)
            {
                boxOut.lo[k] = box.lo[k];
                boxOut.hi[k] = box.hi[k];
                centroidsOut.lo[k] = centroids.lo[k];
                centroidsOut.hi[k] = centroids.hi[k];
            }
        }
    };

    // The doubled centroid of a primitive's corners in lanes 0 to 2. Lane 3 of lo holds the
    // index's bits: masked, so that no arithmetic sees them.
    static Lanes Centroids2(Lanes lo, Lanes hi)
    {
        const IntLanes keep{-1, -1, -1, 0};
        return (Lanes)((IntLanes)lo & keep) + hi;
    }

    static void GrowBoth(Box& bounds, Box& centroids, const Prim& p)
    {
        bounds.Grow(p.lo, p.hi);
        const float c[3] = {Centroid2(p, 0), Centroid2(p, 1), Centroid2(p, 2)};
        centroids.Grow(c, c);
    }

    // Builds the task and everything below it on this thread; returns the deepest depth.
    int GrowLocal(std::vector<Task> tasks)
    {
        int depth = 0;
        Local local(prims_.size());
        while (!tasks.empty())
        {
            const Task t = tasks.back();
            tasks.pop_back();
            depth = std::max(depth, Expand(t, tasks, local));
        }
        return depth;
    }

    // Lays the nodes out again, depth first from the root: the slots no thread took are
    // dropped, and children come after their parents (which the threads' chunks of slots do
    // not ensure) with siblings side by side.
    void Squeeze()
    {
        UninitVector<BvhNode> out;
        out.reserve(std::min<std::size_t>(nodes_.size(), nextNode_.load()));
        out.push_back(nodes_[0]);
        std::vector<int> stack{0};
        while (!stack.empty())
        {
            const int at = stack.back();
            stack.pop_back();
            if (out[at].count != 0)
                continue;
            const int from = out[at].index, to = static_cast<int>(out.size());
            out.push_back(nodes_[from]);
            out.push_back(nodes_[from + 1]);
            out[at].index = to;
            stack.push_back(to + 1);
            stack.push_back(to);
        }
        nodes_.clear();
        nodes_.shrink_to_fit();
        nodes_out_ = std::move(out);
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
            Local mine(prims_.size());
            int depth = 0; // written to depths once: the threads' entries share a cache line
            while (true)
            {
                Task t;
                {
                    std::unique_lock<std::mutex> lock(mutex);
                    wake.wait(lock, [&] { return !shared.empty() || working == 0; });
                    if (shared.empty())
                    {
                        depths[id] = depth;
                        return;
                    }
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
                        depth = std::max(depth, Expand(u, made, mine));
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

    // What a thread of the build keeps for itself: its current chunk of node slots, [next, end),
    // and room to partition small ranges into.
    struct Local
    {
        explicit Local(std::size_t primitives)
            : scratch(std::min<std::size_t>(primitives, kScratchMax))
        {
        }
        int next = 0, end = 0;
        UninitVector<Prim> scratch;
    };

    // Fills the task's node: a leaf, or an inner node whose two children get adjacent slots
    // and are appended to tasks (second child first). Returns the task's depth.
    int Expand(const Task& t, std::vector<Task>& tasks, Local& local)
    {
        BvhNode& node = nodes_[t.node];
        std::copy(t.bounds.lo, t.bounds.lo + 3, node.lo);
        std::copy(t.bounds.hi, t.bounds.hi + 3, node.hi);
        Task left{0, t.begin, 0, t.depth + 1, {}, {}};
        Task right{0, 0, t.end, t.depth + 1, {}, {}};
        const int mid = Split(t, left, right, local.scratch);
        if (mid < 0)
        {
            node.index = t.begin;
            node.count = t.end - t.begin;
            return t.depth;
        }
        if (local.next == local.end)
        {
            local.next = nextNode_.fetch_add(kSlotChunk);
            local.end = local.next + kSlotChunk;
        }
        const int child = local.next;
        local.next += 2;
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
        out.order.resize(prims_.size());
        ParallelFor(prims_.size(),
                    [&](unsigned, std::size_t begin, std::size_t end)
                    {
                        for (std::size_t i = begin; i < end; ++i)
                            out.order[i] = prims_[i].id;
                    });
    }

    // Splits the task's range at the returned point, or returns -1 for a leaf; on a split,
    // fills the bounds of both sides.
    int Split(const Task& t, Task& left, Task& right, UninitVector<Prim>& scratch)
    {
        bool bounded = false;
        const int mid = ChooseSplit(t, left, right, bounded, scratch);
        if (mid < 0 || bounded)
            return mid;
        for (int i = t.begin; i < mid; ++i)
            GrowBoth(left.bounds, left.centroids, prims_[i]);
        for (int i = mid; i < t.end; ++i)
            GrowBoth(right.bounds, right.centroids, prims_[i]);
        return mid;
    }

    // Partitions the task's range and returns the split point, or -1 for a leaf. Sets
    // bounded when it has filled the bounds of both sides too.
    int ChooseSplit(const Task& t, Task& left, Task& right, bool& bounded,
                    UninitVector<Prim>& scratch)
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
        if (n <= kSortedMax)
            return SortedSplit(t, axis, left, right, bounded);

        // One pass sorts every primitive (a sample of them in the biggest ranges, below) into
        // the bins of all three axes (only the widest axis of the centroids in small ranges,
        // where the fixed cost per range dominates), growing each bin's box four lanes at a time
        // (the fourth lane is ignored) and computing the bin indices in one go. In big ranges
        // consecutive primitives tend to fall into the same bins, so even and odd ones grow
        // separate sets of bins, which keeps successive updates of a bin from waiting on each
        // other; the sets are merged afterwards. Small ranges get fewer bins: there the sweeps over
        // the bins, not the primitives, would dominate; only the bins in use are initialised.
        float bestCost = std::numeric_limits<float>::infinity();
        int bestAxis = -1, bestBin = -1;
        const int nb = std::min(kBins, 4 + n / 2);
        const bool small = n < kSmallRange;
        const int firstAxis = small ? axis : 0, endAxis = small ? axis + 1 : 3;
        const int sets = n >= kTwoSetsMin ? 2 : 1;
        Bin bins[2][3][kBins];
        int counts[2][3][kBins];
        for (int set = 0; set < sets; ++set)
            for (int k = firstAxis; k < endAxis; ++k)
                for (int b = 0; b < nb; ++b)
                {
                    bins[set][k][b] = EmptyBin();
                    counts[set][k][b] = 0;
                }
        float scale[3] = {0.0f, 0.0f, 0.0f};
        for (int k = firstAxis; k < endAxis; ++k)
        {
            const float ext = centroids.hi[k] - centroids.lo[k];
            scale[k] = ext > 0.0f ? nb / ext : 0.0f;
        }
        const Lanes origin{centroids.lo[0], centroids.lo[1], centroids.lo[2], 0.0f};
        const Lanes scales{scale[0], scale[1], scale[2], 0.0f};
        auto binOne = [&](const Prim& p, Bin(&bin)[3][kBins], int(&count)[3][kBins])
        {
            Lanes lo, hi;
            std::memcpy(&lo, p.lo, sizeof(lo));
            std::memcpy(&hi, p.hi, sizeof(hi));
            const IntLanes b = BinsOf(Centroids2(lo, hi), origin, scales, nb);
            for (int k = firstAxis; k < endAxis; ++k)
            {
                Bin& into = bin[k][b[k]];
                into.lo = lo < into.lo ? lo : into.lo;
                into.hi = hi > into.hi ? hi : into.hi;
                ++count[k][b[k]];
            }
        };
        int i = t.begin;
        if (n >= kSampledMin)
        {
            // One primitive from each group of kSampleStride, at a place within it that varies
            // from group to group (the top bits of a Weyl sequence): a fixed stride would see
            // only one part of a model whose triangles come from four parts in turn.
            auto sample = [&](int g) -> const Prim&
            {
                const std::uint32_t place = (static_cast<std::uint32_t>(g) * 2654435769u) >> 30;
                return prims_[t.begin + g * kSampleStride + static_cast<int>(place)];
            };
            const int groups = n / kSampleStride;
            int g = 0;
            for (; g + 1 < groups; g += 2)
            {
                binOne(sample(g), bins[0], counts[0]);
                binOne(sample(g + 1), bins[1], counts[1]);
            }
            if (g < groups)
                binOne(sample(g), bins[0], counts[0]);
            i = t.end;
        }
        else if (sets == 2)
        {
            for (; i + 1 < t.end; i += 2)
            {
                binOne(prims_[i], bins[0], counts[0]);
                binOne(prims_[i + 1], bins[1], counts[1]);
            }
        }
        if (sets == 2)
        {
            for (int k = 0; k < 3; ++k)
                for (int b = 0; b < nb; ++b)
                {
                    Grow(bins[0][k][b], bins[1][k][b]);
                    counts[0][k][b] += counts[1][k][b];
                }
        }
        for (; i < t.end; ++i)
            binOne(prims_[i], bins[0], counts[0]);
        for (int k = firstAxis; k < endAxis; ++k)
        {
            if (scale[k] == 0.0f)
                continue;
            // Sweep from the right to get the area and count of every right side.
            float rightArea[kBins];
            int rightCount[kBins];
            Bin acc = EmptyBin();
            int cnt = 0;
            for (int b = nb - 1; b > 0; --b)
            {
                Grow(acc, bins[0][k][b]);
                cnt += counts[0][k][b];
                rightArea[b] = HalfArea(acc);
                rightCount[b] = cnt;
            }
            acc = EmptyBin();
            cnt = 0;
            for (int b = 0; b < nb - 1; ++b)
            {
                Grow(acc, bins[0][k][b]);
                cnt += counts[0][k][b];
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
        { return BinOf(Centroid2(p, bestAxis), lo, s, nb) <= bestBin; };
        // Partitions and bounds both sides in one pass. Ranges that fit the scratch space are
        // written to it, left side from the front and right side from the back, without a
        // branch on the side (it would be mispredicted about as often as not), and copied back.
        Bounds lb, rb;
        i = t.begin;
        int j = t.end - 1;
        if (n <= static_cast<int>(scratch.size()))
        {
            int l = 0, r = n - 1;
            for (int k = t.begin; k < t.end; ++k)
            {
                const Prim& p = prims_[k];
                const bool toLeft = goesLeft(p);
                scratch[toLeft ? l : r] = p;
                l += toLeft;
                r -= !toLeft;
                lb.GrowIf(p, toLeft);
                rb.GrowIf(p, !toLeft);
            }
            std::copy(scratch.begin(), scratch.begin() + n, prims_.begin() + t.begin);
            i = t.begin + l;
            j = i - 1;
        }
        while (i <= j)
        {
            for (; i <= j && goesLeft(prims_[i]); ++i)
                lb.Grow(prims_[i]);
            for (; i <= j && !goesLeft(prims_[j]); --j)
                rb.Grow(prims_[j]);
            if (i < j)
                std::swap(prims_[i], prims_[j]);
        }
        const int mid = i;
        if (mid == t.begin || mid == t.end)
            return MedianSplit(t, axis);
        lb.Store(left.bounds, left.centroids);
        rb.Store(right.bounds, right.centroids);
        bounded = true;
        return mid;
    }

    // The exact SAH split of a small range along one axis: its primitives sorted by centroid,
    // every boundary between them weighed. Fills the bounds of both sides. Cheaper than binning
    // where the bins' fixed costs outweigh the few primitives, and never worse in the SAH.
    int SortedSplit(const Task& t, int axis, Task& left, Task& right, bool& bounded)
    {
        const int n = t.end - t.begin;
        Prim sorted[kSortedMax];
        float key[kSortedMax];
        for (int i = 0; i < n; ++i)
        {
            // Insertion sort: at most kSortedMax elements.
            const Prim& p = prims_[t.begin + i];
            const float c = Centroid2(p, axis);
            int j = i;
            for (; j > 0 && key[j - 1] > c; --j)
            {
                key[j] = key[j - 1];
                sorted[j] = sorted[j - 1];
            }
            key[j] = c;
            sorted[j] = p;
        }
        float rightArea[kSortedMax];
        Bounds rb;
        for (int i = n - 1; i > 0; --i)
        {
            rb.Grow(sorted[i]);
            rightArea[i] = HalfArea(rb.box);
        }
        Bounds lb, bestLeft;
        float bestCost = 0.0f;
        int best = 1;
        for (int i = 1; i < n; ++i)
        {
            lb.Grow(sorted[i - 1]);
            const float cost = HalfArea(lb.box) * i + rightArea[i] * (n - i);
            // The first boundary stands until one costs less: where the areas overflow, none
            // has a finite cost.
            if (i == 1 || cost < bestCost)
            {
                bestCost = cost;
                best = i;
                bestLeft = lb;
            }
        }
        Bounds bestRight;
        for (int i = best; i < n; ++i)
            bestRight.Grow(sorted[i]);
        std::copy(sorted, sorted + n, prims_.begin() + t.begin);
        bestLeft.Store(left.bounds, left.centroids);
        bestRight.Store(right.bounds, right.centroids);
        bounded = true;
        return t.begin + best;
    }

    int MedianSplit(const Task& t, int axis)
    {
        int mid = t.begin + (t.end - t.begin) / 2;
        std::nth_element(prims_.begin() + t.begin, prims_.begin() + mid, prims_.begin() + t.end,
                         [axis](const Prim& a, const Prim& b)
                         { return Centroid2(a, axis) < Centroid2(b, axis); });
        return mid;
    }

    // Clamped before the conversion, which would be undefined for huge or NaN values (a
    // nearly flat range makes scale huge). Without a branch: the partition asks this of every
    // primitive, and which way a clamp goes is not predictable.
    static int BinOf(float c, float lo, float scale, int bins)
    {
        float f = (c - lo) * scale;
        const float last = static_cast<float>(bins - 1);
        f = f > 0.0f ? f : 0.0f; // NaN goes to bin 0 too
        f = f < last ? f : last;
        return static_cast<int>(f);
    }

    // BinOf for the three axes in lanes 0 to 2 at once; the same arithmetic lane by lane.
    static IntLanes BinsOf(Lanes c, Lanes lo, Lanes scale, int bins)
    {
        Lanes f = (c - lo) * scale;
        const Lanes zero{0.0f, 0.0f, 0.0f, 0.0f};
        const float last = static_cast<float>(bins - 1);
        const Lanes top{last, last, last, last};
        f = f > zero ? f : zero; // NaN goes to bin 0 too
        f = f >= top ? top : f;
        return __builtin_convertvector(f, IntLanes);
    }

    UninitVector<Prim> prims_;
    Bounds all_;                      // of every primitive
    UninitVector<BvhNode> nodes_;     // as the threads fill them
    UninitVector<BvhNode> nodes_out_; // laid out by Squeeze
    std::atomic<int> nextNode_{0};
};

} // namespace

BvhBuild BuildBvh(UninitVector<BuildPrimitive> primitives)
{
    return Builder(std::move(primitives)).Run();
}

BvhBuild BuildBvh(const Aabb* primitives, std::size_t count)
{
    UninitVector<BuildPrimitive> records(count);
    ParallelFor(count,
                [&](unsigned, std::size_t begin, std::size_t end)
                {
                    for (std::size_t i = begin; i < end; ++i)
                    {
                        BuildPrimitive& p = records[i];
                        std::copy(primitives[i].lo, primitives[i].lo + 3, p.lo);
                        std::copy(primitives[i].hi, primitives[i].hi + 3, p.hi);
                        p.id = static_cast<std::uint32_t>(i);
                        p.unused = 0.0f;
                    }
                });
    return BuildBvh(std::move(records));
}

} // namespace RadeonRays::detail
