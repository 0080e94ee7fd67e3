// Embree 3 as the yardstick: the same scene and rays through rtcOccluded1 and rtcOccluded16,
// on every core.
#pragma once

#include "BenchScenes.h"

#include <embree3/rtcore.h>

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

    double BuildSeconds() const { return buildSeconds_; }
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
};

} // namespace rrbench
