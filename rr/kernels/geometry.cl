// Scene records, the watertight ray-triangle test and single-ray BVH traversal.

// The triangle test relies on a*b - c*d being computed the same way for both triangles that
// share an edge (then their edge functions are exact negatives of each other and no ray slips
// between them); contracting into fused multiply-adds would break that symmetry.
#pragma OPENCL FP_CONTRACT OFF

// Hits closer to the origin than this fraction of the distance to the triangle's farthest
// corner (along the ray) are within the rounding of the test and are not counted: a ray that
// starts exactly on a surface leaves it rather than hitting it at a t that rounding made
// slightly positive.
#define RR_T_MIN 0x1p-18f

// Must be at least the builder's deepest tree (kMaxBvhDepth).
#define RR_STACK_SIZE 64

// An inner node: the boxes of both children (one cache line). For child c, lo_c.w holds ref
// and hi_c.w count, as int bits: count > 0 makes it a leaf of count triangles from ref,
// otherwise it is the inner node nodes[ref]. nodes[0] is the root.
typedef struct
{
    float4 lo0, hi0, lo1, hi1;
} rr_node;

// v0.w: shape id, v1.w: face index, both as int bits.
typedef struct
{
    float4 v0;
    float4 v1;
    float4 v2;
} rr_triangle;

// A ray prepared for traversal. The watertight test of Woop, Benthin and Wald (2013) works in
// a frame where the ray runs along +z from the origin: kz is the direction's dominant axis,
// (kx, ky) the other two, (sx, sy, sz) the shear that maps the direction to (0, 0, 1). The
// traversal functions take kx, ky, kz as compile-time constants (one copy per dominant axis),
// so choosing components costs nothing.
typedef struct
{
    float4 o;   // origin, w = 0
    float4 inv; // reciprocal direction, w = 0
    int4 neg;   // lanes where the direction is negative (-1)
    float tmax;
    float ox, oy, oz; // origin in (kx, ky, kz) order
    float sx, sy, sz;
} rr_ray_frame;

inline float rr_component(float4 v, int k)
{
    return k == 0 ? v.x : (k == 1 ? v.y : v.z);
}

inline int rr_dominant_axis(float x, float y, float z)
{
    float ax = fabs(x), ay = fabs(y), az = fabs(z);
    return ax >= ay ? (ax >= az ? 0 : 2) : (ay >= az ? 1 : 2);
}

// A zero direction component gets a huge finite reciprocal instead of infinity: slab
// distances then stay free of 0 * inf NaNs, and the box test stays conservative.
inline float rr_safe_reciprocal(float d)
{
    return 1.0f / (d != 0.0f ? d : 1e-30f);
}

__attribute__((always_inline)) inline rr_ray_frame rr_make_frame(const float* o, const float* d,
                                                                 float tmax, const int kx,
                                                                 const int ky, const int kz)
{
    rr_ray_frame f;
    f.o = (float4)(o[0], o[1], o[2], 0.0f);
    f.inv = (float4)(rr_safe_reciprocal(d[0]), rr_safe_reciprocal(d[1]),
                     rr_safe_reciprocal(d[2]), 0.0f);
    f.neg = f.inv < 0.0f;
    f.tmax = tmax;
    f.ox = o[kx];
    f.oy = o[ky];
    f.oz = o[kz];
    f.sx = d[kx] / d[kz];
    f.sy = d[ky] / d[kz];
    f.sz = 1.0f / d[kz];
    return f;
}

// Slab test that never misses a box the ray touches: the far distance is widened by the
// worst rounding of the distance computation (Ize 2013). The near and far planes of each slab
// are chosen by the direction's signs, so no per-axis min/max is needed. The w lanes of lo
// and hi carry node data, not coordinates, and are cleared first.
inline int rr_hit_box(const rr_ray_frame* f, float4 lo, float4 hi, float* tnear)
{
    lo.w = 0.0f;
    hi.w = 0.0f;
    const float4 tn4 = (select(lo, hi, f->neg) - f->o) * f->inv;
    const float4 tf4 = (select(hi, lo, f->neg) - f->o) * f->inv;
    const float tn = max(max(tn4.x, tn4.y), max(tn4.z, 0.0f));
    const float tf = min(min(tf4.x, tf4.y), min(tf4.z, f->tmax));
    *tnear = tn;
    return tn <= tf * 1.0000004f;
}

// Whether the ray meets the triangle at 0 < t < tmax (see RR_T_MIN). Both faces count. A ray
// through an edge or corner hits every triangle whose edge function there is exactly zero, so
// shared edges never leak; a triangle seen edge-on (zero determinant) is missed.
__attribute__((always_inline)) inline int rr_hit_triangle(const rr_ray_frame* f, float4 v0,
                                                          float4 v1, float4 v2, const int kx,
                                                          const int ky, const int kz)
{
    const float az = rr_component(v0, kz) - f->oz;
    const float bz = rr_component(v1, kz) - f->oz;
    const float cz = rr_component(v2, kz) - f->oz;
    const float ax = (rr_component(v0, kx) - f->ox) - f->sx * az;
    const float ay = (rr_component(v0, ky) - f->oy) - f->sy * az;
    const float bx = (rr_component(v1, kx) - f->ox) - f->sx * bz;
    const float by = (rr_component(v1, ky) - f->oy) - f->sy * bz;
    const float cx = (rr_component(v2, kx) - f->ox) - f->sx * cz;
    const float cy = (rr_component(v2, ky) - f->oy) - f->sy * cz;
    const float u = cx * by - cy * bx;
    const float v = ax * cy - ay * cx;
    const float w = bx * ay - by * ax;
    if ((u < 0.0f || v < 0.0f || w < 0.0f) && (u > 0.0f || v > 0.0f || w > 0.0f))
        return 0;
    const float det = u + v + w;
    if (det == 0.0f)
        return 0;
    const float t = u * (f->sz * az) + v * (f->sz * bz) + w * (f->sz * cz);
    // RR_T_MIN < t / det < tmax without a division.
    const float tmin = RR_T_MIN * fabs(f->sz) * fmax(fmax(fabs(az), fabs(bz)), fabs(cz));
    return det > 0.0f ? (t > tmin * det && t < f->tmax * det)
                      : (t < tmin * det && t > f->tmax * det);
}

// The id of the shape of a leaf triangle that occludes the ray, or -1.
__attribute__((always_inline)) inline int
rr_leaf_occluder(const rr_ray_frame* f, __global const rr_triangle* triangles, int first,
                 int count, const int kx, const int ky, const int kz)
{
    for (int i = first; i < first + count; ++i)
    {
        const rr_triangle tri = triangles[i];
        if (rr_hit_triangle(f, tri.v0, tri.v1, tri.v2, kx, ky, kz))
            return as_int(tri.v0.w);
    }
    return -1;
}

// Any-hit traversal: the id of the shape of some triangle that occludes the ray, or -1.
__attribute__((always_inline)) inline int
rr_occlusion_single(const rr_ray_frame* f, __global const rr_node* nodes,
                    __global const rr_triangle* triangles, const int kx, const int ky,
                    const int kz)
{
    int stack[RR_STACK_SIZE];
    int sp = 0;
    int index = 0;
    while (1)
    {
        const rr_node node = nodes[index];
        float t0, t1;
        int hit0 = rr_hit_box(f, node.lo0, node.hi0, &t0);
        int hit1 = rr_hit_box(f, node.lo1, node.hi1, &t1);
        int ref0 = as_int(node.lo0.w), count0 = as_int(node.hi0.w);
        int ref1 = as_int(node.lo1.w), count1 = as_int(node.hi1.w);
        if (hit0 && hit1 && t1 < t0)
        {
            // Nearer child first: an occluder found early ends the ray.
            const int r = ref0, c = count0;
            ref0 = ref1;
            count0 = count1;
            ref1 = r;
            count1 = c;
        }
        else if (!hit0)
        {
            ref0 = ref1;
            count0 = count1;
            hit0 = hit1;
            hit1 = 0;
        }
        int next = -1;
        if (hit0)
        {
            if (count0 > 0)
            {
                const int id = rr_leaf_occluder(f, triangles, ref0, count0, kx, ky, kz);
                if (id != -1)
                    return id;
            }
            else
                next = ref0;
        }
        if (hit1)
        {
            if (count1 > 0)
            {
                const int id = rr_leaf_occluder(f, triangles, ref1, count1, kx, ky, kz);
                if (id != -1)
                    return id;
            }
            else if (next < 0)
                next = ref1;
            else
                stack[sp++] = ref1;
        }
        if (next < 0)
        {
            if (sp == 0)
                return -1;
            next = stack[--sp];
        }
        index = next;
    }
}

// Reads ray i and answers it; inactive rays and empty scenes answer -1.
inline int rr_answer_ray(__global const rr_ray* ray, __global const rr_node* nodes,
                         __global const rr_triangle* triangles, int triangleCount)
{
    if (!ray->active || triangleCount == 0)
        return -1;
    float o[3] = {ray->o[0], ray->o[1], ray->o[2]};
    float d[3] = {ray->d[0], ray->d[1], ray->d[2]};
    if (d[0] == 0.0f && d[1] == 0.0f && d[2] == 0.0f)
        return -1; // a ray without direction goes nowhere
    // One specialised copy of the traversal per dominant axis.
    const int kz = rr_dominant_axis(d[0], d[1], d[2]);
    if (kz == 0)
    {
        const rr_ray_frame f = rr_make_frame(o, d, ray->maxt, 1, 2, 0);
        return rr_occlusion_single(&f, nodes, triangles, 1, 2, 0);
    }
    if (kz == 1)
    {
        const rr_ray_frame f = rr_make_frame(o, d, ray->maxt, 2, 0, 1);
        return rr_occlusion_single(&f, nodes, triangles, 2, 0, 1);
    }
    const rr_ray_frame f = rr_make_frame(o, d, ray->maxt, 0, 1, 2);
    return rr_occlusion_single(&f, nodes, triangles, 0, 1, 2);
}
