#pragma once
// The two small value types shared by the scene, the camera arithmetic and the
// kernels: their layout is what the GPU sees, so it is pinned down here.

// Three floats, 12 bytes with no gaps: a position, a direction, a kernel argument.
struct Float3
{
    float x, y, z;
};
static_assert(sizeof(Float3) == 12, "Float3 is handed to kernels as exactly 12 bytes");

// A 4x4 matrix of floats in column-major order: element (row r, column c) is at
// m[4 * c + r], as OpenGL stores matrices. Points are column vectors: p' = M * p.
struct Mat4
{
    float m[16];
};
static_assert(sizeof(Mat4) == 64, "Mat4 is handed to kernels as exactly 64 bytes");
