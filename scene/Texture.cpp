#include "scene/Texture.h"

#include <FreeImage.h>
#include <GL/glu.h>

#include <QDebug>

namespace
{

// FreeImage decodes many formats, several of them through decoders with open
// security reports on our platform. Scenes may come from anywhere, so only the
// formats that OBJ scenes use in practice are accepted.
bool IsAcceptedFormat(FREE_IMAGE_FORMAT format)
{
    return format == FIF_PNG || format == FIF_JPEG || format == FIF_TARGA;
}

// A few bytes of PNG can claim gigapixels. The header is read first, so that such a
// file is refused before FreeImage allocates for it (decoders that cannot read the
// header alone decode the whole image here, which is no worse than before).
bool IsAcceptableSize(FREE_IMAGE_FORMAT format, const char* file)
{
    FIBITMAP* header = FreeImage_Load(format, file, FIF_LOAD_NOPIXELS);
    if (!header)
    {
        return true; // the decoding proper reports the failure
    }
    const unsigned long long width = FreeImage_GetWidth(header);
    const unsigned long long height = FreeImage_GetHeight(header);
    FreeImage_Unload(header);
    return width <= 16384 && height <= 16384 && width * height <= 64ull * 1024 * 1024;
}

// FreeImage converts 8-bit images of every kind and 16-bit RGB and RGBA to 32 bits,
// but not 16-bit grey (as PNG writers store grey height and detail maps): that goes
// through 16-bit RGBA first, which spreads the grey over the colours and keeps the
// top 8 bits of each.
FIBITMAP* ConvertTo32Bits(FIBITMAP* image)
{
    if (FreeImage_GetImageType(image) != FIT_UINT16)
    {
        return FreeImage_ConvertTo32Bits(image);
    }
    FIBITMAP* rgba16 = FreeImage_ConvertToRGBA16(image);
    if (!rgba16)
    {
        return nullptr;
    }
    FIBITMAP* image32 = FreeImage_ConvertTo32Bits(rgba16);
    FreeImage_Unload(rgba16);
    return image32;
}

void WarnNotLoaded(const QString& path, const char* reason)
{
    qWarning().noquote() << QString("Texture: cannot load %1 (%2); its surfaces are drawn "
                                    "untextured")
                                .arg(path, reason);
}

} // namespace

// Created before main runs and never destroyed, like every other process-wide
// object of the program; QObject allows construction before the application.
Texture* const Texture::instance = new Texture;

Texture* Texture::Instance()
{
    return instance;
}

Texture::~Texture() = default;

GLuint Texture::Load(QString path)
{
    const QByteArray file = path.toUtf8();
    const FREE_IMAGE_FORMAT format = FreeImage_GetFileType(file.constData(), 0);
    if (format == FIF_UNKNOWN)
    {
        WarnNotLoaded(path, "missing, unreadable or not an image");
        return 0;
    }
    if (!IsAcceptedFormat(format))
    {
        WarnNotLoaded(path, "only PNG, JPEG and TGA images are accepted");
        return 0;
    }
    if (!IsAcceptableSize(format, file.constData()))
    {
        WarnNotLoaded(path, "the image is larger than 16384 pixels a side or 64 Mi pixels");
        return 0;
    }
    FIBITMAP* image = FreeImage_Load(format, file.constData(), 0);
    if (!image)
    {
        WarnNotLoaded(path, "the image could not be decoded");
        return 0;
    }
    FIBITMAP* image32 = ConvertTo32Bits(image);
    if (!image32)
    {
        FreeImage_Unload(image);
        WarnNotLoaded(path, "the image could not be converted to 32 bits");
        return 0;
    }
    // FreeImage's native 32-bit layout is blue, green, red, alpha, bottom row first;
    // it goes to OpenGL as it is, so the bottom row is texture row t = 0.
    const BYTE* pixels = FreeImage_GetBits(image32);
    const GLint width = static_cast<GLint>(FreeImage_GetWidth(image32));
    const GLint height = static_cast<GLint>(FreeImage_GetHeight(image32));

    GLuint texture = 0;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
    if (GLEW_EXT_texture_filter_anisotropic || GLEW_ARB_texture_filter_anisotropic)
    {
        GLfloat maxAnisotropy = 1.0f;
        glGetFloatv(GL_MAX_TEXTURE_MAX_ANISOTROPY_EXT, &maxAnisotropy);
        glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_MAX_ANISOTROPY_EXT, maxAnisotropy);
    }
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    // FreeImage pads rows to 4 bytes, which 32-bit rows already are; the default
    // unpack alignment of 4 matches.
    gluBuild2DMipmaps(GL_TEXTURE_2D, GL_COMPRESSED_RGBA, width, height, GL_BGRA, GL_UNSIGNED_BYTE,
                      pixels);
    glBindTexture(GL_TEXTURE_2D, 0);

    FreeImage_Unload(image32);
    FreeImage_Unload(image);
    return texture;
}
