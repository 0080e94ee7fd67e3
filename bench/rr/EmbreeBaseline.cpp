#include "EmbreeBaseline.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <limits>
#include <thread>

namespace rrbench
{
namespace
{

double Now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Runs work(begin, end) over [0, n) in chunks on one thread per core.
void Parallel(std::size_t n, std::size_t chunk,
              const std::function<void(std::size_t, std::size_t)>& work)
{
    std::atomic<std::size_t> next{0};
    auto body = [&]
    {
        for (std::size_t b; (b = next.fetch_add(chunk)) < n;)
            work(b, std::min(n, b + chunk));
    };
    std::vector<std::thread> threads;
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    for (unsigned i = 1; i < cores; ++i)
        threads.emplace_back(body);
    body();
    for (auto& t : threads)
        t.join();
}

} // namespace

namespace
{

// Keeps the running total of the bytes Embree's device holds.
bool CountBytes(void* total, ssize_t bytes, bool /*post*/)
{
    static_cast<std::atomic<long long>*>(total)->fetch_add(bytes);
    return true;
}

} // namespace

EmbreeBaseline::EmbreeBaseline(const TriangleMesh& mesh)
{
    device_ = rtcNewDevice(nullptr);
    rtcSetDeviceMemoryMonitorFunction(device_, CountBytes, &bytes_);
    scene_ = rtcNewScene(device_);
    const std::vector<int> first = mesh.ObjectBounds();
    // One geometry per object, sharing the mesh's vertices (as our library's shapes do not:
    // they copy theirs, so Embree is given its own copy too).
    for (std::size_t o = 0; o + 1 < first.size(); ++o)
    {
        const auto begin = mesh.indices.begin() + 3 * static_cast<std::ptrdiff_t>(first[o]);
        const auto end = mesh.indices.begin() + 3 * static_cast<std::ptrdiff_t>(first[o + 1]);
        const auto [lo, hi] = std::minmax_element(begin, end);
        const std::size_t vnum = static_cast<std::size_t>(*hi - *lo + 1);
        RTCGeometry geom = rtcNewGeometry(device_, RTC_GEOMETRY_TYPE_TRIANGLE);
        auto* v = static_cast<float*>(rtcSetNewGeometryBuffer(
            geom, RTC_BUFFER_TYPE_VERTEX, 0, RTC_FORMAT_FLOAT3, 3 * sizeof(float), vnum));
        std::memcpy(v, mesh.vertices.data() + 3 * static_cast<std::size_t>(*lo),
                    3 * vnum * sizeof(float));
        auto* idx = static_cast<unsigned*>(
            rtcSetNewGeometryBuffer(geom, RTC_BUFFER_TYPE_INDEX, 0, RTC_FORMAT_UINT3,
                                    3 * sizeof(unsigned), (end - begin) / 3));
        for (auto i = begin; i != end; ++i)
            idx[i - begin] = static_cast<unsigned>(*i - *lo);
        rtcCommitGeometry(geom);
        rtcAttachGeometry(scene_, geom);
        rtcReleaseGeometry(geom);
    }
    const long long before = bytes_.load();
    const double start = Now();
    rtcCommitScene(scene_);
    buildSeconds_ = Now() - start;
    sceneBytes_ = bytes_.load() - before;
}

EmbreeBaseline::~EmbreeBaseline()
{
    rtcReleaseScene(scene_);
    rtcReleaseDevice(device_);
}

double EmbreeBaseline::Occluded1(const std::vector<RadeonRays::ray>& rays,
                                 std::vector<char>& occluded, bool coherent) const
{
    occluded.assign(rays.size(), 0);
    const double start = Now();
    Parallel(rays.size(), 4096,
             [&](std::size_t b, std::size_t e)
             {
                 RTCIntersectContext context;
                 rtcInitIntersectContext(&context);
                 context.flags = coherent ? RTC_INTERSECT_CONTEXT_FLAG_COHERENT
                                          : RTC_INTERSECT_CONTEXT_FLAG_INCOHERENT;
                 for (std::size_t i = b; i < e; ++i)
                 {
                     const RadeonRays::ray& s = rays[i];
                     RTCRay r{};
                     r.org_x = s.o[0];
                     r.org_y = s.o[1];
                     r.org_z = s.o[2];
                     r.dir_x = s.d[0];
                     r.dir_y = s.d[1];
                     r.dir_z = s.d[2];
                     r.tnear = 0.0f;
                     r.tfar = s.maxt;
                     r.mask = ~0u;
                     rtcOccluded1(scene_, &context, &r);
                     occluded[i] = r.tfar < 0.0f;
                 }
             });
    return Now() - start;
}

double EmbreeBaseline::Occluded16(const std::vector<RadeonRays::ray>& rays,
                                  std::vector<char>& occluded, bool coherent) const
{
    occluded.assign(rays.size(), 0);
    const double start = Now();
    Parallel(rays.size(), 4096,
             [&](std::size_t b, std::size_t e)
             {
                 RTCIntersectContext context;
                 rtcInitIntersectContext(&context);
                 context.flags = coherent ? RTC_INTERSECT_CONTEXT_FLAG_COHERENT
                                          : RTC_INTERSECT_CONTEXT_FLAG_INCOHERENT;
                 for (std::size_t p = b; p < e; p += 16)
                 {
                     alignas(64) RTCRay16 r;
                     alignas(64) int valid[16];
                     for (int k = 0; k < 16; ++k)
                     {
                         const std::size_t i = p + k;
                         valid[k] = i < e ? -1 : 0;
                         const RadeonRays::ray& s = rays[std::min(i, e - 1)];
                         r.org_x[k] = s.o[0];
                         r.org_y[k] = s.o[1];
                         r.org_z[k] = s.o[2];
                         r.dir_x[k] = s.d[0];
                         r.dir_y[k] = s.d[1];
                         r.dir_z[k] = s.d[2];
                         r.tnear[k] = 0.0f;
                         r.tfar[k] = s.maxt;
                         r.time[k] = 0.0f;
                         r.mask[k] = ~0u;
                         r.id[k] = 0;
                         r.flags[k] = 0;
                     }
                     rtcOccluded16(valid, scene_, &context, &r);
                     for (int k = 0; k < 16 && p + k < e; ++k)
                         occluded[p + k] = r.tfar[k] < 0.0f;
                 }
             });
    return Now() - start;
}

} // namespace rrbench
