#pragma once
// The compute half of a frame. "VertexShader" lights every tessellated vertex and
// writes one shadow ray per vertex; the intersection service tests the rays against
// the coarse scene; "ShadowShader" darkens the vertices whose ray was blocked, in the
// buffer OpenGL draws from.
#include "clw/CLW.h"
#include "rr/radeon_rays.h"
#include "scene/Model.h"
#include "scene/VectorTypes.h"
#include "scene/Vertex.h"

#include <GL/glew.h>

#include <vector>

// The device memory of the pass, made once at start-up and sized to the vertex count.
struct DeviceScene
{
    // The tessellated vertices as loaded, read-only.
    CLWBuffer<_Vertex> vertexBuffer;
    // The vertices as drawn this frame. With OpenGL sharing, OpenGL's own vertex buffer;
    // without, a plain buffer of the same size whose contents reach OpenGL's buffer
    // through the host after every pass.
    cl_mem sharedVertexBuffer = nullptr;
    bool sharedWithGl = false;
    // OpenGL's vertex buffer (0 when there is no OpenGL: the copy then lands in hostCopy).
    GLuint glVertexBuffer = 0;
    std::vector<_Vertex> hostCopy;

    CLWBuffer<RadeonRays::ray> rayBuffer;
    CLWBuffer<RadeonRays::Intersection> hitBuffer;
    RadeonRays::Buffer* rrRays = nullptr;
    RadeonRays::Buffer* rrHits = nullptr;
    RadeonRays::Shape* occluder = nullptr;

    int vertexCount = 0;
    // The launch range: side x side work-items, side = ceil(sqrt(vertexCount)).
    size_t localSize = 1;
    size_t globalWidth = 0;
    size_t globalHeight = 0;
};

// Host time of each stage of one pass, in seconds.
struct ShadowPassTimes
{
    double rayGeneration = 0;
    double occlusion = 0;
    double shadowWrite = 0;
    double transfer = 0;
};

// The side of the square launch range for n vertices: the smallest with side^2 >= n.
size_t LaunchSide(int vertexCount);

// Copies the model's vertices to the device, makes the vertex, ray and hit buffers,
// and commits the model's coarse triangles to the service as the occluder (id 1).
// shareWithGl: make the drawn-vertex buffer from the model's OpenGL vertex buffer.
// withGl: the model's OpenGL vertex buffer exists (false only for headless use).
// world: the matrix the frames will pass; the occluder is committed in that space, the
// space the rays are cast in.
DeviceScene CreateDeviceScene(const CLWContext& context, RadeonRays::IntersectionApi* api,
                              const Model& model, bool shareWithGl, bool withGl = true,
                              const Mat4* world = nullptr);

// Releases what CreateDeviceScene made that the buffer wrappers do not release.
void ReleaseDeviceScene(DeviceScene& scene, RadeonRays::IntersectionApi* api);

// One pass for the frame's world matrix, camera and light direction. When times is
// given, each stage's host time is written there. Without castShadows only the rays'
// kernel runs: every vertex is drawn lit, as if nothing stood in the light.
void RunShadowPass(const CLWContext& context, const CLWProgram& program,
                   RadeonRays::IntersectionApi* api, DeviceScene& scene, const Mat4& world,
                   const Float3& cameraPosition, const Float3& cameraTarget,
                   const Float3& lightDirection, ShadowPassTimes* times = nullptr,
                   bool castShadows = true);
