#pragma once
// The vertex record shared by the host arrays, the OpenGL vertex buffer, the OpenCL
// buffers, the kernels and the shader attributes. Its byte layout is an interface:
// the raster pass describes the attributes by these offsets and the kernels read
// and write the same 44 bytes, so the layout is pinned down by the asserts below.
#include "scene/VectorTypes.h"
#include "util/PageAlignedAllocator.h"

#include <cstddef>
#include <vector>

struct Float2
{
    float x, y;
};

struct _Vertex
{
    Float3 position; // model space, as imported
    Float3 normal;   // unit length
    Float2 texCoord; // first texture-coordinate set
    Float3 color;    // per-vertex colour factor; white until the shadow pass writes it
};

static_assert(sizeof(Float2) == 8, "Float2 is two packed floats");
static_assert(sizeof(_Vertex) == 44, "_Vertex is eleven packed floats");
static_assert(offsetof(_Vertex, position) == 0, "position at byte 0");
static_assert(offsetof(_Vertex, normal) == 12, "normal at byte 12");
static_assert(offsetof(_Vertex, texCoord) == 24, "texCoord at byte 24");
static_assert(offsetof(_Vertex, color) == 32, "color at byte 32");

// The model-wide array of vertices. Page-aligned, so that an OpenCL device on the CPU can
// read it in place instead of copying it.
using VertexArray = std::vector<_Vertex, PageAlignedAllocator<_Vertex>>;
