// vs_modelgen <file.ply>: writes a model of our own making for trying --scene: a
// trefoil knot, a tube wound through itself, standing on a round plinth. It is written
// in millimetres and far from the origin, as models from CAD tools often are, so that
// the demo has to frame it; it has no floor of its own (try --ground).
//
// vs_modelgen --torus N <file.ply>: a large model for measuring start-up at scale: a
// bumpy torus of N x N quads (2 N^2 triangles) as a binary PLY of positions only, as
// scanned meshes come, so that the import computes its normals. N = 995 gives 1.98
// million triangles; N = 1581 about 5 million, near the refinement's vertex budget.
#include "scene/VectorMath.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace
{

constexpr float kPi = 3.14159265f;
// Where the model stands, in millimetres.
const Float3 kPlace{2400.0f, 150.0f, -1800.0f};

struct Mesh
{
    std::vector<Float3> positions;
    std::vector<Float3> normals;
    std::vector<unsigned> indices;

    // A grid of rows x columns corners that wraps around in columns, and in rows when
    // closed; corner(r, c) gives a position and its normal.
    template <typename Corner> void Sweep(int rows, int columns, bool closed, Corner corner)
    {
        const unsigned base = static_cast<unsigned>(positions.size());
        for (int r = 0; r < rows; ++r)
        {
            for (int c = 0; c < columns; ++c)
            {
                Float3 p, n;
                corner(r, c, p, n);
                positions.push_back(p + kPlace);
                normals.push_back(n);
            }
        }
        const int bands = closed ? rows : rows - 1;
        for (int r = 0; r < bands; ++r)
        {
            for (int c = 0; c < columns; ++c)
            {
                const unsigned a = base + r * columns + c;
                const unsigned b = base + r * columns + (c + 1) % columns;
                const unsigned d = base + ((r + 1) % rows) * columns + c;
                const unsigned e = base + ((r + 1) % rows) * columns + (c + 1) % columns;
                indices.insert(indices.end(), {a, b, d, b, e, d});
            }
        }
    }
};

// The trefoil's centre line, about 300 mm across, standing upright (x and y) with its
// lowest turn resting on the plinth.
Float3 Knot(float t)
{
    const float s = 55.0f;
    return Float3{std::sin(t) + 2.0f * std::sin(2.0f * t), std::cos(t) - 2.0f * std::cos(2.0f * t),
                  -1.6f * std::sin(3.0f * t)} *
               s +
           Float3{0.0f, 240.0f, 0.0f};
}

void AddKnot(Mesh& mesh)
{
    const int rows = 360, columns = 20;
    const float radius = 22.0f;
    mesh.Sweep(rows, columns, true,
               [&](int r, int c, Float3& p, Float3& n)
               {
                   const float t = 2.0f * kPi * r / rows;
                   const Float3 centre = Knot(t);
                   const Float3 tangent = Normalize(Knot(t + 0.001f) - Knot(t - 0.001f));
                   // A frame that turns smoothly with the tube: any direction not along it.
                   const Float3 side = Normalize(Cross(tangent, Float3{0.3f, 0.2f, 1.0f}));
                   const Float3 other = Cross(tangent, side);
                   const float a = 2.0f * kPi * c / columns;
                   n = side * std::cos(a) + other * std::sin(a);
                   p = centre + n * radius;
               });
}

// A round plinth from the floor (y = 0) to 60 mm, its top and side.
void AddPlinth(Mesh& mesh)
{
    const int columns = 48;
    const float radius = 150.0f, height = 60.0f;
    // The side: two rings.
    mesh.Sweep(2, columns, false,
               [&](int r, int c, Float3& p, Float3& n)
               {
                   const float a = 2.0f * kPi * c / columns;
                   n = {std::cos(a), 0.0f, std::sin(a)};
                   p = Float3{n.x * radius, r == 0 ? height : 0.0f, n.z * radius};
               });
    // The top: a fan around its centre.
    const unsigned centre = static_cast<unsigned>(mesh.positions.size());
    mesh.positions.push_back(Float3{0.0f, height, 0.0f} + kPlace);
    mesh.normals.push_back({0.0f, 1.0f, 0.0f});
    for (int c = 0; c < columns; ++c)
    {
        const float a = 2.0f * kPi * c / columns;
        mesh.positions.push_back(Float3{std::cos(a) * radius, height, std::sin(a) * radius} +
                                 kPlace);
        mesh.normals.push_back({0.0f, 1.0f, 0.0f});
    }
    for (int c = 0; c < columns; ++c)
    {
        mesh.indices.insert(mesh.indices.end(),
                            {centre, centre + 1 + (c + 1) % columns, centre + 1 + c});
    }
}

// A torus lying in the x-z plane whose tube swells and shrinks in a pattern of bumps,
// so that its triangles differ in size and its normals in direction.
void AddBumpyTorus(Mesh& mesh, int quads)
{
    const float major = 100.0f, minor = 35.0f, bump = 4.0f;
    mesh.Sweep(quads, quads, true,
               [&](int r, int c, Float3& p, Float3& n)
               {
                   const float u = 2.0f * kPi * r / quads;
                   const float v = 2.0f * kPi * c / quads;
                   const float tube = minor + bump * std::sin(17.0f * u) * std::sin(11.0f * v);
                   const Float3 ring{std::cos(u), 0.0f, std::sin(u)};
                   n = ring * std::cos(v) + Float3{0.0f, std::sin(v), 0.0f};
                   p = ring * major + n * tube + Float3{0.0f, minor + bump, 0.0f};
               });
}

int WriteBinaryPly(const char* path, const Mesh& mesh)
{
    FILE* file = std::fopen(path, "wb");
    if (!file)
    {
        std::fprintf(stderr, "modelgen: cannot write %s\n", path);
        return 1;
    }
    std::fprintf(file,
                 "ply\nformat binary_little_endian 1.0\ncomment a bumpy torus\n"
                 "element vertex %zu\nproperty float x\nproperty float y\nproperty float z\n"
                 "element face %zu\nproperty list uchar int vertex_indices\nend_header\n",
                 mesh.positions.size(), mesh.indices.size() / 3);
    // The bytes in the file's order; this tool runs on little-endian machines.
    std::fwrite(mesh.positions.data(), sizeof(Float3), mesh.positions.size(), file);
    std::vector<unsigned char> faces;
    faces.reserve(mesh.indices.size() / 3 * 13);
    for (size_t i = 0; i < mesh.indices.size(); i += 3)
    {
        faces.push_back(3);
        const unsigned char* corners = reinterpret_cast<const unsigned char*>(&mesh.indices[i]);
        faces.insert(faces.end(), corners, corners + 3 * sizeof(unsigned));
    }
    std::fwrite(faces.data(), 1, faces.size(), file);
    if (std::fclose(file) != 0)
    {
        std::fprintf(stderr, "modelgen: cannot write %s\n", path);
        return 1;
    }
    std::printf("%s: %zu vertices, %zu triangles\n", path, mesh.positions.size(),
                mesh.indices.size() / 3);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && std::string(argv[1]) == "--torus")
    {
        const int quads = std::atoi(argv[2]);
        if (quads < 3 || quads > 4000)
        {
            std::fprintf(stderr, "modelgen: --torus takes 3 to 4000 quads a side\n");
            return 2;
        }
        Mesh mesh;
        AddBumpyTorus(mesh, quads);
        return WriteBinaryPly(argv[3], mesh);
    }
    if (argc != 2)
    {
        std::fprintf(stderr, "usage: %s <file.ply> | --torus QUADS <file.ply>\n", argv[0]);
        return 2;
    }
    Mesh mesh;
    AddKnot(mesh);
    AddPlinth(mesh);

    FILE* file = std::fopen(argv[1], "w");
    if (!file)
    {
        std::fprintf(stderr, "modelgen: cannot write %s\n", argv[1]);
        return 1;
    }
    std::fprintf(file,
                 "ply\nformat ascii 1.0\ncomment a trefoil knot on a plinth, in millimetres\n"
                 "element vertex %zu\nproperty float x\nproperty float y\nproperty float z\n"
                 "property float nx\nproperty float ny\nproperty float nz\n"
                 "element face %zu\nproperty list uchar int vertex_indices\nend_header\n",
                 mesh.positions.size(), mesh.indices.size() / 3);
    for (size_t i = 0; i < mesh.positions.size(); ++i)
    {
        const Float3 &p = mesh.positions[i], &n = mesh.normals[i];
        std::fprintf(file, "%.3f %.3f %.3f %.5f %.5f %.5f\n", p.x, p.y, p.z, n.x, n.y, n.z);
    }
    for (size_t i = 0; i < mesh.indices.size(); i += 3)
    {
        std::fprintf(file, "3 %u %u %u\n", mesh.indices[i], mesh.indices[i + 1],
                     mesh.indices[i + 2]);
    }
    const bool written = std::fclose(file) == 0;
    if (!written)
    {
        std::fprintf(stderr, "modelgen: cannot write %s\n", argv[1]);
        return 1;
    }
    std::printf("%s: %zu vertices, %zu triangles\n", argv[1], mesh.positions.size(),
                mesh.indices.size() / 3);
    return 0;
}
