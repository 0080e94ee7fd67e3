// Loading small scenes written by the tests into a model with textures and buffers.
#include "scene/Model.h"
#include "Fixtures.h"

#include <gtest/gtest.h>

#include <QDir>

#include <cstring>

using fixtures::ScratchDir;
using fixtures::WarningLog;
using fixtures::WriteFile;
using fixtures::WriteImage;

namespace
{

class ModelTest : public fixtures::GlTest
{
protected:
    // The scene of most tests: a quad ground of 2 x 2 units in "stone" (refined), a
    // small triangle in "paint" (not refined), both textured with the same image
    // through two different materials, and a material with no meshes.
    void WriteScene()
    {
        ASSERT_TRUE(WriteImage(dir.Path("stone.png"), FIF_PNG, 16, 16));
        WriteFile(dir.Path("scene.mtl"), "newmtl stone\nKd 1 1 1\nmap_Kd stone.png\n\n"
                                         "newmtl paint\nKd 0.5 0.5 0.5\nmap_Kd ./stone.png\n\n"
                                         "newmtl unused\nKd 0 1 0\n");
        WriteFile(dir.Path("scene.obj"), "mtllib scene.mtl\n"
                                         "v -1 0 1\nv 1 0 1\nv 1 0 -1\nv -1 0 -1\n"
                                         "v 3 0 0\nv 3.1 0 0\nv 3 0.1 0\n"
                                         "vt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\n"
                                         "vn 0 1 0\nvn 0 0 1\n"
                                         "usemtl stone\nf 1/1/1 2/2/1 3/3/1 4/4/1\n"
                                         "usemtl paint\nf 5/1/2 6/2/2 7/3/2\n");
    }

    std::vector<_Vertex> BufferContents(GLuint buffer, GLenum target, size_t count)
    {
        std::vector<_Vertex> contents(count);
        glBindBuffer(target, buffer);
        glGetBufferSubData(target, 0, static_cast<GLsizeiptr>(count * sizeof(_Vertex)),
                           contents.data());
        glBindBuffer(target, 0);
        return contents;
    }

    ScratchDir dir;
};

} // namespace

TEST_F(ModelTest, LoadKeepsTheInvariantsOfBothViews)
{
    WriteScene();
    Model model;
    model.Load(dir.Root(), "scene.obj");

    // Three triangles as imported: the quad's two and the small one.
    ASSERT_EQ(model.GetPositions().size(), 9u);
    ASSERT_EQ(model.GetIndices().size(), 9u);
    for (size_t k = 0; k < 9; ++k)
    {
        EXPECT_EQ(model.GetIndices()[k], k);
    }

    // Every group's indices continue where the previous group's stopped, and the
    // model-wide array is the groups' vertices in group order.
    size_t offset = 0;
    for (const MaterialGroup& group : model.GetGroups())
    {
        ASSERT_EQ(group.vertices.size() % 3, 0u);
        ASSERT_EQ(group.indices.size(), group.vertices.size());
        for (size_t k = 0; k < group.indices.size(); ++k)
        {
            ASSERT_EQ(group.indices[k], offset + k);
            ASSERT_EQ(
                std::memcmp(&model.GetVertices()[offset + k], &group.vertices[k], sizeof(_Vertex)),
                0);
        }
        EXPECT_EQ(group.indexBuffer != 0, !group.vertices.empty());
        offset += group.vertices.size();
    }
    EXPECT_EQ(offset, model.GetVertices().size());
    // The quad's triangles of area 2 split four levels deep (2 / 4^4 <= 0.02), the small
    // one not at all: 2 * 3 * 256 + 3.
    EXPECT_EQ(model.GetVertices().size(), 1539u);

    // The vertex buffer holds the same bytes.
    const GLuint buffer = model.GetVertexBuffer();
    ASSERT_NE(buffer, 0u);
    glBindBuffer(GL_ARRAY_BUFFER, buffer);
    GLint64 size = 0;
    glGetBufferParameteri64v(GL_ARRAY_BUFFER, GL_BUFFER_SIZE, &size);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    EXPECT_EQ(static_cast<size_t>(size), model.GetVertices().size() * 44);
    const auto contents = BufferContents(buffer, GL_ARRAY_BUFFER, model.GetVertices().size());
    EXPECT_EQ(std::memcmp(contents.data(), model.GetVertices().data(), size), 0);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(ModelTest, MaterialsNamingOneImageShareOneTexture)
{
    // The two materials name the image by different paths.
    WriteScene();
    Model model;
    model.Load(dir.Root(), "scene.obj");
    std::vector<GLuint> textures;
    for (const MaterialGroup& group : model.GetGroups())
    {
        if (group.texture != 0)
        {
            textures.push_back(group.texture);
        }
    }
    ASSERT_EQ(textures.size(), 2u);
    EXPECT_EQ(textures[0], textures[1]);
    EXPECT_TRUE(glIsTexture(textures[0]));

    model.Release();
    EXPECT_FALSE(glIsTexture(textures[0]));
}

TEST_F(ModelTest, MaterialsWithoutTexturesHaveTextureZero)
{
    WriteFile(dir.Path("plain.mtl"), "newmtl a\nKd 1 0 0\n\nnewmtl b\nKd 0 0 1\n");
    WriteFile(dir.Path("plain.obj"), "mtllib plain.mtl\nv 0 0 0\nv 1 0 0\nv 0 1 0\nv 2 0 0\n"
                                     "usemtl a\nf 1 2 3\nusemtl b\nf 2 4 3\n");
    WarningLog warnings;
    Model model;
    model.Load(dir.Root(), "plain.obj");
    size_t drawn = 0;
    for (const MaterialGroup& group : model.GetGroups())
    {
        EXPECT_EQ(group.texture, 0u);
        drawn += group.vertices.empty() ? 0 : 1;
    }
    EXPECT_EQ(drawn, 2u);
    EXPECT_TRUE(WarningLog::lines.empty());
}

TEST_F(ModelTest, MaterialWithNoTrianglesHasNoIndexBufferAndIsNotDrawn)
{
    // "wire" is used by lines only: its group stays empty but keeps its texture.
    ASSERT_TRUE(WriteImage(dir.Path("a.png"), FIF_PNG, 8, 8));
    ASSERT_TRUE(WriteImage(dir.Path("b.png"), FIF_PNG, 8, 8));
    WriteFile(dir.Path("w.mtl"), "newmtl solid\nKd 1 1 1\nmap_Kd a.png\n\n"
                                 "newmtl wire\nKd 0 0 0\nmap_Kd b.png\n");
    WriteFile(dir.Path("w.obj"), "mtllib w.mtl\nv 0 0 0\nv 1 0 0\nv 0 1 0\n"
                                 "usemtl solid\nf 1 2 3\nusemtl wire\nl 1 2\n");
    Model model;
    model.Load(dir.Root(), "w.obj");

    const MaterialGroup* solid = nullptr;
    const MaterialGroup* wire = nullptr;
    for (const MaterialGroup& group : model.GetGroups())
    {
        (group.vertices.empty() ? wire : solid) = &group;
    }
    ASSERT_NE(solid, nullptr);
    ASSERT_NE(wire, nullptr);
    EXPECT_EQ(wire->indexBuffer, 0u);
    EXPECT_TRUE(wire->indices.empty());
    EXPECT_NE(wire->texture, 0u);

    // Drawing leaves the last drawn group's texture bound, never the empty group's.
    const GLuint program = glCreateProgram();
    model.Draw(program);
    GLint bound = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    EXPECT_EQ(static_cast<GLuint>(bound), solid->texture);
    glDeleteProgram(program);
}

TEST_F(ModelTest, MissingTextureDrawsUntexturedWithOneWarning)
{
    WriteFile(dir.Path("m.mtl"), "newmtl gone\nKd 1 1 1\nmap_Kd textures/gone.png\n");
    WriteFile(dir.Path("m.obj"), "mtllib m.mtl\nv 0 0 0\nv 1 0 0\nv 0 1 0\nusemtl gone\nf 1 2 3\n");
    WarningLog warnings;
    Model model;
    model.Load(dir.Root(), "m.obj");
    bool drawn = false;
    for (const MaterialGroup& group : model.GetGroups())
    {
        if (!group.vertices.empty())
        {
            EXPECT_EQ(group.texture, 0u);
            EXPECT_NE(group.indexBuffer, 0u);
            drawn = true;
        }
    }
    EXPECT_TRUE(drawn);
    ASSERT_EQ(WarningLog::lines.size(), 1u);
    EXPECT_NE(WarningLog::lines[0].find("textures/gone.png"), std::string::npos)
        << WarningLog::lines[0];
}

TEST_F(ModelTest, TexturesInSubfoldersAreFoundRelativeToTheScene)
{
    ASSERT_TRUE(QDir(dir.Root()).mkpath("textures/wood"));
    ASSERT_TRUE(WriteImage(dir.Path("textures/wood/planks.tga"), FIF_TARGA, 24, 40, 32));
    WriteFile(dir.Path("m.mtl"), "newmtl wood\nKd 1 1 1\nmap_Kd textures/wood/planks.tga\n");
    WriteFile(dir.Path("m.obj"), "mtllib m.mtl\nv 0 0 0\nv 1 0 0\nv 0 1 0\nusemtl wood\nf 1 2 3\n");
    Model model;
    model.Load(dir.Root(), "m.obj");
    bool textured = false;
    for (const MaterialGroup& group : model.GetGroups())
    {
        textured = textured || group.texture != 0;
    }
    EXPECT_TRUE(textured);
}

TEST_F(ModelTest, ReleaseDeletesTexturesAndBuffersAndKeepsTheArrays)
{
    WriteScene();
    Model model;
    model.Load(dir.Root(), "scene.obj");
    std::vector<GLuint> textures, buffers{model.GetVertexBuffer()};
    for (const MaterialGroup& group : model.GetGroups())
    {
        if (group.texture)
        {
            textures.push_back(group.texture);
        }
        if (group.indexBuffer)
        {
            buffers.push_back(group.indexBuffer);
        }
    }
    const size_t vertexCount = model.GetVertices().size();
    model.Release();
    EXPECT_TRUE(model.GetGroups().empty());
    for (GLuint texture : textures)
    {
        EXPECT_FALSE(glIsTexture(texture));
    }
    for (GLuint buffer : buffers)
    {
        EXPECT_FALSE(glIsBuffer(buffer));
    }
    EXPECT_EQ(model.GetVertices().size(), vertexCount);
    EXPECT_EQ(model.GetPositions().size(), 9u);
    EXPECT_EQ(model.GetVertexBuffer(), 0u);
    model.Release();
    EXPECT_TRUE(model.GetGroups().empty());
}

TEST_F(ModelTest, FailedImportNamesTheFile)
{
    Model model;
    try
    {
        model.Load(dir.Root(), "absent.obj");
        FAIL() << "no exception";
    }
    catch (const std::runtime_error& e)
    {
        EXPECT_NE(std::string(e.what()).find("absent.obj"), std::string::npos) << e.what();
    }
    EXPECT_EQ(model.GetVertexBuffer(), 0u);
}
