#pragma once
// Reading a scene file into per-material triangle lists, without OpenGL.
#include "scene/VectorTypes.h"
#include "scene/Vertex.h"

#include <cstdint>
#include <string>
#include <vector>

struct ImportedMaterial
{
    bool hasDiffuseTexture = false;
    // The material's first diffuse texture path exactly as the file stores it
    // (relative to the scene's directory, subfolders and separators included).
    std::string diffuseTexture;
    // Its triangles, three vertices each, in mesh, face and corner order, every
    // vertex white. Empty for a material that no mesh uses.
    std::vector<_Vertex> triangles;
};

struct ImportedScene
{
    // One entry per material of the scene, in the scene's order.
    std::vector<ImportedMaterial> materials;
    // One point per corner of every imported triangle, in mesh, face and corner
    // order: the coarse geometry that occludes the light.
    std::vector<Float3> positions;
};

// Imports the scene file at path (UTF-8). Polygons are split into triangles; faces
// with fewer than three corners (points and lines) and triangles with two corners at
// one point are skipped. A mesh without normals gets smooth ones: each corner the sum
// of the unit normals of the mesh's triangles with a corner at exactly its position,
// made unit length. Throws std::runtime_error naming the file when the
// importer gives up (missing, unreadable or malformed file, with the importer's
// reason), when what it returns is inconsistent (a corner index out of range, a
// position that is not finite, a material index out of range), or when the scene
// holds no triangle.
ImportedScene ImportScene(const std::string& path);

// Where ImportSceneInto writes a scene: once the scene is read and checked, it is told
// the materials (their triangles empty), each material's number of corners and the
// number of positions, and answers where each material's corners and the positions go,
// each place with room for that many. The places need not be aligned: the records are
// copied there byte by byte.
class SceneLayout
{
public:
    struct Places
    {
        std::vector<char*> corners; // _Vertex records, one place per material
        char* positions = nullptr;  // Float3 records
    };
    virtual ~SceneLayout() = default;
    virtual Places Place(const std::vector<ImportedMaterial>& materials,
                         const std::vector<std::uint64_t>& corners, std::uint64_t positions) = 0;
    // Called when every corner is written, before the importer frees the scene it read.
    virtual void Written() {}
};

// ImportScene, writing the scene where layout says. Throws as ImportScene does, always
// before it asks layout for places.
void ImportSceneInto(const std::string& path, SceneLayout& layout);
