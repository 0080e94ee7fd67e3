// Packet traversal for CPU devices: one work-item answers 16 consecutive rays. When they share
// one direction (as shadow rays toward a directional light do), the work-item walks the BVH
// once for all of them with 16-wide vector arithmetic: one decision per node for the whole
// packet, the per-ray work as straight-line vector code. PoCL turns float16 into AVX-512 (or
// pairs of AVX2) instructions; a per-ray traversal loop would run as scalar code.

#define RR_PACKET 16

typedef float16 rr_pf;
typedef int16 rr_pi;

// Lanes of the packet whose ray meets the box within [0, tmax]. All rays share the direction,
// so the near and far planes of each slab are the same for every lane and chosen once.
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
// origins already permuted to the (kx, ky, kz) frame, vertices are permuted here. Same
// arithmetic, same order, so the packet path answers exactly as the single-ray path does.
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
    const rr_pf adet = fabs(det);
    return ~outside & (det != 0.0f) & (st > 0.0f) & (st < tmax * adet);
}

inline float3 rr_permute(float4 v, int kx, int ky, int kz)
{
    return (float3)(rr_component(v, kx), rr_component(v, ky), rr_component(v, kz));
}

// Any-hit traversal of one packet; returns per lane the occluding shape's id or -1. kz is a
// compile-time constant at each call, so the component choices fold away.
__attribute__((always_inline)) inline rr_pi
rr_packet_occlusion(rr_pf ox, rr_pf oy, rr_pf oz, rr_pf tmax, rr_pi alive, const float* d,
                    const int kz, __global const rr_node* nodes,
                    __global const rr_triangle* triangles)
{
    const int kx = kz == 2 ? 0 : kz + 1;
    const int ky = kx == 2 ? 0 : kx + 1;
    const float4 inv = (float4)(rr_safe_reciprocal(d[0]), rr_safe_reciprocal(d[1]),
                                rr_safe_reciprocal(d[2]), 0.0f);
    const float sx = d[kx] / d[kz], sy = d[ky] / d[kz], sz = 1.0f / d[kz];
    const rr_pf px = kx == 0 ? ox : (kx == 1 ? oy : oz);
    const rr_pf py = ky == 0 ? ox : (ky == 1 ? oy : oz);
    const rr_pf pz = kz == 0 ? ox : (kz == 1 ? oy : oz);

    rr_pi result = (rr_pi)(-1);
    rr_node node = nodes[0];
    if (!any(rr_packet_hit_box(node.lo, node.hi, ox, oy, oz, inv, tmax) & alive))
        return result;
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
            for (int i = first; i < first + count; ++i)
            {
                const rr_triangle tri = triangles[i];
                const rr_pi hit =
                    rr_packet_hit_triangle(rr_permute(tri.v0, kx, ky, kz),
                                           rr_permute(tri.v1, kx, ky, kz),
                                           rr_permute(tri.v2, kx, ky, kz), px, py, pz, sx, sy,
                                           sz, tmax) &
                    alive;
                result = select(result, (rr_pi)as_int(tri.v0.w), hit);
                alive &= ~hit;
            }
            if (!any(alive))
                return result;
        }
        else
        {
            const rr_node left = nodes[first], right = nodes[first + 1];
            const int hitLeft =
                any(rr_packet_hit_box(left.lo, left.hi, ox, oy, oz, inv, tmax) & alive);
            const int hitRight =
                any(rr_packet_hit_box(right.lo, right.hi, ox, oy, oz, inv, tmax) & alive);
            if (hitLeft && hitRight)
            {
                stack[sp++] = first + 1;
                index = first;
                continue;
            }
            if (hitLeft || hitRight)
            {
                index = hitLeft ? first : first + 1;
                continue;
            }
        }
        if (sp == 0)
            return result;
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
    const rr_pf vox = vload16(0, ox), voy = vload16(0, oy), voz = vload16(0, oz);
    const rr_pf vtmax = vload16(0, tmax);
    const rr_pi valive = vload16(0, alive);
    const int kz = rr_dominant_axis(d[0], d[1], d[2]);
    rr_pi result;
    if (kz == 0)
        result = rr_packet_occlusion(vox, voy, voz, vtmax, valive, d, 0, nodes, triangles);
    else if (kz == 1)
        result = rr_packet_occlusion(vox, voy, voz, vtmax, valive, d, 1, nodes, triangles);
    else
        result = rr_packet_occlusion(vox, voy, voz, vtmax, valive, d, 2, nodes, triangles);
    int out[RR_PACKET];
    vstore16(result, 0, out);
    for (int i = 0; i < n; ++i)
        hits[base + i].shapeid = out[i];
}
