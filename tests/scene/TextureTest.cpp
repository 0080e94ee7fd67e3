// Image files into OpenGL textures, with real FreeImage decoding and Mesa's OpenGL.
#include "scene/Texture.h"
#include "Fixtures.h"

#include <gtest/gtest.h>

#include <vector>

using fixtures::ScratchDir;
using fixtures::WriteImage;

namespace
{

class TextureTest : public fixtures::GlTest
{
protected:
    GLint Level(GLuint texture, GLint level, GLenum what)
    {
        glBindTexture(GL_TEXTURE_2D, texture);
        GLint value = 0;
        glGetTexLevelParameteriv(GL_TEXTURE_2D, level, what, &value);
        glBindTexture(GL_TEXTURE_2D, 0);
        return value;
    }

    GLint Parameter(GLuint texture, GLenum what)
    {
        glBindTexture(GL_TEXTURE_2D, texture);
        GLint value = 0;
        glGetTexParameteriv(GL_TEXTURE_2D, what, &value);
        glBindTexture(GL_TEXTURE_2D, 0);
        return value;
    }

    GLint Binding()
    {
        GLint bound = -1;
        glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
        return bound;
    }

    ScratchDir dir;
};

} // namespace

TEST_F(TextureTest, NonPowerOfTwoImageGetsACompleteMipmapChain)
{
    ASSERT_TRUE(WriteImage(dir.Path("wide.png"), FIF_PNG, 300, 200));
    const GLuint texture = Texture::Instance()->Load(QString::fromStdString(dir.Path("wide.png")));
    ASSERT_NE(texture, 0u);

    // GLU scales each side to a power of two, then halves down to 1 x 1.
    GLint width = Level(texture, 0, GL_TEXTURE_WIDTH);
    GLint height = Level(texture, 0, GL_TEXTURE_HEIGHT);
    EXPECT_EQ(width & (width - 1), 0) << width;
    EXPECT_EQ(height & (height - 1), 0) << height;
    GLint level = 0;
    while (width > 1 || height > 1)
    {
        ++level;
        width = Level(texture, level, GL_TEXTURE_WIDTH);
        height = Level(texture, level, GL_TEXTURE_HEIGHT);
        ASSERT_GT(width, 0) << "level " << level << " is missing";
        ASSERT_GT(height, 0) << "level " << level << " is missing";
    }
    EXPECT_GE(level, 7);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    glDeleteTextures(1, &texture);
}

TEST_F(TextureTest, SamplingStateIsSet)
{
    ASSERT_TRUE(WriteImage(dir.Path("a.png"), FIF_PNG, 64, 64));
    const GLuint texture = Texture::Instance()->Load(QString::fromStdString(dir.Path("a.png")));
    ASSERT_NE(texture, 0u);
    EXPECT_EQ(Parameter(texture, GL_TEXTURE_WRAP_S), GL_REPEAT);
    EXPECT_EQ(Parameter(texture, GL_TEXTURE_WRAP_T), GL_REPEAT);
    EXPECT_EQ(Parameter(texture, GL_TEXTURE_MIN_FILTER), GL_LINEAR_MIPMAP_LINEAR);
    EXPECT_EQ(Parameter(texture, GL_TEXTURE_MAG_FILTER), GL_LINEAR);
    if (GLEW_EXT_texture_filter_anisotropic)
    {
        GLfloat highest = 0.0f, set = 0.0f;
        glGetFloatv(GL_MAX_TEXTURE_MAX_ANISOTROPY_EXT, &highest);
        glBindTexture(GL_TEXTURE_2D, texture);
        glGetTexParameterfv(GL_TEXTURE_2D, GL_TEXTURE_MAX_ANISOTROPY_EXT, &set);
        glBindTexture(GL_TEXTURE_2D, 0);
        // llvmpipe's anisotropic filtering can take minutes for one pixel: it stays off.
        const std::string renderer = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
        EXPECT_EQ(set, renderer.rfind("llvmpipe", 0) == 0 ? 1.0f : highest) << renderer;
    }
    glDeleteTextures(1, &texture);
}

TEST_F(TextureTest, LoadLeavesTextureZeroBound)
{
    ASSERT_TRUE(WriteImage(dir.Path("a.png"), FIF_PNG, 16, 16));
    GLuint other = 0;
    glGenTextures(1, &other);
    glBindTexture(GL_TEXTURE_2D, other);
    const GLuint texture = Texture::Instance()->Load(QString::fromStdString(dir.Path("a.png")));
    EXPECT_NE(texture, 0u);
    EXPECT_EQ(Binding(), 0);
    glDeleteTextures(1, &texture);
    glDeleteTextures(1, &other);
}

TEST_F(TextureTest, MissingFileGivesZeroAndLeavesTheBindingAlone)
{
    GLuint other = 0;
    glGenTextures(1, &other);
    glBindTexture(GL_TEXTURE_2D, other);
    EXPECT_EQ(Texture::Instance()->Load(QString::fromStdString(dir.Path("none.png"))), 0u);
    EXPECT_EQ(Binding(), static_cast<GLint>(other));
    glBindTexture(GL_TEXTURE_2D, 0);
    glDeleteTextures(1, &other);
}

TEST_F(TextureTest, JpegTgaAndGreyScaleImagesAreAccepted)
{
    ASSERT_TRUE(WriteImage(dir.Path("a.jpg"), FIF_JPEG, 32, 32));
    ASSERT_TRUE(WriteImage(dir.Path("a.tga"), FIF_TARGA, 32, 16, 32));
    ASSERT_TRUE(WriteImage(dir.Path("grey.png"), FIF_PNG, 32, 32, 8));
    for (const char* name : {"a.jpg", "a.tga", "grey.png"})
    {
        const GLuint texture = Texture::Instance()->Load(QString::fromStdString(dir.Path(name)));
        EXPECT_NE(texture, 0u) << name;
        glDeleteTextures(1, &texture);
    }
}

TEST_F(TextureTest, OtherImageTypesAreRefused)
{
    // Decodable by FreeImage, but through decoders that are not trusted with files
    // of unknown origin.
    ASSERT_TRUE(WriteImage(dir.Path("a.bmp"), FIF_BMP, 16, 16));
    ASSERT_TRUE(WriteImage(dir.Path("a.tif"), FIF_TIFF, 16, 16));
    EXPECT_EQ(Texture::Instance()->Load(QString::fromStdString(dir.Path("a.bmp"))), 0u);
    EXPECT_EQ(Texture::Instance()->Load(QString::fromStdString(dir.Path("a.tif"))), 0u);
}

TEST_F(TextureTest, OversizedImageIsRefusedBeforeDecoding)
{
    ASSERT_TRUE(WriteImage(dir.Path("long.png"), FIF_PNG, 16385, 1, 8));
    EXPECT_EQ(Texture::Instance()->Load(QString::fromStdString(dir.Path("long.png"))), 0u);
}

TEST_F(TextureTest, CorruptImageGivesZero)
{
    fixtures::WriteFile(dir.Path("broken.png"), "\x89PNG\r\n\x1a\n not really a png");
    EXPECT_EQ(Texture::Instance()->Load(QString::fromStdString(dir.Path("broken.png"))), 0u);
}

TEST_F(TextureTest, SamePathTwiceGivesTwoNames)
{
    ASSERT_TRUE(WriteImage(dir.Path("a.png"), FIF_PNG, 8, 8));
    const QString path = QString::fromStdString(dir.Path("a.png"));
    const GLuint first = Texture::Instance()->Load(path);
    const GLuint second = Texture::Instance()->Load(path);
    EXPECT_NE(first, 0u);
    EXPECT_NE(second, 0u);
    EXPECT_NE(first, second);
    glDeleteTextures(1, &first);
    glDeleteTextures(1, &second);
}

TEST_F(TextureTest, ImagesPastAPixelBudgetAreRefusedWithAWarning)
{
    ASSERT_TRUE(WriteImage(dir.Path("a.png"), FIF_PNG, 16, 16));
    ASSERT_TRUE(WriteImage(dir.Path("b.png"), FIF_PNG, 8, 8));
    fixtures::WarningLog warnings;
    std::uint64_t budget = 300;
    const GLuint first =
        Texture::Instance()->Load(QString::fromStdString(dir.Path("a.png")), &budget);
    EXPECT_NE(first, 0u);
    EXPECT_EQ(budget, 300u - 256u);
    EXPECT_EQ(Texture::Instance()->Load(QString::fromStdString(dir.Path("b.png")), &budget), 0u);
    EXPECT_EQ(budget, 44u);
    ASSERT_EQ(warnings.lines.size(), 1u);
    EXPECT_NE(warnings.lines[0].find("b.png"), std::string::npos) << warnings.lines[0];
    EXPECT_NE(warnings.lines[0].find("budget"), std::string::npos) << warnings.lines[0];
    glDeleteTextures(1, &first);
}

TEST_F(TextureTest, SixteenBitGreyAndColourImagesKeepTheirTopEightBits)
{
    // PNG writers store grey maps and photographs at 16 bits a channel; FreeImage
    // decodes them as types of their own.
    struct Case
    {
        const char* name;
        FREE_IMAGE_TYPE type;
        int channels;
    };
    for (const Case& c : {Case{"grey16.png", FIT_UINT16, 1}, Case{"rgba16.png", FIT_RGBA16, 4}})
    {
        FIBITMAP* image = FreeImage_AllocateT(c.type, 4, 4);
        ASSERT_NE(image, nullptr);
        for (unsigned y = 0; y < 4; ++y)
        {
            auto* row = reinterpret_cast<WORD*>(FreeImage_GetScanLine(image, y));
            for (int i = 0; i < 4 * c.channels; ++i)
            {
                row[i] = 0xC0FF; // red, green, blue and alpha alike
            }
        }
        ASSERT_TRUE(FreeImage_Save(FIF_PNG, image, dir.Path(c.name).c_str(), 0));
        FreeImage_Unload(image);

        const GLuint texture = Texture::Instance()->Load(QString::fromStdString(dir.Path(c.name)));
        ASSERT_NE(texture, 0u) << c.name;
        std::vector<GLubyte> texels(4 * 4 * 4);
        glBindTexture(GL_TEXTURE_2D, texture);
        glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, texels.data());
        glBindTexture(GL_TEXTURE_2D, 0);
        glDeleteTextures(1, &texture);
        // The driver's compression keeps 5 or 6 bits of a channel; the low byte (0xFF),
        // or a conversion that stretches or clamps, would give 255.
        EXPECT_NEAR(texels[0], 0xC0, 8) << c.name;
        EXPECT_NEAR(texels[1], 0xC0, 8) << c.name;
        EXPECT_NEAR(texels[2], 0xC0, 8) << c.name;
    }
}
