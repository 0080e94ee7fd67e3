#pragma once
// The compute half of a frame. "VertexShader" lights every tessellated vertex and
// writes one shadow ray per vertex; the intersection service tests the rays against
// the coarse scene; "ShadowShader" darkens the vertices whose ray was blocked, in the
// buffer OpenGL draws from.
#include "app/FrameStatistics.h"
#include "app/GlSharing.h"
#include "clw/CLW.h"
#include "rr/radeon_rays.h"
#include "scene/Model.h"
#include "scene/VectorTypes.h"
#include "scene/Vertex.h"

#include <GL/glew.h>

#include <functional>
#include <future>
#include <memory>
#include <string>
#include <vector>

// Where the vertices of each pass go for drawing.
enum class DrawnVertices
{
    // Into the model's OpenGL vertex buffer: shared with OpenCL where sharing steps are
    // given and the driver agrees, otherwise copied through the host after every pass.
    InOpenGlBuffer,
    // Into DeviceScene::hostCopy only: for tests and benchmarks that draw nothing.
    InHostMemory,
};

// Gives a buffer view back to the intersection service that made it.
struct RadeonRaysBufferDeleter
{
    RadeonRays::IntersectionApi* api = nullptr;
    void operator()(RadeonRays::Buffer* buffer) const;
};
// Detaches the occluder from the service's scene, then deletes it.
struct RadeonRaysShapeDeleter
{
    RadeonRays::IntersectionApi* api = nullptr;
    void operator()(RadeonRays::Shape* shape) const;
};
using OccluderShape = std::unique_ptr<RadeonRays::Shape, RadeonRaysShapeDeleter>;
// Gives a query's event back to the intersection service that made it.
struct RadeonRaysEventDeleter
{
    const RadeonRays::IntersectionApi* api = nullptr;
    void operator()(RadeonRays::Event* event) const;
};

// The device memory of the pass, made once at start-up and sized to the vertex count,
// and everything else the pass works with. It owns all of it and releases it when it
// goes: the members are declared so that what refers to something goes before it (the
// occluder and the service's views before the buffers they view, the sharing steps'
// fence before the drawn vertices). The intersection service that made the views and
// the occluder must outlive it, and the OpenGL context must be current when it goes.
struct DeviceScene
{
    DrawnVertices destination = DrawnVertices::InOpenGlBuffer;
    // OpenGL's vertex buffer, for the host copy (0 with DrawnVertices::InHostMemory).
    GLuint glVertexBuffer = 0;
    // The host copy's destination with DrawnVertices::InHostMemory.
    std::vector<_Vertex> hostCopy;

    // The tessellated vertices as loaded, read-only. On a device on the CPU, the model's
    // own array read in place (the model outlives the scene); elsewhere a copy.
    CLWBuffer<_Vertex> vertexBuffer;
    // The vertices as drawn this frame: OpenGL's own vertex buffer where it is shared,
    // else a plain buffer of the same size whose contents reach OpenGL's buffer through
    // the host after every pass.
    CLWBuffer<_Vertex> drawnVertexBuffer;
    CLWBuffer<RadeonRays::ray> rayBuffer;
    CLWBuffer<RadeonRays::Intersection> hitBuffer;

    // The steps of the sharing path; null where the vertices go through the host.
    std::unique_ptr<GlSharingSteps> glSharing;
    // Where OpenGL refused to share the buffer, the log line that says so; else empty.
    std::string sharingRefusal;

    std::unique_ptr<RadeonRays::Buffer, RadeonRaysBufferDeleter> rrRays;
    std::unique_ptr<RadeonRays::Buffer, RadeonRaysBufferDeleter> rrHits;
    OccluderShape occluder;

    int vertexCount = 0;
    // The launch range: side x side work-items, side = ceil(sqrt(vertexCount)).
    size_t localSize = 1;
    size_t globalWidth = 0;
    size_t globalHeight = 0;
};

// Reads the first count vertices of vertices straight into OpenGL's buffer glBuffer
// through a mapping: the host-copy path's one copy, with no allocation.
void CopyVerticesToGlBuffer(const CLWContext& context, const CLWBuffer<_Vertex>& vertices,
                            GLuint glBuffer, size_t count);

// Launches kernel over count items (at least one group) in work-groups of 64: the launch
// of the kernels of our own that are not the shadow pass's two.
void LaunchOverItems(const CLWContext& context, const CLWKernel& kernel, size_t count);

// Waits for everything queued on the context's queue, under the device watch, which
// names what (for example "the kernel \"ShadowShader\"") when it does not end.
void FinishWatched(const CLWContext& context, const char* what);

// Asks the service for the occlusion of count rays into hits and waits for the answer,
// under the device watch, which names what when it does not come. The query's event is
// owned before the wait, which may throw.
void QueryOcclusionWatched(RadeonRays::IntersectionApi* api, const RadeonRays::Buffer* rays,
                           int count, RadeonRays::Buffer* hits, const char* what);

// Sets one kernel argument through the tagged SetArg, which reports a failure by its
// status: a status other than success is thrown as CLWException naming the kernel, the
// argument and the status, for a kernel cannot run with an argument missing.
void SetKernelArg(CLWKernel& kernel, const char* kernelName, cl_uint index, CLWKernelArg arg);

// The side of the square launch range for n vertices: the smallest with side^2 >= n.
size_t LaunchSide(int vertexCount);

// Commits the model's coarse triangles to the service as the occluder (id 1), placed by
// the model's world matrix: the space the rays are cast in. Reads only the model's
// positions, indices and world matrix, so it may run on a thread of its own while the
// rest of the model loads, as long as no other call reaches the service meanwhile.
OccluderShape CommitOccluder(RadeonRays::IntersectionApi* api, const Model& model);

// Gives the device the model's vertices (on a device on the CPU, the model's array itself,
// which must then outlive the scene; elsewhere a copy), makes the ray and hit buffers,
// and commits the model's coarse triangles to the service as the occluder (CommitOccluder).
// Where occluderBuild is given, it is a CommitOccluder begun beside the load on the same
// service: it is waited for here, after the buffers, and no other call reaches the service
// before that; whatever leaves first waits for it (a std::async future does).
// With glSharing (only with DrawnVertices::InOpenGlBuffer), the drawn vertices are
// OpenGL's buffer itself where the driver agrees; where it refuses, the scene copies
// through the host and says so in sharingRefusal. stepDone, where given, is told
// "device buffers" once the buffers exist, and then "occluder build" once the occluder is
// committed, or, with occluderBuild, "occluder wait" once the build begun beside is done.
DeviceScene CreateDeviceScene(const CLWContext& context, RadeonRays::IntersectionApi* api,
                              const Model& model, DrawnVertices destination,
                              std::unique_ptr<GlSharingSteps> glSharing = nullptr,
                              const std::function<void(const char* step)>& stepDone = {},
                              std::future<OccluderShape> occluderBuild = {});

// One pass for the frame's world matrix, camera and light direction. When times is
// given, the host time of each of the pass's stages is written there (ray generation,
// occlusion, shadow write, transfer). A kernel argument that cannot be set throws
// CLWException naming the kernel and the argument. Without castShadows only the rays'
// kernel runs: every vertex is drawn lit, as if nothing stood in the light. On return
// OpenCL has finished with the drawn vertices and OpenGL may draw them.
void RunShadowPass(const CLWContext& context, const CLWProgram& program,
                   RadeonRays::IntersectionApi* api, DeviceScene& scene, const Mat4& world,
                   const Float3& cameraPosition, const Float3& cameraTarget,
                   const Float3& lightDirection, FrameSample* times = nullptr,
                   bool castShadows = true);

// After a pass without castShadows, takes the sun's light from every vertex as if each
// vertex's ray had been blocked: "ShadowShader" over a hit buffer that says so. The
// vertices are then drawn as everything in shadow would look, with the same sky light.
// Times the shadow write and the transfer as RunShadowPass does; the hit buffer keeps
// the blocked answers until the next pass's query.
void ShadeEveryVertexAsBlocked(const CLWContext& context, const CLWProgram& program,
                               DeviceScene& scene, FrameSample* times = nullptr);
