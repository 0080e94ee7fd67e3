// The records of the committed scene as the kernels read them (see kernels/geometry.cl and
// kernels/packet.cl for the OpenCL side). Two layouts of one hierarchy: two-wide nodes over
// triangles for packets of rays, which vectorise over their rays, and four- or eight-wide nodes
// over blocks of four triangles for single rays, which vectorise over children and triangles.
#pragma once

#include <cstdint>

namespace RadeonRays::detail
{

// Most triangles one committed scene may hold: the records index nodes, triangles and blocks
// with int32, and a binary tree over n triangles has up to 2n - 1 nodes.
constexpr int kMaxSceneTriangles = 1 << 30;

// One triangle, 48 bytes (three float4 for the kernels); v0's w lane carries its shape's id.
struct DeviceTriangle
{
    float v0[3];
    std::int32_t shapeid;
    float v1[3];
    std::int32_t padding1;
    float v2[3];
    std::int32_t padding2;
};
static_assert(sizeof(DeviceTriangle) == 48, "DeviceTriangle is read as three float4");

// One inner node as the kernels read it, 64 bytes (four float4, one cache line): the boxes of
// both children, so that a visit costs one fetch. A child with count > 0 is a leaf of count
// triangles from index ref; otherwise it is the inner node nodes[ref].
struct DeviceNode
{
    struct Child
    {
        float lo[3];
        std::int32_t ref;
        float hi[3];
        std::int32_t count;
    } child[2];
};
static_assert(sizeof(DeviceNode) == 64, "DeviceNode is read as four float4");

// A node of the single rays' wide layout, Width children side by side: 32 x Width bytes, read
// as eight floatWidth/intWidth. Child k: a leaf of count[k] triangle blocks from blocks[ref[k]]
// when count[k] > 0, the node nodes[ref[k]] when count[k] == 0; an unused slot has an
// inverted (empty) box, which no ray meets, and count -1.
template <int Width> struct WideNodeOf
{
    float lox[Width], loy[Width], loz[Width];
    float hix[Width], hiy[Width], hiz[Width];
    std::int32_t ref[Width];
    std::int32_t count[Width];
};
static_assert(sizeof(WideNodeOf<4>) == 128 && sizeof(WideNodeOf<8>) == 256,
              "wide nodes are read as eight float4/int4 or float8/int8");

// The widest layout, in which the host builds it; narrower devices get its first lanes.
constexpr int kMaxWideWidth = 8;
using WideNode = WideNodeOf<kMaxWideWidth>;

// 160 bytes: four triangles, corner by corner and coordinate by coordinate, and their shape
// ids. A leaf's last block repeats one of its triangles in unused lanes.
struct TriangleBlock
{
    float v[3][3][4]; // [corner][axis][lane]
    std::int32_t shapeid[4];
};
static_assert(sizeof(TriangleBlock) == 160, "TriangleBlock is read as ten float4/int4");

} // namespace RadeonRays::detail
