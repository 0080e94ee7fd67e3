// vs_scenegen: writes the default scene (Scene.obj, Scene.mtl and its textures) into
// a directory, then reads it back the way the program does and prints the counts
// that the program's start-up log will show.
//
//   vs_scenegen <output directory>       normally data/OBJ of the source tree
#include "Courtyard.h"
#include "ObjWriter.h"
#include "Textures.h"

#include "import/SceneImport.h"
#include "scene/Tessellation.h"

#include <FreeImage.h>

#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <system_error>

int main(int argc, char** argv)
{
    if (argc != 2)
    {
        std::fprintf(stderr, "usage: %s <output directory>\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[1];
    std::error_code error;
    std::filesystem::create_directories(dir + "/textures", error);
    if (error)
    {
        std::fprintf(stderr, "scenegen: cannot create %s/textures: %s\n", dir.c_str(),
                     error.message().c_str());
        return 1;
    }

    using namespace scenegen;
    const bool images =
        WriteTileTexture(dir + "/tiles.png") && WriteStoneTexture(dir + "/stone.jpg") &&
        WriteWoodTexture(dir + "/textures/wood.tga") && WriteFabricTexture(dir + "/fabric.png");
    if (!images)
    {
        std::fprintf(stderr, "scenegen: cannot write the textures into %s\n", dir.c_str());
        return 1;
    }

    MeshBuilder mesh(CourtyardMaterials());
    BuildCourtyard(mesh);
    if (!WriteObj(mesh, dir, "Scene.obj", "Scene.mtl"))
    {
        std::fprintf(stderr, "scenegen: cannot write the scene into %s\n", dir.c_str());
        return 1;
    }

    try
    {
        const ImportedScene scene = ImportScene(dir + "/Scene.obj");
        std::uint64_t vertices = 0;
        for (const ImportedMaterial& m : scene.materials)
        {
            vertices += CountTessellatedVertices(m.triangles, TessellationThreshold(), UINT64_MAX);
        }
        std::printf("scenegen: %zu faces written, %zu coarse triangles imported\n",
                    mesh.TriangleCount(), scene.positions.size() / 3);
        std::printf("Num Positions: %zu\nNum Tessellation Vertices: %llu\n", scene.positions.size(),
                    static_cast<unsigned long long>(vertices));
    }
    catch (const std::runtime_error& e)
    {
        std::fprintf(stderr, "scenegen: %s\n", e.what());
        return 1;
    }
    return 0;
}
