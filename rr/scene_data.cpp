#include "rr/scene_data.h"

#include "rr/mesh.h"
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

std::vector<DeviceNode> MakeDeviceNodes(const std::vector<BvhNode>& bvh)
{
    std::vector<DeviceNode> out;
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
    std::vector<DeviceTriangle> triangles;
    std::vector<Aabb> bounds;
    triangles.reserve(total);
    bounds.reserve(total);
    for (const Mesh* mesh : meshes)
    {
        const std::vector<float>& p = mesh->Positions();
        const std::vector<int>& t = mesh->Triangles();
        for (std::size_t i = 0; i < t.size() / 3; ++i)
        {
            const float* a = &p[3 * static_cast<std::size_t>(t[3 * i])];
            const float* b = &p[3 * static_cast<std::size_t>(t[3 * i + 1])];
            const float* c = &p[3 * static_cast<std::size_t>(t[3 * i + 2])];
            if (!Usable(a, b, c))
                continue;
            DeviceTriangle tri{};
            std::copy(a, a + 3, tri.v0);
            std::copy(b, b + 3, tri.v1);
            std::copy(c, c + 3, tri.v2);
            tri.shapeid = mesh->GetId();
            triangles.push_back(tri);
            Aabb box;
            for (int k = 0; k < 3; ++k)
            {
                box.lo[k] = std::min({a[k], b[k], c[k]});
                box.hi[k] = std::max({a[k], b[k], c[k]});
            }
            bounds.push_back(box);
        }
    }

    BvhBuild bvh = BuildBvh(bounds);
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
    std::vector<DeviceTriangle> ordered;
    ordered.reserve(triangles.size());
    for (std::uint32_t i : bvh.order)
        ordered.push_back(triangles[i]);
    // The two layouts are independent: big scenes make them on two threads.
    auto makeTwoWide = [&] { scene.nodes = MakeDeviceNodes(bvh.nodes); };
    std::thread twoWide;
    if (layouts.twoWide && triangles.size() >= kParallelLayoutMin)
        twoWide = std::thread(makeTwoWide);
    try
    {
        WideBvh wide = MakeWideBvh(bvh.nodes, ordered, layouts.wideWidth);
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
