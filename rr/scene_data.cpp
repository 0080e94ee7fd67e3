#include "rr/scene_data.h"

#include "rr/default_init.h"
#include "rr/mesh.h"
#include "rr/parallel_for.h"
#include "rr/wide_bvh.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>
#include <thread>

namespace RadeonRays::detail
{
namespace
{

// Scenes of at least this many triangles make their two device layouts on two threads.
constexpr std::size_t kParallelLayoutMin = 4096;

// A triangle whose corners are collinear (or coincide) has no area and cannot occlude; so does
// one with a corner at infinity or NaN. Keeping such triangles out of the BVH keeps its boxes
// finite. The cross product of float differences is exact enough in double to catch every
// triangle built from repeated or axis-collinear corners.
bool Usable(const float* a, const float* b, const float* c)
{
    for (int k = 0; k < 3; ++k)
        if (!std::isfinite(a[k]) || !std::isfinite(b[k]) || !std::isfinite(c[k]))
            return false;
    double e1[3], e2[3];
    for (int k = 0; k < 3; ++k)
    {
        e1[k] = double(b[k]) - a[k];
        e2[k] = double(c[k]) - a[k];
    }
    double n0 = e1[1] * e2[2] - e1[2] * e2[1];
    double n1 = e1[2] * e2[0] - e1[0] * e2[2];
    double n2 = e1[0] * e2[1] - e1[1] * e2[0];
    return n0 != 0.0 || n1 != 0.0 || n2 != 0.0;
}

// The corners of the triangles of several meshes, each triangle named by its id: its index
// among all of them, the meshes' triangles one after another.
class MeshCorners
{
public:
    // firsts: each mesh's first id, and the count of all triangles last.
    MeshCorners(const std::vector<const Mesh*>& meshes, const std::vector<std::size_t>& firsts)
        : meshes_(meshes), firsts_(firsts)
    {
    }

    // Calls visit(id, a, b, c) for the triangles [begin, end), in order.
    template <typename Visit> void ForEach(std::size_t begin, std::size_t end, Visit&& visit) const
    {
        for (std::size_t m = 0; m < meshes_.size(); ++m)
        {
            const std::size_t from = std::max(begin, firsts_[m]);
            const std::size_t to = std::min(end, firsts_[m + 1]);
            for (std::size_t i = from; i < to; ++i)
            {
                const float* c[3];
                Corners(m, i - firsts_[m], c);
                visit(i, c[0], c[1], c[2]);
            }
        }
    }

    // The device record of triangle id; mesh is where to look first, and is left at the mesh
    // that holds it.
    DeviceTriangle Triangle(std::size_t id, std::size_t& mesh) const
    {
        if (id < firsts_[mesh] || id >= firsts_[mesh + 1])
            mesh = static_cast<std::size_t>(
                std::upper_bound(firsts_.begin(), firsts_.end() - 1, id) - firsts_.begin() - 1);
        const float* c[3];
        Corners(mesh, id - firsts_[mesh], c);
        DeviceTriangle tri;
        std::copy(c[0], c[0] + 3, tri.v0);
        std::copy(c[1], c[1] + 3, tri.v1);
        std::copy(c[2], c[2] + 3, tri.v2);
        tri.shapeid = meshes_[mesh]->GetId();
        tri.padding1 = tri.padding2 = 0;
        return tri;
    }

private:
    void Corners(std::size_t mesh, std::size_t local, const float* (&c)[3]) const
    {
        const UninitVector<float>& p = meshes_[mesh]->Positions();
        const UninitVector<int>& t = meshes_[mesh]->Triangles();
        for (int k = 0; k < 3; ++k)
            c[k] = &p[3 * static_cast<std::size_t>(t[3 * local + k])];
    }

    const std::vector<const Mesh*>& meshes_;
    const std::vector<std::size_t>& firsts_;
};

DeviceNode::Child ChildOf(const BvhNode& n)
{
    DeviceNode::Child c{};
    std::copy(n.lo, n.lo + 3, c.lo);
    std::copy(n.hi, n.hi + 3, c.hi);
    c.count = n.count;
    c.ref = n.count > 0 ? n.index : -1; // inner refs are filled in once placed
    return c;
}

// The median half area of the tree's leaf boxes (0 for an empty tree).
float MedianLeafArea(const UninitVector<BvhNode>& bvh)
{
    std::vector<float> leafAreas;
    for (const BvhNode& n : bvh)
        if (n.count > 0)
        {
            const float dx = n.hi[0] - n.lo[0], dy = n.hi[1] - n.lo[1], dz = n.hi[2] - n.lo[2];
            leafAreas.push_back(dx * dy + dy * dz + dz * dx);
        }
    if (leafAreas.empty())
        return 0.0f;
    auto middle = leafAreas.begin() + leafAreas.size() / 2;
    std::nth_element(leafAreas.begin(), middle, leafAreas.end());
    return *middle;
}

} // namespace

UninitVector<DeviceNode> MakeDeviceNodes(const UninitVector<BvhNode>& bvh)
{
    UninitVector<DeviceNode> out;
    if (bvh.empty())
        return out;
    if (bvh[0].count > 0)
    {
        // A lone leaf: the root holds it as both children. The second answers like the
        // first, at the cost of testing a scene of a few triangles twice.
        DeviceNode root;
        root.child[0] = root.child[1] = ChildOf(bvh[0]);
        out.push_back(root);
        return out;
    }
    // (builder node, device slot that refers to it) pairs, depth first.
    struct Pending
    {
        int node;
        int parent;
        int side;
    };
    out.reserve(bvh.size() / 2 + 1); // a binary tree's inner nodes
    std::vector<Pending> stack{{0, -1, 0}};
    while (!stack.empty())
    {
        Pending p = stack.back();
        stack.pop_back();
        const int slot = static_cast<int>(out.size());
        if (p.parent >= 0)
            out[p.parent].child[p.side].ref = slot;
        const BvhNode& n = bvh[p.node];
        DeviceNode d;
        for (int side = 0; side < 2; ++side)
            d.child[side] = ChildOf(bvh[n.index + side]);
        out.push_back(d);
        for (int side = 1; side >= 0; --side)
            if (bvh[n.index + side].count == 0)
                stack.push_back({n.index + side, slot, side});
    }
    return out;
}

SceneData BuildScene(const std::vector<const Mesh*>& meshes, SceneLayouts layouts)
{
    std::size_t total = 0;
    for (const Mesh* mesh : meshes)
        total += mesh->Triangles().size() / 3;
    if (total > static_cast<std::size_t>(kMaxSceneTriangles))
        throw std::invalid_argument("RadeonRays::Commit: the attached shapes have " +
                                    std::to_string(total) + " triangles; a scene holds at most " +
                                    std::to_string(kMaxSceneTriangles));
    // Where each mesh's triangles start among all: a triangle's id.
    std::vector<std::size_t> firsts;
    std::size_t before = 0;
    for (const Mesh* mesh : meshes)
    {
        firsts.push_back(before);
        before += mesh->Triangles().size() / 3;
    }
    firsts.push_back(before);
    const MeshCorners corners{meshes, firsts};
    // One pass over every triangle, split over the cores, writes each one's box for the
    // builder straight where the builder sorts it, named by its id. Unusable triangles are
    // marked and, where there are any, squeezed out afterwards. The triangles themselves are
    // gathered once, in leaf order, after the build.
    constexpr std::uint32_t kUnusable = ~std::uint32_t{0};
    UninitVector<BuildPrimitive> primitives(total);
    std::vector<std::size_t> partUnusable(ParallelParts(total), 0);
    ParallelFor(total,
                [&](unsigned part, std::size_t begin, std::size_t end)
                {
                    std::size_t unusable = 0;
                    corners.ForEach(
                        begin, end,
                        [&](std::size_t i, const float* a, const float* b, const float* c)
                        {
                            BuildPrimitive& p = primitives[i];
                            for (int k = 0; k < 3; ++k)
                            {
                                p.lo[k] = std::min({a[k], b[k], c[k]});
                                p.hi[k] = std::max({a[k], b[k], c[k]});
                            }
                            p.unused = 0.0f;
                            const bool usable = Usable(a, b, c);
                            p.id = usable ? static_cast<std::uint32_t>(i) : kUnusable;
                            unusable += !usable;
                        });
                    partUnusable[part] = unusable;
                });
    if (std::any_of(partUnusable.begin(), partUnusable.end(), [](std::size_t n) { return n != 0; }))
    {
        primitives.erase(std::remove_if(primitives.begin(), primitives.end(),
                                        [](const BuildPrimitive& p) { return p.id == kUnusable; }),
                         primitives.end());
    }
    const std::size_t usable = primitives.size();
    BvhBuild bvh = BuildBvh(std::move(primitives));
    SceneData scene;
    scene.triangleCount = static_cast<int>(usable);
    UninitVector<DeviceTriangle> ordered(usable);
    ParallelFor(usable,
                [&](unsigned, std::size_t begin, std::size_t end)
                {
                    // Neighbours in leaf order come mostly from one mesh: the last one found
                    // is tried first.
                    std::size_t mesh = 0;
                    for (std::size_t i = begin; i < end; ++i)
                        ordered[i] = corners.Triangle(bvh.order[i], mesh);
                });
    // The two layouts are independent: big scenes make them on two threads.
    auto makeTwoWide = [&]
    {
        scene.nodes = MakeDeviceNodes(bvh.nodes);
        scene.leafArea = MedianLeafArea(bvh.nodes);
    };
    std::thread twoWide;
    if (layouts.twoWide && usable >= kParallelLayoutMin)
        twoWide = std::thread(makeTwoWide);
    try
    {
        WideBvh wide = MakeWideBvh(bvh.nodes, ordered.data(), layouts.wideWidth);
        scene.wideNodes = std::move(wide.nodes);
        scene.blocks = std::move(wide.blocks);
    }
    catch (...)
    {
        if (twoWide.joinable())
            twoWide.join();
        throw;
    }
    if (twoWide.joinable())
        twoWide.join();
    else if (layouts.twoWide)
        makeTwoWide();
    if (layouts.twoWide)
        scene.triangles = std::move(ordered);
    return scene;
}

} // namespace RadeonRays::detail
