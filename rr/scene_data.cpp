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

DeviceNode::Child ChildOf(const BvhNode& n)
{
    DeviceNode::Child c{};
    std::copy(n.lo, n.lo + 3, c.lo);
    std::copy(n.hi, n.hi + 3, c.hi);
    c.count = n.count;
    c.ref = n.count > 0 ? n.index : -1; // inner refs are filled in once placed
    return c;
}

} // namespace

UninitVector<DeviceNode> MakeDeviceNodes(const std::vector<BvhNode>& bvh)
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
    // Two passes over every triangle, each split over the cores: which are usable, then their
    // records and boxes, each part writing from where the usable triangles before it end.
    std::vector<std::size_t> firsts; // each mesh's first triangle among all
    std::size_t before = 0;
    for (const Mesh* mesh : meshes)
    {
        firsts.push_back(before);
        before += mesh->Triangles().size() / 3;
    }
    // Calls visit(i, a, b, c, id) for the triangles [begin, end) of all meshes.
    auto forEach = [&](std::size_t begin, std::size_t end, auto&& visit)
    {
        for (std::size_t m = 0; m < meshes.size(); ++m)
        {
            const std::vector<float>& p = meshes[m]->Positions();
            const std::vector<int>& t = meshes[m]->Triangles();
            const std::size_t first = firsts[m], count = t.size() / 3;
            const std::size_t from = std::max(begin, first), to = std::min(end, first + count);
            for (std::size_t i = from; i < to; ++i)
            {
                const std::size_t local = i - first;
                visit(i, &p[3 * static_cast<std::size_t>(t[3 * local])],
                      &p[3 * static_cast<std::size_t>(t[3 * local + 1])],
                      &p[3 * static_cast<std::size_t>(t[3 * local + 2])], meshes[m]->GetId());
            }
        }
    };
    std::vector<unsigned char> usable(total);
    std::vector<std::size_t> partUsable(ParallelParts(total) + 1, 0);
    ParallelFor(total,
                [&](unsigned part, std::size_t begin, std::size_t end)
                {
                    std::size_t count = 0;
                    forEach(begin, end,
                            [&](std::size_t i, const float* a, const float* b, const float* c, int)
                            {
                                usable[i] = Usable(a, b, c);
                                count += usable[i];
                            });
                    partUsable[part + 1] = count;
                });
    for (std::size_t part = 1; part < partUsable.size(); ++part)
        partUsable[part] += partUsable[part - 1];
    UninitVector<DeviceTriangle> triangles(partUsable.back());
    UninitVector<Aabb> bounds(partUsable.back());
    ParallelFor(total,
                [&](unsigned part, std::size_t begin, std::size_t end)
                {
                    std::size_t out = partUsable[part];
                    forEach(
                        begin, end,
                        [&](std::size_t i, const float* a, const float* b, const float* c, int id)
                        {
                            if (!usable[i])
                                return;
                            DeviceTriangle& tri = triangles[out];
                            std::copy(a, a + 3, tri.v0);
                            std::copy(b, b + 3, tri.v1);
                            std::copy(c, c + 3, tri.v2);
                            tri.shapeid = id;
                            tri.padding1 = tri.padding2 = 0;
                            Aabb& box = bounds[out];
                            for (int k = 0; k < 3; ++k)
                            {
                                box.lo[k] = std::min({a[k], b[k], c[k]});
                                box.hi[k] = std::max({a[k], b[k], c[k]});
                            }
                            ++out;
                        });
                });
    BvhBuild bvh = BuildBvh(bounds.data(), bounds.size());
    SceneData scene;
    scene.triangleCount = static_cast<int>(triangles.size());
    if (layouts.twoWide && !bvh.nodes.empty())
    {
        std::vector<float> leafAreas;
        for (const BvhNode& n : bvh.nodes)
            if (n.count > 0)
            {
                const float dx = n.hi[0] - n.lo[0], dy = n.hi[1] - n.lo[1], dz = n.hi[2] - n.lo[2];
                leafAreas.push_back(dx * dy + dy * dz + dz * dx);
            }
        auto middle = leafAreas.begin() + leafAreas.size() / 2;
        std::nth_element(leafAreas.begin(), middle, leafAreas.end());
        scene.leafArea = *middle;
    }
    UninitVector<DeviceTriangle> ordered(triangles.size());
    ParallelFor(ordered.size(),
                [&](unsigned, std::size_t begin, std::size_t end)
                {
                    for (std::size_t i = begin; i < end; ++i)
                        ordered[i] = triangles[bvh.order[i]];
                });
    // The two layouts are independent: big scenes make them on two threads.
    auto makeTwoWide = [&] { scene.nodes = MakeDeviceNodes(bvh.nodes); };
    std::thread twoWide;
    if (layouts.twoWide && triangles.size() >= kParallelLayoutMin)
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
