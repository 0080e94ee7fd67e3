#include "import/SceneImport.h"

#include "import/SceneFiles.h"
#include "scene/VectorMath.h"

#include <assimp/Importer.hpp>
#include <assimp/material.h>
#include <assimp/postprocess.h>
#include <assimp/scene.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <system_error>
#include <thread>

namespace
{

// The importer's post-processing. What comes out is one vertex per corner of every
// triangle, grouped by material, so of the importer's steps for real-time rendering only
// those that change which triangles there are and what their corners carry are asked
// for. Joining identical vertices, ordering faces for the vertex cache, splitting large
// meshes, tangents and bone weights would only index, reorder and split what is unindexed
// here anyway, and cost seconds at millions of triangles. Dropping triangles with two
// corners at one point and smooth normals for meshes without any are done while the
// corners are read (KeptTriangles, WriteCorners): the importer's own steps search every vertex's
// neighbourhood and take most of a large scene's import.
constexpr unsigned kSceneImportFlags = aiProcess_Triangulate | aiProcess_ValidateDataStructure |
                                       aiProcess_RemoveRedundantMaterials | aiProcess_SortByPType |
                                       aiProcess_FindInvalidData | aiProcess_GenUVCoords |
                                       aiProcess_FindInstances | aiProcess_OptimizeMeshes;

// Meshes of at least this many kept triangles are written by two threads.
constexpr size_t kWriteSplitTriangles = 1 << 16;

[[noreturn]] void Fail(const std::string& path, const std::string& reason)
{
    throw std::runtime_error("Cannot load the scene \"" + path + "\": " + reason);
}

bool IsFinite(const aiVector3D& v)
{
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

Float3 ToFloat3(const aiVector3D& v)
{
    return {v.x, v.y, v.z};
}

Float3 SafeNormalize(const Float3& n)
{
    return Length(n) > 0.0f ? Normalize(n) : n;
}

// The distinct positions of a mesh's corners, each with a sum of normals: an open
// addressing table keyed on the positions' bits. Positions are compared as floats, so
// -0 and +0 are one position.
class PositionSums
{
public:
    explicit PositionSums(size_t corners)
    {
        size_t capacity = 16;
        while (capacity < 2 * corners)
        {
            capacity *= 2;
        }
        m_slots.assign(capacity, 0);
        m_mask = capacity - 1;
    }

    // The number of p's entry, made if it is new.
    std::uint32_t Entry(const Float3& p)
    {
        // Adding +0 turns -0 into +0, so that equal positions have equal bits.
        const Float3 key{p.x + 0.0f, p.y + 0.0f, p.z + 0.0f};
        std::uint32_t bits[3];
        std::memcpy(bits, &key, sizeof bits);
        std::uint64_t h = bits[0] * 0x9E3779B97F4A7C15ull;
        h = (h ^ bits[1]) * 0xC2B2AE3D27D4EB4Full;
        h = (h ^ bits[2]) * 0x165667B19E3779F9ull;
        for (size_t slot = (h ^ (h >> 29)) & m_mask;; slot = (slot + 1) & m_mask)
        {
            const std::uint32_t entry = m_slots[slot];
            if (entry == 0)
            {
                m_positions.push_back(key);
                m_sums.push_back({0.0f, 0.0f, 0.0f});
                m_slots[slot] = static_cast<std::uint32_t>(m_positions.size());
                return m_slots[slot] - 1;
            }
            const Float3& there = m_positions[entry - 1];
            if (there.x == key.x && there.y == key.y && there.z == key.z)
            {
                return entry - 1;
            }
        }
    }
    Float3& Sum(std::uint32_t entry) { return m_sums[entry]; }
    std::vector<Float3>& Sums() { return m_sums; }

private:
    std::vector<std::uint32_t> m_slots; // entry + 1, 0 for an empty slot
    size_t m_mask = 0;
    std::vector<Float3> m_positions;
    std::vector<Float3> m_sums;
};

// The triangles of a mesh to keep, by their place in mesh.mFaces: those with three
// corners at three points. The importer's own checks do not cover everything a hostile
// file can do, so every corner index and position is checked before it is used.
std::vector<unsigned> KeptTriangles(const std::string& path, unsigned meshIndex, const aiMesh& mesh)
{
    std::vector<unsigned> kept;
    kept.reserve(mesh.mNumFaces);
    for (unsigned f = 0; f < mesh.mNumFaces; ++f)
    {
        const aiFace& face = mesh.mFaces[f];
        if (face.mNumIndices < 3 || !face.mIndices)
        {
            continue; // points and lines: nothing to shade or to cast shadows
        }
        for (unsigned c = 0; c < 3; ++c)
        {
            const unsigned i = face.mIndices[c];
            if (i >= mesh.mNumVertices)
            {
                Fail(path,
                     "mesh " + std::to_string(meshIndex) + " has a corner index out of range");
            }
            if (!IsFinite(mesh.mVertices[i]))
            {
                Fail(path,
                     "mesh " + std::to_string(meshIndex) + " has a position that is not finite");
            }
        }
        const aiVector3D& a = mesh.mVertices[face.mIndices[0]];
        const aiVector3D& b = mesh.mVertices[face.mIndices[1]];
        const aiVector3D& c = mesh.mVertices[face.mIndices[2]];
        if (a == b || b == c || c == a)
        {
            continue; // a line or a point drawn as a triangle: it covers nothing
        }
        kept.push_back(f);
    }
    return kept;
}

// Writes the corners of the kept triangles of mesh to corners (_Vertex records) and their
// positions to positions (Float3 records), three per triangle; neither need be aligned.
void WriteCorners(const aiMesh& mesh, const std::vector<unsigned>& kept, char* corners,
                  char* positions)
{
    // Smooth normals where the mesh has none: per corner, its position's entry.
    std::vector<std::uint32_t> entries;
    std::unique_ptr<PositionSums> sums;
    if (!mesh.mNormals)
    {
        sums = std::make_unique<PositionSums>(std::min<size_t>(mesh.mNumVertices, 3 * kept.size()));
        entries.resize(3 * kept.size());
        for (size_t t = 0; t < kept.size(); ++t)
        {
            const unsigned* face = mesh.mFaces[kept[t]].mIndices;
            const Float3 a = ToFloat3(mesh.mVertices[face[0]]);
            const Float3 b = ToFloat3(mesh.mVertices[face[1]]);
            const Float3 c = ToFloat3(mesh.mVertices[face[2]]);
            const Float3 faceNormal = SafeNormalize(Cross(b - a, c - a));
            for (unsigned k = 0; k < 3; ++k)
            {
                const std::uint32_t entry = sums->Entry(k == 0 ? a : k == 1 ? b : c);
                entries[3 * t + k] = entry;
                Float3& sum = sums->Sum(entry);
                sum = sum + faceNormal;
            }
        }
        for (Float3& sum : sums->Sums())
        {
            sum = SafeNormalize(sum);
        }
    }

    const aiVector3D* uv = mesh.mTextureCoords[0];
    const auto writeRange = [&](size_t begin, size_t end)
    {
        char* corner = corners + 3 * begin * sizeof(_Vertex);
        char* position = positions + 3 * begin * sizeof(Float3);
        for (size_t t = begin; t < end; ++t)
        {
            const unsigned* face = mesh.mFaces[kept[t]].mIndices;
            for (unsigned k = 0; k < 3; ++k)
            {
                const unsigned i = face[k];
                _Vertex v;
                v.position = ToFloat3(mesh.mVertices[i]);
                v.normal =
                    mesh.mNormals ? ToFloat3(mesh.mNormals[i]) : sums->Sum(entries[3 * t + k]);
                v.texCoord = uv ? Float2{uv[i].x, uv[i].y} : Float2{0.0f, 0.0f};
                v.color = {1.0f, 1.0f, 1.0f};
                std::memcpy(corner, &v, sizeof v);
                corner += sizeof v;
                std::memcpy(position, &v.position, sizeof v.position);
                position += sizeof v.position;
            }
        }
    };
    // The writes, and the faults of the result's fresh pages, are most of this loop: a large
    // mesh's second half goes to a thread of its own, on the core the program leaves idle
    // while it waits for the import. Each triangle's corners are the same whichever writes
    // them.
    const size_t half = kept.size() >= kWriteSplitTriangles ? kept.size() / 2 : kept.size();
    std::thread second;
    if (half < kept.size())
    {
        try
        {
            second = std::thread(writeRange, half, kept.size());
        }
        catch (const std::system_error&)
        {
            writeRange(half, kept.size());
        }
    }
    writeRange(0, half);
    if (second.joinable())
    {
        second.join();
    }
}

// The layout of ImportScene: the scene's own vectors.
class VectorLayout : public SceneLayout
{
public:
    explicit VectorLayout(ImportedScene& scene) : m_scene(scene) {}
    Places Place(const std::vector<ImportedMaterial>& materials,
                 const std::vector<std::uint64_t>& corners, std::uint64_t positions) override
    {
        m_scene.materials = materials;
        Places places;
        for (size_t m = 0; m < materials.size(); ++m)
        {
            m_scene.materials[m].triangles.resize(static_cast<size_t>(corners[m]));
            places.corners.push_back(
                reinterpret_cast<char*>(m_scene.materials[m].triangles.data()));
        }
        m_scene.positions.resize(static_cast<size_t>(positions));
        places.positions = reinterpret_cast<char*>(m_scene.positions.data());
        return places;
    }

private:
    ImportedScene& m_scene;
};

// Why the import failed, in words. The post-processing drops every mesh with a
// position that is not finite and then gives up with "No meshes remaining", which
// says nothing about the file; a plain import of the same file finds the real cause.
// The importer's text on one line, runs of spaces made one (its messages leave out
// empty names between two spaces).
std::string OneLine(const std::string& text)
{
    std::string line;
    for (char c : text)
    {
        const char plain = (c == '\n' || c == '\r' || c == '\t') ? ' ' : c;
        if (plain != ' ' || (!line.empty() && line.back() != ' '))
        {
            line += plain;
        }
    }
    while (!line.empty() && line.back() == ' ')
    {
        line.pop_back();
    }
    return line;
}

std::string ExplainFailure(const std::string& path, const std::string& importerReason)
{
    Assimp::Importer plain;
    plain.SetIOHandler(new SceneFileSystem);
    const aiScene* scene = plain.ReadFile(path, 0);
    for (unsigned m = 0; scene && m < scene->mNumMeshes; ++m)
    {
        const aiMesh* mesh = scene->mMeshes[m];
        for (unsigned v = 0; mesh && mesh->mVertices && v < mesh->mNumVertices; ++v)
        {
            if (!IsFinite(mesh->mVertices[v]))
            {
                return "mesh " + std::to_string(m) + " has a position that is not finite";
            }
        }
    }
    // Our file system's refusals name their file already.
    const std::string reason = OneLine(importerReason);
    return reason.rfind("cannot read \"", 0) == 0 ? reason
                                                  : "the importer cannot read it (" + reason + ")";
}

} // namespace

void ImportSceneInto(const std::string& path, SceneLayout& layout)
{
    Assimp::Importer importer;
    // Every file the importer opens, the material library included, goes through a file
    // system that refuses FIFOs, directories and oversized files instead of blocking on
    // them or reading them whole. The scene file itself is checked first, so that its
    // refusal reads like the scene's other failures.
    auto* files = new SceneFileSystem;
    importer.SetIOHandler(files);
    const std::string refused = files->Load(path);
    if (!refused.empty())
    {
        Fail(path, refused);
    }
    const aiScene* scene = importer.ReadFile(path, kSceneImportFlags);
    if (!scene)
    {
        Fail(path, ExplainFailure(path, importer.GetErrorString()));
    }

    std::vector<ImportedMaterial> materials(scene->mNumMaterials);
    for (unsigned m = 0; m < scene->mNumMaterials; ++m)
    {
        const aiMaterial* material = scene->mMaterials[m];
        ImportedMaterial& out = materials[m];
        if (aiGetMaterialTextureCount(material, aiTextureType_DIFFUSE) != 0)
        {
            aiString texturePath;
            aiGetMaterialTexture(material, aiTextureType_DIFFUSE, 0, &texturePath);
            out.hasDiffuseTexture = true;
            out.diffuseTexture = texturePath.C_Str();
        }
    }

    // Every mesh checked and counted before anything is written.
    std::vector<std::vector<unsigned>> kept(scene->mNumMeshes);
    std::vector<std::uint64_t> corners(materials.size(), 0);
    std::uint64_t positions = 0;
    for (unsigned m = 0; m < scene->mNumMeshes; ++m)
    {
        const aiMesh* mesh = scene->mMeshes[m];
        if (!mesh || !mesh->mVertices || mesh->mMaterialIndex >= materials.size())
        {
            Fail(path, "mesh " + std::to_string(m) + " is malformed");
        }
        kept[m] = KeptTriangles(path, m, *mesh);
        corners[mesh->mMaterialIndex] += 3 * kept[m].size();
        positions += 3 * kept[m].size();
    }
    if (positions == 0)
    {
        Fail(path, "it contains no triangles");
    }

    SceneLayout::Places places = layout.Place(materials, corners, positions);
    for (unsigned m = 0; m < scene->mNumMeshes; ++m)
    {
        const aiMesh& mesh = *scene->mMeshes[m];
        WriteCorners(mesh, kept[m], places.corners[mesh.mMaterialIndex], places.positions);
        places.corners[mesh.mMaterialIndex] += 3 * kept[m].size() * sizeof(_Vertex);
        places.positions += 3 * kept[m].size() * sizeof(Float3);
        // Each mesh's list goes as soon as it is written.
        std::vector<unsigned>().swap(kept[m]);
    }
    layout.Written();
}

ImportedScene ImportScene(const std::string& path)
{
    ImportedScene scene;
    VectorLayout layout(scene);
    ImportSceneInto(path, layout);
    return scene;
}
