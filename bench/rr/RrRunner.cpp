#include "RrRunner.h"

#include "rr/query_kernels.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <stdexcept>

namespace rrbench
{
namespace
{

double Now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void Check(cl_int status, const char* what)
{
    if (status != CL_SUCCESS)
        throw std::runtime_error(std::string(what) + " failed: " + std::to_string(status));
}

} // namespace

RrRunner::RrRunner(bool preferGpu, bool perRay, std::size_t capacity)
{
    cl_uint count = 0;
    Check(clGetPlatformIDs(0, nullptr, &count), "clGetPlatformIDs");
    std::vector<cl_platform_id> platforms(count);
    Check(clGetPlatformIDs(count, platforms.data(), nullptr), "clGetPlatformIDs");
    for (cl_device_type type :
         {preferGpu ? CL_DEVICE_TYPE_GPU : CL_DEVICE_TYPE_ALL, CL_DEVICE_TYPE_ALL})
    {
        for (cl_platform_id p : platforms)
        {
            cl_uint n = 0;
            if (clGetDeviceIDs(p, type, 1, &device_, &n) == CL_SUCCESS && n > 0)
                break;
            device_ = nullptr;
        }
        if (device_)
            break;
    }
    if (!device_)
        throw std::runtime_error("no OpenCL device");
    char name[256] = {};
    clGetDeviceInfo(device_, CL_DEVICE_NAME, sizeof(name) - 1, name, nullptr);
    deviceName_ = name;
    cl_int status = CL_SUCCESS;
    context_ = clCreateContext(nullptr, 1, &device_, nullptr, nullptr, &status);
    Check(status, "clCreateContext");
    queue_ = clCreateCommandQueue(context_, device_, 0, &status);
    Check(status, "clCreateCommandQueue");
    rayMem_ = clCreateBuffer(context_, CL_MEM_READ_WRITE, capacity * sizeof(RadeonRays::ray),
                             nullptr, &status);
    Check(status, "clCreateBuffer");
    hitMem_ = clCreateBuffer(context_, CL_MEM_READ_WRITE,
                             capacity * sizeof(RadeonRays::Intersection), nullptr, &status);
    Check(status, "clCreateBuffer");
    // The measured service counts nothing; a twin made to count routes answers the same rays
    // once per workload, for the routes column.
    RadeonRays::detail::ServiceOptions options;
    options.kernel = perRay ? RadeonRays::detail::QueryKernel::PerRay
                            : RadeonRays::detail::QueryKernel::ForDevice;
    api_ = RadeonRays::detail::CreateWithOptions(context_, device_, queue_, options);
    rays_ = RadeonRays::CreateFromOpenClBuffer(api_, rayMem_);
    hits_ = RadeonRays::CreateFromOpenClBuffer(api_, hitMem_);
    options.countRoutes = true;
    counting_ = RadeonRays::detail::CreateWithOptions(context_, device_, queue_, options);
    countingRays_ = RadeonRays::CreateFromOpenClBuffer(counting_, rayMem_);
    countingHits_ = RadeonRays::CreateFromOpenClBuffer(counting_, hitMem_);
}

RrRunner::~RrRunner()
{
    counting_->DeleteBuffer(countingRays_);
    counting_->DeleteBuffer(countingHits_);
    RadeonRays::IntersectionApi::Delete(counting_);
    api_->DeleteBuffer(rays_);
    api_->DeleteBuffer(hits_);
    RadeonRays::IntersectionApi::Delete(api_);
    clReleaseMemObject(rayMem_);
    clReleaseMemObject(hitMem_);
    clReleaseCommandQueue(queue_);
    clReleaseContext(context_);
}

namespace
{

// Replaces the service's shapes with the mesh: one shape, or one per object, all with id 1.
void ReplaceShapes(RadeonRays::IntersectionApi* api, std::vector<RadeonRays::Shape*>& shapes,
                   const TriangleMesh& mesh)
{
    for (RadeonRays::Shape* old : shapes)
        api->DeleteShape(old);
    shapes.clear();
    const std::vector<int> first = mesh.ObjectBounds();
    for (std::size_t o = 0; o + 1 < first.size(); ++o)
    {
        // The object's own vertices only: its indices rebased onto the lowest it uses.
        const auto begin = mesh.indices.begin() + 3 * static_cast<std::ptrdiff_t>(first[o]);
        const auto end = mesh.indices.begin() + 3 * static_cast<std::ptrdiff_t>(first[o + 1]);
        const auto [lo, hi] = std::minmax_element(begin, end);
        std::vector<int> indices(begin, end);
        for (int& i : indices)
            i -= *lo;
        RadeonRays::Shape* shape =
            api->CreateMesh(mesh.vertices.data() + 3 * static_cast<std::size_t>(*lo), *hi - *lo + 1,
                            12, indices.data(), 0, nullptr, first[o + 1] - first[o]);
        api->AttachShape(shape);
        shape->SetId(1);
        shapes.push_back(shape);
    }
}

} // namespace

double RrRunner::Commit(const TriangleMesh& mesh)
{
    ReplaceShapes(counting_, countingShapes_, mesh);
    counting_->Commit();
    ReplaceShapes(api_, shapes_, mesh);
    const double start = Now();
    api_->Commit();
    return Now() - start;
}

std::size_t RrRunner::SceneBytes() const
{
    return RadeonRays::detail::SceneDeviceBytes(api_);
}

void RrRunner::UploadRays(const std::vector<RadeonRays::ray>& rays)
{
    Check(clEnqueueWriteBuffer(queue_, rayMem_, CL_TRUE, 0, rays.size() * sizeof(RadeonRays::ray),
                               rays.data(), 0, nullptr, nullptr),
          "clEnqueueWriteBuffer");
}

double RrRunner::Query(int numrays)
{
    const double start = Now();
    RadeonRays::Event* event = nullptr;
    api_->QueryOcclusion(rays_, numrays, hits_, nullptr, &event);
    event->Wait();
    api_->DeleteEvent(event);
    return Now() - start;
}

std::string RrRunner::Routes(int numrays)
{
    RadeonRays::Event* event = nullptr;
    counting_->QueryOcclusion(countingRays_, numrays, countingHits_, nullptr, &event);
    event->Wait();
    counting_->DeleteEvent(event);
    const RadeonRays::detail::RouteCounts p = RadeonRays::detail::TakeRouteCounts(counting_);
    const double total = std::max(1.0, double(p.packet + p.single));
    std::string text;
    const std::pair<const char*, long long> parts[] = {{"packet", p.packet}, {"single", p.single}};
    for (const auto& [name, count] : parts)
    {
        if (count == 0)
            continue;
        char share[48];
        const double percent = 100.0 * count / total;
        if (percent < 0.5)
            std::snprintf(share, sizeof(share), "%s%s <1%%", text.empty() ? "" : ", ", name);
        else
            std::snprintf(share, sizeof(share), "%s%s %.0f%%", text.empty() ? "" : ", ", name,
                          percent);
        text += share;
    }
    return text.empty() ? "none" : text;
}

std::vector<char> RrRunner::Occluded(int numrays)
{
    std::vector<RadeonRays::Intersection> hits(numrays);
    Check(clEnqueueReadBuffer(queue_, hitMem_, CL_TRUE, 0, hits.size() * sizeof(hits[0]),
                              hits.data(), 0, nullptr, nullptr),
          "clEnqueueReadBuffer");
    std::vector<char> occluded(numrays);
    for (int i = 0; i < numrays; ++i)
        occluded[i] = hits[i].shapeid != -1;
    return occluded;
}

} // namespace rrbench
