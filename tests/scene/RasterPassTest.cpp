// Drawing a loaded model with the shipped shaders and reading the pixels back.
#include "scene/RasterPass.h"
#include "Fixtures.h"
#include "scene/Model.h"
#include "scene/ShaderProgram.h"

#include <gtest/gtest.h>

#include <cstdlib>

using fixtures::ScratchDir;
using fixtures::WriteFile;
using fixtures::WriteImage;

namespace
{

const Mat4 kIdentity = {{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}};

struct Rgb
{
    int r, g, b;
};

class RasterPassTest : public fixtures::GlTest
{
protected:
    void SetUpWithContext() override
    {
        // The left half of clip space in a textured material (an orange image), the
        // right half in a material without a texture.
        ASSERT_TRUE(WriteImage(dir.Path("orange.png"), FIF_PNG, 8, 8, 24, 200, 100, 50));
        WriteFile(dir.Path("r.mtl"), "newmtl orange\nKd 1 1 1\nmap_Kd orange.png\n\n"
                                     "newmtl plain\nKd 0.5 0.5 0.5\n");
        WriteFile(dir.Path("r.obj"), "mtllib r.mtl\n"
                                     "v -1 -1 0\nv 0 -1 0\nv 0 1 0\nv -1 1 0\n"
                                     "v 0 -1 0\nv 1 -1 0\nv 1 1 0\nv 0 1 0\n"
                                     "vt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\nvn 0 0 1\n"
                                     "usemtl orange\nf 1/1/1 2/2/1 3/3/1 4/4/1\n"
                                     "usemtl plain\nf 5/1/1 6/2/1 7/3/1 8/4/1\n");
        model.Load(dir.Root(), "r.obj");
        program = LoadShaderProgram("VertexShader.txt", "FragmentShader.txt");
        glClearColor(0, 0, 0, 1);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    }

    void TearDownWithContext() override
    {
        model.Release();
        glDeleteProgram(program);
    }

    Rgb Pixel(int x, int y)
    {
        unsigned char p[4] = {0, 0, 0, 0};
        glReadPixels(x, y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, p);
        return {p[0], p[1], p[2]};
    }

    static bool Near(Rgb a, Rgb b)
    {
        return std::abs(a.r - b.r) <= 8 && std::abs(a.g - b.g) <= 8 && std::abs(a.b - b.b) <= 8;
    }

    ScratchDir dir;
    Model model;
    GLuint program = 0;
};

} // namespace

TEST_F(RasterPassTest, TexturedAndUntexturedGroupsDrawInTheirColours)
{
    DrawModel(model, program, kIdentity);
    const Rgb left = Pixel(16, 32);
    const Rgb right = Pixel(48, 32);
    EXPECT_TRUE(Near(left, {200, 100, 50})) << left.r << " " << left.g << " " << left.b;
    EXPECT_TRUE(Near(right, {255, 255, 255})) << right.r << " " << right.g << " " << right.b;
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(RasterPassTest, TheMatrixReachesTheShaderAsGiven)
{
    // Moves everything half a clip-space unit to the right (column-major storage):
    // the orange half now covers the middle of the view.
    Mat4 shift = kIdentity;
    shift.m[12] = 0.5f;
    DrawModel(model, program, shift);
    EXPECT_TRUE(Near(Pixel(30, 32), {200, 100, 50}));
    EXPECT_TRUE(Near(Pixel(4, 32), {0, 0, 0}));

    GLfloat uploaded[16];
    glGetUniformfv(program, glGetUniformLocation(program, "matViewProj"), uploaded);
    for (int i = 0; i < 16; ++i)
    {
        EXPECT_EQ(uploaded[i], shift.m[i]) << i;
    }
}

TEST_F(RasterPassTest, StateIsRestoredAfterDrawing)
{
    DrawModel(model, program, kIdentity);
    GLint value = -1;
    glGetIntegerv(GL_CURRENT_PROGRAM, &value);
    EXPECT_EQ(value, 0);
    glGetIntegerv(GL_ARRAY_BUFFER_BINDING, &value);
    EXPECT_EQ(value, 0);
    glGetIntegerv(GL_ELEMENT_ARRAY_BUFFER_BINDING, &value);
    EXPECT_EQ(value, 0);
    glGetIntegerv(GL_ACTIVE_TEXTURE, &value);
    EXPECT_EQ(value, GL_TEXTURE0);
    for (GLuint attribute = 0; attribute < 4; ++attribute)
    {
        glGetVertexAttribiv(attribute, GL_VERTEX_ATTRIB_ARRAY_ENABLED, &value);
        EXPECT_EQ(value, GL_FALSE) << attribute;
    }
}

TEST_F(RasterPassTest, EmptyModelDrawsNothing)
{
    Model empty;
    DrawModel(empty, program, kIdentity);
    EXPECT_TRUE(Near(Pixel(32, 32), {0, 0, 0}));
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}
