#include "app/Refinement.h"

#include "app/DeviceWatch.h"
#include "app/KernelCalls.h"
#include "scene/VectorMath.h"

#include <GL/glew.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <unordered_map>
#include <utility>

namespace
{

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

struct PositionKey
{
    std::uint32_t bits[3];
    bool operator==(const PositionKey& other) const
    {
        return std::memcmp(bits, other.bits, sizeof bits) == 0;
    }
};

PositionKey KeyOf(const Float3& p)
{
    PositionKey key;
    std::memcpy(&key.bits[0], &p.x, 4);
    std::memcpy(&key.bits[1], &p.y, 4);
    std::memcpy(&key.bits[2], &p.z, 4);
    return key;
}

struct EdgeKey
{
    PositionKey a, b;
    bool operator==(const EdgeKey& other) const { return a == other.a && b == other.b; }
};

struct EdgeHash
{
    size_t operator()(const EdgeKey& key) const
    {
        size_t h = 1469598103934665603ull;
        for (std::uint32_t v : key.a.bits)
        {
            h = (h ^ v) * 1099511628211ull;
        }
        for (std::uint32_t v : key.b.bits)
        {
            h = (h ^ v) * 1099511628211ull;
        }
        return h;
    }
};

// The edge without its direction: its ends in a fixed order.
EdgeKey UndirectedEdge(const Float3& p, const Float3& q)
{
    PositionKey a = KeyOf(p), b = KeyOf(q);
    if (std::memcmp(b.bits, a.bits, sizeof a.bits) < 0)
    {
        std::swap(a, b);
    }
    return {a, b};
}

} // namespace

std::vector<int> EdgeNeighbours(const VertexArray& vertices)
{
    const size_t triangles = vertices.size() / 3;
    std::vector<int> neighbours(triangles * 3, -1);
    // The first triangle seen on each edge, waiting for a second.
    std::unordered_map<EdgeKey, int, EdgeHash> open;
    open.reserve(triangles * 2);
    for (size_t t = 0; t < triangles; ++t)
    {
        for (int e = 0; e < 3; ++e)
        {
            const EdgeKey key = UndirectedEdge(vertices[3 * t + e].position,
                                               vertices[3 * t + (e + 1) % 3].position);
            const auto found = open.find(key);
            if (found == open.end())
            {
                open.emplace(key, static_cast<int>(3 * t + e));
                continue;
            }
            const int other = found->second;
            if (other / 3 == static_cast<int>(t))
            {
                continue;
            }
            neighbours[3 * t + e] = other / 3;
            if (neighbours[other] < 0)
            {
                neighbours[other] = static_cast<int>(t);
            }
        }
    }
    return neighbours;
}

std::vector<int> EdgeProbes(const VertexArray& vertices, std::vector<int>& probeEdges)
{
    const size_t triangles = vertices.size() / 3;
    std::vector<int> probeOf(triangles * 3, 0);
    // An edge is one probe only where its ends agree in normal too: across a crease the
    // two sides face the sun differently, and each needs its own ray.
    struct ProbeKey
    {
        EdgeKey ends, normals;
        bool operator==(const ProbeKey& other) const
        {
            return ends == other.ends && normals == other.normals;
        }
    };
    struct ProbeHash
    {
        size_t operator()(const ProbeKey& key) const
        {
            return EdgeHash()(key.ends) * 31 + EdgeHash()(key.normals);
        }
    };
    std::unordered_map<ProbeKey, int, ProbeHash> probes;
    probes.reserve(triangles * 2);
    probeEdges.clear();
    for (size_t t = 0; t < triangles; ++t)
    {
        for (int e = 0; e < 3; ++e)
        {
            const _Vertex& p = vertices[3 * t + static_cast<size_t>(e)];
            const _Vertex& q = vertices[3 * t + static_cast<size_t>(e + 1) % 3];
            const EdgeKey ends = UndirectedEdge(p.position, q.position);
            // The normals in the order of the positions they belong to.
            const EdgeKey normals = ends.a == KeyOf(p.position)
                                        ? EdgeKey{KeyOf(p.normal), KeyOf(q.normal)}
                                        : EdgeKey{KeyOf(q.normal), KeyOf(p.normal)};
            const auto inserted =
                probes.emplace(ProbeKey{ends, normals}, static_cast<int>(probeEdges.size()));
            if (inserted.second)
            {
                probeEdges.push_back(static_cast<int>(3 * t) + e);
            }
            probeOf[3 * t + static_cast<size_t>(e)] = inserted.first->second;
        }
    }
    return probeOf;
}

int RefinedVerticesPerTriangle(int side)
{
    return (side + 1) * (side + 2) / 2;
}

std::vector<unsigned> RefinedTrianglePattern(int side)
{
    const auto at = [side](int i, int j)
    { return static_cast<unsigned>(i * (side + 1) - i * (i - 1) / 2 + j); };
    std::vector<unsigned> pattern;
    pattern.reserve(static_cast<size_t>(side * side * 3));
    for (int i = 0; i < side; ++i)
    {
        for (int j = 0; i + j < side; ++j)
        {
            pattern.insert(pattern.end(), {at(i, j), at(i + 1, j), at(i, j + 1)});
            if (i + j < side - 1)
            {
                pattern.insert(pattern.end(), {at(i + 1, j), at(i + 1, j + 1), at(i, j + 1)});
            }
        }
    }
    return pattern;
}

namespace
{

GlBuffer MakeGlBuffer(GLenum target, size_t bytes, const void* data, GLenum usage)
{
    GLuint name = 0;
    glGenBuffers(1, &name);
    GlBuffer buffer(name);
    glBindBuffer(target, name);
    glBufferData(target, static_cast<GLsizeiptr>(bytes), data, usage);
    glBindBuffer(target, 0);
    return buffer;
}

} // namespace

Refinement::Refinement(const CLWContext& context, const CLWProgram& program,
                       RadeonRays::IntersectionApi* api, const Model& model,
                       const DeviceScene& scene, float edgePixels, int vertexBudget, int rings,
                       int cutCapacity, int cutRounds, bool probes)
    : m_context(context), m_program(program), m_api(api), m_edgePixels(edgePixels),
      m_rings(std::max(1, rings)), m_triangles(scene.vertexCount / 3),
      m_groups(static_cast<int>(model.GetGroups().size())), m_cutCapacity(std::max(0, cutCapacity)),
      m_cutRounds(std::max(1, cutRounds))
{
    const VertexArray& vertices = model.GetVertices();
    std::vector<int> neighbours = EdgeNeighbours(vertices);
    const size_t t = static_cast<size_t>(std::max(1, m_triangles));
    neighbours.resize(t * 3, -1);
    std::vector<int> triangleGroup(t, 0);
    for (int g = 0; g < m_groups; ++g)
    {
        const std::vector<GLuint>& indices = model.GetGroups()[static_cast<size_t>(g)].indices;
        for (size_t i = 0; i + 2 < indices.size(); i += 3)
        {
            triangleGroup[indices[i] / 3] = g;
        }
    }
    const size_t groups = static_cast<size_t>(std::max(1, m_groups));
    const size_t offsetCount = static_cast<size_t>(kRefinementLevels * (m_groups + 1));
    m_neighbours = CLWBuffer<int>::Create(context, CL_MEM_READ_ONLY | CL_MEM_COPY_HOST_PTR,
                                          neighbours.size(), neighbours.data());
    m_triangleGroup = CLWBuffer<int>::Create(context, CL_MEM_READ_ONLY | CL_MEM_COPY_HOST_PTR, t,
                                             triangleGroup.data());
    // Without probes the kernels still take the buffers, one record each, unread.
    std::vector<int> probeEdges;
    std::vector<int> probeOf =
        probes ? EdgeProbes(vertices, probeEdges) : std::vector<int>(t * 3, 0);
    probeOf.resize(t * 3, 0);
    m_probeCount = static_cast<int>(probeEdges.size());
    probeEdges.resize(std::max<size_t>(1, probeEdges.size()), 0);
    m_probeOf = CLWBuffer<int>::Create(context, CL_MEM_READ_ONLY | CL_MEM_COPY_HOST_PTR,
                                       probeOf.size(), probeOf.data());
    m_probeEdges = CLWBuffer<int>::Create(context, CL_MEM_READ_ONLY | CL_MEM_COPY_HOST_PTR,
                                          probeEdges.size(), probeEdges.data());
    m_probes = RayBatch(context, api, probeEdges.size());
    m_marks = CLWBuffer<cl_uchar>::Create(context, CL_MEM_READ_WRITE, t, nullptr);
    m_dilated = CLWBuffer<cl_uchar>::Create(context, CL_MEM_READ_WRITE, t, nullptr);
    m_counts =
        CLWBuffer<int>::Create(context, CL_MEM_READ_WRITE, groups * kRefinementLevels, nullptr);
    m_levelTotals = CLWBuffer<int>::Create(context, CL_MEM_READ_WRITE, kRefinementLevels, nullptr);
    m_places = CLWBuffer<int>::Create(context, CL_MEM_READ_WRITE, t, nullptr);
    m_levelOf = CLWBuffer<int>::Create(context, CL_MEM_READ_WRITE, t, nullptr);
    m_offsetBuffer = CLWBuffer<int>::Create(context, CL_MEM_READ_WRITE, offsetCount, nullptr);
    m_offsets.assign(offsetCount, 0);

    int slotBase = 0;
    size_t vertexCapacity = 0;
    for (int l = 0; l < kRefinementLevels; ++l)
    {
        Level& level = m_levels[l];
        level.side = 2 << l;
        level.perSlot = RefinedVerticesPerTriangle(level.side);
        level.capacity =
            l == 0 ? static_cast<int>(t)
                   : std::max(1, std::min(static_cast<int>(t), vertexBudget / level.perSlot));
        level.slotBase = slotBase;
        slotBase += level.capacity;
        vertexCapacity += static_cast<size_t>(level.capacity) * static_cast<size_t>(level.perSlot);

        // The index pattern of every slot, fixed: slot k's vertices start at k * perSlot.
        const std::vector<unsigned> pattern = RefinedTrianglePattern(level.side);
        std::vector<GLuint> indices;
        indices.reserve(static_cast<size_t>(level.capacity) * pattern.size());
        for (size_t k = 0; k < static_cast<size_t>(level.capacity); ++k)
        {
            for (unsigned p : pattern)
            {
                indices.push_back(static_cast<GLuint>(k * static_cast<size_t>(level.perSlot) + p));
            }
        }
        level.indexBuffer = MakeGlBuffer(GL_ELEMENT_ARRAY_BUFFER, indices.size() * sizeof(GLuint),
                                         indices.data(), GL_STATIC_DRAW);
        std::vector<cl_uint> slotPattern(pattern.begin(), pattern.end());
        level.pattern = CLWBuffer<cl_uint>::Create(context, CL_MEM_READ_ONLY | CL_MEM_COPY_HOST_PTR,
                                                   slotPattern.size(), slotPattern.data());
    }
    m_shaded = CLWBuffer<_Vertex>::Create(context, CL_MEM_READ_WRITE, vertexCapacity, nullptr);
    m_visible = CLWBuffer<cl_uchar>::Create(context, CL_MEM_READ_WRITE, vertexCapacity, nullptr);
    m_refined = RayBatch(context, api, vertexCapacity);
    m_vertexBuffer =
        MakeGlBuffer(GL_ARRAY_BUFFER, vertexCapacity * sizeof(_Vertex), nullptr, GL_DYNAMIC_DRAW);
    m_slots =
        CLWBuffer<int>::Create(context, CL_MEM_READ_WRITE, static_cast<size_t>(slotBase), nullptr);

    if (m_cutCapacity > 0)
    {
        // The counts start cleared; "RefineCutOffsets" clears them after each frame.
        std::vector<int> zeros(groups + 1, 0);
        m_cutCounts = CLWBuffer<int>::Create(context, CL_MEM_READ_WRITE | CL_MEM_COPY_HOST_PTR,
                                             zeros.size(), zeros.data());
        m_cutOffsetBuffer = CLWBuffer<int>::Create(context, CL_MEM_READ_WRITE, groups + 2, nullptr);
        const size_t cuts = static_cast<size_t>(m_cutCapacity);
        const size_t samples = cuts * 2;
        m_cuts = CLWBuffer<cl_int4>::Create(context, CL_MEM_READ_WRITE, cuts, nullptr);
        m_cutPlaces = CLWBuffer<int>::Create(context, CL_MEM_READ_WRITE, cuts, nullptr);
        m_stretches = CLWBuffer<cl_float2>::Create(context, CL_MEM_READ_WRITE, samples, nullptr);
        // More than twice as many places as sides, so that a probe always finds one; the
        // keys start empty and each frame empties the places it took.
        m_sideTableSize = 1;
        while (static_cast<size_t>(m_sideTableSize) < 2 * samples)
        {
            m_sideTableSize *= 2;
        }
        std::vector<int> empty(static_cast<size_t>(m_sideTableSize), -1);
        m_sideKeys = CLWBuffer<int>::Create(context, CL_MEM_READ_WRITE | CL_MEM_COPY_HOST_PTR,
                                            empty.size(), empty.data());
        m_sideOwners = CLWBuffer<int>::Create(context, CL_MEM_READ_WRITE, empty.size(), nullptr);
        m_sidePlaces = CLWBuffer<int>::Create(context, CL_MEM_READ_WRITE, samples, nullptr);
        m_samples = RayBatch(context, api, samples);
        m_pieces = CLWBuffer<_Vertex>::Create(context, CL_MEM_READ_WRITE, cuts * 9, nullptr);
        m_pieceBuffer =
            MakeGlBuffer(GL_ARRAY_BUFFER, cuts * 9 * sizeof(_Vertex), nullptr, GL_DYNAMIC_DRAW);
    }
}

Refinement::~Refinement() = default;

void Refinement::Run(const DeviceScene& scene, const Mat4& world, const Mat4& viewProj, int width,
                     int height, const Float3& lightDirection, FrameSample* times)
{
    FrameSample local;
    FrameSample& stages = times ? *times : local;
    for (Level& level : m_levels)
    {
        level.filled = 0;
    }
    m_cutOffsets.clear();
    m_cutsWanted = 0;

    // The probes, then marking, compaction and splitting.
    Clock::time_point start = Clock::now();
    if (m_probeCount > 0)
    {
        LaunchOverItems(m_context,
                        KernelWithArgs(m_program, "RefineProbes", scene.vertexBuffer, m_probeEdges,
                                       m_probes.rays, m_probeCount, world, lightDirection),
                        static_cast<size_t>(m_probeCount));
        FinishWatched(m_context, "the kernel \"RefineProbes\"");
        stages.rayGeneration += SecondsSince(start);
        start = Clock::now();
        m_probes.Query(m_api, m_probeCount, "the refinement's probe query");
        stages.occlusion += SecondsSince(start);
        start = Clock::now();
    }
    LaunchOverItems(m_context,
                    KernelWithArgs(m_program, "RefineMark", scene.rayBuffer, scene.hitBuffer,
                                   m_marks, m_triangles, m_counts, m_groups, m_levelTotals,
                                   m_probeCount > 0 ? 1 : 0, m_probeOf, m_probes.rays,
                                   m_probes.hits),
                    static_cast<size_t>(std::max(m_triangles, m_groups * kRefinementLevels)));

    // The rings beyond the first, which the count adds, ping-ponged so that the marks
    // end in m_marks.
    for (int ring = 1; ring < m_rings; ++ring)
    {
        LaunchOverItems(m_context,
                        KernelWithArgs(m_program, "RefineDilate", m_marks, m_neighbours, m_dilated,
                                       m_triangles),
                        static_cast<size_t>(m_triangles));
        std::swap(m_marks, m_dilated);
    }

    const cl_int4 capacities = {
        {m_levels[0].capacity, m_levels[1].capacity, m_levels[2].capacity, m_levels[3].capacity}};
    const cl_int4 slotBases = {
        {m_levels[0].slotBase, m_levels[1].slotBase, m_levels[2].slotBase, m_levels[3].slotBase}};
    const Mat4 clip = Multiply(viewProj, world);
    LaunchOverItems(m_context,
                    KernelWithArgs(m_program, "RefineCount", m_marks, m_neighbours, m_triangleGroup,
                                   m_counts, m_levelTotals, capacities, m_places, m_levelOf,
                                   m_triangles, m_groups, scene.vertexBuffer, clip,
                                   CLWKernelArg::Float(static_cast<float>(width)),
                                   CLWKernelArg::Float(static_cast<float>(height)),
                                   CLWKernelArg::Float(m_edgePixels)),
                    static_cast<size_t>(m_triangles));
    LaunchOverItems(m_context,
                    KernelWithArgs(m_program, "RefineOffsets", m_counts, m_offsetBuffer, m_groups),
                    1);
    LaunchOverItems(m_context,
                    KernelWithArgs(m_program, "RefinePlace", m_places, m_levelOf, m_triangleGroup,
                                   m_offsetBuffer, m_slots, slotBases, m_triangles, m_groups),
                    static_cast<size_t>(m_triangles));

    // The one read back: how many slots each level's groups fill, for the launches and
    // the draws.
    device_watch::Wait("the refinement's compaction",
                       [&] {
                           m_context.ReadBuffer(0, m_offsetBuffer, m_offsets.size() * sizeof(int),
                                                m_offsets.data());
                       });
    int vertexCount = 0;
    for (int l = 0; l < kRefinementLevels; ++l)
    {
        Level& level = m_levels[l];
        level.filled = Offset(l, m_groups);
        level.firstVertex = vertexCount;
        const int count = level.filled * level.perSlot;
        if (count == 0)
        {
            continue;
        }
        LaunchOverItems(m_context,
                        KernelWithArgs(m_program, "RefineVertices", scene.vertexBuffer, m_slots,
                                       level.slotBase, m_shaded, m_refined.rays, vertexCount, count,
                                       level.side, world, lightDirection),
                        static_cast<size_t>(count));
        vertexCount += count;
    }
    if (vertexCount > 0)
    {
        FinishWatched(m_context, "the kernel \"RefineVertices\"");
    }
    stages.rayGeneration += SecondsSince(start);
    if (vertexCount == 0)
    {
        return;
    }

    // Their rays, all levels in one query.
    start = Clock::now();
    m_refined.Query(m_api, vertexCount, "the refinement's occlusion query");
    stages.occlusion += SecondsSince(start);

    // Their shading, as "ShadowShader" shades the base vertices, and their visibility.
    start = Clock::now();
    LaunchOverItems(m_context,
                    KernelWithArgs(m_program, "RefineShade", m_shaded, m_refined.rays,
                                   m_refined.hits, m_visible, vertexCount),
                    static_cast<size_t>(vertexCount));
    FinishWatched(m_context, "the kernel \"RefineShade\"");
    stages.shadowWrite += SecondsSince(start);

    // Their copy to OpenGL.
    start = Clock::now();
    CopyVerticesToGlBuffer(m_context, m_shaded, m_vertexBuffer.Get(),
                           static_cast<size_t>(vertexCount));
    stages.transfer += SecondsSince(start);

    if (m_cutCapacity > 0)
    {
        Cut(lightDirection, stages);
    }
}

void Refinement::Cut(const Float3& lightDirection, FrameSample& stages)
{
    // The sub-triangles to cut, level by level, with their sides' samples.
    Clock::time_point start = Clock::now();
    for (int l = 0; l < kRefinementLevels; ++l)
    {
        const Level& level = m_levels[l];
        const int subPerSlot = level.side * level.side;
        const int count = level.filled * subPerSlot;
        if (count == 0)
        {
            continue;
        }
        LaunchOverItems(m_context,
                        KernelWithArgs(m_program, "RefineCutMark", m_visible, m_shaded,
                                       level.pattern, level.firstVertex, level.perSlot, subPerSlot,
                                       count, m_slots, level.slotBase, m_triangleGroup, m_cutCounts,
                                       m_groups, m_cutCapacity, m_cuts, m_cutPlaces, m_stretches,
                                       m_samples.rays, m_sideKeys, m_sideOwners, m_sidePlaces,
                                       m_sideTableSize, lightDirection),
                        static_cast<size_t>(count));
    }
    LaunchOverItems(
        m_context,
        KernelWithArgs(m_program, "RefineCutOffsets", m_cutCounts, m_cutOffsetBuffer, m_groups), 1);
    m_cutOffsets.assign(static_cast<size_t>(m_groups) + 2, 0);
    device_watch::Wait("the refinement's cuts",
                       [&]
                       {
                           m_context.ReadBuffer(0, m_cutOffsetBuffer,
                                                m_cutOffsets.size() * sizeof(int),
                                                m_cutOffsets.data());
                       });
    m_cutsWanted = m_cutOffsets.back();
    m_cutOffsets.pop_back();
    const int cuts = m_cutOffsets.back();
    stages.rayGeneration += SecondsSince(start);
    if (cuts == 0)
    {
        return;
    }

    // The rounds of bisection: each round's rays answered, then the next round's sent.
    for (int round = 0; round < m_cutRounds; ++round)
    {
        start = Clock::now();
        m_samples.Query(m_api, cuts * 2, "the refinement's cut query");
        stages.occlusion += SecondsSince(start);
        if (round + 1 == m_cutRounds)
        {
            break;
        }
        start = Clock::now();
        LaunchOverItems(m_context,
                        KernelWithArgs(m_program, "RefineCutStep", m_visible, m_shaded, m_cuts,
                                       m_cutOffsetBuffer, m_groups, m_stretches, m_samples.rays,
                                       m_samples.hits, m_sideOwners, m_sidePlaces, lightDirection),
                        static_cast<size_t>(cuts) * 2);
        FinishWatched(m_context, "the kernel \"RefineCutStep\"");
        stages.rayGeneration += SecondsSince(start);
    }

    start = Clock::now();
    LaunchOverItems(m_context,
                    KernelWithArgs(m_program, "RefineCut", m_visible, m_shaded, m_cuts, m_cutPlaces,
                                   m_cutOffsetBuffer, m_groups, m_stretches, m_samples.rays,
                                   m_samples.hits, m_sideOwners, m_sidePlaces, m_pieces,
                                   lightDirection),
                    static_cast<size_t>(cuts));
    LaunchOverItems(m_context,
                    KernelWithArgs(m_program, "RefineCutRelease", m_cutOffsetBuffer, m_groups,
                                   m_sideKeys, m_sidePlaces),
                    static_cast<size_t>(cuts) * 2);
    FinishWatched(m_context, "the kernel \"RefineCut\"");
    stages.shadowWrite += SecondsSince(start);

    start = Clock::now();
    CopyVerticesToGlBuffer(m_context, m_pieces, m_pieceBuffer.Get(), static_cast<size_t>(cuts) * 9);
    stages.transfer += SecondsSince(start);
}

void Refinement::Draw(const Model& model, GLuint program) const
{
    if (SplitTriangles() == 0)
    {
        return;
    }
    BindVertexRecords(m_vertexBuffer.Get(), program);
    for (int l = 0; l < kRefinementLevels; ++l)
    {
        const Level& level = m_levels[l];
        if (level.filled == 0)
        {
            continue;
        }
        glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, level.indexBuffer.Get());
        const size_t perSlot = static_cast<size_t>(level.side * level.side) * 3;
        for (int g = 0; g < m_groups; ++g)
        {
            const int filled = Offset(l, g + 1) - Offset(l, g);
            if (filled == 0)
            {
                continue;
            }
            glActiveTexture(GL_TEXTURE0);
            glBindTexture(GL_TEXTURE_2D, model.GetGroups()[static_cast<size_t>(g)].texture);
            // The level's index pattern counts from its first vertex.
            glDrawElementsBaseVertex(
                GL_TRIANGLES, static_cast<GLsizei>(static_cast<size_t>(filled) * perSlot),
                GL_UNSIGNED_INT,
                reinterpret_cast<const void*>(static_cast<size_t>(Offset(l, g)) * perSlot *
                                              sizeof(GLuint)),
                level.firstVertex);
        }
    }
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
    UnbindVertexRecords();

    if (Cuts() == 0)
    {
        return;
    }
    // The pieces cover their sub-triangles exactly, in the same planes: a constant offset
    // forward makes them win (one growing with the slope would let them spill over the
    // edges of the faces next to them).
    glEnable(GL_POLYGON_OFFSET_FILL);
    glPolygonOffset(0.0f, -kCutPieceDepthOffset);
    BindVertexRecords(m_pieceBuffer.Get(), program);
    for (int g = 0; g < m_groups; ++g)
    {
        const int first = m_cutOffsets[static_cast<size_t>(g)];
        const int count = m_cutOffsets[static_cast<size_t>(g) + 1] - first;
        if (count == 0)
        {
            continue;
        }
        glActiveTexture(GL_TEXTURE0);
        glBindTexture(GL_TEXTURE_2D, model.GetGroups()[static_cast<size_t>(g)].texture);
        glDrawArrays(GL_TRIANGLES, first * 9, count * 9);
    }
    UnbindVertexRecords();
    glDisable(GL_POLYGON_OFFSET_FILL);
}

std::vector<_Vertex> Refinement::ReadVertices() const
{
    std::vector<_Vertex> vertices(static_cast<size_t>(RefinedVertices()));
    if (!vertices.empty())
    {
        m_context.ReadBuffer(0, m_shaded, vertices.size() * sizeof(_Vertex), vertices.data());
    }
    return vertices;
}

int Refinement::SplitTriangles() const
{
    int total = 0;
    for (const Level& level : m_levels)
    {
        total += level.filled;
    }
    return total;
}

int Refinement::RefinedVertices() const
{
    int total = 0;
    for (const Level& level : m_levels)
    {
        total += level.filled * level.perSlot;
    }
    return total;
}
