// The service object: shapes, buffer views, Commit and the dispatch of occlusion queries.
#include "rr/radeon_rays.h"

#include "rr/cl_check.h"
#include "rr/cl_owner.h"
#include "rr/kernel_args.h"
#include "rr/kernel_program.h"
#include "rr/mesh.h"
#include "rr/query_kernels.h"
#include "rr/route_counters.h"
#include "rr/scene_buffers.h"
#include "rr/scene_data.h"

#include <algorithm>
#include <cmath>
#include <limits>
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

// The name of PoCL's platform, whose CPU devices run the packet kernel.
constexpr char kPoclPlatformName[] = "Portable Computing Language";

// The global memory cache assumed of a device that does not say (a CPU's last level).
constexpr std::size_t kAssumedCacheBytes = std::size_t(16) << 20;

// A group of a packet whose origins' box, seen along the rays, has more than this many times
// the area of a typical leaf box is too wide to trace together: its rays go one by one. Single
// rays walked several at a time (in trees beyond the caches) are cheaper, and packets must be
// narrower to beat them.
constexpr float kWideBeamFactor = 32.0f;
constexpr float kWideBeamFactorWalksInFlight = 2.0f;
// Where walks go in flight, a group too wide for a beam walks one ray at a time unless it is
// wider than this many leaf boxes: closer rays find the nodes the ray before them read still in
// the cache, and one walk with its axes fixed is faster than several without.
constexpr float kFlightBeamFactor = 256.0f;

ClKernel CreateKernel(cl_program program, const char* name)
{
    cl_int status = CL_SUCCESS;
    ClKernel kernel(clCreateKernel(program, name, &status));
    CheckCl(status, "clCreateKernel");
    return kernel;
}

// A view of one of the caller's memory objects, holding a reference to it.
class ClBuffer final : public Buffer
{
public:
    ClBuffer(const Api* owner, ClMem mem, std::size_t size)
        : owner(owner), mem(std::move(mem)), size(size)
    {
    }
    const Api* const owner;
    const ClMem mem;
    const std::size_t size;
};

class ClEvent final : public Event
{
public:
    explicit ClEvent(ClEventHandle event) : event(std::move(event)) {}
    void Wait() override
    {
        const cl_event e = event.Get();
        CheckCl(clWaitForEvents(1, &e), "clWaitForEvents");
    }
    bool Complete() const override
    {
        cl_int state = CL_QUEUED;
        CheckCl(clGetEventInfo(event.Get(), CL_EVENT_COMMAND_EXECUTION_STATUS, sizeof(state),
                               &state, nullptr),
                "clGetEventInfo");
        return state == CL_COMPLETE;
    }
    const ClEventHandle event;
};

cl_device_type DeviceType(cl_device_id device)
{
    cl_device_type type = 0;
    CheckCl(clGetDeviceInfo(device, CL_DEVICE_TYPE, sizeof(type), &type, nullptr),
            "clGetDeviceInfo");
    return type;
}

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
    Api(cl_context context, cl_device_id device, cl_command_queue queue,
        const ServiceOptions& options)
        : context_(ClContext::Retained(context)), queue_(ClQueue::Retained(queue)),
          scene_(context, queue, (DeviceType(device) & CL_DEVICE_TYPE_CPU) != 0)
    {
        const cl_device_type type = DeviceType(device);
        const std::string platform = PlatformName(device);
        const QueryKernel deviceKernel = KernelForDevice(type, platform);
        packets_ = (options.kernel == QueryKernel::ForDevice ? deviceKernel : options.kernel) ==
                   QueryKernel::Packets;
        wideWidth_ =
            options.wideWidth != 0 ? options.wideWidth : WideWidthForDevice(type, platform);
        KernelBuild build;
        build.cpuDevice = (type & CL_DEVICE_TYPE_CPU) != 0;
        // The packet kernel's device is PoCL's CPU device, whose compiler also takes the host
        // builtins.
        build.hostCode = deviceKernel == QueryKernel::Packets;
        build.wideWidth = wideWidth_;
        build.countRoutes = options.countRoutes && packets_;
        walks_ = options.walks;
        cl_ulong cache = 0;
        CheckCl(clGetDeviceInfo(device, CL_DEVICE_GLOBAL_MEM_CACHE_SIZE, sizeof(cache), &cache,
                                nullptr),
                "clGetDeviceInfo");
        cacheBytes_ = static_cast<std::size_t>(cache);
        program_ = BuildKernelProgram(context, device, build);
        if (options.countRoutes)
            routes_ = std::make_unique<RouteCounters>(context, queue, packets_);
        if (packets_)
        {
            kernel_ = CreateKernel(program_.Get(), "rr_occlusion_packets");
            groupSize_ = 1;
        }
        else
        {
            kernel_ = CreateKernel(program_.Get(), "rr_occlusion_per_ray");
            // 64 items per group where the device allows it for this kernel.
            std::size_t most = 1;
            CheckCl(clGetKernelWorkGroupInfo(kernel_.Get(), device, CL_KERNEL_WORK_GROUP_SIZE,
                                             sizeof(most), &most, nullptr),
                    "clGetKernelWorkGroupInfo");
            groupSize_ = std::max<std::size_t>(1, std::min<std::size_t>(64, most));
        }
    }

    cl_context Context() const { return context_.Get(); }

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
        // wide one.
        const SceneLayouts layouts{packets_, wideWidth_};
        SceneData scene = BuildScene(attached_, layouts);
        // Queries still running read the scene buffers about to be overwritten; an in-order
        // queue would order the upload after them, an out-of-order one would not.
        CheckCl(clFinish(queue_.Get()), "clFinish");
        // Until the upload and the arguments are complete, queries are refused.
        committed_ = false;
        const float leafArea = scene.leafArea;
        scene_.Upload(std::move(scene), layouts);
        // The scene's arguments change only here; queries set the rays, their count and hits.
        const cl_int triangles = scene_.TriangleCount();
        const cl_mem wideNodes = scene_.WideNodes(), blocks = scene_.Blocks();
        const cl_kernel kernel = kernel_.Get();
        if (!packets_)
        {
            SetArg(kernel, PerRayArg::TriangleCount, triangles);
            SetArg(kernel, PerRayArg::WideNodes, wideNodes);
            SetArg(kernel, PerRayArg::Blocks, blocks);
            committed_ = true;
            return;
        }
        const cl_mem nodes = scene_.Nodes(), tris = scene_.Triangles();
        const cl_int walksInFlight = walks_ == SingleRayWalks::InFlight ||
                                     (walks_ == SingleRayWalks::ForScene &&
                                      WalksInFlightForScene(scene_.SingleRayBytes(), cacheBytes_));
        const cl_float wideBeam =
            (walksInFlight ? kWideBeamFactorWalksInFlight : kWideBeamFactor) * leafArea;
        const cl_float flightBeam =
            walksInFlight ? kFlightBeamFactor * leafArea : std::numeric_limits<float>::infinity();
        SetArg(kernel, PacketArg::Nodes, nodes);
        SetArg(kernel, PacketArg::Triangles, tris);
        SetArg(kernel, PacketArg::TriangleCount, triangles);
        SetArg(kernel, PacketArg::WideNodes, wideNodes);
        SetArg(kernel, PacketArg::Blocks, blocks);
        SetArg(kernel, PacketArg::WideBeam, wideBeam);
        SetArg(kernel, PacketArg::FlightBeam, flightBeam);
        committed_ = true;
    }

    std::size_t SceneBytes() const { return scene_.Bytes(); }

    // The rays each route answered since the last call.
    RouteCounts TakeRouteCounts()
    {
        if (!routes_)
            Refuse("detail::TakeRouteCounts", "the service was not made to count routes");
        return routes_->Take();
    }

    void QueryOcclusion(const Buffer* rays, int numrays, Buffer* hits, const Event* waitevent,
                        Event** event) const override
    {
        const char* op = "QueryOcclusion";
        if (!committed_)
            Refuse(op, "no scene committed yet");
        const ClBuffer* rayBuffer = Own(rays, op, "ray");
        const ClBuffer* hitBuffer = Own(hits, op, "hit");
        if (rayBuffer->mem.Get() == hitBuffer->mem.Get())
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
            wait = e->event.Get();
        }

        cl_event done = nullptr;
        if (n == 0)
        {
            CheckCl(clEnqueueMarkerWithWaitList(queue_.Get(), wait ? 1 : 0, wait ? &wait : nullptr,
                                                event ? &done : nullptr),
                    "clEnqueueMarkerWithWaitList");
        }
        else
        {
            const cl_kernel kernel = kernel_.Get();
            const cl_mem rayMem = rayBuffer->mem.Get(), hitMem = hitBuffer->mem.Get();
            const cl_int count = numrays;
            std::size_t items = n;
            if (packets_)
            {
                items = (n + kItemRays - 1) / kItemRays;
                SetArg(kernel, PacketArg::Rays, rayMem);
                SetArg(kernel, PacketArg::NumRays, count);
                SetArg(kernel, PacketArg::Hits, hitMem);
            }
            else
            {
                SetArg(kernel, PerRayArg::Rays, rayMem);
                SetArg(kernel, PerRayArg::NumRays, count);
                SetArg(kernel, PerRayArg::Hits, hitMem);
            }
            if (routes_)
                routes_->BeforeQuery(kernel, n);
            const std::size_t local = groupSize_;
            const std::size_t global = (items + local - 1) / local * local;
            CheckCl(clEnqueueNDRangeKernel(queue_.Get(), kernel, 1, nullptr, &global, &local,
                                           wait ? 1 : 0, wait ? &wait : nullptr,
                                           event ? &done : nullptr),
                    "clEnqueueNDRangeKernel");
        }
        // Owned from here, so that nothing below leaks it.
        ClEventHandle completion(done);
        if (event)
            *event = new ClEvent(std::move(completion));
        CheckCl(clFlush(queue_.Get()), "clFlush");
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

    // Released in the reverse order: the kernel before its program, every device object
    // before the queue and the context.
    ClContext context_;
    ClQueue queue_;
    ClProgram program_;
    ClKernel kernel_;
    bool packets_ = false; // packets of rays per work-item, else one ray per work-item
    std::size_t groupSize_ = 1;
    // Children per node of the single rays' tree.
    int wideWidth_ = kMaxWideWidth;
    SingleRayWalks walks_ = SingleRayWalks::ForScene;
    std::size_t cacheBytes_ = 0; // the device's global memory cache, 0 where it does not say
    // Only in a service made to count the rays each route answered.
    std::unique_ptr<RouteCounters> routes_;
    SceneBuffers scene_;
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

IntersectionApi* detail::CreateWithOptions(cl_context context, cl_device_id device,
                                           cl_command_queue queue, const ServiceOptions& options)
{
    if (options.wideWidth != 0 && options.wideWidth != 4 && options.wideWidth != 8)
        throw std::invalid_argument("RadeonRays::detail::CreateWithOptions: width " +
                                    std::to_string(options.wideWidth) + " is neither 4 nor 8");
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
    return new detail::Api(context, device, queue, options);
}

namespace
{

bool PoclCpuDevice(cl_device_type type, const std::string& platformName)
{
    return (type & CL_DEVICE_TYPE_CPU) != 0 && platformName == detail::kPoclPlatformName;
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

bool detail::WalksInFlightForScene(std::size_t layoutBytes, std::size_t cacheBytes)
{
    return layoutBytes > (cacheBytes != 0 ? cacheBytes : kAssumedCacheBytes);
}

IntersectionApi* CreateFromOpenClContext(cl_context context, cl_device_id device,
                                         cl_command_queue queue)
{
    return detail::CreateWithOptions(context, device, queue, detail::ServiceOptions{});
}

detail::RouteCounts detail::TakeRouteCounts(IntersectionApi* api)
{
    auto* owner = dynamic_cast<detail::Api*>(api);
    if (!owner)
        throw std::invalid_argument("RadeonRays::detail::TakeRouteCounts: null service");
    return owner->TakeRouteCounts();
}

std::size_t detail::SceneDeviceBytes(const IntersectionApi* api)
{
    auto* owner = dynamic_cast<const detail::Api*>(api);
    if (!owner)
        throw std::invalid_argument("RadeonRays::detail::SceneDeviceBytes: null service");
    return owner->SceneBytes();
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
    return new detail::ClBuffer(owner, detail::ClMem::Retained(buffer), size);
}

} // namespace RadeonRays
