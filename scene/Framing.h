#pragma once
// Placing a scene of any size and unit in the frame the demo's camera, light, depth
// range and shadow-ray offsets were made for.
//
// The shipped scene is built in that frame. Any other scene is measured by the box
// around its triangles, and a world matrix (a uniform scale and a move) brings the box
// to the frame: its centre to the camera's target, its half diagonal to a radius that
// the orbiting camera sees whole. Rays, occluder and raster then all work in the frame,
// so a model in millimetres and the same model in kilometres give the same picture.
#include "scene/VectorTypes.h"
#include "scene/Vertex.h"

#include <vector>

struct Bounds
{
    Float3 min{0, 0, 0};
    Float3 max{0, 0, 0};
};

// The box around points; all zero for none.
Bounds BoundsOf(const std::vector<Float3>& points);

// The box's diagonal squared, in double precision so that no finite box overflows.
double SquaredDiagonal(const Bounds& bounds);

// The centre of the frame: the camera looks at it.
constexpr Float3 kFrameCentre{0.0f, 1.0f, 0.0f};

// The radius, in the frame, that a framed scene's bounding sphere gets: the default
// camera, 17.5 units from the centre with a 45 degree field, sees a sphere of 6.7.
constexpr float kFramedRadius = 6.0f;

// The world matrix that frames bounds: scale, then move the box's centre to
// kFrameCentre. A box without extent is only moved.
Mat4 FrameBounds(const Bounds& bounds);

// A plain floor under bounds: a square at the box's lowest height, centred below the
// box and reaching three quarters of its diagonal out from the centre, as two
// triangles facing up, white, with texture coordinates from 0 to 3 along each side.
std::vector<_Vertex> FloorUnder(const Bounds& bounds);

// The relative detail a framed scene starts from: the shipped scene's triangles of at
// most 0.02 square units, in a framed box whose diagonal is twice kFramedRadius.
constexpr double kFramedRelativeDetail = 0.02 / (4.0 * kFramedRadius * kFramedRadius);

// The most vertices a scene given without --detail is refined into, estimated: about
// what the shipped scene uses, which runs at interactive rates on a CPU device.
constexpr double kInteractiveVertexCount = 600000;

// The refinement threshold in square model units for the given triangles (three
// vertices each) in a box whose squared diagonal is squaredDiagonal: relativeDetail
// times that; or, for relativeDetail 0, the finest of the shipped scene's density in
// the frame (kFramedRelativeDetail) times 2^k, k from -4 up, whose estimated count fits
// kInteractiveVertexCount.
float RefinementThreshold(const std::vector<const std::vector<_Vertex>*>& triangleLists,
                          double squaredDiagonal, double relativeDetail);
