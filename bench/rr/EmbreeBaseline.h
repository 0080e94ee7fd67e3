// Embree 3 as the yardstick: the same scene and rays through rtcOccluded1 and rtcOccluded16,
// on every core.
#pragma once

#include "BenchScenes.h"

#include <embree3/rtcore.h>

#include <atomic>
#include <vector>

namespace rrbench
{

class EmbreeBaseline
{
public:
    explicit EmbreeBaseline(const TriangleMesh& mesh);
    ~EmbreeBaseline();
    EmbreeBaseline(const EmbreeBaseline&) = delete;
    EmbreeBaseline& operator=(const EmbreeBaseline&) = delete;

    // Seconds rtcCommitScene took.
    double BuildSeconds() const { return buildSeconds_; }
    // Bytes Embree's device holds for the scene: all of it, and what rtcCommitScene added
    // (the hierarchy, without the geometries' vertex and index buffers).
    long long DeviceBytes() const { return bytes_.load(); }
    long long SceneBytes() const { return sceneBytes_; }
    // Answers every ray (1: occluded) with single-ray or 16-ray packet queries over all cores;
    // returns the seconds taken.
    double Occluded1(const std::vector<RadeonRays::ray>& rays, std::vector<char>& occluded,
                     bool coherent) const;
    double Occluded16(const std::vector<RadeonRays::ray>& rays, std::vector<char>& occluded,
                      bool coherent) const;

private:
    RTCDevice device_;
    RTCScene scene_;
    double buildSeconds_ = 0;
    std::atomic<long long> bytes_{0};
    long long sceneBytes_ = 0;
};

} // namespace rrbench
