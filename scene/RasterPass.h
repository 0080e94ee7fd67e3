#pragma once
// The raster half of a frame: the loaded model drawn with the scene's program.
#include "scene/Model.h"
#include "scene/VectorTypes.h"

#include <GL/glew.h>

// Makes program current, uploads viewProj (the projection times the view, column
// major) as "matViewProj", draws the model and leaves program 0 current.
void DrawModel(const Model& model, GLuint program, const Mat4& viewProj);
