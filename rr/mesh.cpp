#include "rr/mesh.h"

#include "rr/device_layout.h"

#include <cstring>
#include <stdexcept>
#include <string>

namespace RadeonRays::detail
{
namespace
{

[[noreturn]] void Refuse(const std::string& what)
{
    throw std::invalid_argument("RadeonRays::CreateMesh: " + what);
}

} // namespace

Mesh::Mesh(const float* vertices, int vnum, int vstride, const int* indices, int istride,
           const int* numfacevertices, int numfaces)
{
    if (vnum < 0)
        Refuse("negative vertex count " + std::to_string(vnum));
    if (numfaces < 0)
        Refuse("negative face count " + std::to_string(numfaces));
    if (numfaces > kMaxSceneTriangles)
        Refuse(std::to_string(numfaces) + " faces; a scene holds at most " +
               std::to_string(kMaxSceneTriangles) + " triangles");
    if (vstride < 0 || (vstride > 0 && vstride < 12))
        Refuse("vertex stride " + std::to_string(vstride) + " is neither 0 nor at least 12");
    if (istride < 0)
        Refuse("negative index stride " + std::to_string(istride));
    if (vnum > 0 && !vertices)
        Refuse("null vertex pointer");
    if (numfaces > 0 && !indices)
        Refuse("null index pointer");
    if (numfaces > 0 && vnum == 0)
        Refuse("faces without vertices");

    // Bytes are copied with memcpy: the caller's strides need not keep floats aligned. Packed
    // arrays, the common case, are copied in one go.
    const std::size_t vstep = vstride ? static_cast<std::size_t>(vstride) : 12;
    positions_.resize(static_cast<std::size_t>(vnum) * 3);
    const auto* vbytes = reinterpret_cast<const unsigned char*>(vertices);
    if (vstep == 12 && vnum > 0)
        std::memcpy(positions_.data(), vbytes, static_cast<std::size_t>(vnum) * 12);
    else
        for (std::size_t v = 0; v < static_cast<std::size_t>(vnum); ++v)
            std::memcpy(&positions_[3 * v], vbytes + v * vstep, 3 * sizeof(float));
    const auto* ibytes = reinterpret_cast<const unsigned char*>(indices);
    const auto refuseIndex = [&](int f, int index)
    {
        Refuse("face " + std::to_string(f) + " uses vertex " + std::to_string(index) +
               " outside 0.." + std::to_string(vnum - 1));
    };
    if (!numfacevertices && (istride == 0 || istride == 12))
    {
        // Packed triangles: one copy, then one sweep over every index (negative ones compare
        // as huge).
        const std::size_t count = static_cast<std::size_t>(numfaces) * 3;
        triangles_.resize(count);
        if (count > 0)
            std::memcpy(triangles_.data(), ibytes, count * sizeof(int));
        for (std::size_t i = 0; i < count; ++i)
            if (static_cast<unsigned>(triangles_[i]) >= static_cast<unsigned>(vnum))
                refuseIndex(static_cast<int>(i / 3), triangles_[i]);
        return;
    }
    std::size_t offset = 0; // byte offset of the current face when the indices are packed
    triangles_.reserve(static_cast<std::size_t>(numfaces) * 3);
    for (int f = 0; f < numfaces; ++f)
    {
        const int n = numfacevertices ? numfacevertices[f] : 3;
        if (n != 3 && n != 4)
            Refuse("face " + std::to_string(f) + " has " + std::to_string(n) +
                   " vertices; faces have 3 or 4");
        const std::size_t start = istride ? static_cast<std::size_t>(f) * istride : offset;
        if (istride && istride < 4 * n)
            Refuse("index stride " + std::to_string(istride) + " is smaller than face " +
                   std::to_string(f) + "'s " + std::to_string(n) + " indices");
        int idx[4];
        std::memcpy(idx, ibytes + start, n * sizeof(int));
        offset = start + n * sizeof(int);
        for (int k = 0; k < n; ++k)
            if (idx[k] < 0 || idx[k] >= vnum)
                refuseIndex(f, idx[k]);
        triangles_.insert(triangles_.end(), {idx[0], idx[1], idx[2]});
        if (n == 4)
            triangles_.insert(triangles_.end(), {idx[0], idx[2], idx[3]});
    }
}

} // namespace RadeonRays::detail
