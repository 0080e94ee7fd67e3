#include "app/ShadowPass.h"

#include "app/ComputeStartup.h"

#include <chrono>
#include <cmath>
#include <stdexcept>

namespace
{

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Brings the drawn vertices to OpenGL where the device does not share its buffer: read
// straight into OpenGL's mapped buffer, so the frame makes one copy and allocates nothing.
void CopyVerticesToGl(const CLWContext& context, DeviceScene& scene)
{
    const size_t bytes = static_cast<size_t>(scene.vertexCount) * sizeof(_Vertex);
    if (scene.destination == DrawnVertices::InHostMemory)
    {
        context.ReadBuffer(0, scene.drawnVertexBuffer, bytes, scene.hostCopy.data());
        return;
    }
    glBindBuffer(GL_ARRAY_BUFFER, scene.glVertexBuffer);
    void* target = glMapBufferRange(GL_ARRAY_BUFFER, 0, static_cast<GLsizeiptr>(bytes),
                                    GL_MAP_WRITE_BIT | GL_MAP_INVALIDATE_BUFFER_BIT);
    if (!target)
    {
        glBindBuffer(GL_ARRAY_BUFFER, 0);
        throw std::runtime_error("cannot map the OpenGL vertex buffer for the host copy");
    }
    try
    {
        context.ReadBuffer(0, scene.drawnVertexBuffer, bytes, target);
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

// Runs kernel over the launch range and waits for it. Where the drawn vertices live in
// OpenGL's buffer, OpenCL holds that buffer only for the kernel's duration, and the
// release has completed before this returns, so that OpenGL never draws from a buffer
// OpenCL still holds. (OpenGL's earlier work on it was finished once, before the pass.)
void RunOverVertices(const CLWContext& context, const DeviceScene& scene, const CLWKernel& kernel)
{
    const size_t globalSize[2] = {scene.globalWidth, scene.globalHeight};
    const size_t localSize[2] = {scene.localSize, scene.localSize};
    // The launch event is dropped at once; the Finish is the wait.
    if (!scene.glSharing)
    {
        context.Launch2D(0, globalSize, localSize, kernel);
        context.Finish(0);
        return;
    }
    scene.glSharing->Acquire(context, scene.drawnVertexBuffer);
    context.Launch2D(0, globalSize, localSize, kernel);
    scene.glSharing->Release(context, scene.drawnVertexBuffer);
    context.Finish(0);
}

} // namespace

void RadeonRaysBufferDeleter::operator()(RadeonRays::Buffer* buffer) const
{
    api->DeleteBuffer(buffer);
}

void RadeonRaysShapeDeleter::operator()(RadeonRays::Shape* shape) const
{
    api->DetachShape(shape);
    api->DeleteShape(shape);
}

size_t LaunchSide(int vertexCount)
{
    return static_cast<size_t>(static_cast<int>(std::ceil(std::sqrt(double(vertexCount)))));
}

DeviceScene CreateDeviceScene(const CLWContext& context, RadeonRays::IntersectionApi* api,
                              const Model& model, DrawnVertices destination,
                              std::unique_ptr<GlSharingSteps> glSharing, const Mat4* world)
{
    const std::vector<_Vertex>& vertices = model.GetVertices();
    DeviceScene scene;
    scene.vertexCount = static_cast<int>(vertices.size());
    scene.globalWidth = LaunchSide(scene.vertexCount);
    scene.globalHeight = LaunchSide(scene.vertexCount);
    scene.localSize = 1;
    const size_t n = vertices.size();

    scene.vertexBuffer = CLWBuffer<_Vertex>::Create(
        context, CL_MEM_READ_ONLY | CL_MEM_COPY_HOST_PTR, n, const_cast<_Vertex*>(vertices.data()));
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
    scene.rrRays = {RadeonRays::CreateFromOpenClBuffer(api, scene.rayBuffer), {api}};
    scene.hitBuffer =
        CLWBuffer<RadeonRays::Intersection>::Create(context, CL_MEM_READ_WRITE, n, nullptr);
    scene.rrHits = {RadeonRays::CreateFromOpenClBuffer(api, scene.hitBuffer), {api}};

    // Rays start on the fine vertices but are traced against the coarse triangles.
    std::vector<Float3> framed;
    if (world)
    {
        framed.reserve(model.GetPositions().size());
        for (const Float3& p : model.GetPositions())
        {
            const float* m = world->m;
            framed.push_back({m[0] * p.x + m[4] * p.y + m[8] * p.z + m[12],
                              m[1] * p.x + m[5] * p.y + m[9] * p.z + m[13],
                              m[2] * p.x + m[6] * p.y + m[10] * p.z + m[14]});
        }
    }
    const std::vector<Float3>& positions = world ? framed : model.GetPositions();
    const std::vector<GLuint>& indices = model.GetIndices();
    RadeonRays::Shape* occluder =
        api->CreateMesh(&positions[0].x, static_cast<int>(positions.size()), sizeof(Float3),
                        reinterpret_cast<const int*>(indices.data()), 0, nullptr,
                        static_cast<int>(indices.size() / 3));
    // Owned before it is attached, so that it is deleted (and detached) whatever follows.
    scene.occluder = {occluder, {api}};
    api->AttachShape(occluder);
    occluder->SetId(1);
    api->Commit();
    return scene;
}

void RunShadowPass(const CLWContext& context, const CLWProgram& program,
                   RadeonRays::IntersectionApi* api, DeviceScene& scene, const Mat4& world,
                   const Float3& cameraPosition, const Float3& cameraTarget,
                   const Float3& lightDirection, ShadowPassTimes* times, bool castShadows)
{
    ShadowPassTimes local;
    ShadowPassTimes& t = times ? *times : local;

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
    vertexShader.SetArg(0, scene.vertexBuffer);
    vertexShader.SetArg(1, scene.drawnVertexBuffer);
    vertexShader.SetArg(2, scene.rayBuffer);
    vertexShader.SetArg(3, scene.vertexCount);
    vertexShader.SetArg(4, static_cast<cl_int>(scene.globalWidth));
    vertexShader.SetArg(5, static_cast<cl_int>(scene.globalHeight));
    vertexShader.SetArg(6, sizeof world, &world);
    vertexShader.SetArg(7, sizeof cameraPosition, &cameraPosition);
    vertexShader.SetArg(8, sizeof cameraTarget, &cameraTarget);
    vertexShader.SetArg(9, sizeof lightDirection, &lightDirection);
    RunOverVertices(context, scene, vertexShader);
    t.rayGeneration = SecondsSince(start);

    t.occlusion = t.shadowWrite = 0.0;
    if (castShadows)
    {
        // Occlusion.
        start = Clock::now();
        RadeonRays::Event* done = nullptr;
        api->QueryOcclusion(scene.rrRays.get(), scene.vertexCount, scene.rrHits.get(), nullptr,
                            &done);
        done->Wait();
        api->DeleteEvent(done);
        t.occlusion = SecondsSince(start);

        // Shadow write.
        start = Clock::now();
        CLWKernel shadowShader = program.GetKernel("ShadowShader");
        shadowShader.SetArg(0, scene.drawnVertexBuffer);
        shadowShader.SetArg(1, scene.hitBuffer);
        shadowShader.SetArg(2, scene.vertexCount);
        shadowShader.SetArg(3, static_cast<cl_int>(scene.globalWidth));
        shadowShader.SetArg(4, static_cast<cl_int>(scene.globalHeight));
        RunOverVertices(context, scene, shadowShader);
        t.shadowWrite = SecondsSince(start);
    }

    // Transfer, where OpenCL could not write OpenGL's buffer itself.
    start = Clock::now();
    if (!scene.glSharing)
    {
        CopyVerticesToGl(context, scene);
    }
    t.transfer = SecondsSince(start);
}
