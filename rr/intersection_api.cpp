// The service object: shapes, buffer views, Commit and the dispatch of occlusion queries.
#include "rr/radeon_rays.h"

#include "rr/cl_check.h"
#include "rr/device_scene.h"
#include "rr/kernel_program.h"
#include "rr/mesh.h"
#include "rr/query_kernels.h"
#include "rr/scene_data.h"

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace RadeonRays
{
namespace detail
{
namespace
{

class Api;

// Rays per work-item of the packet kernel (RR_PACKET in kernels/packet.cl).
constexpr std::size_t kPacketSize = 64;

class ClBuffer final : public Buffer
{
public:
    ClBuffer(const Api* owner, cl_mem mem, std::size_t size) : owner(owner), mem(mem), size(size) {}
    ~ClBuffer() override { clReleaseMemObject(mem); }
    const Api* owner;
    cl_mem mem;
    std::size_t size;
};

class ClEvent final : public Event
{
public:
    explicit ClEvent(cl_event event) : event(event) {}
    ~ClEvent() override { clReleaseEvent(event); }
    void Wait() override { CheckCl(clWaitForEvents(1, &event), "clWaitForEvents"); }
    bool Complete() const override
    {
        cl_int state = CL_QUEUED;
        CheckCl(clGetEventInfo(event, CL_EVENT_COMMAND_EXECUTION_STATUS, sizeof(state), &state,
                               nullptr),
                "clGetEventInfo");
        return state == CL_COMPLETE;
    }
    cl_event event;
};

[[noreturn]] void Refuse(const char* operation, const std::string& what)
{
    throw std::invalid_argument(std::string("RadeonRays::") + operation + ": " + what);
}

class Api final : public IntersectionApi
{
public:
    Api(cl_context context, cl_device_id device, cl_command_queue queue, QueryKernel choice)
        : context_(context), queue_(queue), scene_(context, queue)
    {
        CheckCl(clRetainContext(context_), "clRetainContext");
        CheckCl(clRetainCommandQueue(queue_), "clRetainCommandQueue");
        try
        {
            cl_device_type type = 0;
            CheckCl(clGetDeviceInfo(device, CL_DEVICE_TYPE, sizeof(type), &type, nullptr),
                    "clGetDeviceInfo");
            const bool cpuDevice = (type & CL_DEVICE_TYPE_CPU) != 0;
            program_ = BuildKernelProgram(context_, device, cpuDevice);
            cl_int status = CL_SUCCESS;
            // CPUs run a work-group's items one after the other: there one item takes a
            // packet of rays and vectorises over them. GPUs run items in lockstep: there one
            // item takes one ray.
            const bool cpu =
                choice == QueryKernel::ForDevice ? cpuDevice : choice == QueryKernel::Packets;
            kernel_ = clCreateKernel(
                program_, cpu ? "rr_occlusion_packets" : "rr_occlusion_per_ray", &status);
            CheckCl(status, "clCreateKernel");
            raysPerItem_ = cpu ? kPacketSize : 1;
            // 64 items per group where the device allows it for this kernel.
            std::size_t most = 1;
            CheckCl(clGetKernelWorkGroupInfo(kernel_, device, CL_KERNEL_WORK_GROUP_SIZE,
                                             sizeof(most), &most, nullptr),
                    "clGetKernelWorkGroupInfo");
            groupSize_ = cpu ? 1 : std::max<std::size_t>(1, std::min<std::size_t>(64, most));
        }
        catch (...)
        {
            Release();
            throw;
        }
    }

    ~Api() override { Release(); }

    cl_context Context() const { return context_; }

    Shape* CreateMesh(const float* vertices, int vnum, int vstride, const int* indices, int istride,
                      const int* numfacevertices, int numfaces) override
    {
        meshes_.push_back(std::make_unique<Mesh>(vertices, vnum, vstride, indices, istride,
                                                 numfacevertices, numfaces));
        return meshes_.back().get();
    }

    void DeleteShape(const Shape* shape) override
    {
        auto it = Find(shape, "DeleteShape");
        attached_.erase(std::remove(attached_.begin(), attached_.end(), it->get()),
                        attached_.end());
        meshes_.erase(it);
    }

    void AttachShape(const Shape* shape) override
    {
        const Mesh* mesh = Find(shape, "AttachShape")->get();
        if (std::find(attached_.begin(), attached_.end(), mesh) == attached_.end())
            attached_.push_back(mesh);
    }

    void DetachShape(const Shape* shape) override
    {
        const Mesh* mesh = Find(shape, "DetachShape")->get();
        attached_.erase(std::remove(attached_.begin(), attached_.end(), mesh), attached_.end());
    }

    void Commit() override
    {
        SceneData scene = BuildScene(attached_);
        // Queries still running read the scene buffers about to be overwritten; an in-order
        // queue would order the upload after them, an out-of-order one would not.
        CheckCl(clFinish(queue_), "clFinish");
        // Until the upload and the arguments are complete, queries are refused.
        committed_ = false;
        scene_.Upload(scene);
        // The scene's arguments change only here; queries set the rays, their count and hits.
        const cl_int triangles = scene_.TriangleCount();
        const cl_mem nodes = scene_.Nodes(), tris = scene_.Triangles(),
                     wideNodes = scene_.WideNodes(), blocks = scene_.Blocks();
        CheckCl(clSetKernelArg(kernel_, 3, sizeof(cl_mem), &nodes), "clSetKernelArg");
        CheckCl(clSetKernelArg(kernel_, 4, sizeof(cl_mem), &tris), "clSetKernelArg");
        CheckCl(clSetKernelArg(kernel_, 5, sizeof(cl_int), &triangles), "clSetKernelArg");
        CheckCl(clSetKernelArg(kernel_, 6, sizeof(cl_mem), &wideNodes), "clSetKernelArg");
        CheckCl(clSetKernelArg(kernel_, 7, sizeof(cl_mem), &blocks), "clSetKernelArg");
        committed_ = true;
    }

    void QueryOcclusion(const Buffer* rays, int numrays, Buffer* hits, const Event* waitevent,
                        Event** event) const override
    {
        const char* op = "QueryOcclusion";
        if (!committed_)
            Refuse(op, "no scene committed yet");
        const ClBuffer* rayBuffer = Own(rays, op, "ray");
        const ClBuffer* hitBuffer = Own(hits, op, "hit");
        if (rayBuffer->mem == hitBuffer->mem)
            Refuse(op, "rays and hits are the same memory object");
        if (numrays < 0)
            Refuse(op, "negative ray count " + std::to_string(numrays));
        const std::size_t n = static_cast<std::size_t>(numrays);
        if (n > rayBuffer->size / sizeof(ray))
            Refuse(op, std::to_string(numrays) + " rays but the ray buffer holds " +
                           std::to_string(rayBuffer->size / sizeof(ray)));
        if (n > hitBuffer->size / sizeof(Intersection))
            Refuse(op, std::to_string(numrays) + " rays but the hit buffer holds " +
                           std::to_string(hitBuffer->size / sizeof(Intersection)));
        cl_event wait = nullptr;
        if (waitevent)
        {
            auto* e = dynamic_cast<const ClEvent*>(waitevent);
            if (!e)
                Refuse(op, "wait event was not made by this library");
            wait = e->event;
        }

        cl_event done = nullptr;
        if (n == 0)
        {
            CheckCl(clEnqueueMarkerWithWaitList(queue_, wait ? 1 : 0, wait ? &wait : nullptr,
                                                event ? &done : nullptr),
                    "clEnqueueMarkerWithWaitList");
        }
        else
        {
            const cl_int count = numrays;
            CheckCl(clSetKernelArg(kernel_, 0, sizeof(cl_mem), &rayBuffer->mem), "clSetKernelArg");
            CheckCl(clSetKernelArg(kernel_, 1, sizeof(cl_int), &count), "clSetKernelArg");
            CheckCl(clSetKernelArg(kernel_, 2, sizeof(cl_mem), &hitBuffer->mem), "clSetKernelArg");
            const std::size_t local = groupSize_;
            const std::size_t items = (n + raysPerItem_ - 1) / raysPerItem_;
            const std::size_t global = (items + local - 1) / local * local;
            CheckCl(clEnqueueNDRangeKernel(queue_, kernel_, 1, nullptr, &global, &local,
                                           wait ? 1 : 0, wait ? &wait : nullptr,
                                           event ? &done : nullptr),
                    "clEnqueueNDRangeKernel");
        }
        if (event)
        {
            try
            {
                *event = new ClEvent(done);
            }
            catch (...)
            {
                clReleaseEvent(done);
                throw;
            }
        }
        CheckCl(clFlush(queue_), "clFlush");
    }

    void DeleteEvent(Event* event) const override { delete event; }
    void DeleteBuffer(Buffer* buffer) const override
    {
        if (buffer)
            Own(buffer, "DeleteBuffer", "given");
        delete buffer;
    }

private:
    std::vector<std::unique_ptr<Mesh>>::iterator Find(const Shape* shape, const char* op)
    {
        if (!shape)
            Refuse(op, "null shape");
        auto it = std::find_if(meshes_.begin(), meshes_.end(),
                               [shape](const auto& m) { return m.get() == shape; });
        if (it == meshes_.end())
            Refuse(op, "the shape was not made by this service, or was deleted");
        return it;
    }

    const ClBuffer* Own(const Buffer* buffer, const char* op, const char* role) const
    {
        if (!buffer)
            Refuse(op, std::string("null ") + role + " buffer");
        auto* b = dynamic_cast<const ClBuffer*>(buffer);
        if (!b || b->owner != this)
            Refuse(op, std::string("the ") + role + " buffer was not made for this service");
        return b;
    }

    void Release()
    {
        if (kernel_)
            clReleaseKernel(kernel_);
        if (program_)
            clReleaseProgram(program_);
        clReleaseCommandQueue(queue_);
        clReleaseContext(context_);
    }

    cl_context context_;
    cl_command_queue queue_;
    cl_program program_ = nullptr;
    cl_kernel kernel_ = nullptr;
    std::size_t groupSize_ = 1;
    std::size_t raysPerItem_ = 1;
    DeviceScene scene_;
    std::vector<std::unique_ptr<Mesh>> meshes_;
    std::vector<const Mesh*> attached_;
    bool committed_ = false;
};

} // namespace
} // namespace detail

void IntersectionApi::Delete(IntersectionApi* api)
{
    delete api;
}

IntersectionApi* detail::CreateWithQueryKernel(cl_context context, cl_device_id device,
                                               cl_command_queue queue, QueryKernel kernel)
{
    if (!context)
        throw std::invalid_argument("RadeonRays::CreateFromOpenClContext: null context");
    if (!device)
        throw std::invalid_argument("RadeonRays::CreateFromOpenClContext: null device");
    if (!queue)
        throw std::invalid_argument("RadeonRays::CreateFromOpenClContext: null queue");
    cl_context queueContext = nullptr;
    cl_device_id queueDevice = nullptr;
    CheckCl(clGetCommandQueueInfo(queue, CL_QUEUE_CONTEXT, sizeof(queueContext), &queueContext,
                                  nullptr),
            "clGetCommandQueueInfo");
    CheckCl(
        clGetCommandQueueInfo(queue, CL_QUEUE_DEVICE, sizeof(queueDevice), &queueDevice, nullptr),
        "clGetCommandQueueInfo");
    if (queueContext != context)
        throw std::invalid_argument(
            "RadeonRays::CreateFromOpenClContext: the queue belongs to another context");
    if (queueDevice != device)
        throw std::invalid_argument(
            "RadeonRays::CreateFromOpenClContext: the queue feeds another device");
    return new detail::Api(context, device, queue, kernel);
}

IntersectionApi* CreateFromOpenClContext(cl_context context, cl_device_id device,
                                         cl_command_queue queue)
{
    return detail::CreateWithQueryKernel(context, device, queue, detail::QueryKernel::ForDevice);
}

Buffer* CreateFromOpenClBuffer(IntersectionApi* api, cl_mem buffer)
{
    auto* owner = dynamic_cast<detail::Api*>(api);
    if (!owner)
        throw std::invalid_argument("RadeonRays::CreateFromOpenClBuffer: null service");
    if (!buffer)
        throw std::invalid_argument("RadeonRays::CreateFromOpenClBuffer: null memory object");
    cl_context context = nullptr;
    detail::CheckCl(clGetMemObjectInfo(buffer, CL_MEM_CONTEXT, sizeof(context), &context, nullptr),
                    "clGetMemObjectInfo");
    if (context != owner->Context())
        throw std::invalid_argument(
            "RadeonRays::CreateFromOpenClBuffer: the memory object belongs to another context");
    std::size_t size = 0;
    detail::CheckCl(clGetMemObjectInfo(buffer, CL_MEM_SIZE, sizeof(size), &size, nullptr),
                    "clGetMemObjectInfo");
    detail::CheckCl(clRetainMemObject(buffer), "clRetainMemObject");
    return new detail::ClBuffer(owner, buffer, size);
}

} // namespace RadeonRays
