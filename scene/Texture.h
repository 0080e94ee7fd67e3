#pragma once
// Image files as mipmapped, filtered OpenGL textures.
#include <GL/glew.h>

#include <QObject>
#include <QString>

#include <cstdint>

// The most pixels one image may have.
constexpr std::uint64_t kMaxTexturePixels = std::uint64_t{64} << 20;
// The most pixels all of a scene's textures may have together: two images of the
// largest size. Each decoded pixel takes 4 bytes on the host while it is converted and
// about 5.3 in OpenGL with its mipmaps.
constexpr std::uint64_t kSceneTexturePixelBudget = std::uint64_t{128} << 20;

class Texture : public QObject
{
    Q_OBJECT

public:
    // The process-wide loader. It keeps no state; it exists as an object so that all
    // texture loading goes through one place.
    static Texture* Instance();

    // Decodes the image at path (PNG, JPEG or TGA), converts it to 32-bit BGRA and
    // uploads it with a full mipmap chain, repeat wrapping, trilinear filtering and
    // the highest anisotropy the driver offers (none on llvmpipe, whose anisotropic
    // filtering can stall a frame for minutes). Returns the new texture name, owned
    // by the caller, and leaves texture name 0 bound to GL_TEXTURE_2D. Every call
    // makes a new texture, also for a path loaded before.
    //
    // On failure (a missing file, something that is not a regular file, a file larger
    // than kMaxSceneFileBytes, another image type, a decoding error) returns 0,
    // creates nothing, leaves the texture binding alone and logs one warning that
    // names the file and the reason. Needs a current OpenGL context.
    GLuint Load(QString path);

    // The same, within a budget of pixels shared by several loads: an image with more
    // pixels than *pixelBudget is refused with a warning, and a loaded image's pixels
    // are taken from it. pixelBudget may be null: no budget.
    GLuint Load(QString path, std::uint64_t* pixelBudget);

    ~Texture() override;

private:
    Texture() = default;
    static Texture* const instance;
};
