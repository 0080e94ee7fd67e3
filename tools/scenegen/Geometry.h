#pragma once
// Triangle meshes built from simple solids, with per-corner normals and texture
// coordinates, grouped by material. Everything the courtyard is made of.
#include <cmath>
#include <string>
#include <vector>

namespace scenegen
{

struct Vec2
{
    double u, v;
};

struct Vec3
{
    double x, y, z;
};

inline Vec3 operator+(Vec3 a, Vec3 b)
{
    return {a.x + b.x, a.y + b.y, a.z + b.z};
}
inline Vec3 operator-(Vec3 a, Vec3 b)
{
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
inline Vec3 operator*(Vec3 a, double s)
{
    return {a.x * s, a.y * s, a.z * s};
}
inline double Dot(Vec3 a, Vec3 b)
{
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
inline Vec3 Cross(Vec3 a, Vec3 b)
{
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
inline Vec3 Normalize(Vec3 a)
{
    const double length = std::sqrt(Dot(a, a));
    return length > 0 ? a * (1.0 / length) : a;
}

struct Corner
{
    Vec3 position;
    Vec3 normal;
    Vec2 texCoord;
};

// A face of three or four corners, counter-clockwise seen from outside.
struct Face
{
    std::vector<Corner> corners;
};

struct Material
{
    std::string name;
    std::string diffuseTexture; // relative to the scene's directory; empty for none
    double worldSize;           // model units covered by one repeat of the texture
};

// Where a solid goes: a turn about the vertical axis, then a move.
struct Placement
{
    Vec3 offset{0, 0, 0};
    double yawDegrees = 0;

    Vec3 Point(Vec3 p) const;
    Vec3 Direction(Vec3 d) const;
};

class MeshBuilder
{
public:
    explicit MeshBuilder(std::vector<Material> materials);

    const std::vector<Material>& Materials() const { return materials; }
    // Faces per material, in material order.
    const std::vector<std::vector<Face>>& Faces() const { return faces; }
    size_t TriangleCount() const;

    // Subsequent solids use this material and are reported under this object name.
    void Use(int material) { current = material; }

    // A flat quad p0 p1 p2 p3 (counter-clockwise seen from the side it faces),
    // split into a grid of cells no longer than maxCell on either side. Texture
    // coordinates come from the world position projected on the quad's own axes.
    void Quad(Vec3 p0, Vec3 p1, Vec3 p2, Vec3 p3, double maxCell);

    // An axis-aligned box before placement, from lo to hi. The bottom face is left
    // out where the box stands on something (nobody sees it, and it would only add
    // vertices that are always in shadow).
    void Box(Vec3 lo, Vec3 hi, double maxCell, const Placement& at = {}, bool bottom = false);

    // A vertical cylinder standing at base, smooth sides, flat top.
    void Cylinder(Vec3 base, double radius, double height, int segments, int rows);

    // A sphere with smooth normals.
    void Sphere(Vec3 centre, double radius, int segments, int rings);

    // A torus whose ring lies in the plane spanned by axisA and axisB (unit,
    // perpendicular), around centre.
    void Torus(Vec3 centre, Vec3 axisA, Vec3 axisB, double major, double minor, int segments,
               int sides);

    // A round arch in a block: piers of width pierWidth either side of an opening of
    // the given radius, springing at springHeight, with crown thickness above the
    // opening, depth along the local z axis. Local x runs across the opening.
    void Arch(double radius, double pierWidth, double springHeight, double crown, double depth,
              int segments, const Placement& at);

private:
    void Emit(std::vector<Corner> corners);
    Vec2 Planar(Vec3 p, Vec3 uAxis, Vec3 vAxis) const;

    std::vector<Material> materials;
    std::vector<std::vector<Face>> faces;
    int current = 0;
};

} // namespace scenegen
