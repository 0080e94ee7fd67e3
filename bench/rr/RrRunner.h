// The library under test on an OpenCL device of this machine, fed the benchmark's rays.
#pragma once

#include "BenchScenes.h"
#include "rr/radeon_rays.h"

#include <string>
#include <vector>

namespace rrbench
{

class RrRunner
{
public:
    // preferGpu: a GPU device when there is one, else the first device found. perRay: run the
    // one-ray-per-work-item kernel whatever the device (the GPU kernel, measured on a CPU).
    RrRunner(bool preferGpu, bool perRay, std::size_t capacity);
    ~RrRunner();
    RrRunner(const RrRunner&) = delete;
    RrRunner& operator=(const RrRunner&) = delete;

    std::string DeviceName() const { return deviceName_; }
    // Replaces the scene (one shape, or one per object of the mesh); returns the seconds Commit
    // took.
    double Commit(const TriangleMesh& mesh);
    // Bytes of device memory the committed scene occupies.
    std::size_t SceneBytes() const;
    void UploadRays(const std::vector<RadeonRays::ray>& rays);
    // One query of the uploaded rays, waited for; returns its seconds.
    double Query(int numrays);
    std::vector<char> Occluded(int numrays);
    // The shares of the uploaded rays each route through the library's kernels answers, e.g.
    // "packet 91%, single 9%", counted by a service like the measured one but made to count
    // (one query of its own; the hit buffer then holds its answers, the same as the measured
    // service's).
    std::string Routes(int numrays);

private:
    cl_device_id device_ = nullptr;
    cl_context context_ = nullptr;
    cl_command_queue queue_ = nullptr;
    cl_mem rayMem_ = nullptr;
    cl_mem hitMem_ = nullptr;
    RadeonRays::IntersectionApi* api_ = nullptr;
    RadeonRays::Buffer* rays_ = nullptr;
    RadeonRays::Buffer* hits_ = nullptr;
    std::vector<RadeonRays::Shape*> shapes_;
    RadeonRays::IntersectionApi* counting_ = nullptr;
    RadeonRays::Buffer* countingRays_ = nullptr;
    RadeonRays::Buffer* countingHits_ = nullptr;
    std::vector<RadeonRays::Shape*> countingShapes_;
    std::string deviceName_;
};

} // namespace rrbench
