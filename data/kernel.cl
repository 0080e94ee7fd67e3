// The two kernels of the shadow pass, and two more for the per-pixel reference (at the end).
//
// "VertexShader" lights every vertex by the sky and the sun and writes one shadow ray
// per vertex toward the sun; the intersection library then tests the rays against the
// scene; "ShadowShader" takes the sun's light away from every vertex whose ray was
// blocked. Both run over a side x side range; work-item (x, y) handles vertex
// y * side + x, and the items past the last vertex do nothing.

// The vertex record of the host, the OpenGL buffer and these kernels: eleven floats.
typedef struct
{
    float position[3];
    float normal[3];
    float texCoord[2];
    float color[3];
} Vertex;

// The intersection library's records (48 and 32 bytes); the rr tests check these copies
// against the library's own, field by field.
typedef struct
{
    float o[3];
    float maxt;
    float d[3];
    float time;
    int mask;
    int active;
    int padding[2];
} Ray;

typedef struct
{
    int shapeid;
    int primid;
    int padding[2];
    float u, v, w, t;
} Intersection;

// Host-side argument types: three packed floats (an OpenCL float3 would be 16 bytes)
// and a column-major 4x4 matrix.
typedef struct
{
    float x, y, z;
} Float3;

typedef struct
{
    float m[16];
} Mat4;

// Sunlight is warm, the sky's light cool; the ground bounces a little warm light back.
#define SUN_COLOUR ((float3)(1.00f, 0.93f, 0.80f))
#define SKY_COLOUR ((float3)(0.42f, 0.48f, 0.62f))
#define GROUND_COLOUR ((float3)(0.26f, 0.23f, 0.20f))

// Shadow rays start a little off their surface, along the normal and toward the light,
// so that a vertex never finds the triangle it lies on; small against the scene's
// objects so that contact shadows where objects meet the ground stay closed.
#define NORMAL_OFFSET 0.004f
#define LIGHT_OFFSET 0.012f
#define RAY_LENGTH 1.0e4f

// Light from the sky dome, by how much of it the normal sees.
float3 SkyLight(float3 n)
{
    const float up = 0.5f + 0.5f * n.y;
    return mix(GROUND_COLOUR, SKY_COLOUR, up);
}

float3 Transform(const Mat4* m, float3 p, float w)
{
    return (float3)(m->m[0] * p.x + m->m[4] * p.y + m->m[8] * p.z + m->m[12] * w,
                    m->m[1] * p.x + m->m[5] * p.y + m->m[9] * p.z + m->m[13] * w,
                    m->m[2] * p.x + m->m[6] * p.y + m->m[10] * p.z + m->m[14] * w);
}

// The sun's share at a surface whose normal has cosine facing with the direction
// toward the light: Lambert's cosine, faded in over the last few degrees before the
// terminator so that the edge between lit and unlit stays soft on coarse curved surfaces.
float DirectLight(float facing)
{
    return facing > 0.0f ? facing * smoothstep(0.0f, 0.08f, facing) : 0.0f;
}

// The shadow ray of surface point p with unit normal n toward the light. A point turned
// away from the light (no direct light) is in its own shadow: its ray is inactive.
Ray ShadowRay(float3 p, float3 n, float3 toLight, float direct)
{
    Ray ray;
    const float3 origin = p + n * NORMAL_OFFSET + toLight * LIGHT_OFFSET;
    vstore3(origin, 0, ray.o);
    vstore3(toLight, 0, ray.d);
    ray.maxt = RAY_LENGTH;
    ray.time = 0.0f;
    ray.mask = -1;
    ray.active = direct > 0.0f ? 1 : 0;
    ray.padding[0] = 0;
    ray.padding[1] = 0;
    return ray;
}

__kernel void VertexShader(__global const Vertex* vertices, __global Vertex* shaded,
                           __global Ray* rays, int count, int width, int height, Mat4 world,
                           Float3 cameraPosition, Float3 cameraTarget, Float3 lightDirection)
{
    const int x = get_global_id(0);
    const int y = get_global_id(1);
    const int i = y * width + x;
    if (x >= width || y >= height || i >= count)
    {
        return;
    }

    const Vertex in = vertices[i];
    const float3 p = Transform(&world, vload3(0, in.position), 1.0f);
    const float3 n = normalize(Transform(&world, vload3(0, in.normal), 0.0f));
    const float3 toLight =
        -(float3)(lightDirection.x, lightDirection.y, lightDirection.z);
    const float direct = DirectLight(dot(n, toLight));
    const float3 colour = SkyLight(n) + SUN_COLOUR * direct;

    Vertex out = in;
    vstore3(p, 0, out.position);
    vstore3(n, 0, out.normal);
    vstore3(colour, 0, out.color);
    shaded[i] = out;
    rays[i] = ShadowRay(p, n, toLight, direct);
}

__kernel void ShadowShader(__global Vertex* shaded, __global const Intersection* hits, int count,
                           int width, int height)
{
    const int x = get_global_id(0);
    const int y = get_global_id(1);
    const int i = y * width + x;
    if (x >= width || y >= height || i >= count)
    {
        return;
    }
    if (hits[i].shapeid != -1)
    {
        // Blocked: only the sky's light is left.
        const float3 n = vload3(0, shaded[i].normal);
        vstore3(SkyLight(n), 0, shaded[i].color);
    }
}

// The per-pixel reference: one shadow ray from the surface point that each pixel shows
// (positions and normals in the frame's world space, as the raster pass drew them), made
// as "VertexShader" makes a vertex's, so that the two differ only in where the shadow is
// asked for. A pixel without a surface (position's w 0) sends no ray. Any work-group size.
__kernel void PixelShadowRays(__global const float4* positions, __global const float4* normals,
                              __global Ray* rays, int count, Float3 lightDirection)
{
    const int i = get_global_id(0);
    if (i >= count)
    {
        return;
    }
    const float4 position = positions[i];
    const float3 toLight =
        -(float3)(lightDirection.x, lightDirection.y, lightDirection.z);
    if (position.w == 0.0f)
    {
        rays[i] = ShadowRay(position.xyz, (float3)(0.0f, 1.0f, 0.0f), toLight, 0.0f);
        return;
    }
    const float3 n = normalize(normals[i].xyz);
    rays[i] = ShadowRay(position.xyz, n, toLight, DirectLight(dot(n, toLight)));
}

// Each pixel's answer as a byte: 255 where the sun reaches it (its ray found nothing, or
// it sent none), 0 where it is blocked. Any work-group size.
__kernel void PixelVisibility(__global const Intersection* hits, __global uchar* visible,
                              int count)
{
    const int i = get_global_id(0);
    if (i >= count)
    {
        return;
    }
    visible[i] = hits[i].shapeid == -1 ? 255 : 0;
}

// Refinement where the shadows fall. Every frame, after the shadow pass over the base
// triangles (vertices 3t, 3t+1, 3t+2 form triangle t), the triangles whose corners
// disagree about the sun, and their edge neighbours, are split into a regular grid of
// side x side sub-triangles whose vertices get rays of their own. The side is one of
// REFINE_LEVELS (2, 4, 8, 16...), the least whose sub-edges are no longer on screen than
// a given number of pixels. Each level keeps its split triangles in slots compacted by
// material group: level l's triangles of group g take the slots from
// offsets[l * (groups + 1) + g] on in that level's region, so that each group's split
// triangles of a level are one range of the level's fixed index pattern. Any work-group
// size.
#define REFINE_LEVELS 4

// Whether the sun reaches a base vertex: its ray was sent and found nothing.
int SunReaches(__global const Ray* rays, __global const Intersection* hits, int i)
{
    return rays[i].active && hits[i].shapeid == -1;
}

// A point's sun, as the refinement sees it: open (its ray found nothing), blocked (its ray
// hit something) or turned away (no ray: no direct light). Only an open point beside a
// blocked one marks a shadow's edge; where a surface turns away from the sun its direct
// light has already faded to nothing, so the shading needs no help there.
#define SUN_BLOCKED 0
#define SUN_OPEN 1
#define SUN_AWAY 2
int SunState(__global const Ray* rays, __global const Intersection* hits, int i)
{
    return !rays[i].active ? SUN_AWAY : (hits[i].shapeid == -1 ? SUN_OPEN : SUN_BLOCKED);
}

// Marks triangle t when one of its corners is open to the sun and another blocked, its
// edges' midpoints counted with them with probes (probeOf[3t + e]: the probe of edge e's
// midpoint); clears the levels' counters.
__kernel void RefineMark(__global const Ray* rays, __global const Intersection* hits,
                         __global uchar* marks, int triangles, __global int* counts,
                         int groups, __global int* levelTotals, int probes,
                         __global const int* probeOf, __global const Ray* probeRays,
                         __global const Intersection* probeHits)
{
    const int t = get_global_id(0);
    if (t < groups * REFINE_LEVELS)
    {
        counts[t] = 0;
    }
    if (t < REFINE_LEVELS)
    {
        levelTotals[t] = 0;
    }
    if (t >= triangles)
    {
        return;
    }
    int seen = 0;
    for (int k = 0; k < 3; ++k)
    {
        seen |= 1 << SunState(rays, hits, 3 * t + k);
        if (probes)
        {
            seen |= 1 << SunState(probeRays, probeHits, probeOf[3 * t + k]);
        }
    }
    const int edge = (1 << SUN_OPEN) | (1 << SUN_BLOCKED);
    marks[t] = (seen & edge) == edge ? 1 : 0;
}

// Whether triangle t or one of its edge neighbours (-1: none) is marked.
int MarkedOrBeside(__global const uchar* marks, __global const int* neighbours, int t)
{
    int mark = marks[t];
    for (int e = 0; e < 3; ++e)
    {
        const int n = neighbours[3 * t + e];
        mark |= n >= 0 && marks[n];
    }
    return mark != 0;
}

// One ring of dilation: a triangle is marked when it or an edge neighbour is.
__kernel void RefineDilate(__global const uchar* marks, __global const int* neighbours,
                           __global uchar* dilated, int triangles)
{
    const int t = get_global_id(0);
    if (t >= triangles)
    {
        return;
    }
    dilated[t] = MarkedOrBeside(marks, neighbours, t) ? 1 : 0;
}

// Where a point of the model lands on screen, in pixels; w <= 0 behind the eye.
float3 ScreenPoint(const Mat4* clip, float3 p, float width, float height)
{
    const float w = clip->m[3] * p.x + clip->m[7] * p.y + clip->m[11] * p.z + clip->m[15];
    const float3 q = Transform(clip, p, 1.0f);
    return (float3)(q.x / w * 0.5f * width, q.y / w * 0.5f * height, w);
}

// A triangle is split when it or an edge neighbour (-1: none) is marked. It takes the
// level its longest edge on screen asks for, or the next lower level whose slots are not
// all taken (the lowest level has a slot for every triangle), and the next place in its
// group there.
__kernel void RefineCount(__global const uchar* marks, __global const int* neighbours,
                          __global const int* triangleGroup, __global int* counts,
                          __global int* levelTotals, int4 capacities, __global int* places,
                          __global int* levels, int triangles, int groups,
                          __global const Vertex* vertices, Mat4 clip, float width, float height,
                          float edgePixels)
{
    const int t = get_global_id(0);
    if (t >= triangles)
    {
        return;
    }
    if (!MarkedOrBeside(marks, neighbours, t))
    {
        places[t] = -1;
        return;
    }
    const float3 a = ScreenPoint(&clip, vload3(0, vertices[3 * t].position), width, height);
    const float3 b = ScreenPoint(&clip, vload3(0, vertices[3 * t + 1].position), width, height);
    const float3 c = ScreenPoint(&clip, vload3(0, vertices[3 * t + 2].position), width, height);
    int level = REFINE_LEVELS - 1;
    if (a.z > 0.0f && b.z > 0.0f && c.z > 0.0f)
    {
        const float longest = max(max(distance(a.xy, b.xy), distance(b.xy, c.xy)),
                                  distance(c.xy, a.xy));
        level = 0;
        while (level < REFINE_LEVELS - 1 && (float)(2 << level) * edgePixels < longest)
        {
            ++level;
        }
    }
    const int capacity[REFINE_LEVELS] = {capacities.x, capacities.y, capacities.z,
                                         capacities.w};
    while (level > 0 && atomic_inc(&levelTotals[level]) >= capacity[level])
    {
        --level;
    }
    levels[t] = level;
    places[t] = atomic_inc(&counts[level * groups + triangleGroup[t]]);
}

// Each level's groups' first slots, and the level's total after its last group; one
// work-item.
__kernel void RefineOffsets(__global const int* counts, __global int* offsets, int groups)
{
    if (get_global_id(0) != 0)
    {
        return;
    }
    for (int l = 0; l < REFINE_LEVELS; ++l)
    {
        int sum = 0;
        for (int g = 0; g < groups; ++g)
        {
            offsets[l * (groups + 1) + g] = sum;
            sum += counts[l * groups + g];
        }
        offsets[l * (groups + 1) + groups] = sum;
    }
}

// Level l's slots begin at slotBases[l] in slots.
__kernel void RefinePlace(__global const int* places, __global const int* levels,
                          __global const int* triangleGroup, __global const int* offsets,
                          __global int* slots, int4 slotBases, int triangles, int groups)
{
    const int t = get_global_id(0);
    if (t >= triangles || places[t] < 0)
    {
        return;
    }
    const int l = levels[t];
    const int base[REFINE_LEVELS] = {slotBases.x, slotBases.y, slotBases.z, slotBases.w};
    slots[base[l] + offsets[l * (groups + 1) + triangleGroup[t]] + places[t]] = t;
}

// The point of base triangle t at barycentric (u, v) (from corner 0 toward corners 1 and
// 2), its attributes interpolated as loaded, then lit and given its shadow ray as
// "VertexShader" does a vertex.
Vertex SplitPoint(__global const Vertex* vertices, int t, float u, float v, const Mat4* world,
                  float3 toLight, Ray* ray)
{
    const float w = 1.0f - u - v;
    const Vertex a = vertices[3 * t];
    const Vertex b = vertices[3 * t + 1];
    const Vertex c = vertices[3 * t + 2];

    Vertex out;
    const float3 position =
        w * vload3(0, a.position) + u * vload3(0, b.position) + v * vload3(0, c.position);
    const float3 normal =
        w * vload3(0, a.normal) + u * vload3(0, b.normal) + v * vload3(0, c.normal);
    const float2 texCoord =
        w * vload2(0, a.texCoord) + u * vload2(0, b.texCoord) + v * vload2(0, c.texCoord);
    const float3 p = Transform(world, position, 1.0f);
    const float3 n = normalize(Transform(world, normal, 0.0f));
    const float direct = DirectLight(dot(n, toLight));
    vstore3(p, 0, out.position);
    vstore3(n, 0, out.normal);
    vstore2(texCoord, 0, out.texCoord);
    vstore3(SkyLight(n) + SUN_COLOUR * direct, 0, out.color);
    *ray = ShadowRay(p, n, toLight, direct);
    return out;
}

// Vertex j of a level's slot k (the level's slots from slots[slotBase] on, its vertices
// from shaded[first] and rays[first] on).
__kernel void RefineVertices(__global const Vertex* vertices, __global const int* slots,
                             int slotBase, __global Vertex* shaded, __global Ray* rays, int first,
                             int count, int side, Mat4 world, Float3 lightDirection)
{
    const int id = get_global_id(0);
    if (id >= count)
    {
        return;
    }
    const int perSlot = (side + 1) * (side + 2) / 2;
    const int k = id / perSlot;
    int j = id - k * perSlot;
    // Row i holds side + 1 - i vertices.
    int i = 0;
    while (j > side - i)
    {
        j -= side + 1 - i;
        ++i;
    }
    const float3 toLight =
        -(float3)(lightDirection.x, lightDirection.y, lightDirection.z);
    Ray ray;
    shaded[first + id] = SplitPoint(vertices, slots[slotBase + k], (float)i / (float)side,
                                    (float)j / (float)side, &world, toLight, &ray);
    rays[first + id] = ray;
}

// The probes: a ray from the midpoint of every distinct edge of the base triangles (edge e
// of triangle t, from corner e to corner e + 1, given as 3t + e), which finds a thin shadow
// or a thin gap that falls between the corners.
__kernel void RefineProbes(__global const Vertex* vertices, __global const int* probeEdges,
                           __global Ray* probeRays, int count, Mat4 world, Float3 lightDirection)
{
    const int id = get_global_id(0);
    if (id >= count)
    {
        return;
    }
    const int edge = probeEdges[id];
    const int t = edge / 3, e = edge - 3 * (edge / 3);
    // Barycentric (u, v) of the midpoints of edges 0-1, 1-2 and 2-0.
    const float u = e == 2 ? 0.0f : 0.5f;
    const float v = e == 0 ? 0.0f : 0.5f;
    const float3 toLight =
        -(float3)(lightDirection.x, lightDirection.y, lightDirection.z);
    Ray ray;
    SplitPoint(vertices, t, u, v, &world, toLight, &ray);
    probeRays[id] = ray;
}

// The refined vertices' shading: the sun's light taken away from every vertex whose ray
// was blocked, as "ShadowShader" does, and its sun (SunState) as a byte, for the cutting.
// Any work-group size.
__kernel void RefineShade(__global Vertex* shaded, __global const Ray* rays,
                          __global const Intersection* hits, __global uchar* visible, int count)
{
    const int i = get_global_id(0);
    if (i >= count)
    {
        return;
    }
    visible[i] = (uchar)SunState(rays, hits, i);
    if (hits[i].shapeid != -1)
    {
        vstore3(SkyLight(vload3(0, shaded[i].normal)), 0, shaded[i].color);
    }
}

// Cutting along the shadow's edge. A sub-triangle of the split grids whose corners
// disagree has one odd corner; the edge of the shadow crosses its two sides from that
// corner. On each of those sides the crossing is found by bisection, one ray a side a
// round, each round halving the stretch known to hold it (seen from the side's
// lower-numbered vertex, so that the two sub-triangles sharing a side send the same rays);
// the sub-triangle is then drawn as two pieces of one visibility each, the odd corner's
// triangle and the other corners' quad, split at the crossings. Interpolated shading then
// ends at the crossing line instead of ramping across the whole sub-edge.

// The surface point a fraction g of the way from vertex lo to vertex hi, lit as
// "VertexShader" lights a vertex (the sun's share times sun), with its shadow ray.
Vertex SidePoint(__global const Vertex* shaded, int lo, int hi, float g, float3 toLight,
                 float sun, Ray* ray)
{
    const Vertex p = shaded[lo];
    const Vertex q = shaded[hi];
    const float3 position = mix(vload3(0, p.position), vload3(0, q.position), g);
    const float3 n = normalize(mix(vload3(0, p.normal), vload3(0, q.normal), g));
    const float direct = DirectLight(dot(n, toLight));
    Vertex out;
    vstore3(position, 0, out.position);
    vstore3(n, 0, out.normal);
    vstore2(mix(vload2(0, p.texCoord), vload2(0, q.texCoord), g), 0, out.texCoord);
    vstore3(SkyLight(n) + SUN_COLOUR * direct * sun, 0, out.color);
    *ray = ShadowRay(position, n, toLight, direct);
    return out;
}

// Side s (0: a-b, 1: a-c) of a cut with corners (odd a, b, c): its ends, the lower-numbered
// first.
int2 CutSide(int4 corners, int s)
{
    const int other = s == 0 ? corners.y : corners.z;
    return (int2)(min(corners.x, other), max(corners.x, other));
}

// A side shared by two cut sub-triangles is bisected once. Its key, its lower end times 32
// plus the step to its higher end (under 32 in a grid of up to 16 sub-edges), goes into an
// open-addressing table of tableSize (a power of two, more than twice the sides) keys; the
// side that puts it there owns the side and sends its rays, a side that finds it there
// follows the owner's answers. Returns the key's place; *owner says which of the two.
int ClaimSide(__global int* keys, __global int* owners, int tableSize, int2 ends, int side,
              int* owner)
{
    const int key = ends.x * 32 + (ends.y - ends.x);
    uint place = ((uint)key * 2654435761u) & (uint)(tableSize - 1);
    for (;;)
    {
        const int found = atomic_cmpxchg(&keys[place], -1, key);
        if (found == -1)
        {
            owners[place] = side;
            *owner = 1;
            return (int)place;
        }
        if (found == key)
        {
            *owner = 0;
            return (int)place;
        }
        place = (place + 1) & (uint)(tableSize - 1);
    }
}

// Over the sub-triangles of one level's filled slots (count = slots x side^2; slot k's
// vertices from first + k * perSlot, its sub-triangles' corners from the level's index
// pattern): each with a corner open to the sun and another blocked takes the next cut
// (while fewer than capacity are taken) and the next place in its group, claims its two
// sides (sideKeys, sideOwners, sidePlaces: see ClaimSide), starts their bisection over the
// whole side and, for the sides it owns, sends the first round's rays, from the sides'
// midpoints (a followed side's ray is left inactive).
// cutCounts holds the groups' places and, after them, the cuts asked for.
__kernel void RefineCutMark(__global const uchar* visible, __global const Vertex* shaded,
                            __global const uint* pattern, int first, int perSlot, int subPerSlot,
                            int count, __global const int* slots, int slotBase,
                            __global const int* triangleGroup, __global int* cutCounts,
                            int groups, int capacity, __global int4* cuts,
                            __global int* cutPlaces, __global float2* stretches,
                            __global Ray* sampleRays, __global int* sideKeys,
                            __global int* sideOwners, __global int* sidePlaces, int tableSize,
                            Float3 lightDirection)
{
    const int id = get_global_id(0);
    if (id >= count)
    {
        return;
    }
    const int k = id / subPerSlot;
    const int q = id - k * subPerSlot;
    const int base = first + k * perSlot;
    const int c0 = base + (int)pattern[3 * q];
    const int c1 = base + (int)pattern[3 * q + 1];
    const int c2 = base + (int)pattern[3 * q + 2];
    const int seen = (1 << visible[c0]) | (1 << visible[c1]) | (1 << visible[c2]);
    const int edge = (1 << SUN_OPEN) | (1 << SUN_BLOCKED);
    if ((seen & edge) != edge)
    {
        return;
    }
    // Cut between the open corners and the rest: a corner turned away has no direct
    // light, as a blocked one.
    const int lit0 = visible[c0] == SUN_OPEN, lit1 = visible[c1] == SUN_OPEN,
              lit2 = visible[c2] == SUN_OPEN;
    const int cut = atomic_inc(&cutCounts[groups]);
    if (cut >= capacity)
    {
        return;
    }
    // The odd corner first, the others after it in winding order.
    int4 corners;
    if (lit0 == lit1)
    {
        corners = (int4)(c2, c0, c1, 0);
    }
    else if (lit0 == lit2)
    {
        corners = (int4)(c1, c2, c0, 0);
    }
    else
    {
        corners = (int4)(c0, c1, c2, 0);
    }
    const int group = triangleGroup[slots[slotBase + k]];
    corners.w = group;
    cuts[cut] = corners;
    cutPlaces[cut] = atomic_inc(&cutCounts[group]);

    const float3 toLight =
        -(float3)(lightDirection.x, lightDirection.y, lightDirection.z);
    for (int s = 0; s < 2; ++s)
    {
        const int2 ends = CutSide(corners, s);
        const int side = 2 * cut + s;
        int owner = 0;
        sidePlaces[side] = ClaimSide(sideKeys, sideOwners, tableSize, ends, side, &owner);
        Ray ray;
        SidePoint(shaded, ends.x, ends.y, 0.5f, toLight, 1.0f, &ray);
        ray.active = owner ? ray.active : 0;
        stretches[side] = (float2)(0.0f, 1.0f);
        sampleRays[side] = ray;
    }
}

// The groups' first places among the cuts, after the last group their total (the cuts
// taken, at most capacity) and after that the cuts asked for; then the counts are cleared
// for the next frame. One work-item.
__kernel void RefineCutOffsets(__global int* cutCounts, __global int* cutOffsets, int groups)
{
    if (get_global_id(0) != 0)
    {
        return;
    }
    int sum = 0;
    for (int g = 0; g < groups; ++g)
    {
        cutOffsets[g] = sum;
        sum += cutCounts[g];
        cutCounts[g] = 0;
    }
    cutOffsets[groups] = sum;
    cutOffsets[groups + 1] = cutCounts[groups];
    cutCounts[groups] = 0;
}

// One round of a side's bisection: the half of its stretch that holds the crossing, by
// whether the sun reached the last sample, the stretch's middle, as it reaches the side's
// lower-numbered end.
float2 Halve(float2 stretch, int loLit, __global const Ray* sampleRays,
             __global const Intersection* sampleHits, int i)
{
    const float middle = 0.5f * (stretch.x + stretch.y);
    return SunReaches(sampleRays, sampleHits, i) == loLit ? (float2)(middle, stretch.y)
                                                          : (float2)(stretch.x, middle);
}

// Side i of the cuts taken (cutOffsets[groups] of them), where it owns its side: halves
// its stretch by the last round's answer and sends the next round's ray, from the new
// stretch's middle.
__kernel void RefineCutStep(__global const uchar* visible, __global const Vertex* shaded,
                            __global const int4* cuts, __global const int* cutOffsets,
                            int groups, __global float2* stretches, __global Ray* sampleRays,
                            __global const Intersection* sampleHits,
                            __global const int* sideOwners, __global const int* sidePlaces,
                            Float3 lightDirection)
{
    const int i = get_global_id(0);
    if (i >= 2 * cutOffsets[groups] || sideOwners[sidePlaces[i]] != i)
    {
        return;
    }
    const int2 ends = CutSide(cuts[i / 2], i & 1);
    const float2 stretch =
        Halve(stretches[i], visible[ends.x] == SUN_OPEN, sampleRays, sampleHits, i);
    stretches[i] = stretch;
    const float3 toLight =
        -(float3)(lightDirection.x, lightDirection.y, lightDirection.z);
    Ray ray;
    SidePoint(shaded, ends.x, ends.y, 0.5f * (stretch.x + stretch.y), toLight, 1.0f, &ray);
    sampleRays[i] = ray;
}

// Cut c as three triangles (nine vertices) at its group's place among the pieces: the odd
// corner with the two crossings (the middles of the sides' last stretches), then the quad
// of the other two corners.
__kernel void RefineCut(__global const uchar* visible, __global const Vertex* shaded,
                        __global const int4* cuts, __global const int* cutPlaces,
                        __global const int* cutOffsets, int groups,
                        __global const float2* stretches, __global const Ray* sampleRays,
                        __global const Intersection* sampleHits,
                        __global const int* sideOwners, __global const int* sidePlaces,
                        __global Vertex* pieces, Float3 lightDirection)
{
    const int cut = get_global_id(0);
    if (cut >= cutOffsets[groups])
    {
        return;
    }
    const int4 corners = cuts[cut];
    const float oddSun = visible[corners.x] == SUN_OPEN ? 1.0f : 0.0f;
    const float3 toLight =
        -(float3)(lightDirection.x, lightDirection.y, lightDirection.z);
    Ray unused;
    Vertex odd[2], other[2];
    for (int s = 0; s < 2; ++s)
    {
        const int2 ends = CutSide(corners, s);
        const int i = sideOwners[sidePlaces[2 * cut + s]];
        const float2 stretch =
            Halve(stretches[i], visible[ends.x] == SUN_OPEN, sampleRays, sampleHits, i);
        const float g = 0.5f * (stretch.x + stretch.y);
        odd[s] = SidePoint(shaded, ends.x, ends.y, g, toLight, oddSun, &unused);
        other[s] = SidePoint(shaded, ends.x, ends.y, g, toLight, 1.0f - oddSun, &unused);
    }
    __global Vertex* piece = pieces + (size_t)(cutOffsets[corners.w] + cutPlaces[cut]) * 9;
    piece[0] = shaded[corners.x];
    piece[1] = odd[0];
    piece[2] = odd[1];
    piece[3] = other[0];
    piece[4] = shaded[corners.y];
    piece[5] = shaded[corners.z];
    piece[6] = other[0];
    piece[7] = shaded[corners.z];
    piece[8] = other[1];
}

// Empties the table's places that the cuts taken claimed, for the next frame.
__kernel void RefineCutRelease(__global const int* cutOffsets, int groups,
                               __global int* sideKeys, __global const int* sidePlaces)
{
    const int i = get_global_id(0);
    if (i < 2 * cutOffsets[groups])
    {
        sideKeys[sidePlaces[i]] = -1;
    }
}
