#include "BenchScenes.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <random>

namespace rrbench
{
namespace
{

using Vec = std::array<float, 3>;

Vec Sub(const Vec& a, const Vec& b)
{
    return {a[0] - b[0], a[1] - b[1], a[2] - b[2]};
}
Vec Cross(const Vec& a, const Vec& b)
{
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
float Dot(const Vec& a, const Vec& b)
{
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

class Builder
{
public:
    explicit Builder(TriangleMesh& mesh) : mesh_(mesh) {}

    int Vertex(const Vec& p)
    {
        mesh_.vertices.insert(mesh_.vertices.end(), p.begin(), p.end());
        return static_cast<int>(mesh_.vertices.size() / 3 - 1);
    }
    Vec At(int i) const
    {
        return {mesh_.vertices[3 * i], mesh_.vertices[3 * i + 1], mesh_.vertices[3 * i + 2]};
    }
    // Winds the triangle so that its normal points away from inside.
    void Triangle(int a, int b, int c, const Vec& inside)
    {
        Vec n = Cross(Sub(At(b), At(a)), Sub(At(c), At(a)));
        if (Dot(n, Sub(At(a), inside)) < 0)
            std::swap(b, c);
        mesh_.indices.insert(mesh_.indices.end(), {a, b, c});
    }
    // A parallelogram corner + s*u + t*v, as an n x m grid of quads.
    void Grid(const Vec& corner, const Vec& u, const Vec& v, int n, int m, const Vec& inside)
    {
        const int base = static_cast<int>(mesh_.vertices.size() / 3);
        for (int j = 0; j <= m; ++j)
            for (int i = 0; i <= n; ++i)
            {
                float s = float(i) / n, t = float(j) / m;
                Vertex({corner[0] + s * u[0] + t * v[0], corner[1] + s * u[1] + t * v[1],
                        corner[2] + s * u[2] + t * v[2]});
            }
        for (int j = 0; j < m; ++j)
            for (int i = 0; i < n; ++i)
            {
                int a = base + j * (n + 1) + i, b = a + 1, c = a + n + 2, d = a + n + 1;
                Triangle(a, b, c, inside);
                Triangle(a, c, d, inside);
            }
    }
    // An axis-aligned box, each face an n x n grid, without its bottom when it stands on the
    // ground.
    void Box(const Vec& lo, const Vec& hi, int n, bool bottom = true)
    {
        Vec c{(lo[0] + hi[0]) / 2, (lo[1] + hi[1]) / 2, (lo[2] + hi[2]) / 2};
        Vec ex{hi[0] - lo[0], 0, 0}, ey{0, hi[1] - lo[1], 0}, ez{0, 0, hi[2] - lo[2]};
        Grid(lo, ex, ez, n, n, c);
        if (bottom)
            Grid(lo, ex, ez, n, n, {c[0], hi[1] + 1, c[2]});
        Grid({lo[0], hi[1], lo[2]}, ex, ez, n, n, c);
        Grid(lo, ex, ey, n, n, c);
        Grid({lo[0], lo[1], hi[2]}, ex, ey, n, n, c);
        Grid(lo, ez, ey, n, n, c);
        Grid({hi[0], lo[1], lo[2]}, ez, ey, n, n, c);
    }
    // A prism of the given number of sides standing on the ground.
    void Cylinder(const Vec& base, float radius, float height, int sides, int rings)
    {
        Vec inside{base[0], base[1] + height / 2, base[2]};
        for (int s = 0; s < sides; ++s)
        {
            float a0 = 6.2831853f * s / sides, a1 = 6.2831853f * (s + 1) / sides;
            Vec p0{base[0] + radius * std::cos(a0), base[1], base[2] + radius * std::sin(a0)};
            Vec p1{base[0] + radius * std::cos(a1), base[1], base[2] + radius * std::sin(a1)};
            Grid(p0, Sub(p1, p0), {0, height, 0}, 1, rings, inside);
            int top = Vertex({base[0], base[1] + height, base[2]});
            int q0 = Vertex({p0[0], p0[1] + height, p0[2]});
            int q1 = Vertex({p1[0], p1[1] + height, p1[2]});
            Triangle(top, q0, q1, inside);
        }
    }
    // A sphere refined from an octahedron.
    void Sphere(const Vec& centre, float radius, int levels)
    {
        std::vector<std::array<Vec, 3>> faces;
        for (int sx : {-1, 1})
            for (int sy : {-1, 1})
                for (int sz : {-1, 1})
                    faces.push_back(
                        {Vec{float(sx), 0, 0}, Vec{0, float(sy), 0}, Vec{0, 0, float(sz)}});
        for (int l = 0; l < levels; ++l)
        {
            std::vector<std::array<Vec, 3>> next;
            for (const auto& f : faces)
            {
                auto mid = [](const Vec& a, const Vec& b)
                {
                    Vec m{a[0] + b[0], a[1] + b[1], a[2] + b[2]};
                    float len = std::sqrt(Dot(m, m));
                    return Vec{m[0] / len, m[1] / len, m[2] / len};
                };
                Vec ab = mid(f[0], f[1]), bc = mid(f[1], f[2]), ca = mid(f[2], f[0]);
                next.push_back({f[0], ab, ca});
                next.push_back({ab, f[1], bc});
                next.push_back({ca, bc, f[2]});
                next.push_back({ab, bc, ca});
            }
            faces.swap(next);
        }
        for (const auto& f : faces)
        {
            int v[3];
            for (int k = 0; k < 3; ++k)
                v[k] = Vertex({centre[0] + radius * f[k][0], centre[1] + radius * f[k][1],
                               centre[2] + radius * f[k][2]});
            Triangle(v[0], v[1], v[2], centre);
        }
    }

private:
    TriangleMesh& mesh_;
};

void AddCourtyard(Builder& b, int detail)
{
    const int n = detail;
    // Ground: 40 x 40.
    b.Grid({-20, 0, -20}, {40, 0, 0}, {0, 0, 40}, 10 * n, 10 * n, {0, -1, 0});
    // Four walls, 6 high, 1 thick.
    b.Box({-21, 0, -21}, {21, 6, -20}, 2 * n, false);
    b.Box({-21, 0, 20}, {21, 6, 21}, 2 * n, false);
    b.Box({-21, 0, -20}, {-20, 6, 20}, 2 * n, false);
    b.Box({20, 0, -20}, {21, 6, 20}, 2 * n, false);
    // An arcade along two walls: pillars and the beams they carry.
    for (int i = 0; i < 8; ++i)
    {
        float x = -16 + 4.5f * i;
        b.Box({x, 0, -17}, {x + 0.8f, 4.5f, -16.2f}, n, false);
        b.Box({-17, 0, x}, {-16.2f, 4.5f, x + 0.8f}, n, false);
    }
    b.Box({-17.5f, 4.5f, -17.5f}, {17, 5.2f, -16}, 2 * n);
    b.Box({-17.5f, 4.5f, -16}, {-16, 5.2f, 17}, 2 * n);
    // Crates.
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> pos(-12, 14), size(0.6f, 2.0f);
    for (int i = 0; i < 20; ++i)
    {
        float x = pos(rng), z = pos(rng), s = size(rng);
        b.Box({x, 0, z}, {x + s, s, z + s}, n, false);
    }
    // Fountain.
    b.Cylinder({0, 0, 0}, 3.0f, 0.8f, 16, n);
    b.Cylinder({0, 0.8f, 0}, 0.5f, 2.5f, 8, n);
}

} // namespace

TriangleMesh Courtyard(int detail)
{
    TriangleMesh mesh;
    Builder b(mesh);
    AddCourtyard(b, detail);
    mesh.name = "courtyard";
    return mesh;
}

TriangleMesh CrowdedCourtyard()
{
    TriangleMesh mesh;
    Builder b(mesh);
    AddCourtyard(b, 3);
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> pos(-19, 19), radius(0.1f, 0.6f);
    while (mesh.TriangleCount() < 100000 - 256)
    {
        float r = radius(rng);
        b.Sphere({pos(rng), r * 0.7f, pos(rng)}, r, 2);
    }
    mesh.name = "crowded courtyard";
    return mesh;
}

TriangleMesh Soup(int count, unsigned seed)
{
    TriangleMesh mesh;
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> pos(-20, 20), off(-0.7f, 0.7f);
    for (int i = 0; i < count; ++i)
    {
        float c[3] = {pos(rng), pos(rng), pos(rng)};
        for (int v = 0; v < 3; ++v)
        {
            for (int k = 0; k < 3; ++k)
                mesh.vertices.push_back(c[k] + off(rng));
            mesh.indices.push_back(3 * i + v);
        }
    }
    mesh.name = "soup";
    return mesh;
}

namespace
{

// A torus of major radius big and minor radius small about centre, its axis tilted from the
// vertical by tilt (radians, about x), as an n x m grid of quads whose surface bulges in
// bumps (the minor radius swinging by a tenth).
void AddBumpyTorus(TriangleMesh& mesh, const Vec& centre, float big, float small, float tilt, int n,
                   int m)
{
    const int base = static_cast<int>(mesh.vertices.size() / 3);
    const float twoPi = 6.2831853f, ct = std::cos(tilt), st = std::sin(tilt);
    for (int j = 0; j < m; ++j)
        for (int i = 0; i < n; ++i)
        {
            const float u = twoPi * i / n, v = twoPi * j / m;
            const float r = small * (1.0f + 0.1f * std::sin(9.0f * u) * std::sin(7.0f * v));
            const float x = (big + r * std::cos(v)) * std::cos(u);
            const float z = (big + r * std::cos(v)) * std::sin(u);
            const float y = r * std::sin(v);
            mesh.vertices.insert(mesh.vertices.end(), {centre[0] + x, centre[1] + ct * y - st * z,
                                                       centre[2] + st * y + ct * z});
        }
    for (int j = 0; j < m; ++j)
        for (int i = 0; i < n; ++i)
        {
            const int a = base + j * n + i, b = base + j * n + (i + 1) % n;
            const int c = base + ((j + 1) % m) * n + i, d = base + ((j + 1) % m) * n + (i + 1) % n;
            mesh.indices.insert(mesh.indices.end(), {a, b, d, a, d, c});
        }
}

void AddGround(TriangleMesh& mesh, float half, float y)
{
    const int base = static_cast<int>(mesh.vertices.size() / 3);
    mesh.vertices.insert(mesh.vertices.end(),
                         {-half, y, -half, half, y, -half, half, y, half, -half, y, half});
    mesh.indices.insert(mesh.indices.end(), {base, base + 2, base + 1, base, base + 3, base + 2});
}

} // namespace

TriangleMesh BumpyTorus(int side)
{
    TriangleMesh mesh;
    AddGround(mesh, 12.0f, 0.0f);
    // The big torus stands on its rim; the small one lies through its hole.
    const int small = side / 4;
    AddBumpyTorus(mesh, {0.0f, 5.0f, 0.0f}, 3.5f, 1.3f, 1.5707963f, side,
                  std::max(3, (side * side - small * small) / side));
    AddBumpyTorus(mesh, {0.0f, 2.2f, 0.0f}, 3.0f, 0.6f, 0.0f, small, small);
    mesh.name = "bumpy torus";
    return mesh;
}

TriangleMesh ManyObjects(int count, unsigned seed)
{
    TriangleMesh mesh;
    AddGround(mesh, 40.0f, 0.0f);
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> pos(-38, 38), size(0.2f, 0.8f), angle(0, 3.1415927f);
    std::uniform_int_distribution<int> heap(0, 3);
    for (int o = 0; o < count; ++o)
    {
        mesh.objectFirstTriangle.push_back(mesh.TriangleCount());
        const float s = size(rng);
        const float y = s * (0.5f + 1.2f * heap(rng));
        AddBumpyTorus(mesh, {pos(rng), y, pos(rng)}, s, 0.35f * s, angle(rng), 11, 11);
    }
    // The ground is one more object.
    mesh.objectFirstTriangle.insert(mesh.objectFirstTriangle.begin(), 0);
    mesh.name = "many objects";
    return mesh;
}

std::vector<RadeonRays::ray> ShadowRays(const TriangleMesh& mesh, int count)
{
    // Area of the mesh, to choose the refinement that yields about count corners.
    double area = 0;
    auto corner = [&](int t, int k)
    {
        int i = mesh.indices[3 * t + k];
        return Vec{mesh.vertices[3 * i], mesh.vertices[3 * i + 1], mesh.vertices[3 * i + 2]};
    };
    for (int t = 0; t < mesh.TriangleCount(); ++t)
    {
        Vec n = Cross(Sub(corner(t, 1), corner(t, 0)), Sub(corner(t, 2), corner(t, 0)));
        area += 0.5 * std::sqrt(Dot(n, n));
    }
    // Each refined triangle gives three corners.
    const double limit = area / (count / 3.0);
    const float angle = 0.5235988f; // 30 degrees around the vertical
    const Vec light{0.70710678f * std::cos(angle), 0.70710678f, 0.70710678f * std::sin(angle)};

    std::vector<RadeonRays::ray> rays;
    rays.reserve(count + 3);
    auto emit = [&](const Vec& p, const Vec& n)
    {
        RadeonRays::ray r{};
        for (int k = 0; k < 3; ++k)
        {
            r.o[k] = p[k] + 1e-3f * n[k];
            r.d[k] = light[k];
        }
        r.maxt = 1000.0f;
        r.active = 1;
        rays.push_back(r);
    };
    struct Tri
    {
        Vec a, b, c;
    };
    for (int t = 0; t < mesh.TriangleCount() && static_cast<int>(rays.size()) < count; ++t)
    {
        Vec n = Cross(Sub(corner(t, 1), corner(t, 0)), Sub(corner(t, 2), corner(t, 0)));
        float len = std::sqrt(Dot(n, n));
        if (len == 0)
            continue;
        n = {n[0] / len, n[1] / len, n[2] / len};
        std::vector<Tri> stack{{corner(t, 0), corner(t, 1), corner(t, 2)}};
        while (!stack.empty() && static_cast<int>(rays.size()) < count)
        {
            Tri tri = stack.back();
            stack.pop_back();
            Vec e = Cross(Sub(tri.b, tri.a), Sub(tri.c, tri.a));
            if (0.5 * std::sqrt(Dot(e, e)) <= limit)
            {
                emit(tri.a, n);
                emit(tri.b, n);
                emit(tri.c, n);
                continue;
            }
            auto mid = [](const Vec& p, const Vec& q) {
                return Vec{(p[0] + q[0]) / 2, (p[1] + q[1]) / 2, (p[2] + q[2]) / 2};
            };
            Vec ab = mid(tri.a, tri.b), bc = mid(tri.b, tri.c), ca = mid(tri.c, tri.a);
            // Pushed in reverse so that the children come out in order.
            stack.push_back({ab, bc, ca});
            stack.push_back({ca, bc, tri.c});
            stack.push_back({ab, tri.b, bc});
            stack.push_back({tri.a, ab, ca});
        }
    }
    rays.resize(std::min<std::size_t>(rays.size(), count));
    return rays;
}

std::vector<RadeonRays::ray> IncoherentRays(int count, unsigned seed)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> pos(-20, 20), dir(-1, 1), reach(1, 20);
    std::vector<RadeonRays::ray> rays(count);
    for (auto& r : rays)
    {
        float d[3], n2;
        do
        {
            n2 = 0;
            for (float& c : d)
            {
                c = dir(rng);
                n2 += c * c;
            }
        } while (n2 < 0.01f || n2 > 1);
        float inv = 1 / std::sqrt(n2);
        for (int k = 0; k < 3; ++k)
        {
            r.o[k] = pos(rng);
            r.d[k] = d[k] * inv;
        }
        r.maxt = reach(rng);
        r.active = 1;
    }
    return rays;
}

std::vector<RadeonRays::ray> SampledShadowRays(const TriangleMesh& mesh, int count, unsigned seed,
                                               const float* pointLight)
{
    auto corner = [&](int t, int k)
    {
        int i = mesh.indices[3 * t + k];
        return Vec{mesh.vertices[3 * i], mesh.vertices[3 * i + 1], mesh.vertices[3 * i + 2]};
    };
    // Cumulative areas: a triangle is drawn with probability proportional to its area.
    std::vector<double> cumulative(mesh.TriangleCount());
    double area = 0;
    for (int t = 0; t < mesh.TriangleCount(); ++t)
    {
        Vec n = Cross(Sub(corner(t, 1), corner(t, 0)), Sub(corner(t, 2), corner(t, 0)));
        area += 0.5 * std::sqrt(Dot(n, n));
        cumulative[t] = area;
    }
    const float angle = 0.5235988f; // the directional light of ShadowRays
    const Vec light{0.70710678f * std::cos(angle), 0.70710678f, 0.70710678f * std::sin(angle)};
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> pick(0.0, area);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    std::vector<RadeonRays::ray> rays;
    rays.reserve(count);
    while (static_cast<int>(rays.size()) < count)
    {
        const int t = static_cast<int>(
            std::upper_bound(cumulative.begin(), cumulative.end(), pick(rng)) - cumulative.begin());
        if (t >= mesh.TriangleCount())
            continue;
        const Vec a = corner(t, 0), b = corner(t, 1), c = corner(t, 2);
        Vec n = Cross(Sub(b, a), Sub(c, a));
        const float len = std::sqrt(Dot(n, n));
        if (len == 0)
            continue;
        n = {n[0] / len, n[1] / len, n[2] / len};
        // A uniform point of the triangle (the square's two halves folded onto it).
        float u = unit(rng), v = unit(rng);
        if (u + v > 1)
        {
            u = 1 - u;
            v = 1 - v;
        }
        RadeonRays::ray r{};
        for (int k = 0; k < 3; ++k)
            r.o[k] = a[k] + u * (b[k] - a[k]) + v * (c[k] - a[k]) + 1e-3f * n[k];
        for (int k = 0; k < 3; ++k)
            r.d[k] = pointLight ? pointLight[k] - r.o[k] : light[k];
        r.maxt = pointLight ? 1.0f : 1000.0f;
        r.active = 1;
        rays.push_back(r);
    }
    return rays;
}

void SortByMortonCode(std::vector<RadeonRays::ray>& rays)
{
    float lo[3] = {1e30f, 1e30f, 1e30f}, hi[3] = {-1e30f, -1e30f, -1e30f};
    for (const auto& r : rays)
        for (int k = 0; k < 3; ++k)
        {
            lo[k] = std::min(lo[k], r.o[k]);
            hi[k] = std::max(hi[k], r.o[k]);
        }
    auto spread = [](std::uint32_t x)
    {
        x &= 0x3ff;
        x = (x | (x << 16)) & 0x030000ff;
        x = (x | (x << 8)) & 0x0300f00f;
        x = (x | (x << 4)) & 0x030c30c3;
        x = (x | (x << 2)) & 0x09249249;
        return x;
    };
    std::vector<std::pair<std::uint32_t, std::uint32_t>> keys(rays.size());
    for (std::size_t i = 0; i < rays.size(); ++i)
    {
        std::uint32_t code = 0;
        for (int k = 0; k < 3; ++k)
        {
            const float f = hi[k] > lo[k] ? (rays[i].o[k] - lo[k]) / (hi[k] - lo[k]) : 0.0f;
            code |= spread(static_cast<std::uint32_t>(std::min(f * 1024.0f, 1023.0f))) << k;
        }
        keys[i] = {code, static_cast<std::uint32_t>(i)};
    }
    std::sort(keys.begin(), keys.end());
    std::vector<RadeonRays::ray> sorted(rays.size());
    for (std::size_t i = 0; i < rays.size(); ++i)
        sorted[i] = rays[keys[i].second];
    rays.swap(sorted);
}

} // namespace rrbench
