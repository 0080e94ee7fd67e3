#pragma once
// Midpoint subdivision of unindexed triangle lists.
//
// The shadow pass computes one value per vertex, so the vertex density sets the
// resolution of the shadows: every triangle is split into four at its edge
// midpoints until none has an area above the threshold. Everything here runs in
// single precision, in a fixed order of operations, so that the counts and the
// vertices it produces are the same on every machine.
#include "scene/Vertex.h"

#include <cstdint>
#include <limits>
#include <vector>

// The area threshold of the scene, in square model units: half the square root of
// the float with bits 0x3AD1B719 ((0.2 * 0.2)^2 rounded at each step), evaluated
// in single precision at run time. Its bits are 0x3CA3D70B, one unit in the last
// place above 0.02f.
float TessellationThreshold();

// The most vertices a scene may tessellate into on any machine: 16 Mi vertices are
// 704 MiB in each copy of the vertex array, within what OpenCL devices allow in one
// buffer.
constexpr std::uint64_t kTessellationVertexBudget = 16u * 1024u * 1024u;

// What one refined vertex costs the running program, rounded up: the model's two host
// copies (44 bytes each) and its index (4), the OpenGL vertex buffer (44), the OpenCL
// vertex buffers (two of 44), its ray (48) and its hit (32), and the drivers' staging.
constexpr std::uint64_t kBytesPerVertex = 330;

// The share of the machine's memory that the refined scene may take.
constexpr double kSceneMemoryShare = 0.25;

// The most vertices a scene may tessellate into here: kTessellationVertexBudget, or
// fewer where kSceneMemoryShare of the machine's memory holds fewer at kBytesPerVertex.
std::uint64_t TessellationVertexBudget();

// The vertex halfway between a and b: every float is a * 0.5 + b * 0.5, then the
// normal is rescaled to unit length. A zero-length averaged normal (opposite
// normals at the ends of the edge) is kept as it is rather than divided by zero.
_Vertex Midpoint(const _Vertex& a, const _Vertex& b);

// Appends the refinement of (a, b, c) to out, depth first: for a triangle that is
// split, the corner at a, the centre, the corner at b, the corner at c, each in
// the winding of (a, b, c). A triangle whose area is at most the threshold, or is
// not finite (NaN or infinite positions), is appended unchanged as a, b, c.
void TessellateTriangle(const _Vertex& a, const _Vertex& b, const _Vertex& c, float threshold,
                        std::vector<_Vertex>& out);

// Replaces the triangle list (three vertices per triangle) by its refinement.
// The output is allocated once, at its exact size.
void TessellateTriangles(std::vector<_Vertex>& vertices, float threshold);
// The same where count, CountTessellatedVertices of the list (uncapped), is known.
void TessellateTriangles(std::vector<_Vertex>& vertices, float threshold, std::uint64_t count);

// The number of vertices TessellateTriangles would produce for the triangle list,
// counted without producing them. Counting stops as soon as the count exceeds cap,
// so the work is bounded even for a triangle of a square kilometre; a result above
// cap means "more than cap".
std::uint64_t CountTessellatedVertices(const std::vector<_Vertex>& vertices, float threshold,
                                       std::uint64_t cap);

// A fast estimate of the same count from each triangle's area alone (a triangle of
// area S yields 3 * 4^d vertices, d the smallest depth with S / 4^d <= threshold),
// in double precision so that it cannot overflow. Rounding of the real midpoints
// may move single children across the threshold, so it is not exact; it is what a
// message reports when the exact count was cut off. Summing stops as soon as the
// estimate exceeds stopAbove; a result above it means "more than stopAbove".
double EstimateTessellatedVertices(const std::vector<_Vertex>& vertices, float threshold,
                                   double stopAbove = std::numeric_limits<double>::infinity());
