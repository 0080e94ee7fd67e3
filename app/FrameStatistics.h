#pragma once
// What a frame costs, stage by stage: the samples of many frames and their medians,
// written the same way by --frames, the overlay and the frame benchmark.
#include <string>
#include <vector>

// Seconds of one frame's stages.
struct FrameSample
{
    double rayGeneration = 0;
    double occlusion = 0;
    double shadowWrite = 0;
    double transfer = 0;
    double raster = 0;
    double frame = 0;
};

class FrameStatistics
{
public:
    void Add(const FrameSample& sample) { m_samples.push_back(sample); }
    void Clear() { m_samples.clear(); }
    size_t Count() const { return m_samples.size(); }
    // Each stage's median on its own (the middle sample, the upper one of an even
    // count); all zero without samples.
    FrameSample Medians() const;

private:
    std::vector<FrameSample> m_samples;
};

// One line per stage, "  ray generation     1.23 ms", with rays per second where the
// stage handles every ray: ray generation, occlusion and the whole frame.
std::vector<std::string> DescribeStages(const FrameSample& medians, double raysPerFrame);
