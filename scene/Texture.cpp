#include "scene/Texture.h"

#include "import/SceneFiles.h"

#include <FreeImage.h>
#include <GL/glu.h>

#include <QDebug>

#include <algorithm>
#include <cstring>
#include <vector>

namespace
{

// FreeImage decodes many formats, several of them through decoders with open
// security reports on our platform. Scenes may come from anywhere, so only the
// formats that OBJ scenes use in practice are accepted.
bool IsAcceptedFormat(FREE_IMAGE_FORMAT format)
{
    return format == FIF_PNG || format == FIF_JPEG || format == FIF_TARGA;
}

// The pixels of the image in memory, read from its header alone: a few bytes of PNG
// can claim gigapixels, and such a file is refused before FreeImage allocates for it
// (decoders that cannot read the header alone decode the whole image here). 0 when
// the header cannot be read; the decoding proper then reports the failure.
std::uint64_t HeaderPixels(FREE_IMAGE_FORMAT format, FIMEMORY* memory, unsigned* width,
                           unsigned* height)
{
    FIBITMAP* header = FreeImage_LoadFromMemory(format, memory, FIF_LOAD_NOPIXELS);
    FreeImage_SeekMemory(memory, 0, SEEK_SET);
    if (!header)
    {
        return 0;
    }
    *width = FreeImage_GetWidth(header);
    *height = FreeImage_GetHeight(header);
    FreeImage_Unload(header);
    return std::uint64_t{*width} * *height;
}

// Frees FreeImage's view of a file's bytes however Load is left.
class MemoryView
{
public:
    explicit MemoryView(std::vector<char>& bytes)
        : m_memory(FreeImage_OpenMemory(reinterpret_cast<BYTE*>(bytes.data()),
                                        static_cast<DWORD>(bytes.size())))
    {
    }
    MemoryView(const MemoryView&) = delete;
    MemoryView& operator=(const MemoryView&) = delete;
    ~MemoryView() { FreeImage_CloseMemory(m_memory); }
    FIMEMORY* Get() const { return m_memory; }

private:
    FIMEMORY* m_memory;
};

// Whether anisotropic filtering costs a bounded time per pixel. Mesa's llvmpipe (22.3)
// filters by walking the whole bounding box of a pixel's footprint at the chosen mipmap
// level: a pixel whose texture coordinates change by many texture widths, as on a
// triangle seen nearly edge-on, takes seconds to minutes, and the frame with it. There
// it stays off.
bool AnisotropyIsBounded()
{
    const auto* renderer = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
    return !renderer || std::strncmp(renderer, "llvmpipe", 8) != 0;
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

void WarnNotLoaded(const QString& path, const QString& reason)
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
    return Load(path, nullptr);
}

GLuint Texture::Load(QString path, std::uint64_t* pixelBudget)
{
    // The image library reads from memory only: the file is checked and read here, so
    // that a FIFO, a directory or a huge file in its place is refused instead of
    // blocking or exhausting memory.
    std::vector<char> bytes;
    const std::string refused = ReadSceneFile(path.toStdString(), bytes);
    if (!refused.empty())
    {
        WarnNotLoaded(path, QString::fromStdString(refused));
        return 0;
    }
    const MemoryView memory(bytes);
    const FREE_IMAGE_FORMAT format = FreeImage_GetFileTypeFromMemory(memory.Get(), 0);
    if (format == FIF_UNKNOWN)
    {
        WarnNotLoaded(path, "not an image");
        return 0;
    }
    if (!IsAcceptedFormat(format))
    {
        WarnNotLoaded(path, "only PNG, JPEG and TGA images are accepted");
        return 0;
    }
    unsigned headerWidth = 0, headerHeight = 0;
    const std::uint64_t headerPixels =
        HeaderPixels(format, memory.Get(), &headerWidth, &headerHeight);
    if (headerWidth > 16384 || headerHeight > 16384 || headerPixels > kMaxTexturePixels)
    {
        WarnNotLoaded(path, "the image is larger than 16384 pixels a side or 64 Mi pixels");
        return 0;
    }
    if (pixelBudget && headerPixels > *pixelBudget)
    {
        WarnNotLoaded(path, QString("its %1 pixels would pass what is left of the scene's texture "
                                    "budget, %2 pixels")
                                .arg(headerPixels)
                                .arg(*pixelBudget));
        return 0;
    }
    FIBITMAP* image = FreeImage_LoadFromMemory(format, memory.Get(), 0);
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
    if ((GLEW_EXT_texture_filter_anisotropic || GLEW_ARB_texture_filter_anisotropic) &&
        AnisotropyIsBounded())
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
    if (pixelBudget)
    {
        const std::uint64_t used =
            std::uint64_t{static_cast<unsigned>(width)} * static_cast<unsigned>(height);
        *pixelBudget -= std::min(used, *pixelBudget);
    }
    return texture;
}
