#pragma once
// The one owner of an OpenGL object name: deletes it when it goes, with its OpenGL
// context current. Moves, never copies.
#include <GL/glew.h>

#include <utility>

template <void (*Delete)(GLuint)> class GlObject
{
public:
    GlObject() = default;
    explicit GlObject(GLuint name) : m_name(name) {}
    GlObject(GlObject&& other) noexcept : m_name(other.m_name) { other.m_name = 0; }
    GlObject& operator=(GlObject&& other) noexcept
    {
        std::swap(m_name, other.m_name);
        return *this;
    }
    GlObject(const GlObject&) = delete;
    GlObject& operator=(const GlObject&) = delete;
    ~GlObject()
    {
        if (m_name != 0)
        {
            Delete(m_name);
        }
    }

    GLuint Get() const { return m_name; }

private:
    GLuint m_name = 0;
};

// OpenGL's deleters are entry points loaded at run time: these give them fixed addresses.
inline void DeleteGlProgram(GLuint name)
{
    glDeleteProgram(name);
}
inline void DeleteGlTexture(GLuint name)
{
    glDeleteTextures(1, &name);
}
inline void DeleteGlFramebuffer(GLuint name)
{
    glDeleteFramebuffers(1, &name);
}
inline void DeleteGlRenderbuffer(GLuint name)
{
    glDeleteRenderbuffers(1, &name);
}
inline void DeleteGlBuffer(GLuint name)
{
    glDeleteBuffers(1, &name);
}

using GlProgram = GlObject<DeleteGlProgram>;
using GlTexture = GlObject<DeleteGlTexture>;
using GlFramebuffer = GlObject<DeleteGlFramebuffer>;
using GlRenderbuffer = GlObject<DeleteGlRenderbuffer>;
using GlBuffer = GlObject<DeleteGlBuffer>;
