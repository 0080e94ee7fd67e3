#include "app/ShadowPass.h"

#include "app/ComputeStartup.h"
#include "app/DeviceWatch.h"
#include "scene/VectorMath.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <stdexcept>
#include <string>

namespace
{

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Brings the drawn vertices to OpenGL where the device does not share its buffer.
void CopyVerticesToGl(const CLWContext& context, DeviceScene& scene)
{
    const size_t count = static_cast<size_t>(scene.vertexCount);
    if (scene.destination == DrawnVertices::InHostMemory)
    {
        context.ReadBuffer(0, scene.drawnVertexBuffer, count * sizeof(_Vertex),
                           scene.hostCopy.data());
        return;
    }
    CopyVerticesToGlBuffer(context, scene.drawnVertexBuffer, scene.glVertexBuffer, count);
}

// The transfer stage: the host copy, where OpenCL could not write OpenGL's buffer
// itself. Returns its seconds.
double TransferWhereNotShared(const CLWContext& context, DeviceScene& scene)
{
    const Clock::time_point start = Clock::now();
    if (!scene.glSharing)
    {
        CopyVerticesToGl(context, scene);
    }
    return SecondsSince(start);
}

// Runs kernel over the launch range and waits for it. Where the drawn vertices live in
// OpenGL's buffer, OpenCL holds that buffer only for the kernel's duration, and the
// release has completed before this returns, so that OpenGL never draws from a buffer
// OpenCL still holds. (OpenGL's earlier work on it was finished once, before the pass.)
void RunOverVertices(const CLWContext& context, const DeviceScene& scene, const CLWKernel& kernel,
                     const char* what)
{
    const size_t globalSize[2] = {scene.globalWidth, scene.globalHeight};
    const size_t localSize[2] = {scene.localSize, scene.localSize};
    // The launch event is dropped at once; the Finish is the wait.
    if (scene.glSharing)
    {
        scene.glSharing->Acquire(context, scene.drawnVertexBuffer);
    }
    context.Launch2D(0, globalSize, localSize, kernel);
    if (scene.glSharing)
    {
        scene.glSharing->Release(context, scene.drawnVertexBuffer);
    }
    FinishWatched(context, what);
}

// "ShadowShader" over the hit buffer as it stands.
void RunShadowShader(const CLWContext& context, const CLWProgram& program, const DeviceScene& scene)
{
    CLWKernel shadowShader = program.GetKernel("ShadowShader");
    SetKernelArg(shadowShader, "ShadowShader", 0, scene.drawnVertexBuffer);
    SetKernelArg(shadowShader, "ShadowShader", 1, scene.hitBuffer);
    SetKernelArg(shadowShader, "ShadowShader", 2, scene.vertexCount);
    SetKernelArg(shadowShader, "ShadowShader", 3, static_cast<cl_int>(scene.globalWidth));
    SetKernelArg(shadowShader, "ShadowShader", 4, static_cast<cl_int>(scene.globalHeight));
    RunOverVertices(context, scene, shadowShader, "the kernel \"ShadowShader\"");
}

} // namespace

void CopyVerticesToGlBuffer(const CLWContext& context, const CLWBuffer<_Vertex>& vertices,
                            GLuint glBuffer, size_t count)
{
    const size_t bytes = count * sizeof(_Vertex);
    glBindBuffer(GL_ARRAY_BUFFER, glBuffer);
    void* target = glMapBufferRange(GL_ARRAY_BUFFER, 0, static_cast<GLsizeiptr>(bytes),
                                    GL_MAP_WRITE_BIT | GL_MAP_INVALIDATE_BUFFER_BIT);
    if (!target)
    {
        glBindBuffer(GL_ARRAY_BUFFER, 0);
        throw std::runtime_error("cannot map an OpenGL vertex buffer for the host copy");
    }
    try
    {
        context.ReadBuffer(0, vertices, bytes, target);
    }
    catch (...)
    {
        glUnmapBuffer(GL_ARRAY_BUFFER);
        glBindBuffer(GL_ARRAY_BUFFER, 0);
        throw;
    }
    glUnmapBuffer(GL_ARRAY_BUFFER);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
}

void LaunchOverItems(const CLWContext& context, const CLWKernel& kernel, size_t count)
{
    const size_t group = 64;
    const size_t globalSize[2] = {std::max<size_t>(1, (count + group - 1) / group) * group, 1};
    const size_t localSize[2] = {group, 1};
    context.Launch2D(0, globalSize, localSize, kernel);
}

void FinishWatched(const CLWContext& context, const char* what)
{
    device_watch::Wait(what, [&] { context.Finish(0); });
}

void QueryOcclusionWatched(RadeonRays::IntersectionApi* api, const RadeonRays::Buffer* rays,
                           int count, RadeonRays::Buffer* hits, const char* what)
{
    RadeonRays::Event* event = nullptr;
    api->QueryOcclusion(rays, count, hits, nullptr, &event);
    const std::unique_ptr<RadeonRays::Event, RadeonRaysEventDeleter> done(event, {api});
    device_watch::Wait(what, [&] { done->Wait(); });
}

void SetKernelArg(CLWKernel& kernel, const char* kernelName, cl_uint index, CLWKernelArg arg)
{
    const cl_int status = kernel.SetArg(index, arg);
    if (status != CL_SUCCESS)
    {
        throw CLWException(status, "clSetKernelArg failed: argument " + std::to_string(index) +
                                       " of kernel \"" + kernelName + "\", status " +
                                       std::to_string(status));
    }
}

void RadeonRaysBufferDeleter::operator()(RadeonRays::Buffer* buffer) const
{
    api->DeleteBuffer(buffer);
}

void RadeonRaysShapeDeleter::operator()(RadeonRays::Shape* shape) const
{
    api->DetachShape(shape);
    api->DeleteShape(shape);
}

void RadeonRaysEventDeleter::operator()(RadeonRays::Event* event) const
{
    api->DeleteEvent(event);
}

size_t LaunchSide(int vertexCount)
{
    return static_cast<size_t>(static_cast<int>(std::ceil(std::sqrt(double(vertexCount)))));
}

OccluderShape CommitOccluder(RadeonRays::IntersectionApi* api, const Model& model)
{
    // Rays start on the fine vertices but are traced against the coarse triangles, in the
    // frame the world matrix places them in.
    std::vector<Float3> positions;
    positions.reserve(model.GetPositions().size());
    for (const Float3& p : model.GetPositions())
    {
        positions.push_back(TransformPoint(model.GetWorld(), p));
    }
    const std::vector<GLuint>& indices = model.GetIndices();
    RadeonRays::Shape* shape =
        api->CreateMesh(&positions[0].x, static_cast<int>(positions.size()), sizeof(Float3),
                        reinterpret_cast<const int*>(indices.data()), 0, nullptr,
                        static_cast<int>(indices.size() / 3));
    // Owned before it is attached, so that it is deleted (and detached) whatever follows.
    OccluderShape occluder{shape, {api}};
    api->AttachShape(shape);
    shape->SetId(1);
    api->Commit();
    return occluder;
}

DeviceScene CreateDeviceScene(const CLWContext& context, RadeonRays::IntersectionApi* api,
                              const Model& model, DrawnVertices destination,
                              std::unique_ptr<GlSharingSteps> glSharing,
                              const std::function<void(const char* step)>& stepDone,
                              std::future<OccluderShape> occluderBuild)
{
    const VertexArray& vertices = model.GetVertices();
    DeviceScene scene;
    scene.vertexCount = static_cast<int>(vertices.size());
    scene.globalWidth = LaunchSide(scene.vertexCount);
    scene.globalHeight = LaunchSide(scene.vertexCount);
    scene.localSize = 1;
    const size_t n = vertices.size();

    // A device on the CPU reads the model's page-aligned array where it lies: copying
    // hundreds of megabytes of a big model would cost a fifth of a second of start-up.
    // Small arrays are not page-aligned, and they cost nothing to copy.
    const bool inPlace = (context.GetDevice(0).GetType() & CL_DEVICE_TYPE_CPU) != 0 &&
                         !vertices.empty() && StartsOnPage(vertices.data());
    scene.vertexBuffer = CLWBuffer<_Vertex>::Create(
        context, CL_MEM_READ_ONLY | (inPlace ? CL_MEM_USE_HOST_PTR : CL_MEM_COPY_HOST_PTR), n,
        const_cast<_Vertex*>(vertices.data()));
    scene.destination = destination;
    if (destination == DrawnVertices::InOpenGlBuffer)
    {
        scene.glVertexBuffer = model.GetVertexBuffer();
        if (glSharing)
        {
            try
            {
                scene.drawnVertexBuffer =
                    glSharing->CreateSharedBuffer(context, scene.glVertexBuffer, n);
                scene.glSharing = std::move(glSharing);
            }
            catch (const CLWException& refusal)
            {
                scene.sharingRefusal = DescribeSharingRefusal(refusal);
            }
        }
    }
    else
    {
        scene.hostCopy.resize(n);
    }
    if (!scene.glSharing)
    {
        scene.drawnVertexBuffer =
            CLWBuffer<_Vertex>::Create(context, CL_MEM_READ_WRITE, n, nullptr);
    }

    scene.rayBuffer = CLWBuffer<RadeonRays::ray>::Create(context, CL_MEM_READ_WRITE, n, nullptr);
    scene.hitBuffer =
        CLWBuffer<RadeonRays::Intersection>::Create(context, CL_MEM_READ_WRITE, n, nullptr);
    if (stepDone)
    {
        stepDone("device buffers");
    }

    // The service is called from one thread at a time: its views of the buffers are made
    // once a build begun beside is done.
    if (occluderBuild.valid())
    {
        scene.occluder = occluderBuild.get();
        if (stepDone)
        {
            stepDone("occluder wait");
        }
    }
    else
    {
        scene.occluder = CommitOccluder(api, model);
        if (stepDone)
        {
            stepDone("occluder build");
        }
    }
    scene.rrRays = {RadeonRays::CreateFromOpenClBuffer(api, scene.rayBuffer), {api}};
    scene.rrHits = {RadeonRays::CreateFromOpenClBuffer(api, scene.hitBuffer), {api}};
    return scene;
}

void RunShadowPass(const CLWContext& context, const CLWProgram& program,
                   RadeonRays::IntersectionApi* api, DeviceScene& scene, const Mat4& world,
                   const Float3& cameraPosition, const Float3& cameraTarget,
                   const Float3& lightDirection, FrameSample* times, bool castShadows)
{
    FrameSample local;
    FrameSample& t = times ? *times : local;

    const size_t side =
        (scene.globalHeight + scene.localSize - 1) / scene.localSize * scene.localSize;
    scene.globalWidth = side;
    scene.globalHeight = side;

    // Ray generation. Where OpenCL writes OpenGL's buffer, the previous frame's raster
    // pass must be done with it first: once a pass, since OpenGL does nothing with the
    // buffer between the pass's kernels.
    Clock::time_point start = Clock::now();
    if (scene.glSharing)
    {
        scene.glSharing->FinishGlWork(context);
    }
    CLWKernel vertexShader = program.GetKernel("VertexShader");
    SetKernelArg(vertexShader, "VertexShader", 0, scene.vertexBuffer);
    SetKernelArg(vertexShader, "VertexShader", 1, scene.drawnVertexBuffer);
    SetKernelArg(vertexShader, "VertexShader", 2, scene.rayBuffer);
    SetKernelArg(vertexShader, "VertexShader", 3, scene.vertexCount);
    SetKernelArg(vertexShader, "VertexShader", 4, static_cast<cl_int>(scene.globalWidth));
    SetKernelArg(vertexShader, "VertexShader", 5, static_cast<cl_int>(scene.globalHeight));
    vertexShader.SetArg(6, sizeof world, &world);
    vertexShader.SetArg(7, sizeof cameraPosition, &cameraPosition);
    vertexShader.SetArg(8, sizeof cameraTarget, &cameraTarget);
    vertexShader.SetArg(9, sizeof lightDirection, &lightDirection);
    RunOverVertices(context, scene, vertexShader, "the kernel \"VertexShader\"");
    t.rayGeneration = SecondsSince(start);

    t.occlusion = t.shadowWrite = 0.0;
    if (castShadows)
    {
        // Occlusion.
        start = Clock::now();
        QueryOcclusionWatched(api, scene.rrRays.get(), scene.vertexCount, scene.rrHits.get(),
                              "the occlusion query");
        t.occlusion = SecondsSince(start);

        // Shadow write.
        start = Clock::now();
        RunShadowShader(context, program, scene);
        t.shadowWrite = SecondsSince(start);
    }

    t.transfer = TransferWhereNotShared(context, scene);
}

void ShadeEveryVertexAsBlocked(const CLWContext& context, const CLWProgram& program,
                               DeviceScene& scene, FrameSample* times)
{
    FrameSample local;
    FrameSample& t = times ? *times : local;

    // Every vertex's answer is "blocked by the occluder".
    Clock::time_point start = Clock::now();
    RadeonRays::Intersection blocked{};
    blocked.shapeid = 1;
    blocked.primid = 0;
    ThrowIfFailed(clEnqueueFillBuffer(
                      context.GetCommandQueue(0), scene.hitBuffer, &blocked, sizeof blocked, 0,
                      static_cast<size_t>(scene.vertexCount) * sizeof blocked, 0, nullptr, nullptr),
                  "clEnqueueFillBuffer failed");
    RunShadowShader(context, program, scene);
    t.shadowWrite = SecondsSince(start);
    t.transfer = TransferWhereNotShared(context, scene);
}
