// Reading scene files written by the tests, and the checks around the import that
// stop with a message naming the file. No OpenGL is involved.
#include "import/SceneImport.h"
#include "Fixtures.h"
#include "scene/Model.h"
#include "scene/Tessellation.h"

#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>
#include <string>
#include <vector>

using fixtures::ScratchDir;
using fixtures::WriteFile;

namespace
{

// Two materials without textures: a small quad in the first, a triangle in the second,
// all below the refinement threshold.
const char* kTwoMaterialsMtl = "newmtl red\nKd 1 0 0\n\nnewmtl blue\nKd 0 0 1\n";
const char* kTwoMaterialsObj = "mtllib scene.mtl\n"
                               "v 0 0 0\nv 0.1 0 0\nv 0.1 0 -0.1\nv 0 0 -0.1\n"
                               "v 3 0 0\nv 3.1 0 0\nv 3 0.1 0\n"
                               "vn 0 1 0\nvn 0 0 1\n"
                               "usemtl red\nf 1//1 2//1 3//1 4//1\n"
                               "usemtl blue\nf 5//2 6//2 7//2\n";

std::string ErrorOf(const std::string& path)
{
    try
    {
        ImportScene(path);
    }
    catch (const std::runtime_error& e)
    {
        return e.what();
    }
    return "";
}

} // namespace

TEST(SceneImport, QuadsAreTriangulatedAndPositionsFollowTheFaces)
{
    ScratchDir dir;
    WriteFile(dir.Path("scene.mtl"), kTwoMaterialsMtl);
    WriteFile(dir.Path("scene.obj"), kTwoMaterialsObj);
    const ImportedScene scene = ImportScene(dir.Path("scene.obj"));

    // One quad (two triangles) and one triangle.
    EXPECT_EQ(scene.positions.size(), 9u);
    size_t corners = 0;
    for (const ImportedMaterial& m : scene.materials)
    {
        EXPECT_FALSE(m.hasDiffuseTexture);
        EXPECT_EQ(m.triangles.size() % 3, 0u);
        corners += m.triangles.size();
        for (const _Vertex& v : m.triangles)
        {
            EXPECT_EQ(v.color.x, 1.0f);
            EXPECT_EQ(v.color.y, 1.0f);
            EXPECT_EQ(v.color.z, 1.0f);
        }
    }
    EXPECT_EQ(corners, 9u);
}

TEST(SceneImport, NormalsAndTextureCoordinatesAreCarried)
{
    ScratchDir dir;
    WriteFile(dir.Path("t.obj"), "v 0 0 0\nv 1 0 0\nv 0 1 0\nvt 0.25 0.5\nvt 1 0\nvt 0 1\n"
                                 "vn 0 0 1\nf 1/1/1 2/2/1 3/3/1\n");
    const ImportedScene scene = ImportScene(dir.Path("t.obj"));
    ASSERT_EQ(scene.positions.size(), 3u);
    const ImportedMaterial* used = nullptr;
    for (const ImportedMaterial& m : scene.materials)
    {
        if (!m.triangles.empty())
        {
            used = &m;
        }
    }
    ASSERT_NE(used, nullptr);
    const _Vertex& first = used->triangles[0];
    EXPECT_EQ(first.normal.z, 1.0f);
    EXPECT_EQ(first.texCoord.x, 0.25f);
    EXPECT_EQ(first.texCoord.y, 0.5f);
}

TEST(SceneImport, MeshWithoutNormalsGetsSmoothOnesAndLosesItsDegenerateTriangles)
{
    // A roof: two triangles folded along the edge from (0,0,0) to (1,0,0), one facing +y,
    // one facing +z; then a triangle with two corners at one point. The shared corners
    // are written twice, once per face, as a scan's welded seam is.
    ScratchDir dir;
    WriteFile(dir.Path("roof.obj"), "v 0 0 0\nv 1 0 0\nv 0 0 -1\n"
                                    "v 0 -0 0\nv 0 1 0\nv 1 0 0\n"
                                    "v 2 0 0\nv 3 0 0\nv 2 0 0\n"
                                    "f 1 2 3\nf 4 6 5\nf 7 8 9\n");
    const ImportedScene scene = ImportScene(dir.Path("roof.obj"));
    ASSERT_EQ(scene.positions.size(), 6u);
    std::vector<_Vertex> corners;
    for (const ImportedMaterial& m : scene.materials)
    {
        corners.insert(corners.end(), m.triangles.begin(), m.triangles.end());
    }
    ASSERT_EQ(corners.size(), 6u);
    const float diagonal = 1.0f / std::sqrt(2.0f);
    for (const _Vertex& v : corners)
    {
        const bool onTheFold = v.position.y == 0.0f && v.position.z == 0.0f;
        const bool upper = v.position.z == 0.0f;
        const Float3 expected = onTheFold ? Float3{0.0f, diagonal, diagonal}
                                : upper   ? Float3{0.0f, 0.0f, 1.0f}
                                          : Float3{0.0f, 1.0f, 0.0f};
        EXPECT_NEAR(v.normal.x, expected.x, 1e-6f);
        EXPECT_NEAR(v.normal.y, expected.y, 1e-6f);
        EXPECT_NEAR(v.normal.z, expected.z, 1e-6f);
    }
}

TEST(SceneImport, LargeMeshKeepsEveryCornerInFaceOrder)
{
    // A flat strip of 70,000 triangles, large enough to be written in two halves, after a
    // degenerate triangle that is dropped: each corner must come from its own kept face.
    constexpr int kQuads = 35000;
    std::string obj;
    for (int i = 0; i <= kQuads; ++i)
    {
        obj += "v " + std::to_string(i) + " 0 0\nv " + std::to_string(i) + " 1 0\n";
    }
    obj += "f 1 1 2\n";
    std::vector<Float3> expected;
    for (int i = 0; i < kQuads; ++i)
    {
        const int bottom = 2 * i + 1, top = 2 * i + 2;
        obj += "f " + std::to_string(bottom) + " " + std::to_string(bottom + 2) + " " +
               std::to_string(top) + "\nf " + std::to_string(top) + " " +
               std::to_string(bottom + 2) + " " + std::to_string(top + 2) + "\n";
        const float x = static_cast<float>(i);
        expected.insert(
            expected.end(),
            {{x, 0, 0}, {x + 1, 0, 0}, {x, 1, 0}, {x, 1, 0}, {x + 1, 0, 0}, {x + 1, 1, 0}});
    }
    ScratchDir dir;
    WriteFile(dir.Path("strip.obj"), obj);
    const ImportedScene scene = ImportScene(dir.Path("strip.obj"));

    std::vector<_Vertex> corners;
    for (const ImportedMaterial& m : scene.materials)
    {
        corners.insert(corners.end(), m.triangles.begin(), m.triangles.end());
    }
    ASSERT_EQ(corners.size(), expected.size());
    ASSERT_EQ(scene.positions.size(), expected.size());
    size_t wrong = 0;
    for (size_t c = 0; c < expected.size(); ++c)
    {
        const _Vertex& v = corners[c];
        const bool same = v.position.x == expected[c].x && v.position.y == expected[c].y &&
                          v.position.z == expected[c].z && scene.positions[c].x == expected[c].x &&
                          scene.positions[c].y == expected[c].y &&
                          scene.positions[c].z == expected[c].z && v.normal.x == 0.0f &&
                          v.normal.y == 0.0f && std::abs(v.normal.z - 1.0f) < 1e-6f;
        wrong += same ? 0 : 1;
    }
    EXPECT_EQ(wrong, 0u);
}

TEST(SceneImport, MissingFileIsNamedWithTheImportersReason)
{
    const std::string message = ErrorOf("no/such/scene.obj");
    EXPECT_NE(message.find("no/such/scene.obj"), std::string::npos) << message;
    EXPECT_GT(message.size(), std::string("Cannot load the scene \"no/such/scene.obj\": ").size())
        << message;
}

TEST(SceneImport, MalformedFileIsNamed)
{
    ScratchDir dir;
    WriteFile(dir.Path("bad.obj"), "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 99\n");
    const std::string message = ErrorOf(dir.Path("bad.obj"));
    EXPECT_NE(message.find("bad.obj"), std::string::npos) << message;
}

TEST(SceneImport, SceneWithoutTrianglesIsRefused)
{
    ScratchDir dir;
    WriteFile(dir.Path("lines.obj"), "v 0 0 0\nv 1 0 0\nv 0 1 0\nl 1 2\nl 2 3\n");
    const std::string message = ErrorOf(dir.Path("lines.obj"));
    EXPECT_NE(message.find("lines.obj"), std::string::npos) << message;
    EXPECT_NE(message.find("no triangles"), std::string::npos) << message;
}

TEST(SceneImport, PositionsThatAreNotFiniteAreNamedAsTheCause)
{
    // The importer's own post-processing drops such meshes and says only that none
    // remain.
    ScratchDir dir;
    WriteFile(dir.Path("nan.obj"), "v 0 0 0\nv 1 0 0\nv nan 1 0\nf 1 2 3\n");
    const std::string message = ErrorOf(dir.Path("nan.obj"));
    EXPECT_NE(message.find("nan.obj"), std::string::npos) << message;
    EXPECT_NE(message.find("not finite"), std::string::npos) << message;
}

TEST(SceneImport, UnreadableFileIsNamed)
{
    ScratchDir dir;
    WriteFile(dir.Path("binary.obj"), std::string("\x00\x01\x02\xff\xfe garbage", 14));
    const std::string message = ErrorOf(dir.Path("binary.obj"));
    EXPECT_NE(message.find("binary.obj"), std::string::npos) << message;
}

TEST(SceneImport, DiffuseTexturePathIsKeptAsStored)
{
    ScratchDir dir;
    WriteFile(dir.Path("s.mtl"), "newmtl m\nmap_Kd textures/sub/wood.png\n");
    WriteFile(dir.Path("s.obj"), "mtllib s.mtl\nv 0 0 0\nv 1 0 0\nv 0 1 0\nusemtl m\nf 1 2 3\n");
    const ImportedScene scene = ImportScene(dir.Path("s.obj"));
    bool found = false;
    for (const ImportedMaterial& m : scene.materials)
    {
        if (m.hasDiffuseTexture)
        {
            EXPECT_EQ(m.diffuseTexture, "textures/sub/wood.png");
            found = true;
        }
    }
    EXPECT_TRUE(found);
}

TEST(ModelImport, TessellationBeyondTheBudgetStopsWithAMessage)
{
    // A ground of one square kilometre in two triangles.
    ScratchDir dir;
    WriteFile(dir.Path("huge.obj"), "v -500 0 -500\nv 500 0 -500\nv 500 0 500\nv -500 0 500\n"
                                    "vn 0 1 0\nf 1//1 4//1 3//1 2//1\n");
    // Refused before any OpenGL object is made: no context is needed to see it.
    Model model;
    try
    {
        model.Load(dir.Root(), "huge.obj");
        FAIL() << "no exception";
    }
    catch (const std::runtime_error& e)
    {
        const std::string message = e.what();
        EXPECT_NE(message.find("huge.obj"), std::string::npos) << message;
        EXPECT_NE(message.find(std::to_string(TessellationVertexBudget())), std::string::npos)
            << message;
        // Each triangle of 500,000 square units splits 13 levels deep: 2 * 3 * 4^13.
        EXPECT_NE(message.find("402653184"), std::string::npos) << message;
    }
}
