#pragma once
// Image files as mipmapped, filtered OpenGL textures.
#include <GL/glew.h>

#include <QObject>
#include <QString>

class Texture : public QObject
{
    Q_OBJECT

public:
    // The process-wide loader. It keeps no state; it exists as an object so that all
    // texture loading goes through one place.
    static Texture* Instance();

    // Decodes the image at path (PNG, JPEG or TGA), converts it to 32-bit BGRA and
    // uploads it with a full mipmap chain, repeat wrapping, trilinear filtering and
    // the highest anisotropy the driver offers. Returns the new texture name, owned
    // by the caller, and leaves texture name 0 bound to GL_TEXTURE_2D. Every call
    // makes a new texture, also for a path loaded before.
    //
    // On failure (missing file, another image type, a decoding error) returns 0,
    // creates nothing, leaves the texture binding alone and logs one warning that
    // names the file and the reason. Needs a current OpenGL context.
    GLuint Load(QString path);

    ~Texture() override;

private:
    Texture() = default;
    static Texture* const instance;
};
