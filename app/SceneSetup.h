#pragma once
// The scene the settings ask for, loaded into the model, and the world matrix that
// places it in the demo's frame.
#include "app/Options.h"
#include "scene/Model.h"
#include "scene/VectorTypes.h"

// Without a scene, a floor or a detail of its own, this is Model::Load of the shipped
// OBJ/Scene.obj with the identity world matrix: the demo as it always was. Otherwise
// the scene is imported, measured, given its floor, refined at the chosen detail (the
// threshold in the model's own units) and uploaded; a scene file given by name is
// framed, the shipped one keeps the identity. Throws what Model::Load throws: a
// message naming the file when it cannot be used or refines beyond the budget.
// Needs a current OpenGL context.
Mat4 LoadScene(Model& model, const Settings& settings);

// The refinement threshold in square model units for the given triangles (three
// vertices each) in a box whose squared diagonal is squaredDiagonal: relativeDetail
// times that; or, for relativeDetail 0, the finest of the shipped scene's density in
// the frame (kFramedRelativeDetail) times 2^k, k from -4 up, whose estimated count fits
// kInteractiveVertexCount.
float RefinementThreshold(const std::vector<const std::vector<_Vertex>*>& triangleLists,
                          double squaredDiagonal, double relativeDetail);
