#pragma once
// Refinement where the shadows fall: after the shadow pass, the base triangles whose
// corners disagree about the sun, and their edge neighbours, are split on the device into
// a regular grid of sub-triangles whose vertices get shadow rays of their own. The split
// triangles are drawn over the base mesh, which is pushed back in depth, so that where a
// split triangle meets an unsplit one any gap shows the base triangle, never the
// background.
//
// The splitting and the compaction run as kernels. The drawn counts and the refined
// vertices reach OpenGL through the host: one small read of the groups' offsets, then one
// copy of the refined vertices, whatever path the base vertices take.
#include "app/FrameStatistics.h"
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
std::vector<int> EdgeNeighbours(const std::vector<_Vertex>& vertices);

// The grid of a split triangle with `side` sub-edges along each edge: its vertices row by
// row (row i from corner 0 toward corner 1 holds side + 1 - i vertices, from the edge
// toward corner 2) and its side * side sub-triangles, wound as the base triangle is.
int RefinedVerticesPerTriangle(int side);
std::vector<unsigned> RefinedTrianglePattern(int side);

class Refinement
{
public:
    // Sized for every triangle of the scene split at once; side sub-edges per base edge.
    // Throws the OpenCL wrapper's exceptions.
    Refinement(const CLWContext& context, const CLWProgram& program,
               RadeonRays::IntersectionApi* api, const Model& model, const DeviceScene& scene,
               int side);
    ~Refinement();

    Refinement(const Refinement&) = delete;
    Refinement& operator=(const Refinement&) = delete;

    // After RunShadowPass with shadows cast, for the same world matrix and light: marks,
    // compacts and splits, traces the new vertices' rays and shades them, and brings them
    // to OpenGL. Adds its time to the stages of times (the splitting to ray generation,
    // its query to occlusion, its shading to shadow write, its copy to transfer).
    void Run(const DeviceScene& scene, const Mat4& world, const Float3& lightDirection,
             FrameSample* times = nullptr);
    // Draws the split triangles with program, which the caller has made current with its
    // "matViewProj" set, with the groups' textures of model.
    void Draw(const Model& model, GLuint program) const;

    // The split triangles' vertices of the last Run, as drawn, read back from the device.
    std::vector<_Vertex> ReadVertices() const;
    // Per group, the first slot and the slots of the last Run; slot k holds the vertices
    // from k * RefinedVerticesPerTriangle(side) on.
    const std::vector<int>& Offsets() const { return m_offsets; }
    int Side() const { return m_side; }

private:
    CLWContext m_context;
    CLWProgram m_program;
    RadeonRays::IntersectionApi* m_api;
    int m_side;
    int m_perSlot;
    int m_subTriangles;
    int m_triangles;
    int m_groups;

    CLWBuffer<int> m_neighbours;
    CLWBuffer<int> m_triangleGroup;
    CLWBuffer<cl_uchar> m_marks;
    CLWBuffer<int> m_counts;
    CLWBuffer<int> m_places;
    CLWBuffer<int> m_offsetBuffer;
    CLWBuffer<int> m_slots;
    CLWBuffer<_Vertex> m_shaded;
    CLWBuffer<RadeonRays::ray> m_rays;
    CLWBuffer<RadeonRays::Intersection> m_hits;
    std::unique_ptr<RadeonRays::Buffer, RadeonRaysBufferDeleter> m_rrRays;
    std::unique_ptr<RadeonRays::Buffer, RadeonRaysBufferDeleter> m_rrHits;

    GlBuffer m_vertexBuffer;
    GlBuffer m_indexBuffer;
    std::vector<int> m_offsets;
};
