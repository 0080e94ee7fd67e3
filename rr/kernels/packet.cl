// Packet traversal for CPU devices: one work-item answers RR_PACKET consecutive rays. When they
// share one direction (as shadow rays toward a directional light do), the work-item walks the
// BVH once for all of them: inner nodes are culled against the beams that bound its four groups
// of 16 rays (one float4 test per node, one decision per node), and leaves are tested ray by ray
// with 16-wide vector arithmetic as straight-line code. PoCL turns float16 into AVX-512 (or pairs
// of AVX2) instructions; a per-ray traversal loop would run as scalar code. Rays next to each other
// in the array are expected to be near each other in space; when they are not, answers stay right
// and only the beam grows loose.

// RR_PACKET comes from the host (kPacketSize): sixteen lanes of float16, four groups in float4.
// RR_ITEM_RAYS (kItemRays) is a whole number of packets.
#define RR_LANES 16
#define RR_GROUPS 4
#if RR_PACKET != RR_LANES * RR_GROUPS
#error "RR_PACKET must be RR_LANES * RR_GROUPS"
#endif
// The bits of all groups in a mask of groups.
#define RR_ALL_GROUPS ((1 << RR_GROUPS) - 1)

typedef float16 rr_pf;
typedef int16 rr_pi;

// Whether any lane of a group's comparison is set (see rr_any4).
inline int rr_any16(const rr_pi set)
{
#ifdef RR_HOST_MASKS
    return (__builtin_ia32_movmskps256((rr_host_float8)as_float8(set.lo)) |
            __builtin_ia32_movmskps256((rr_host_float8)as_float8(set.hi))) != 0;
#else
    return any(set);
#endif
}

// Each group of 16 rays bundled as a beam: the box of its live rays' origins, the range of
// their reciprocal directions and their longest tmax, four groups side by side in float4
// lanes. The rays' directions share signs, so the parameter interval over which any ray of a
// group can be in a box is bounded by slab distances between the box and the near and far
// corners of the group's origin box, scaled by the ends of the reciprocal range.
// Conservative: rounding is monotone, so a beam's interval contains each of its rays'.
typedef struct
{
    // Per axis, the origin-box corner nearest to (near) and farthest from (far) the slab a
    // direction enters first, for each group.
    float4 nearX, nearY, nearZ, farX, farY, farZ;
    // Per axis, the least and greatest reciprocal direction of each group.
    float4 loX, hiX, loY, hiY, loZ, hiZ;
    float4 tmax;
} rr_beams;

// Which groups' beams meet the box (lanes -1 or 0), and the nearest entry among them.
// inv: any of the rays' reciprocal directions (they share signs); varying (a compile-time
// constant) says whether the rays' directions differ, else the reciprocal ranges are not read.
__attribute__((always_inline)) inline int4 rr_beams_hit_box(const rr_beams* b, float4 lo,
                                                            float4 hi, float4 inv, float* tnear,
                                                            const int varying)
{
    const float bnx = inv.x >= 0.0f ? lo.x : hi.x, bfx = inv.x >= 0.0f ? hi.x : lo.x;
    const float bny = inv.y >= 0.0f ? lo.y : hi.y, bfy = inv.y >= 0.0f ? hi.y : lo.y;
    const float bnz = inv.z >= 0.0f ? lo.z : hi.z, bfz = inv.z >= 0.0f ? hi.z : lo.z;
    const float4 nx = bnx - b->nearX, ny = bny - b->nearY, nz = bnz - b->nearZ;
    const float4 fx = bfx - b->farX, fy = bfy - b->farY, fz = bfz - b->farZ;
    float4 tn, tf;
    if (varying)
    {
        tn = max(max(min(nx * b->loX, nx * b->hiX), min(ny * b->loY, ny * b->hiY)),
                 max(min(nz * b->loZ, nz * b->hiZ), 0.0f));
        tf = min(min(max(fx * b->loX, fx * b->hiX), max(fy * b->loY, fy * b->hiY)),
                 min(max(fz * b->loZ, fz * b->hiZ), b->tmax));
    }
    else
    {
        tn = max(max(nx * inv.x, ny * inv.y), max(nz * inv.z, 0.0f));
        tf = min(min(fx * inv.x, fy * inv.y), min(fz * inv.z, b->tmax));
    }
    const int4 hit = tn <= tf * RR_SLAB_WIDENING;
    const float4 t = select((float4)(INFINITY), tn, hit);
    *tnear = min(min(t.x, t.y), min(t.z, t.w));
    return hit;
}

// Lanes whose ray meets the box within [0, tmax] (the single-ray slab test, 16 rays at once).
// ix, iy, iz: the rays' reciprocal directions; inv: any of them (they share signs).
__attribute__((always_inline)) inline rr_pi rr_packet_hit_box(float4 lo, float4 hi, rr_pf ox,
                                                               rr_pf oy, rr_pf oz, rr_pf ix,
                                                               rr_pf iy, rr_pf iz, float4 inv,
                                                               rr_pf tmax)
{
    const float nx = inv.x >= 0.0f ? lo.x : hi.x, fx = inv.x >= 0.0f ? hi.x : lo.x;
    const float ny = inv.y >= 0.0f ? lo.y : hi.y, fy = inv.y >= 0.0f ? hi.y : lo.y;
    const float nz = inv.z >= 0.0f ? lo.z : hi.z, fz = inv.z >= 0.0f ? hi.z : lo.z;
    const rr_pf tn = max(max((nx - ox) * ix, (ny - oy) * iy), max((nz - oz) * iz, 0.0f));
    const rr_pf tf = min(min((fx - ox) * ix, (fy - oy) * iy), min((fz - oz) * iz, tmax));
    return tn <= tf * RR_SLAB_WIDENING;
}

inline float rr_min16(rr_pf v)
{
    const float8 a = min(v.lo, v.hi);
    const float4 b = min(a.lo, a.hi);
    const float2 c = min(b.lo, b.hi);
    return min(c.x, c.y);
}

inline float rr_max16(rr_pf v)
{
    const float8 a = max(v.lo, v.hi);
    const float4 b = max(a.lo, a.hi);
    const float2 c = max(b.lo, b.hi);
    return max(c.x, c.y);
}

// One packet's rays as its traversal reads them, in four groups of RR_LANES lanes, and what
// the traversal found so far. Lanes of rays that are not traced hold zeros.
typedef struct
{
    rr_pf ox[RR_GROUPS], oy[RR_GROUPS], oz[RR_GROUPS]; // origins
    rr_pf px[RR_GROUPS], py[RR_GROUPS], pz[RR_GROUPS]; // origins in (kx, ky, kz) order
    rr_pf tmax[RR_GROUPS];
    // Only when the rays' directions differ: each lane's direction (dead lanes take a live
    // one's, so that no lane computes with a zero shear), its reciprocal and its shear.
    rr_pf dx[RR_GROUPS], dy[RR_GROUPS], dz[RR_GROUPS];
    rr_pf ix[RR_GROUPS], iy[RR_GROUPS], iz[RR_GROUPS];
    rr_pf sx[RR_GROUPS], sy[RR_GROUPS], sz[RR_GROUPS];
    float4 inv;          // the first live ray's reciprocal direction; all share its signs
    float sx1, sy1, sz1; // the first live ray's shear
    rr_pi alive[RR_GROUPS];  // lanes still to answer (-1)
    rr_pi result[RR_GROUPS]; // per lane the occluding shape's id, or -1
} rr_packet;

// The beams of the four groups' live lanes; a group with none gets an empty box, which no
// node meets.
__attribute__((always_inline)) inline rr_beams rr_make_beams(const rr_packet* p,
                                                               const int varying)
{
    const rr_pf *ox = p->ox, *oy = p->oy, *oz = p->oz, *tmax = p->tmax, *ix = p->ix, *iy = p->iy,
                *iz = p->iz;
    const rr_pi* alive = p->alive;
    const float4 inv = p->inv;
    const rr_pf big = (rr_pf)(INFINITY);
    float lx[RR_GROUPS], ly[RR_GROUPS], lz[RR_GROUPS], hx[RR_GROUPS], hy[RR_GROUPS], hz[RR_GROUPS],
        ht[RR_GROUPS];
    for (int g = 0; g < RR_GROUPS; ++g)
    {
        lx[g] = rr_min16(select(big, ox[g], alive[g]));
        ly[g] = rr_min16(select(big, oy[g], alive[g]));
        lz[g] = rr_min16(select(big, oz[g], alive[g]));
        hx[g] = rr_max16(select(-big, ox[g], alive[g]));
        hy[g] = rr_max16(select(-big, oy[g], alive[g]));
        hz[g] = rr_max16(select(-big, oz[g], alive[g]));
        ht[g] = rr_max16(select(-big, tmax[g], alive[g]));
    }
    const float4 vlx = vload4(0, lx), vly = vload4(0, ly), vlz = vload4(0, lz);
    const float4 vhx = vload4(0, hx), vhy = vload4(0, hy), vhz = vload4(0, hz);
    rr_beams b;
    // Entering a slab through its low plane (positive direction), the rays with the highest
    // origins enter last and leave first... and the other way round for negative directions.
    b.nearX = inv.x >= 0.0f ? vhx : vlx;
    b.farX = inv.x >= 0.0f ? vlx : vhx;
    b.nearY = inv.y >= 0.0f ? vhy : vly;
    b.farY = inv.y >= 0.0f ? vly : vhy;
    b.nearZ = inv.z >= 0.0f ? vhz : vlz;
    b.farZ = inv.z >= 0.0f ? vlz : vhz;
    b.tmax = vload4(0, ht);
    if (!varying)
        return b;
    // A group without live rays keeps inv's reciprocals: its empty box then meets nothing.
    float ilx[RR_GROUPS], ihx[RR_GROUPS], ily[RR_GROUPS], ihy[RR_GROUPS], ilz[RR_GROUPS],
        ihz[RR_GROUPS];
    for (int g = 0; g < RR_GROUPS; ++g)
    {
        const int any = ht[g] > -INFINITY;
        ilx[g] = any ? rr_min16(select(big, ix[g], alive[g])) : inv.x;
        ihx[g] = any ? rr_max16(select(-big, ix[g], alive[g])) : inv.x;
        ily[g] = any ? rr_min16(select(big, iy[g], alive[g])) : inv.y;
        ihy[g] = any ? rr_max16(select(-big, iy[g], alive[g])) : inv.y;
        ilz[g] = any ? rr_min16(select(big, iz[g], alive[g])) : inv.z;
        ihz[g] = any ? rr_max16(select(-big, iz[g], alive[g])) : inv.z;
    }
    b.loX = vload4(0, ilx);
    b.hiX = vload4(0, ihx);
    b.loY = vload4(0, ily);
    b.hiY = vload4(0, ihy);
    b.loZ = vload4(0, ilz);
    b.hiZ = vload4(0, ihz);
    return b;
}

// Tests the triangles of a leaf (lo.w: the first, hi.w: how many, as int bits) against the
// live rays of the given groups that reach its box, recording occluders in the packet's result
// and clearing them from alive; returns whether any ray was found occluded. kz: the dominant
// axis, a compile-time constant.
__attribute__((always_inline)) inline int rr_packet_leaf(rr_packet* p, float4 lo, float4 hi,
                                                         int4 groups, const int varying,
                                                         const int kz,
                                                         __global const rr_triangle* triangles)
{
    const int kx = kz == 2 ? 0 : kz + 1;
    const int ky = kx == 2 ? 0 : kx + 1;
    const int first = as_int(lo.w), count = as_int(hi.w);
    const float4 inv = p->inv;
    rr_pi reach[RR_GROUPS];
    int groupList[RR_GROUPS];
    vstore4(groups, 0, groupList);
    int anyReach = 0;
    for (int g = 0; g < RR_GROUPS; ++g)
    {
        reach[g] = (rr_pi)(0);
        if (groupList[g])
            reach[g] = p->alive[g] & rr_packet_hit_box(lo, hi, p->ox[g], p->oy[g], p->oz[g],
                                                       varying ? p->ix[g] : (rr_pf)(inv.x),
                                                       varying ? p->iy[g] : (rr_pf)(inv.y),
                                                       varying ? p->iz[g] : (rr_pf)(inv.z), inv,
                                                       p->tmax[g]);
        anyReach |= rr_any16(reach[g]);
    }
    if (!anyReach)
        return 0;
    int hitSome = 0;
    for (int i = first; i < first + count; ++i)
    {
        const rr_triangle tri = triangles[i];
        const float corner[9] = {
            rr_component(tri.v0, kx), rr_component(tri.v0, ky), rr_component(tri.v0, kz),
            rr_component(tri.v1, kx), rr_component(tri.v1, ky), rr_component(tri.v1, kz),
            rr_component(tri.v2, kx), rr_component(tri.v2, ky), rr_component(tri.v2, kz)};
        const rr_pi id = (rr_pi)as_int(tri.v0.w);
        for (int g = 0; g < RR_GROUPS; ++g)
        {
            if (!rr_any16(reach[g]))
                continue;
            const rr_pi hit =
                reach[g] & rr_watertight16(corner, p->px[g], p->py[g], p->pz[g],
                                           varying ? p->sx[g] : (rr_pf)(p->sx1),
                                           varying ? p->sy[g] : (rr_pf)(p->sy1),
                                           varying ? p->sz[g] : (rr_pf)(p->sz1), p->tmax[g]);
            p->result[g] = select(p->result[g], id, hit);
            reach[g] &= ~hit;
            p->alive[g] &= ~hit;
            hitSome |= rr_any16(hit);
        }
    }
    return hitSome;
}

// The reciprocal of each lane's direction component, with rr_safe_reciprocal's rule.
inline rr_pf rr_safe_reciprocal16(rr_pf d)
{
    return 1.0f / select((rr_pf)(RR_ZERO_DIRECTION), d, d != 0.0f);
}

// Any-hit traversal of one packet, from its origins, tmax, live lanes and (when varying)
// directions; writes per lane the occluding shape's id or -1 into its result. The live lanes'
// directions share their dominant axis kz and their signs, and d is one of them. kz is a
// compile-time constant at each call, so the component choices fold away. Each lane's shear
// and reciprocals are computed as the single-ray route computes them, so both routes answer
// alike.
__attribute__((always_inline)) inline void
rr_packet_occlusion(rr_packet* p, const float* d, const int varying, const int kz, float wideBeam,
                    float flightBeam, int* wide, int* flight, __global const rr_node* nodes,
                    __global const rr_triangle* triangles)
{
    const int kx = kz == 2 ? 0 : kz + 1;
    const int ky = kx == 2 ? 0 : kx + 1;
    p->inv = (float4)(rr_safe_reciprocal(d[0]), rr_safe_reciprocal(d[1]),
                      rr_safe_reciprocal(d[2]), 0.0f);
    p->sx1 = d[kx] / d[kz];
    p->sy1 = d[ky] / d[kz];
    p->sz1 = 1.0f / d[kz];
    for (int g = 0; g < RR_GROUPS; ++g)
    {
        p->px[g] = kx == 0 ? p->ox[g] : (kx == 1 ? p->oy[g] : p->oz[g]);
        p->py[g] = ky == 0 ? p->ox[g] : (ky == 1 ? p->oy[g] : p->oz[g]);
        p->pz[g] = kz == 0 ? p->ox[g] : (kz == 1 ? p->oy[g] : p->oz[g]);
        if (!varying)
            continue;
        const rr_pf dx = p->dx[g], dy = p->dy[g], dz = p->dz[g];
        p->ix[g] = rr_safe_reciprocal16(dx);
        p->iy[g] = rr_safe_reciprocal16(dy);
        p->iz[g] = rr_safe_reciprocal16(dz);
        const rr_pf ax = kx == 0 ? dx : (kx == 1 ? dy : dz);
        const rr_pf ay = ky == 0 ? dx : (ky == 1 ? dy : dz);
        const rr_pf az = kz == 0 ? dx : (kz == 1 ? dy : dz);
        p->sx[g] = ax / az;
        p->sy[g] = ay / az;
        p->sz[g] = 1.0f / az;
    }

    rr_beams beams = rr_make_beams(p, varying);
    // A group whose origins' box, seen along the (first) direction, is wider than wideBeam
    // would test every leaf in its path with all 16 rays: it is left out (its rays stay
    // unanswered, for the caller to answer one by one; bit g of *wide). Empty groups have
    // tmax -inf.
    const float length = sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
    const float4 ex = fabs(beams.farX - beams.nearX), ey = fabs(beams.farY - beams.nearY),
                 ez = fabs(beams.farZ - beams.nearZ);
    const float4 section =
        (fabs(d[0]) / length) * (ey * ez) + (fabs(d[1]) / length) * (ex * ez) +
        (fabs(d[2]) / length) * (ex * ey);
    const int4 tooWide = (beams.tmax > -INFINITY) & (section > wideBeam);
    *wide = (tooWide.x & 1) | (tooWide.y & 2) | (tooWide.z & 4) | (tooWide.w & 8);
    // Of those, the groups wider still, whose rays share few nodes (bit g of *flight).
    const int4 spread = tooWide & (section > flightBeam);
    *flight = (spread.x & 1) | (spread.y & 2) | (spread.z & 4) | (spread.w & 8);
    if (*wide)
    {
        if (*wide == RR_ALL_GROUPS)
            return;
        for (int g = 0; g < RR_GROUPS; ++g)
            if (*wide & (1 << g))
                p->alive[g] = (rr_pi)(0);
        beams = rr_make_beams(p, varying);
    }
    // The groups whose beams reach the current node (all others, at the root: the root's
    // children are tested before anything is read from them).
    int4 groups = ~tooWide;
    int stack[RR_STACK_SIZE];
    int4 stackGroups[RR_STACK_SIZE];
    int sp = 0;
    int index = 0;
    while (1)
    {
        const rr_node node = nodes[index];
        float t0, t1;
        int4 groups0 =
            groups & rr_beams_hit_box(&beams, node.lo0, node.hi0, p->inv, &t0, varying);
        int4 groups1 =
            groups & rr_beams_hit_box(&beams, node.lo1, node.hi1, p->inv, &t1, varying);
        float4 lo0 = node.lo0, hi0 = node.hi0, lo1 = node.lo1, hi1 = node.hi1;
        if (t1 < t0)
        {
            // Nearer child first: occluders near the origins end rays early.
            const int4 g = groups0;
            groups0 = groups1;
            groups1 = g;
            lo0 = node.lo1;
            hi0 = node.hi1;
            lo1 = node.lo0;
            hi1 = node.hi0;
        }
        int next = -1;
        int4 nextGroups = (int4)(0);
        for (int c = 0; c < 2; ++c)
        {
            const int4 g = c == 0 ? groups0 : groups1;
            if (!rr_any4(g))
                continue;
            const float4 lo = c == 0 ? lo0 : lo1, hi = c == 0 ? hi0 : hi1;
            const int ref = as_int(lo.w), count = as_int(hi.w);
            if (count > 0)
            {
                if (rr_packet_leaf(p, lo, hi, g, varying, kz, triangles))
                {
                    int anyAlive = 0;
                    for (int k = 0; k < RR_GROUPS; ++k)
                        anyAlive |= rr_any16(p->alive[k]);
                    if (!anyAlive)
                        return;
                    // Occluded rays leave their beams, which may now miss more nodes.
                    beams = rr_make_beams(p, varying);
                }
            }
            else if (next < 0)
            {
                next = ref;
                nextGroups = g;
            }
            else
            {
                stack[sp] = ref;
                stackGroups[sp++] = g;
            }
        }
        if (next < 0)
        {
            if (sp == 0)
                return;
            --sp;
            next = stack[sp];
            nextGroups = stackGroups[sp];
        }
        index = next;
        groups = nextGroups;
    }
}

// Adds n to a work-item's counter of the given route (RR_ROUTE_PACKET, RR_ROUTE_SINGLE) where
// the service counts routes; otherwise nothing is counted or written.
#ifdef RR_COUNT_ROUTES
#define RR_COUNT_ROUTE(routes, route, n) ((routes)[(route)] += (n))
#else
#define RR_COUNT_ROUTE(routes, route, n) ((void)0)
#endif

// Answers the n <= RR_PACKET rays rays[base + offset..) into itemOut[offset..). When the live
// rays' directions share the dominant axis and the signs (as shadow rays toward a directional
// light, or neighbouring rays toward a point light, do), groups whose beams are narrow enough
// are traced together; a wide group (its origins' box, seen along the direction, wider than
// wideBeam) would test every leaf in its path with all 16 rays, so its rays are answered one by
// one, as are the rays of packets whose directions differ more. (rr_packet_occlusion measures
// the groups from the beams it makes anyway and leaves the wide ones out.) Rays answered one by
// one walk one at a time, each finding in the cache the nodes the ray before it read, unless
// flightBeam is finite (a tree beyond the caches): then the rays of packets of differing
// directions walk four at a time, and those of groups wider than flightBeam, whose neighbours
// share few nodes, are left for the caller to walk with the work-item's other such rays (their
// offsets appended to spreadList, *spreadCount of them). The first are often short walks
// (incoherent rays passing by the scene), the second long ones waiting for memory at nearly
// every step: more walks in flight made the second faster and the first slower. routes: this
// work-item's RR_ROUTES counters, read only where RR_COUNT_ROUTES is defined.
__attribute__((always_inline)) inline void
rr_answer_packet(__global const rr_ray* rays, int base, int offset, int n, int* itemOut,
                 int* spreadList, int* spreadCount, __global const rr_node* nodes,
                 __global const rr_triangle* triangles, int triangleCount,
                 __global const rr_wide_node* wideNodes, __global const rr_block* blocks,
                 float wideBeam, float flightBeam, __global int* routes)
{
    const int first = base + offset;
    int* out = itemOut + offset;
    float ox[RR_PACKET], oy[RR_PACKET], oz[RR_PACKET], tmax[RR_PACKET];
    float dx[RR_PACKET], dy[RR_PACKET], dz[RR_PACKET];
    int alive[RR_PACKET];
    float d[3] = {0.0f, 0.0f, 0.0f};
    // Packets need their live rays' directions to share the dominant axis and the signs.
    int haveDirection = 0, compatible = 1, shared = 1, axis = 0;
    int3 negative = (int3)(0);
    for (int i = 0; i < RR_PACKET; ++i)
    {
        alive[i] = 0;
        out[i] = -1;
        ox[i] = oy[i] = oz[i] = tmax[i] = 0.0f;
        if (i >= n)
            continue;
        __global const rr_ray* r = &rays[first + i];
        if (!r->active || triangleCount == 0)
            continue;
        const float dir[3] = {r->d[0], r->d[1], r->d[2]};
        alive[i] = -1;
        ox[i] = r->o[0];
        oy[i] = r->o[1];
        oz[i] = r->o[2];
        tmax[i] = r->maxt;
        if (!haveDirection)
        {
            d[0] = dir[0];
            d[1] = dir[1];
            d[2] = dir[2];
            axis = rr_dominant_axis(dir[0], dir[1], dir[2]);
            // The signs of rr_safe_reciprocal's results (a zero component counts as positive).
            negative = (int3)(dir[0] < 0.0f, dir[1] < 0.0f, dir[2] < 0.0f);
            haveDirection = 1;
        }
        else if (dir[0] != d[0] || dir[1] != d[1] || dir[2] != d[2])
        {
            shared = 0;
            const int3 neg = (int3)(dir[0] < 0.0f, dir[1] < 0.0f, dir[2] < 0.0f);
            compatible &= rr_dominant_axis(dir[0], dir[1], dir[2]) == axis &&
                          all(neg == negative) &&
                          (dir[0] != 0.0f || dir[1] != 0.0f || dir[2] != 0.0f);
            // The packet goes ray by ray, which reads nothing gathered here.
            if (!compatible)
                break;
        }
    }
    if (!compatible || (d[0] == 0.0f && d[1] == 0.0f && d[2] == 0.0f))
    {
        // Directions too different (or unusable): answer ray by ray.
        if (flightBeam < INFINITY)
        {
            int list[RR_PACKET];
            for (int i = 0; i < n; ++i)
                list[i] = i;
            rr_answer_rays4(rays, first, list, n, out, wideNodes, blocks, triangleCount);
        }
        else
            for (int i = 0; i < n; ++i)
                out[i] = rr_answer_ray(&rays[first + i], wideNodes, blocks, triangleCount);
        RR_COUNT_ROUTE(routes, RR_ROUTE_SINGLE, n);
        return;
    }
    int traced = 0;
    for (int i = 0; i < n; ++i)
        traced |= alive[i];
    int single = 0;
    if (traced)
    {
        int wide = 0, flight = 0;
        rr_packet packet;
        if (!shared)
        {
            for (int i = 0; i < RR_PACKET; ++i)
            {
                dx[i] = d[0];
                dy[i] = d[1];
                dz[i] = d[2];
                if (alive[i])
                {
                    dx[i] = rays[first + i].d[0];
                    dy[i] = rays[first + i].d[1];
                    dz[i] = rays[first + i].d[2];
                }
            }
            for (int g = 0; g < RR_GROUPS; ++g)
            {
                packet.dx[g] = vload16(g, dx);
                packet.dy[g] = vload16(g, dy);
                packet.dz[g] = vload16(g, dz);
            }
        }
        for (int g = 0; g < RR_GROUPS; ++g)
        {
            packet.ox[g] = vload16(g, ox);
            packet.oy[g] = vload16(g, oy);
            packet.oz[g] = vload16(g, oz);
            packet.tmax[g] = vload16(g, tmax);
            packet.alive[g] = vload16(g, alive);
            packet.result[g] = vload16(g, out);
        }
        // One specialised copy per dominant axis, and for one shared direction or several.
        if (shared)
        {
            if (axis == 0)
                rr_packet_occlusion(&packet, d, 0, 0, wideBeam, flightBeam, &wide, &flight, nodes,
                                    triangles);
            else if (axis == 1)
                rr_packet_occlusion(&packet, d, 0, 1, wideBeam, flightBeam, &wide, &flight, nodes,
                                    triangles);
            else
                rr_packet_occlusion(&packet, d, 0, 2, wideBeam, flightBeam, &wide, &flight, nodes,
                                    triangles);
        }
        else if (axis == 0)
            rr_packet_occlusion(&packet, d, 1, 0, wideBeam, flightBeam, &wide, &flight, nodes,
                                triangles);
        else if (axis == 1)
            rr_packet_occlusion(&packet, d, 1, 1, wideBeam, flightBeam, &wide, &flight, nodes,
                                triangles);
        else
            rr_packet_occlusion(&packet, d, 1, 2, wideBeam, flightBeam, &wide, &flight, nodes,
                                triangles);
        for (int g = 0; g < RR_GROUPS; ++g)
            vstore16(packet.result[g], g, out);
        // The groups too wide for a beam, ray by ray: one at a time where the group's rays are
        // close enough to find each other's nodes in the cache; in flight, with the work-item's
        // other such rays, where they are not.
        for (int g = 0; g < RR_GROUPS; ++g)
            if (wide & (1 << g))
                for (int i = g * RR_LANES; i < (g + 1) * RR_LANES; ++i)
                {
                    if (!alive[i])
                        continue;
                    ++single;
                    if (flight & (1 << g))
                        spreadList[(*spreadCount)++] = offset + i;
                    else
                        out[i] = rr_answer_ray(&rays[first + i], wideNodes, blocks, triangleCount);
                }
    }
    RR_COUNT_ROUTE(routes, RR_ROUTE_PACKET, n - single);
    RR_COUNT_ROUTE(routes, RR_ROUTE_SINGLE, single);
}

// One work-item per RR_ITEM_RAYS consecutive rays, answered in packets of RR_PACKET; the rays
// its packets leave to walks in flight walk together at the end, so that more walks overlap
// for longer than one packet's would. Where the service counts routes, routes holds RR_ROUTES
// counters per work-item (no atomics, which would wait for every store before them), summed
// when read.
__kernel __attribute__((reqd_work_group_size(1, 1, 1))) void
rr_occlusion_packets(__global const rr_ray* rays, int numrays, __global rr_intersection* hits,
                     __global const rr_node* nodes, __global const rr_triangle* triangles,
                     int triangleCount, __global const rr_wide_node* wideNodes,
                     __global const rr_block* blocks, float wideBeam, float flightBeam
#ifdef RR_COUNT_ROUTES
                     ,
                     __global int* routes
#endif
)
{
#ifdef RR_COUNT_ROUTES
    __global int* itemRoutes = routes + RR_ROUTES * get_global_id(0);
#else
    __global int* itemRoutes = 0;
#endif
    const int base = (int)get_global_id(0) * RR_ITEM_RAYS;
    const int n = min(RR_ITEM_RAYS, numrays - base);
    int out[RR_ITEM_RAYS], spreadList[RR_ITEM_RAYS];
    int spreadCount = 0;
    for (int offset = 0; offset < n; offset += RR_PACKET)
        rr_answer_packet(rays, base, offset, min(RR_PACKET, n - offset), out, spreadList,
                         &spreadCount, nodes, triangles, triangleCount, wideNodes, blocks,
                         wideBeam, flightBeam, itemRoutes);
    if (spreadCount > 0)
        rr_answer_rays8(rays, base, spreadList, spreadCount, out, wideNodes, blocks,
                        triangleCount);
    for (int i = 0; i < n; ++i)
        rr_store_hit(hits, base + i, out[i]);
}
