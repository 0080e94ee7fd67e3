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

EmbreeBaseline::EmbreeBaseline(const TriangleMesh& mesh)
{
    device_ = rtcNewDevice(nullptr);
    const double start = Now();
    scene_ = rtcNewScene(device_);
    RTCGeometry geom = rtcNewGeometry(device_, RTC_GEOMETRY_TYPE_TRIANGLE);
    auto* v = static_cast<float*>(rtcSetNewGeometryBuffer(geom, RTC_BUFFER_TYPE_VERTEX, 0,
                                                          RTC_FORMAT_FLOAT3, 3 * sizeof(float),
                                                          mesh.vertices.size() / 3));
    std::memcpy(v, mesh.vertices.data(), mesh.vertices.size() * sizeof(float));
    auto* idx = static_cast<unsigned*>(
        rtcSetNewGeometryBuffer(geom, RTC_BUFFER_TYPE_INDEX, 0, RTC_FORMAT_UINT3,
                                3 * sizeof(unsigned), mesh.indices.size() / 3));
    std::memcpy(idx, mesh.indices.data(), mesh.indices.size() * sizeof(int));
    rtcCommitGeometry(geom);
    rtcAttachGeometry(scene_, geom);
    rtcReleaseGeometry(geom);
    rtcCommitScene(scene_);
    buildSeconds_ = Now() - start;
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
