#pragma once
// Refinement where the shadows fall: after the shadow pass, the base triangles with a
// corner open to the sun and another whose ray was blocked (a corner turned away from the
// sun sides with neither: its direct light has faded out already), and their edge
// neighbours, are split on the device into
// a regular grid of sub-triangles whose vertices get shadow rays of their own. The split
// triangles are drawn over the base mesh, which is pushed back in depth, so that where a
// split triangle meets an unsplit one any gap shows the base triangle, never the
// background.
//
// The splitting, the compaction and the cutting run as kernels. The drawn counts and the
// refined vertices reach OpenGL through the host: two small reads of the groups' offsets
// (the split triangles', the cut ones'), then one copy of the refined vertices and one of
// the cut pieces, whatever path the base vertices take.
#include "app/FrameStatistics.h"
#include "app/KernelCalls.h"
#include "app/ShadowPass.h"
#include "clw/CLW.h"
#include "rr/radeon_rays.h"
#include "scene/GlObject.h"
#include "scene/Model.h"
#include "scene/VectorTypes.h"
#include "scene/Vertex.h"

#include <memory>
#include <vector>

// Per triangle of an unindexed triangle list (vertices 3t, 3t+1, 3t+2), the triangles
// across its three edges (edge e runs from corner e to corner e + 1), matched by equal
// end positions over the whole list; -1 where no other triangle shares the edge.
std::vector<int> EdgeNeighbours(const VertexArray& vertices);

// The grid of a split triangle with `side` sub-edges along each edge: its vertices row by
// row (row i from corner 0 toward corner 1 holds side + 1 - i vertices, from the edge
// toward corner 2) and its side * side sub-triangles, wound as the base triangle is.
int RefinedVerticesPerTriangle(int side);
std::vector<unsigned> RefinedTrianglePattern(int side);

// How far forward the cut pieces are drawn over their sub-triangles, and how far back the
// base mesh under the split triangles, in units of the depth buffer's resolution.
constexpr float kCutPieceDepthOffset = 2.0f;
constexpr float kRefinedMeshDepthOffset = 8.0f;

// The split triangles' levels: level l has 2 << l sub-edges per base edge.
constexpr int kRefinementLevels = 4;

class Refinement
{
public:
    // Triangles up to rings edge-neighbours away from a marked one are split too (at least
    // one). A split triangle's sub-edges are made about edgePixels long on screen, up to
    // 2 << (kRefinementLevels - 1) per base edge. The lowest level has a slot for every
    // triangle of the scene, each higher level slots for up to vertexBudget vertices;
    // a triangle that finds its level full takes a lower one. Throws the OpenCL wrapper's
    // exceptions.
    //
    // With probes a triangle is marked too when the midpoint of one of its edges, given a
    // ray of its own each frame (one a distinct edge), is open where a corner is blocked or
    // the other way round: a thin shadow or gap between the corners is found at the density
    // of a mesh split once.
    //
    // Then every sub-triangle with an open and a blocked corner is cut along the sun's edge
    // (between its open corners and the others) into a lit
    // and a shadowed piece drawn over it; the edge's crossings of its two sides are found
    // by cutRounds rounds of bisection (to within 2^-(cutRounds + 1) of the side), one ray
    // a side a round. Up to cutCapacity sub-triangles are cut a frame (none when 0); the
    // rest keep their interpolated shading.
    Refinement(const CLWContext& context, const CLWProgram& program,
               RadeonRays::IntersectionApi* api, const Model& model, const DeviceScene& scene,
               float edgePixels, int vertexBudget, int rings = 1, int cutCapacity = 0,
               int cutRounds = 3, bool probes = false);
    ~Refinement();

    Refinement(const Refinement&) = delete;
    Refinement& operator=(const Refinement&) = delete;

    // After RunShadowPass with shadows cast, for the same world matrix and light, and the
    // frame's projection times view for a drawable of width x height: marks, compacts and
    // splits, traces the new vertices' rays and shades them, and brings them to OpenGL.
    // Adds its time to the stages of times (the splitting to ray generation, its queries
    // to occlusion, its shading to shadow write, its copy to transfer).
    void Run(const DeviceScene& scene, const Mat4& world, const Mat4& viewProj, int width,
             int height, const Float3& lightDirection, FrameSample* times = nullptr);
    // Draws the split triangles with program, which the caller has made current with its
    // "matViewProj" set, with the groups' textures of model; then the cut pieces over
    // them, pulled a little forward in depth.
    void Draw(const Model& model, GLuint program) const;

    // The split triangles' vertices of the last Run, as drawn, all levels one after the
    // other, read back from the device.
    std::vector<_Vertex> ReadVertices() const;
    // The triangles split by the last Run, all levels together.
    int SplitTriangles() const;
    // The vertices the last Run made.
    int RefinedVertices() const;
    // The sub-triangles the last Run cut, and those it found to cut (more when the
    // capacity was short).
    int Cuts() const { return m_cutOffsets.empty() ? 0 : m_cutOffsets.back(); }
    int CutsWanted() const { return m_cutsWanted; }

private:
    struct Level
    {
        int side = 0;
        int perSlot = 0;
        int capacity = 0;
        int slotBase = 0;
        GlBuffer indexBuffer;
        // The same pattern for the cutting, per slot (vertex numbers within the slot).
        CLWBuffer<cl_uint> pattern;
        // The slots filled by the last Run, and where their vertices begin: the levels'
        // vertices follow one another in the shared buffers.
        int filled = 0;
        int firstVertex = 0;
    };

    void Cut(const Float3& lightDirection, FrameSample& stages);

    // Level l's group g: its first slot and its slots in the last Run.
    int Offset(int l, int g) const
    {
        return m_offsets[static_cast<size_t>(l * (m_groups + 1) + g)];
    }

    CLWContext m_context;
    CLWProgram m_program;
    RadeonRays::IntersectionApi* m_api;
    float m_edgePixels;
    int m_rings;
    int m_triangles;
    int m_groups;

    CLWBuffer<int> m_neighbours;
    CLWBuffer<int> m_triangleGroup;
    // The probes: one a distinct edge of the base triangles, probeOf mapping each
    // triangle's edges to theirs.
    int m_probeCount = 0;
    CLWBuffer<int> m_probeEdges;
    CLWBuffer<int> m_probeOf;
    RayBatch m_probes;
    CLWBuffer<cl_uchar> m_marks;
    CLWBuffer<cl_uchar> m_dilated;
    CLWBuffer<int> m_counts;
    CLWBuffer<int> m_levelTotals;
    CLWBuffer<int> m_places;
    CLWBuffer<int> m_levelOf;
    CLWBuffer<int> m_offsetBuffer;
    CLWBuffer<int> m_slots;
    Level m_levels[kRefinementLevels];
    CLWBuffer<_Vertex> m_shaded;
    CLWBuffer<cl_uchar> m_visible;
    RayBatch m_refined;
    GlBuffer m_vertexBuffer;
    std::vector<int> m_offsets;

    // The cuts: their corners (odd one first) and group, their places in their groups, the
    // stretches of their two sides still holding the crossing and the sides' sample rays
    // (two a cut), and the pieces' vertices (nine a cut), group by group.
    int m_cutCapacity;
    int m_cutRounds;
    int m_cutsWanted = 0;
    CLWBuffer<int> m_cutCounts;
    CLWBuffer<int> m_cutOffsetBuffer;
    CLWBuffer<cl_int4> m_cuts;
    CLWBuffer<int> m_cutPlaces;
    CLWBuffer<cl_float2> m_stretches;
    // The sides' table: keys (-1: empty), each key's owning side, and each side's place.
    int m_sideTableSize = 0;
    CLWBuffer<int> m_sideKeys;
    CLWBuffer<int> m_sideOwners;
    CLWBuffer<int> m_sidePlaces;
    RayBatch m_samples;
    CLWBuffer<_Vertex> m_pieces;
    GlBuffer m_pieceBuffer;
    std::vector<int> m_cutOffsets;
};
