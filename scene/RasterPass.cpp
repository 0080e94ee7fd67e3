#include "scene/RasterPass.h"

void DrawModel(const Model& model, GLuint program, const Mat4& viewProj)
{
    glUseProgram(program);
    // Mat4 is column major, as OpenGL expects: no transpose.
    glUniformMatrix4fv(glGetUniformLocation(program, "matViewProj"), 1, GL_FALSE, viewProj.m);
    model.Draw(program);
    glUseProgram(0);
}
