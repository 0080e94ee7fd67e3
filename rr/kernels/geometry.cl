// Scene records, the watertight ray-triangle test and single-ray traversal of the wide
// BVH.

// The triangle test relies on a*b - c*d being computed the same way for both triangles that
// share an edge (then their edge functions are exact negatives of each other and no ray slips
// between them); contracting into fused multiply-adds would break that symmetry.
#pragma OPENCL FP_CONTRACT OFF

// Hits closer to the origin than this fraction of the distance to the triangle's farthest
// corner (along the ray) are within the rounding of the test and are not counted: a ray that
// starts exactly on a surface leaves it rather than hitting it at a t that rounding made
// slightly positive.
#define RR_T_MIN 0x1p-18f

// Slab tests compare a box's entry distance with its exit distance scaled by this, 1 + 3 * 2^-23:
// the bound 1 + 2 gamma(3) (gamma(n) = n 2^-24 / (1 - n 2^-24)) that Ize (2013) gives for the
// rounding of the distances, as a float, so that no box a ray touches is missed.
#define RR_SLAB_WIDENING 1.0000004f

// A zero direction component stands for this in reciprocals: a huge finite reciprocal instead
// of infinity keeps slab distances free of 0 * inf NaNs, and the box test conservative.
#define RR_ZERO_DIRECTION 1e-30f

// The host passes its constants as build options (BuildKernelProgram): RR_MAX_BVH_DEPTH, the
// builder's deepest tree; RR_WIDE_WIDTH, the children per wide node (4 or 8); RR_PACKET, the
// rays per work-item of the packet kernel; RR_ROUTES and RR_ROUTE_*, the counters of the routes
// a query's rays took, with RR_COUNT_ROUTES when the service counts them. A binary node pushes
// at most one child, a wide node all but one.
#define RR_STACK_SIZE RR_MAX_BVH_DEPTH
#define RR_WIDE_STACK_SIZE ((RR_WIDE_WIDTH - 1) * RR_STACK_SIZE)

// Where Clang compiles straight to host code with AVX (PoCL on x86), a lane mask becomes bits
// in one instruction; the portable forms below take a chain of shuffles that every step of a
// walk waits for.
#if defined(RR_HOST_CODE) && defined(__clang__) && defined(__AVX__)
#define RR_HOST_MASKS
typedef float rr_host_float4 __attribute__((__vector_size__(16)));
typedef float rr_host_float8 __attribute__((__vector_size__(32)));
#endif

// Whether any lane of a comparison's result is set.
inline int rr_any4(const int4 set)
{
#ifdef RR_HOST_MASKS
    return __builtin_ia32_movmskps((rr_host_float4)as_float4(set)) != 0;
#else
    return any(set);
#endif
}

// The index of the lowest set bit of a nonzero mask.
inline int rr_lowest_bit(const int mask)
{
#ifdef RR_HOST_MASKS
    return __builtin_ctz(mask);
#else
    return 31 - clz(mask & -mask);
#endif
}

// A wide node's lanes, one per child.
#if RR_WIDE_WIDTH == 8
typedef float8 rr_wide_float;
typedef int8 rr_wide_int;
// The bits of the children whose lanes are set.
inline int rr_wide_mask(const int8 set)
{
#ifdef RR_HOST_MASKS
    return __builtin_ia32_movmskps256((rr_host_float8)as_float8(set));
#else
    const int8 bits = set & (int8)(1, 2, 4, 8, 16, 32, 64, 128);
    const int4 folded = bits.lo | bits.hi;
    return folded.x | folded.y | folded.z | folded.w;
#endif
}
#elif RR_WIDE_WIDTH == 4
typedef float4 rr_wide_float;
typedef int4 rr_wide_int;
inline int rr_wide_mask(const int4 set)
{
#ifdef RR_HOST_MASKS
    return __builtin_ia32_movmskps((rr_host_float4)as_float4(set));
#else
    const int4 bits = set & (int4)(1, 2, 4, 8);
    return bits.x | bits.y | bits.z | bits.w;
#endif
}
#else
#error "RR_WIDE_WIDTH must be 4 or 8"
#endif

// An inner node: the boxes of both children (one cache line). For child c, lo_c.w holds ref
// and hi_c.w count, as int bits: count > 0 makes it a leaf of count triangles from ref,
// otherwise it is the inner node nodes[ref]. nodes[0] is the root.
typedef struct
{
    float4 lo0, hi0, lo1, hi1;
} rr_node;

// v0.w: shape id, as int bits.
typedef struct
{
    float4 v0;
    float4 v1;
    float4 v2;
} rr_triangle;

// A wide node (WideNodeOf on the host): children's boxes side by side. Child k is a leaf
// of count[k] blocks from ref[k] when count[k] > 0, else the node ref[k]; an unused child has
// an empty box, which no ray meets.
typedef struct
{
    rr_wide_float lox, loy, loz, hix, hiy, hiz;
    rr_wide_int ref, count;
} rr_wide_node;

// Four triangles side by side (TriangleBlock on the host): v[3 * corner + axis].
typedef struct
{
    float4 v[9];
    int4 shapeid;
} rr_block;

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

inline float rr_safe_reciprocal(float d)
{
    return 1.0f / (d != 0.0f ? d : RR_ZERO_DIRECTION);
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

// The watertight test of Woop, Benthin and Wald (2013), lane by lane, each lane one ray
// against one triangle: whether the ray meets the triangle at RR_T_MIN < t < tmax. It is
// defined once for both ways the kernels pair rays with triangles: four triangles (corners of
// type float4) against one ray (float), and one triangle (float) against sixteen rays
// (float16), so that both routes answer alike. corner[3 * c + k]: corner c's coordinate k, in
// the ray's (kx, ky, kz) order, as is the origin (ox, oy, oz); (sx, sy, sz) the ray's shear.
// Both faces count. A ray through an edge or corner hits every triangle whose edge function
// there is exactly zero, so shared edges never leak; a triangle seen edge-on (zero
// determinant) is missed.
#define RR_DEFINE_WATERTIGHT(N, CORNER, RAY)                                                       \
    __attribute__((always_inline)) inline int##N rr_watertight##N(                                \
        const CORNER* corner, RAY ox, RAY oy, RAY oz, RAY sx, RAY sy, RAY sz, RAY tmax)            \
    {                                                                                              \
        const float##N az = corner[2] - oz, bz = corner[5] - oz, cz = corner[8] - oz;              \
        const float##N ax = (corner[0] - ox) - sx * az, ay = (corner[1] - oy) - sy * az;           \
        const float##N bx = (corner[3] - ox) - sx * bz, by = (corner[4] - oy) - sy * bz;           \
        const float##N cx = (corner[6] - ox) - sx * cz, cy = (corner[7] - oy) - sy * cz;           \
        const float##N u = cx * by - cy * bx;                                                      \
        const float##N v = ax * cy - ay * cx;                                                      \
        const float##N w = bx * ay - by * ax;                                                      \
        const int##N outside = (min(min(u, v), w) < 0.0f) & (max(max(u, v), w) > 0.0f);           \
        const float##N det = u + v + w;                                                            \
        const float##N t = u * (sz * az) + v * (sz * bz) + w * (sz * cz);                          \
        /* tmin < t / det < tmax: flip t's sign with det's, compare with multiples of |det|. */    \
        const float##N st = as_float##N(as_int##N(t) ^ (as_int##N(det) & (int##N)0x80000000));    \
        const float##N adet = fabs(det);                                                           \
        const float##N tmin = (RR_T_MIN * fabs(sz)) * max(max(fabs(az), fabs(bz)), fabs(cz));     \
        return ~outside & (det != 0.0f) & (st > tmin * adet) & (st < tmax * adet);                 \
    }
RR_DEFINE_WATERTIGHT(4, float4, float)
RR_DEFINE_WATERTIGHT(16, float, float16)

// The watertight test for one ray against a block of four triangles, lane by lane.
__attribute__((always_inline)) inline int4 rr_hit_block(const rr_ray_frame* f,
                                                        __global const rr_block* b, const int kx,
                                                        const int ky, const int kz)
{
    const float4 corner[9] = {b->v[kx],     b->v[ky],     b->v[kz],     b->v[3 + kx], b->v[3 + ky],
                              b->v[3 + kz], b->v[6 + kx], b->v[6 + ky], b->v[6 + kz]};
    return rr_watertight4(corner, f->ox, f->oy, f->oz, f->sx, f->sy, f->sz, f->tmax);
}

// Asks for the bytes at p before they are needed. OpenCL's prefetch is a hint that CPU
// runtimes may drop (PoCL's does nothing); where Clang compiles straight to host code (PoCL),
// Clang's builtin becomes one prefetch instruction per cache line.
#if defined(RR_HOST_CODE) && defined(__clang__)
#define RR_PREFETCH(p, bytes)                                                                    \
    for (int rr_line = 0; rr_line < (bytes); rr_line += 64)                                      \
    __builtin_prefetch((__global const char*)(p) + rr_line)
#else
#define RR_PREFETCH(p, bytes) prefetch((__global const char*)(p), (bytes))
#endif

// One ray's any-hit walk through the wide BVH, advanced a node at a time (rr_walk_step), so
// that a work-item can keep several walks in flight (rr_answer_rays).
typedef struct
{
    rr_ray_frame f;
    int kx, ky, kz; // the frame's axes
    int index;      // the node the next step visits, or -1 - the block of a leaf it tests
    int sp;
    int stack[RR_WIDE_STACK_SIZE];
} rr_walk;

// What rr_walk_step returns while the walk goes on; otherwise it returns the answer.
#define RR_WALK_GOES_ON (-2)

// Visits the walk's next node: tests its children's boxes at once with the slab test widened
// by the worst rounding of its distances (Ize 2013), so that no box the ray touches is missed
// (the near and far plane of each slab follow the direction's sign); tests the leaves it
// meets and moves on to the next node. With deferLeaves (walks that share their steps with
// others) it leaves each leaf of one block to a step of its own, which tests only that block.
// Returns the id of the shape of a triangle that occludes the ray, -1 when none does, or
// RR_WALK_GOES_ON. kx, ky, kz: the walk's axes, as compile-time constants where the caller
// has them. The walk comes in parts (an rr_walk's
// fields) so that a caller with a single walk keeps them in registers: in a struct they cost
// that caller a tenth of its speed.
__attribute__((always_inline)) inline int
rr_walk_step(const rr_ray_frame* f, int* stack, int* sp, int* index,
             __global const rr_wide_node* nodes, __global const rr_block* blocks, const int kx,
             const int ky, const int kz, const int deferLeaves)
{
    if (deferLeaves && *index < 0)
    {
        // A leaf of one block left for this step, -1 - its block.
        const int i = -1 - *index;
        const int4 m = rr_hit_block(f, &blocks[i], kx, ky, kz);
        if (rr_any4(m))
        {
            const int4 id = blocks[i].shapeid;
            return m.x ? id.x : (m.y ? id.y : (m.z ? id.z : id.w));
        }
        if (*sp == 0)
            return -1;
        *index = stack[--*sp];
        return RR_WALK_GOES_ON;
    }
    __global const rr_wide_node* n = &nodes[*index];
    // The near and far planes are picked by the direction's signs, not by indexing the
    // node's rows with a per-ray offset: rusticl's compiler traversed wrongly with that.
    const rr_wide_float tnx = ((f->neg.x ? n->hix : n->lox) - f->o.x) * f->inv.x;
    const rr_wide_float tfx = ((f->neg.x ? n->lox : n->hix) - f->o.x) * f->inv.x;
    const rr_wide_float tny = ((f->neg.y ? n->hiy : n->loy) - f->o.y) * f->inv.y;
    const rr_wide_float tfy = ((f->neg.y ? n->loy : n->hiy) - f->o.y) * f->inv.y;
    const rr_wide_float tnz = ((f->neg.z ? n->hiz : n->loz) - f->o.z) * f->inv.z;
    const rr_wide_float tfz = ((f->neg.z ? n->loz : n->hiz) - f->o.z) * f->inv.z;
    const rr_wide_float tn = max(max(tnx, tny), max(tnz, 0.0f));
    const rr_wide_float tf = min(min(tfx, tfy), min(tfz, f->tmax));
    int mask = rr_wide_mask(tn <= tf * RR_SLAB_WIDENING);
    int next = 0, haveNext = 0;
    if (mask != 0)
    {
        // The children's lanes, read one by one where they are.
        __global const int* ref = (__global const int*)&n->ref;
        __global const int* count = (__global const int*)&n->count;
        // Ask for every child's data before using any: the fetches then overlap.
        for (int m = mask; m != 0; m &= m - 1)
        {
            const int k = rr_lowest_bit(m);
            if (count[k] > 0)
                RR_PREFETCH(&blocks[ref[k]], count[k] * (int)sizeof(rr_block));
            else
                RR_PREFETCH(&nodes[ref[k]], (int)sizeof(rr_wide_node));
        }
        // Leaves of one block are left for the next steps when deferLeaves, so that their
        // fetches have the other walks' steps to arrive in: pushed above the inner children,
        // the first of them next.
        int leaves[RR_WIDE_WIDTH];
        int leafCount = 0;
        for (; mask != 0; mask &= mask - 1)
        {
            const int k = rr_lowest_bit(mask);
            if (deferLeaves && count[k] == 1)
                leaves[leafCount++] = -1 - ref[k];
            else if (count[k] > 0)
            {
                for (int i = ref[k]; i < ref[k] + count[k]; ++i)
                {
                    const int4 m = rr_hit_block(f, &blocks[i], kx, ky, kz);
                    if (rr_any4(m))
                    {
                        const int4 id = blocks[i].shapeid;
                        return m.x ? id.x : (m.y ? id.y : (m.z ? id.z : id.w));
                    }
                }
            }
            else if (!haveNext)
            {
                next = ref[k];
                haveNext = 1;
            }
            else
                stack[(*sp)++] = ref[k];
        }
        if (leafCount > 0)
        {
            if (haveNext)
                stack[(*sp)++] = next;
            for (int j = leafCount - 1; j > 0; --j)
                stack[(*sp)++] = leaves[j];
            next = leaves[0];
            haveNext = 1;
        }
    }
    if (!haveNext)
    {
        if (*sp == 0)
            return -1;
        next = stack[--*sp];
    }
    *index = next;
    return RR_WALK_GOES_ON;
}

// Starts the walk of a ray with the given frame at the root.
__attribute__((always_inline)) inline void rr_walk_start(rr_walk* w, const rr_ray_frame* f,
                                                         const int kx, const int ky,
                                                         const int kz)
{
    w->f = *f;
    w->kx = kx;
    w->ky = ky;
    w->kz = kz;
    w->index = 0;
    w->sp = 0;
}

// Any-hit traversal of the wide BVH: the id of the shape of some triangle that occludes the
// ray, or -1.
__attribute__((always_inline)) inline int
rr_occlusion_wide(const rr_ray_frame* f, __global const rr_wide_node* nodes,
                  __global const rr_block* blocks, const int kx, const int ky, const int kz)
{
    int stack[RR_WIDE_STACK_SIZE];
    int sp = 0, index = 0, answer;
    while ((answer = rr_walk_step(f, stack, &sp, &index, nodes, blocks, kx, ky, kz, 0)) ==
           RR_WALK_GOES_ON)
        ;
    return answer;
}

// Clang-based CPU compilers (PoCL among them) can store around the cache; the host asks for
// it (RR_STREAM_STORES) on CPU devices only, and other compilers store plainly.
#if defined(RR_STREAM_STORES) && defined(__clang__)
#define RR_STREAM_STORE(value, pointer) __builtin_nontemporal_store(value, pointer)
#else
#define RR_STREAM_STORE(value, pointer) (*(pointer) = (value))
#endif

// Writes hit record i whole: shapeid, primid -1, the rest 0. Queries never read the hit
// buffer, and whole-line streaming stores spare the memory system reading each line of it
// before writing it, which is a large share of a coherent query's memory traffic.
inline void rr_store_hit(__global rr_intersection* hits, int i, int shapeid)
{
    RR_STREAM_STORE((int8)(shapeid, -1, 0, 0, 0, 0, 0, 0), (__global int8*)(hits + i));
}

// Whether a ray needs a walk: inactive rays, rays without direction (which go nowhere) and
// every ray of an empty scene answer -1 without one.
inline int rr_ray_walks(__global const rr_ray* ray, int triangleCount)
{
    return ray->active && triangleCount != 0 &&
           (ray->d[0] != 0.0f || ray->d[1] != 0.0f || ray->d[2] != 0.0f);
}

// Reads ray i and answers it.
inline int rr_answer_ray(__global const rr_ray* ray, __global const rr_wide_node* nodes,
                         __global const rr_block* blocks, int triangleCount)
{
    if (!rr_ray_walks(ray, triangleCount))
        return -1;
    float o[3] = {ray->o[0], ray->o[1], ray->o[2]};
    float d[3] = {ray->d[0], ray->d[1], ray->d[2]};
    // One specialised copy of the traversal per dominant axis.
    const int kz = rr_dominant_axis(d[0], d[1], d[2]);
    if (kz == 0)
    {
        const rr_ray_frame f = rr_make_frame(o, d, ray->maxt, 1, 2, 0);
        return rr_occlusion_wide(&f, nodes, blocks, 1, 2, 0);
    }
    if (kz == 1)
    {
        const rr_ray_frame f = rr_make_frame(o, d, ray->maxt, 2, 0, 1);
        return rr_occlusion_wide(&f, nodes, blocks, 2, 0, 1);
    }
    const rr_ray_frame f = rr_make_frame(o, d, ray->maxt, 0, 1, 2);
    return rr_occlusion_wide(&f, nodes, blocks, 0, 1, 2);
}

// Starts a walk in w for the first of the entries list[*taken..count) whose ray needs one and
// returns its entry, or -1 when none is left; rays passed over answer -1 in out.
__attribute__((always_inline)) inline int rr_start_walk(rr_walk* w, __global const rr_ray* rays,
                                                        int first, const int* list, int count,
                                                        int* taken, int* out, int triangleCount)
{
    while (*taken < count)
    {
        const int entry = (*taken)++;
        __global const rr_ray* ray = &rays[first + list[entry]];
        if (!rr_ray_walks(ray, triangleCount))
        {
            out[list[entry]] = -1;
            continue;
        }
        float o[3] = {ray->o[0], ray->o[1], ray->o[2]};
        float d[3] = {ray->d[0], ray->d[1], ray->d[2]};
        const int kz = rr_dominant_axis(d[0], d[1], d[2]);
        const int kx = kz == 2 ? 0 : kz + 1;
        const int ky = kx == 2 ? 0 : kx + 1;
        const rr_ray_frame f = rr_make_frame(o, d, ray->maxt, kx, ky, kz);
        rr_walk_start(w, &f, kx, ky, kz);
        return entry;
    }
    return -1;
}

// Answers the rays rays[first + list[j]], j < count, into out[list[j]], walks (a compile-time
// constant; walk and entry hold that many) at a time, a step of each in turn. In a tree of
// millions of triangles nearly every step waits for memory; a step asks for the nodes and
// leaves its walk visits next, and the other walks' steps run while they arrive, where one
// walk alone would wait for each in turn. The axes are not compile-time constants here, as
// the walks' rays need not share them.
__attribute__((always_inline)) inline void
rr_answer_rays(__global const rr_ray* rays, int first, const int* list, int count, int* out,
               __global const rr_wide_node* nodes, __global const rr_block* blocks,
               int triangleCount, rr_walk* walk, int* entry, const int walks)
{
    int taken = 0, inFlight = 0;
    for (int s = 0; s < walks; ++s)
    {
        entry[s] = rr_start_walk(&walk[s], rays, first, list, count, &taken, out, triangleCount);
        inFlight += entry[s] >= 0;
    }
    while (inFlight > 0)
        for (int s = 0; s < walks; ++s)
        {
            if (entry[s] < 0)
                continue;
            rr_walk* w = &walk[s];
            const int answer = rr_walk_step(&w->f, w->stack, &w->sp, &w->index, nodes, blocks,
                                            w->kx, w->ky, w->kz, 1);
            if (answer == RR_WALK_GOES_ON)
                continue;
            out[list[entry[s]]] = answer;
            entry[s] = rr_start_walk(w, rays, first, list, count, &taken, out, triangleCount);
            inFlight -= entry[s] < 0;
        }
}

// rr_answer_rays with N walks in flight, as a copy of its own with the count fixed (the walks'
// loops then unroll), not inlined, so that the kernel stays small.
#define RR_DEFINE_ANSWER_RAYS(N)                                                                   \
    __attribute__((noinline)) void rr_answer_rays##N(                                              \
        __global const rr_ray* rays, int first, const int* list, int count, int* out,              \
        __global const rr_wide_node* nodes, __global const rr_block* blocks, int triangleCount)    \
    {                                                                                              \
        rr_walk walk[N];                                                                           \
        int entry[N];                                                                              \
        rr_answer_rays(rays, first, list, count, out, nodes, blocks, triangleCount, walk, entry,   \
                       N);                                                                         \
    }
RR_DEFINE_ANSWER_RAYS(4)
RR_DEFINE_ANSWER_RAYS(8)
