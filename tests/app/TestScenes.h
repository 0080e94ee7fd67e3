#pragma once
// A small scene of our own making, written as OBJ, PLY or glTF at any scale and place:
// a block, a post and a raised slab, boxes with a normal per face, in metres times
// scale, moved by offset.
#include <QByteArray>
#include <QFile>
#include <QString>

#include <array>
#include <string>
#include <vector>

namespace testscenes
{

struct Mesh
{
    std::vector<std::array<float, 3>> positions;
    std::vector<std::array<float, 3>> normals;
    std::vector<unsigned> indices; // three per triangle, counter-clockwise from outside
};

inline void AddBox(Mesh& mesh, std::array<double, 3> lo, std::array<double, 3> hi, double scale,
                   std::array<double, 3> offset)
{
    // Per face: its normal axis and sign, then four corners counter-clockwise from outside.
    for (int axis = 0; axis < 3; ++axis)
    {
        for (int side = 0; side < 2; ++side)
        {
            const int u = (axis + 1) % 3, v = (axis + 2) % 3;
            const double sign = side ? 1.0 : -1.0;
            const std::array<std::array<double, 2>, 4> uv =
                side ? std::array<std::array<double, 2>, 4>{{{0, 0}, {1, 0}, {1, 1}, {0, 1}}}
                     : std::array<std::array<double, 2>, 4>{{{0, 0}, {0, 1}, {1, 1}, {1, 0}}};
            const unsigned base = static_cast<unsigned>(mesh.positions.size());
            for (const auto& c : uv)
            {
                std::array<double, 3> p{};
                p[axis] = side ? hi[axis] : lo[axis];
                p[u] = c[0] ? hi[u] : lo[u];
                p[v] = c[1] ? hi[v] : lo[v];
                mesh.positions.push_back({float(p[0] * scale + offset[0]),
                                          float(p[1] * scale + offset[1]),
                                          float(p[2] * scale + offset[2])});
                std::array<float, 3> n{0, 0, 0};
                n[axis] = float(sign);
                mesh.normals.push_back(n);
            }
            for (unsigned i : {0u, 1u, 2u, 0u, 2u, 3u})
            {
                mesh.indices.push_back(base + i);
            }
        }
    }
}

inline Mesh Scene(double scale, std::array<double, 3> offset)
{
    Mesh mesh;
    AddBox(mesh, {-1.0, 0.0, -0.8}, {0.2, 0.7, 0.4}, scale, offset); // block
    AddBox(mesh, {0.7, 0.0, 0.3}, {0.9, 1.6, 0.5}, scale, offset);   // post
    AddBox(mesh, {-0.4, 1.1, -0.2}, {1.0, 1.2, 0.9}, scale, offset); // raised slab
    return mesh;
}

inline bool Write(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

inline QByteArray Number(float value)
{
    return QByteArray::number(double(value), 'g', 9);
}

inline bool WriteObj(const QString& path, const Mesh& mesh)
{
    QByteArray text;
    for (const auto& p : mesh.positions)
        text += "v " + Number(p[0]) + " " + Number(p[1]) + " " + Number(p[2]) + "\n";
    for (const auto& n : mesh.normals)
        text += "vn " + Number(n[0]) + " " + Number(n[1]) + " " + Number(n[2]) + "\n";
    for (size_t i = 0; i < mesh.indices.size(); i += 3)
    {
        text += "f";
        for (size_t k = 0; k < 3; ++k)
        {
            const QByteArray index = QByteArray::number(mesh.indices[i + k] + 1);
            text += " " + index + "//" + index;
        }
        text += "\n";
    }
    return Write(path, text);
}

inline bool WritePly(const QString& path, const Mesh& mesh)
{
    QByteArray text = "ply\nformat ascii 1.0\nelement vertex " +
                      QByteArray::number(int(mesh.positions.size())) +
                      "\nproperty float x\nproperty float y\nproperty float z\n"
                      "property float nx\nproperty float ny\nproperty float nz\n"
                      "element face " +
                      QByteArray::number(int(mesh.indices.size() / 3)) +
                      "\nproperty list uchar int vertex_indices\nend_header\n";
    for (size_t i = 0; i < mesh.positions.size(); ++i)
    {
        const auto& p = mesh.positions[i];
        const auto& n = mesh.normals[i];
        text += Number(p[0]) + " " + Number(p[1]) + " " + Number(p[2]) + " " + Number(n[0]) + " " +
                Number(n[1]) + " " + Number(n[2]) + "\n";
    }
    for (size_t i = 0; i < mesh.indices.size(); i += 3)
    {
        text += "3 " + QByteArray::number(mesh.indices[i]) + " " +
                QByteArray::number(mesh.indices[i + 1]) + " " +
                QByteArray::number(mesh.indices[i + 2]) + "\n";
    }
    return Write(path, text);
}

// glTF 2.0 with its one buffer embedded as a data URI.
inline bool WriteGltf(const QString& path, const Mesh& mesh)
{
    QByteArray buffer;
    auto append = [&buffer](const void* data, size_t bytes)
    { buffer.append(static_cast<const char*>(data), static_cast<int>(bytes)); };
    append(mesh.positions.data(), mesh.positions.size() * 12);
    append(mesh.normals.data(), mesh.normals.size() * 12);
    append(mesh.indices.data(), mesh.indices.size() * 4);
    std::array<float, 3> lo = mesh.positions[0], hi = mesh.positions[0];
    for (const auto& p : mesh.positions)
        for (int a = 0; a < 3; ++a)
        {
            lo[a] = std::min(lo[a], p[a]);
            hi[a] = std::max(hi[a], p[a]);
        }
    const QByteArray count = QByteArray::number(int(mesh.positions.size()));
    const QByteArray vectors = QByteArray::number(int(mesh.positions.size() * 12));
    const QByteArray json =
        "{\"asset\":{\"version\":\"2.0\"},\"scene\":0,\"scenes\":[{\"nodes\":[0]}],"
        "\"nodes\":[{\"mesh\":0}],\"meshes\":[{\"primitives\":[{\"attributes\":"
        "{\"POSITION\":0,\"NORMAL\":1},\"indices\":2}]}],"
        "\"buffers\":[{\"byteLength\":" +
        QByteArray::number(buffer.size()) + ",\"uri\":\"data:application/octet-stream;base64," +
        buffer.toBase64() +
        "\"}],\"bufferViews\":[{\"buffer\":0,\"byteOffset\":0,\"byteLength\":" + vectors +
        "},{\"buffer\":0,\"byteOffset\":" + vectors + ",\"byteLength\":" + vectors +
        "},{\"buffer\":0,\"byteOffset\":" +
        QByteArray::number(int(2 * mesh.positions.size() * 12)) +
        ",\"byteLength\":" + QByteArray::number(int(mesh.indices.size() * 4)) +
        "}],\"accessors\":[{\"bufferView\":0,\"componentType\":5126,\"count\":" + count +
        ",\"type\":\"VEC3\",\"min\":[" + Number(lo[0]) + "," + Number(lo[1]) + "," + Number(lo[2]) +
        "],\"max\":[" + Number(hi[0]) + "," + Number(hi[1]) + "," + Number(hi[2]) +
        "]},{\"bufferView\":1,\"componentType\":5126,\"count\":" + count +
        ",\"type\":\"VEC3\"},{\"bufferView\":2,\"componentType\":5125,\"count\":" +
        QByteArray::number(int(mesh.indices.size())) + ",\"type\":\"SCALAR\"}]}";
    return Write(path, json);
}

} // namespace testscenes
