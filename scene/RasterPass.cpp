#include "scene/RasterPass.h"

void DrawModel(const Model& model, GLuint program, const Mat4& viewProj)
{
    glUseProgram(program);
    // Row-major copy uploaded with transpose: the shader receives viewProj itself.
    GLfloat rowMajor[16];
    for (int r = 0; r < 4; ++r)
    {
        for (int c = 0; c < 4; ++c)
        {
            rowMajor[4 * r + c] = viewProj.m[4 * c + r];
        }
    }
    glUniformMatrix4fv(glGetUniformLocation(program, "matViewProj"), 1, GL_TRUE, rowMajor);
    model.Draw(program);
    glUseProgram(0);
}
