// Packet traversal for CPU devices: one work-item answers RR_PACKET consecutive rays. When they
// share one direction (as shadow rays toward a directional light do), the work-item walks the
// BVH once for all of them: inner nodes are culled against the beam that bounds the packet
// (scalar work, one decision per node), and leaves are tested ray by ray with 16-wide vector
// arithmetic as straight-line code. PoCL turns float16 into AVX-512 (or pairs of AVX2)
// instructions; a per-ray traversal loop would run as scalar code. Rays next to each other in
// the array are expected to be near each other in space; when they are not, answers stay
// right and only the beam grows loose.

#define RR_LANES 16
#define RR_GROUPS 4
#define RR_PACKET (RR_LANES * RR_GROUPS)

typedef float16 rr_pf;
typedef int16 rr_pi;

// The packet's live rays bundled as a beam: the box of their origins and the longest tmax.
// All rays share the direction, so the parameter interval over which any of them can be in a
// box is bounded by slab distances between the box and the far and near corners of the origin
// box. Conservative: rounding is monotone, so the beam's interval contains each ray's.
typedef struct
{
    float3 lo, hi;
    float tmax;
} rr_beam;

inline int rr_beam_hit_box(const rr_beam* b, float4 lo, float4 hi, float4 inv, float* tnear)
{
    const float nx = inv.x >= 0.0f ? lo.x - b->hi.x : hi.x - b->lo.x;
    const float fx = inv.x >= 0.0f ? hi.x - b->lo.x : lo.x - b->hi.x;
    const float ny = inv.y >= 0.0f ? lo.y - b->hi.y : hi.y - b->lo.y;
    const float fy = inv.y >= 0.0f ? hi.y - b->lo.y : lo.y - b->hi.y;
    const float nz = inv.z >= 0.0f ? lo.z - b->hi.z : hi.z - b->lo.z;
    const float fz = inv.z >= 0.0f ? hi.z - b->lo.z : lo.z - b->hi.z;
    const float tn = max(max(nx * inv.x, ny * inv.y), max(nz * inv.z, 0.0f));
    const float tf = min(min(fx * inv.x, fy * inv.y), min(fz * inv.z, b->tmax));
    *tnear = tn;
    return tn <= tf * 1.0000004f;
}

// Lanes whose ray meets the box within [0, tmax] (the single-ray slab test, 16 rays at once).
inline rr_pi rr_packet_hit_box(float4 lo, float4 hi, rr_pf ox, rr_pf oy, rr_pf oz, float4 inv,
                               rr_pf tmax)
{
    const float nx = inv.x >= 0.0f ? lo.x : hi.x, fx = inv.x >= 0.0f ? hi.x : lo.x;
    const float ny = inv.y >= 0.0f ? lo.y : hi.y, fy = inv.y >= 0.0f ? hi.y : lo.y;
    const float nz = inv.z >= 0.0f ? lo.z : hi.z, fz = inv.z >= 0.0f ? hi.z : lo.z;
    const rr_pf tn = max(max((nx - ox) * inv.x, (ny - oy) * inv.y), max((nz - oz) * inv.z, 0.0f));
    const rr_pf tf = min(min((fx - ox) * inv.x, (fy - oy) * inv.y), min((fz - oz) * inv.z, tmax));
    return tn <= tf * 1.0000004f;
}

// The watertight test of rr_hit_triangle for 16 rays of one direction; px, py, pz are the
// origins already permuted to the (kx, ky, kz) frame, and so are the corners. Same arithmetic
// in the same order, so the packet path answers exactly as the single-ray path does.
inline rr_pi rr_packet_hit_triangle(float3 a, float3 b, float3 c, rr_pf px, rr_pf py, rr_pf pz,
                                    float sx, float sy, float sz, rr_pf tmax)
{
    const rr_pf az = a.z - pz, bz = b.z - pz, cz = c.z - pz;
    const rr_pf ax = (a.x - px) - sx * az, ay = (a.y - py) - sy * az;
    const rr_pf bx = (b.x - px) - sx * bz, by = (b.y - py) - sy * bz;
    const rr_pf cx = (c.x - px) - sx * cz, cy = (c.y - py) - sy * cz;
    const rr_pf u = cx * by - cy * bx;
    const rr_pf v = ax * cy - ay * cx;
    const rr_pf w = bx * ay - by * ax;
    const rr_pi outside = (min(min(u, v), w) < 0.0f) & (max(max(u, v), w) > 0.0f);
    const rr_pf det = u + v + w;
    const rr_pf t = u * (sz * az) + v * (sz * bz) + w * (sz * cz);
    // 0 < t / det < tmax: flip t's sign with det's and compare against tmax * |det|.
    const rr_pi sign = as_int16(det) & (rr_pi)0x80000000;
    const rr_pf st = as_float16(as_int16(t) ^ sign);
    return ~outside & (det != 0.0f) & (st > 0.0f) & (st < tmax * fabs(det));
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

inline float3 rr_permute(float4 v, int kx, int ky, int kz)
{
    return (float3)(rr_component(v, kx), rr_component(v, ky), rr_component(v, kz));
}

// The beam of the live lanes; an empty box when none lives.
inline rr_beam rr_make_beam(const rr_pf* ox, const rr_pf* oy, const rr_pf* oz,
                            const rr_pf* tmax, const rr_pi* alive)
{
    const rr_pf big = (rr_pf)(INFINITY);
    rr_pf lx = big, ly = big, lz = big, hx = -big, hy = -big, hz = -big, ht = -big;
    for (int g = 0; g < RR_GROUPS; ++g)
    {
        lx = min(lx, select(big, ox[g], alive[g]));
        ly = min(ly, select(big, oy[g], alive[g]));
        lz = min(lz, select(big, oz[g], alive[g]));
        hx = max(hx, select(-big, ox[g], alive[g]));
        hy = max(hy, select(-big, oy[g], alive[g]));
        hz = max(hz, select(-big, oz[g], alive[g]));
        ht = max(ht, select(-big, tmax[g], alive[g]));
    }
    rr_beam b;
    b.lo = (float3)(rr_min16(lx), rr_min16(ly), rr_min16(lz));
    b.hi = (float3)(rr_max16(hx), rr_max16(hy), rr_max16(hz));
    b.tmax = rr_max16(ht);
    return b;
}

// Any-hit traversal of one packet; writes per lane the occluding shape's id or -1 into result.
// kz is a compile-time constant at each call, so the component choices fold away.
__attribute__((always_inline)) inline void
rr_packet_occlusion(const rr_pf* ox, const rr_pf* oy, const rr_pf* oz, const rr_pf* tmax,
                    rr_pi* alive, rr_pi* result, const float* d, const int kz,
                    __global const rr_node* nodes, __global const rr_triangle* triangles)
{
    const int kx = kz == 2 ? 0 : kz + 1;
    const int ky = kx == 2 ? 0 : kx + 1;
    const float4 inv = (float4)(rr_safe_reciprocal(d[0]), rr_safe_reciprocal(d[1]),
                                rr_safe_reciprocal(d[2]), 0.0f);
    const float sx = d[kx] / d[kz], sy = d[ky] / d[kz], sz = 1.0f / d[kz];
    rr_pf px[RR_GROUPS], py[RR_GROUPS], pz[RR_GROUPS];
    for (int g = 0; g < RR_GROUPS; ++g)
    {
        px[g] = kx == 0 ? ox[g] : (kx == 1 ? oy[g] : oz[g]);
        py[g] = ky == 0 ? ox[g] : (ky == 1 ? oy[g] : oz[g]);
        pz[g] = kz == 0 ? ox[g] : (kz == 1 ? oy[g] : oz[g]);
    }

    rr_beam beam = rr_make_beam(ox, oy, oz, tmax, alive);
    float tn, tn2;
    rr_node node = nodes[0];
    if (!rr_beam_hit_box(&beam, node.lo, node.hi, inv, &tn))
        return;
    int stack[RR_STACK_SIZE];
    int sp = 0;
    int index = 0;
    while (1)
    {
        node = nodes[index];
        const int first = as_int(node.lo.w);
        const int count = as_int(node.hi.w);
        if (count > 0)
        {
            // Which rays of each group reach this leaf at all.
            rr_pi reach[RR_GROUPS];
            int any_reach = 0;
            for (int g = 0; g < RR_GROUPS; ++g)
            {
                reach[g] = alive[g] & rr_packet_hit_box(node.lo, node.hi, ox[g], oy[g], oz[g],
                                                        inv, tmax[g]);
                any_reach |= any(reach[g]);
            }
            if (any_reach)
            {
                int hitSome = 0;
                for (int i = first; i < first + count; ++i)
                {
                    const rr_triangle tri = triangles[i];
                    const float3 a = rr_permute(tri.v0, kx, ky, kz);
                    const float3 b = rr_permute(tri.v1, kx, ky, kz);
                    const float3 c = rr_permute(tri.v2, kx, ky, kz);
                    const rr_pi id = (rr_pi)as_int(tri.v0.w);
                    for (int g = 0; g < RR_GROUPS; ++g)
                    {
                        if (!any(reach[g]))
                            continue;
                        const rr_pi hit = reach[g] & rr_packet_hit_triangle(a, b, c, px[g], py[g],
                                                                            pz[g], sx, sy, sz,
                                                                            tmax[g]);
                        result[g] = select(result[g], id, hit);
                        reach[g] &= ~hit;
                        alive[g] &= ~hit;
                        hitSome |= any(hit);
                    }
                }
                if (hitSome)
                {
                    int any_alive = 0;
                    for (int g = 0; g < RR_GROUPS; ++g)
                        any_alive |= any(alive[g]);
                    if (!any_alive)
                        return;
                    // Occluded rays leave the beam, which may now miss more nodes.
                    beam = rr_make_beam(ox, oy, oz, tmax, alive);
                }
            }
        }
        else
        {
            const rr_node left = nodes[first], right = nodes[first + 1];
            const int hitLeft = rr_beam_hit_box(&beam, left.lo, left.hi, inv, &tn);
            const int hitRight = rr_beam_hit_box(&beam, right.lo, right.hi, inv, &tn2);
            if (hitLeft && hitRight)
            {
                // Nearer child first: occluders near the origins end rays early.
                const int nearFirst = tn <= tn2;
                stack[sp++] = nearFirst ? first + 1 : first;
                index = nearFirst ? first : first + 1;
                continue;
            }
            if (hitLeft || hitRight)
            {
                index = hitLeft ? first : first + 1;
                continue;
            }
        }
        if (sp == 0)
            return;
        index = stack[--sp];
    }
}

__kernel __attribute__((reqd_work_group_size(1, 1, 1))) void
rr_occlusion_packets(__global const rr_ray* rays, int numrays, __global rr_intersection* hits,
                     __global const rr_node* nodes, __global const rr_triangle* triangles,
                     int triangleCount)
{
    const int base = (int)get_global_id(0) * RR_PACKET;
    const int n = min(RR_PACKET, numrays - base);
    float ox[RR_PACKET], oy[RR_PACKET], oz[RR_PACKET], tmax[RR_PACKET];
    int alive[RR_PACKET];
    float d[3] = {0.0f, 0.0f, 0.0f};
    int haveDirection = 0, shared = 1;
    for (int i = 0; i < RR_PACKET; ++i)
    {
        alive[i] = 0;
        ox[i] = oy[i] = oz[i] = tmax[i] = 0.0f;
        if (i >= n)
            continue;
        __global const rr_ray* r = &rays[base + i];
        if (!r->active || triangleCount == 0)
            continue;
        alive[i] = -1;
        ox[i] = r->o[0];
        oy[i] = r->o[1];
        oz[i] = r->o[2];
        tmax[i] = r->maxt;
        if (!haveDirection)
        {
            d[0] = r->d[0];
            d[1] = r->d[1];
            d[2] = r->d[2];
            haveDirection = 1;
        }
        shared &= r->d[0] == d[0] && r->d[1] == d[1] && r->d[2] == d[2];
    }
    if (!shared || (d[0] == 0.0f && d[1] == 0.0f && d[2] == 0.0f))
    {
        // Directions differ (or are unusable): answer ray by ray.
        for (int i = 0; i < n; ++i)
            hits[base + i].shapeid =
                rr_answer_ray(&rays[base + i], nodes, triangles, triangleCount);
        return;
    }
    rr_pf vox[RR_GROUPS], voy[RR_GROUPS], voz[RR_GROUPS], vtmax[RR_GROUPS];
    rr_pi valive[RR_GROUPS], result[RR_GROUPS];
    for (int g = 0; g < RR_GROUPS; ++g)
    {
        vox[g] = vload16(g, ox);
        voy[g] = vload16(g, oy);
        voz[g] = vload16(g, oz);
        vtmax[g] = vload16(g, tmax);
        valive[g] = vload16(g, alive);
        result[g] = (rr_pi)(-1);
    }
    const int kz = rr_dominant_axis(d[0], d[1], d[2]);
    if (kz == 0)
        rr_packet_occlusion(vox, voy, voz, vtmax, valive, result, d, 0, nodes, triangles);
    else if (kz == 1)
        rr_packet_occlusion(vox, voy, voz, vtmax, valive, result, d, 1, nodes, triangles);
    else
        rr_packet_occlusion(vox, voy, voz, vtmax, valive, result, d, 2, nodes, triangles);
    int out[RR_PACKET];
    for (int g = 0; g < RR_GROUPS; ++g)
        vstore16(result[g], g, out);
    for (int i = 0; i < n; ++i)
        hits[base + i].shapeid = out[i];
}
