#include "import/SceneImport.h"

#include "import/SceneFiles.h"
#include "scene/VectorMath.h"

#include <assimp/Importer.hpp>
#include <assimp/material.h>
#include <assimp/postprocess.h>
#include <assimp/scene.h>

#include <cmath>
#include <stdexcept>

static_assert(kSceneImportFlags == aiProcessPreset_TargetRealtime_MaxQuality,
              "the import flags are assimp's MaxQuality preset");

namespace
{

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

// The import asks for smooth normals, so triangle meshes always carry them; this
// is only the fallback for a mesh that somehow has none.
Float3 FaceNormal(const Float3& a, const Float3& b, const Float3& c)
{
    const Float3 n = Cross(b - a, c - a);
    return Length(n) > 0.0f ? Normalize(n) : n;
}

// The importer's own checks do not cover everything a hostile file can do, so
// every corner index and position is checked before it is used.
void ReadMesh(const std::string& path, unsigned meshIndex, const aiMesh& mesh,
              ImportedMaterial& material, std::vector<Float3>& positions)
{
    for (unsigned f = 0; f < mesh.mNumFaces; ++f)
    {
        const aiFace& face = mesh.mFaces[f];
        if (face.mNumIndices < 3 || !face.mIndices)
        {
            continue; // points and lines: nothing to shade or to cast shadows
        }
        const unsigned corners[3] = {face.mIndices[0], face.mIndices[1], face.mIndices[2]};
        for (unsigned i : corners)
        {
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
        const Float3 faceNormal = mesh.mNormals ? Float3{0, 0, 0}
                                                : FaceNormal(ToFloat3(mesh.mVertices[corners[0]]),
                                                             ToFloat3(mesh.mVertices[corners[1]]),
                                                             ToFloat3(mesh.mVertices[corners[2]]));
        for (unsigned i : corners)
        {
            _Vertex v;
            v.position = ToFloat3(mesh.mVertices[i]);
            v.normal = mesh.mNormals ? ToFloat3(mesh.mNormals[i]) : faceNormal;
            v.texCoord = mesh.mTextureCoords[0]
                             ? Float2{mesh.mTextureCoords[0][i].x, mesh.mTextureCoords[0][i].y}
                             : Float2{0.0f, 0.0f};
            v.color = {1.0f, 1.0f, 1.0f};
            material.triangles.push_back(v);
            positions.push_back(v.position);
        }
    }
}

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

ImportedScene ImportScene(const std::string& path)
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

    ImportedScene result;
    result.materials.resize(scene->mNumMaterials);
    for (unsigned m = 0; m < scene->mNumMaterials; ++m)
    {
        const aiMaterial* material = scene->mMaterials[m];
        ImportedMaterial& out = result.materials[m];
        if (aiGetMaterialTextureCount(material, aiTextureType_DIFFUSE) != 0)
        {
            aiString texturePath;
            aiGetMaterialTexture(material, aiTextureType_DIFFUSE, 0, &texturePath);
            out.hasDiffuseTexture = true;
            out.diffuseTexture = texturePath.C_Str();
        }
    }

    for (unsigned m = 0; m < scene->mNumMeshes; ++m)
    {
        const aiMesh* mesh = scene->mMeshes[m];
        if (!mesh || !mesh->mVertices || mesh->mMaterialIndex >= result.materials.size())
        {
            Fail(path, "mesh " + std::to_string(m) + " is malformed");
        }
        ReadMesh(path, m, *mesh, result.materials[mesh->mMaterialIndex], result.positions);
    }
    if (result.positions.empty())
    {
        Fail(path, "it contains no triangles");
    }
    return result;
}
