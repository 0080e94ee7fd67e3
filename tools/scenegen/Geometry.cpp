#include "Geometry.h"

#include <algorithm>

namespace scenegen
{
namespace
{

constexpr double kPi = 3.14159265358979323846;

// Texture coordinates for a flat face: the world position projected on the plane
// the face is most nearly parallel to, so that textures line up across faces.
Vec2 AutoUV(Vec3 p, Vec3 n, double worldSize)
{
    const double ax = std::fabs(n.x), ay = std::fabs(n.y), az = std::fabs(n.z);
    if (ay >= ax && ay >= az)
    {
        return {p.x / worldSize, -p.z / worldSize};
    }
    if (ax >= az)
    {
        return {(n.x > 0 ? -p.z : p.z) / worldSize, p.y / worldSize};
    }
    return {(n.z > 0 ? p.x : -p.x) / worldSize, p.y / worldSize};
}

} // namespace

Vec3 Placement::Point(Vec3 p) const
{
    return offset + Direction(p);
}

Vec3 Placement::Direction(Vec3 d) const
{
    const double a = yawDegrees * kPi / 180.0;
    const double c = std::cos(a), s = std::sin(a);
    return {c * d.x + s * d.z, d.y, -s * d.x + c * d.z};
}

MeshBuilder::MeshBuilder(std::vector<Material> materials)
    : materials(std::move(materials)), faces(this->materials.size())
{
}

size_t MeshBuilder::TriangleCount() const
{
    size_t count = 0;
    for (const auto& list : faces)
    {
        for (const Face& face : list)
        {
            count += face.corners.size() - 2;
        }
    }
    return count;
}

void MeshBuilder::Emit(std::vector<Corner> corners)
{
    // Every solid below hands its corners over with their intended outward normals;
    // the winding is fixed here once, so that no solid can get it wrong.
    const Vec3 geometric =
        Cross(corners[1].position - corners[0].position, corners[2].position - corners[0].position);
    Vec3 intended = {0, 0, 0};
    for (const Corner& c : corners)
    {
        intended = intended + c.normal;
    }
    if (Dot(geometric, intended) < 0)
    {
        std::reverse(corners.begin(), corners.end());
    }
    faces[current].push_back({std::move(corners)});
}

void MeshBuilder::Quad(Vec3 p0, Vec3 p1, Vec3 p2, Vec3 p3, double maxCell)
{
    const Vec3 normal = Normalize(Cross(p1 - p0, p3 - p0));
    const double size = materials[current].worldSize;
    const int n =
        std::max(1, static_cast<int>(std::ceil(std::sqrt(Dot(p1 - p0, p1 - p0)) / maxCell - 1e-9)));
    const int m =
        std::max(1, static_cast<int>(std::ceil(std::sqrt(Dot(p3 - p0, p3 - p0)) / maxCell - 1e-9)));
    auto at = [&](int i, int j)
    {
        const double s = static_cast<double>(i) / n, t = static_cast<double>(j) / m;
        const Vec3 bottom = p0 + (p1 - p0) * s;
        const Vec3 top = p3 + (p2 - p3) * s;
        const Vec3 p = bottom + (top - bottom) * t;
        return Corner{p, normal, AutoUV(p, normal, size)};
    };
    for (int j = 0; j < m; ++j)
    {
        for (int i = 0; i < n; ++i)
        {
            Emit({at(i, j), at(i + 1, j), at(i + 1, j + 1), at(i, j + 1)});
        }
    }
}

void MeshBuilder::Box(Vec3 lo, Vec3 hi, double maxCell, const Placement& at, bool bottom)
{
    auto q = [&](Vec3 a, Vec3 b, Vec3 c, Vec3 d)
    { Quad(at.Point(a), at.Point(b), at.Point(c), at.Point(d), maxCell); };
    q({hi.x, lo.y, hi.z}, {hi.x, lo.y, lo.z}, {hi.x, hi.y, lo.z}, {hi.x, hi.y, hi.z}); // +x
    q({lo.x, lo.y, lo.z}, {lo.x, lo.y, hi.z}, {lo.x, hi.y, hi.z}, {lo.x, hi.y, lo.z}); // -x
    q({lo.x, hi.y, hi.z}, {hi.x, hi.y, hi.z}, {hi.x, hi.y, lo.z}, {lo.x, hi.y, lo.z}); // +y
    if (bottom)
    {
        q({lo.x, lo.y, lo.z}, {hi.x, lo.y, lo.z}, {hi.x, lo.y, hi.z}, {lo.x, lo.y, hi.z});
    }
    q({lo.x, lo.y, hi.z}, {hi.x, lo.y, hi.z}, {hi.x, hi.y, hi.z}, {lo.x, hi.y, hi.z}); // +z
    q({hi.x, lo.y, lo.z}, {lo.x, lo.y, lo.z}, {lo.x, hi.y, lo.z}, {hi.x, hi.y, lo.z}); // -z
}

void MeshBuilder::Cylinder(Vec3 base, double radius, double height, int segments, int rows)
{
    const double size = materials[current].worldSize;
    auto side = [&](int i, int j)
    {
        const double a = 2 * kPi * i / segments;
        const Vec3 n = {std::cos(a), 0, std::sin(a)};
        const double y = height * j / rows;
        return Corner{
            base + n * radius + Vec3{0, y, 0}, n, {a * radius / size, (base.y + y) / size}};
    };
    const Vec3 up = {0, 1, 0};
    const Vec3 top = base + Vec3{0, height, 0};
    for (int i = 0; i < segments; ++i)
    {
        for (int j = 0; j < rows; ++j)
        {
            Emit({side(i, j), side(i + 1, j), side(i + 1, j + 1), side(i, j + 1)});
        }
        const double a0 = 2 * kPi * i / segments, a1 = 2 * kPi * (i + 1) / segments;
        const Vec3 r0 = top + Vec3{std::cos(a0), 0, std::sin(a0)} * radius;
        const Vec3 r1 = top + Vec3{std::cos(a1), 0, std::sin(a1)} * radius;
        Emit({{top, up, AutoUV(top, up, size)},
              {r0, up, AutoUV(r0, up, size)},
              {r1, up, AutoUV(r1, up, size)}});
    }
}

void MeshBuilder::Sphere(Vec3 centre, double radius, int segments, int rings)
{
    auto at = [&](int i, int j)
    {
        const double a = 2 * kPi * i / segments;
        const double b = kPi * j / rings; // 0 at the top
        const Vec3 n = {std::sin(b) * std::cos(a), std::cos(b), std::sin(b) * std::sin(a)};
        return Corner{
            centre + n * radius, n, {2.0 * i / segments, 1.0 - static_cast<double>(j) / rings}};
    };
    for (int j = 0; j < rings; ++j)
    {
        for (int i = 0; i < segments; ++i)
        {
            if (j == 0)
            {
                Emit({at(i, 0), at(i + 1, 1), at(i, 1)});
            }
            else if (j == rings - 1)
            {
                Emit({at(i, j), at(i + 1, j), at(i, j + 1)});
            }
            else
            {
                Emit({at(i, j), at(i + 1, j), at(i + 1, j + 1), at(i, j + 1)});
            }
        }
    }
}

void MeshBuilder::Torus(Vec3 centre, Vec3 axisA, Vec3 axisB, double major, double minor,
                        int segments, int sides)
{
    const Vec3 axisN = Cross(axisA, axisB);
    auto at = [&](int i, int j)
    {
        const double s = 2 * kPi * i / segments, t = 2 * kPi * j / sides;
        const Vec3 radial = axisA * std::cos(s) + axisB * std::sin(s);
        const Vec3 n = radial * std::cos(t) + axisN * std::sin(t);
        return Corner{
            centre + radial * major + n * minor, n, {4.0 * i / segments, 1.0 * j / sides}};
    };
    for (int i = 0; i < segments; ++i)
    {
        for (int j = 0; j < sides; ++j)
        {
            Emit({at(i, j), at(i + 1, j), at(i + 1, j + 1), at(i, j + 1)});
        }
    }
}

void MeshBuilder::Arch(double radius, double pierWidth, double springHeight, double crown,
                       double depth, int segments, const Placement& at)
{
    const double w = radius + pierWidth;
    const double h = springHeight;
    const double top = springHeight + radius + crown;
    const double z = depth / 2;
    const double size = materials[current].worldSize;

    // The piers, without the tops that the arched block covers.
    auto pier = [&](double x0, double x1)
    {
        auto q = [&](Vec3 a, Vec3 b, Vec3 c, Vec3 d)
        { Quad(at.Point(a), at.Point(b), at.Point(c), at.Point(d), 1.0); };
        q({x1, 0, z}, {x1, 0, -z}, {x1, h, -z}, {x1, h, z});
        q({x0, 0, -z}, {x0, 0, z}, {x0, h, z}, {x0, h, -z});
        q({x0, 0, z}, {x1, 0, z}, {x1, h, z}, {x0, h, z});
        q({x1, 0, -z}, {x0, 0, -z}, {x0, h, -z}, {x1, h, -z});
    };
    pier(-w, -radius);
    pier(radius, w);

    // The arched block, walked from the right springing (angle 0) over the crown to
    // the left one; the block's two upper corners are among the angles, so that its
    // outline stays a rectangle.
    std::vector<double> angles;
    for (int i = 0; i <= segments; ++i)
    {
        angles.push_back(kPi * i / segments);
    }
    const double cornerAngle = std::atan2(top - h, w);
    angles.push_back(cornerAngle);
    angles.push_back(kPi - cornerAngle);
    std::sort(angles.begin(), angles.end());

    auto inner = [&](double a) { return Vec3{radius * std::cos(a), h + radius * std::sin(a), 0}; };
    auto outer = [&](double a)
    {
        const double c = std::cos(a), s = std::sin(a);
        double t = 1e9;
        if (std::fabs(c) > 1e-12)
        {
            t = std::min(t, w / std::fabs(c));
        }
        if (s > 1e-12)
        {
            t = std::min(t, (top - h) / s);
        }
        return Vec3{c * t, h + s * t, 0};
    };
    auto corner = [&](Vec3 local, double dz, Vec3 normal)
    {
        const Vec3 p = at.Point(local + Vec3{0, 0, dz});
        const Vec3 n = at.Direction(normal);
        return Corner{p, n, AutoUV(p, n, size)};
    };
    for (size_t i = 0; i + 1 < angles.size(); ++i)
    {
        const double a0 = angles[i], a1 = angles[i + 1];
        if (a1 - a0 < 1e-9)
        {
            continue;
        }
        const Vec3 i0 = inner(a0), i1 = inner(a1), o0 = outer(a0), o1 = outer(a1);
        for (double dz : {z, -z})
        {
            const Vec3 n = {0, 0, dz > 0 ? 1.0 : -1.0};
            Emit({corner(i0, dz, n), corner(o0, dz, n), corner(o1, dz, n), corner(i1, dz, n)});
        }
        // The underside of the arch faces its centre.
        const Vec3 n0 = {-std::cos(a0), -std::sin(a0), 0}, n1 = {-std::cos(a1), -std::sin(a1), 0};
        Emit({corner(i0, z, n0), corner(i1, z, n1), corner(i1, -z, n1), corner(i0, -z, n0)});
        // The outline: flat sides and top.
        const Vec3 d = o1 - o0;
        Vec3 n = Normalize({d.y, -d.x, 0});
        if (Dot(n, (o0 + o1) * 0.5 - Vec3{0, h, 0}) < 0)
        {
            n = n * -1.0;
        }
        Emit({corner(o0, z, n), corner(o1, z, n), corner(o1, -z, n), corner(o0, -z, n)});
    }
}

} // namespace scenegen
