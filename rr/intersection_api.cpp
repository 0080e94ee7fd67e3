// The service object: shapes, buffer views, Commit and the dispatch of occlusion queries.
#include "rr/radeon_rays.h"

#include "rr/cl_check.h"
#include "rr/device_scene.h"
#include "rr/growing_buffer.h"
#include "rr/kernel_args.h"
#include "rr/kernel_program.h"
#include "rr/mesh.h"
#include "rr/query_kernels.h"
#include "rr/scene_data.h"

#include <algorithm>
#include <cmath>
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
// A group of a packet whose origins' box, seen along the rays, has more than this many times
// the area of a typical leaf box is too wide to trace together: its rays go one by one.
constexpr float kWideBeamFactor = 32.0f;

cl_kernel CreateKernel(cl_program program, const char* name)
{
    cl_int status = CL_SUCCESS;
    cl_kernel kernel = clCreateKernel(program, name, &status);
    CheckCl(status, "clCreateKernel");
    return kernel;
}

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

std::string PlatformName(cl_device_id device)
{
    cl_platform_id platform = nullptr;
    CheckCl(clGetDeviceInfo(device, CL_DEVICE_PLATFORM, sizeof(platform), &platform, nullptr),
            "clGetDeviceInfo");
    std::size_t size = 0;
    CheckCl(clGetPlatformInfo(platform, CL_PLATFORM_NAME, 0, nullptr, &size), "clGetPlatformInfo");
    std::string name(size, '\0');
    CheckCl(clGetPlatformInfo(platform, CL_PLATFORM_NAME, size, name.data(), nullptr),
            "clGetPlatformInfo");
    name.resize(name.find('\0') == std::string::npos ? name.size() : name.find('\0'));
    return name;
}

[[noreturn]] void Refuse(const char* operation, const std::string& what)
{
    throw std::invalid_argument(std::string("RadeonRays::") + operation + ": " + what);
}

class Api final : public IntersectionApi
{
public:
    Api(cl_context context, cl_device_id device, cl_command_queue queue, QueryKernel choice,
        int wideWidth)
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
            // The packet kernel's device is PoCL's CPU device, whose compiler also takes the
            // host prefetch.
            const std::string platform = PlatformName(device);
            const QueryKernel deviceKernel = KernelForDevice(type, platform);
            wideWidth_ = wideWidth != 0 ? wideWidth : WideWidthForDevice(type, platform);
            program_ = BuildKernelProgram(context_, device, cpuDevice,
                                          deviceKernel == QueryKernel::Packets, wideWidth_);
            if (choice == QueryKernel::ForDevice)
            {
                choice = deviceKernel;
            }
            packets_ = choice == QueryKernel::Packets;
            if (packets_)
            {
                kernel_ = CreateKernel(program_, "rr_occlusion_packets");
                paths_.Reserve(context_, sizeof(cl_int) * kPathCount);
                ZeroPaths();
                groupSize_ = 1;
            }
            else
            {
                kernel_ = CreateKernel(program_, "rr_occlusion_per_ray");
                // 64 items per group where the device allows it for this kernel.
                std::size_t most = 1;
                CheckCl(clGetKernelWorkGroupInfo(kernel_, device, CL_KERNEL_WORK_GROUP_SIZE,
                                                 sizeof(most), &most, nullptr),
                        "clGetKernelWorkGroupInfo");
                groupSize_ = std::max<std::size_t>(1, std::min<std::size_t>(64, most));
            }
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
        // Packets fall back on single rays, so they read both layouts; single rays only the
        // eight-wide one.
        const SceneLayouts layouts{packets_, wideWidth_};
        SceneData scene = BuildScene(attached_, layouts);
        // Queries still running read the scene buffers about to be overwritten; an in-order
        // queue would order the upload after them, an out-of-order one would not.
        CheckCl(clFinish(queue_), "clFinish");
        // Until the upload and the arguments are complete, queries are refused.
        committed_ = false;
        scene_.Upload(scene, layouts);
        // The scene's arguments change only here; queries set the rays, their count and hits.
        const cl_int triangles = scene_.TriangleCount();
        const cl_mem wideNodes = scene_.WideNodes(), blocks = scene_.Blocks();
        if (!packets_)
        {
            SetArg(kernel_, PerRayArg::TriangleCount, triangles);
            SetArg(kernel_, PerRayArg::WideNodes, wideNodes);
            SetArg(kernel_, PerRayArg::Blocks, blocks);
            committed_ = true;
            return;
        }
        const cl_mem nodes = scene_.Nodes(), tris = scene_.Triangles();
        const cl_float wideBeam = kWideBeamFactor * scene.leafArea;
        SetArg(kernel_, PacketArg::Nodes, nodes);
        SetArg(kernel_, PacketArg::Triangles, tris);
        SetArg(kernel_, PacketArg::TriangleCount, triangles);
        SetArg(kernel_, PacketArg::WideNodes, wideNodes);
        SetArg(kernel_, PacketArg::Blocks, blocks);
        SetArg(kernel_, PacketArg::WideBeam, wideBeam);
        committed_ = true;
    }

    // Makes room for queries of up to `rays` rays, so that queries allocate nothing.
    void ReserveForRays(std::size_t rays)
    {
        if (packets_)
            ReservePaths((rays + kPacketSize - 1) / kPacketSize);
    }

    // How many rays each path answered since the last call.
    QueryPaths TakePaths()
    {
        QueryPaths paths = pathsCarried_;
        pathsCarried_ = QueryPaths{};
        paths.single += perRayRays_;
        perRayRays_ = 0;
        if (!packets_)
            return paths;
        ReadPaths(paths);
        return paths;
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
            std::size_t items = n;
            if (packets_)
            {
                items = (n + kPacketSize - 1) / kPacketSize;
                ReservePaths(items);
                SetArg(kernel_, PacketArg::Rays, rayBuffer->mem);
                SetArg(kernel_, PacketArg::NumRays, count);
                SetArg(kernel_, PacketArg::Hits, hitBuffer->mem);
                SetArg(kernel_, PacketArg::Paths, paths_.Get());
            }
            else
            {
                SetArg(kernel_, PerRayArg::Rays, rayBuffer->mem);
                SetArg(kernel_, PerRayArg::NumRays, count);
                SetArg(kernel_, PerRayArg::Hits, hitBuffer->mem);
                perRayRays_ += n;
            }
            const std::size_t local = groupSize_;
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
    // Counters of the rays each path answered, per packet: packet, single (RR_PATH_* in
    // kernels/packet.cl).
    static constexpr int kPathCount = 2;

    // Counters for queries of the given number of packets (made when a buffer view is); when
    // they grow, the counts so far are kept on the host (blocks, only then).
    void ReservePaths(std::size_t packets) const
    {
        if (packets * kPathCount * sizeof(cl_int) <= paths_.Capacity())
            return;
        ReadPaths(pathsCarried_);
        paths_.Reserve(context_, packets * kPathCount * sizeof(cl_int));
        ZeroPaths();
    }

    // Adds the device's counts to paths and zeroes them (blocks).
    void ReadPaths(QueryPaths& paths) const
    {
        std::vector<cl_int> counts(paths_.Capacity() / sizeof(cl_int));
        CheckCl(clEnqueueReadBuffer(queue_, paths_.Get(), CL_TRUE, 0, paths_.Capacity(),
                                    counts.data(), 0, nullptr, nullptr),
                "clEnqueueReadBuffer");
        for (std::size_t i = 0; i + kPathCount <= counts.size(); i += kPathCount)
        {
            paths.packet += counts[i];
            paths.single += counts[i + 1];
        }
        ZeroPaths();
    }

    void ZeroPaths() const
    {
        const cl_int zero = 0;
        CheckCl(clEnqueueFillBuffer(queue_, paths_.Get(), &zero, sizeof(zero), 0, paths_.Capacity(),
                                    0, nullptr, nullptr),
                "clEnqueueFillBuffer");
        CheckCl(clFinish(queue_), "clFinish");
    }

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
        paths_.Release();
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
    bool packets_ = false; // packets of rays per work-item, else one ray per work-item
    cl_kernel kernel_ = nullptr;
    std::size_t groupSize_ = 1;
    // Children per node of the single rays' tree.
    int wideWidth_ = kMaxWideWidth;
    // Packets only: each packet's counts of the rays each path answered.
    mutable GrowingBuffer paths_{CL_MEM_READ_WRITE};
    mutable QueryPaths pathsCarried_; // counts read before the counters last grew
    mutable long long perRayRays_ = 0;
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
                                               cl_command_queue queue, QueryKernel kernel,
                                               int wideWidth)
{
    if (wideWidth != 0 && wideWidth != 4 && wideWidth != 8)
        throw std::invalid_argument("RadeonRays::detail::CreateWithQueryKernel: width " +
                                    std::to_string(wideWidth) + " is neither 4 nor 8");
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
    return new detail::Api(context, device, queue, kernel, wideWidth);
}

namespace
{

bool PoclCpuDevice(cl_device_type type, const std::string& platformName)
{
    return (type & CL_DEVICE_TYPE_CPU) != 0 && platformName == "Portable Computing Language";
}

} // namespace

detail::QueryKernel detail::KernelForDevice(cl_device_type type, const std::string& platformName)
{
    return PoclCpuDevice(type, platformName) ? QueryKernel::Packets : QueryKernel::PerRay;
}

int detail::WideWidthForDevice(cl_device_type type, const std::string& platformName)
{
    return PoclCpuDevice(type, platformName) ? 8 : 4;
}

IntersectionApi* CreateFromOpenClContext(cl_context context, cl_device_id device,
                                         cl_command_queue queue)
{
    return detail::CreateWithQueryKernel(context, device, queue, detail::QueryKernel::ForDevice);
}

detail::QueryPaths detail::TakeQueryPaths(IntersectionApi* api)
{
    auto* owner = dynamic_cast<detail::Api*>(api);
    if (!owner)
        throw std::invalid_argument("RadeonRays::detail::TakeQueryPaths: null service");
    return owner->TakePaths();
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
    // A view may be the rays of a query: room for its counters is made now, not in the query.
    owner->ReserveForRays(size / sizeof(ray));
    detail::CheckCl(clRetainMemObject(buffer), "clRetainMemObject");
    return new detail::ClBuffer(owner, buffer, size);
}

} // namespace RadeonRays
